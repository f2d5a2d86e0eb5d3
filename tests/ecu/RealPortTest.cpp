// The link over the real serial layer on pseudo-terminals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "EcuTestSupport.h"
#include "ecu/EcuLink.h"
#include "platform/Clock.h"
#include "tests/support/Pty.h"

using namespace korvane;
using namespace korvane::ecu;
using Lines = std::vector<std::string>;

namespace {

using korvane::test::Pty;

struct RealLink {
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    UiLog log{bridge, view};
    EcuLinkFields fields;
    EcuLink link{fields, log, [] { return platform::MakePosixSerialPort(); },
                 platform::SystemClock::Instance()};
};

}  // namespace

TEST(RealPort, PortsThatCannotBeOpenedGiveTheOpenErrorLine) {
    Pty held;
    ASSERT_FALSE(held.slave.empty());
    auto holder = platform::MakePosixSerialPort();
    ASSERT_TRUE(holder->Open(held.slave));

    // The line after the error says why, in words a user can act on.
    const struct {
        std::string name;
        int err;
    } cases[] = {{"/dev/korvane-no-such-port", ENOENT}, {"/dev/null", ENOTTY}, {held.slave, EBUSY}};
    for (const auto& c : cases) {
        RealLink r;
        r.fields.PortName = c.name;
        EXPECT_FALSE(r.link.OpenPort()) << c.name;
        EXPECT_EQ(r.view.Lines(), (Lines{c.name + ": >> Открытие порта...",
                                         "ОШИБКА: Не удаётся открыть порт " + c.name + " !",
                                         platform::PortOpenReason(c.err)}));
        EXPECT_EQ(r.fields.IsComConnected, 0);
    }
}

TEST(RealPort, OpenReasonsNameTheCommonCauses) {
    const struct {
        int err;
        const char* words;
    } cases[] = {{ENOENT, "не найдено"},
                 {ENODEV, "не найдено"},
                 {EACCES, "\"dialout\""},
                 {EPERM, "нет прав"},
                 {EBUSY, "занят другой программой"},
                 {ENOTTY, "не является последовательным"},
                 {EIO, "ошибка ввода-вывода"}};
    for (const auto& c : cases)
        EXPECT_NE(platform::PortOpenReason(c.err).find(c.words), std::string::npos) << c.err;
}

TEST(RealPort, OpensAt10400AndSwitchesTheLine) {
    Pty pty;
    RealLink r;
    r.fields.PortName = pty.slave;
    r.fields.PortSpeed = "57600";
    ASSERT_TRUE(r.link.OpenPort());
    EXPECT_EQ(platform::LineSpeedOf(pty.master), 10400);
    EXPECT_TRUE(r.link.SetLineSpeed(57600));
    EXPECT_EQ(platform::LineSpeedOf(pty.master), 57600);
    r.link.ClosePort();
    EXPECT_EQ(r.fields.IsComConnected, 0);
    EXPECT_EQ(r.view.Lines().back(), pty.slave + ": >> Закрытие порта...");
}

TEST(RealPort, ExchangeOverAPseudoTerminal) {
    Pty pty;
    RealLink r;
    r.fields.PortName = pty.slave;
    r.fields.PortTimeOut = 0;
    r.fields.PortReadTimeOut = 300;
    ASSERT_TRUE(r.link.OpenPort());
    // Bytes there before the request belong to no answer of it.
    const Bytes stale = ecu::test::H("81 F1 10 7F 3E");
    ASSERT_EQ(::write(pty.master, stale.data(), stale.size()), static_cast<ssize_t>(stale.size()));
    // The far end echoes the request and answers within the read-back pause.
    Bytes sent;
    std::thread far([&] {
        uint8_t buf[16];
        while (sent.size() < 6) {
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n <= 0) return;
            sent.insert(sent.end(), buf, buf + n);
        }
        const Bytes echoAndAnswer = ecu::test::H("82 10 F1 3E 01 C2 81 F1 10 7E 00");
        [[maybe_unused]] const ssize_t w =
            ::write(pty.master, echoAndAnswer.data(), echoAndAnswer.size());
    });
    EXPECT_TRUE(r.link.SendRequest({0x3E, 0x01}));
    far.join();
    EXPECT_EQ(sent, ecu::test::H("82 10 F1 3E 01 C2"));
    EXPECT_EQ(r.link.LastAnswer(), ecu::test::H("7E"));
}
