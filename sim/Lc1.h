// LC-1 wideband controller packets: header B2 82, then two 16-bit words
// whose bytes carry seven bits each.
#pragma once
#include <array>
#include <cstdint>

namespace korvane::sim::lc1 {

enum Function : uint8_t {
    kLambda = 0,     // 000: lambda reading
    kWarmUp = 4,     // 100: heating, the word is % of operating temperature × 10
    kErrorCode = 6,  // 110: the word is an error code
};

constexpr int kAfrMultiplier = 147;  // petrol, AFR × 10 at lambda 1

// The first word: 0 1 0 F2 F1 F0 1 AF7 | 0 AF6..AF0.
std::array<uint8_t, 6> Packet(uint8_t function, int word);

// Lambda word for a mixture: lambda × 1000 − 500, kept within 0 .. 1539.
int LambdaWord(double lambda);

}  // namespace korvane::sim::lc1
