#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/PortList.h"
#include "platform/SerialPort.h"

using namespace korvane::platform;
namespace fs = std::filesystem;

namespace {

// A folder of its own under the system's temporary folder, gone afterwards.
struct TempTree {
    fs::path root;
    TempTree() {
        static int n = 0;
        root = fs::temp_directory_path() /
               ("korvane_ports_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    ~TempTree() { fs::remove_all(root); }
    PortRoots Roots() const { return {(root / "dev").string(), (root / "sys").string()}; }
};

}  // namespace

TEST(PortNames, PickListRule) {
    struct {
        const char* name;
        bool listed;
    } cases[] = {{"COM1", true},     {"com3", true},  {"COM99", true},        {"COM100", false},
                 {"CO", false},      {"LPT1", false}, {"/dev/ttyUSB0", true}, {"/", false},
                 {"ttyUSB0", false}, {"", false}};
    for (const auto& c : cases) EXPECT_EQ(IsListablePortName(c.name), c.listed) << c.name;
}

TEST(PortNames, DevicePaths) {
    // A COMn whose number names no device fails to open, never throws.
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"com3", "/dev/ttyS2"},
        {"COM12", "/dev/ttyS11"},
        {"COM0", "/dev/COM0"},    // no COM0 on the old system either
        {"COM1a", "/dev/COM1a"},  // not a COM number
        {"/tmp/ecu", "/tmp/ecu"},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"COM4294967296", "/dev/ttyS4294967295"},
        {"COM99999999999", "/dev/ttyS99999999998"},
        {"COM99999999999999999999999", ""},
        {"COM-1", "/dev/COM-1"},
        {"", ""},
    };
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

namespace {

struct SysTty {
    const char* name;
    int uartType;        // the "type" file of a legacy port; -1: none
    bool device = true;  // a device behind it (a virtual console has none)
};

struct ListCase {
    const char* name;
    std::vector<const char*> devFiles;
    std::vector<std::pair<const char*, const char*>> byId;  // link -> target, as udev writes it
    std::vector<SysTty> sys;
    std::vector<const char*> expected;  // under the fake dev folder
    size_t problems = 0;
};
void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

class PortListing : public ::testing::TestWithParam<ListCase> {};

const char kFtdi[] = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
const char kCh340[] = "usb-1a86_USB_Serial-if00-port0";

}  // namespace

