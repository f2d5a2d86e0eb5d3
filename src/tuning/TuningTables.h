#pragma once
// The autotuning's data: one record per work point of the 16 × 16 grid
// (16 engine-speed rows by 16 throttle columns), the learned air charge, the
// neighbour predictions, the ignition table, the tracking state and the
// status counters. Every per-cell table is indexed [column][row]; the linear
// index k = column × 16 + row is also the byte offset of the cell in each
// 256-byte ECU table, in the image and in RAM.
//
// The whole set is about 10 MB (the sample lists are fixed tables); create
// it once, on the heap (std::make_unique<TuningTables>()), and keep it for
// the life of the window. Nothing here is allocated per frame.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/ImageSize.h"

namespace korvane::tuning {

inline constexpr int kGridSize = 16;
inline constexpr int kCellCount = kGridSize * kGridSize;
using korvane::kImageSize;

// ECU tables (image offset = RAM address).
inline constexpr uint16_t kCorrectionAddress = 0x7CF7;  // "Поправка": raw / 128
inline constexpr uint16_t kBcnAddress = 0x75EF;         // "БЦН": raw × 8 / 3
inline constexpr uint16_t kBcnCopyAddress = 0x726D;     // the image's second BCN copy
inline constexpr uint16_t kIgnitionAddress = 0x6DC8;    // "УОЗ": raw / 2 degrees

// Mixture samples a cell can hold, numbered from 1.
inline constexpr int kMaxSamples = 9996;
// Air-charge samples a cell can hold, numbered from 1; a processing needs one
// more sample than "Количество циклов для обработки", so that setting is kept
// within 1..15.
inline constexpr int kAirChargeSlots = 16;

// Linear index of a work point.
constexpr int CellIndex(int column, int row) {
    return column * kGridSize + row;
}

template <class T>
using Grid = std::array<std::array<T, kGridSize>, kGridSize>;  // [column][row]

struct WorkPointCell {
    // Times the cell was processed or rewritten by neighbour learning
    // ("Перезапись"); a whole number.
    float RewriteCount = 0;
    // Fuel correction factor ("Поправка"); its ECU byte is the nearest
    // integer to Correction × 128. Kept within 0.25 .. 1.95.
    float Correction = 0;
    // Averaged sample of the last processing ("Коррекция"); 1 is on target,
    // 3.0 marks a cell never processed.
    float Ratio = 3.0f;
    // Samples held in Samples ("Количество в ячейке"); a whole number.
    float SampleCount = 0;
    // Mixture samples; sample number n (1..kMaxSamples) is Samples[n - 1].
    // Entries above SampleCount are stale.
    std::array<float, kMaxSamples> Samples{};
};

// The bytes a sound correction table holds: 0.25 .. 1.95 × 128. A table
// with any byte outside is no fuel correction (a file of the wrong kind, an
// image of zeros) and is never written into a running engine.
inline constexpr int kPlausibleCorrectionLow = 32;  // 0.25 × 128
// 1.95 × 128 = 249.6 is written as 250: a cell learned to the top is sound.
inline constexpr int kPlausibleCorrectionHigh = 250;

// The outcome of looking at a correction table.
struct CorrectionCheck {
    bool looked = false;    // false: no table looked at yet
    int32_t outside = 0;    // bytes outside the plausible range
    int32_t firstCell = 0;  // linear index of the first of them
    uint8_t firstByte = 0;
    bool Plausible() const { return looked && outside == 0; }
};

CorrectionCheck CheckCorrectionTable(std::span<const uint8_t, kCellCount> table);
// Why a table is no correction table, for the log ("" when it is one).
std::string CorrectionProblem(const CorrectionCheck& check);

// CyclicAirFlow taken with each mixture sample of the same number; sample
// number n (1..16) of cell (c, r) is AirChargeSamples[c][r][n - 1].
using AirChargeSamplesTable = Grid<std::array<float, kAirChargeSlots>>;

struct BcnCell {
    float Current = 0;  // as last written to the ECU and the image
    float Learned = 0;  // what the learning wants; written when it differs
};

// Grid position of the cell the work point last entered while tuning: grid
// row r + 1 and grid column c + 1; 0, 0 = none.
struct GridCell {
    int32_t row = 0;
    int32_t col = 0;
    friend bool operator==(const GridCell&, const GridCell&) = default;
};

struct TuningTables {
    Grid<WorkPointCell> WorkPointCells{};
    AirChargeSamplesTable AirChargeSamples{};
    Grid<BcnCell> BcnTable{};
    Grid<float> NeighbourCorrections{};
    Grid<float> IgnitionTable{};  // degrees

    // Cells the tuner keeps out of the learning, by linear index k: no
    // sample, no processing, no neighbour or BCN rewrite of their bytes.
    std::array<bool, kCellCount> Locked{};
    // The correction and BCN bytes of the image as addtabl last took them:
    // what the change view compares with and what the way back restores.
    std::array<uint8_t, kCellCount> LoadedCorrection{};
    std::array<uint8_t, kCellCount> LoadedBcn{};

    // Flags (UI thread only).
    bool TuningActive = false;  // set by the start button, cleared by stop / disconnect
    bool NeighbourLearning = false;  // "Коэф. обучения соседних РТ" > 0 at the start

    // The image's correction table when the tables were last taken from an
    // image: the whole-table writes refuse to send tables of an implausible
    // one.
    CorrectionCheck SourceImage{};

    // "Не настраивать ниже %", taken at connect.
    int32_t MinTuneThrottle = 0;

    // Cell tracking; survives stopping the tuning and image loads.
    GridCell CurrentCell{};
    int32_t StableCycles = 0;  // frames since the work point entered CurrentCell
    int32_t SampleIndex = 0;   // last sample of CurrentCell; negative while settling

    // Counters.
    int32_t StationaryHitCount = 0;  // frames with the work point inside a cell
    int32_t GbcRecCount = 0;         // BCN table writes
    int32_t PRecCount = 0;           // single-cell correction writes
    int32_t AnalisCount = 0;         // samples stored
    int32_t AllCount = 0;            // tuning steps

    // An image load or read starts the counters afresh (not the tracking).
    void ResetCounters() {
        StationaryHitCount = GbcRecCount = PRecCount = AnalisCount = AllCount = 0;
    }
};

}  // namespace korvane::tuning
