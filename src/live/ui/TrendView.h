#pragma once
#include <QWidget>

#include "live/LiveTick.h"
#include "live/LiveValues.h"
#include "live/Trend.h"

class QChart;
class QChartView;
class QComboBox;
class QLineSeries;
class QValueAxis;

#include <vector>

namespace korvane::live {

// The trend chart (577 × 201) with its two series on a left and a right
// value axis, and beside it the small panel with the two selectors. It sits
// at the top left of the map tables panel.
class TrendView : public QWidget {
    Q_OBJECT
  public:
    explicit TrendView(QWidget* parent);

    // One trend update: stores the selected values and redraws the series.
    // A new selection shows in the axis titles at once and in the points as
    // the old ones scroll out.
    void Update(const LiveValues& values, OxygenSensor sensor);

    QComboBox* ComboBox3() const { return left_; }
    QComboBox* ComboBox4() const { return right_; }
    QChart* Chart() const { return chart_; }
    // The series hold the points drawn; they take them when read.
    QLineSeries* Series2() const;
    QLineSeries* Series3() const;
    QValueAxis* LeftAxis() const { return axisLeft_; }
    QValueAxis* RightAxis() const { return axisRight_; }
    const TrendHistory& History() const { return history_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ShowSeries();
    // Brings the series' points up to the lines drawn.
    void SyncSeries() const;

    TrendHistory history_;
    QChartView* view_ = nullptr;
    QChart* chart_ = nullptr;
    QLineSeries* series2_ = nullptr;
    QLineSeries* series3_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisLeft_ = nullptr;
    QValueAxis* axisRight_ = nullptr;
    QComboBox* left_ = nullptr;
    QComboBox* right_ = nullptr;
    // The two lines as drawn: an item of their own paints them over the
    // chart, two polylines in one pass; the series keep the same points as
    // the chart's model but are not drawn, as they would stroke every
    // segment apart and recompute their outline on each change.
    class Lines;
    Lines* lines_ = nullptr;
    std::vector<double> drawnLeft_, drawnRight_;
    mutable bool seriesBehind_ = false;
    // A hidden chart only keeps the history; it is drawn when shown.
    bool stale_ = false;
    // The axes changed at the last update: the chart has laid out new grid
    // lines and labels since.
    bool axesChanged_ = true;
};

}  // namespace korvane::live
