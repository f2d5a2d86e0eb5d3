#include "maps/ui/SurfaceView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvane::maps {

SurfaceView::SurfaceView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SurfaceView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(QStringLiteral("Поверхность таблицы; повернуть — перетащить мышью"));
}

void SurfaceView::SetEditor(Map3dEditor* editor) {
    editor_ = editor;
    live_.reset();
    Refresh();
}

void SurfaceView::Refresh() {
    values_.clear();
    if (editor_) {
        const auto& l = editor_->Layout();
        for (int y = 0; y < l.ny; ++y)
            for (int x = 0; x < l.nx; ++x) values_.push_back(editor_->Value(x, y));
        const auto [lo, hi] = std::minmax_element(values_.begin(), values_.end());
        lo_ = *lo, hi_ = *hi;
    }
    dirty_ = true;
    update();
}

void SurfaceView::SetView(double yaw, double pitch) {
    yaw_ = std::fmod(yaw, 360.0);
    pitch_ = std::clamp(pitch, 5.0, 89.0);
    dirty_ = true;
    update();
}

void SurfaceView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    dirty_ = true;
}

QPointF SurfaceView::Project(double x, double y, double value) const {
    const auto& l = editor_->Layout();
    // The table in a square of −1 … 1, the values from −0.5 to 0.5 high.
    const double u = l.nx > 1 ? 2.0 * x / (l.nx - 1) - 1.0 : 0.0;
    const double v = l.ny > 1 ? 2.0 * y / (l.ny - 1) - 1.0 : 0.0;
    const double h = hi_ > lo_ ? 0.8 * ((value - lo_) / (hi_ - lo_) - 0.5) : 0.0;
    const double a = yaw_ * std::numbers::pi / 180.0, e = pitch_ * std::numbers::pi / 180.0;
    const double ru = u * std::cos(a) - v * std::sin(a);
    const double rv = u * std::sin(a) + v * std::cos(a);
    const double up = h * std::cos(e) + rv * std::sin(e);
    const double scale = std::min(width(), height()) * 0.33;
    return {width() / 2.0 + ru * scale, height() / 2.0 - up * scale};
}

double SurfaceView::ValueAt(double x, double y) const {
    const auto& l = editor_->Layout();
    const int x0 = std::clamp(static_cast<int>(std::floor(x)), 0, l.nx - 1);
    const int y0 = std::clamp(static_cast<int>(std::floor(y)), 0, l.ny - 1);
    const int x1 = std::min(x0 + 1, l.nx - 1), y1 = std::min(y0 + 1, l.ny - 1);
    const double fx = std::clamp(x - x0, 0.0, 1.0), fy = std::clamp(y - y0, 0.0, 1.0);
    auto at = [&](int cx, int cy) { return values_[static_cast<size_t>(cy * l.nx + cx)]; };
    return at(x0, y0) * (1 - fx) * (1 - fy) + at(x1, y0) * fx * (1 - fy) +
           at(x0, y1) * (1 - fx) * fy + at(x1, y1) * fx * fy;
}

void SurfaceView::Rebuild() {
    dirty_ = false;
    cache_ = QPixmap(size());
    cache_.fill(Qt::white);
    if (!editor_ || values_.empty()) return;
    QPainter p(&cache_);
    p.setRenderHint(QPainter::Antialiasing);
    const auto& l = editor_->Layout();
    const double a = yaw_ * std::numbers::pi / 180.0, e = pitch_ * std::numbers::pi / 180.0;
    struct Quad {
        double depth;
        int x, y;
    };
    std::vector<Quad> quads;
    for (int y = 0; y + 1 < l.ny; ++y)
        for (int x = 0; x + 1 < l.nx; ++x) {
            const double u = l.nx > 1 ? 2.0 * (x + 0.5) / (l.nx - 1) - 1.0 : 0.0;
            const double v = l.ny > 1 ? 2.0 * (y + 0.5) / (l.ny - 1) - 1.0 : 0.0;
            const double rv = u * std::sin(a) + v * std::cos(a);
            const double h =
                hi_ > lo_ ? 0.8 * ((ValueAt(x + 0.5, y + 0.5) - lo_) / (hi_ - lo_) - 0.5) : 0;
            quads.push_back({rv * std::cos(e) - h * std::sin(e), x, y});
        }
    // The farthest first, so nearer quads cover them.
    std::sort(quads.begin(), quads.end(),
              [](const Quad& a, const Quad& b) { return a.depth > b.depth; });
    auto value = [&](int x, int y) { return values_[static_cast<size_t>(y * l.nx + x)]; };
    p.setPen(QPen(QColor(60, 60, 60, 160), 0.6));
    for (const Quad& q : quads) {
        const QPointF corners[] = {Project(q.x, q.y, value(q.x, q.y)),
                                   Project(q.x + 1, q.y, value(q.x + 1, q.y)),
                                   Project(q.x + 1, q.y + 1, value(q.x + 1, q.y + 1)),
                                   Project(q.x, q.y + 1, value(q.x, q.y + 1))};
        p.setBrush(ValueColour(ValueAt(q.x + 0.5, q.y + 0.5), lo_, hi_));
        p.drawPolygon(corners, 4);
    }
    // The axes' captions at the table's first row and column.
    p.setPen(Qt::darkGray);
    QFont f = font();
    f.setPointSizeF(7.5);
    p.setFont(f);
    const QPointF xEnd = Project(l.nx - 1, 0, lo_), yEnd = Project(0, l.ny - 1, lo_);
    p.drawText(xEnd + QPointF(4, 12),
               QString::fromStdString(l.xCaption.empty() ? "X" : l.xCaption));
    p.drawText(yEnd + QPointF(-30, 12),
               QString::fromStdString(l.yCaption.empty() ? "Y" : l.yCaption));
}

QRectF SurfaceView::MarkerRect(const LivePoint& pt) const {
    const QPointF c = Project(pt.x, pt.y, ValueAt(pt.x, pt.y));
    return {c.x() - 7, c.y() - 7, 14, 14};
}

void SurfaceView::SetLivePoint(std::optional<LivePoint> point) {
    if (point == live_) return;
    if (!editor_ || values_.empty()) {
        live_ = point;
        return;
    }
    if (live_) update(MarkerRect(*live_).toAlignedRect());
    live_ = point;
    if (live_) update(MarkerRect(*live_).toAlignedRect());
}

void SurfaceView::paintEvent(QPaintEvent* event) {
    if (dirty_ || cache_.size() != size()) Rebuild();
    QPainter p(this);
    p.drawPixmap(event->rect(), cache_, event->rect());
    if (live_ && editor_ && !values_.empty()) {
        const QPointF c = MarkerRect(*live_).center();
        p.drawPixmap(QPoint(static_cast<int>(c.x()) - 5, static_cast<int>(c.y()) - 5), LiveDot());
    }
}

void SurfaceView::mousePressEvent(QMouseEvent* event) {
    dragFrom_ = event->position().toPoint();
}

void SurfaceView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const QPoint now = event->position().toPoint();
    const QPoint d = now - dragFrom_;
    dragFrom_ = now;
    SetView(yaw_ + d.x() * 0.6, pitch_ + d.y() * 0.4);
}

}  // namespace korvane::maps
