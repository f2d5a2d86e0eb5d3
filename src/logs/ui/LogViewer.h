#pragma once
// The log viewer window: the time plot with four channel pickers, the list
// of every channel's value at the cursor, and the XY view with its three
// pickers over the work-point grid of the loaded image.
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "logs/LogReader.h"
#include "logs/ui/LogXYView.h"

class QComboBox;
class QLabel;
class QTableWidget;

namespace korvane::logs::ui {

class LogPlot;

class LogViewer final : public QWidget {
    Q_OBJECT
  public:
    explicit LogViewer(QWidget* parent = nullptr);
    ~LogViewer() override;

    // Reads the file; on failure the viewer keeps what it showed and the
    // message is returned (it names the file and the line).
    std::optional<QString> OpenLog(const QString& path);
    // Shows an already read log under the given name.
    void ShowLog(LogData data, const QString& name);
    // The work-point grid of the image now loaded (nullopt: none).
    void SetGrid(std::optional<WorkPointGrid> grid);

    // Channel pickers: 0..3 the time plot, then x, y and colour of the XY
    // view. Items are the log's captions (index = column), then the ratio
    // "AFR LC-1 / AFR"; the plot's pickers start with "—" (none).
    QComboBox* Picker(int i) const { return pickers_[i]; }
    LogPlot* Plot() const { return plot_; }
    LogXYView* XY() const { return xy_; }
    QTableWidget* CursorList() const { return list_; }
    QLabel* Notes() const { return notes_; }

  private:
    void FillPickers();
    void PlotChannels();
    void XYChannels();
    void ShowCursor(long line);
    std::span<const float> Channel(int item) const;

    std::unique_ptr<LogData> log_;
    std::vector<float> ratio_;  // "AFR LC-1" over the ECU's AFR, per line
    std::optional<WorkPointGrid> grid_;
    QComboBox* pickers_[7] = {};
    LogPlot* plot_ = nullptr;
    LogXYView* xy_ = nullptr;
    QTableWidget* list_ = nullptr;
    QLabel* notes_ = nullptr;
    QLabel* cursorLabel_ = nullptr;
};

// The caption of the derived ratio channel.
inline constexpr char kRatioCaption[] = "AFR LC-1 / AFR";

}  // namespace korvane::logs::ui
