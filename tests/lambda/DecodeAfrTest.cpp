#include <gtest/gtest.h>

#include <vector>

#include "lambda/LAMBDAThread.h"
#include "platform/NumberText.h"

using korvane::lambda::DecodeAfr;

namespace {

struct AfrCase {
    std::vector<uint8_t> payload;
    char sep;
    const char* text;
};
void PrintTo(const AfrCase& c, std::ostream* os) {
    *os << c.text;
}

class DecodeAfrCases : public ::testing::TestWithParam<AfrCase> {};

TEST_P(DecodeAfrCases, Text) {
    EXPECT_EQ(DecodeAfr(GetParam().payload, GetParam().sep), GetParam().text);
}

// 0x43 0x13: function code 000 (a lambda reading), multiplier 147, as an
// LC-1 alone on its line sends it.
INSTANTIATE_TEST_SUITE_P(
    Payloads, DecodeAfrCases,
    ::testing::Values(
        AfrCase{{0x43, 0x13, 0x03, 0x74}, '.', "14.7"},   // L = 500
        AfrCase{{0x43, 0x13, 0x83, 0xF4}, '.', "14.7"},   // top bits of the lambda bytes ignored
        AfrCase{{0x43, 0x13, 0x00, 0x00}, '.', "7.35"},   // L = 0
        AfrCase{{0x43, 0x13, 0x0C, 0x03}, '.', "29.97"},  // L = 1539
        AfrCase{{0x43, 0x13, 0x8C, 0x83}, '.', "29.97"},
        AfrCase{{0x43, 0x13, 0x0C, 0x04}, '.', "0"},      // L = 1540
        AfrCase{{0x43, 0x13, 0x7F, 0x7F}, '.', "0"},      // L = 16383
        AfrCase{{0x43, 0x13, 0x03, 0x6A}, ',', "14,55"},  // locale separator
        // Exact halves go to the even hundredth.
        AfrCase{{0x43, 0x13, 0x00, 0x32}, '.', "8.08"},   // L = 50: 8.085
        AfrCase{{0x43, 0x13, 0x01, 0x16}, '.', "9.56"},   // L = 150: 9.555
        AfrCase{{0x43, 0x13, 0x02, 0x5E}, '.', "12.5"},   // L = 350: 12.495
        AfrCase{{0x43, 0x13, 0x07, 0x36}, '.', "21.32"},  // L = 950: 21.315
        // Only bits 4..2 of the first byte are the function code; the
        // multiplier and the second byte do not matter.
        AfrCase{{0xE3, 0xFF, 0x03, 0x74}, '.', "14.7"},
        AfrCase{{0x00, 0x00, 0x03, 0x74}, '.', "14.7"},
        // Other function codes carry no mixture: warm-up, calibrations, error.
        AfrCase{{0x47, 0x13, 0x03, 0x74}, '.', "0"},  // 001
        AfrCase{{0x4B, 0x13, 0x03, 0x74}, '.', "0"},  // 010
        AfrCase{{0x53, 0x13, 0x03, 0x74}, '.', "0"},  // 100, warm-up
        AfrCase{{0x5F, 0x13, 0x03, 0x74}, '.', "0"},  // 111
        // Not four bytes: no text.
        AfrCase{{0x43, 0x13, 0x03}, '.', ""}, AfrCase{{0x43, 0x13, 0x03, 0x74, 0x00}, '.', ""},
        AfrCase{{}, '.', ""}));

// Every valid word, against the formula: a wrong scale, offset or bit mask
// shows up somewhere in the range even where the table above misses it.
TEST(DecodeAfr, WholeRangeFollowsTheFormula) {
    double previous = 0;
    for (int lambda = 0; lambda < 1540; ++lambda) {
        const std::vector<uint8_t> payload{0x43, 0x13, static_cast<uint8_t>(lambda >> 7),
                                           static_cast<uint8_t>(lambda & 0x7F)};
        const auto afr = korvane::platform::ParseDecimal(DecodeAfr(payload));
        ASSERT_TRUE(afr.has_value()) << lambda;
        EXPECT_NEAR(*afr, (lambda + 500) * 0.0147, 0.005 + 1e-9) << lambda;
        EXPECT_GE(*afr, previous) << lambda;
        previous = *afr;
    }
}

}  // namespace
