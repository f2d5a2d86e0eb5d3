#include "live/ui/TrendView.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFrame>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace korvane::live {

namespace {

constexpr int kChartWidth = 577;
constexpr int kChartHeight = 201;
constexpr int kSelectorPanelWidth = 130;

// Dragging with the right button pans the chart sideways.
//
// Everything of the chart but its two lines changes only now and then (new
// axis ranges, titles, a pan): the view keeps it as one picture, made again
// whenever the scene changes, and each repaint copies the picture and draws
// the lines over it. Going through the scene for every new trend point costs
// several times as much.
class PanningChartView : public QChartView {
  public:
    PanningChartView(QChart* chart, QWidget* parent, QGraphicsItem* overlay)
        : QChartView(chart, parent), overlay_(overlay) {
        overlay_->setVisible(false);  // drawn by the view, over the picture
        connect(scene(), &QGraphicsScene::changed, this, [this] { Invalidate(); });
    }
    void Invalidate() {
        stillValid_ = false;
        viewport()->update();
    }
    // The lines moved within `area` (chart coordinates).
    void OverlayChanged(const QRectF& area) {
        const QRectF inScene = chart()->mapRectToScene(area);
        viewport()->update(mapFromScene(inScene).boundingRect().adjusted(-4, -4, 4, 4));
    }

  protected:
    void paintEvent(QPaintEvent* e) override {
        const qreal dpr = viewport()->devicePixelRatioF();
        const QSize size = viewport()->size() * dpr;
        if (!stillValid_ || still_.size() != size) {
            still_ = QPixmap(size);
            still_.setDevicePixelRatio(dpr);
            still_.fill(viewport()->palette().color(viewport()->backgroundRole()));
            QPainter p(&still_);
            p.setRenderHints(renderHints());
            render(&p, QRectF(QPointF(0, 0), QSizeF(viewport()->size())), viewport()->rect());
            stillValid_ = true;
        }
        QPainter p(viewport());
        p.drawPixmap(e->rect(), still_,
                     QRectF(QPointF(e->rect().topLeft()) * dpr, QSizeF(e->rect().size()) * dpr));
        p.setRenderHints(renderHints());
        p.setWorldTransform(overlay_->sceneTransform() * viewportTransform());
        overlay_->paint(&p, nullptr, this);
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::RightButton) {
            lastX_ = e->position().x();
            panning_ = true;
            return;
        }
        QChartView::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (panning_) {
            chart()->scroll(lastX_ - e->position().x(), 0);
            Invalidate();
            lastX_ = e->position().x();
            return;
        }
        QChartView::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::RightButton && panning_) {
            panning_ = false;
            return;
        }
        QChartView::mouseReleaseEvent(e);
    }

  private:
    QGraphicsItem* overlay_;
    QPixmap still_;
    bool stillValid_ = false;
    qreal lastX_ = 0;
    bool panning_ = false;
};

QLineSeries* MakeSeries(QColor colour) {
    auto* s = new QLineSeries;
    QPen pen(colour);
    pen.setWidth(4);
    s->setPen(pen);
    return s;
}

QComboBox* MakeSelector(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    for (std::string_view item : kTrendItems)
        box->addItem(QString::fromUtf8(item.data(), static_cast<int>(item.size())));
    box->setCurrentIndex(kTrendDefaultItem);
    return box;
}

// Fits a value axis to its points on round ticks (steps of 1, 2 or 5 times a
// power of ten, four to eight of them); the axis is only touched when the
// points need another range.
bool FitAxis(QValueAxis* axis, const std::vector<double>& points) {
    if (points.empty()) return false;
    auto [lo, hi] = std::minmax_element(points.begin(), points.end());
    double min = *lo, max = *hi;
    if (min >= axis->min() && max <= axis->max() && (max - min) * 4 > axis->max() - axis->min())
        return false;
    if (max - min < 1e-9) {  // a flat line sits mid-height
        const double half = std::max(1.0, std::abs(min) * 0.05);
        min -= half;
        max += half;
    } else {  // the thick line must not touch the frame
        const double pad = (max - min) * 0.02;
        min -= pad;
        max += pad;
    }
    const double rough = (max - min) / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10;
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= rough) {
            step = m * power;
            break;
        }
    const double first = std::floor(min / step) * step;
    const double last = std::ceil(max / step) * step;
    axis->setRange(first, last);
    axis->setTickCount(static_cast<int>(std::lround((last - first) / step)) + 1);
    return true;
}

