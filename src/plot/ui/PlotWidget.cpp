#include "plot/ui/PlotWidget.h"

#include <QEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "plot/PlotRaster.h"

namespace korvane::plot {

namespace {

constexpr int kMargin = 4;         // around everything
constexpr int kTickGap = 4;        // between the frame and a tick label
constexpr double kGrabRadius = 8;  // pixels around a point that pick it up
constexpr int kOverhang = 6;       // how far markers reach past the frame
// Room per tick when the plot chooses the ticks itself.
constexpr int kPixelsPerXStep = 90;
constexpr int kPixelsPerYStep = 30;
const QColor kGrid(225, 225, 225);
const QColor kFrame(160, 160, 160);
const QColor kText(70, 70, 70);

QFont PixelFont(const QFont& base, int pixels, bool bold = false) {
    QFont f(base);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// A rectangle of the widget in the pixels of an image drawn for it.
QRect ToDevice(const QRect& r, qreal dpr) {
    return QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr).toAlignedRect();
}

}  // namespace

PlotWidget::PlotWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    Layout();
}

int PlotWidget::AddSeries(const SeriesStyle& style) {
    series_.push_back({style, {}});
    update(plot_);
    return SeriesCount() - 1;
}

void PlotWidget::SetPoints(int series, std::vector<double> values) {
    Series& s = series_.at(series);
    s.values = std::move(values);
    if (dragged_ && dragged_->first == series && dragged_->second >= int(s.values.size()))
        dragged_.reset();
    // Thick lines and markers stick out of the plot area a little.
    update(plot_.adjusted(-kOverhang, -kOverhang, kOverhang, kOverhang));
}

void PlotWidget::SetPoint(int series, int index, double value) {
    Series& s = series_.at(series);
    if (index < 0 || index >= int(s.values.size())) return;
    s.values[size_t(index)] = value;
    // Only the two segments at the point change.
    const LinearMap x = XMap();
    const double left = x.ToPixel(index - 1), right = x.ToPixel(index + 1);
    const int pad = std::max(s.style.width, s.style.markerSize) + 2;
    update(QRect(QPoint(int(std::floor(std::min(left, right))) - pad, plot_.top() - pad),
                 QPoint(int(std::ceil(std::max(left, right))) + pad, plot_.bottom() + pad)));
}

void PlotWidget::SetXRange(Range range, double step) {
    if (x_.range == range && x_.step == step) return;
    x_.range = range;
    x_.step = step;
    Restyle();
}

void PlotWidget::SetXLabels(std::vector<std::pair<double, QString>> labels) {
    x_.labels = std::move(labels);
    Restyle();
}

void PlotWidget::SetYRange(Scale scale, Range range, double step) {
    Axis& a = Y(scale);
    if (a.range == range && a.step == step) return;
    a.range = range;
    a.step = step;
    Restyle();
}

void PlotWidget::SetShown(Scale scale, bool shown) {
    Y(scale).shown = shown;
    Restyle();
}

void PlotWidget::SetXTitle(const QString& title) {
    if (x_.title == title) return;
    x_.title = title;
    Restyle();
}

void PlotWidget::SetYTitle(Scale scale, const QString& title) {
    if (Y(scale).title == title) return;
    Y(scale).title = title;
    Restyle();
}

void PlotWidget::SetLabelPixelSize(int pixels) {
    labelPixels_ = pixels;
    Restyle();
}

void PlotWidget::SetTitlePixelSize(int pixels) {
    titlePixels_ = pixels;
    Restyle();
}

void PlotWidget::SetCursor(std::optional<double> x) {
    if (cursor_ == x) return;
    cursor_ = x;
    update(plot_);
}

QRect PlotWidget::PlotArea() const {
    return plot_;
}

LinearMap PlotWidget::XMap() const {
    return LinearMap(x_.range, plot_.left(), plot_.right());
}

LinearMap PlotWidget::YMap(Scale s) const {
    return LinearMap(Y(s).range, plot_.bottom(), plot_.top());
}

QPointF PlotWidget::PointPosition(int series, int index) const {
    const Series& s = series_.at(series);
    return QPointF(XMap().ToPixel(index), YMap(s.style.scale).ToPixel(s.values.at(size_t(index))));
}

