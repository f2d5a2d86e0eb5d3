#pragma once
// The arithmetic of a plot, apart from any widget: round tick steps, axis
// ranges that fit a series, the mapping between values and pixels, the
// point under the mouse and the per-pixel-column extremes that let a long
// series draw at the cost of a short one.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace korvane::plot {

struct Range {
    double lo = 0, hi = 1;
    bool operator==(const Range&) const = default;
};

// A round step (1, 2 or 5 times a power of ten) of about `span / wanted`;
// 0 when the span has no finite positive size.
double NiceStep(double span, int wanted);

// The multiples of `step` within [lo, hi] (with a little tolerance at the
// ends), at most `limit` of them; none for a step that is not positive or
// would give more than `limit`.
std::vector<double> TickValues(Range range, double step, int limit = 64);

// Digits after the decimal point that show every tick of `step` apart.
int TickDecimals(double step);

// An axis range that fits `points` on round ticks: ends on multiples of the
// smallest 1-2-5 step that cuts their spread into at most `wanted` parts
// (so two to `wanted` + 2 steps from end to end), the points clear
// of the frame by 2 % of their spread. `current` is kept (nullopt) while
// it still holds the points and they fill more than a quarter of it, so
// the axis does not jump with every new point. A flat series gets a range
// of ±5 % (at least ±1) about its value. Non-finite points are ignored.
struct FittedAxis {
    Range range;
    double step = 1;
};
std::optional<FittedAxis> FitRounded(std::span<const double> points, std::optional<Range> current,
                                     int wanted = 4);

// Value <-> pixel along one axis. Pixel `p0` shows `range.lo` and `p1`
// shows `range.hi` (p1 < p0 for a vertical axis growing upwards). Works in
// halves so that even a range across the whole double line has a finite
// size; an empty range maps everything to the middle.
class LinearMap {
  public:
    LinearMap() = default;
    LinearMap(Range range, double p0, double p1);
    double ToPixel(double value) const;
    // NaN for a map without size.
    double ToValue(double pixel) const;
    Range Values() const { return range_; }

  private:
    Range range_;
    double p0_ = 0, p1_ = 1;
    double halfSpan_ = 0.5;
};

struct Pixel {
    double x = 0, y = 0;
};
// The index of the point nearest to `at` within `radius` pixels; the first
// of equally near ones. Points with a non-finite coordinate are skipped.
std::optional<size_t> NearestPoint(std::span<const Pixel> points, Pixel at, double radius);

// One pixel column of a downsampled series: the first, last, lowest and
// highest value of the samples that fall into it (`any` false when all of
// them are empty, NaN).
struct Column {
    bool any = false;
    float first = 0, last = 0, lo = 0, hi = 0;
};
// Columns for `width` pixels showing samples [first, first + width *
// perPixel) of `values` (sample l lies in column floor((l - first) /
// perPixel)); every column takes at least one sample. Clears and fills `out`.
void ColumnExtents(std::span<const float> values, double first, double perPixel, int width,
                   std::vector<Column>& out);

}  // namespace korvane::plot
