// The link over the real serial layer on pseudo-terminals.
#include <gtest/gtest.h>
#include <unistd.h>

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

    for (const std::string& name :
         {std::string("/dev/korvane-no-such-port"), std::string("/dev/null"), held.slave}) {
        RealLink r;
        r.fields.PortName = name;
        EXPECT_FALSE(r.link.OpenPort()) << name;
        EXPECT_EQ(r.view.Lines(), (Lines{name + ": >> Открытие порта...",
                                         "ОШИБКА: Не удаётся открыть порт " + name + " !"}));
        EXPECT_EQ(r.fields.IsComConnected, 0);
    }
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
    r.fields.PortReadTimeOut = 30;
    ASSERT_TRUE(r.link.OpenPort());
    // The far end has echoed and answered before the read-back pause ends.
    const Bytes echoAndAnswer = ecu::test::H("82 10 F1 3E 01 C2 81 F1 10 7E 00");
    ASSERT_EQ(::write(pty.master, echoAndAnswer.data(), echoAndAnswer.size()),
              static_cast<ssize_t>(echoAndAnswer.size()));
    EXPECT_TRUE(r.link.SendRequest({0x3E, 0x01}));
    uint8_t sent[16] = {};
    EXPECT_EQ(::read(pty.master, sent, sizeof sent), 6);
    EXPECT_EQ(Bytes(sent, sent + 6), ecu::test::H("82 10 F1 3E 01 C2"));
}
