#include "platform/qt/QtUiBridge.h"

#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace korvane::platform {

struct QtUiBridge::Shared {
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;
};

QtUiBridge::QtUiBridge(QObject* target) : shared_(std::make_shared<Shared>()), target_(target) {}

QtUiBridge::~QtUiBridge() {
    Release();
}

bool QtUiBridge::Released(Shared& shared) {
    std::lock_guard lock(shared.mutex);
    return shared.released;
}

void QtUiBridge::Release() {
    std::lock_guard lock(shared_->mutex);
    shared_->released = true;
    shared_->cv.notify_all();
}

QObject* QtUiBridge::OpenTarget() const {
    QObject* target = target_.data();
    return Released(*shared_) ? nullptr : target;
}

void QtUiBridge::RunSync(const std::function<void()>& fn) {
    QObject* target = OpenTarget();
    if (target == nullptr) return;
    if (QThread::currentThread() == target->thread()) {
        fn();
        return;
    }
    auto shared = shared_;
    auto done = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        target,
        [shared, done, fn] {
            if (Released(*shared)) return;
            fn();
            std::lock_guard lock(shared->mutex);
            *done = true;
            shared->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shared->mutex);
    shared->cv.wait(lock, [&] { return *done || shared->released; });
}

void QtUiBridge::Post(std::function<void()> fn) {
    QObject* target = OpenTarget();
    if (target == nullptr) return;
    if (QThread::currentThread() == target->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(
        target,
        [shared = shared_, fn = std::move(fn)] {
            if (Released(*shared)) return;
            fn();
        },
        Qt::QueuedConnection);
}

}  // namespace korvane::platform
