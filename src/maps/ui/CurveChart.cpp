#include "maps/ui/CurveChart.h"

#include <QCategoryAxis>
#include <QChart>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QValueAxis>
#include <cmath>

#include "maps/TableCodec.h"

namespace korvane::maps {

namespace {
constexpr int kGrabRadius = 8;  // pixels around a marker that pick it up
}

CurveChart::CurveChart(QWidget* parent) : QChartView(parent) {
    setObjectName(QStringLiteral("DBChart1"));
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(4, 4, 4, 4));
    series_ = new QLineSeries(chart);
    series_->setObjectName(QStringLiteral("Series1"));
    series_->setColor(QColor(220, 30, 30));
    markers_ = new QScatterSeries(chart);
    markers_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    markers_->setMarkerSize(7);
    markers_->setColor(QColor(220, 30, 30));
    markers_->setBorderColor(QColor(90, 0, 0));
    chart->addSeries(series_);
    chart->addSeries(markers_);
    axisX_ = new QCategoryAxis;
    axisX_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axisY_ = new QValueAxis;
    QFont axisFont = axisX_->labelsFont();
    axisFont.setPointSize(7);
    axisX_->setLabelsFont(axisFont);
    axisY_->setLabelsFont(axisFont);
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    for (QXYSeries* s : {static_cast<QXYSeries*>(series_), static_cast<QXYSeries*>(markers_)}) {
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
    }
    setChart(chart);
    setRenderHint(QPainter::Antialiasing);
    Clear();
}

void CurveChart::Clear() {
    series_->clear();
    markers_->clear();
    for (const QString& label : axisX_->categoriesLabels()) axisX_->remove(label);
    axisX_->setRange(0, 1);
    axisY_->setRange(0, 1);
    dragged_ = -1;
}

void CurveChart::SetPoints(const std::vector<double>& values, const QStringList& labels) {
    Clear();
    QList<QPointF> points;
    for (size_t i = 0; i < values.size(); ++i)
        points.append(QPointF(static_cast<qreal>(i), values[i]));
    series_->replace(points);
    markers_->replace(points);
    // Many points: label every k-th so the texts stay readable.
    const int n = static_cast<int>(values.size());
    const int every = std::max(1, (n + 23) / 24);
    for (int i = 0; i < n && i < labels.size(); i += every) {
        // A category axis wants unique labels; an invisible suffix keeps
        // repeated headers apart.
        QString label = labels[i];
        while (axisX_->categoriesLabels().contains(label)) label += QChar(0x200B);
        axisX_->append(label, i);
    }
    axisX_->setStartValue(0);
    axisX_->setRange(-0.5, std::max(0.5, n - 0.5));
    FitVerticalAxis();
}

void CurveChart::SetAxisTitles(const QString& x, const QString& y) {
    axisX_->setTitleText(x);
    axisY_->setTitleText(y);
}

void CurveChart::FitVerticalAxis() {
    std::vector<double> values;
    for (const QPointF& p : series_->points()) values.push_back(p.y());
    if (values.empty()) return;
    const auto [lo, hi] = ChartAxisRange(values);
    axisY_->setRange(lo, hi);
}

int CurveChart::Count() const {
    return static_cast<int>(series_->count());
}

double CurveChart::Value(int index) const {
    return series_->at(index).y();
}

QPoint CurveChart::PointPosition(int index) const {
    const QPointF scene = chart()->mapToPosition(series_->at(index), series_);
    return mapFromScene(scene);
}

int CurveChart::PointAt(const QPoint& pos) const {
    int best = -1;
    double bestDistance = kGrabRadius + 1;
    for (int i = 0; i < Count(); ++i) {
        const QPoint p = PointPosition(i);
        const double d = std::hypot(p.x() - pos.x(), p.y() - pos.y());
        if (d <= kGrabRadius && d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

void CurveChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragged_ = PointAt(event->position().toPoint());
        if (dragged_ >= 0) {
            event->accept();
            return;
        }
    }
    QChartView::mousePressEvent(event);
}

void CurveChart::mouseMoveEvent(QMouseEvent* event) {
    if (dragged_ < 0 || !(event->buttons() & Qt::LeftButton)) {
        QChartView::mouseMoveEvent(event);
        return;
    }
    // Vertical only: the point keeps its column, its value follows the mouse
    // as far as a finite value goes.
    const QPointF value = chart()->mapToValue(mapToScene(event->position().toPoint()), series_);
    const QPointF old = series_->at(dragged_);
    const QPointF moved(old.x(), ChartDragValue(value.y(), old.y()));
    series_->replace(dragged_, moved);
    markers_->replace(dragged_, moved);
    if (onDragPoint) onDragPoint(dragged_);
    event->accept();
}

void CurveChart::mouseReleaseEvent(QMouseEvent* event) {
    if (dragged_ >= 0 && event->button() == Qt::LeftButton) {
        dragged_ = -1;
        FitVerticalAxis();
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

}  // namespace korvane::maps
