#pragma once
// The curve chart of the map editor: one line with a square marker at each
// point, the points at equal spacing with the grid's headers as labels, and
// a vertical drag of any point with the mouse.
#include <QStringList>
#include <functional>
#include <vector>

#include "plot/ui/PlotWidget.h"

namespace korvane::maps {

class CurveChart final : public plot::PlotWidget {
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
    // Moves point `index` as a drag would, without the drag's callback.
    void SetValue(int index, double value);
    // Where point `index` is drawn, in the chart's coordinates.
    QPoint PointPosition(int index) const;

    // Called while a point is dragged, after its value has changed
    // (ChartTool1's drag event).
    std::function<void(int index)> onDragPoint;
};

}  // namespace korvane::maps
