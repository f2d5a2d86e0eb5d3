#pragma once
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/Clock.h"

namespace korvane::platform {

// A clock that never sleeps: SleepMs only advances the time, so tests of
// pauses and time-outs run instantly and can check how long was waited.
class FakeClock final : public Clock {
  public:
    int64_t NowMs() override { return now_.load(); }
    void SleepMs(int64_t ms) override {
        {
            std::lock_guard lock(mutex_);
            sleeps_.push_back(ms);
        }
        if (ms > 0) now_ += ms;
    }
    void Advance(int64_t ms) { now_ += ms; }
    // Every sleep asked for, in order (pauses and waits for input alike).
    std::vector<int64_t> Sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }
    void ClearSleeps() {
        std::lock_guard lock(mutex_);
        sleeps_.clear();
    }

  private:
    std::atomic<int64_t> now_{0};
    mutable std::mutex mutex_;
    std::vector<int64_t> sleeps_;
};

}  // namespace korvane::platform
