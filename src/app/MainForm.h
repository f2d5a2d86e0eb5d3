// The main window: owns the settings, the views, the timers and (later) the
// workers; its handlers read the widgets, call the logic and show results.
#pragma once
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/SettingsStore.h"
#include "platform/PortList.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTableWidget;
class QToolButton;
class QTreeWidget;

namespace korvane::platform {
class QtUiBridge;
}
namespace korvane::live {
class StatusBarView;
}

namespace korvane::app {

class ValueListEditor;

// What the window takes from its surroundings; tests replace each part.
struct FormEnvironment {
    Dialogs* dialogs = nullptr;  // nullptr: real message boxes
    std::string workDir;         // "": the current directory
    std::function<platform::PortListResult(const std::vector<std::string>&)> listPorts;
    // Waits on the UI thread (exit, connect steps). Default: keeps serving the
    // workers' log calls but no user input.
    std::function<void(int ms)> wait;
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
    void ToolButton27Click();
    void Button2Click();
    void СохранитьClick();
    void PageControl1Change() {}

    // The log view: whole lines appended or the last one replaced.
    void AppendLog(const QString& line);
    void ReplaceLastLogLine(const QString& line);
    QStringList LogLines() const;

    SettingsStore& Settings() { return settings_; }
    std::string ConfigPath() const;
    const std::string& DateDir() const { return dateDir_; }
    // The ECU worker's guard set by the port listing.
    int ErrorComPorts() const { return errorComPorts_; }
    int ScreenshotCounter() const { return screenshotCounter_; }
    // Creates a new date-stamped working folder (connect and image loads).
    bool MakeDateDir();

protected:
    void closeEvent(QCloseEvent* event) override;  // FormCloseQuery

private:
    void FormCreate();
    void BuildLayout();
    QWidget* BuildTopBar(QWidget* parent);
    void SetStateLabel(const QString& text, const QColor& background);
    void ShowError(const QString& text);
    void Wait(int ms);

    FormEnvironment env_;
    std::unique_ptr<Dialogs> ownDialogs_;
    std::unique_ptr<platform::QtUiBridge> bridge_;
    SettingsStore settings_;
    QStringList startupProblems_;
    std::string dateDir_;
    int screenshotCounter_ = 0;
    int errorComPorts_ = 0;

public:
    // Components, named as the user-visible parts of the window.
    std::vector<QToolButton*> toolButtons;  // in toolbar order
    QToolButton* ToolButton(int number) const;
    QComboBox* ComboBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Button2 = nullptr;
    QStackedWidget* LeftArea = nullptr;
    QStackedWidget* RightArea = nullptr;
    QWidget* PanelGrid = nullptr;
    QWidget* PanelXX = nullptr;
    QWidget* Eculog = nullptr;
    QWidget* PanelMain = nullptr;
    QWidget* PanelSett = nullptr;
    QWidget* Paneldia = nullptr;
    QWidget* Calibrpanel = nullptr;
    QTableWidget* StringGrid2 = nullptr;
    QLabel* Label6 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    ValueListEditor* ValueListEditor1 = nullptr;
    QPushButton* SaveButton = nullptr;
    QTreeWidget* TreeView = nullptr;
    QPushButton* MapButton = nullptr;
    live::StatusBarView* StatusBar1 = nullptr;
    QProgressBar* StatusProgressBar = nullptr;
};

}  // namespace korvane::app
