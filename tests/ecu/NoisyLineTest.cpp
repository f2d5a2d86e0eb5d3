// The exchange on a line that loses or spoils answers now and then: when a
// standing session is given up, how requests are repeated, that an answer
// arriving late is never taken for a repeat's answer, and how a start that
// failed at the session speed is ended before the next one.
#include <gtest/gtest.h>

#include <algorithm>

#include "EcuTestSupport.h"
#include "ecu/EcuLink.h"

using namespace korvane;
using namespace korvane::ecu;
using ecu::test::H;
using ecu::test::WithSum;
using Lines = std::vector<std::string>;

namespace {

// What the ECU does with one request frame:
//   v  answers it right
//   s  stays silent (the adapter's echo still comes)
//   c  answers with a broken checksum
//   n  refuses it (7F, service, 11)
//   l  answers right, but 160 ms late: after the read-back pause
//   p  sends a stray answer to another service first, then the right one
//   x  nothing at all, not even the echo (only where the test sets it)
// A right answer to a memory read carries the try's number in every byte,
// so a test can tell which try's answer was taken.
Bytes Framed(const Bytes& data) {
    Bytes frame = data.size() <= 16 ? Bytes{static_cast<uint8_t>(0x80 + data.size()), 0xF1, 0x10}
                                    : Bytes{0x80, 0xF1, 0x10, static_cast<uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    return WithSum(frame);
}

Bytes RightAnswer(const Bytes& payload, uint8_t mark) {
    switch (payload[0]) {
        case 0x21: {
            Bytes data = {0x61, 0x0F};
            data.resize(53, 0x11);
            return Framed(data);
        }
        case 0x23: {
            Bytes data = {0x63};
            data.resize(1 + payload[4], mark);
            return Framed(data);
        }
        case 0x81:
            return Framed({0xC1, 0x6B, 0x8F});
        case 0x10:
            return Framed({0x50, 0x81});
        case 0x30:
            return Framed({0x70, 0x0F, 0x06, 0x01});
        default:
            return Framed({static_cast<uint8_t>(payload[0] + 0x40)});
    }
}

Bytes PayloadOf(const Bytes& frame) {
    const size_t header = (frame[0] & 0x3F) ? 3 : 4;
    return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(header), frame.end() - 1);
}

class NoisyLine : public ::testing::Test, protected ecu::test::FakeLinkRig {
  protected:
    NoisyLine() {
        fields.PortName = "COM3";
        fields.PortSpeed = "38400";
        fields.PortTimeOut = 20;
        fields.PortReadTimeOut = 150;
        ecu.OnAny([this](const Bytes& frame) { return Next(frame); });
    }
    void OpenSession(bool fast = false) {
        fields.FastExchange = fast ? 1 : 0;
        ASSERT_TRUE(link.OpenPort());
        fields.IsECUConnected = 1;
        fields.IsDiagnostic = 1;
        view.Clear();
    }
    // Each request frame takes the next letter of the script; past its end
    // every request is answered right.
    Bytes Next(const Bytes& frame) {
        const Bytes payload = PayloadOf(frame);
        const char what = next_ < script_.size() ? script_[next_] : 'v';
        const uint8_t mark = static_cast<uint8_t>(++tries_);
        ++next_;
        ecu.answerAfterMs = what == 'l' ? 160 : 0;
        switch (what) {
            case 's':
            case 'x':
                return {};
            case 'c': {
                Bytes a = RightAnswer(payload, mark);
                ++a.back();
                return a;
            }
            case 'n':
                return Framed({0x7F, payload[0], 0x11});
            case 'p': {
                Bytes a = Framed({0x7E});
                const Bytes right = RightAnswer(payload, mark);
                a.insert(a.end(), right.begin(), right.end());
                return a;
            }
            default:
                return RightAnswer(payload, mark);
        }
    }
    void Script(std::string script) {
        script_ = std::move(script);
        next_ = 0;
        tries_ = 0;
    }
    bool Logged(const std::string& line) const {
        const Lines lines = view.Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::string script_;
    size_t next_ = 0;
    int tries_ = 0;
};

// Polls of a standing session, one letter each.
struct LimitCase {
    const char* name;
    std::string polls;
    int droppedAt;  // the poll after which the link is gone; 0: it stays
    const char* why;
};
void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class SessionLimits : public NoisyLine, public ::testing::WithParamInterface<LimitCase> {};

const char* const kInARow = "ECU: << 11 ошибок подряд: связь разорвана";
const char* const kSilent = "ECU: << Нет правильного ответа от ECU 3 с: связь разорвана";

std::string Times(int n, const std::string& part) {
    std::string out;
    for (int i = 0; i < n; ++i) out += part;
    return out;
}

}  // namespace

TEST_P(SessionLimits, GiveUpOnlyWhenTheLinkIsGone) {
    const LimitCase& c = GetParam();
    OpenSession();
    Script(c.polls);
    int droppedAt = 0;
    int errors = 0;
    for (size_t i = 0; i < c.polls.size() && fields.IsComConnected == 1; ++i) {
        ecu.echo = c.polls[i] != 'x';
        errors += c.polls[i] != 'v' && c.polls[i] != 'x';
        link.SendRequest({0x21, 0x0F});
        if (fields.IsComConnected == 0) droppedAt = static_cast<int>(i) + 1;
    }
    EXPECT_EQ(droppedAt, c.droppedAt);
    // Every error is numbered, also those the session outlived.
    EXPECT_EQ(fields.error, errors);
    if (errors > 0) {
        EXPECT_TRUE(Logged("Ошибка №" + std::to_string(errors)));
    }
    if (c.droppedAt > 0) {
        const Lines lines = view.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], c.why);
        EXPECT_EQ(lines.back(), "COM3: >> Закрытие порта...");
        EXPECT_EQ(fields.IsECUConnected, 0);
        EXPECT_EQ(fields.IsDiagnostic, 0);
    } else {
        EXPECT_FALSE(Logged(kInARow));
        EXPECT_FALSE(Logged(kSilent));
        EXPECT_EQ(fields.IsECUConnected, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Polls, SessionLimits,
    ::testing::Values(LimitCase{"ElevenErrorsInARow", "v" + Times(12, "s"), 12, kInARow},
                      LimitCase{"SpoiledAndRefusedAnswersCountAlike", "ccccccnnnnnv", 11, kInARow},
                      LimitCase{"TenInARowThenAnAnswer", Times(2, Times(10, "s") + "v"), 0, ""},
                      LimitCase{"SporadicErrorsGoOn", Times(60, "vvvs") + Times(40, "vc"), 0, ""},
                      // Polls of 170 ms: the eighteenth ends 3 s after the first went out.
                      LimitCase{"NothingAtAllForThreeSeconds", Times(30, "x"), 18, kSilent},
                      LimitCase{"ErrorsAndSilenceForThreeSeconds", Times(15, "xs"), 18, kSilent},
                      LimitCase{"AnAnswerNowAndThenKeepsItUp", Times(4, Times(16, "x") + "v"), 0,
                                ""}),
    [](const auto& info) { return std::string(info.param.name); });

// One request through Request(), the ECU doing one letter per try.
struct RepeatCase {
    const char* name;
    const char* payload;
    const char* tries;
    bool fast;
    bool valid;        // a right answer was taken in the end
    int frames;        // tries sent
    int errors;        // "Ошибка №" lines
    uint8_t readMark;  // a read: the try whose answer was taken
};
void PrintTo(const RepeatCase& c, std::ostream* os) {
    *os << c.name;
}

class Repeats : public NoisyLine, public ::testing::WithParamInterface<RepeatCase> {};

TEST_P(Repeats, AnUnansweredRequestGoesOutUpToThreeTimes) {
    const RepeatCase& c = GetParam();
    OpenSession(c.fast);
    Script(c.tries);
    const Bytes payload = H(c.payload);
    const bool result = link.Request(payload);
    EXPECT_EQ(link.LastValid(), c.valid);
    if (payload[0] != 0x3D) {
        EXPECT_EQ(result, c.valid);
    }
    EXPECT_EQ(static_cast<int>(ecu.Frames().size()), c.frames);
    EXPECT_EQ(link.LastRepeats(), c.frames - 1);
    EXPECT_EQ(fields.error, c.errors);
    // One line per repeat, in order.
    Lines repeats;
    for (const auto& line : view.Lines())
        if (line.rfind("ECU: >> Повтор запроса ", 0) == 0) repeats.push_back(line);
    Lines expected;
    for (int k = 2; k <= c.frames; ++k)
        expected.push_back("ECU: >> Повтор запроса " + HexText(payload) + ": попытка " +
                           std::to_string(k) + " из 3");
    EXPECT_EQ(repeats, expected);
    if (c.readMark != 0) {
        const Bytes data = link.TakeLastReadData();
        ASSERT_FALSE(data.empty());
        EXPECT_EQ(data.front(), c.readMark);
    }
    // The session outlived all of it.
    EXPECT_EQ(fields.IsComConnected, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Tries, Repeats,
    ::testing::Values(
        RepeatCase{"ReadAnsweredAtOnce", "23 00 10 00 08", "v", false, true, 1, 0, 1},
        RepeatCase{"ReadLostOnce", "23 00 10 00 08", "sv", false, true, 2, 1, 2},
        RepeatCase{"ReadSpoiledTwice", "23 00 10 00 60", "ccv", false, true, 3, 2, 3},
        RepeatCase{"ReadNeverAnswered", "23 00 10 00 08", "sss", false, false, 3, 3, 0},
        RepeatCase{"ReadRefusedIsAnAnswer", "23 00 10 00 08", "n", false, false, 1, 1, 0},
        RepeatCase{"LateAnswerIsNotTakenForTheRepeats", "23 00 10 00 08", "lv", false, true, 2, 1,
                   2},
        RepeatCase{"LateAnswerIsNotTakenForTheRepeatsFast", "23 00 10 00 08", "lv", true, true, 2,
                   1, 2},
        RepeatCase{"LateTwiceFast", "23 00 10 00 60", "llv", true, true, 3, 2, 3},
        RepeatCase{"StrayAnswerOfAnotherServiceIsPassedOver", "23 00 10 00 08", "p", false, true, 1,
                   0, 1},
        RepeatCase{"StrayAnswerPassedOverFast", "23 00 10 00 08", "p", true, true, 1, 0, 1},
        RepeatCase{"StartStepLostTwice", "3E 01", "ssv", true, true, 3, 2, 0},
        RepeatCase{"WriteConfirmationLost", "3D 00 20 00 01 05", "sv", false, true, 2, 0, 0},
        RepeatCase{"WriteConfirmationLate", "3D 00 20 00 01 05", "lv", true, true, 2, 0, 0},
        RepeatCase{"WriteNeverConfirmed", "3D 00 20 00 01 05", "scs", false, false, 3, 0, 0},
        RepeatCase{"WriteRefusedIsNotRepeated", "3D 00 20 00 01 05", "n", false, false, 1, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NoisyLine, EveryUnconfirmedTryOfAWriteIsLogged) {
    OpenSession();
    Script("sc");
    link.Request(H("3D 00 20 00 01 05"));
    EXPECT_TRUE(link.LastValid());
    EXPECT_EQ(view.Lines(),
              (Lines{"ECU: << Запись не подтверждена! Запрос - 0x3D0020000105; Ответ - null;",
                     "ECU: >> Повтор запроса 0x3D0020000105: попытка 2 из 3",
                     "ECU: << Запись не подтверждена! Запрос - 0x3D0020000105; Ответ - null;",
                     "ECU: >> Повтор запроса 0x3D0020000105: попытка 3 из 3"}));
}

TEST_F(NoisyLine, NothingIsRepeatedOnAClosedPort) {
    EXPECT_FALSE(link.Request(H("23 00 10 00 08")));
    EXPECT_TRUE(port.Written().empty());
    EXPECT_EQ(link.LastRepeats(), 0);
    EXPECT_TRUE(view.Lines().empty());
}

// A start that fails after the speed switch; what goes out before the line
// is back at 10400 for the next start.
struct RestartCase {
    const char* name;
    const char* script;  // StartCommunication, session start, TesterPresent, then the stop
    bool startFails;
    std::vector<Bytes> afterStart;  // frames sent by EndFailedStart
    bool waitsP3Max;
};
void PrintTo(const RestartCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedStart : public NoisyLine, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(FailedStart, EndsTheEcuSessionBeforeTheNextStart) {
    const RestartCase& c = GetParam();
    ASSERT_TRUE(link.OpenPort());
    Script(c.script);
    EXPECT_EQ(link.StartSession(), !c.startFails);
    const size_t sent = ecu.Frames().size();
    const int speedAfterStart = port.Speed();
    const int64_t before = clock.NowMs();
    view.Clear();
    link.EndFailedStart();
    const auto frames = ecu.Frames();
    EXPECT_EQ(std::vector<Bytes>(frames.begin() + static_cast<std::ptrdiff_t>(sent), frames.end()),
              c.afterStart);
    // The stop goes out at the session speed; then the line is at 10400.
    for (size_t i = sent; i < frames.size(); ++i) EXPECT_EQ(ecu.Speeds()[i], speedAfterStart);
    EXPECT_EQ(port.Speed(), c.startFails ? 10400 : speedAfterStart);
    const bool waitLine =
        Logged("ECU: << ECU не подтвердил Stop Communication: ожидание конца его сеанса 5 с");
    EXPECT_EQ(waitLine, c.waitsP3Max);
    const int64_t spent = clock.NowMs() - before;
    if (c.waitsP3Max)
        EXPECT_GE(spent, EcuLink::kP3MaxMs);
    else
        EXPECT_LT(spent, 1000);
}

const Bytes kStop = H("81 10 F1 82 04");

INSTANTIATE_TEST_SUITE_P(
    Starts, FailedStart,
    ::testing::Values(RestartCase{"TesterPresentNeverAnswered", "vvsssv", true, {kStop}, false},
                      RestartCase{"StopLostOnce", "vvsssscv", true, {kStop, kStop, kStop}, false},
                      RestartCase{
                          "StopNeverConfirmed", "vvssssss", true, {kStop, kStop, kStop}, true},
                      RestartCase{"StopRefused", "vvsssn", true, {kStop}, true},
                      RestartCase{"FailedBeforeTheSwitch", "sss", true, {}, false},
                      RestartCase{"StartedNothingToEnd", "", false, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });
