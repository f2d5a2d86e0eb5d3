// The simulated ECU and K-line adapter, driven through a real
// pseudo-terminal with hand-written frames.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "sim/SimTestUtil.h"

namespace korvane::sim::test {
namespace {

class EcuLine : public ::testing::Test {
  protected:
    void StartSim(Options o = {}) {
        o.fast = o.fast || fastByDefault_;
        sim_ = std::make_unique<Simulator>(o);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        line_ = std::make_unique<Line>(sim_->EcuPath(), 10400);
    }
    void SetUp() override {}
    bool fastByDefault_ = true;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Line> line_;
};

struct ServiceCase {
    const char* name;
    const char* request;
    const char* answer;  // "" = echo only
};

// Requests at 10400 baud with no session, each answered on its own.
const ServiceCase kServices[] = {
    {"StartCommunication", "81 10 F1 81 03", "83 F1 10 C1 6B 8F 3F"},
    {"StartDiagnosticSession10400", "83 10 F1 10 81 0A 1F", "82 F1 10 50 81 54"},
    {"TesterPresent", "82 10 F1 3E 01 C2", "81 F1 10 7E 00"},
    {"TesterPresentNoResponse", "82 10 F1 3E 02 C3", ""},
    {"SwitchToRam", "84 10 F1 30 0F 06 01 CB", "84 F1 10 70 0F 06 01 0B"},
    {"ReadIdentity", "85 10 F1 23 00 F3 00 08 A4", "89 F1 10 63 4B 56 53 49 4D 2D 30 31 05"},
    {"StopDiagnosticSession", "81 10 F1 20 A2", "81 F1 10 60 E2"},
    {"StopCommunication", "81 10 F1 82 04", "81 F1 10 C2 44"},
    {"UnknownService", "81 10 F1 1A 9C", "83 F1 10 7F 1A 11 2E"},
    {"UnknownSpeedByte", "83 10 F1 10 81 13 28", "83 F1 10 7F 10 12 25"},
    {"ReadBeyondMemory", "85 10 F1 23 00 FF C0 60 C8", "83 F1 10 7F 23 31 57"},
    {"WithoutAddressBytes", "02 3E 01 41", "81 F1 10 7E 00"},
    {"WrongChecksum", "82 10 F1 3E 01 C3", ""},
    {"OtherTarget", "82 11 F1 3E 01 C3", ""},
    {"FunctionalAddressing", "C2 10 F1 3E 01 02", ""},
};

TEST_F(EcuLine, EachServiceIsEchoedAndAnswered) {
    StartSim();
    for (const auto& c : kServices) {
        SCOPED_TRACE(c.name);
        const Bytes request = Hex(c.request);
        const Bytes expected = Concat(request, Hex(c.answer));
        EXPECT_EQ(ToHex(line_->Exchange(request)), ToHex(expected));
        EXPECT_EQ(sim_->EcuLineSpeed(), 10400);
    }
    // Frames that are not for the ECU are not taken as requests.
    int recorded = 0;
    for (const auto& r : sim_->Requests()) recorded += r.baud == 10400;
    EXPECT_EQ(recorded, 12);
}

TEST_F(EcuLine, DiagnosticAnswerIsALongFrameWithTheEngineFrame) {
    StartSim();
    sim_->HoldCell(5, 7);
    const Bytes request = Hex("82 10 F1 21 0F B3");
    const Bytes got = line_->Exchange(request);
    ASSERT_EQ(got.size(), request.size() + 58);
    const Bytes answer(got.begin() + 6, got.end());
    EXPECT_EQ(ToHex(Bytes(answer.begin(), answer.begin() + 6)), "80 F1 10 35 61 0F");
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < answer.size(); ++i) sum += answer[i];
    EXPECT_EQ(answer.back(), sum & 0xFF);
    const Bytes frame(answer.begin() + 6, answer.end() - 1);
    EXPECT_EQ(frame[9], 128);  // the ECU reports 14.7
    // Throttle within column 5 (14 .. 18 %], engine speed within row 7
    // (1720 .. 1960 rpm], as the program's bands place them.
    EXPECT_GT(frame[11], 14);
    EXPECT_LE(frame[11], 18);
    EXPECT_GT(frame[12] * 40, 1720);
    EXPECT_LE(frame[12] * 40, 1960);
}

TEST_F(EcuLine, LongReadsAndWritesReachMemory) {
    StartSim();
    const auto ram = sim_->Ram();
    // The first block of a firmware read: 96 bytes in a long answer frame.
    Bytes got = line_->Exchange(Hex("85 10 F1 23 00 00 00 60 09"));
    ASSERT_EQ(got.size(), 9u + 4 + 97 + 1);
    EXPECT_EQ(ToHex(Bytes(got.begin() + 9, got.begin() + 14)), "80 F1 10 61 63");
    EXPECT_EQ(Bytes(got.begin() + 14, got.end() - 1), Bytes(ram.begin(), ram.begin() + 0x60));

    // A short write, read back over the line and seen in memory.
    EXPECT_EQ(ToHex(line_->Exchange(Hex("87 10 F1 3D 00 7C F7 02 AA 55 39"))),
              "87 10 F1 3D 00 7C F7 02 AA 55 39 81 F1 10 7D FF");
    EXPECT_EQ(ToHex(line_->Exchange(Hex("85 10 F1 23 00 7C F7 02 1E"))),
              "85 10 F1 23 00 7C F7 02 1E 83 F1 10 63 AA 55 E6");

    // A 64-byte block goes in the long form (length byte 0x45).
    Bytes block = {0x80, 0x10, 0xF1, 0x45, 0x3D, 0x00, 0x75, 0xEF, 0x40};
    for (int i = 0; i < 64; ++i) block.push_back(static_cast<uint8_t>(i * 3));
    unsigned sum = 0;
    for (uint8_t b : block) sum += b;
    block.push_back(static_cast<uint8_t>(sum));
    EXPECT_EQ(ToHex(line_->Exchange(block)), ToHex(Concat(block, Hex("81 F1 10 7D FF"))));
    const auto after = sim_->Ram();
    EXPECT_EQ(after[0x7CF7], 0xAA);
    EXPECT_EQ(after[0x7CF8], 0x55);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(after[0x75EF + i], static_cast<uint8_t>(i * 3));
    EXPECT_EQ(after[0x75EF + 64], ram[0x75EF + 64]);  // nothing beyond the block
}

TEST_F(EcuLine, RamWritesAreReported) {
    std::mutex m;
    std::vector<std::pair<uint16_t, size_t>> writes;
    Options o;
    o.onRamWrite = [&](uint16_t a, size_t n) {
        std::lock_guard lock(m);
        writes.emplace_back(a, n);
    };
    StartSim(o);
    line_->Exchange(Hex("87 10 F1 3D 00 7C F7 02 AA 55 39"));
    std::lock_guard lock(m);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].first, 0x7CF7);
    EXPECT_EQ(writes[0].second, 2u);
}