std::optional<std::pair<int, int>> PlotWidget::PointAt(QPointF pos) const {
    std::optional<std::pair<int, int>> best;
    double bestDistance = kGrabRadius + 1;
    std::vector<Pixel> pixels;
    for (int k = 0; k < SeriesCount(); ++k) {
        const Series& s = series_[size_t(k)];
        if (!s.style.draggable) continue;
        pixels.clear();
        for (int i = 0; i < int(s.values.size()); ++i) {
            const QPointF p = PointPosition(k, i);
            pixels.push_back({p.x(), p.y()});
        }
        if (auto i = NearestPoint(pixels, {pos.x(), pos.y()}, kGrabRadius)) {
            const double d = std::hypot(pixels[*i].x - pos.x(), pixels[*i].y - pos.y());
            if (d < bestDistance) {
                best = {k, int(*i)};
                bestDistance = d;
            }
        }
    }
    return best;
}

double PlotWidget::ValueAtY(Scale scale, double y) const {
    return YMap(scale).ToValue(y);
}

double PlotWidget::ValueAtX(double x) const {
    return XMap().ToValue(x);
}

double PlotWidget::Step(const Axis& axis, int lengthPixels, int pixelsPerStep) {
    if (axis.step > 0) return axis.step;
    const int wanted = std::max(1, lengthPixels / pixelsPerStep);
    const double span = axis.range.hi - axis.range.lo;
    if (std::isfinite(span)) return NiceStep(span, wanted);
    // Wider than the largest double: ticks of half the width, doubled.
    return 2 * NiceStep(axis.range.hi / 2 - axis.range.lo / 2, wanted);
}

QString PlotWidget::TickText(double value, double step) const {
    QLocale locale;  // the user's decimal separator
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const double magnitude = std::max(std::abs(value), step);
    if (magnitude >= 1e7 || (step > 0 && step < 1e-5)) return locale.toString(value, 'g', 4);
    return locale.toString(value, 'f', TickDecimals(step));
}

void PlotWidget::Restyle() {
    Layout();
    stillValid_ = false;
    update();
}

void PlotWidget::Layout() {
    const QFontMetrics labels(PixelFont(font(), labelPixels_));
    const QFontMetrics titles(PixelFont(font(), titlePixels_));
    // The tick labels' width decides the margins; a first guess at the
    // plot height gives the ticks.
    const int roughHeight = std::max(10, height() - 2 * kMargin - 2 * labels.height());
    auto sideWidth = [&](const Axis& a) {
        if (!a.shown) return kMargin;
        int w = 0;
        const double step = Step(a, roughHeight, kPixelsPerYStep);
        for (double t : TickValues(a.range, step))
            w = std::max(w, labels.horizontalAdvance(TickText(t, step)));
        return kMargin + (a.title.isEmpty() ? 0 : titles.height() + 2) + w + kTickGap;
    };
    const int left = sideWidth(left_);
    const int right =
        std::max(sideWidth(right_), labels.horizontalAdvance(QStringLiteral("000")) / 2 + kMargin);
    const int bottom =
        kMargin + labels.height() + kTickGap + (x_.title.isEmpty() ? 0 : titles.height());
    const int top = kMargin + labels.height() / 2;
    plot_ = QRect(left, top, std::max(10, width() - left - right),
                  std::max(10, height() - top - bottom));
}

