#include "app/Reconnect.h"

namespace korvane::app {

void Reconnector::Arm(int64_t nowMs) {
    state_ = State::Watching;
    since_ = nowMs;
    attempts_ = 0;
}

Reconnector::Action Reconnector::Tick(int64_t nowMs, bool sessionUp, bool dropped,
                                      bool connectPending) {
    switch (state_) {
        case State::Off:
            return Action::None;
        case State::Watching:
            if (!dropped) return Action::None;
            state_ = State::Waiting;
            since_ = nowMs;
            attempts_ = 0;
            return Action::Disconnect;
        case State::Waiting:
            if (nowMs - since_ < kAttemptEveryMs) return Action::None;
            state_ = State::Attempting;
            since_ = nowMs;
            ++attempts_;
            return Action::Connect;
        case State::Attempting:
            if (sessionUp) {
                state_ = State::Watching;
                return Action::Restored;
            }
            // An attempt still waiting for the worker's answer is never
            // overtaken (a start may wait out the ECU's session time-out):
            // the next one would only tear down what this one brings up.
            if (connectPending || (!dropped && nowMs - since_ < kAttemptLastsMs))
                return Action::None;
            // This attempt failed: close what it opened; the next one starts
            // one period after this one did.
            state_ = State::Waiting;
            return Action::Disconnect;
    }
    return Action::None;
}

LinkDrop::Look LinkDrop::Observe(int32_t isDiagnostic, int32_t isComConnected, bool deviceGone) {
    Look look;
    look.sessionUp = isDiagnostic == 1 && isComConnected == 1;
    if (look.sessionUp) stood_ = true;
    // The worker closed the port under a standing session (too many
    // errors), or the device itself is gone (an adapter pulled out).
    look.dropped = (stood_ && isComConnected == 0) || deviceGone;
    return look;
}

}  // namespace korvane::app
