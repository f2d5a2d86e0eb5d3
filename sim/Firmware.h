// The synthetic firmware image and the demo map description: every byte is
// generated here from the engine model.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ImageSize.h"
#include "sim/Simulator.h"  // MakeSyntheticFirmware, MakeDemoMapCp1251

namespace korvane::sim {

using korvane::kImageSize;
constexpr uint16_t kSignatureAt = 0x0A40;  // 90 61 3C E5 55 in the code area
constexpr uint16_t kControlByte = 0x608A;
constexpr uint16_t kIdentityAt = 0xF300;  // 8 bytes the program reads at session start

// Entry m of the speed grid map (m × 40 rpm) and of the throttle grid map
// (m %): the grid position × 16.
uint8_t RpmGridEntry(int m);
uint8_t ThrottleGridEntry(int m);

// The tables of the demo map, so tests can check what the map promises.
struct DemoTable {
    const char* path;  // element names, '/'-separated, UTF-8
    bool curve;        // "2D" when true, "1D" otherwise
    uint16_t address;
    int points;    // curves: points; maps over two axes: columns
    int rows = 0;  // maps over two axes ("3D"): rows; 0 for the other kinds
};
const std::vector<DemoTable>& DemoTables();

}  // namespace korvane::sim