void PlotWidget::PaintStill() {
    const qreal dpr = devicePixelRatioF();
    still_ = QImage(size() * dpr, QImage::Format_RGB32);
    still_.setDevicePixelRatio(dpr);
    still_.fill(Qt::white);
    frameValid_ = false;
    QPainter p(&still_);
    const QFont labelFont = PixelFont(font(), labelPixels_);
    const QFont titleFont = PixelFont(font(), titlePixels_);
    const QFontMetrics labels(labelFont);
    const QFontMetrics titles(titleFont);
    p.setFont(labelFont);

    // The horizontal axis: category labels or round numbers.
    const LinearMap xMap = XMap();
    std::vector<std::pair<double, QString>> xTicks = x_.labels;
    if (xTicks.empty()) {
        const double step = Step(x_, plot_.width(), kPixelsPerXStep);
        for (double t : TickValues(x_.range, step)) xTicks.emplace_back(t, TickText(t, step));
    }
    for (const auto& [value, text] : xTicks) {
        if (value < x_.range.lo || value > x_.range.hi) continue;
        const int x = int(std::lround(xMap.ToPixel(value)));
        p.setPen(QPen(kGrid, 0));
        p.drawLine(x, plot_.top(), x, plot_.bottom());
        p.setPen(kText);
        const int w = labels.horizontalAdvance(text);
        p.drawText(QRect(x - w / 2 - 2, plot_.bottom() + kTickGap, w + 4, labels.height()),
                   Qt::AlignHCenter | Qt::AlignTop, text);
    }
    for (Scale s : {Scale::Left, Scale::Right}) {
        const Axis& a = Y(s);
        if (!a.shown) continue;
        const double step = Step(a, plot_.height(), kPixelsPerYStep);
        const LinearMap yMap = YMap(s);
        for (double t : TickValues(a.range, step)) {
            const int y = int(std::lround(yMap.ToPixel(t)));
            if (s == Scale::Left || !left_.shown) {
                p.setPen(QPen(kGrid, 0));
                p.drawLine(plot_.left(), y, plot_.right(), y);
            }
            p.setPen(kText);
            const QString text = TickText(t, step);
            const QRect box =
                s == Scale::Left
                    ? QRect(0, y - labels.height() / 2, plot_.left() - kTickGap, labels.height())
                    : QRect(plot_.right() + kTickGap + 1, y - labels.height() / 2,
                            width() - plot_.right() - kTickGap, labels.height());
            p.drawText(box, (s == Scale::Left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                       text);
        }
        if (!a.title.isEmpty()) {
            p.save();
            p.setFont(titleFont);
            p.setPen(kText);
            const int cx =
                s == Scale::Left ? kMargin + titles.ascent() : width() - kMargin - titles.descent();
            p.translate(cx, plot_.center().y());
            p.rotate(-90);
            const QString t = titles.elidedText(a.title, Qt::ElideRight, plot_.height());
            p.drawText(-titles.horizontalAdvance(t) / 2, 0, t);
            p.restore();
        }
    }
    if (!x_.title.isEmpty()) {
        p.setFont(titleFont);
        p.setPen(kText);
        p.drawText(QRect(plot_.left(), height() - kMargin - titles.height(), plot_.width(),
                         titles.height()),
                   Qt::AlignHCenter | Qt::AlignVCenter,
                   titles.elidedText(x_.title, Qt::ElideRight, plot_.width()));
    }
    p.setPen(QPen(kFrame, 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot_.adjusted(0, 0, -1, -1));
    stillValid_ = true;
}

void PlotWidget::PaintSeries(QPainter& p, const Series& s) const {
    const int n = int(s.values.size());
    if (n == 0 || (!s.style.antialiased && !s.style.markers)) return;
    const LinearMap xMap = XMap();
    const LinearMap yMap = YMap(s.style.scale);
    QPolygonF line;
    line.reserve(n);
    for (int i = 0; i < n; ++i)
        line.append(QPointF(xMap.ToPixel(i), yMap.ToPixel(s.values[size_t(i)])));
    if (s.style.antialiased && n > 1) {
        p.setRenderHint(QPainter::Antialiasing, true);
        QPen pen(s.style.colour, s.style.width);
        pen.setJoinStyle(Qt::RoundJoin);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.drawPolyline(line);
    }
    if (s.style.markers) {
        p.setRenderHint(QPainter::Antialiasing, s.style.antialiased);
        p.setPen(QPen(s.style.markerBorder, 1));
        p.setBrush(s.style.colour);
        const double half = s.style.markerSize / 2.0;
        for (const QPointF& at : line)
            p.drawRect(
                QRectF(at.x() - half, at.y() - half, s.style.markerSize, s.style.markerSize));
        p.setBrush(Qt::NoBrush);
    }
}

void PlotWidget::PaintPlainLines(const QRect& clip) {
    const qreal dpr = frame_.devicePixelRatio();
    const QRect device = ToDevice(clip, dpr).intersected(frame_.rect());
    const PixelRect pixels{device.left(), device.top(), device.right() + 1, device.bottom() + 1};
    const PixelBuffer buffer{reinterpret_cast<uint32_t*>(frame_.bits()),
                             size_t(frame_.bytesPerLine() / 4)};
    const LinearMap xMap = XMap();
    std::vector<Pixel> points;
    for (const Series& s : series_) {
        if (s.style.antialiased || s.values.empty()) continue;
        const LinearMap yMap = YMap(s.style.scale);
        points.clear();
        for (size_t i = 0; i < s.values.size(); ++i)
            points.push_back({xMap.ToPixel(double(i)) * dpr, yMap.ToPixel(s.values[i]) * dpr});
        DrawThickPolyline(buffer, pixels, points,
                          std::max(1, int(std::lround(s.style.width * dpr))), s.style.colour.rgb(),
                          lines_);
    }
}

void PlotWidget::RestoreFrame(const QRect& device) {
    if (!frameValid_) {
        frame_ = still_.copy();
        frame_.setDevicePixelRatio(still_.devicePixelRatio());
        lines_.assign(size_t(frame_.width()), ColumnSpan{});
        frameValid_ = true;
        return;
    }
    // Only the pixels under last time's lines differ from the picture.
    const size_t stride = size_t(frame_.bytesPerLine() / 4);
    uint32_t* to = reinterpret_cast<uint32_t*>(frame_.bits());
    const uint32_t* from = reinterpret_cast<const uint32_t*>(still_.constBits());
    for (int x = std::max(0, device.left()); x <= device.right() && x < int(lines_.size()); ++x) {
        ColumnSpan& c = lines_[size_t(x)];
        if (c.Empty()) continue;
        const int top = std::max(c.top, device.top()),
                  bottom = std::min(c.bottom, device.bottom() + 1);
        for (int y = top; y < bottom; ++y)
            to[size_t(y) * stride + size_t(x)] = from[size_t(y) * stride + size_t(x)];
        // Rows outside this paint keep their mark until a paint covers them.
        if (top <= c.top && bottom >= c.bottom) c = ColumnSpan{};
    }
}

void PlotWidget::paintEvent(QPaintEvent* event) {
    const qreal dpr = devicePixelRatioF();
    if (!stillValid_ || still_.size() != size() * dpr) PaintStill();
    const QRect r = event->rect();
    QPainter p(this);
    // Markers sit half outside the frame at the ends; lines stay inside.
    const QRect area = plot_.adjusted(-kOverhang, -kOverhang, kOverhang, kOverhang).intersected(r);
    for (const QRect& outside : QRegion(r).subtracted(area))
        p.drawImage(outside, still_, ToDevice(outside, dpr));
    if (area.isEmpty()) return;

    // The plain lines are written into a copy of the picture, which then
    // goes to the screen in one piece.
    RestoreFrame(ToDevice(area, dpr).intersected(still_.rect()));
    const QRect device = ToDevice(area, dpr).intersected(still_.rect());
    PaintPlainLines(plot_.adjusted(1, 1, -1, -1).intersected(area));
    p.drawImage(area, frame_, device);

    p.setClipRect(area);
    for (const Series& s : series_) PaintSeries(p, s);
    if (cursor_ && *cursor_ >= x_.range.lo && *cursor_ <= x_.range.hi) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        const int x = int(std::lround(XMap().ToPixel(*cursor_)));
        p.drawLine(x, plot_.top(), x, plot_.bottom());
    }
}

void PlotWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Restyle();
}

void PlotWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) Restyle();
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragged_ = PointAt(event->position());
        if (dragged_) {
            event->accept();
            return;
        }
    }
    if (event->button() == Qt::RightButton && pannable_) {
        panFrom_ = event->position().x();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
    if (dragged_ && (event->buttons() & Qt::LeftButton)) {
        const auto [series, index] = *dragged_;
        emit pointDragged(series, index, ValueAtY(Style(series).scale, event->position().y()));
        event->accept();
        return;
    }
    if (panFrom_ && (event->buttons() & Qt::RightButton)) {
        const double dx = *panFrom_ - event->position().x();
        const double shift = dx * (x_.range.hi - x_.range.lo) / std::max(1, plot_.width());
        panFrom_ = event->position().x();
        SetXRange({x_.range.lo + shift, x_.range.hi + shift}, x_.step);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (dragged_ && event->button() == Qt::LeftButton) {
        const auto [series, index] = *dragged_;
        dragged_.reset();
        emit dragFinished(series, index);
        event->accept();
        return;
    }
    if (panFrom_ && event->button() == Qt::RightButton) {
        panFrom_.reset();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

}  // namespace korvane::plot
