// Watches the link to the ECU while the window is connected. The live views
// turn grey while the ECU does not answer; with reconnecting on its own
// switched on ("Переподключаться"), a dropped link is disconnected and
// connected again every few seconds, the way the buttons do it, but keeping
// the session folder, the logs and the tuning going.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

#include "app/Reconnect.h"
#include "live/LinkHealth.h"

class QTimer;

namespace korvane::ecu {
class TECUThread;
}
namespace korvane::live {
class DashboardView;
class DiagnosticsView;
}  // namespace korvane::live
namespace korvane::platform {
class HandlerGuard;
}

namespace korvane::app {

class LinkWatch final : public QObject {
    Q_OBJECT
  public:
    // What the window lends the watch.
    struct Window {
        ecu::TECUThread* ecu = nullptr;
        // The views that turn grey while the figures are not live.
        live::DashboardView* dashboard = nullptr;
        live::DiagnosticsView* diagnostics = nullptr;
        // The window's guard: the reconnect timer's ticks go through it.
        platform::HandlerGuard* guard = nullptr;
        std::function<void(const QString&)> log;
        // The connect and disconnect buttons' handlers.
        std::function<void()> connect;
        std::function<void()> disconnect;
        // Between attempts the window stays connected for the user (the
        // disconnect button stops the attempts) and shows `state`.
        std::function<void(const QString& state)> showReconnecting;
        std::function<bool()> tuningActive;
        std::function<void()> resumeTuning;
    };

    LinkWatch(Window window, QObject* parent = nullptr);

    // Polling started (again): the health watch begins now.
    void DiagnosticsStarted();
    // One engine tick: greys or restores the views when the answers stop
    // or come back.
    void WatchLinkHealth();
    // The figures on screen are no longer live.
    bool Stale() const { return health_.Stale(); }

    // The connect handler asked the port to open; `reconnectOn` is the
    // user's setting, taken only on a connect of the user's own.
    void Connecting(bool reconnectOn);
    // The disconnect handler runs: one of the user's own ends reconnecting.
    void Disconnecting();
    // The connect or disconnect handler is running on the watch's behalf.
    bool AutomaticStep() const { return automaticStep_; }
    bool Reconnecting() const { return reconnect_.Reconnecting(); }

    // Looks at the link while reconnecting on its own is on.
    void ReconnectTimerTimer();
    QTimer* ReconnectTimer = nullptr;  // child of the watch

  private:
    void ShowStale(bool stale);
    void Automatic(const std::function<void()>& step);

    Window window_;
    QElapsedTimer monotonic_;
    live::LinkHealth health_;
    int32_t seenFreshFrames_ = 0;
    Reconnector reconnect_;
    LinkDrop drop_;
    bool automaticStep_ = false;
    bool tuningBeforeDrop_ = false;
};

}  // namespace korvane::app