TEST_P(PortListing, StableNamesFirstThenDevicesByKind) {
    const ListCase& c = GetParam();
    TempTree tree;
    const fs::path dev = tree.root / "dev", sys = tree.root / "sys";
    fs::create_directories(dev / "serial" / "by-id");
    fs::create_directories(sys);
    for (const char* f : c.devFiles) std::ofstream(dev / f) << "";
    for (const auto& [link, target] : c.byId)
        fs::create_symlink(target, dev / "serial/by-id" / link);
    for (const auto& t : c.sys) {
        fs::create_directories(sys / t.name);
        if (t.device) fs::create_directories(sys / t.name / "device");
        if (t.uartType >= 0) std::ofstream(sys / t.name / "type") << t.uartType << "\n";
    }

    const auto r = ListSerialPorts({}, tree.Roots());
    EXPECT_TRUE(r.ok);
    std::vector<std::string> expected;
    for (const char* e : c.expected) expected.push_back((dev / e).string());
    EXPECT_EQ(r.names, expected);
    ASSERT_EQ(r.problems.size(), c.problems);
    for (const auto& p : r.problems)
        EXPECT_NE(p.find((dev / "ttyUSB7").string()), std::string::npos) << p;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, PortListing,
    ::testing::Values(ListCase{"Nothing", {}, {}, {}, {}},
                      ListCase{"ByIdLinksFirstThenTheirDevices",
                               {"ttyUSB0", "ttyUSB1"},
                               {{kFtdi, "../../ttyUSB0"}, {kCh340, "../../ttyUSB1"}},
                               {{"ttyUSB0", -1}, {"ttyUSB1", -1}},
                               {"serial/by-id/usb-1a86_USB_Serial-if00-port0",
                                "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                                "ttyUSB0", "ttyUSB1"}},
                      ListCase{"LinkToAGoneAdapterIsSaidAndNotOffered",
                               {"ttyUSB0"},
                               {{kFtdi, "../../ttyUSB7"}},
                               {{"ttyUSB0", -1}},
                               {"ttyUSB0"},
                               1},
                      ListCase{"UsbThenAcmThenOthersThenUartsInNaturalOrder",
                               {"ttyS0", "ttyACM0", "ttyUSB10", "ttyUSB2", "ttyAMA0", "ttyS10"},
                               {},
                               {{"ttyS10", 4},
                                {"ttyS0", 4},
                                {"ttyACM0", -1},
                                {"ttyUSB10", -1},
                                {"ttyUSB2", -1},
                                {"ttyAMA0", -1}},
                               {"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyAMA0", "ttyS0", "ttyS10"}},
                      ListCase{"LegacyPortWithoutUartIsLeftOut",
                               {"ttyS0", "ttyS1", "ttyS2"},
                               {},
                               {{"ttyS0", 0}, {"ttyS1", 4}, {"ttyS2", -1}},
                               {"ttyS1", "ttyS2"}},
                      ListCase{
                          "KernelDeviceWithoutDeviceFileIsLeftOut", {}, {}, {{"ttyUSB3", -1}}, {}},
                      ListCase{"VirtualConsoleIsNoPort", {"tty0"}, {}, {{"tty0", -1, false}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortList, ExistingExtraTtysFollowAndAMissingKernelListIsAnError) {
    TempTree tree;
    const fs::path dev = tree.root / "dev", sys = tree.root / "sys";
    fs::create_directories(sys / "ttyUSB0" / "device");
    fs::create_directories(dev);
    std::ofstream(dev / "ttyUSB0") << "";

    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const fs::path link = tree.root / "ecu";
    fs::create_symlink(name, link);

    // The simulator's link counts; a missing name, an empty one and a name
    // already listed do not come twice.
    auto r = ListSerialPorts(
        {link.string(), "/nonexistent/lc1", "", (dev / "ttyUSB0").string(), link.string()},
        tree.Roots());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.names, (std::vector<std::string>{(dev / "ttyUSB0").string(), link.string()}));

    auto missing = ListSerialPorts({}, {dev.string(), (tree.root / "absent").string()});
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.names.empty());
    ::close(master);
    ::close(slave);
}

TEST(PortList, MissingPortIsSaidWithWhatIsPresent) {
    TempTree tree;
    const fs::path present = tree.root / "ttyUSB0";
    std::ofstream(present) << "";
    const fs::path dangling = tree.root / "by-id-gone";
    fs::create_symlink("ttyUSB7", dangling);
    const std::string gone = (tree.root / "ttyUSB9").string();
    const std::vector<std::string> listed = {present.string(), "/dev/ttyS0"};

    EXPECT_EQ(MissingPortNote(present.string(), listed), std::nullopt);
    EXPECT_EQ(MissingPortNote(gone, listed),
              "Порт " + gone + " не найден. Есть порты: " + present.string() + ", /dev/ttyS0.");
    EXPECT_EQ(MissingPortNote(gone, {}),
              "Порт " + gone +
                  " не найден. Последовательных портов в системе нет: подключите "
                  "адаптер.");
    EXPECT_EQ(MissingPortNote(dangling.string(), {}),
              "Порт " + dangling.string() +
                  " не найден: ссылка указывает на отсутствующее устройство " +
                  (tree.root / "ttyUSB7").string() +
                  ". Последовательных портов в системе нет: подключите адаптер.");
    // An old name says which device it stands for.
    const auto com = MissingPortNote("COM120", {});
    ASSERT_TRUE(com.has_value());
    EXPECT_EQ(com->rfind("Порт COM120 не найден (/dev/ttyS119).", 0), 0u) << *com;
}

TEST(PortList, SameDeviceAfterResolvingLinks) {
    TempTree tree;
    const fs::path a = tree.root / "ttyUSB0", b = tree.root / "ttyUSB1";
    std::ofstream(a) << "";
    std::ofstream(b) << "";
    fs::create_directories(tree.root / "by-id");
    const fs::path linkA = tree.root / "by-id" / kFtdi;
    fs::create_symlink("../ttyUSB0", linkA);
    const fs::path gone = tree.root / "by-id" / "gone";
    fs::create_symlink("../ttyUSB7", gone);
    const struct {
        std::string first, second;
        bool same;
    } cases[] = {
        {a.string(), a.string(), true},
        {linkA.string(), a.string(), true},
        {linkA.string(), b.string(), false},
        {a.string(), b.string(), false},
        {"COM1", "/dev/ttyS0", true},
        {"COM1", "COM2", false},
        {gone.string(), gone.string(), true},
        {(tree.root / "x" / ".." / "ttyUSB1").string(), b.string(), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SameDevice(c.first, c.second), c.same) << c.first << " / " << c.second;
}
