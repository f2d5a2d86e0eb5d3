#pragma once
// The ECU's whole address space, and so the firmware image the program works
// on: byte n of an image is the content of ECU address n.
#include <cstddef>

namespace korvane {

inline constexpr std::size_t kImageSize = 0x10000;

}  // namespace korvane
