#include <gtest/gtest.h>

#include "live/LiveTexts.h"
#include "live/Trend.h"

using namespace korvane::live;

namespace {

struct RateCase {
    int32_t polls, fresh;
    int intervalMs;
    char sep;
    const char* text;
};
void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.text;
}

class RateTexts : public ::testing::TestWithParam<RateCase> {};

TEST_P(RateTexts, PerSecondWithTwoDecimals) {
    const RateCase& k = GetParam();
    EXPECT_EQ(RateText(k.polls, k.fresh, k.intervalMs, k.sep), k.text);
}

INSTANTIATE_TEST_SUITE_P(Rates, RateTexts,
                         ::testing::Values(RateCase{3, 2, 500, ',', "FROM ECU:6,00//Calc:4,00"},
                                           RateCase{0, 0, 500, ',', "FROM ECU:0,00//Calc:0,00"},
                                           RateCase{1, 1, 3000, '.', "FROM ECU:0.33//Calc:0.33"},
                                           RateCase{2, 1, 3000, ',', "FROM ECU:0,67//Calc:0,33"},
                                           RateCase{7, 7, 1000, ',', "FROM ECU:7,00//Calc:7,00"},
                                           RateCase{5, 3, 0, ',', "FROM ECU:0,00//Calc:0,00"},
                                           RateCase{-4, 0, 1000, ',',
                                                    "FROM ECU:-4,00//Calc:0,00"}));

TEST(RateDisplay, EachTickMeasuresSinceThePreviousOne) {
    RateDisplay rate;
    EXPECT_EQ(rate.Tick(3, 2, 500, ','), "FROM ECU:6,00//Calc:4,00");
    EXPECT_EQ(rate.Tick(6, 2, 500, ','), "FROM ECU:6,00//Calc:0,00");
    EXPECT_EQ(rate.Tick(6, 2, 500, ','), "FROM ECU:0,00//Calc:0,00");
    // A connect restarts the counters and the baselines with them.
    rate.Reset();
    EXPECT_EQ(rate.Tick(2, 1, 1000, ','), "FROM ECU:2,00//Calc:1,00");
}

TEST(TrendHistory, FillsTo41PointsThenRedrawsFromTheHistory) {
    TrendHistory h;
    for (int i = 0; i < 41; ++i) EXPECT_FALSE(h.Push(i, 100 + i)) << i;
    ASSERT_EQ(h.ShownLeft().size(), 41u);
    EXPECT_EQ(h.Count(), 41);

    // The 42nd value is stored but shown only from the next update on.
    EXPECT_TRUE(h.Push(41, 141));
    ASSERT_EQ(h.ShownLeft().size(), 41u);
    EXPECT_EQ(h.ShownLeft().front(), 0);
    EXPECT_EQ(h.ShownLeft().back(), 40);

    EXPECT_TRUE(h.Push(42, 142));
    ASSERT_EQ(h.ShownLeft().size(), 41u);
    ASSERT_EQ(h.ShownRight().size(), 41u);
    EXPECT_EQ(h.ShownLeft().front(), 1);
    EXPECT_EQ(h.ShownLeft().back(), 41);
    EXPECT_EQ(h.ShownRight().back(), 141);
    EXPECT_EQ(h.Count(), 41);

    for (int i = 43; i < 100; ++i) h.Push(i, 100 + i);
    EXPECT_EQ(h.ShownLeft().front(), 58);
    EXPECT_EQ(h.ShownLeft().back(), 98);
}

LiveValues Sample() {
    LiveValues v;
    v.IgnAdvance = 15;
    v.IacPos = 38;
    v.FuelPerHour = 1.6;
    v.InjPulseWidth = 8;
    v.Afr = 14.7;
    v.AfrLc1 = 14.0;
    v.InjTimeCorrection = 1.0078125;
    v.MassAirFlow = 28.8;
    v.CyclicAirFlow = 400.0 / 6;
    v.AdcBattery = 0.05 * 3 + 5.2;  // 5.3500000000000005, shown as 5,35
    v.Rpm = 1960;
    return v;
}

struct ItemCase {
    int item;
    OxygenSensor sensor;
    double value;
};
void PrintTo(const ItemCase& c, std::ostream* os) {
    *os << "item " << c.item << (c.sensor == OxygenSensor::Lc1 ? " LC-1" : " narrow-band");
}

class TrendItems : public ::testing::TestWithParam<ItemCase> {};

TEST_P(TrendItems, SelectorPlotsItsValue) {
    const ItemCase& k = GetParam();
    EXPECT_EQ(TrendItemValue(k.item, Sample(), k.sensor), k.value);
}

constexpr auto kLc1 = OxygenSensor::Lc1;
constexpr auto kNarrow = OxygenSensor::NarrowBand;

INSTANTIATE_TEST_SUITE_P(
    Items, TrendItems,
    ::testing::Values(ItemCase{0, kLc1, 15}, ItemCase{1, kLc1, 38}, ItemCase{2, kLc1, 1.6},
                      ItemCase{3, kLc1, 8},
                      // The coefficient as its figure shows it: 14/14.7 → "0.952".
                      ItemCase{4, kLc1, 0.952}, ItemCase{4, kNarrow, 1.008},
                      ItemCase{5, kLc1, 14.0}, ItemCase{5, kNarrow, 14.7}, ItemCase{6, kLc1, 28.8},
                      ItemCase{7, kLc1, 400.0 / 6}, ItemCase{8, kLc1, 5.35},
                      ItemCase{9, kLc1, 1960}, ItemCase{-1, kLc1, 0}, ItemCase{10, kLc1, 0}));

TEST(TrendItems, FiguresNotShownYetPlotZero) {
    EXPECT_EQ(TrendItemValue(4, LiveValues{}, kLc1), 0);
    EXPECT_EQ(TrendItemValue(8, LiveValues{}, kLc1), 0);
}

TEST(ValueList, ShowsTheFiguresAndTheSensorsRatio) {
    const auto lc1 = ComposeValueList(Sample(), kLc1, ',');
    const std::array<std::string, 10> expected{
        "1960", "15", "38", "1,6", "8", "0,952", "14", "28,8", "66,6666666666667", "5,35"};
    EXPECT_EQ(lc1, expected);
    EXPECT_EQ(ComposeValueList(Sample(), kNarrow, ',')[6], "14,7");
    EXPECT_EQ(ComposeValueList(Sample(), kNarrow, ',')[5], "1,008");
}

}  // namespace
