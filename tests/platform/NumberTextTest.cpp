#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

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

// The general form as printf's 15-digit rounding writes it: the reference
// the faster formatting must match digit for digit.
std::string ReferenceGeneral(double value, char sep) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string digits;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    const int e = std::atoi(p + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = value < 0 ? "-" : "";
    if (e >= 15 || e < -5) {
        out += digits.substr(0, 1);
        if (digits.size() > 1) out += sep + digits.substr(1);
        return out + "E" + std::to_string(e);
    }
    if (e < 0) return out + "0" + sep + std::string(static_cast<size_t>(-e - 1), '0') + digits;
    const size_t intLen = static_cast<size_t>(e) + 1;
    if (digits.size() <= intLen) return out + digits + std::string(intLen - digits.size(), '0');
    return out + digits.substr(0, intLen) + sep + digits.substr(intLen);
}

TEST(GeneralFormRounding, MatchesPrintfRoundingOnEdges) {
    const double kEdges[] = {-0.0,
                             0.1 + 0.2,
                             1e15,
                             1e15 - 1,
                             1e15 + 1,
                             999999999999999.0,
                             999999999999999.4,
                             999999999999999.5,
                             9999999999999995.0,
                             0.3,
                             2.0 / 3.0,
                             1e-5,
                             9.99999999999999e-6,
                             9.999999999999995e-6,
                             1e-6,
                             123456.7890123456,
                             100000000000000.5,
                             100000000000001.5,
                             0.125,
                             1.0000000000000002,
                             0.9999999999999999,
                             1e300,
                             1.7976931348623157e308,
                             2.2250738585072014e-308,
                             4.9406564584124654e-324,
                             1e-320,
                             5e-324,
                             1e22,
                             1e23,
                             123e-20,
                             14.7,
                             13.1 * 1.1,
                             6000.0 / 7.0,
                             0.884,
                             1.0 / 1024,
                             3.0517578125e-05,
                             4503599627370497.0,
                             9007199254740993.0,
                             1e16,
                             1.5e-7,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
    for (double v : kEdges)
        for (double s : {1.0, -1.0})
            for (char sep : {',', '.'})
                EXPECT_EQ(FormatGeneral(s * v, sep), ReferenceGeneral(s * v, sep)) << s * v;
    EXPECT_EQ(FormatGeneral(0.1 + 0.2, ','), "0,3");
    EXPECT_EQ(FormatGeneral(999999999999999.5, '.'), "1E15");
    EXPECT_EQ(FormatGeneral(5e-324, '.'), "4.94065645841247E-324");
}

TEST(GeneralFormRounding, MatchesPrintfRoundingOverManyValues) {
    // Every binary exponent, random mantissas, and decimal values of every
    // length up to 17 digits (those with 16 and 17 need the rounding).
    std::mt19937_64 random(19);
    std::uniform_int_distribution<uint64_t> bits;
    for (int i = 0; i < 200000; ++i) {
        const uint64_t b = bits(random);
        double v;
        std::memcpy(&v, &b, sizeof v);
        if (!std::isfinite(v)) continue;
        ASSERT_EQ(FormatGeneral(v, ','), ReferenceGeneral(v, ',')) << v;
    }
    for (int digits = 1; digits <= 17; ++digits) {
        std::uniform_int_distribution<int64_t> mantissa(0,
                                                        static_cast<int64_t>(std::pow(10, digits)));
        for (int exp10 = -25; exp10 <= 25; ++exp10)
            for (int i = 0; i < 200; ++i) {
                const double v = static_cast<double>(mantissa(random)) * std::pow(10.0, exp10);
                ASSERT_EQ(FormatGeneral(v, ','), ReferenceGeneral(v, ',')) << v;
            }
    }
}

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

INSTANTIATE_TEST_SUITE_P(Values, FixedForm,
                         ::testing::Values(FixedCase{0.0, 1, "0,0"}, FixedCase{14.7, 2, "14,70"},
                                           FixedCase{2.675, 2, "2,68"}, FixedCase{0.05, 1, "0,1"},
                                           FixedCase{-0.04, 1, "0,0"}, FixedCase{-1.25, 1, "-1,3"},
                                           FixedCase{9.9996, 3, "10,000"},
                                           FixedCase{99.95, 1, "100,0"},
                                           FixedCase{1.0005, 3, "1,001"},
                                           FixedCase{1234.5678, 0, "1235"},
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
