#pragma once
#include <QTableWidget>

namespace korvane::live {

// The ignition work-point grid: 9 columns, a header row and 19 rows that
// nothing fills yet; its panel is never brought to the front.
class UozPointsGrid : public QTableWidget {
    Q_OBJECT
  public:
    explicit UozPointsGrid(QWidget* parent);
};

}  // namespace korvane::live
