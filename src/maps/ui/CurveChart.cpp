#include "maps/ui/CurveChart.h"

#include <algorithm>
#include <cmath>

#include "maps/TableCodec.h"

namespace korvane::maps {

namespace {
constexpr int kCurve = 0;  // the chart's one series
}

CurveChart::CurveChart(QWidget* parent) : plot::PlotWidget(parent) {
    setObjectName(QStringLiteral("DBChart1"));
    AddSeries({.colour = QColor(220, 30, 30),
               .width = 2,
               .scale = plot::Scale::Left,
               .antialiased = true,
               .markers = true,
               .markerSize = 7,
               .markerBorder = QColor(90, 0, 0),
               .draggable = true});
    SetShown(plot::Scale::Right, false);
    SetLabelPixelSize(10);
    SetTitlePixelSize(11);
    // Vertical only: the point keeps its column, its value follows the mouse
    // as far as a finite value goes.
    connect(this, &plot::PlotWidget::pointDragged, this, [this](int, int index, double mapped) {
        SetPoint(kCurve, index, ChartDragValue(mapped, Value(index)));
        if (onDragPoint) onDragPoint(index);
    });
    connect(this, &plot::PlotWidget::dragFinished, this, [this] { FitVerticalAxis(); });
    Clear();
}

void CurveChart::Clear() {
    PlotWidget::SetPoints(kCurve, {});
    SetXLabels({});
    SetXRange({0, 1}, 0);
    SetYRange(plot::Scale::Left, {0, 1});
}

void CurveChart::SetPoints(const std::vector<double>& values, const QStringList& labels) {
    Clear();
    PlotWidget::SetPoints(kCurve, values);
    // Many points: label every k-th so the texts stay readable.
    const int n = static_cast<int>(values.size());
    const int every = std::max(1, (n + 23) / 24);
    std::vector<std::pair<double, QString>> shown;
    for (int i = 0; i < n && i < labels.size(); i += every) shown.emplace_back(i, labels[i]);
    SetXLabels(std::move(shown));
    SetXRange({-0.5, std::max(0.5, n - 0.5)}, 1);
    FitVerticalAxis();
}

void CurveChart::SetAxisTitles(const QString& x, const QString& y) {
    SetXTitle(x);
    SetYTitle(plot::Scale::Left, y);
}

void CurveChart::FitVerticalAxis() {
    const std::vector<double>& values = Points(kCurve);
    if (values.empty()) return;
    const auto [lo, hi] = ChartAxisRange(values);
    SetYRange(plot::Scale::Left, {lo, hi});
}

int CurveChart::Count() const {
    return static_cast<int>(Points(kCurve).size());
}

double CurveChart::Value(int index) const {
    return Points(kCurve).at(static_cast<size_t>(index));
}

void CurveChart::SetValue(int index, double value) {
    SetPoint(kCurve, index, value);
}

QPoint CurveChart::PointPosition(int index) const {
    return PlotWidget::PointPosition(kCurve, index).toPoint();
}

}  // namespace korvane::maps
