#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "plot/PlotMath.h"

using namespace korvane::plot;

namespace {

constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NiceStep, RoundStepsAndNoneForASpanWithoutSize) {
    const struct {
        double span;
        int wanted;
        double step;
    } cases[] = {
        {10, 4, 5},  {1, 4, 0.5}, {100, 5, 20},    {0.003, 3, 0.001},
        {40, 4, 10}, {7, 1, 10},  {2400, 4, 1000}, {1e300, 4, 5e299},
        {0, 4, 0},   {-3, 4, 0},  {kInf, 4, 0},    {kNaN, 4, 0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(NiceStep(c.span, c.wanted), c.step) << c.span;
}

TEST(TickValues, MultiplesOfTheStepWithinTheRange) {
    EXPECT_EQ(TickValues({-0.5, 3.5}, 1), (std::vector<double>{0, 1, 2, 3}));
    // 0.1 + 0.2 is a hair above 0.3: the last tick still counts, and zero
    // is zero, not -1e-17.
    const auto tenths = TickValues({-0.1, 0.3}, 0.1);
    ASSERT_EQ(tenths.size(), 5u);
    EXPECT_EQ(tenths[1], 0.0);
    EXPECT_NEAR(tenths.back(), 0.3, 1e-12);
    // Too many, or no step: none rather than a frozen window.
    EXPECT_TRUE(TickValues({0, 1e6}, 1).empty());
    EXPECT_TRUE(TickValues({0, 1}, 0).empty());
    EXPECT_TRUE(TickValues({0, kInf}, 1).empty());
    EXPECT_TRUE(TickValues({0, 1}, kNaN).empty());
    // Across nearly the whole double line, and where the step is below the
    // values' precision: few ticks, strictly rising.
    for (Range r : {Range{-kMax / 2, kMax / 2}, Range{1e300, 1e300 * (1 + 1e-15)}}) {
        const double step = NiceStep(r.hi / 2 - r.lo / 2, 4);
        const auto ticks = TickValues(r, step);
        EXPECT_LE(ticks.size(), 64u);
        for (size_t i = 1; i < ticks.size(); ++i) EXPECT_LT(ticks[i - 1], ticks[i]);
    }
}

TEST(TickDecimals, ShowsEveryStepApart) {
    const struct {
        double step;
        int decimals;
    } cases[] = {{1000, 0}, {1, 0}, {0.5, 1}, {0.2, 1}, {0.1, 1}, {0.05, 2}, {0.001, 3}, {0, 0}};
    for (const auto& c : cases) EXPECT_EQ(TickDecimals(c.step), c.decimals) << c.step;
}

TEST(FitRounded, RoundEndsAroundThePointsAndStillWhileTheyFit) {
    const struct {
        const char* name;
        std::vector<double> points;
    } cases[] = {
        {"engine speed", {820, 1900, 2400, 1500}},
        {"negative and positive", {-12.5, 3, 30}},
        {"small", {0.91, 0.97, 1.08}},
        {"flat", {3000, 3000}},
        {"one point", {14.7}},
        {"zero", {0, 0, 0}},
        {"with gaps", {kNaN, 5, 9, kInf}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto fit = FitRounded(c.points, std::nullopt);
        ASSERT_TRUE(fit);
        const auto [lo, hi] = fit->range;
        for (double v : c.points)
            if (std::isfinite(v)) {
                EXPECT_LT(lo, v);
                EXPECT_GT(hi, v);
            }
        // Ends on the step, two to six steps between them (four wanted).
        EXPECT_NEAR(std::remainder(lo, fit->step), 0, fit->step * 1e-9);
        EXPECT_NEAR(std::remainder(hi, fit->step), 0, fit->step * 1e-9);
        const double intervals = (hi - lo) / fit->step;
        EXPECT_GE(intervals, 2 - 1e-9);
        EXPECT_LE(intervals, 6 + 1e-9);
        // The same points again, or a point inside: the axis stays.
        EXPECT_FALSE(FitRounded(c.points, fit->range));
    }
    // Points that leave the range, or shrink to under a quarter of it, refit.
    const Range wide{0, 4000};
    EXPECT_FALSE(FitRounded(std::vector<double>{800, 2400}, wide));
    EXPECT_TRUE(FitRounded(std::vector<double>{800, 4100}, wide));
    EXPECT_TRUE(FitRounded(std::vector<double>{800, 900}, wide));
    EXPECT_FALSE(FitRounded(std::vector<double>{}, std::nullopt));
    EXPECT_FALSE(FitRounded(std::vector<double>{kNaN}, std::nullopt));
}

TEST(LinearMap, MapsBothWaysAndStaysFinite) {
    const LinearMap up({0, 100}, 200, 0);  // a vertical axis: up is smaller y
    EXPECT_DOUBLE_EQ(up.ToPixel(0), 200);
    EXPECT_DOUBLE_EQ(up.ToPixel(25), 150);
    EXPECT_DOUBLE_EQ(up.ToPixel(100), 0);
    EXPECT_DOUBLE_EQ(up.ToValue(150), 25);
    EXPECT_DOUBLE_EQ(up.ToValue(-200), 200);  // beyond the frame still maps

    // The whole double line: finite pixels and values, ends where they belong.
    const LinearMap all({-kMax, kMax}, 0, 100);
    EXPECT_DOUBLE_EQ(all.ToPixel(-kMax), 0);
    EXPECT_DOUBLE_EQ(all.ToPixel(0), 50);
    EXPECT_DOUBLE_EQ(all.ToPixel(kMax), 100);
    EXPECT_DOUBLE_EQ(all.ToValue(50), 0);
    EXPECT_TRUE(std::isfinite(all.ToValue(100)));

    // No height: the middle, and no value for a pixel.
    const LinearMap flat({5, 5}, 0, 100);
    EXPECT_DOUBLE_EQ(flat.ToPixel(5), 50);
    EXPECT_TRUE(std::isnan(flat.ToValue(10)));
}

TEST(NearestPoint, TheClosestWithinTheRadius) {
    const std::vector<Pixel> points{{10, 10}, {20, 10}, {kNaN, 10}, {30, 10}, {20, 10}};
    EXPECT_EQ(NearestPoint(points, {18, 12}, 8), 1u);  // the first of two equal ones
    EXPECT_EQ(NearestPoint(points, {27, 10}, 8), 3u);
    EXPECT_EQ(NearestPoint(points, {10, 18}, 8), 0u);  // on the radius
    EXPECT_FALSE(NearestPoint(points, {10, 18.5}, 8));
    EXPECT_FALSE(NearestPoint({}, {0, 0}, 8));
}

// Brute force over a small series with gaps: every column holds the first,
// last, lowest and highest of exactly its samples.
TEST(ColumnExtents, EachColumnSummarisesItsSamples) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> values{3, 1, nan, 7, 5, nan, nan, 2, 9, 4, 6, 8};
    std::vector<Column> columns;

    ColumnExtents(values, 0, 3, 4, columns);  // three samples per pixel
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_TRUE(columns[0].any);
    EXPECT_EQ(columns[0].first, 3);
    EXPECT_EQ(columns[0].last, 1);
    EXPECT_EQ(columns[0].lo, 1);
    EXPECT_EQ(columns[0].hi, 3);
    EXPECT_EQ(columns[1].first, 7);
    EXPECT_EQ(columns[1].last, 5);
    EXPECT_TRUE(columns[2].any);  // nan, 2, 9
    EXPECT_EQ(columns[2].first, 2);
    EXPECT_EQ(columns[2].lo, 2);
    EXPECT_EQ(columns[2].hi, 9);
    EXPECT_EQ(columns[3].first, 4);
    EXPECT_EQ(columns[3].last, 8);
    EXPECT_EQ(columns[3].lo, 4);
    EXPECT_EQ(columns[3].hi, 8);

    // Zoomed in past one sample per pixel: neighbouring columns share one.
    ColumnExtents(values, 4, 0.5, 4, columns);
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[0].first, 5);
    EXPECT_EQ(columns[1].first, 5);
    EXPECT_FALSE(columns[2].any);
    EXPECT_FALSE(columns[3].any);

    // Past the end: the last sample, never beyond it.
    ColumnExtents(values, 11, 2, 3, columns);
    for (const Column& c : columns) EXPECT_EQ(c.first, 8);

    ColumnExtents({}, 0, 1, 5, columns);
    EXPECT_EQ(columns.size(), 5u);
    EXPECT_FALSE(columns[0].any);
}

}  // namespace