TEST_F(EcuLine, AnswersOnlyAtTheSessionSpeed) {
    StartSim();
    const Bytes tester = Hex("82 10 F1 3E 01 C2");
    const Bytes answer = Hex("81 F1 10 7E 00");
    // The program's port at 38400 before any session: echo only.
    ASSERT_TRUE(line_->SetSpeed(38400));
    EXPECT_EQ(line_->Exchange(tester), tester);
    ASSERT_TRUE(line_->SetSpeed(10400));
    // The session request is answered at 10400, then the ECU moves to 38400.
    EXPECT_EQ(line_->Exchange(Hex("83 10 F1 10 81 26 3B")),
              Concat(Hex("83 10 F1 10 81 26 3B"), Hex("82 F1 10 50 81 54")));
    EXPECT_EQ(sim_->EcuLineSpeed(), 38400);
    EXPECT_EQ(line_->Exchange(tester), tester);  // still at 10400: silent
    ASSERT_TRUE(line_->SetSpeed(38400));
    EXPECT_EQ(line_->Exchange(tester), Concat(tester, answer));
    // Stopping the session answers at 38400 and returns to 10400.
    EXPECT_EQ(line_->Exchange(Hex("81 10 F1 20 A2")),
              Concat(Hex("81 10 F1 20 A2"), Hex("81 F1 10 60 E2")));
    EXPECT_EQ(sim_->EcuLineSpeed(), 10400);
    EXPECT_EQ(line_->Exchange(tester), tester);
    ASSERT_TRUE(line_->SetSpeed(10400));
    EXPECT_EQ(line_->Exchange(Hex("81 10 F1 82 04")),
              Concat(Hex("81 10 F1 82 04"), Hex("81 F1 10 C2 44")));

    const auto seen = sim_->Requests();
    ASSERT_EQ(seen.size(), 7u);
    const struct {
        int baud;
        bool answered;
    } expected[] = {{38400, false}, {10400, true},  {10400, false}, {38400, true},
                    {38400, true},  {38400, false}, {10400, true}};
    EXPECT_EQ(seen[0].data, Hex("3E 01"));
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].baud, expected[i].baud);
        EXPECT_EQ(seen[i].answered, expected[i].answered);
    }
    EXPECT_EQ(seen[4].data, Hex("20"));
}

