#pragma once
// The log line of a curve written while connected. The bytes themselves go
// into the image; the ECU's RAM follows the image.
#include <optional>
#include <string>

#include "maps/MapNumbers.h"

namespace korvane::maps {

// A curve written: address bytes as hex digits, the point count as
// decimal text and the bytes as text for the log.
struct PendingCurveWrite {
    std::string adrf, adrs, len, data;
};

// 64-byte blocks a curve write of `len` points takes; nullopt when `len` is
// no whole number of at least 1.
std::optional<int> CurveBlocks(const std::string& len);

// "Меняю..." line of a curve hand-over.
std::string CurveLogLine(const PendingCurveWrite& pending);

}  // namespace korvane::maps
