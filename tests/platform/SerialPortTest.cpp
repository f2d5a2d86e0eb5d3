#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/SerialPort.h"
#include "tests/support/Pty.h"

using namespace korvane::platform;

using korvane::test::Pty;

TEST(SerialPort, OpensRawExclusiveAndTakesOddSpeeds) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    auto port = MakePosixSerialPort();
    ASSERT_TRUE(port->Open(pty.slave)) << port->LastError();
    // 360 baud: the fast-init wake-up byte.
    for (int baud : {10400, 38400, 57600, 19200, 360}) {
        ASSERT_TRUE(port->SetSpeed(baud));
        EXPECT_EQ(pty.SlaveSpeed(), baud);
    }
    auto second = MakePosixSerialPort();
    EXPECT_FALSE(second->Open(pty.slave));
    EXPECT_FALSE(second->LastError().empty());

    // Raw: CR and LF and 0xFF pass untouched both ways.
    for (uint8_t b : {0x0D, 0x0A, 0xFF, 0x00}) ASSERT_TRUE(port->WriteByte(b));
    uint8_t got[8] = {};
    ssize_t n = 0;
    for (int i = 0; i < 100 && n < 4; ++i) {
        ssize_t r = ::read(pty.master, got + n, sizeof got - static_cast<size_t>(n));
        if (r > 0) n += r;
    }
    ASSERT_EQ(n, 4);
    EXPECT_EQ(got[0], 0x0D);
    EXPECT_EQ(got[1], 0x0A);
    EXPECT_EQ(got[2], 0xFF);

    const uint8_t in[] = {0x0D, 0x0A, 0x03, 0x7F};
    ASSERT_EQ(::write(pty.master, in, sizeof in), 4);
    ::usleep(20000);
    EXPECT_EQ(port->BytesWaiting(), 4);
    uint8_t buf[8];
    EXPECT_EQ(port->ReadNow(buf, 2), 2);
    EXPECT_EQ(port->ReadNow(buf + 2, 8), 2);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), std::vector<uint8_t>(in, in + 4));
    EXPECT_EQ(port->ReadNow(buf, 8), 0);
    // A pseudo-terminal has no latency to lower: nothing to say.
    EXPECT_EQ(port->OpenNote(), "");
    EXPECT_TRUE(port->Close());
    EXPECT_TRUE(second->Open(pty.slave));
}

TEST(SerialPort, ReadByteWaitsAtMostItsTimeOut) {
    Pty pty;
    auto port = MakePosixSerialPort();
    ASSERT_TRUE(port->Open(pty.slave));
    uint8_t b = 0;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port->ReadByte(b, 100), 0);
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_GE(ms, 95);
    EXPECT_LT(ms, 400);
    const uint8_t x = 0xB2;
    ASSERT_EQ(::write(pty.master, &x, 1), 1);
    EXPECT_EQ(port->ReadByte(b, 100), 1);
    EXPECT_EQ(b, 0xB2);
}

TEST(SerialPort, OpenFailures) {
    auto port = MakePosixSerialPort();
    EXPECT_FALSE(port->Open("/nonexistent/ttyX"));
    EXPECT_FALSE(port->Open("/etc/hostname"));  // not a tty
    EXPECT_FALSE(port->IsOpen());
    EXPECT_FALSE(port->WriteByte(1));
    EXPECT_EQ(port->BytesWaiting(), -1);
}

TEST(SerialPort, LatencyTimerIsReadWhereTheAdapterHasOne) {
    namespace fs = std::filesystem;
    const fs::path sys =
        fs::temp_directory_path() / ("korvane_latency_" + std::to_string(::getpid()));
    fs::remove_all(sys);
    // ttyUSB0: an FTDI port with its timer; ttyUSB1: the timer one level
    // up; ttyUSB2: a chip without one; ttyUSB3: a file that is no number.
    fs::create_directories(sys / "ttyUSB0" / "device");
    std::ofstream(sys / "ttyUSB0" / "device" / "latency_timer") << "16\n";
    fs::create_directories(sys / "usb1" / "port");
    std::ofstream(sys / "usb1" / "latency_timer") << "1\n";
    fs::create_directories(sys / "ttyUSB1");
    fs::create_directory_symlink(sys / "usb1" / "port", sys / "ttyUSB1" / "device");
    fs::create_directories(sys / "ttyUSB2" / "device");
    fs::create_directories(sys / "ttyUSB3" / "device");
    std::ofstream(sys / "ttyUSB3" / "device" / "latency_timer") << "fast\n";
    const struct {
        const char* tty;
        std::optional<int> ms;
    } cases[] = {{"ttyUSB0", 16},
                 {"ttyUSB1", 1},
                 {"ttyUSB2", std::nullopt},
                 {"ttyUSB3", std::nullopt},
                 {"ttyUSB9", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(ReadLatencyTimer(c.tty, sys.string()), c.ms) << c.tty;
    fs::remove_all(sys);
}

TEST(SerialPort, LatencyNoteOnlyWhenTheAdapterStaysSlowOrRefused) {
    const struct {
        std::optional<int> ms;
        const char* refusal;
        const char* note;  // "" = none
    } cases[] = {
        {1, "", ""},
        {2, "", ""},
        {std::nullopt, "", ""},
        {16, "Операция не позволена",
         "Порт /dev/serial/by-id/x: адаптер задерживает принятые байты на 16 мс, драйвер не "
         "принял запрос низкой задержки (Операция не позволена), обмен с ECU будет медленнее. "
         "Исправить навсегда: правило udev contrib/99-korvane-usb-serial.rules (см. README); до "
         "отключения адаптера: echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/"
         "latency_timer"},
        {3, "",
         "Порт /dev/serial/by-id/x: адаптер задерживает принятые байты на 3 мс, обмен с ECU будет "
         "медленнее. Исправить навсегда: правило udev contrib/99-korvane-usb-serial.rules (см. "
         "README); до отключения адаптера: echo 1 | sudo tee "
         "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"},
        {std::nullopt, "Неприменимый к данному устройству ioctl",
         "Порт /dev/serial/by-id/x: драйвер не принял запрос низкой задержки (Неприменимый к "
         "данному устройству ioctl)."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LatencyNote("/dev/serial/by-id/x", "ttyUSB0", c.ms, c.refusal), c.note)
            << c.ms.value_or(-1) << " " << c.refusal;
}
