#pragma once
#include <atomic>

#include "platform/Clock.h"

namespace korvane::platform {

// A clock that never sleeps: SleepMs only advances the time, so tests of
// pauses and time-outs run instantly and can check how long was waited.
class FakeClock final : public Clock {
public:
    int64_t NowMs() override { return now_.load(); }
    void SleepMs(int64_t ms) override {
        if (ms > 0) now_ += ms;
    }
    void Advance(int64_t ms) { now_ += ms; }

private:
    std::atomic<int64_t> now_{0};
};

}  // namespace korvane::platform
