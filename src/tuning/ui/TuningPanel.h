#pragma once
// The tuning grid panel (PanelGrid) with its state label, the 17 × 17 grid,
// the view selector and the part-load ignition buttons; it owns the learning
// core, the write-back and their timers (Timer1, Timer4, Timer6). The window
// lends it the ECU worker, the image, the engine timer, its waits and log,
// and the few widgets of its own that the tuning writes.
#include <QColor>
#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live/LiveValues.h"
#include "tuning/TuningCore.h"
#include "tuning/TuningGrid.h"
#include "tuning/WriteBack.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace korvane::ecu {
class EcuCommands;
}

namespace korvane::tuning::ui {

// What each work-point cell of the grid was last painted with.
class PaintedLooks {
  public:
    void Note(int c, int r, const CellLook& look) { cells_[c][r] = look; }
    bool Shown(int c, int r, const CellLook& look) const {
        return cells_[c][r] && *cells_[c][r] == look;
    }

  private:
    // nullopt: not painted yet.
    std::array<std::array<std::optional<CellLook>, kGridSize>, kGridSize> cells_{};
};

class TuningPanel final : public QWidget, private TuningView, private WriteBackHost {
    Q_OBJECT
  public:
    struct Window {
        ecu::EcuCommands* ecu = nullptr;
        QTimer* engineTimer = nullptr;
        // The image bytes and whether they hold a loaded firmware.
        std::function<std::span<uint8_t, kImageSize>()> image;
        // Every change of the image goes through here (the ECU's RAM
        // follows it while connected).
        ImageStore store;
        std::function<bool()> firmwareLoaded;
        std::function<void(const QString&)> log;
        std::function<void(const QString&)> showError;
        std::function<std::string(const std::string& key)> setting;
        // Sets a setting and saves "config.ini" (the lock list).
        std::function<void(const std::string& key, const std::string& value)> storeSetting;
        // The image's bytes were changed here (marks it changed since
        // loaded or saved; may be unset).
        std::function<void()> imageEdited;
        // Asks the user; true to go on.
        std::function<bool(const QString& question)> confirm;
        // A wait on the UI thread that runs no other timer handler.
        std::function<void(int ms)> wait;
        // Connects a timer so its handler never runs inside another's wait.
        std::function<void(QTimer*, std::function<void()>)> connectTimer;
        // The window's parts the learning writes.
        std::function<void(const QString&)> setLabel5;
        std::function<void(const QString&)> setLabel7;
        std::function<void(const QString&)> setStatusPanel5;
        std::function<void()> grafxx;
        std::function<int()> radioGroup1Index;  // 0: "Поправка и БЦН"
        // The buttons that change with the tuning's state (toolbar start,
        // stop and image read, the calibration write buttons, "Управление").
        std::function<void(bool tuning)> showTuningState;
        char decimalSeparator = ',';
    };

    // `toolStrip` holds ComboBox1.
    TuningPanel(Window window, QWidget* toolStrip, QWidget* parent = nullptr);
    ~TuningPanel() override;

    // Handlers, named after their component and event.
    // The image's tables for the ECU's RAM (none without a firmware).
    std::vector<ecu::RamRange> pishupopr();
    // A write of the ECU's follower ended: counts and lines that wait for
    // the ECU's confirmation.
    void Synced(const ecu::SyncReport& report);
    void ToolButton10Click();  // tuning start
    void ToolButton11Click();  // tuning stop
    // The link came back by itself while tuning: the ECU may have lost its
    // RAM, so it gets the control byte again, and the rewrites go on.
    void ResumeTuning();
    void Timer1Timer();
    void Timer4Timer();
    void Timer6Timer();
    void Button6Click();
    void Button7Click();
    void ComboBox1Change();
    // "Вернуть поправку": the correction and BCN tables as the image held
    // them when loaded, back into the ECU's RAM and the image.
    void RestoreButtonClick();
    // Locks (right click, or Space on the selected cells) toggle; the list
    // is stored under "Заблокированные ячейки". Linear indexes k.
    void ToggleLocks(const std::vector<int>& cells);
    // The locks from the settings (at start, after a settings save, at
    // connect), so the grid shows them at the desk too.
    void ReadLocks(bool logProblem);

