#include "logs/ChannelRange.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace korvane::logs {

namespace {

// The tail of `sorted` (ascending, nearest the bulk last) cut off by the
// widest gap above `minGap`: how many values to leave out.
size_t TailToDrop(const std::vector<float>& sorted, double minGap) {
    size_t drop = 0;
    double widest = minGap;
    for (size_t i = 1; i < sorted.size(); ++i) {
        const double gap = double(sorted[i]) - double(sorted[i - 1]);
        if (gap > widest) {
            widest = gap;
            drop = i;
        }
    }
    return drop;
}

}  // namespace

ValueRange ChannelRange(std::span<const float> values) {
    std::vector<float> v;
    v.reserve(values.size());
    for (float x : values)
        if (std::isfinite(x)) v.push_back(x);
    if (v.empty()) return {};
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    ValueRange r{*lo, *hi};
    const size_t n = v.size();
    const size_t tail = n / 10;
    if (tail >= 1 && r.high > r.low) {
        // The lowest tail+1 values, ascending, and the highest, descending
        // (each ending with the first value of the bulk).
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(tail), v.end());
        std::vector<float> low(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(tail) + 1);
        std::sort(low.begin(), low.end());
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(tail), v.end(),
                         std::greater<>());
        std::vector<float> high(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(tail) + 1);
        std::sort(high.begin(), high.end(), std::greater<>());
        for (float& x : high) x = -x;  // ascending towards the bulk, as `low`
        // A spike at one end hides a gap at the other: the second pass
        // measures the gaps against the span the first one left.
        const ValueRange whole = r;
        for (int pass = 0; pass < 2; ++pass) {
            const double minGap = (r.high - r.low) / 3;
            const size_t dl = TailToDrop(low, minGap);
            const size_t dh = TailToDrop(high, minGap);
            r = {dl ? low[dl] : whole.low, dh ? -high[dh] : whole.high};
        }
    }
    if (r.high - r.low < 1e-6 * std::max(1.0, std::fabs(r.high))) r = {r.low - 0.5, r.high + 0.5};
    return r;
}

}  // namespace korvane::logs
