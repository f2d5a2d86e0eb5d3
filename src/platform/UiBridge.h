#pragma once
#include <functional>

namespace korvane::platform {

// How a worker thread runs a short action (append a log line, move the
// progress bar) on the UI thread: RunSync waits until it has run, Post hands
// it over and returns at once (actions posted keep their order). In the
// program it is a queued call into the window; in tests a direct call or a
// recorder. Once the window is closing, both return at once without running
// fn, so a worker can never block shutdown.
class UiBridge {
  public:
    virtual ~UiBridge() = default;
    virtual void RunSync(const std::function<void()>& fn) = 0;
    virtual void Post(std::function<void()> fn) { RunSync(fn); }
};

// Runs the action on the calling thread, serialised by a mutex so that
// several workers in a test never run two actions at once (as on a real UI
// thread).
class DirectUiBridge final : public UiBridge {
  public:
    void RunSync(const std::function<void()>& fn) override;
};

}  // namespace korvane::platform
