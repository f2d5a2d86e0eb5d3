#pragma once
#include <QWidget>

#include "live/LiveTick.h"
#include "live/LiveValues.h"
#include "live/Trend.h"

class QComboBox;

namespace korvane::plot {
class PlotWidget;
}

namespace korvane::live {

// The trend chart (577 × 201) with its two series on a left and a right
// value scale, and beside it the small panel with the two selectors. It sits
// at the top left of the map tables panel.
class TrendView : public QWidget {
    Q_OBJECT
  public:
    // The plot's series: the left selector's and the right one's.
    static constexpr int kLeftSeries = 0;
    static constexpr int kRightSeries = 1;

    explicit TrendView(QWidget* parent);

    // One trend update: stores the selected values and redraws the series.
    // A new selection shows in the scale titles at once and in the points as
    // the old ones scroll out.
    void Update(const LiveValues& values, OxygenSensor sensor);

    QComboBox* ComboBox3() const { return left_; }
    QComboBox* ComboBox4() const { return right_; }
    // The chart: its series hold the points drawn.
    plot::PlotWidget* Chart() const { return plot_; }
    const TrendHistory& History() const { return history_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ShowSeries();

    TrendHistory history_;
    plot::PlotWidget* plot_ = nullptr;
    QComboBox* left_ = nullptr;
    QComboBox* right_ = nullptr;
    // A hidden chart only keeps the history; it is drawn when shown.
    bool stale_ = false;
};

}  // namespace korvane::live
