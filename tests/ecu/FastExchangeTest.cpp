// The exchange's timing on a fake line: when the read-back ends with and
// without the fast exchange, the quiet time before a request, and the wait
// for the bytes to leave.
#include <gtest/gtest.h>

#include "EcuTestSupport.h"
#include "ecu/EcuLink.h"

using namespace korvane;
using namespace korvane::ecu;
using ecu::test::H;
using ecu::test::WithSum;

namespace {

const Bytes kPoll = H("82 10 F1 21 0F B3");

Bytes DiagnosticAnswer() {
    Bytes frame = H("80 F1 10 35 61 0F");
    frame.resize(57, 0x11);
    return WithSum(frame);
}

class Timing : public ::testing::Test, protected ecu::test::FakeLinkRig {
  protected:
    Timing() {
        fields.PortName = "COM3";
        fields.PortSpeed = "38400";
        fields.PortTimeOut = 20;
        fields.PortReadTimeOut = 150;
    }
    void Open(bool fast) {
        fields.FastExchange = fast ? 1 : 0;
        ASSERT_TRUE(link.OpenPort());
        view.Clear();
    }
};

struct ReadCase {
    const char* name;
    bool fast;
    int answerAfterMs;
    size_t pieceSize;  // 0: the answer in one piece
    int pieceGapMs;
    size_t cutOff;    // bytes missing from the end of the answer
    int64_t endsAt;   // clock when the exchange is over
    bool answered;    // a whole answer was taken
    size_t leftOver;  // bytes still waiting afterwards
};
void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadBack : public Timing, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadBack, EndsWhenTheAnswerIsWholeOrTheTimeIsOver) {
    const ReadCase& c = GetParam();
    Open(c.fast);
    Bytes answer = DiagnosticAnswer();
    answer.resize(answer.size() - c.cutOff);
    ecu.On(kPoll, answer);
    ecu.answerAfterMs = c.answerAfterMs;
    ecu.pieceSize = c.pieceSize;
    ecu.pieceGapMs = c.pieceGapMs;

    EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
    EXPECT_EQ(clock.NowMs(), c.endsAt);
    EXPECT_EQ(port.Written(), kPoll);
    EXPECT_EQ(fields.DiagnosticInfo.Size(), c.answered ? 51u : 0u);
    EXPECT_EQ(fields.error, c.answered ? 0 : 1);
    EXPECT_EQ(port.Pending(), c.leftOver);
    if (!c.fast) {
        // The plain exchange: a pause before, the whole read-back pause.
        EXPECT_EQ(clock.Sleeps(), (std::vector<int64_t>{20, 150}));
    }
    if (c.fast && c.pieceSize > 0 && c.answered) {
        // Read as the pieces came: the echo, then one read per piece.
        EXPECT_EQ(port.ReadSizes(), (std::vector<int>{6, 20, 20, 18}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadBack,
    ::testing::Values(ReadCase{"PlainWaitsTheWholePause", false, 25, 0, 0, 0, 170, true, 0},
                      ReadCase{"PlainInPieces", false, 10, 20, 10, 0, 170, true, 0},
                      ReadCase{"PlainLateAnswerStaysWaiting", false, 200, 0, 0, 0, 170, false, 58},
                      ReadCase{"FastTakesTheAnswerWhenWhole", true, 25, 0, 0, 0, 45, true, 0},
                      ReadCase{"FastInPieces", true, 10, 20, 10, 0, 50, true, 0},
                      ReadCase{"FastAnswerThatNeverCompletes", true, 25, 0, 0, 5, 170, false, 0},
                      ReadCase{"FastLateAnswerStaysWaiting", true, 200, 0, 0, 0, 170, false, 58},
                      ReadCase{"FastAnswerJustInTime", true, 150, 0, 0, 0, 170, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Timing, FastLateAnswerIsNotTakenByTheNextExchange) {
    Open(true);
    ecu.On(kPoll, DiagnosticAnswer());
    ecu.answerAfterMs = 200;
    EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));  // logged as missing
    EXPECT_EQ(fields.error, 1);
    // The late answer is there before the next request goes out: it is
    // passed over, and the next exchange takes its own answer.
    ecu.answerAfterMs = 0;
    view.Clear();
    EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
    EXPECT_TRUE(link.LastValid());
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(fields.error, 1);
}

// Requests go out PortTimeOut (and the millisecond the clock may have cut
// off) after the end of the last answer with the fast exchange, time spent
// in between counting; after the whole read-back pause and PortTimeOut
// without it.
TEST_F(Timing, QuietTimeBeforeEachRequest) {
    const struct {
        bool fast;
        std::vector<int64_t> requestsAt;
    } cases[] = {
        {true, {20, 66, 112}},  // answers end at 45, 91; 15 ms spent before the third
        {false, {20, 190, 375}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fast ? "fast" : "plain");
        link.ClosePort();
        clock.Advance(-clock.NowMs());
        ecu.ClearFrames();
        Open(c.fast);
        ecu.On(kPoll, DiagnosticAnswer());
        ecu.answerAfterMs = 25;
        EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
        EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
        clock.Advance(15);
        EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
        std::vector<int64_t> at;
        for (const auto& t : ecu.Timings()) at.push_back(t.requestAt);
        EXPECT_EQ(at, c.requestsAt);
        const auto timings = ecu.Timings();
        for (size_t i = 1; i < timings.size(); ++i)
            EXPECT_GE(timings[i].requestAt - timings[i - 1].answerEndAt, 20) << i;
        EXPECT_EQ(fields.error, 0);
    }
}

// A 64-byte write is 74 bytes on the line, 72 ms at 10400 baud: the
// read-back time starts after that (the fast read ends with the answer, due
// 100 ms after the request).
TEST_F(Timing, ReadBackStartsWhenTheBytesHaveLeft) {
    const struct {
        bool fast;
        int64_t endsAt;
    } cases[] = {{false, 20 + 72 + 150}, {true, 20 + 100}};
    Bytes payload = H("3D 00 61 F0 40");
    payload.resize(69, 0x5A);
    const Bytes frame = BuildFrame(payload);
    ASSERT_EQ(frame.size(), 74u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fast ? "fast" : "plain");
        link.ClosePort();
        clock.Advance(-clock.NowMs());
        port.ClearWritten();
        Open(c.fast);
        port.drainBaud = 10400;
        ecu.On(frame, H("81 F1 10 7D FF"));
        ecu.answerAfterMs = 100;
        link.SendRequest(payload);
        EXPECT_EQ(clock.NowMs(), c.endsAt);
        ASSERT_EQ(port.Drains().size(), 1u);
        EXPECT_EQ(port.Drains()[0].atMs, 20);
        EXPECT_EQ(port.Drains()[0].bytesBefore, 74u);
        EXPECT_EQ(link.LastAnswer(), H("7D"));
    }
}

TEST_F(Timing, NothingIsSentOnceAskedToStop) {
    Open(true);
    ecu.On(kPoll, DiagnosticAnswer());
    link.Stopping().Raise();
    EXPECT_FALSE(link.SendRequest({0x21, 0x0F}));
    EXPECT_TRUE(port.Written().empty());
    EXPECT_EQ(clock.NowMs(), 0);
}

}  // namespace
