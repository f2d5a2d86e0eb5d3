#pragma once
// The curve chart of the map editor: one line with a square marker at each
// point, the points at equal spacing with the grid's headers as labels, and
// a vertical drag of any point with the mouse.
#include <QChartView>
#include <QStringList>
#include <functional>
#include <vector>

class QCategoryAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace korvane::maps {

class CurveChart final : public QChartView {
    Q_OBJECT
  public:
    explicit CurveChart(QWidget* parent);

    // Empties the series and lets both axes fit whatever comes next.
    void Clear();
    // The points in column order: their values and their labels.
    void SetPoints(const std::vector<double>& values, const QStringList& labels);
    void SetAxisTitles(const QString& x, const QString& y);
    // Fits the vertical axis to the points (see ChartAxisRange).
    void FitVerticalAxis();

    int Count() const;
    double Value(int index) const;
    QLineSeries* Series1() const { return series_; }
    QValueAxis* VerticalAxis() const { return axisY_; }
    QCategoryAxis* HorizontalAxis() const { return axisX_; }
    // Where point `index` is drawn, in the view's coordinates.
    QPoint PointPosition(int index) const;

    // Called while a point is dragged, after its value has changed
    // (ChartTool1's drag event).
    std::function<void(int index)> onDragPoint;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int PointAt(const QPoint& pos) const;

    QLineSeries* series_ = nullptr;
    QScatterSeries* markers_ = nullptr;
    QCategoryAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    int dragged_ = -1;
};

}  // namespace korvane::maps
