// The range a channel is drawn over: lines far apart from the rest are left
// out, real excursions are not.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "logs/ChannelRange.h"

using korvane::logs::ChannelRange;
using korvane::logs::ValueRange;

namespace {

// A mixture channel around 14.7 over `n` lines.
std::vector<float> Afr(int n) {
    std::vector<float> v;
    for (int i = 0; i < n; ++i) v.push_back(13.0f + 3.0f * float(i % 50) / 49);
    return v;
}

}  // namespace

TEST(ChannelRange, LeavesOutATailPartedByAGapAndKeepsRealExcursions) {
    struct Case {
        const char* what;
        std::vector<float> values;
        ValueRange want;
    };
    std::vector<float> warmingUp = Afr(1000);
    for (int i = 0; i < 60; ++i) warmingUp[i] = 0;  // 6 %: the LC-1 still heating
    std::vector<float> spike = Afr(1000);
    spike[500] = 655.35f;  // one broken reading
    std::vector<float> both = warmingUp;
    both[700] = 655.35f;
    // A rev from idle to 6000 and back passes through the speeds between.
    std::vector<float> rev(1000, 850);
    for (int i = 0; i < 40; ++i) rev[300 + i] = 850 + 5150.0f * float(i < 20 ? i : 39 - i) / 19;
    std::vector<float> longWarmUp = Afr(1000);
    for (int i = 0; i < 200; ++i) longWarmUp[i] = 0;  // a fifth: part of the channel
    std::vector<float> withNan = Afr(100);
    withNan[3] = NAN;
    const Case cases[] = {
        {"LC-1 warming up", warmingUp, {13.0, 16.0}},
        {"a spike", spike, {13.0, 16.0}},
        {"both ends", both, {13.0, 16.0}},
        {"a rev", rev, {850, 6000}},
        {"a long warm-up", longWarmUp, {0, 16.0}},
        {"NaN skipped", withNan, {13.0, 16.0}},
        {"constant", std::vector<float>(50, 7.0f), {6.5, 7.5}},
        {"nothing", {}, {0, 1}},
        {"two values", {1.0f, 900.0f}, {1.0, 900.0}},
    };
    for (const Case& c : cases) {
        const ValueRange r = ChannelRange(c.values);
        EXPECT_NEAR(r.low, c.want.low, 1e-4) << c.what;
        EXPECT_NEAR(r.high, c.want.high, 1e-4) << c.what;
    }
}
