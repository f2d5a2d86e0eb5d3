#include <gtest/gtest.h>

#include "platform/NumberText.h"

using namespace korvane::platform;

struct GeneralCase {
    double value;
    char sep;
    const char* text;
};
void PrintTo(const GeneralCase& c, std::ostream* os) {
    *os << c.text;
}

class GeneralForm : public ::testing::TestWithParam<GeneralCase> {};

TEST_P(GeneralForm, ShortestTextUpTo15Digits) {
    EXPECT_EQ(FormatGeneral(GetParam().value, GetParam().sep), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, GeneralForm,
    ::testing::Values(GeneralCase{0.0, ',', "0"}, GeneralCase{-0.0, ',', "0"},
                      GeneralCase{1.0, ',', "1"}, GeneralCase{14.7, ',', "14,7"},
                      GeneralCase{14.7, '.', "14.7"}, GeneralCase{-3.25, ',', "-3,25"},
                      GeneralCase{static_cast<double>(0.1f), ',', "0,100000001490116"},
                      GeneralCase{1.0 / 3.0, '.', "0.333333333333333"},
                      GeneralCase{123456789012345.0, '.', "123456789012345"},
                      GeneralCase{1e15, '.', "1E15"}, GeneralCase{0.0001, '.', "0.0001"},
                      GeneralCase{0.00001, '.', "0.00001"}, GeneralCase{1.5e-7, ',', "1,5E-7"},
                      GeneralCase{6000.0, ',', "6000"}, GeneralCase{0.5, ',', "0,5"}));

struct FixedCase {
    double value;
    int decimals;
    const char* text;
};
void PrintTo(const FixedCase& c, std::ostream* os) {
    *os << c.text;
}

class FixedForm : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedForm, Patterns) {
    EXPECT_EQ(FormatFixed(GetParam().value, GetParam().decimals, ','), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FixedForm,
    ::testing::Values(FixedCase{0.0, 1, "0,0"}, FixedCase{14.7, 2, "14,70"},
                      FixedCase{2.675, 2, "2,68"}, FixedCase{0.05, 1, "0,1"},
                      FixedCase{-0.04, 1, "0,0"}, FixedCase{-1.25, 1, "-1,3"},
                      FixedCase{9.9996, 3, "10,000"}, FixedCase{99.95, 1, "100,0"},
                      FixedCase{1.0005, 3, "1,001"}, FixedCase{1234.5678, 0, "1235"},
                      FixedCase{static_cast<double>(0.1f), 3, "0,100"}));

TEST(RoundHalfEven, TiesGoToEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(0.5L), 0);
    EXPECT_EQ(RoundHalfEven(1.5L), 2);
    EXPECT_EQ(RoundHalfEven(2.5L), 2);
    EXPECT_EQ(RoundHalfEven(-2.5L), -2);
    EXPECT_EQ(RoundHalfEven(-3.5L), -4);
    EXPECT_EQ(RoundHalfEven(2.5000001L), 3);
    EXPECT_EQ(RoundHalfEven(127.49L), 127);
}

TEST(ParseNumbers, IntegersAreWholeDecimalText) {
    EXPECT_EQ(ParseInteger("120000"), 120000);
    EXPECT_EQ(ParseInteger("-5"), -5);
    for (const char* bad : {"", " 20", "20 ", "1,5", "abc", "-", "99999999999999999999"})
        EXPECT_FALSE(ParseInteger(bad).has_value()) << bad;
}

TEST(ParseNumbers, DecimalsTakeCommaOrPoint) {
    EXPECT_DOUBLE_EQ(*ParseDecimal("70"), 70.0);
    EXPECT_DOUBLE_EQ(*ParseDecimal("0,5"), 0.5);
    EXPECT_DOUBLE_EQ(*ParseDecimal("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(*ParseDecimal("-1.5E2"), -150.0);
    for (const char* bad : {"", ",", "1,2,3", "1.2.", "x1", "1e", "nan", "inf"})
        EXPECT_FALSE(ParseDecimal(bad).has_value()) << bad;
}
