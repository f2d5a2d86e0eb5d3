// Watches the link to the ECU while the window is connected. The live views
// turn grey while the ECU does not answer; with reconnecting on its own
// switched on ("Переподключаться"), a dropped link is disconnected and
// connected again every few seconds through the window's session steps,
// keeping the session folder, the logs and the tuning going.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "app/Reconnect.h"
#include "live/LinkHealth.h"

class QTimer;

namespace korvane::ecu {
class EcuCommands;
struct EcuStatus;
}  // namespace korvane::ecu
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
        ecu::EcuCommands* ecu = nullptr;
        // The ECU port of the connection being watched.
        std::function<std::string()> portName;
        // The views that turn grey while the figures are not live.
        live::DashboardView* dashboard = nullptr;
        live::DiagnosticsView* diagnostics = nullptr;
        // The window's guard: the reconnect timer's ticks go through it.
        platform::HandlerGuard* guard = nullptr;
        std::function<void(const QString&)> log;
        // The session's automatic connect and disconnect.
        std::function<void()> connect;
        // The last connect still waits for the worker's answer.
        std::function<bool()> connectPending;
        std::function<void()> disconnect;
        // The link dropped: the session remembers what it has to restore.
        std::function<void()> dropped;
    };

    LinkWatch(Window window, QObject* parent = nullptr);

    // Polling started (again): the health watch begins now.
    void DiagnosticsStarted();
    // One engine tick: greys or restores the views when the answers stop
    // or come back.
    void WatchLinkHealth(const ecu::EcuStatus& status);
    // The figures on screen are no longer live.
    bool Stale() const { return health_.Stale(); }

    // A connect asked the port to open; `arm`: one of the user's own with
    // reconnecting switched on.
    void Connecting(bool arm);
    // The user disconnects: reconnecting ends.
    void Disconnecting();
    bool Reconnecting() const { return reconnect_.Reconnecting(); }

    // Looks at the link while reconnecting on its own is on.
    void ReconnectTimerTimer();
    QTimer* ReconnectTimer = nullptr;  // child of the watch

  private:
    void ShowStale(bool stale);

    Window window_;
    QElapsedTimer monotonic_;
    live::LinkHealth health_;
    int32_t seenFreshFrames_ = 0;
    Reconnector reconnect_;
    LinkDrop drop_;
};

}  // namespace korvane::app
