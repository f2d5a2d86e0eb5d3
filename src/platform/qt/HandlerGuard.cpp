#include "platform/qt/HandlerGuard.h"

#include <QEventLoop>

namespace korvane::platform {

HandlerGuard::HandlerGuard(QObject* parent) : QObject(parent) {}

void HandlerGuard::Connect(QTimer* timer, std::function<void()> handler) {
    QObject::connect(timer, &QTimer::timeout, this, [this, t = QPointer<QTimer>(timer), handler] {
        if (Waiting())
            Hold({t, handler, true});
        else
            handler();
    });
}

void HandlerGuard::RunGuarded(std::function<void()> fn) {
    if (Waiting())
        Hold({nullptr, std::move(fn), false});
    else
        fn();
}

void HandlerGuard::Hold(Held held) {
    // One missed tick per timer is enough: a timer handler looks at the
    // state as it is, not at how many ticks it missed.
    if (held.fromTimer)
        for (const auto& h : held_)
            if (h.fromTimer && h.timer == held.timer) return;
    held_.push_back(std::move(held));
}

void HandlerGuard::Wait(int ms) {
    ++depth_;
    if (waitFn_) {
        waitFn_(ms);
    } else if (ms > 0) {
        // A local loop that sleeps until its own timer or an event arrives;
        // user input stays queued for later.
        QEventLoop loop;
        QTimer done;
        done.setSingleShot(true);
        done.setTimerType(Qt::PreciseTimer);  // never shorter than asked
        QObject::connect(&done, &QTimer::timeout, &loop, &QEventLoop::quit);
        done.start(ms);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    --depth_;
    // The held handlers run after the waiting handler has returned to the
    // event loop, never in the middle of it.
    if (depth_ == 0 && !held_.empty() && !runScheduled_) {
        runScheduled_ = true;
        QTimer::singleShot(0, this, [this] { RunHeld(); });
    }
}

void HandlerGuard::RunHeld() {
    runScheduled_ = false;
    if (Waiting()) return;  // a later wait reschedules them
    auto held = std::move(held_);
    held_.clear();
    for (size_t i = 0; i < held.size(); ++i) {
        if (Waiting()) {
            // A handler began another wait: hand the rest back to it.
            for (size_t j = i; j < held.size(); ++j) Hold(std::move(held[j]));
            return;
        }
        auto& h = held[i];
        if (h.fromTimer && (h.timer.isNull() || !h.timer->isActive())) continue;
        h.handler();
    }
}

}  // namespace korvane::platform
