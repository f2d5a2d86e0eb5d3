#pragma once
#include <string>

#include "platform/UiBridge.h"

namespace korvane::ecu {

// What the window gives the ECU worker to show its lines and the progress
// of a firmware read. The worker calls these only on the UI thread, through
// the UiBridge, and waits until each has run.
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
};

// The worker's side: each call runs the view's operation on the UI thread
// and waits. Once the window is closing the bridge returns at once.
class UiLog {
  public:
    UiLog(platform::UiBridge& bridge, LogView& view) : bridge_(bridge), view_(view) {}

    void LogMessage(const std::string& line) {
        bridge_.RunSync([&] { view_.AppendLine(line); });
    }
    void ReplaceLastLogLine(const std::string& line) {
        bridge_.RunSync([&] { view_.ReplaceLastLine(line); });
    }
    void ShowProgress(int maximum, int position) {
        bridge_.RunSync([&] { view_.SetProgress(maximum, position); });
    }

  private:
    platform::UiBridge& bridge_;
    LogView& view_;
};

}  // namespace korvane::ecu
