// Keeps the window's handlers from running inside one another. A handler
// that has to pause waits here: the workers' calls into the window are
// still served, but no guarded timer handler and no user input runs until
// the wait is over, and the wait sleeps instead of spinning. A timer tick
// that fell inside a wait runs once afterwards, and only if its timer is
// still running then.
#pragma once
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

namespace korvane::platform {

class HandlerGuard final : public QObject {
  public:
    explicit HandlerGuard(QObject* parent = nullptr);

    // Replaces the real wait (tests); the guard still holds ticks off while
    // it runs.
    void SetWaitFunction(std::function<void(int ms)> wait) { waitFn_ = std::move(wait); }

    // Connects the timer's ticks to the handler through the guard.
    void Connect(QTimer* timer, std::function<void()> handler);
    // Runs fn now, or once the current wait is over (for single-shot steps
    // that must not run inside another handler).
    void RunGuarded(std::function<void()> fn);

    void Wait(int ms);
    bool Waiting() const { return depth_ > 0; }

  private:
    struct Held {
        QPointer<QTimer> timer;  // null for a RunGuarded step
        std::function<void()> handler;
        bool fromTimer = false;
    };
    void Hold(Held held);
    void RunHeld();

    std::function<void(int)> waitFn_;
    int depth_ = 0;
    bool runScheduled_ = false;
    std::vector<Held> held_;
};

}  // namespace korvane::platform
