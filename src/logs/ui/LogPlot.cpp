#include "logs/ui/LogPlot.h"

#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "logs/ChannelRange.h"
#include "plot/PlotMath.h"

namespace korvane::logs::ui {

namespace {

constexpr int kLeft = 64;
constexpr int kRight = 8;
constexpr int kTop = 6;
constexpr int kBottom = 20;
constexpr int kDragPixels = 4;

QString Number(double v) {
    return LocaleNumber(v, 'g', 5);
}

}  // namespace

QString LocaleNumber(double value, char format, int precision) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, format, precision);
}

QColor RatioColour(double ratio) {
    if (!std::isfinite(ratio)) return QColor(150, 150, 150);
    const double t = std::clamp((ratio - 0.9) / 0.2, 0.0, 1.0);
    if (t < 0.5) {
        const double u = t * 2;  // blue -> green
        return QColor::fromRgbF(0, float(0.2 + 0.55 * u), float(1 - u));
    }
    const double u = (t - 0.5) * 2;  // green -> red
    return QColor::fromRgbF(float(u), float(0.75 * (1 - u)), 0);
}

LogPlot::LogPlot(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(300, 160);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LogPlot::SetLines(size_t lines, std::optional<double> secondsPerLine) {
    lines_ = lines;
    secondsPerLine_ = secondsPerLine;
    first_ = 0;
    last_ = lines > 1 ? double(lines - 1) : 1;
    cursor_ = -1;
    update();
}

void LogPlot::SetSeries(std::vector<PlotSeries> series) {
    series_ = std::move(series);
    ranges_.clear();
    // Each channel over the range that holds almost all of its values: a
    // few lines far off (an LC-1 warming up) are drawn at the edge instead
    // of squeezing the trace.
    for (const auto& s : series_) {
        const ValueRange r = ChannelRange(s.values);
        ranges_.push_back(Range{float(r.low), float(r.high)});
    }
    update();
}

void LogPlot::SetView(double first, double last) {
    const double top = lines_ > 1 ? double(lines_ - 1) : 1;
    double span = std::clamp(last - first, std::min(top, 10.0), top);
    first = std::clamp(first, 0.0, top - span);
    first_ = first;
    last_ = first + span;
    update();
}

void LogPlot::Zoom(double factor, int x) {
    const QRect a = PlotArea();
    const double at =
        first_ + (last_ - first_) * std::clamp(double(x - a.left()) / a.width(), 0.0, 1.0);
    SetView(at - (at - first_) * factor, at + (last_ - at) * factor);
}

void LogPlot::SetCursor(long line) {
    if (lines_ == 0) return;
    line = std::clamp<long>(line, 0, long(lines_) - 1);
    if (line == cursor_) return;
    cursor_ = line;
    update();
    emit cursorMoved(line);
}

QRect LogPlot::PlotArea() const {
    return QRect(kLeft, kTop, std::max(10, width() - kLeft - kRight),
                 std::max(10, height() - kTop - kBottom));
}

long LogPlot::LineAt(int x) const {
    const QRect a = PlotArea();
    return std::lround(first_ + (last_ - first_) * double(x - a.left()) / a.width());
}

int LogPlot::XOf(double line) const {
    const QRect a = PlotArea();
    return a.left() + int(std::lround((line - first_) / (last_ - first_) * a.width()));
}

void LogPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QRect a = PlotArea();
    p.fillRect(a, Qt::white);
    p.setPen(QColor(200, 200, 200));
    p.drawRect(a.adjusted(0, 0, -1, -1));

    // The line axis: seconds when the rate is known.
    const double unit = secondsPerLine_.value_or(1.0);
    const double from = first_ * unit, to = last_ * unit;
    const double step = plot::NiceStep(to - from, std::max(2, a.width() / 90));
    for (double t : plot::TickValues({from, to}, step, a.width())) {
        const int x = XOf(t / unit);
        p.setPen(QColor(235, 235, 235));
        p.drawLine(x, a.top(), x, a.bottom());
        p.setPen(QColor(90, 90, 90));
        p.drawText(QRect(x - 40, a.bottom() + 2, 80, kBottom - 2), Qt::AlignHCenter | Qt::AlignTop,
                   Number(t) + (secondsPerLine_ ? QStringLiteral(" с") : QString()));
    }

    const int lineHeight = fontMetrics().height();
    std::vector<plot::Column> columns;
    for (size_t i = 0; i < series_.size(); ++i) {
        const PlotSeries& s = series_[i];
        const Range r = ranges_[i];
        // Its own scale: the top and bottom values at the left, in its colour.
        p.setPen(s.colour);
        p.drawText(QRect(0, a.top() + int(i) * lineHeight, kLeft - 4, lineHeight),
                   Qt::AlignRight | Qt::AlignVCenter, Number(r.high));
        p.drawText(
            QRect(0, a.bottom() - (int(series_.size() - i)) * lineHeight, kLeft - 4, lineHeight),
            Qt::AlignRight | Qt::AlignVCenter, Number(r.low));
        if (s.values.empty()) continue;
        auto yOf = [&](float v) {
            return std::clamp(
                a.bottom() - double(v - r.low) / double(r.high - r.low) * (a.height() - 1),
                double(a.top()), double(a.bottom()));
        };
        p.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(s.colour);
        pen.setWidth(1);
        p.setPen(pen);
        const long n = long(s.values.size());
        const double perPixel = (last_ - first_) / a.width();
        if (perPixel > 1) {
            // Each pixel column: a bar from its lowest to its highest value,
            // joined to the one before.
            plot::ColumnExtents(s.values, first_, perPixel, a.width(), columns);
            QPointF prev;
            bool joined = false;
            for (int px = 0; px < a.width(); ++px) {
                const plot::Column& c = columns[size_t(px)];
                if (!c.any) {
                    joined = false;
                    continue;
                }
                const double x = a.left() + px;
                if (joined) p.drawLine(prev, QPointF(x, yOf(c.first)));
                p.drawLine(QPointF(x, yOf(c.lo)), QPointF(x, yOf(c.hi)));
                prev = QPointF(x, yOf(c.last));
                joined = true;
            }
        } else {
            p.setRenderHint(QPainter::Antialiasing, true);
            const long l0 = std::clamp(long(std::floor(first_)), 0L, n - 1);
            const long l1 = std::clamp(long(std::ceil(last_)), 0L, n - 1);
            QPointF prev;
            bool joined = false;
            for (long l = l0; l <= l1; ++l) {
                const float v = s.values[l];
                if (std::isnan(v)) {
                    joined = false;
                    continue;
                }
                const QPointF pt(XOf(double(l)), yOf(v));
                if (joined) p.drawLine(prev, pt);
                prev = pt;
                joined = true;
            }
        }
    }
    if (cursor_ >= 0 && cursor_ >= first_ && cursor_ <= last_) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        const int x = XOf(double(cursor_));
        p.drawLine(x, a.top(), x, a.bottom());
    }
}

