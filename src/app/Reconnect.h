// Reconnecting on its own: when the link to the ECU drops (the worker gave
// up after too many errors, or the port vanished, as a USB adapter pulled
// out does), the window disconnects and tries to connect again every few
// seconds until the session stands or the user disconnects.
#pragma once
#include <cstdint>

namespace korvane::app {

class Reconnector {
  public:
    static constexpr int64_t kAttemptEveryMs = 3000;
    // How long an attempt that the worker has answered may take to bring the
    // session up (the rest of the period lets the worker close the port
    // again); one still waiting for its answer is never cut short.
    static constexpr int64_t kAttemptLastsMs = 2500;

    enum class Action { None, Disconnect, Connect, Restored };

    // The user connected with reconnecting on, or disconnected.
    void Arm(int64_t nowMs);
    void Disarm() { state_ = State::Off; }
    bool Reconnecting() const { return state_ == State::Waiting || state_ == State::Attempting; }
    int Attempts() const { return attempts_; }

    // One look at the link: `sessionUp` when the worker polls, `dropped`
    // when the port closed under a standing session or vanished,
    // `connectPending` while the attempt's open has not been answered.
    Action Tick(int64_t nowMs, bool sessionUp, bool dropped, bool connectPending = false);

  private:
    enum class State { Off, Watching, Waiting, Attempting };
    State state_ = State::Off;
    int64_t since_ = 0;
    int attempts_ = 0;
};

// Whether the link is up or dropped, from what the ECU worker shows and
// whether its device still exists. A port that closes before the session
// has once stood is a connect still failing, not a drop: the attempt's own
// time-out deals with it.
class LinkDrop {
  public:
    struct Look {
        bool sessionUp = false;
        bool dropped = false;
    };
    // A connect begins, or the port was closed to try again: the new
    // session has not stood yet.
    void Reset() { stood_ = false; }
    Look Observe(int32_t isDiagnostic, int32_t isComConnected, bool deviceGone);

  private:
    bool stood_ = false;
};

}  // namespace korvane::app
