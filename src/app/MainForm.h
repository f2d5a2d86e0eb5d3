// The main window: the frame, its views and timers, and the wiring between
// the session controller and the feature panels. Its handlers read the
// widgets, call the logic and show results.
#pragma once
#include <QElapsedTimer>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/EventLog.h"
#include "app/SettingsStore.h"
#include "firmware/FirmwareImage.h"
#include "live/LiveLogs.h"
#include "live/LiveTexts.h"
#include "live/LiveTick.h"
#include "platform/PortList.h"
#include "platform/SerialPort.h"

class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTableWidget;
class QToolButton;
class QTimer;
class QTreeWidget;

namespace korvane::platform {
class QtUiBridge;
class HandlerGuard;
}  // namespace korvane::platform
namespace korvane::live {
class StatusBarView;
class DashboardView;
class DiagnosticsView;
class TrendView;
class LiveValueList;
class UozPointsGrid;
}  // namespace korvane::live
namespace korvane::ecu {
class TECUThread;
struct CommandResult;
struct SyncReport;
}  // namespace korvane::ecu
namespace korvane::maps {
class CalibrationPanel;
}
namespace korvane::firmware {
class FirmwareActions;
}
namespace korvane::lambda {
class TLAMBDAThread;
}
namespace korvane::tuning::ui {
class TuningPanel;
}
namespace korvane::logs::ui {
class DeskActions;
}

