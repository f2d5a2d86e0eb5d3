#include "tuning/TuningTables.h"

#include <type_traits>

namespace korvane::tuning {

// The tables hold 32-bit floats: their rounding is part of what the learning
// computes, so a wider type would give other bytes.
static_assert(sizeof(float) == 4);
static_assert(std::is_trivially_copyable_v<TuningTables>);

}  // namespace korvane::tuning
