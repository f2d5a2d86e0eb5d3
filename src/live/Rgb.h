#pragma once
#include <cstdint>

namespace korvane::live {

// A colour as the views paint it; kept free of Qt so the logic that picks
// colours can be tested without a display.
struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kGreen{0, 128, 0};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kRed{255, 0, 0};

}  // namespace korvane::live