namespace korvane::app {

class LinkWatch;
class SessionController;
enum class SessionState;
class ValueListEditor;

// What the window takes from its surroundings; tests replace each part.
struct FormEnvironment {
    Dialogs* dialogs = nullptr;  // nullptr: real message boxes
    std::string workDir;         // "": the current directory
    std::function<platform::PortListResult(const std::vector<std::string>&)> listPorts;
    // Waits of the panels on the UI thread. Default: sleeps while
    // serving the workers' log calls, with no user input and no timer
    // handler running (see HandlerGuard); tests may replace it.
    std::function<void(int ms)> wait;
    // The LC-1 reader's byte time-out (300 ms on a real line).
    int lambdaReadTimeoutMs = 300;
};

class TForm1 final : public QMainWindow {
    Q_OBJECT
  public:
    explicit TForm1(FormEnvironment env = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    static constexpr int kClientWidth = 964;
    static constexpr int kClientHeight = 523;

    // Handlers named after their component and event.
    void FindComPorts();
    void ToolButton4Click();
    void ToolButton5Click();
    void ToolButton14Click();
    void ToolButton18Click();
    void ToolButton19Click();
    void ToolButton21Click();
    void ToolButton27Click();
    void Button2Click();
    void СохранитьClick();
    void ToolButton1Click();  // connect
    void ToolButton2Click();  // disconnect
    void engineTimerTimer();
    void StatusTimerTimerrTimer();
    void Timer2Timer();
    // The trend update, called by the tuning step.
    void grafxx();

    // The log view: whole lines appended or the last one replaced. Every
    // line goes to the session folder's journal; the panel folds runs of
    // one kind into a counted line.
    void AppendLog(const QString& line);
    void ReplaceLastLogLine(const QString& line);
    // Every line as logged, and the panel's lines as shown.
    QStringList LogLines() const;
    QStringList ShownLogLines() const;
    // The journal file lines go to now ("" while there is no session folder).
    QString JournalPath() const;

    SettingsStore& Settings() { return settings_; }
    std::string ConfigPath() const;
    const std::string& DateDir() const;
    // The ECU worker's guard set by the port listing.
    int ErrorComPorts() const { return errorComPorts_; }
    int ScreenshotCounter() const { return screenshotCounter_; }
    // Creates a new date-stamped working folder (connect and image loads).
    // quiet: a failure goes to the log instead of a message box.
    bool MakeDateDir(bool quiet = false);

    // The firmware image the whole window works on, and its actions.
    firmware::FirmwareImage& Image() { return image_; }
    firmware::FirmwareActions& Firmware() { return *firmware_; }
    // The map editor: tree, table pages, write button.
    maps::CalibrationPanel& Maps() { return *calibration_; }
    // The tuning grid's axis labels: row 0 and column 0 of StringGrid2.
    void ShowGridLabels(const firmware::GridLabels& labels);

    ecu::TECUThread& EcuWorker();
    lambda::TLAMBDAThread& LambdaWorker();
    const live::LiveDecoder& Decoder() const { return decoder_; }
    live::OxygenSensor Sensor() const;
    char DecimalSeparator() const { return decimalSeparator_; }
    // Every timer handler and every wait of the window and its panels goes
    // through this guard, so no handler runs inside another.
    platform::HandlerGuard& Guard() { return *guard_; }

    // The toolbar's buttons in toolbar order, and one by its number.
    const std::vector<QToolButton*>& ToolButtons() const { return toolButtons_; }
    QToolButton* ToolButton(int number) const;
    // The tuning grid panel: its grid, state label, view selector and timers.
    tuning::ui::TuningPanel& Tuning() { return *tuning_; }

  protected:
    void closeEvent(QCloseEvent* event) override;  // FormCloseQuery

  private:
    // The ECU worker's events.
    // Complete the connect whose open has this id (none other).
    void SessionUp(uint64_t openId);
    void ConnectFailed(uint64_t openId);
    void CommandFinished(const ecu::CommandResult& result);
    // A write of the ECU's follower ended.
    void Synced(const ecu::SyncReport& report);
    // Whether the ECU's tables equal the image, how many bytes wait, or
    // which range the ECU refused, in the status bar.
    void ShowEcuFollows();
    void FormCreate();
    void CreateWorkers();
    void StopWorkers();
    void CreateFirmwareActions();
    void CreateCalibrationPanel();
    void CreateTuningPanel();
    // The connect and disconnect, by the user or by the link watch.
    void Connect(bool automatic);
    void Disconnect(bool automatic);
    // The session's state on the toolbar.
    void ShowState(SessionState state);
    // The tuning started or stopped.
    void ShowTuningState(bool tuning);
    void BuildLayout();
    void BuildDeskActions(QMenu* fileMenu);
    QWidget* BuildTopBar(QWidget* parent);
    void SetStateLabel(const QString& text, const QColor& background);
    // The log's last entry shown anew (added: a new entry below the others).
    void ShowLastLogEntry(bool added);
    // The journal follows the session folder; a connect holds its lines
    // back until its folder stands (a failed connect leaves none).
    void SyncJournal();
    void JournalWritten(bool ok);
    // A few lines under the settings list; `problem` shows them in red.
    void ShowSettingsNote(const QStringList& lines, bool problem);
    QStringList connectProblems_;  // problem lines since the connect began
    void ShowError(const QString& text);
    // The window closes for good (the session's end reported, or its grace
    // period over).
    void CloseNow();
    // The caption, with "*" while the image holds edits not saved anywhere.
    void UpdateTitle();

    FormEnvironment env_;
    std::unique_ptr<Dialogs> ownDialogs_;
    std::unique_ptr<platform::QtUiBridge> bridge_;
    platform::HandlerGuard* guard_ = nullptr;  // child of the window
    SettingsStore settings_;
    QStringList startupProblems_;
    bool configUnreadable_ = false;  // "config.ini" exists but was not read
    int screenshotCounter_ = 0;
    LogRuns logRuns_;
    LogJournal journal_;
    QElapsedTimer logClock_;
    int lastEntryBlocks_ = 0;  // the panel's blocks of the last entry
    bool journalFailed_ = false;
    int errorComPorts_ = 0;
    // How long a close waits for the session's end on the wire.
    static constexpr int kCloseSessionMs = 1500;
    static constexpr int kExitGraceMs = 4000;
    int closeGraceMs_ = kCloseSessionMs;
    bool closing_ = false;
    bool closeReady_ = false;
    char decimalSeparator_ = ',';
    std::unique_ptr<SessionController> session_;
    live::LiveDecoder decoder_;
    live::RateDisplay rate_;
    firmware::FirmwareImage image_;
    logs::ui::DeskActions* desk_ = nullptr;  // the log viewer and the analysis
    std::unique_ptr<firmware::FirmwareActions> firmware_;
    maps::CalibrationPanel* calibration_ = nullptr;  // child of RightArea
    // Whether the ECU still answers, and reconnecting on its own.
    LinkWatch* linkWatch_ = nullptr;  // child of the window
    void CreateLinkWatch();

    QWidget* topBar_ = nullptr;
    // The window's parts, named as the user sees them; tests reach them by
    // their object names.
    std::vector<QToolButton*> toolButtons_;  // in toolbar order
    QLabel* Label1 = nullptr;
    QPushButton* Button2 = nullptr;
    QStackedWidget* LeftArea = nullptr;
    QStackedWidget* RightArea = nullptr;
    tuning::ui::TuningPanel* tuning_ = nullptr;  // PanelGrid
    QWidget* PanelGrid = nullptr;
    QWidget* PanelXX = nullptr;
    QWidget* PanelUOZ = nullptr;
    live::UozPointsGrid* StringGrid3 = nullptr;
    QWidget* Eculog = nullptr;
    QWidget* PanelMain = nullptr;
    QWidget* PanelSett = nullptr;
    QWidget* Paneldia = nullptr;
    QWidget* Calibrpanel = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    ValueListEditor* ValueListEditor1 = nullptr;
    QPushButton* SaveButton = nullptr;
    QLabel* SettingsNote = nullptr;
    live::StatusBarView* StatusBar1 = nullptr;
    QProgressBar* StatusProgressBar = nullptr;
    live::DashboardView* Dashboard = nullptr;
    live::DiagnosticsView* Diagnostics = nullptr;
    live::TrendView* Trend = nullptr;
    live::LiveValueList* ValueListEditor2 = nullptr;

    QTimer* engineTimer = nullptr;
    QTimer* StatusTimerTimerr = nullptr;
    QTimer* Timer2 = nullptr;
};

}  // namespace korvane::app
