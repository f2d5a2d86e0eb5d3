// The session with the car, apart from the window: the two workers, the
// connect settings (checked before anything is asked of a port), the
// session folder, the live logs, reconnecting on its own and the one state
// that decides what the toolbar offers. No widgets here; the window shows
// what this decides.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ecu/Command.h"
#include "live/LiveLogs.h"

namespace korvane::ecu {
class LogView;
class TECUThread;
}  // namespace korvane::ecu
namespace korvane::lambda {
class TLAMBDAThread;
}
namespace korvane::platform {
class UiBridge;
}

namespace korvane::app {

enum class SessionState { Disconnected, Connecting, Live, Tuning, ReadingFirmware, Reconnecting };

struct ButtonState {
    int number;  // as in ToolButtonN
    bool enabled;
    friend bool operator==(const ButtonState&, const ButtonState&) = default;
};
// Every toolbar button that does something, with whether it is enabled in
// this state. The tuning start needs a loaded image. Without a connection an
// image file may be opened, and an opened image shown in the tuning grid and
// edited in the map editor; the connect's own steps (the default image, the
// session start) run with these closed again.
std::vector<ButtonState> ToolbarButtons(SessionState state, bool firmwareLoaded);
// "Сохранить прошивку как…": any loaded image, except while a read out of the
// ECU is filling it.
bool SaveImageAsOffered(SessionState state, bool firmwareLoaded);

// What a connect takes from the settings, checked whole before any port is
// asked to open.
struct ConnectSettings {
    int minTuneThrottle = 0;      // "Не настраивать ниже %"
    int bcnIntervalMs = 0;        // "Интервал коррекции БЦН(мс)"
    int neighbourIntervalMs = 0;  // "Интервал обучения соседних РТ"; 0: off
    int rewriteMs = 0;            // "Время перезаписи прошивки(мс)"
    ecu::OpenSettings ecu;
    bool writeLogs = false;  // "Писать логи"
    bool reconnect = false;  // "Переподключаться"
    bool wideband = false;   // "Датчик кислорода" = "ШДК LC-1"
    std::string lc1Port;     // "LC-1 Com"
};
// The settings or the message that says which value is wrong.
struct ConnectSettingsParse {
    std::optional<ConnectSettings> settings;
    std::string error;
};
inline constexpr int kMaxExchangePauseMs = 10000;
ConnectSettingsParse ParseConnectSettings(
    const std::function<std::string(const std::string& key)>& setting);

class SessionController {
  public:
    struct Options {
        platform::UiBridge* bridge = nullptr;
        ecu::LogView* ecuView = nullptr;
        std::function<void(const std::string&)> log;  // the window's log
        std::string workDir;
        int lambdaReadTimeoutMs = 300;
        char decimalSeparator = ',';
    };
    explicit SessionController(Options options);
    // Stops the workers.
    ~SessionController();
    SessionController(const SessionController&) = delete;
    SessionController& operator=(const SessionController&) = delete;

    ecu::TECUThread& Ecu() { return *ecu_; }
    lambda::TLAMBDAThread& Lambda() { return *lambda_; }
    // Joins both workers; the window releases its bridge first.
    void StopWorkers();

    SessionState State() const { return state_; }
    // Called with every change of state; the window shows it.
    std::function<void(SessionState)> onState;
    void SetState(SessionState state);

    // The connect: the open commands with the checked settings, the session
    // folder (an automatic one keeps the folder and logs of the connection
    // it restores) and the live logs.
    void Connect(const ConnectSettings& settings, bool automatic);
    // The worker's answer to a connect. False when no connect waited for it
    // (the user disconnected meanwhile).
    bool TakeSessionUp();
    bool TakeConnectFailed();
    bool ConnectPending() const { return connectPending_; }
    // Ends the session: logs stop, both ports get their close, queued behind
    // what the workers still have so nothing overtakes it.
    void Disconnect();

    const ConnectSettings& Settings() const { return settings_; }
    // One exchange's pauses with the current settings.
    int ExchangeMs() const;

    const std::string& DateDir() const { return dateDir_; }
    // A new date-stamped folder; false with the reason when it could not be
    // made (the old one is then forgotten too).
    bool MakeDateDir(std::string& error);
    live::LiveLogs& Logs() { return logs_; }
    bool LogsEnabled() const { return logsEnabled_; }

    // Reconnecting: the tuning state at the drop comes back with the link.
    void RememberTuning(bool tuning) { tuningBeforeDrop_ = tuning; }
    bool TuningBeforeDrop() const { return tuningBeforeDrop_; }

  private:
    Options options_;
    std::unique_ptr<ecu::TECUThread> ecu_;
    std::unique_ptr<lambda::TLAMBDAThread> lambda_;
    SessionState state_ = SessionState::Disconnected;
    ConnectSettings settings_;
    bool connectPending_ = false;
    std::string dateDir_;
    live::LiveLogs logs_;
    bool logsEnabled_ = false;
    bool tuningBeforeDrop_ = false;
};

}  // namespace korvane::app