// Everything of the chart but its two lines changes only with the axes:
// drawn once into a pixmap, it is copied, not drawn again, each time the
// lines move across it. The axes make new grid lines and labels when their
// tick count changes, hence the call after each change.
void CacheStillItems(QGraphicsScene* scene) {
    if (!scene) return;
    for (QGraphicsItem* item : scene->items())
        if (dynamic_cast<QGraphicsLineItem*>(item) || dynamic_cast<QGraphicsTextItem*>(item) ||
            dynamic_cast<QAbstractGraphicsShapeItem*>(item))
            item->setCacheMode(QGraphicsItem::DeviceCoordinateCache);
}

void SetPoints(QLineSeries* series, const std::vector<double>& points) {
    QList<QPointF> list;
    list.reserve(static_cast<qsizetype>(points.size()));
    for (size_t k = 0; k < points.size(); ++k) list.append(QPointF(k, points[k]));
    series->replace(list);
}

}  // namespace

// The two trend lines over the plot area, mapped as the chart maps its
// series' points and clipped to the plot.
class TrendView::Lines : public QGraphicsItem {
  public:
    Lines(TrendView* view, QChart* chart) : QGraphicsItem(chart), view_(view), chart_(chart) {
        setZValue(1000);  // above the grid and the axes' lines
        plot_ = chart->plotArea();
    }
    QRectF boundingRect() const override { return plot_; }
    void PlotMoved() {
        if (chart_->plotArea() == plot_) return;
        prepareGeometryChange();
        plot_ = chart_->plotArea();
        if (auto* v = static_cast<PanningChartView*>(view_->view_)) v->Invalidate();
    }
    void paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) override {
        p->save();
        p->setClipRect(plot_);
        Draw(p, view_->drawnLeft_, view_->series2_->pen(), view_->axisLeft_);
        Draw(p, view_->drawnRight_, view_->series3_->pen(), view_->axisRight_);
        p->restore();
    }

  private:
    void Draw(QPainter* p, const std::vector<double>& points, const QPen& pen,
              const QValueAxis* axisY) const {
        if (points.size() < 2) return;
        const QValueAxis* axisX = view_->axisX_;
        const double dx = plot_.width() / (axisX->max() - axisX->min());
        const double dy = plot_.height() / (axisY->max() - axisY->min());
        std::vector<QLineF> lines(points.size() - 1);
        QPointF from = At(0, points[0], dx, dy, axisX, axisY);
        for (size_t k = 1; k < points.size(); ++k) {
            const QPointF to = At(k, points[k], dx, dy, axisX, axisY);
            lines[k - 1] = QLineF(from, to);
            from = to;
        }
        p->setPen(pen);
        p->drawLines(lines.data(), static_cast<int>(lines.size()));
    }
    QPointF At(size_t k, double v, double dx, double dy, const QValueAxis* axisX,
               const QValueAxis* axisY) const {
        return QPointF(plot_.left() + (static_cast<double>(k) - axisX->min()) * dx,
                       plot_.bottom() - (v - axisY->min()) * dy);
    }

    TrendView* view_;
    QChart* chart_;
    QRectF plot_;
};

