#pragma once
#include <QWidget>
#include <array>
#include <optional>
#include <string>

#include "live/LiveTexts.h"
#include "live/LiveTick.h"
#include "live/LiveValues.h"

class QTableView;

namespace korvane::live {

class DiagnosticsModel;

// The diagnostics grid (240 × 428): parameter captions and their values,
// rows 1..37 below the header row; the value of row 12 stays empty.
class DiagnosticsView : public QWidget {
    Q_OBJECT
  public:
    explicit DiagnosticsView(QWidget* parent);
    ~DiagnosticsView() override;

    // One engine tick; does nothing when the tick decoded no frame. Only
    // cells whose text changed are repainted, in one batch. Out of sight the
    // grid only keeps the values; its cells take them when it is shown or
    // read.
    void Update(const LiveValues& values, const TickOutcome& tick, char decimalSeparator);

    // Text of a cell as the user reads it; row 0 is the header.
    QString CellText(int column, int row) const;
    // Column 1 by grid row as shown now (what a live log line records).
    // The texts as the grid shows them, brought up to date first: a hidden
    // grid composes its texts only when they are asked for.
    const std::array<std::string, kGridRows>& ShownTexts() const {
        CatchUp();
        return shown_;
    }
    QTableView* Grid() const { return grid_; }
    // Grey values while the ECU does not answer.
    void SetStale(bool stale);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Brings the cells up to the last values given.
    void CatchUp() const;

    QTableView* grid_ = nullptr;
    DiagnosticsModel* model_ = nullptr;
    mutable std::array<std::string, kGridRows> shown_;
    // The last decoded tick not yet shown. Every tick writes every row from
    // its own values except row 5, which keeps the last value a tick gave it.
    struct Pending {
        LiveValues values;
        TickOutcome tick;
        char decimalSeparator;
    };
    mutable std::optional<Pending> pending_;
};

}  // namespace korvane::live
