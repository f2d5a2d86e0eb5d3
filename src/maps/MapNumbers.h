#pragma once
// Numbers and addresses as a map description writes them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ImageSize.h"

namespace korvane::maps {

using korvane::kImageSize;
using ImageBytes = std::span<uint8_t, kImageSize>;
using ConstImageBytes = std::span<const uint8_t, kImageSize>;

// Upper-case hexadecimal text to a 32-bit integer: "A".."F" count 10..15,
// "0".."9" as usual, anything else (lower case included) is no number.
// Empty text gives 0; digits beyond the eighth from the right drop out of
// the 32-bit sum.
std::optional<int32_t> HexTextToInt(std::string_view text);

// A decimal number of a description or a value box, in extended precision:
// an optional sign, digits with "," or "." as separator, an optional
// exponent. Blanks are not allowed.
std::optional<long double> ParseNumber(std::string_view text);

// The value as a 32-bit float holds it (the shown single value, the X axis).
inline float ToFloat(long double v) {
    return static_cast<float>(v);
}

// A table's "address": eight upper-case hex digits, the first four "0000".
// The rest is the image offset and the ECU RAM address (high, low byte).
std::optional<uint16_t> ParseTableAddress(std::string_view text);

}  // namespace korvane::maps
