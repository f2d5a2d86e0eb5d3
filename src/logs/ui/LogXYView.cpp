#include "logs/ui/LogXYView.h"

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "logs/ChannelRange.h"
#include "logs/ui/LogPlot.h"

namespace korvane::logs::ui {

namespace {

constexpr int kLeft = 52;
constexpr int kRight = 60;  // the colour scale
constexpr int kTop = 8;
constexpr int kBottom = 34;

// Band limits as the tuning takes them: midpoints between the labels, the
// outer ones half a step beyond the first and last label.
std::array<double, 17> Bounds(const std::array<int32_t, 16>& labels) {
    std::array<double, 17> b{};
    for (int i = 1; i < 16; ++i) b[i] = (labels[i - 1] + labels[i]) / 2.0;
    b[0] = labels[0] - (b[1] - labels[0]);
    b[16] = labels[15] + (labels[15] - b[15]);
    return b;
}

int BandOf(const std::array<double, 17>& b, double v) {
    if (!(v > b[0] && v <= b[16])) return -1;
    const auto it = std::lower_bound(b.begin() + 1, b.end(), v);
    return int(it - b.begin()) - 1;
}

QString Number(double v) {
    return LocaleNumber(v, 'g', 4);
}

}  // namespace

LogXYView::LogXYView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(300, 220);
}

void LogXYView::SetData(Axis x, Axis y, Axis colour, bool ratioColours) {
    x_ = std::move(x);
    y_ = std::move(y);
    colour_ = std::move(colour);
    ratioColours_ = ratioColours;
    Rebuild();
}

void LogXYView::SetGrid(std::optional<WorkPointGrid> grid, bool applies) {
    grid_ = grid;
    gridApplies_ = applies;
    Rebuild();
}

QRect LogXYView::PlotArea() const {
    return QRect(kLeft, kTop, std::max(10, width() - kLeft - kRight),
                 std::max(10, height() - kTop - kBottom));
}

QPointF LogXYView::ToPixel(double x, double y) const {
    const QRect a = PlotArea();
    return QPointF(a.left() + (x - x0_) / (x1_ - x0_) * (a.width() - 1),
                   a.bottom() - (y - y0_) / (y1_ - y0_) * (a.height() - 1));
}

void LogXYView::resizeEvent(QResizeEvent*) {
    RenderPoints();
}

void LogXYView::Rebuild() {
    const size_t n = std::min(x_.values.size(), y_.values.size());
    // The view starts at the data: the range that holds almost all of each
    // axis's values, with a margin, whatever the grid spans.
    const ValueRange xr = ChannelRange(x_.values.first(n));
    const ValueRange yr = ChannelRange(y_.values.first(n));
    const double mx = (xr.high - xr.low) * 0.05, my = (yr.high - yr.low) * 0.05;
    home_ = {xr.low - mx, xr.high + mx, yr.low - my, yr.high + my};

    const bool grid = grid_ && gridApplies_;
    if (grid) {
        colBounds_ = Bounds(grid_->throttle);
        rowBounds_ = Bounds(grid_->rpm);
    }
    visits_.assign(grid ? 256 : 0, 0);
    if (grid) {
        for (size_t i = 0; i < n; ++i) {
            const float x = x_.values[i], y = y_.values[i];
            if (std::isnan(x) || std::isnan(y)) continue;
            const int c = BandOf(colBounds_, x), r = BandOf(rowBounds_, y);
            if (c >= 0 && r >= 0) ++visits_[c * 16 + r];
        }
    }
    colourLow_ = 0.9f, colourHigh_ = 1.1f;
    if (!ratioColours_) {
        const ValueRange cr = ChannelRange(colour_.values);
        colourLow_ = float(cr.low), colourHigh_ = float(cr.high);
    }
    x0_ = home_.x0, x1_ = home_.x1, y0_ = home_.y0, y1_ = home_.y1;
    RenderPoints();
}

void LogXYView::SetView(View view) {
    // Never turned inside out or shrunk to nothing.
    if (!(view.x1 - view.x0 > 1e-9) || !(view.y1 - view.y0 > 1e-9)) return;
    x0_ = view.x0, x1_ = view.x1, y0_ = view.y0, y1_ = view.y1;
    RenderPoints();
}

void LogXYView::ResetView() {
    SetView(home_);
}

void LogXYView::Zoom(double factor, QPointF at) {
    const QRect a = PlotArea();
    const double fx = std::clamp((at.x() - a.left()) / std::max(1, a.width() - 1), 0.0, 1.0);
    const double fy = std::clamp((a.bottom() - at.y()) / std::max(1, a.height() - 1), 0.0, 1.0);
    const double cx = x0_ + fx * (x1_ - x0_), cy = y0_ + fy * (y1_ - y0_);
    const double w = (x1_ - x0_) * factor, h = (y1_ - y0_) * factor;
    SetView({cx - fx * w, cx + (1 - fx) * w, cy - fy * h, cy + (1 - fy) * h});
}

void LogXYView::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 120;
    if (steps == 0) return;
    Zoom(std::pow(0.8, steps), e->position());
    e->accept();
}

void LogXYView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    press_ = e->position();
    pressView_ = CurrentView();
}

void LogXYView::mouseMoveEvent(QMouseEvent* e) {
    if (!press_) return;
    const QRect a = PlotArea();
    const QPointF d = e->position() - *press_;
    const double dx = -d.x() * (pressView_.x1 - pressView_.x0) / std::max(1, a.width() - 1);
    const double dy = d.y() * (pressView_.y1 - pressView_.y0) / std::max(1, a.height() - 1);
    SetView({pressView_.x0 + dx, pressView_.x1 + dx, pressView_.y0 + dy, pressView_.y1 + dy});
}

