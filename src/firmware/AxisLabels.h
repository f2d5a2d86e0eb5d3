#pragma once
// The label derivation behind Namesstringgrid, before positions that no map
// entry reaches are filled in: kept apart so the two steps can be checked
// one by one.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "firmware/FirmwareImage.h"

namespace korvane::firmware {

using AxisLabels = std::array<std::optional<int32_t>, 16>;

// The engine-speed step named by the last step marker in the image, if any.
std::optional<int32_t> FindRpmStep(std::span<const uint8_t, kImageSize> image);

// Row labels from a 256-entry engine-speed map with the given step.
AxisLabels RowLabels(std::span<const uint8_t, kGridMapSize> map, int32_t rpmStep);
// Column labels from a 256-entry throttle map.
AxisLabels ColumnLabels(std::span<const uint8_t, kGridMapSize> map);

// Every missing label gets a number: between two known labels by linear
// interpolation, before the first or after the last known one that label's
// value. A set without any known label becomes all zeros.
std::array<int32_t, 16> FillGaps(const AxisLabels& labels);

}  // namespace korvane::firmware
