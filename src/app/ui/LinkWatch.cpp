#include "app/ui/LinkWatch.h"

#include <unistd.h>

#include <QTimer>
#include <string>

#include "ecu/ECUThread.h"
#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "platform/PortList.h"
#include "platform/qt/HandlerGuard.h"

namespace korvane::app {

LinkWatch::LinkWatch(Window window, QObject* parent) : QObject(parent), window_(std::move(window)) {
    setObjectName(QStringLiteral("LinkWatch"));
    monotonic_.start();
    ReconnectTimer = new QTimer(this);
    ReconnectTimer->setObjectName(QStringLiteral("ReconnectTimer"));
    ReconnectTimer->setInterval(1000);
    window_.guard->Connect(ReconnectTimer, [this] { ReconnectTimerTimer(); });
}

void LinkWatch::DiagnosticsStarted() {
    const ecu::EcuStatus status = window_.ecu->Status();
    health_.Reset(monotonic_.elapsed(), status.numlog);
    seenFreshFrames_ = status.FreshFrames;
    ShowStale(false);
}

void LinkWatch::WatchLinkHealth(const ecu::EcuStatus& status) {
    const int32_t fresh = status.FreshFrames;
    const bool newFrame = fresh != seenFreshFrames_;
    seenFreshFrames_ = fresh;
    switch (health_.Observe(monotonic_.elapsed(), status.numlog, newFrame)) {
        case live::LinkHealth::Change::WentStale:
            window_.log(QStringLiteral("ECU не отвечает"));
            ShowStale(true);
            break;
        case live::LinkHealth::Change::CameBack:
            window_.log(QStringLiteral("ECU снова отвечает"));
            ShowStale(false);
            break;
        case live::LinkHealth::Change::None:
            break;
    }
}

void LinkWatch::ShowStale(bool stale) {
    window_.dashboard->SetStale(stale);
    window_.diagnostics->SetStale(stale);
}

void LinkWatch::Connecting(bool arm) {
    drop_.Reset();
    if (arm) {
        reconnect_.Arm(monotonic_.elapsed());
        ReconnectTimer->start();
    }
}

void LinkWatch::Disconnecting() {
    reconnect_.Disarm();
    ReconnectTimer->stop();
}

void LinkWatch::ReconnectTimerTimer() {
    const ecu::EcuStatus status = window_.ecu->Status();
    const std::string device = platform::DevicePathForPortName(window_.portName());
    const bool vanished = ::access(device.c_str(), F_OK) != 0;
    const auto look = drop_.Observe(status.IsDiagnostic, status.IsComConnected, vanished);
    const bool pending = window_.connectPending && window_.connectPending();
    switch (reconnect_.Tick(monotonic_.elapsed(), look.sessionUp, look.dropped, pending)) {
        case Reconnector::Action::Disconnect:
            if (reconnect_.Attempts() == 0) {
                window_.log(QStringLiteral("Связь с ECU потеряна: переподключение каждые 3 с"));
                window_.dropped();
            }
            window_.disconnect();
            drop_.Reset();
            break;
        case Reconnector::Action::Connect:
            window_.log(
                QStringLiteral("Переподключение к ECU, попытка %1").arg(reconnect_.Attempts()));
            window_.connect();
            break;
        case Reconnector::Action::Restored:
            // The session's own event has completed the connect (and taken
            // the tuning up again).
            window_.log(QStringLiteral("Связь с ECU восстановлена"));
            break;
        case Reconnector::Action::None:
            break;
    }
}

}  // namespace korvane::app
