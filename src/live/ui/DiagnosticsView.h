#pragma once
#include <QWidget>
#include <array>
#include <string>

#include "live/LiveTexts.h"
#include "live/LiveTick.h"
#include "live/LiveValues.h"

class QTableWidget;

namespace korvane::live {

// The diagnostics grid (240 × 428): parameter captions and their values,
// rows 1..37 below the header row; the value of row 12 stays empty.
class DiagnosticsView : public QWidget {
    Q_OBJECT
public:
    explicit DiagnosticsView(QWidget* parent);

    // One engine tick; does nothing when the tick decoded no frame. Only
    // cells whose text changed are touched.
    void Update(const LiveValues& values, const TickOutcome& tick, char decimalSeparator);

    // Text of a cell as the user reads it; row 0 is the header.
    QString CellText(int column, int row) const;
    QTableWidget* Grid() const { return grid_; }

private:
    QTableWidget* grid_ = nullptr;
    std::array<std::string, kGridRows> shown_;
};

}  // namespace korvane::live
