#include "live/LinkHealth.h"

namespace korvane::live {

void LinkHealth::Reset(int64_t nowMs, int32_t numlog) {
    lastFrameMs_ = nowMs;
    lastFramePolls_ = numlog;
    stale_ = false;
}

LinkHealth::Change LinkHealth::Observe(int64_t nowMs, int32_t numlog, bool newValidFrame) {
    if (newValidFrame) {
        lastFrameMs_ = nowMs;
        lastFramePolls_ = numlog;
        if (!stale_) return Change::None;
        stale_ = false;
        return Change::CameBack;
    }
    if (stale_) return Change::None;
    if (nowMs - lastFrameMs_ >= kStaleAfterMs && numlog - lastFramePolls_ >= kStaleAfterPolls) {
        stale_ = true;
        return Change::WentStale;
    }
    return Change::None;
}

}  // namespace korvane::live
