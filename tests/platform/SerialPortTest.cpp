#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

#include "platform/SerialPort.h"
#include "tests/support/Pty.h"

using namespace korvane::platform;

using korvane::test::Pty;

TEST(SerialPort, OpensRawExclusiveAndTakesOddSpeeds) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    auto port = MakePosixSerialPort();
    ASSERT_TRUE(port->Open(pty.slave)) << port->LastError();
    for (int baud : {10400, 38400, 57600, 19200}) {
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
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - t0)
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
