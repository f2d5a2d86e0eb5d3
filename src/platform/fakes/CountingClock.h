#pragma once
#include <atomic>

#include "platform/Clock.h"

namespace korvane::platform {

// The real clock, counting every sleep and pause it is asked for, so a
// test can see a thread that wakes up when it has nothing to do.
class CountingClock final : public Clock {
  public:
    int64_t NowMs() override { return SystemClock::Instance().NowMs(); }
    void SleepMs(int64_t ms) override {
        ++sleeps;
        SystemClock::Instance().SleepMs(ms);
    }
    bool Pause(int64_t ms, const StopSignal& stop) override {
        ++sleeps;
        return SystemClock::Instance().Pause(ms, stop);
    }
    std::atomic<int> sleeps{0};
};

}  // namespace korvane::platform
