#pragma once
#include <cstdint>

namespace korvane::platform {

// Milliseconds on a monotonic clock and a sleep, so pauses can be faked in
// unit tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t NowMs() = 0;
    virtual void SleepMs(int64_t ms) = 0;
};

class SystemClock final : public Clock {
public:
    int64_t NowMs() override;
    void SleepMs(int64_t ms) override;
    // One shared instance for production code.
    static SystemClock& Instance();
};

}  // namespace korvane::platform
