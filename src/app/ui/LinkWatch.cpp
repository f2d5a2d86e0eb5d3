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
    health_.Reset(monotonic_.elapsed(), window_.ecu->numlog);
    seenFreshFrames_ = window_.ecu->FreshFrames;
    ShowStale(false);
}

void LinkWatch::WatchLinkHealth() {
    const int32_t fresh = window_.ecu->FreshFrames;
    const bool newFrame = fresh != seenFreshFrames_;
    seenFreshFrames_ = fresh;
    switch (health_.Observe(monotonic_.elapsed(), window_.ecu->numlog, newFrame)) {
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

void LinkWatch::Connecting(bool reconnectOn) {
    drop_.Reset();
    if (!automaticStep_ && reconnectOn) {
        reconnect_.Arm(monotonic_.elapsed());
        ReconnectTimer->start();
    }
}

void LinkWatch::Disconnecting() {
    if (automaticStep_) return;
    reconnect_.Disarm();
    ReconnectTimer->stop();
}

void LinkWatch::Automatic(const std::function<void()>& step) {
    automaticStep_ = true;
    step();
    automaticStep_ = false;
}

void LinkWatch::ReconnectTimerTimer() {
    ecu::TECUThread& ecu = *window_.ecu;
    const std::string device = platform::DevicePathForPortName(ecu.PortName.Get());
    const bool vanished = ::access(device.c_str(), F_OK) != 0;
    const auto look = drop_.Observe(ecu.IsDiagnostic, ecu.IsComConnected, vanished);
    switch (reconnect_.Tick(monotonic_.elapsed(), look.sessionUp, look.dropped)) {
        case Reconnector::Action::Disconnect:
            if (reconnect_.Attempts() == 0) {
                window_.log(QStringLiteral("Связь с ECU потеряна: переподключение каждые 3 с"));
                tuningBeforeDrop_ = window_.tuningActive();
            }
            Automatic(window_.disconnect);
            drop_.Reset();
            window_.showReconnecting(QStringLiteral("Переподключение..."));
            break;
        case Reconnector::Action::Connect:
            window_.log(
                QStringLiteral("Переподключение к ECU, попытка %1").arg(reconnect_.Attempts()));
            Automatic(window_.connect);
            break;
        case Reconnector::Action::Restored:
            window_.log(QStringLiteral("Связь с ECU восстановлена"));
            if (tuningBeforeDrop_) window_.resumeTuning();
            break;
        case Reconnector::Action::None:
            break;
    }
}

}  // namespace korvane::app