TEST_F(EcuLine, SessionAt57600) {
    StartSim();
    EXPECT_EQ(line_->Exchange(Hex("83 10 F1 10 81 39 4E")),
              Concat(Hex("83 10 F1 10 81 39 4E"), Hex("82 F1 10 50 81 54")));
    EXPECT_EQ(sim_->EcuLineSpeed(), 57600);
    ASSERT_TRUE(line_->SetSpeed(57600));
    EXPECT_EQ(line_->Exchange(Hex("82 10 F1 3E 01 C2")), Hex("82 10 F1 3E 01 C2 81 F1 10 7E 00"));
    // StopCommunication also brings the line back to 10400.
    line_->Exchange(Hex("81 10 F1 82 04"));
    EXPECT_EQ(sim_->EcuLineSpeed(), 10400);
}

TEST_F(EcuLine, AnIdleSessionEndsByItself) {
    Options o;
    o.sessionTimeoutMs = 600;
    StartSim(o);
    line_->Exchange(Hex("83 10 F1 10 81 26 3B"));
    ASSERT_TRUE(line_->SetSpeed(38400));
    // Requests keep the session alive...
    for (int i = 0; i < 4; ++i) {
        SleepMs(250);
        EXPECT_EQ(line_->Exchange(Hex("82 10 F1 3E 01 C2")).size(), 11u);
    }
    EXPECT_EQ(sim_->EcuLineSpeed(), 38400);
    // ...silence ends it: a program that restarts finds the ECU at 10400.
    SleepMs(900);
    EXPECT_EQ(sim_->EcuLineSpeed(), 10400);
    ASSERT_TRUE(line_->SetSpeed(10400));
    EXPECT_EQ(line_->Exchange(Hex("81 10 F1 81 03")), Hex("81 10 F1 81 03 83 F1 10 C1 6B 8F 3F"));
}

TEST_F(EcuLine, ABrokenOffFrameIsForgotten) {
    StartSim();
    line_->Send(Hex("83 10 F1"));
    SleepMs(400);
    EXPECT_EQ(ToHex(line_->Exchange(Hex("82 10 F1 3E 01 C2"))), "82 10 F1 3E 01 C2 81 F1 10 7E 00");
}

TEST_F(EcuLine, AnswerComesAfterP2AndWireTime) {
    fastByDefault_ = false;
    // P2 plus 11 bytes at 10400 baud (10.6 ms); a slow ECU's P2 is set.
    const struct {
        int p2;
        double atLeastMs;
    } cases[] = {{25, 35.0}, {200, 210.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.p2);
        Options o;
        o.p2Ms = c.p2;
        StartSim(o);
        line_->Drain();
        const auto t0 = std::chrono::steady_clock::now();
        line_->Send(Hex("82 10 F1 3E 01 C2"));
        const Bytes echo = line_->ReadCount(6, 500);
        EXPECT_EQ(echo, Hex("82 10 F1 3E 01 C2"));
        const Bytes answer = line_->ReadCount(5, 1000);
        const auto ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        EXPECT_EQ(answer, Hex("81 F1 10 7E 00"));
        EXPECT_GE(ms, c.atLeastMs);
        EXPECT_LT(ms, c.atLeastMs + 1000.0);
        // The request list tells when the answer was due.
        const auto requests = sim_->Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_GE(requests[0].answerAt - requests[0].at,
                  std::chrono::microseconds(static_cast<int>(c.atLeastMs * 1000)));
        line_.reset();
        sim_.reset();
    }
}

struct FaultCase {
    const char* name;
    Faults faults;
    const char* expected;  // what comes back within 150 ms for TesterPresent
};

Faults Only(double Faults::*field) {
    Faults f;
    f.*field = 1.0;
    return f;
}

