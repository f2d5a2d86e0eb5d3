#include "platform/Clock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

namespace korvane::platform {

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

StopSignal::~StopSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void StopSignal::Raise() {
    raised_ = true;
    if (fd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }
}

int64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::SleepMs(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool SystemClock::Pause(int64_t ms, const StopSignal& stop) {
    using namespace std::chrono;
    const auto until = steady_clock::now() + milliseconds(std::max<int64_t>(ms, 0));
    for (;;) {
        if (stop.Raised()) return false;
        const auto now = steady_clock::now();
        if (now >= until) return true;
        // Rounded up, so the pause is never shorter than asked.
        const int64_t left = duration_cast<milliseconds>(until - now + microseconds(999)).count();
        const int slice = static_cast<int>(std::min<int64_t>(left, INT_MAX));
        if (stop.Fd() >= 0) {
            pollfd p{stop.Fd(), POLLIN, 0};
            if (::poll(&p, 1, slice) < 0 && errno != EINTR) SleepMs(std::min(slice, 10));
        } else {
            // No descriptor to wait on: look at the flag every few ms.
            SleepMs(std::min(slice, 10));
        }
    }
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace korvane::platform
