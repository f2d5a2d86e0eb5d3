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
#include <span>
#include <string>
#include <vector>

#include "ecu/Command.h"
#include "live/LiveLogs.h"
#include "live/StatusCells.h"
#include "platform/ImageSize.h"

namespace korvane::ecu {
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
// session start) run with these closed again, and so does a read out of the
// ECU, which replaces the image whole.
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
// The ports a connect needs that are not there now (the LC-1's only with
// the wideband), one log line each; `present` is the system's listing.
std::vector<std::string> MissingPortNotes(const ConnectSettings& settings,
                                          const std::vector<std::string>& present);

class SessionController {
  public:
    // What the ECU worker reports, on the UI thread in the order it
    // happened (see ecu::LogView); the window shows it.
    struct EcuEvents {
        std::function<void(const std::string& line)> appendLine;
        std::function<void(const std::string& line)> replaceLastLine;
        std::function<void(int maximum, int position)> progress;
        std::function<void(uint64_t openId)> sessionUp;
        std::function<void(uint64_t openId)> connectFailed;
        std::function<void(const ecu::CommandResult&)> commandFinished;
        std::function<void(const ecu::SyncReport&)> synced;
        std::function<void(std::shared_ptr<const ecu::Bytes>)> firmwareRead;
    };
    struct Options {
        platform::UiBridge* bridge = nullptr;
        EcuEvents ecuEvents;
        std::function<void(const std::string&)> log;  // the window's log
        std::string workDir;
        int lambdaReadTimeoutMs = 300;
        char decimalSeparator = ',';
        // The image's bytes now: a reconnect and a replaced image send the
        // ranges the ECU's RAM follows with them.
        std::function<std::span<const uint8_t>()> image;
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
    // The tuning started or stopped: a live session shows it (a firmware
    // read or a reconnect keeps its own state).
    void TuningChanged(bool tuning);

    // The connect: the open commands with the checked settings, the session
    // folder (an automatic one keeps the folder and logs of the connection
    // it restores) and the live logs. `kept`: the image's tables the ECU's
    // RAM should hold; the session reads them back and writes what differs.
    // An automatic one adds every range followed since the user's connect,
    // with the image's bytes now: a restarted ECU is back at its flash there.
    void Connect(const ConnectSettings& settings, bool automatic,
                 std::vector<ecu::RamRange> kept = {});
    // The image changed there: while a session is asked for or stands, the
    // ECU's RAM follows (the bytes are taken now), and the range is followed
    // until the user disconnects. At the desk nothing goes.
    void ImageChanged(uint16_t address, std::span<const uint8_t> bytes);
    // The whole image was replaced (a file loaded in a session): every range
    // followed outside the tuning tables (those go by their own check) goes
    // again with the new image's bytes.
    void ImageReplaced();
    // The ranges followed since the user's connect, with the image's bytes.
    std::vector<ecu::RamRange> Followed() const;
    // The worker's answer to a connect, with the id of the open that gave
    // it. False when no connect waited for it (the user disconnected
    // meanwhile, or it belongs to an open that a later connect replaced).
    bool TakeSessionUp(uint64_t openId);
    bool TakeConnectFailed(uint64_t openId);
    bool ConnectPending() const { return connectPending_; }
    // The id of the latest open: a report of an earlier session's write
    // carries another.
    uint64_t OpenId() const { return openId_; }
    // Ends the session: logs stop, both ports get their close, queued behind
    // what the workers still have so nothing overtakes it. The user's own
    // disconnect (not `automatic`) forgets the ranges followed.
    void Disconnect(bool automatic = false);
    // Ends the session for good (exit, window close). False when there is
    // nothing to end on the wire: no ECU port open and nothing queued. Else
    // both ports get their close and `stopped` runs once the ECU worker
    // reports its close done; the caller bounds the wait itself, as a
    // worker stuck in a long command may take a while to get there.
    bool EndSession(std::function<void()> stopped);
    // The ECU worker's report of a finished command (the window forwards
    // its events here).
    void CommandFinished(const ecu::CommandResult& result);

    const ConnectSettings& Settings() const { return settings_; }
    // One exchange's pauses with the current settings.
    int ExchangeMs() const;

    const std::string& DateDir() const { return dateDir_; }
    // A new date-stamped folder; false with the reason when it could not be
    // made (the old one is then forgotten too).
    bool MakeDateDir(std::string& error);
    // After a connect that failed: the folder it made is removed again when
    // nothing but the logs' headers went into it; the previous one is the
    // session folder again.
    void DropUnusedFolder();
    live::LiveLogs& Logs() { return logs_; }
    bool LogsEnabled() const { return logsEnabled_; }
    // The frame the views show, as one line of the live logs while they are
    // on.
    // `mixtureTaken`: the poll's mixture reading was accepted (see LiveLogs).
    void LogFrame(const live::ShownRowTexts& rows, int32_t stationaryHitCount,
                  bool mixtureTaken = true);

    // Both workers' flags as the status bar shows them, each worker's read
    // whole; `ecuStale`: no valid frame for a while.
    live::LinkFlags LinkFlags(bool ecuStale) const;

    // Reconnecting: the tuning state at the drop comes back with the link.
    void RememberTuning(bool tuning) { tuningBeforeDrop_ = tuning; }
    bool TuningBeforeDrop() const { return tuningBeforeDrop_; }

  private:
    class EcuEventSink;
    void Follow(uint16_t address, size_t length);
    Options options_;
    // Before the workers: events already posted may still arrive while
    // they stop.
    std::unique_ptr<EcuEventSink> ecuEvents_;
    std::unique_ptr<ecu::TECUThread> ecu_;
    std::unique_ptr<lambda::TLAMBDAThread> lambda_;
    SessionState state_ = SessionState::Disconnected;
    ConnectSettings settings_;
    bool connectPending_ = false;
    std::string dateDir_;
    std::string previousDateDir_;  // before the connect made a new one
    bool folderFromConnect_ = false;
    live::LiveLogs logs_;
    bool logsEnabled_ = false;
    bool tuningBeforeDrop_ = false;
    uint64_t endingClose_ = 0;  // the close EndSession waits for
    uint64_t openId_ = 0;       // the open whose result the connect waits for
    // Per image byte outside the tuning tables: the ECU's RAM has followed
    // it since the user's connect.
    std::vector<bool> followed_;
    std::function<void()> stopped_;
};

}  // namespace korvane::app