TrendView::TrendView(QWidget* parent) : QWidget(parent) {
    setObjectName("TrendView");
    setFixedSize(kChartWidth + kSelectorPanelWidth, kChartHeight);

    chart_ = new QChart;
    chart_->setObjectName("Chart2");
    chart_->legend()->hide();
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->setMargins(QMargins(2, 2, 2, 2));
    chart_->setBackgroundRoundness(0);
    chart_->setLocalizeNumbers(true);  // the user's decimal separator

    series2_ = MakeSeries(QColor(130, 155, 254));
    series3_ = MakeSeries(QColor(252, 209, 36));
    chart_->addSeries(series2_);
    chart_->addSeries(series3_);

    axisX_ = new QValueAxis;
    axisX_->setRange(0, TrendHistory::kShown - 1);
    axisX_->setLabelFormat("%.0f");
    axisX_->setTickCount(5);
    axisLeft_ = new QValueAxis;
    axisRight_ = new QValueAxis;
    for (QValueAxis* a : {axisLeft_, axisRight_}) {
        a->setRange(0, 1);
        a->setLabelFormat("%.4g");
        QFont f = a->titleFont();
        f.setPixelSize(11);
        a->setTitleFont(f);
    }
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisLeft_, Qt::AlignLeft);
    chart_->addAxis(axisRight_, Qt::AlignRight);
    // The theme's one-pixel lines as cosmetic pens: the same pixels, but a
    // line item with a pen of width 1 strokes a path for its bounding
    // rectangle each time the plot repaints, some thirty of them per tick.
    for (QValueAxis* a : {axisX_, axisLeft_, axisRight_}) {
        QPen grid = a->gridLinePen();
        grid.setWidth(0);
        a->setGridLinePen(grid);
        QPen minor = a->minorGridLinePen();
        minor.setWidth(0);
        a->setMinorGridLinePen(minor);
        QPen line = a->linePen();
        line.setWidth(0);
        a->setLinePen(line);
    }
    series2_->setVisible(false);
    series3_->setVisible(false);
    lines_ = new Lines(this, chart_);
    connect(chart_, &QChart::plotAreaChanged, this, [this] { lines_->PlotMoved(); });
    series2_->attachAxis(axisX_);
    series2_->attachAxis(axisLeft_);
    series3_->attachAxis(axisX_);
    series3_->attachAxis(axisRight_);

    // Plain lines, as a fast line series draws them: smoothing the two thick
    // lines and the grid costs several times the rest of the chart, and the
    // chart repaints on every trend update.
    view_ = new PanningChartView(chart_, this, lines_);
    view_->setRenderHint(QPainter::Antialiasing, false);
    view_->setGeometry(0, 0, kChartWidth, kChartHeight);

    auto* panel = new QFrame(this);
    panel->setObjectName("TrendSelectors");
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setGeometry(kChartWidth, 0, kSelectorPanelWidth, kChartHeight);
    left_ = MakeSelector(panel, "ComboBox3");
    left_->setGeometry(5, 8, kSelectorPanelWidth - 10, 22);
    right_ = MakeSelector(panel, "ComboBox4");
    right_->setGeometry(5, 38, kSelectorPanelWidth - 10, 22);
}

void TrendView::Update(const LiveValues& values, OxygenSensor sensor) {
    // The history and the axis titles follow every update, seen or not.
    const double leftValue = TrendItemValue(left_->currentIndex(), values, sensor);
    const double rightValue = TrendItemValue(right_->currentIndex(), values, sensor);
    history_.Push(leftValue, rightValue);

    if (axisLeft_->titleText() != left_->currentText())
        axisLeft_->setTitleText(left_->currentText());
    if (axisRight_->titleText() != right_->currentText())
        axisRight_->setTitleText(right_->currentText());

    if (!isVisible()) {
        stale_ = true;
        return;
    }
    ShowSeries();
}

void TrendView::ShowSeries() {
    // Items the chart laid out since the axes last changed.
    if (axesChanged_) CacheStillItems(chart_->scene());
    drawnLeft_ = history_.ShownLeft();
    drawnRight_ = history_.ShownRight();
    seriesBehind_ = true;
    const bool left = FitAxis(axisLeft_, drawnLeft_);
    const bool right = FitAxis(axisRight_, drawnRight_);
    axesChanged_ = left || right;
    lines_->PlotMoved();
    static_cast<PanningChartView*>(view_)->OverlayChanged(lines_->boundingRect());
    stale_ = false;
}

void TrendView::SyncSeries() const {
    if (!seriesBehind_) return;
    seriesBehind_ = false;
    SetPoints(series2_, drawnLeft_);
    SetPoints(series3_, drawnRight_);
}

QLineSeries* TrendView::Series2() const {
    SyncSeries();
    return series2_;
}

QLineSeries* TrendView::Series3() const {
    SyncSeries();
    return series3_;
}

void TrendView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) ShowSeries();
}

}  // namespace korvane::live
