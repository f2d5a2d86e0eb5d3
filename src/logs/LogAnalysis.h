#pragma once
// Tuning from a recorded log: the frames the live tuning would have sampled
// (its own stationarity, filters, locks, settling and "Не настраивать ниже
// %"; the rate filters only where the log's line rate is known),
// pooled per work-point cell, give each cell with enough samples a suggested
// fuel correction (the image's correction times the averaged mixture ratio,
// within the live tuning's limits)
// and BCN (the averaged air charge). The image is never changed in place.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "logs/LogReader.h"
#include "tuning/TuningSeams.h"
#include "tuning/TuningTables.h"

namespace korvane::logs {

struct CellSuggestion {
    int samples = 0;       // frames sampled in the cell
    double ratio = 0;      // averaged "AFR LC-1" / AFR (0 without samples)
    double airCharge = 0;  // averaged cyclic air charge
    double oldCorrection = 0, newCorrection = 0;
    double oldBcn = 0, newBcn = 0;
    bool enough = false;  // samples reached "Количество циклов для обработки"
    // Which of the cell's bytes differ from the image's.
    bool correctionChanged = false;
    bool bcnChanged = false;
    // The change of the correction in percent (0 where it stays).
    double ChangePercent() const {
        return oldCorrection > 0 ? (newCorrection / oldCorrection - 1) * 100 : 0;
    }
};

struct LogAnalysis {
    bool ok = false;
    std::string error;
    std::array<CellSuggestion, tuning::kCellCount> cells{};  // by CellIndex(column, row)
    std::array<int32_t, tuning::kGridSize> rowLabels{};      // rpm per grid row
    std::array<int32_t, tuning::kGridSize> columnLabels{};   // throttle % per grid column
    int framesUsed = 0;   // log lines with engine speed and throttle
    int samplesUsed = 0;  // samples in cells that got a suggestion
    // Cells whose correction byte, and cells whose BCN byte, differ from the
    // image's; a cell may count in both.
    int correctionsChanged = 0;
    int bcnChanged = 0;
    int largestChangeCell = -1;  // CellIndex, -1 when nothing changed
    double largestChangePercent = 0;
    int minSamples = 0;  // "Количество циклов для обработки" as used
    std::vector<std::string> log;  // what the tuning said about its settings
    // The image with the suggested tables (corrections, both BCN copies).
    std::vector<uint8_t> image;
};

// "Ячеек с изменённой поправкой: N, с изменённым БЦН: M": what the summaries
// of the window and the command line say was changed.
std::string ChangedCellsText(const LogAnalysis& a);

// `image` is the firmware that was in the ECU while the log was recorded;
// `setting` gives the tuning's settings by key.
LogAnalysis AnalyzeLog(const LogData& log, std::span<const uint8_t, tuning::kImageSize> image,
                       const tuning::SettingLookup& setting);

// The command line form: "analyze LOG IMAGE -o NEW.bin" (args without the
// program name and the word "analyze"). Prints a summary to `out`, errors
// to `err`; returns the exit code (0 done, 1 bad input, 2 bad usage).
int RunAnalyzeCommand(const std::vector<std::string>& args, const tuning::SettingLookup& setting,
                      std::string& out, std::string& err);

}  // namespace korvane::logs
