#pragma once
#include <atomic>
#include <cstdint>

namespace korvane::platform {

// Raised once, when a worker is asked to end. Every pause and port wait of
// that worker ends as soon as it is, so closing the program never waits out
// a long pause (the pauses are user settings and may be minutes).
class StopSignal {
  public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Any thread; raising twice is harmless.
    void Raise();
    bool Raised() const { return raised_.load(); }
    // A descriptor that becomes readable once the signal is raised, to wait
    // on together with a port; -1 if the system gave none.
    int Fd() const { return fd_; }
#ifdef _WIN32
    // On Windows an event set once the signal is raised (a HANDLE), for the
    // same use; null if the system gave none.
    void* Event() const {
        return event_;
    }
#endif

  private:
    std::atomic<bool> raised_{false};
    int fd_ = -1;
#ifdef _WIN32
    void* event_ = nullptr;
#endif
};

// Milliseconds on a monotonic clock and a sleep, so pauses can be faked in
// unit tests.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t NowMs() = 0;
    virtual void SleepMs(int64_t ms) = 0;
    // Sleeps ms, or less when stop is raised meanwhile. False when stopped
    // (at once if it already was).
    virtual bool Pause(int64_t ms, const StopSignal& stop) {
        if (stop.Raised()) return false;
        SleepMs(ms);
        return !stop.Raised();
    }
};

class SystemClock final : public Clock {
  public:
    int64_t NowMs() override;
    void SleepMs(int64_t ms) override;
    bool Pause(int64_t ms, const StopSignal& stop) override;
    // One shared instance for production code.
    static SystemClock& Instance();
};

}  // namespace korvane::platform
