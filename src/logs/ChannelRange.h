#pragma once
// The range a log channel is drawn over: the one that holds almost all of
// its values. A few lines far from the rest (0 while the LC-1 warms up, a
// bad reading's spike) would otherwise squeeze the whole trace into a
// corner; a real excursion, such as a rev that passes through the values in
// between, stays inside.
#include <span>

namespace korvane::logs {

struct ValueRange {
    double low = 0;
    double high = 1;
    friend bool operator==(const ValueRange&, const ValueRange&) = default;
};

// The values' extremes, except that a tail of at most a tenth of the values
// at either end is left out when a gap of more than a third of the whole
// span parts it from the rest (a second look measures against the span the
// first left). NaN values are skipped; no values give 0..1, a constant
// channel its value ±0.5.
ValueRange ChannelRange(std::span<const float> values);

}  // namespace korvane::logs
