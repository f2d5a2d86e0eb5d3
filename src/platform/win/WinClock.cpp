#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "platform/Clock.h"

namespace korvane::platform {

StopSignal::StopSignal() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

StopSignal::~StopSignal() {
    if (event_ != nullptr) ::CloseHandle(event_);
}

void StopSignal::Raise() {
    raised_ = true;
    if (event_ != nullptr) ::SetEvent(event_);
}

int64_t SystemClock::NowMs() {
    // QueryPerformanceCounter: monotonic and unaffected by clock changes.
    LARGE_INTEGER freq{}, now{};
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&now);
    return static_cast<int64_t>(now.QuadPart / freq.QuadPart * 1000 +
                                now.QuadPart % freq.QuadPart * 1000 / freq.QuadPart);
}

void SystemClock::SleepMs(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool SystemClock::Pause(int64_t ms, const StopSignal& stop) {
    const int64_t until = NowMs() + std::max<int64_t>(ms, 0);
    for (;;) {
        if (stop.Raised()) return false;
        const int64_t left = until - NowMs();
        if (left <= 0) return true;
        const auto slice = static_cast<DWORD>(std::min<int64_t>(left, INT_MAX));
        if (stop.Event() != nullptr) {
            ::WaitForSingleObject(stop.Event(), slice);
        } else {
            SleepMs(std::min<DWORD>(slice, 10));
        }
    }
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace korvane::platform
