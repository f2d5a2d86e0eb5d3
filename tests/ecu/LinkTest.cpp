#include <gtest/gtest.h>

#include "EcuTestSupport.h"
#include "ecu/EcuLink.h"
#include "platform/fakes/FakeClock.h"
#include "platform/fakes/ForwardingSerialPort.h"

using namespace korvane;
using namespace korvane::ecu;
using ecu::test::H;
using ecu::test::WithSum;
using Lines = std::vector<std::string>;

namespace {

class LinkTest : public ::testing::Test, protected ecu::test::FakeLinkRig {
  protected:
    LinkTest() {
        fields.PortName = "COM3";
        fields.PortSpeed = "38400";
        fields.PortTimeOut = 20;
        fields.PortReadTimeOut = 150;
    }
    void Open() {
        ASSERT_TRUE(link.OpenPort());
        view.Clear();
        port.ClearWritten();
    }
};

const std::string kWrong = "ECU: << ОШИБКА Неправильный ответ блока!\r\n";
const std::string kRam = "ECU: << ОШИБКА ЧТЕНИЯ RAM!\r\n";

}  // namespace

TEST_F(LinkTest, OpenLogsNameAndSettingButRunsAtTheKLineRate) {
    fields.PortSpeed = "57600";
    ASSERT_TRUE(link.OpenPort());
    EXPECT_EQ(view.Lines(),
              (Lines{"COM3: >> Открытие порта...", "COM3: >> скорость порта - 57600"}));
    EXPECT_EQ(port.OpenedName(), "COM3");
    EXPECT_EQ(port.Speed(), 10400);
    EXPECT_EQ(fields.IsComConnected, 1);

    // A second open does nothing at all.
    view.Clear();
    EXPECT_FALSE(link.OpenPort());
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(portsMade, 1);
}

TEST_F(LinkTest, OpenNoteOfThePortIsLoggedAndTheOpenGoesOn) {
    port.openNote = "Порт COM3: адаптер задерживает принятые байты на 16 мс";
    ASSERT_TRUE(link.OpenPort());
    EXPECT_EQ(view.Lines(), (Lines{"COM3: >> Открытие порта...", "COM3: >> скорость порта - 38400",
                                   "Порт COM3: адаптер задерживает принятые байты на 16 мс"}));
    EXPECT_EQ(fields.IsComConnected, 1);
}

TEST_F(LinkTest, OpenFailuresLeaveThePortClosed) {
    fields.ErrorComPorts = 1;
    EXPECT_FALSE(link.OpenPort());
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(portsMade, 0);

    fields.ErrorComPorts = 0;
    port.failOpen = true;
    EXPECT_FALSE(link.OpenPort());
    EXPECT_EQ(view.Lines(), (Lines{"COM3: >> Открытие порта...",
                                   "ОШИБКА: Не удаётся открыть порт COM3 !", "отказ (тест)"}));
    EXPECT_EQ(fields.IsComConnected, 0);
}

