#include "logs/ChannelRange.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace korvane::logs {

namespace {

// Fine enough to see a gap of a third of the span to within a percent, and
// a handful of passes over the values instead of sorting them: a long log
// holds a million lines per channel.
constexpr int kBins = 1024;

struct Kept {
    double low, high;
};

// One look at the values within [low, high]: a tail of at most a tenth of
// them, parted from the rest by empty bins over more than a third of the
// span, is left out. Returns the smallest and largest value kept.
Kept Trim(std::span<const float> values, double low, double high) {
    std::vector<size_t> bins(kBins, 0);
    const double width = (high - low) / kBins;
    auto binOf = [&](double x) { return std::min(kBins - 1, int((x - low) / width)); };
    size_t n = 0;
    for (float x : values) {
        if (!std::isfinite(x) || x < low || x > high) continue;
        ++bins[binOf(x)];
        ++n;
    }
    const size_t tail = n / 10;
    const int minGap = int(std::ceil(kBins / 3.0));
    // The first bin kept from below: after the widest run of empty bins
    // longer than minGap with at most `tail` values under it.
    auto cutFrom = [&](auto bin) {
        int cut = 0, widest = minGap, empty = 0;
        size_t below = 0;
        for (int i = 0; i < kBins && below <= tail; ++i) {
            if (bins[bin(i)] == 0) {
                ++empty;
                continue;
            }
            if (empty > widest && below > 0) {
                widest = empty;
                cut = i;
            }
            empty = 0;
            below += bins[bin(i)];
        }
        return cut;
    };
    const int first = cutFrom([](int i) { return i; });
    const int last = kBins - 1 - cutFrom([](int i) { return kBins - 1 - i; });
    if (first == 0 && last == kBins - 1) return {low, high};
    Kept kept{INFINITY, -INFINITY};
    for (float x : values) {
        if (!std::isfinite(x) || x < low || x > high) continue;
        const int b = binOf(x);
        if (b < first || b > last) continue;
        kept.low = std::min(kept.low, double(x));
        kept.high = std::max(kept.high, double(x));
    }
    return kept.low <= kept.high ? kept : Kept{low, high};
}

}  // namespace

ValueRange ChannelRange(std::span<const float> values) {
    double low = INFINITY, high = -INFINITY;
    size_t n = 0;
    for (float x : values) {
        if (!std::isfinite(x)) continue;
        low = std::min(low, double(x));
        high = std::max(high, double(x));
        ++n;
    }
    if (n == 0) return {};
    // A spike at one end hides a gap at the other: the second look measures
    // the gaps against the span the first one left.
    for (int pass = 0; pass < 2 && n >= 10 && high > low; ++pass) {
        const Kept kept = Trim(values, low, high);
        low = kept.low;
        high = kept.high;
    }
    ValueRange r{low, high};
    if (r.high - r.low < 1e-6 * std::max(1.0, std::fabs(r.high))) r = {r.low - 0.5, r.high + 0.5};
    return r;
}

}  // namespace korvane::logs
