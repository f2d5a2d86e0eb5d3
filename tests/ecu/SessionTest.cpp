#include <gtest/gtest.h>

#include <algorithm>

#include "EcuTestSupport.h"
#include "ecu/EcuLink.h"
#include "platform/fakes/FakeClock.h"
#include "platform/fakes/ForwardingSerialPort.h"

using namespace korvane;
using namespace korvane::ecu;
using ecu::test::H;
using Lines = std::vector<std::string>;

namespace {

struct SpeedCase {
    const char* speed;
    int baud;
    const char* sessionRequest;
};
void PrintTo(const SpeedCase& c, std::ostream* os) {
    *os << c.speed;
}

class Session : public ::testing::Test, protected ecu::test::FakeLinkRig {
  protected:
    void Prepare(const std::string& speed) {
        fields.PortName = "/dev/kline";
        fields.PortSpeed = speed;
        fields.PortTimeOut = 20;
        fields.PortReadTimeOut = 150;
        ASSERT_TRUE(link.OpenPort());
        view.Clear();
    }
    // An ECU that answers the start at 10400 and everything after the
    // switch only at the session speed, like a real one.
    void AnswerAt(int baud, const char* sessionRequest) {
        ecu.On(H("81 10 F1 81 03"), H("83 F1 10 C1 6B 8F 3F"), 10400);
        ecu.On(H(sessionRequest), H("82 F1 10 50 81 54"), 10400);
        ecu.On(H("82 10 F1 3E 01 C2"), H("81 F1 10 7E 00"), baud);
        ecu.On(H("84 10 F1 30 0F 06 01 CB"), H("84 F1 10 70 0F 06 01 0B"), baud);
        ecu.On(H("85 10 F1 23 00 F3 00 08 A4"), H("89 F1 10 63 00 00 00 00 00 00 00 00 ED"), baud);
        ecu.On(H("81 10 F1 20 A2"), H("81 F1 10 60 E2"), baud);
        ecu.On(H("81 10 F1 82 04"), H("81 F1 10 C2 44"), 10400);
    }
};

class SessionAtSpeed : public Session, public ::testing::WithParamInterface<SpeedCase> {};

}  // namespace

TEST_P(SessionAtSpeed, StartsSwitchesAndStopsBackAt10400) {
    const auto& c = GetParam();
    Prepare(c.speed);
    AnswerAt(c.baud, c.sessionRequest);

    ASSERT_TRUE(link.StartSession());
    EXPECT_EQ(view.Lines(),
              (Lines{"ECU: >> Starting Communication", "ECU: >> Starting Diagnostic Session",
                     "ECU: >> Sending \"Tester Present\"", "ECU: >> Switch to RAM"}));
    EXPECT_EQ(ecu.Frames(),
              (std::vector<Bytes>{H("81 10 F1 81 03"), H(c.sessionRequest), H("82 10 F1 3E 01 C2"),
                                  H("84 10 F1 30 0F 06 01 CB"), H("85 10 F1 23 00 F3 00 08 A4")}));
    EXPECT_EQ(ecu.Speeds(), (std::vector<int>{10400, 10400, c.baud, c.baud, c.baud}));
    EXPECT_EQ(port.Speed(), c.baud);
    // Five exchanges of 20 + 150 ms and the 200 ms after the first.
    EXPECT_EQ(clock.NowMs(), 5 * 170 + 200);
    EXPECT_EQ(fields.error, 0);

    view.Clear();
    fields.IsDiagnostic = 1;
    ASSERT_TRUE(link.StopSession());
    EXPECT_EQ(view.Lines(),
              (Lines{"ECU: >> Stop Diagnostic Session", "ECU: >> Stop Communication"}));
    EXPECT_EQ(ecu.Speeds().back(), 10400);
    EXPECT_EQ(port.Speed(), 10400);
    EXPECT_EQ(fields.IsDiagnostic, 0);
    EXPECT_EQ(fields.PortTimeOut, 100);
    EXPECT_EQ(fields.PortReadTimeOut, 100);
}

INSTANTIATE_TEST_SUITE_P(Speeds, SessionAtSpeed,
                         ::testing::Values(SpeedCase{"10400", 10400, "83 10 F1 10 81 0A 1F"},
                                           SpeedCase{"38400", 38400, "83 10 F1 10 81 26 3B"},
                                           SpeedCase{"57600", 57600, "83 10 F1 10 81 39 4E"}));

