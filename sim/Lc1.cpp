#include "sim/Lc1.h"

#include <algorithm>
#include <cmath>

namespace korvane::sim::lc1 {

std::array<uint8_t, 6> Packet(uint8_t function, int word) {
    const unsigned w = static_cast<unsigned>(std::clamp(word, 0, 0x3FFF));
    const uint8_t high =
        static_cast<uint8_t>(0x40 | ((function & 7) << 2) | 0x02 | ((kAfrMultiplier >> 7) & 1));
    const uint8_t low = static_cast<uint8_t>(kAfrMultiplier & 0x7F);
    return {0xB2,
            0x82,
            high,
            low,
            static_cast<uint8_t>((w >> 7) & 0x7F),
            static_cast<uint8_t>(w & 0x7F)};
}

int LambdaWord(double lambda) {
    return static_cast<int>(std::clamp(std::lround(lambda * 1000.0) - 500L, 0L, 1539L));
}

}  // namespace korvane::sim::lc1
