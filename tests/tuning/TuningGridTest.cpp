// The tuning grid's cell texts and colour rules.
#include <gtest/gtest.h>

#include <memory>

#include "tuning/TuningGrid.h"

using namespace korvane::tuning;

namespace {

struct ColourCase {
    const char* name;
    float rewrites;
    float ratio;
    bool current;
    std::optional<CellColour> expected;
};

void PrintTo(const ColourCase& c, std::ostream* os) {
    *os << c.name;
}

class CellColours : public ::testing::TestWithParam<ColourCase> {};

}  // namespace

TEST_P(CellColours, FollowTheRulesInOrder) {
    const ColourCase& p = GetParam();
    WorkPointCell cell;
    cell.RewriteCount = p.rewrites;
    cell.Ratio = p.ratio;
    EXPECT_EQ(CellBackground(cell, p.current), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CellColours,
    ::testing::Values(ColourCase{"NeverTouched", 0, 3.0f, false, std::nullopt},
                      ColourCase{"NeverProcessedOnTarget", 0, 1.0f, false, std::nullopt},
                      ColourCase{"OnceOnTargetIsLightGreen", 1, 1.000f, false, kLightGreen},
                      ColourCase{"TwiceInsideTheBand", 2, 1.005f, false, kGreen},
                      ColourCase{"TwiceOnTheUpperLimit", 2, 1.009f, false, kLightGreen},
                      ColourCase{"TwiceOnTheLowerLimit", 2, 0.991f, false, kLightGreen},
                      ColourCase{"TwiceJustInsideTheLowerLimit", 2, 0.9911f, false, kGreen},
                      ColourCase{"SevenTimesOffTarget", 7, 1.2f, false, kLightGreen},
                      ColourCase{"EightTimesOffTarget", 8, 1.2f, false, kGreen},
                      ColourCase{"EightTimesNeverMeasured", 8, 3.0f, false, kLightYellow},
                      ColourCase{"RewrittenByNeighboursOnly", 1, 3.0f, false, kLightYellow},
                      ColourCase{"CurrentCellWithCompleteLearning", 9, 1.0f, true,
                                 kCurrentCellColour},
                      ColourCase{"CurrentCellNeverTouched", 0, 3.0f, true, kCurrentCellColour}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GridTexts, EachItemShowsItsQuantity) {
    auto t = std::make_unique<TuningTables>();
    auto& cell = t->WorkPointCells[2][5];
    cell.RewriteCount = 3;
    cell.SampleCount = 5;
    cell.Correction = 1.0078125f;
    cell.Ratio = 1.0625f;
    t->BcnTable[2][5].Current = 266.666656f;
    t->IgnitionTable[2][5] = 12.5f;
    struct Case {
        int item;
        const char* refill;
    } cases[] = {
        {kItemRt, "3//5"},   {kItemCorrection, "1,0078125"}, {kItemRatio, "1,0625"},
        {kItemBcn, "266,7"}, {kItemIgnition, "12,5"},
    };
    for (const auto& c : cases) EXPECT_EQ(RefillText(*t, 2, 5, c.item, ','), c.refill) << c.item;
    EXPECT_EQ(RefillText(*t, 2, 5, -1, ','), std::nullopt);
    EXPECT_EQ(RefillText(*t, 2, 5, kItemCorrection, '.'), "1.0078125");

    // A single-cell update shows the correction to three places.
    EXPECT_EQ(RewrittenText(*t, 2, 5, kItemCorrection, ','), "1,008");
    EXPECT_EQ(RewrittenText(*t, 2, 5, kItemRt, ','), "3//5");
    for (int item : {int{kItemRatio}, int{kItemBcn}, int{kItemIgnition}, -1})
        EXPECT_EQ(RewrittenText(*t, 2, 5, item, ','), std::nullopt) << item;
}
