#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "maps/MapNumbers.h"

using namespace korvane::maps;

namespace {

struct HexCase {
    const char* text;
    std::optional<int32_t> value;
};

class HexText : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexText, ReadsUpperCaseDigitsOnly) {
    EXPECT_EQ(HexTextToInt(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, HexText,
                         ::testing::Values(HexCase{"00004A10", 18960}, HexCase{"1A", 26},
                                           HexCase{"", 0}, HexCase{"4a10", std::nullopt},
                                           HexCase{"4G", std::nullopt}, HexCase{" 1", std::nullopt},
                                           HexCase{"FFFFFFFF", -1}, HexCase{"80000000", INT32_MIN},
                                           // Digits beyond the eighth fall out of the 32-bit sum.
                                           HexCase{"100004A10", 18960}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(TableAddress, OnlyEightUpperCaseDigitsStartingWithFourZeros) {
    const struct {
        const char* text;
        std::optional<uint16_t> offset;
    } cases[] = {
        {"00004A10", 0x4A10},       {"0000FFFF", 0xFFFF},       {"00000000", 0},
        {"00004a10", std::nullopt},  // lower case
        {"4A10", std::nullopt},     {"0004A10", std::nullopt},  {"000004A10", std::nullopt},
        {"00014A10", std::nullopt},  // past the 64 KiB image
        {"", std::nullopt},         {"0000 A10", std::nullopt}, {"0000-A10", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseTableAddress(c.text), c.offset) << c.text;
}

TEST(MapNumber, TakesCommaOrPointAndRefusesAnythingElse) {
    const struct {
        const char* text;
        std::optional<long double> value;
    } cases[] = {
        {"1,5", 1.5L},
        {"1.5", 1.5L},
        {"-40", -40.0L},
        {"+2", 2.0L},
        {"1E3", 1000.0L},
        {"2,5e-1", 0.25L},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1,5,0", std::nullopt},
        {"1.5.0", std::nullopt},
        {"abc", std::nullopt},
        {"-", std::nullopt},
        {"1e", std::nullopt},
        {"inf", std::nullopt},
        {"1e99999", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << c.text;
    // Extended precision: 0.1 is read closer than a double holds it.
    EXPECT_NE(*ParseNumber("0.1"), static_cast<long double>(0.1));
}

}  // namespace
