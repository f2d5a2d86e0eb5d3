#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "platform/qt/HandlerGuard.h"

using korvane::platform::HandlerGuard;

namespace {

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

double ThreadCpuMs() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

}  // namespace

// A timer that ticks many times during a wait gets one late run, after the
// waiting handler has returned; one stopped meanwhile gets none.
TEST(HandlerGuard, TicksInsideAWaitRunOnceAfterwardsAndOnlyWhileTheTimerRuns) {
    HandlerGuard guard;
    QTimer running, stopped;
    running.setInterval(5);
    stopped.setInterval(5);
    int runningTicks = 0, stoppedTicks = 0;
    bool ranInsideWait = false;
    guard.Connect(&running, [&] {
        ++runningTicks;
        ranInsideWait |= guard.Waiting();
    });
    guard.Connect(&stopped, [&] { ++stoppedTicks; });
    running.start();
    stopped.start();

    int afterWait = -1;
    int stoppedBefore = -1;
    int atHandlerEnd = -1;
    QTimer::singleShot(0, [&] {
        stoppedBefore = stoppedTicks;
        const int before = runningTicks;
        guard.Wait(120);
        stopped.stop();
        running.setInterval(60000);         // still running, but no new tick soon
        afterWait = runningTicks - before;  // still inside the handler
        atHandlerEnd = runningTicks;
    });
    Pump(60);
    while (afterWait < 0) Pump(10);
    Pump(30);

    EXPECT_EQ(afterWait, 0);
    EXPECT_EQ(stoppedTicks, stoppedBefore);
    EXPECT_FALSE(ranInsideWait);
    EXPECT_EQ(runningTicks - atHandlerEnd, 1);
}

TEST(HandlerGuard, WaitSleepsAndStillServesQueuedCalls) {
    HandlerGuard guard;
    bool served = false;
    QObject target;
    QTimer::singleShot(20, &target,
                       [&] { served = true; });  // not guarded: like a worker's log call
    const double cpu0 = ThreadCpuMs();
    QElapsedTimer t;
    t.start();
    guard.Wait(300);
    const double cpu = ThreadCpuMs() - cpu0;
    EXPECT_GE(t.elapsed(), 290);
    EXPECT_TRUE(served);
    // A spinning wait burns the whole 300 ms of CPU.
    EXPECT_LT(cpu, 100.0);
}

TEST(HandlerGuard, GuardedStepsWaitForTheHandlerThatWaits) {
    HandlerGuard guard;
    std::vector<std::string> order;
    QTimer::singleShot(0, [&] {
        order.push_back("handler starts");
        QTimer::singleShot(10, [&] { guard.RunGuarded([&] { order.push_back("step"); }); });
        guard.Wait(50);
        order.push_back("handler ends");
    });
    Pump(150);
    EXPECT_EQ(order, (std::vector<std::string>{"handler starts", "handler ends", "step"}));
}
