#pragma once
// Whether the ECU still answers. A poll that receives nothing fails
// silently in the exchange, so the window judges from what arrives: no
// valid diagnostic frame for a second and for five polls (whichever takes
// longer) means the figures on screen are no longer live.
#include <cstdint>

namespace korvane::live {

class LinkHealth {
  public:
    static constexpr int64_t kStaleAfterMs = 1000;
    static constexpr int32_t kStaleAfterPolls = 5;

    enum class Change { None, WentStale, CameBack };

    // Diagnostics start (or start again): the watch begins now.
    void Reset(int64_t nowMs, int32_t numlog);
    // One engine tick: the time, the worker's poll count and whether a
    // valid frame arrived since the last tick.
    Change Observe(int64_t nowMs, int32_t numlog, bool newValidFrame);
    bool Stale() const { return stale_; }

  private:
    int64_t lastFrameMs_ = 0;
    int32_t lastFramePolls_ = 0;
    bool stale_ = false;
};

}  // namespace korvane::live