class BadSpeed : public Session, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadSpeed, ClosesThePort) {
    Prepare(GetParam());
    AnswerAt(38400, "83 10 F1 10 81 26 3B");
    EXPECT_FALSE(link.StartSession());
    EXPECT_EQ(view.Lines(),
              (Lines{"ECU: >> Starting Communication", "ECU: >> Starting Diagnostic Session",
                     "ERROR: >> Ошибка при выборе скорости порта!",
                     std::string("«Скорость ECU COM» = «") + GetParam() +
                         "»: возможны только 10400, 38400 и 57600.",
                     "/dev/kline: >> Закрытие порта..."}));
    EXPECT_EQ(fields.IsComConnected, 0);
    EXPECT_EQ(ecu.Frames().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Texts, BadSpeed, ::testing::Values("19200", "", " 38400", "57600.0"));

TEST_F(Session, SilentLineEndsAfterThePause) {
    Prepare("57600");
    ecu.echo = false;
    EXPECT_FALSE(link.StartSession());
    EXPECT_EQ(view.Lines(), (Lines{"ECU: >> Starting Communication",
                                   "ECU: >> Повтор запроса 0x81: попытка 2 из 3",
                                   "ECU: >> Повтор запроса 0x81: попытка 3 из 3",
                                   "ECU: << Ничего не пришло в ответ: адаптер K-line не подключён, "
                                   "выбран не тот порт или нет питания."}));
    EXPECT_EQ(clock.NowMs(), 3 * 170 + 200);
    EXPECT_EQ(port.Speed(), 10400);
    EXPECT_EQ(fields.IsComConnected, 1);
}

TEST_F(Session, RefusedSessionStartStillSwitchesAndGoesOn) {
    Prepare("38400");
    AnswerAt(38400, "83 10 F1 10 81 26 3B");
    ecu.On(H("83 10 F1 10 81 26 3B"), H("83 F1 10 7F 10 12 25"));
    EXPECT_TRUE(link.StartSession());
    const Lines lines = view.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2],
              "ECU: << ОШИБКА Неправильный ответ блока!\r\nЗапрос - 0x108126; Ответ - 0x7F1012; "
              "(0x5081)");
    EXPECT_EQ(lines[4], "ECU: >> Sending \"Tester Present\"");
    EXPECT_EQ(ecu.Speeds()[2], 38400);
}

TEST_F(Session, FailedStepStopsTheStart) {
    Prepare("38400");
    AnswerAt(38400, "83 10 F1 10 81 26 3B");
    ecu.On(H("84 10 F1 30 0F 06 01 CB"), H("83 F1 10 7F 30 11 44"));
    EXPECT_FALSE(link.StartSession());
    EXPECT_EQ(ecu.Frames().size(), 4u);  // the probe read is not sent
    EXPECT_EQ(view.Lines().back(), "Ошибка №1");
    EXPECT_EQ(port.Speed(), 38400);
    EXPECT_EQ(fields.IsComConnected, 1);
}

TEST_F(Session, WrongStopAnswerKeepsTheSessionSpeed) {
    Prepare("57600");
    AnswerAt(57600, "83 10 F1 10 81 39 4E");
    ASSERT_TRUE(link.StartSession());
    ecu.On(H("81 10 F1 20 A2"), H("83 F1 10 7F 20 11 34"));
    view.Clear();
    EXPECT_FALSE(link.StopSession());
    EXPECT_EQ(ecu.Frames().back(), H("81 10 F1 20 A2"));
    EXPECT_EQ(port.Speed(), 57600);
    EXPECT_EQ(view.Lines().front(), "ECU: >> Stop Diagnostic Session");
    EXPECT_EQ(view.Lines().back(), "Ошибка №1");
}

namespace {

struct InitCase {
    const char* name;
    bool fastInit;     // "Инициализация K-line=быстрая"
    bool needsWakeUp;  // the ECU answers the start only after the pattern
    bool starts;
    bool hint;  // the log suggests the fast init
};
void PrintTo(const InitCase& c, std::ostream* os) {
    *os << c.name;
}

class StartWithInit : public Session, public ::testing::WithParamInterface<InitCase> {};

const char kInitHint[] =
    "ECU: << ECU не ответил на StartCommunication. Если ему нужна быстрая инициализация, "
    "попробуйте \"Инициализация K-line=быстрая\".";

}  // namespace

TEST_P(StartWithInit, WakeUpPatternGoesBeforeTheStartWhenAskedFor) {
    const auto& c = GetParam();
    Prepare("38400");
    AnswerAt(38400, "83 10 F1 10 81 26 3B");
    fields.FastInit = c.fastInit ? 1 : 0;
    ecu.needsWakeUp = c.needsWakeUp;

    EXPECT_EQ(link.StartSession(), c.starts);
    const Lines lines = view.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), c.fastInit ? "ECU: >> Fast Init" : "ECU: >> Starting Communication");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kInitHint), c.hint ? 1 : 0);
    const auto wakeUps = ecu.WakeUps();
    if (!c.fastInit) {
        EXPECT_TRUE(wakeUps.empty());
        return;
    }
    // One zero byte at 360 baud; the start goes 50 ms after it began, at
    // 10400, without the 20 ms pause, and its echo is not mistaken for the
    // adapter's echo of the start.
    ASSERT_EQ(wakeUps.size(), 1u);
    EXPECT_EQ(wakeUps[0].byte, 0x00);
    EXPECT_EQ(wakeUps[0].baud, 360);
    EXPECT_EQ(wakeUps[0].at, 0);
    ASSERT_FALSE(ecu.Frames().empty());
    EXPECT_EQ(ecu.Frames()[0], H("81 10 F1 81 03"));
    EXPECT_EQ(ecu.Speeds()[0], 10400);
    EXPECT_EQ(ecu.Timings()[0].requestAt, 50);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StartWithInit,
    ::testing::Values(InitCase{"FastInitWakesAnEcuThatNeedsIt", true, true, true, false},
                      InitCase{"NoInitLeavesItSilentAndSaysWhatToTry", false, true, false, true},
                      InitCase{"FastInitDoesNoHarmToAnEcuWithout", true, false, true, false},
                      InitCase{"NoInitAsBefore", false, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Session, InitHintIsGivenOncePerConnect) {
    Prepare("38400");
    AnswerAt(38400, "83 10 F1 10 81 26 3B");
    ecu.needsWakeUp = true;
    EXPECT_FALSE(link.StartSession());
    EXPECT_FALSE(link.StartSession());
    Lines lines = view.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kInitHint), 1);
    link.ResetEchoHint();
    EXPECT_FALSE(link.StartSession());
    lines = view.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kInitHint), 2);
}
