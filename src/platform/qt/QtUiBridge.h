#pragma once
#include <QObject>
#include <QPointer>
#include <memory>

#include "platform/UiBridge.h"

namespace korvane::platform {

// Runs worker actions on the thread of `target` (the window) and waits for
// them. Release() (called when the window closes) wakes every waiting worker
// and makes later calls return at once, so shutdown cannot deadlock.
class QtUiBridge final : public UiBridge {
  public:
    explicit QtUiBridge(QObject* target);
    ~QtUiBridge() override;
    void RunSync(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;
    void Release();

  private:
    struct Shared;
    static bool Released(Shared& shared);
    // The window while the bridge is open; null once released or gone.
    QObject* OpenTarget() const;
    std::shared_ptr<Shared> shared_;
    QPointer<QObject> target_;
};

}  // namespace korvane::platform
