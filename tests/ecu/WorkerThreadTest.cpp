// The worker on its own thread with the real clock: what it does when it
// has nothing to do, and how fast it ends when asked to, whatever pauses
// the user set.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "EcuTestSupport.h"
#include "ecu/ECUThread.h"
#include "platform/Clock.h"
#include "platform/fakes/CountingClock.h"
#include "tests/support/Pty.h"

using namespace korvane;
using namespace korvane::ecu;
using namespace std::chrono_literals;

namespace {

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds most = 10s) {
    const auto until = std::chrono::steady_clock::now() + most;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Stop() in a thread of its own: a join that never returns ends the test
// program with a message instead of hanging the run.
void StopOrDie(TECUThread& worker) {
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        worker.Stop();
        stopped = true;
    });
    if (!WaitFor([&] { return stopped.load(); }, 10s)) {
        std::fprintf(stderr, "TECUThread::Stop() did not return within 10 s\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
    stopper.join();
}

}  // namespace

TEST(WorkerThread, IdleWorkerWaitsForAWordWithoutWakingUp) {
    platform::CountingClock clock;
    platform::FakeSerialPort port;
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    TECUThread w(
        bridge, view, [&] { return std::make_unique<platform::ForwardingSerialPort>(port); },
        clock);
    w.Start();
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(clock.sleeps, 1);

    // A word is taken at once, and the worker is idle again after it.
    ASSERT_NE(w.Post(EcuCommand::Poll()), 0u);
    EXPECT_TRUE(WaitFor([&] { return w.Idle(); }, 2s));
    const int after = clock.sleeps;
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(clock.sleeps - after, 1);

    // Held back by the missing-port guard: the word stays, and the worker
    // looks at the guard only now and then.
    w.SetPortGuard(true);
    ASSERT_NE(w.Post(EcuCommand::Poll()), 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(w.Pending(), "DiagnosticECU");
    EXPECT_LE(clock.sleeps - after, 1);
    w.SetPortGuard(false);
    EXPECT_TRUE(WaitFor([&] { return w.Idle(); }, 3s));
    StopOrDie(w);
}

struct LongPause {
    const char* name;
    int32_t before;  // Таймаут1
    int32_t after;   // Таймаут2
    int32_t fast;
};
void PrintTo(const LongPause& c, std::ostream* os) {
    *os << c.name;
}

class StopDuringAPause : public ::testing::TestWithParam<LongPause> {};

// Nobody answers on the line, so the worker sits in its first exchange's
// pause when it is asked to end.
TEST_P(StopDuringAPause, EndsAtOnce) {
    const LongPause& c = GetParam();
    korvane::test::Pty line;
    ASSERT_FALSE(line.slave.empty());
    ::fcntl(line.master, F_SETFL, O_NONBLOCK);
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    TECUThread w(bridge, view);
    w.PortName = line.slave;
    w.PortSpeed = "38400";
    w.PortTimeOut = c.before;
    w.PortReadTimeOut = c.after;
    w.FastExchange = c.fast;
    w.Start();
    w.Post(ecu::test::OpenAsSet(w));
    if (c.before > 1000) {
        ASSERT_TRUE(WaitFor([&] {
            const auto lines = view.Lines();
            return !lines.empty() && lines.back() == "ECU: >> Starting Communication";
        }));
    } else {
        // The request has gone out: the worker waits for the answer.
        Bytes seen;
        ASSERT_TRUE(WaitFor([&] {
            uint8_t buf[16];
            const ssize_t n = ::read(line.master, buf, sizeof buf);
            if (n > 0) seen.insert(seen.end(), buf, buf + n);
            return seen.size() >= 5;
        }));
        EXPECT_EQ(seen, ecu::test::H("81 10 F1 81 03"));
    }
    std::this_thread::sleep_for(50ms);
    StopOrDie(w);
    EXPECT_EQ(w.IsECUConnected, 0);
}

INSTANTIATE_TEST_SUITE_P(Pauses, StopDuringAPause,
                         ::testing::Values(LongPause{"LongPauseBefore", 30000, 150, 0},
                                           LongPause{"LongestReadPause", 0, INT32_MAX, 0},
                                           LongPause{"LongestReadPauseFast", 0, INT32_MAX, 1}),
                         [](const auto& info) { return std::string(info.param.name); });