void LogXYView::mouseReleaseEvent(QMouseEvent*) {
    press_.reset();
}

void LogXYView::mouseDoubleClickEvent(QMouseEvent*) {
    ResetView();
}

void LogXYView::RenderPoints() {
    const size_t n = std::min(x_.values.size(), y_.values.size());
    const QRect a = PlotArea();
    points_ = QImage(a.size(), QImage::Format_ARGB32_Premultiplied);
    points_.fill(Qt::transparent);
    const float cl = colourLow_, ch = colourHigh_;
    for (size_t i = 0; i < n; ++i) {
        const float x = x_.values[i], y = y_.values[i];
        if (std::isnan(x) || std::isnan(y)) continue;
        const QPointF p = ToPixel(x, y) - QPointF(a.left(), a.top());
        const double pxf = p.x(), pyf = p.y();
        if (pxf < -2 || pyf < -2 || pxf > a.width() || pyf > a.height()) continue;
        const float cv = i < colour_.values.size() ? colour_.values[i] : NAN;
        const double t =
            ratioColours_ ? cv : 0.9 + 0.2 * std::clamp((cv - cl) / (ch - cl), 0.f, 1.f);
        const QRgb rgb = RatioColour(t).rgb();
        const int px = int(pxf), py = int(pyf);
        for (int dx = 0; dx < 2; ++dx)
            for (int dy = 0; dy < 2; ++dy)
                if (px + dx >= 0 && py + dy >= 0 && px + dx < a.width() && py + dy < a.height())
                    points_.setPixel(px + dx, py + dy, rgb);
    }
    update();
}

QRectF LogXYView::CellRect(int c, int r) const {
    return QRectF(ToPixel(colBounds_[c], rowBounds_[r + 1]),
                  ToPixel(colBounds_[c + 1], rowBounds_[r]));
}

std::vector<LogXYView::ShownCell> LogXYView::ShownCells() const {
    std::vector<ShownCell> out;
    if (!(grid_ && gridApplies_)) return out;
    const QRectF a = PlotArea();
    const QFontMetrics fm(font());
    for (int c = 0; c < 16; ++c) {
        for (int r = 0; r < 16; ++r) {
            const QRectF cell = CellRect(c, r);
            if (!cell.intersects(a)) continue;
            const int v = visits_[c * 16 + r];
            // A count is shown whole inside its cell and inside the plot, or
            // not at all.
            const QRectF room = cell.intersected(a);
            const bool fits = v > 0 &&
                              fm.horizontalAdvance(QString::number(v)) + 4 <= room.width() &&
                              fm.height() <= room.height();
            out.push_back({c, r, fits});
        }
    }
    return out;
}

void LogXYView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QRect a = PlotArea();
    p.fillRect(a, Qt::white);
    const bool grid = grid_ && gridApplies_;
    if (grid) {
        int most = 1;
        for (int v : visits_) most = std::max(most, v);
        p.save();
        p.setClipRect(a);
        for (const ShownCell& shown : ShownCells()) {
            const QRectF cell = CellRect(shown.column, shown.row);
            const int v = visits_[shown.column * 16 + shown.row];
            if (v > 0) {
                // Darker for more lines, on a log scale.
                const double t = std::log1p(v) / std::log1p(most);
                p.fillRect(cell, QColor(255 - int(90 * t), 255 - int(70 * t), 255));
            }
            p.setPen(QColor(190, 190, 210));
            p.drawRect(cell);
            if (shown.countShown) {
                p.setPen(QColor(110, 110, 140));
                p.drawText(cell.intersected(QRectF(a)).adjusted(0, 0, -2, 0),
                           Qt::AlignRight | Qt::AlignBottom, QString::number(v));
            }
        }
        p.restore();
    }
    p.drawImage(a.topLeft(), points_);
    p.setPen(QColor(120, 120, 120));
    p.drawRect(a.adjusted(0, 0, -1, -1));
    p.drawText(QRect(a.left(), a.bottom() + 2, a.width(), 14), Qt::AlignLeft, Number(x0_));
    p.drawText(QRect(a.left(), a.bottom() + 2, a.width(), 14), Qt::AlignRight, Number(x1_));
    p.drawText(QRect(a.left(), a.bottom() + 16, a.width(), 16), Qt::AlignHCenter, x_.caption);
    p.drawText(QRect(0, a.top(), kLeft - 4, 14), Qt::AlignRight, Number(y1_));
    p.drawText(QRect(0, a.bottom() - 14, kLeft - 4, 14), Qt::AlignRight, Number(y0_));
    p.save();
    p.translate(12, a.center().y());
    p.rotate(-90);
    p.drawText(QRect(-a.height() / 2, -10, a.height(), 16), Qt::AlignHCenter, y_.caption);
    p.restore();

    // The colour scale at the right.
    const QRect bar(a.right() + 10, a.top() + 16, 12, a.height() - 32);
    for (int i = 0; i < bar.height(); ++i)
        p.fillRect(bar.left(), bar.bottom() - i, bar.width(), 1,
                   RatioColour(0.9 + 0.2 * i / std::max(1, bar.height() - 1)));
    p.setPen(QColor(60, 60, 60));
    if (ratioColours_) {
        p.drawText(QRect(bar.left() - 10, a.top(), 60, 14), Qt::AlignLeft, QStringLiteral("бедно"));
        p.drawText(QRect(bar.left() - 10, bar.bottom() + 2, 60, 14), Qt::AlignLeft,
                   QStringLiteral("богато"));
    }
}

}  // namespace korvane::logs::ui
