#include "logs/ui/LogXYView.h"

#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <cmath>

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
    Rebuild();
}

void LogXYView::Rebuild() {
    const size_t n = std::min(x_.values.size(), y_.values.size());
    // Ranges: the data's, widened to the grid when it is drawn.
    double xl = INFINITY, xh = -INFINITY, yl = INFINITY, yh = -INFINITY;
    for (size_t i = 0; i < n; ++i) {
        const float x = x_.values[i], y = y_.values[i];
        if (std::isnan(x) || std::isnan(y)) continue;
        xl = std::min<double>(xl, x), xh = std::max<double>(xh, x);
        yl = std::min<double>(yl, y), yh = std::max<double>(yh, y);
    }
    const bool grid = grid_ && gridApplies_;
    if (grid) {
        colBounds_ = Bounds(grid_->throttle);
        rowBounds_ = Bounds(grid_->rpm);
        xl = std::min(xl, colBounds_[0]), xh = std::max(xh, colBounds_[16]);
        yl = std::min(yl, rowBounds_[0]), yh = std::max(yh, rowBounds_[16]);
    }
    if (!(xl <= xh)) xl = 0, xh = 1;
    if (!(yl <= yh)) yl = 0, yh = 1;
    if (xh - xl < 1e-9) xl -= 0.5, xh += 0.5;
    if (yh - yl < 1e-9) yl -= 0.5, yh += 0.5;
    x0_ = xl, x1_ = xh, y0_ = yl, y1_ = yh;

    visits_.assign(grid ? 256 : 0, 0);
    float cl = 0.9f, ch = 1.1f;
    if (!ratioColours_) {
        cl = INFINITY, ch = -INFINITY;
        for (float v : colour_.values)
            if (!std::isnan(v)) cl = std::min(cl, v), ch = std::max(ch, v);
        if (!(cl < ch)) cl = 0, ch = 1;
    }
    const QRect a = PlotArea();
    points_ = QImage(a.size(), QImage::Format_ARGB32_Premultiplied);
    points_.fill(Qt::transparent);
    for (size_t i = 0; i < n; ++i) {
        const float x = x_.values[i], y = y_.values[i];
        if (std::isnan(x) || std::isnan(y)) continue;
        if (grid) {
            const int c = BandOf(colBounds_, x), r = BandOf(rowBounds_, y);
            if (c >= 0 && r >= 0) ++visits_[c * 16 + r];
        }
        const QPointF p = ToPixel(x, y) - QPointF(a.left(), a.top());
        const float cv = i < colour_.values.size() ? colour_.values[i] : NAN;
        const double t = ratioColours_ ? cv : 0.9 + 0.2 * (cv - cl) / (ch - cl);
        const QRgb rgb = RatioColour(t).rgb();
        const int px = int(p.x()), py = int(p.y());
        for (int dx = 0; dx < 2; ++dx)
            for (int dy = 0; dy < 2; ++dy)
                if (px + dx >= 0 && py + dy >= 0 && px + dx < a.width() && py + dy < a.height())
                    points_.setPixel(px + dx, py + dy, rgb);
    }
    update();
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
        for (int c = 0; c < 16; ++c) {
            for (int r = 0; r < 16; ++r) {
                const QRectF cell(ToPixel(colBounds_[c], rowBounds_[r + 1]),
                                  ToPixel(colBounds_[c + 1], rowBounds_[r]));
                const int v = visits_[c * 16 + r];
                if (v > 0) {
                    // Darker for more lines, on a log scale.
                    const double t = std::log1p(v) / std::log1p(most);
                    p.fillRect(cell, QColor(255 - int(90 * t), 255 - int(70 * t), 255));
                }
                p.setPen(QColor(190, 190, 210));
                p.drawRect(cell);
                if (v > 0 && cell.width() > 24 && cell.height() > 11) {
                    p.setPen(QColor(110, 110, 140));
                    p.drawText(cell, Qt::AlignRight | Qt::AlignBottom, QString::number(v));
                }
            }
        }
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
