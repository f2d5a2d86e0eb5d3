#pragma once
#include <memory>
#include <string>

#include "ecu/Command.h"
#include "ecu/Frame.h"
#include "platform/UiBridge.h"

namespace korvane::ecu {

// What the ECU worker reports to the window: log lines, the progress of a
// firmware read and the events of the session and its commands. The calls
// run on the UI thread, in the order the worker made them.
class LogView {
  public:
    virtual ~LogView() = default;
    // A line may hold CR LF inside (an error line with its detail); the log
    // shows it as two lines.
    virtual void AppendLine(const std::string& line) = 0;
    // Deletes the log's last line and appends this one, so a run of block
    // reads or writes shows as one changing line.
    virtual void ReplaceLastLine(const std::string& line) = 0;
    // Sets the progress bar's maximum, then its position.
    virtual void SetProgress(int maximum, int position) = 0;

    // The session stands and polling is on. `openId`: the id of the open
    // command that produced it, so a result of an abandoned open completes
    // nothing.
    virtual void SessionUp(uint64_t /*openId*/) {}
    // A connect ended without a session (port not opened, no answer); the
    // port is closed again.
    virtual void ConnectFailed(const std::string& /*reason*/, uint64_t /*openId*/) {}
    // A command other than open ended, done or failed with its reason.
    virtual void CommandFinished(const CommandResult& /*result*/) {}
    // A write of the synchroniser ended (the ECU's RAM follows the image).
    virtual void Synced(const SyncReport& /*report*/) {}
    // A complete firmware read: 65 536 bytes in address order (before the
    // "ReadFW" command's own CommandFinished).
    virtual void FirmwareRead(std::shared_ptr<const Bytes> /*image*/) {}
};

// The worker's side: each call hands the view's operation to the UI thread
// and returns at once, so the worker never waits for the window. Once the
// window is closing the bridge drops them.
class UiLog {
  public:
    UiLog(platform::UiBridge& bridge, LogView& view) : bridge_(bridge), view_(view) {}

    void LogMessage(const std::string& line) {
        bridge_.Post([v = &view_, line] { v->AppendLine(line); });
    }
    void ReplaceLastLogLine(const std::string& line) {
        bridge_.Post([v = &view_, line] { v->ReplaceLastLine(line); });
    }
    void ShowProgress(int maximum, int position) {
        bridge_.Post([v = &view_, maximum, position] { v->SetProgress(maximum, position); });
    }
    void SessionUp(uint64_t openId) {
        bridge_.Post([v = &view_, openId] { v->SessionUp(openId); });
    }
    void ConnectFailed(const std::string& reason, uint64_t openId) {
        bridge_.Post([v = &view_, reason, openId] { v->ConnectFailed(reason, openId); });
    }
    void CommandFinished(const CommandResult& result) {
        bridge_.Post([v = &view_, result] { v->CommandFinished(result); });
    }
    void Synced(const SyncReport& report) {
        bridge_.Post([v = &view_, report] { v->Synced(report); });
    }
    void FirmwareRead(std::shared_ptr<const Bytes> image) {
        bridge_.Post([v = &view_, image = std::move(image)] { v->FirmwareRead(image); });
    }

  private:
    platform::UiBridge& bridge_;
    LogView& view_;
};

}  // namespace korvane::ecu
