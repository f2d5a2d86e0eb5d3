#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "live/LiveValues.h"

namespace korvane::live {

// The payload of the ECU's answer to 21 0F.
inline constexpr size_t kDiagnosticFrameSize = 51;

// Decodes a frame into `values` (all fields of the frame layout; AfrLc1 is
// not touched). A frame of any other length is refused and leaves `values`
// as it was.
bool DecodeFrame(std::span<const uint8_t> frame, LiveValues& values);

// 14.7 × (b + 128) / 256 rounded to two decimals (halves to even), so byte 0
// reads 7.35, 128 reads 14.7 and 255 reads 21.99.
double AfrFromByte(uint8_t b);

// b / 2 for 0..127; the upper half counts down from 0 by halves of the raw
// byte (254 reads −127), which is how the ECU reports retarded ignition.
double IgnAdvanceFromByte(uint8_t b);

}  // namespace korvane::live
