#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/PortList.h"
#include "platform/SerialPort.h"

using namespace korvane::platform;
namespace fs = std::filesystem;

TEST(PortNames, PickListRule) {
    struct {
        const char* name;
        bool listed;
    } cases[] = {{"COM1", true},   {"com3", true},       {"COM99", true},  {"COM100", false},
                 {"CO", false},    {"LPT1", false},      {"/dev/ttyUSB0", true},
                 {"/", false},     {"ttyUSB0", false},   {"", false}};
    for (const auto& c : cases) EXPECT_EQ(IsListablePortName(c.name), c.listed) << c.name;
}

TEST(PortNames, DevicePaths) {
    // A COMn whose number names no device maps to "" (nothing to open), never
    // to an exception.
    struct {
        const char* name;
        const char* path;
    } cases[] = {{"COM1", "/dev/ttyS0"},
                 {"com3", "/dev/ttyS2"},
                 {"/tmp/ecu", "/tmp/ecu"},
                 {"ttyUSB0", "/dev/ttyUSB0"},
                 {"COM4294967296", "/dev/ttyS4294967295"},
                 {"COM99999999999", "/dev/ttyS99999999998"},
                 {"COM99999999999999999999999", ""},
                 {"COM0", ""},
                 {"COM000", ""},
                 {"COM-1", "/dev/COM-1"},
                 {"", ""}};
    for (const auto& c : cases) EXPECT_EQ(DevicePathForPortName(c.name), c.path) << c.name;
}

TEST(PortNames, ANameOfNoDeviceFailsToOpenWithAReason) {
    for (const char* name : {"COM99999999999999999999999", "COM99999999999", "COM0", ""}) {
        auto port = MakePosixSerialPort();
        EXPECT_FALSE(port->Open(name)) << name;
        EXPECT_FALSE(port->IsOpen()) << name;
        EXPECT_FALSE(port->LastError().empty()) << name;
    }
}

TEST(PortList, SysfsDevicesThenExistingExtraTtys) {
    const fs::path root = fs::temp_directory_path() / ("korvane_sys_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "ttyUSB0" / "device");
    fs::create_directories(root / "ttyS0" / "device");
    fs::create_directories(root / "ttyS1" / "device");
    fs::create_directories(root / "tty0");  // virtual console: no device behind it
    std::ofstream(root / "ttyS0" / "type") << "4\n";
    std::ofstream(root / "ttyS1" / "type") << "0\n";  // no UART there

    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const fs::path link = root / "ecu";
    fs::create_symlink(name, link);

    auto r = ListSerialPorts({link.string(), "/nonexistent/lc1", ""}, root.string());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.names, (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB0", link.string()}));

    auto missing = ListSerialPorts({}, (root / "absent").string());
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.names.empty());
    ::close(master);
    ::close(slave);
    fs::remove_all(root);
}