    // Connect: the intervals from the settings (0: no neighbour rewrite) and
    // the learning's setting messages afresh.
    void Connecting(int bcnIntervalMs, int neighbourIntervalMs);
    // Connect: the filters, limits and locks from the settings. Returns the
    // message that refuses the connection, empty when the settings are good;
    // a lock list with bad entries loads what is valid and logs one line.
    QString ReadControls();
    // The session is up: the grid shows and repaints.
    void SessionReady();
    // Disconnect: the tuning stops, the BCN rewrite with it.
    void Disconnected();
    // One tuning step for a new frame (the window calls it only with an
    // image loaded). mixtureUsable: the frame's mixture may be sampled.
    void calculations(const live::LiveValues& values, bool narrowBand, bool mixtureUsable);
    // The grid headers from the image's labels; the band limits follow them.
    void ShowGridLabels(const GridLabels& rows, const GridLabels& columns);
    // Tables from the image, with the labels last shown.
    void addtabl();
    void ZeroGridValues();
    // At the desk (no connection): the grid shows the image's tables, and
    // follows an edit of the image made in the map editor.
    void ShowAtDesk();
    void ImageEditedAtDesk();
    // Neighbour learning per "Коэф. обучения соседних РТ" after an image
    // load, and Timer4.
    void StartTuningTimers();
    void StopTuningTimers();

    void SetState(const QString& text, std::optional<QColor> background = std::nullopt);
    // Whether the link is live: the session stands and the ECU answers.
    // While it is not, the tuning is paused (the window feeds it no frame
    // and nothing is written) and the state label says so; it goes on by
    // itself when the link is live again.
    void LinkLive(bool live);

    TuningCore& Core() { return *core_; }
    TuningTables& Tables() { return core_->Tables(); }
    WriteBack& Writer() { return *writeBack_; }

    // Components.
    QLabel* Label6 = nullptr;
    QTableWidget* StringGrid2 = nullptr;
    QWidget* Panel5 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* RestoreButton = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer4 = nullptr;
    QTimer* Timer6 = nullptr;

  private:
    // A cell for the log: its engine speed and throttle as the grid shows them.
    QString CellName(int k) const;
    class TimerAdapter;
    // Every cell of the grid again, in the view the combo box shows.
    void RefillGrid();

    bool paused_ = false;  // the label says the tuning waits for the link
    QColor resumeBackground_;

    // TuningView
    int ComboBox1Index() const override;
    void SelectFirstView() override;
    int RadioGroup1Index() const override;
    void SetGridCell(int column, int row, std::string_view text) override;
    void SetCurrentCell(int column, int row) override;
    void SetLabel5(std::string_view text) override;
    void SetLabel7(std::string_view text) override;
    void SetStatusPanel5(std::string_view text) override;
    void grafxx() override;
    // WriteBackHost
    void Wait(int ms) override;
    void Log(const std::string& line) override;
    void CellRewritten(int column, int row) override;

    bool eventFilter(QObject* watched, QEvent* event) override;
    void UpdateRestoreButton();
    void BuildWidgets(QWidget* toolStrip);
    void SetCellText(int gridColumn, int gridRow, const QString& text);

    Window w_;
    PaintedLooks painted_;
    QElapsedTimer clock_;  // the frames' time for the rate filters
    GridLabels rowLabels_{}, columnLabels_{};
    std::unique_ptr<TimerAdapter> engine_, bcn_, neighbour_;
    std::unique_ptr<EcuMailbox> mailbox_;
    std::unique_ptr<EcuWriter> writer_;
    std::unique_ptr<TuningCore> core_;
    std::unique_ptr<WriteBack> writeBack_;
};

}  // namespace korvane::tuning::ui
