#include "plot/PlotMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvane::plot {

double NiceStep(double span, int wanted) {
    if (!std::isfinite(span) || span <= 0) return 0;
    const double rough = span / std::max(1, wanted);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    if (!std::isfinite(power) || power <= 0) return 0;
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= rough * (1 - 1e-12)) return m * power;
    return 10 * power;
}

std::vector<double> TickValues(Range range, double step, int limit) {
    std::vector<double> ticks;
    if (!(step > 0) || !std::isfinite(step) || !std::isfinite(range.lo) ||
        !std::isfinite(range.hi) || range.hi < range.lo)
        return ticks;
    // A tick that lands a rounding error outside the range still counts.
    const double slack = step * 1e-9;
    const double firstIndex = std::ceil((range.lo - slack) / step);
    const double lastIndex = std::floor((range.hi + slack) / step);
    if (!std::isfinite(firstIndex) || !std::isfinite(lastIndex) ||
        lastIndex - firstIndex + 1 > limit)
        return ticks;
    for (double k = firstIndex; k <= lastIndex; k += 1) {
        const double t = k * step;
        // Far from zero a step can be below the values' precision.
        if (!ticks.empty() && t <= ticks.back()) continue;
        ticks.push_back(std::abs(t) < slack ? 0.0 : t);
    }
    return ticks;
}

int TickDecimals(double step) {
    if (!(step > 0) || !std::isfinite(step)) return 0;
    return std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 15);
}

std::optional<FittedAxis> FitRounded(std::span<const double> points, std::optional<Range> current,
                                     int wanted) {
    double min = std::numeric_limits<double>::infinity();
    double max = -min;
    for (double v : points)
        if (std::isfinite(v)) {
            min = std::min(min, v);
            max = std::max(max, v);
        }
    if (min > max) return std::nullopt;
    if (current && min >= current->lo && max <= current->hi &&
        (max - min) * 4 > current->hi - current->lo)
        return std::nullopt;
    if (max - min < 1e-9) {  // a flat line sits mid-height
        const double half = std::max(1.0, std::abs(min) * 0.05);
        min -= half;
        max += half;
    } else {  // a thick line must not touch the frame
        const double pad = (max - min) * 0.02;
        min -= pad;
        max += pad;
    }
    const double step = NiceStep(max - min, wanted);
    if (step <= 0) return std::nullopt;
    const FittedAxis fit{{std::floor(min / step) * step, std::ceil(max / step) * step}, step};
    if (current && *current == fit.range) return std::nullopt;
    return fit;
}

LinearMap::LinearMap(Range range, double p0, double p1)
    : range_(range), p0_(p0), p1_(p1), halfSpan_(range.hi / 2 - range.lo / 2) {}

double LinearMap::ToPixel(double value) const {
    if (!(halfSpan_ > 0) || !std::isfinite(halfSpan_)) return (p0_ + p1_) / 2;
    const double t = (value / 2 - range_.lo / 2) / halfSpan_;
    return p0_ + t * (p1_ - p0_);
}

double LinearMap::ToValue(double pixel) const {
    if (!(halfSpan_ > 0) || !std::isfinite(halfSpan_) || p1_ == p0_)
        return std::numeric_limits<double>::quiet_NaN();
    const double t = (pixel - p0_) / (p1_ - p0_);
    return 2 * (range_.lo / 2 + t * halfSpan_);
}

std::optional<size_t> NearestPoint(std::span<const Pixel> points, Pixel at, double radius) {
    std::optional<size_t> best;
    double bestDistance = radius;
    for (size_t i = 0; i < points.size(); ++i) {
        const double d = std::hypot(points[i].x - at.x, points[i].y - at.y);
        if (std::isfinite(d) && d <= bestDistance && (!best || d < bestDistance)) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

void ColumnExtents(std::span<const float> values, double first, double perPixel, int width,
                   std::vector<Column>& out) {
    out.assign(static_cast<size_t>(std::max(0, width)), Column{});
    const long n = static_cast<long>(values.size());
    if (n == 0 || !(perPixel > 0)) return;
    for (int px = 0; px < width; ++px) {
        long l0 = static_cast<long>(std::floor(first + px * perPixel));
        long l1 = static_cast<long>(std::floor(first + (px + 1) * perPixel));
        l0 = std::clamp(l0, 0L, n - 1);
        l1 = std::clamp(std::max(l1, l0 + 1), 0L, n);
        Column& c = out[static_cast<size_t>(px)];
        for (long l = l0; l < l1; ++l) {
            const float v = values[static_cast<size_t>(l)];
            if (std::isnan(v)) continue;
            if (!c.any) {
                c = {true, v, v, v, v};
                continue;
            }
            c.last = v;
            c.lo = std::min(c.lo, v);
            c.hi = std::max(c.hi, v);
        }
    }
}

}  // namespace korvane::plot
