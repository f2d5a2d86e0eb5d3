#pragma once
// Until the synchroniser keeps the ECU's RAM equal to the image, the map
// editor hands each range it changed to the worker itself, here.
#include <cstddef>
#include <cstdint>

#include "maps/MapNumbers.h"
#include "maps/WriteBack.h"

namespace korvane::ecu {
class EcuCommands;
}

namespace korvane::maps {

// Posts the image's bytes of [address, address + length) as "correct23DF"
// writes of whole 64-byte blocks, at most 15 blocks each; a last block that
// would pass the end of memory starts earlier instead, so only image bytes
// are ever written.
HandOverResult HandOverRange(ecu::EcuCommands& worker, uint16_t address, size_t length,
                             ConstImageBytes image);

}  // namespace korvane::maps