void LogPlot::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 120;
    if (steps == 0) return;
    Zoom(std::pow(0.8, steps), int(e->position().x()));
    e->accept();
}

void LogPlot::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    pressX_ = int(e->position().x());
    pressFirst_ = first_;
    dragged_ = false;
}

void LogPlot::mouseMoveEvent(QMouseEvent* e) {
    if (pressX_ < 0) return;
    const int dx = int(e->position().x()) - pressX_;
    if (!dragged_ && std::abs(dx) < kDragPixels) return;
    dragged_ = true;
    const double span = last_ - first_;
    const double shift = -dx * span / PlotArea().width();
    SetView(pressFirst_ + shift, pressFirst_ + shift + span);
}

void LogPlot::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || pressX_ < 0) return;
    if (!dragged_) SetCursor(LineAt(int(e->position().x())));
    pressX_ = -1;
}

void LogPlot::keyPressEvent(QKeyEvent* e) {
    const long step = (e->modifiers() & Qt::ShiftModifier) ? 10 : 1;
    if (e->key() == Qt::Key_Left) {
        SetCursor(cursor_ < 0 ? LineAt(PlotArea().center().x()) : cursor_ - step);
    } else if (e->key() == Qt::Key_Right) {
        SetCursor(cursor_ < 0 ? LineAt(PlotArea().center().x()) : cursor_ + step);
    } else {
        QWidget::keyPressEvent(e);
        return;
    }
    // The cursor stays in view.
    if (cursor_ < first_ || cursor_ > last_) {
        const double span = last_ - first_;
        SetView(cursor_ - span / 2, cursor_ + span / 2);
    }
}

}  // namespace korvane::logs::ui