TEST_F(LinkTest, CloseClearsFlagsOnlyWhenTheDeviceCloses) {
    fields.IsDiagnostic = 1;
    link.ClosePort();  // not open: no line, but polling is off
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(fields.IsDiagnostic, 0);

    Open();
    fields.IsECUConnected = 1;
    port.failClose = true;
    link.ClosePort();
    EXPECT_EQ(view.Lines(),
              (Lines{"COM3: >> Закрытие порта...", "ОШИБКА: Не удаётся закрыть порт COM3 !"}));
    EXPECT_EQ(fields.IsComConnected, 1);
    EXPECT_EQ(fields.IsECUConnected, 1);

    port.failClose = false;
    view.Clear();
    link.ClosePort();
    EXPECT_EQ(view.Lines(), (Lines{"COM3: >> Закрытие порта..."}));
    EXPECT_EQ(fields.IsComConnected, 0);
    EXPECT_EQ(fields.IsECUConnected, 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(LinkTest, ReadAvailableTakesAtMost256AndNeverWaits) {
    Open();
    Bytes got;
    EXPECT_FALSE(link.ReadAvailable(got));
    Bytes many(300);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i);
    port.Feed(many);
    ASSERT_TRUE(link.ReadAvailable(got));
    EXPECT_EQ(got, Bytes(many.begin(), many.begin() + 256));
    ASSERT_TRUE(link.ReadAvailable(got));
    EXPECT_EQ(got, Bytes(many.begin() + 256, many.end()));
    EXPECT_EQ(clock.NowMs(), 0);
}

TEST_F(LinkTest, WriteBytesSendsEachByteAndReportsTheLast) {
    Open();
    ecu.echo = false;
    EXPECT_TRUE(link.WriteBytes(H("82 10 F1 3E 01 C2")));
    EXPECT_EQ(port.Written(), H("82 10 F1 3E 01 C2"));
    port.failWrite = true;
    EXPECT_FALSE(link.WriteBytes(H("01")));
}

// One exchange per case: the frame that goes out, what comes back, the
// result and the log.
struct ExchangeCase {
    const char* name;
    const char* payload;
    const char* sent;
    bool echo;
    const char* answer;  // the ECU's frame, "" for none
    bool result;
    Lines log;
};
void PrintTo(const ExchangeCase& c, std::ostream* os) {
    *os << c.name;
}

class Exchange : public LinkTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(Exchange, ValidatesTheAnswer) {
    const auto& c = GetParam();
    Open();
    ecu.echo = c.echo;
    ecu.On(H(c.sent), H(c.answer));
    EXPECT_EQ(link.SendRequest(H(c.payload)), c.result);
    EXPECT_EQ(port.Written(), H(c.sent));
    EXPECT_EQ(view.Lines(), c.log);
    EXPECT_EQ(fields.error, c.log.empty() ? 0 : 1);
    EXPECT_EQ(clock.NowMs(), 20 + 150);
}

// The fast exchange ends its read-back sooner and validates alike.
TEST_P(Exchange, FastExchangeValidatesAlike) {
    const auto& c = GetParam();
    fields.FastExchange = 1;
    Open();
    ecu.echo = c.echo;
    ecu.On(H(c.sent), H(c.answer));
    EXPECT_EQ(link.SendRequest(H(c.payload)), c.result);
    EXPECT_EQ(port.Written(), H(c.sent));
    EXPECT_EQ(view.Lines(), c.log);
    EXPECT_EQ(fields.error, c.log.empty() ? 0 : 1);
    EXPECT_LE(clock.NowMs(), 20 + 150);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Exchange,
    ::testing::Values(
        ExchangeCase{
            "StartCommunication", "81", "81 10 F1 81 03", true, "83 F1 10 C1 6B 8F 3F", true, {}},
        ExchangeCase{"StartCommunicationUnanswered",
                     "81",
                     "81 10 F1 81 03",
                     true,
                     "",
                     false,
                     {kWrong + "Запрос - 0x81; Ответ - null; (0xC16B8F)", "Ошибка №1"}},
        ExchangeCase{"TesterPresentChecksumWraps",
                     "3E 01",
                     "82 10 F1 3E 01 C2",
                     true,
                     "81 F1 10 7E 00",
                     true,
                     {}},
        ExchangeCase{"TesterPresentNegative",
                     "3E 01",
                     "82 10 F1 3E 01 C2",
                     true,
                     "83 F1 10 7F 3E 11 52",
                     false,
                     {kWrong + "Запрос - 0x3E01; Ответ - 0x7F3E11; (0x7E)", "Ошибка №1"}},
        ExchangeCase{"TesterPresentBadChecksumIsNoAnswer",
                     "3E 01",
                     "82 10 F1 3E 01 C2",
                     true,
                     "81 F1 10 7E 01",
                     false,
                     {kWrong + "Запрос - 0x3E01; Ответ - null; (0x7E)", "Ошибка №1"}},
        ExchangeCase{"SessionStart",
                     "10 81 0A",
                     "83 10 F1 10 81 0A 1F",
                     true,
                     "82 F1 10 50 81 54",
                     true,
                     {}},
        ExchangeCase{"SessionStartRefusedStillTrue",
                     "10 81 26",
                     "83 10 F1 10 81 26 3B",
                     true,
                     "83 F1 10 7F 10 12 25",
                     true,
                     {kWrong + "Запрос - 0x108126; Ответ - 0x7F1012; (0x5081)", "Ошибка №1"}},
        ExchangeCase{"SwitchToRam",
                     "30 0F 06 01",
                     "84 10 F1 30 0F 06 01 CB",
                     true,
                     "84 F1 10 70 0F 06 01 0B",
                     true,
                     {}},
        ExchangeCase{
            "StopDiagnosticSession", "20", "81 10 F1 20 A2", true, "81 F1 10 60 E2", true, {}},
        ExchangeCase{"StopCommunication", "82", "81 10 F1 82 04", true, "81 F1 10 C2 44", true, {}},
        ExchangeCase{"StopCommunicationWrong",
                     "82",
                     "81 10 F1 82 04",
                     true,
                     "81 F1 10 60 E2",
                     false,
                     {kWrong + "Запрос - 0x82; Ответ - 0x60; (0xC2)", "Ошибка №1"}},
        ExchangeCase{"ProbeRead",
                     "23 00 F3 00 08",
                     "85 10 F1 23 00 F3 00 08 A4",
                     true,
                     "89 F1 10 63 00 00 00 00 00 00 00 00 ED",
                     true,
                     {}},
        ExchangeCase{"ProbeReadShort",
                     "23 00 F3 00 08",
                     "85 10 F1 23 00 F3 00 08 A4",
                     true,
                     "88 F1 10 63 00 00 00 00 00 00 00 EC",
                     false,
                     {kRam + "Неверная длина ответа! Запрос - 0x2300F30008; Ответ - "
                             "0x6300000000000000;",
                      "Ошибка №1"}},
        ExchangeCase{"DiagnosticNegativeStillTrue",
                     "21 0F",
                     "82 10 F1 21 0F B3",
                     true,
                     "83 F1 10 7F 21 12 36",
                     true,
                     {kWrong + "Запрос - 0x210F; Ответ - 0x7F2112; (0x610F)", "Ошибка №1"}},
        ExchangeCase{"WriteIsNeverTrue",
                     "3D 00 61 F0 01 05",
                     "86 10 F1 3D 00 61 F0 01 05 1B",
                     true,
                     "81 F1 10 7D FF",
                     false,
                     {}},
        ExchangeCase{"NoEchoFailsSilently", "3E 01", "82 10 F1 3E 01 C2", false, "", false, {}},
        ExchangeCase{"NoEchoButAnswerFailsSilently",
                     "81",
                     "81 10 F1 81 03",
                     false,
                     "83 F1 10 C1 6B 8F 3F",
                     false,
                     {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, DiagnosticInfoFollowsWhatCameBack) {
    Open();
    Bytes answer = H("80 F1 10 35 61 0F");
    for (int i = 0; i < 51; ++i) answer.push_back(static_cast<uint8_t>(100 + i));
    ecu.On(H("82 10 F1 21 0F B3"), WithSum(answer));
    ASSERT_TRUE(link.SendRequest(H("21 0F")));
    auto frame = fields.DiagnosticInfo.Copy();
    ASSERT_EQ(frame.size(), 51u);
    EXPECT_EQ(frame.front(), 100);
    EXPECT_EQ(frame.back(), 150);
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(fields.FreshFrames, 1);

    // Nothing back at all: the last frame stays.
    ecu.echo = false;
    ecu.On(H("82 10 F1 21 0F B3"), {});
    EXPECT_FALSE(link.SendRequest(H("21 0F")));
    EXPECT_EQ(fields.DiagnosticInfo.Size(), 51u);
    EXPECT_EQ(fields.FreshFrames, 1);

    // Only the echo: the frame is gone and the error names a null answer.
    ecu.echo = true;
    EXPECT_TRUE(link.SendRequest(H("21 0F")));
    EXPECT_EQ(fields.DiagnosticInfo.Size(), 0u);
    EXPECT_EQ(fields.FreshFrames, 1);
    EXPECT_EQ(view.Lines(),
              (Lines{kWrong + "Запрос - 0x210F; Ответ - null; (0x610F)", "Ошибка №1"}));
}

TEST_F(LinkTest, LateOrNoisyBytesBeforeTheRequestAreDiscarded) {
    Open();
    ecu.On(H("82 10 F1 3E 01 C2"), H("81 F1 10 7E 00"));
    // The answer to an earlier request came after its read: it belongs to
    // no request of this exchange and is not taken for its answer.
    port.Feed(H("81 F1 10 7F 3E 11"));
    EXPECT_TRUE(link.SendRequest(H("3E 01")));
    EXPECT_EQ(link.LastAnswer(), H("7E"));
    EXPECT_EQ(port.Pending(), 0u);
    // Line noise before the echo.
    port.Feed(H("FF"));
    EXPECT_TRUE(link.SendRequest(H("3E 01")));
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(fields.error, 0);
}

TEST_F(LinkTest, MemoryReadKeepsItsDataUntilTaken) {
    Open();
    Bytes answer = H("80 F1 10 61 63");
    for (int i = 0; i < 0x60; ++i) answer.push_back(static_cast<uint8_t>(i ^ 0x5A));
    ecu.On(H("85 10 F1 23 00 00 00 60 09"), WithSum(answer));
    ASSERT_TRUE(link.SendRequest(H("23 00 00 00 60")));
    const Bytes data = link.TakeLastReadData();
    ASSERT_EQ(data.size(), 0x60u);
    EXPECT_EQ(data[0], 0x5A);
    EXPECT_EQ(data[0x5F], 0x5F ^ 0x5A);
    EXPECT_TRUE(link.TakeLastReadData().empty());

    // The block at 0xF300 is memory like any other.
    ecu.On(H("85 10 F1 23 00 F3 00 08 A4"), H("89 F1 10 63 01 02 03 04 05 06 07 08 11"));
    ASSERT_TRUE(link.SendRequest(H("23 00 F3 00 08")));
    EXPECT_EQ(link.TakeLastReadData(), H("01 02 03 04 05 06 07 08"));
}

TEST_F(LinkTest, PausesComeFromTheFieldsAndZeroReadPauseMeans160) {
    Open();
    fields.PortTimeOut = 0;
    fields.PortReadTimeOut = 0;
    ecu.On(H("82 10 F1 3E 01 C2"), H("81 F1 10 7E 00"));
    EXPECT_TRUE(link.SendRequest(H("3E 01")));
    EXPECT_EQ(clock.NowMs(), 160);
    EXPECT_EQ(fields.PortReadTimeOut, 160);
}

TEST_F(LinkTest, ClosedPortIsNeverTouched) {
    EXPECT_FALSE(link.SendRequest(H("3E 01")));
    EXPECT_TRUE(port.Written().empty());
    EXPECT_EQ(clock.NowMs(), 170);
    EXPECT_EQ(portsMade, 0);
}

TEST_F(LinkTest, EleventhErrorInARowDropsTheLink) {
    Open();
    fields.IsECUConnected = 1;
    fields.IsDiagnostic = 1;
    for (int i = 1; i <= 10; ++i) EXPECT_FALSE(link.SendRequest(H("3E 01")));
    EXPECT_EQ(fields.IsComConnected, 1);
    EXPECT_EQ(fields.IsDiagnostic, 1);
    EXPECT_EQ(view.Lines().back(), "Ошибка №10");

    EXPECT_FALSE(link.SendRequest(H("3E 01")));
    const Lines lines = view.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{kWrong + "Запрос - 0x3E01; Ответ - null; (0x7E)", "Ошибка №11",
                     "ECU: << 11 ошибок подряд: связь разорвана", "COM3: >> Закрытие порта..."}));
    EXPECT_EQ(fields.error, 11);
    EXPECT_EQ(fields.IsComConnected, 0);
    EXPECT_EQ(fields.IsECUConnected, 0);
    EXPECT_EQ(fields.IsDiagnostic, 0);
    EXPECT_FALSE(port.IsOpen());
}