TEST_F(EcuLine, EachEcuFaultKind) {
    StartSim();
    const FaultCase cases[] = {
        {"none", Faults{}, "82 10 F1 3E 01 C2 81 F1 10 7E 00"},
        {"silence", Only(&Faults::silence), "82 10 F1 3E 01 C2"},
        {"noChecksum", Only(&Faults::noChecksum), "82 10 F1 3E 01 C2 81 F1 10 7E 01"},
        {"noEcho", Only(&Faults::noEcho), "81 F1 10 7E 00"},
        {"negative", Only(&Faults::negative), "82 10 F1 3E 01 C2 83 F1 10 7F 3E 11 52"},
        {"late", Only(&Faults::late), "82 10 F1 3E 01 C2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim_->SetFaults(c.faults);
        EXPECT_EQ(ToHex(line_->ExchangeExpecting(Hex("82 10 F1 3E 01 C2"), Hex(c.expected).size())),
                  c.expected);
    }
    // The late answer still arrives, well after its time.
    EXPECT_EQ(ToHex(line_->ReadFor(500)), "81 F1 10 7E 00");
    // A silenced write changes nothing; a negative one neither.
    const uint8_t before = sim_->Ram()[0x7CF7];
    sim_->SetFaults(Only(&Faults::silence));
    line_->Exchange(Hex("87 10 F1 3D 00 7C F7 02 AA 55 39"));
    sim_->SetFaults(Only(&Faults::negative));
    line_->Exchange(Hex("87 10 F1 3D 00 7C F7 02 AA 55 39"));
    EXPECT_EQ(sim_->Ram()[0x7CF7], before);
}

// Which requests meet a fault depends on the seed and the requests alone.
TEST_F(EcuLine, FaultProbabilitiesAreHonouredAndRepeatable) {
    auto pattern = [&](uint32_t seed) {
        Options o;
        o.seed = seed;
        o.faults.silence = 0.3;
        StartSim(o);
        for (int i = 0; i < 200; ++i) line_->Send(Hex("82 10 F1 3E 01 C2"));
        for (int i = 0; i < 300 && sim_->Requests().size() < 200; ++i) SleepMs(10);
        std::string answered;
        for (const auto& r : sim_->Requests()) answered += r.answered ? '1' : '0';
        line_.reset();
        sim_.reset();
        return answered;
    };
    const std::string a = pattern(5), b = pattern(5), c = pattern(6);
    ASSERT_EQ(a.size(), 200u);
    const auto count = std::count(a.begin(), a.end(), '1');
    EXPECT_GT(count, 200 * 0.55);
    EXPECT_LT(count, 200 * 0.85);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(SimLinks, PublishedReplacedRefusedAndRemoved) {
    char tmpl[] = "/tmp/korvane-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string ecu = dir + "/ecu", lc1 = dir + "/sub/lc1";  // folders are made
    ASSERT_EQ(::symlink("/nonexistent/stale", ecu.c_str()), 0);    // left by a crash
    {
        Options o;
        o.ecuLink = ecu;
        o.lc1Link = lc1;
        o.fast = true;
        Simulator sim(o);
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        EXPECT_EQ(sim.EcuPath(), ecu);
        char target[256] = {};
        ASSERT_GT(::readlink(ecu.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
        Line line(ecu, 10400);
        EXPECT_EQ(line.Exchange(Hex("81 10 F1 81 03")), Hex("81 10 F1 81 03 83 F1 10 C1 6B 8F 3F"));
        sim.Stop();
        struct stat st {};
        EXPECT_NE(::lstat(ecu.c_str(), &st), 0);
        EXPECT_NE(::lstat(lc1.c_str(), &st), 0);
    }
    {
        FILE* f = std::fopen(lc1.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        Options o;
        o.ecuLink = ecu;
        o.lc1Link = lc1;
        Simulator sim(o);
        std::string error;
        EXPECT_FALSE(sim.Start(&error));
        EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
        struct stat st {};
        EXPECT_EQ(::lstat(lc1.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_NE(::lstat(ecu.c_str(), &st), 0);  // the ECU link of the failed start is gone
    }
    ::unlink(lc1.c_str());
    ::rmdir((dir + "/sub").c_str());
    ::rmdir(dir.c_str());
}

TEST_F(EcuLine, PortCanBeClosedAndOpenedAgain) {
    StartSim();
    line_.reset();
    // The closed port leaves no exclusive-use flag behind (it would keep
    // every user but root from opening it again).
    int exclusive = -1;
    for (int i = 0; i < 100 && exclusive != 0; ++i) {
        SleepMs(10);
        const int fd = ::open(sim_->EcuPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        ::close(fd);
    }
    EXPECT_EQ(exclusive, 0);
    Line again(sim_->EcuPath(), 10400);
    EXPECT_EQ(again.Exchange(Hex("82 10 F1 3E 01 C2")), Hex("82 10 F1 3E 01 C2 81 F1 10 7E 00"));
}

struct WakeUpCase {
    const char* name;
    bool fastInit;  // --init fast
    int byte;       // sent at 360 baud before the start; -1: none
    int gapMs;      // from that byte to the start
    bool answered;
};

void PrintTo(const WakeUpCase& c, std::ostream* os) {
    *os << c.name;
}

class WakeUpLine : public EcuLine, public ::testing::WithParamInterface<WakeUpCase> {};

TEST_P(WakeUpLine, StartCommunicationNeedsTheWakeUpJustBeforeIt) {
    const auto& c = GetParam();
    std::mutex mutex;
    std::vector<std::string> notes;
    Options o;
    o.fastInit = c.fastInit;
    o.onNote = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        notes.push_back(line);
    };
    StartSim(o);
    const Bytes start = Hex("81 10 F1 81 03");
    const Bytes answer = Hex("83 F1 10 C1 6B 8F 3F");
    // The pattern, then the start after the gap. The adapter echoes the
    // pattern like any byte. A busy machine may stretch the gap the
    // simulator measures: then the attempt is made again.
    Bytes expected = c.answered ? Concat(start, answer) : start;
    if (c.byte >= 0) expected.insert(expected.begin(), static_cast<uint8_t>(c.byte));
    Bytes got;
    std::vector<SeenRequest> seen;
    for (int attempt = 0; attempt < 3; ++attempt) {
        sim_->ClearRequests();
        {
            std::lock_guard lock(mutex);
            notes.clear();
        }
        line_->Drain();
        if (c.byte >= 0) {
            const auto sent = std::chrono::steady_clock::now();
            ASSERT_TRUE(line_->SetSpeed(360));
            line_->Send({static_cast<uint8_t>(c.byte)});
            SleepMs(c.gapMs / 2);
            ASSERT_TRUE(line_->SetSpeed(10400));
            std::this_thread::sleep_until(sent + std::chrono::milliseconds(c.gapMs));
        }
        line_->Send(start);
        got = line_->ReadCount(expected.size(), 2000);
        const Bytes more = line_->ReadFor(100);
        got.insert(got.end(), more.begin(), more.end());
        seen = sim_->Requests();
        if (c.byte != 0x00 || seen.size() != 1 ||
            (seen[0].wakeUpMs >= c.gapMs - 5 && seen[0].wakeUpMs <= c.gapMs + 20))
            break;
        SleepMs(300);
    }
    EXPECT_EQ(ToHex(got), ToHex(expected));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].answered, c.answered);
    if (c.byte == 0x00) {
        EXPECT_GE(seen[0].wakeUpMs, c.gapMs - 5);
        EXPECT_LE(seen[0].wakeUpMs, c.gapMs + 20);
    } else {
        EXPECT_EQ(seen[0].wakeUpMs, -1);
    }
    // What it saw is told line by line: the pattern, then the start.
    std::lock_guard lock(mutex);
    ASSERT_EQ(notes.size(), c.byte >= 0 ? 2u : 1u);
    if (c.byte == 0x00) {
        EXPECT_EQ(notes[0], "wake-up: 0x00 at 360 baud");
    } else if (c.byte > 0) {
        EXPECT_EQ(notes[0], "no wake-up: 0x55 at 360 baud");
    }
    const std::string& last = notes.back();
    EXPECT_EQ(last.rfind("StartCommunication", 0), 0u) << last;
    const std::string refused = ": not answered";
    EXPECT_EQ(last.size() > refused.size() &&
                  last.compare(last.size() - refused.size(), refused.size(), refused) == 0,
              !c.answered)
        << last;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WakeUpLine,
    ::testing::Values(WakeUpCase{"WakeUpThenStart", true, 0x00, 50, true},
                      WakeUpCase{"NoWakeUp", true, -1, 0, false},
                      WakeUpCase{"WakeUpLongBefore", true, 0x00, 200, false},
                      WakeUpCase{"NotAZeroByte", true, 0x55, 50, false},
                      WakeUpCase{"PlainEcuTakesThePatternForNoFrame", false, 0x00, 50, true},
                      WakeUpCase{"PlainEcuWithoutPattern", false, -1, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvane::sim::test
