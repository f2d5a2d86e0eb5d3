// A closed-loop tuning run without a window and without real time: the
// program's own frame decoding, LC-1 decoding and tuning core, fed frame by
// frame from the simulator's engine, their single-cell writes going back into
// the engine's memory. It answers how well and how fast the autotuning
// brings the driven cells to lambda 1.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/EngineModel.h"
#include "sim/EngineRun.h"

namespace korvane::sim {

struct ClosedLoopOptions {
    int minutes = 10;   // simulated driving time, at least 1
    uint32_t seed = 1;  // engine path, fuel error field and firmware
    Scenario scenario = Scenario::Drive;
    Mixture mixture = Mixture::Interpolated;
    int lc1DelayMs = 0;
    // The ECU worker's poll rate with its default pauses.
    double framesPerSecond = 5.9;
    // The ECU's own enrichments (cold start, transients); none by default.
    EngineRun::Conditions conditions{};
    // Tuning settings by key over the shipped defaults ("Весовой коэф.
    // коррекции(%)" = "70", ...).
    std::map<std::string, std::string> settings;
    // A noisy line: the share of exchanges whose answer is lost and whose
    // answer comes with a broken checksum. A poll without an answer gives
    // no frame; a write is repeated up to twice, and one that still fails
    // is kept and written after the next good poll, as the worker does.
    double silence = 0;
    double noChecksum = 0;
};

// What one simulated minute looked like.
struct ClosedLoopMinute {
    double withinShare = 0;    // of the minute's driving time, |lambda - 1| <= 2 %
    double seconds = 0;        // the minute's driving time and, of it, the
    double withinSeconds = 0;  // time with |lambda - 1| <= 2 %
    int longCells = 0;         // cells visited for 30 s or more so far
    int longCellsWithin = 0;   // of those, the ones whose centre is within 2 % now
};

struct ClosedLoopResult {
    int frames = 0;
    int samples = 0;  // AnalisCount
    // Samples whose measured mixture (LC-1 over the ECU's AFR) differed by
    // more than 2 % from what the table gave at that moment: spoiled by the
    // sensor's delay or by an enrichment.
    int spoiledSamples = 0;
    int remakes = 0;      // single-cell writes that reached the engine's memory
    int processings = 0;  // PRecCount: processings that moved a correction
    int cellsVisited = 0;
    // Share of driving time with the mixture within 2 % of lambda 1, in the
    // first and in the last minute.
    double withinShareFirst = 0;
    double withinShareLast = 0;
    double withinShareLastFive = 0;  // the last five minutes (all, when shorter)
    // |lambda - 1| at the centre, with the final memory, of the cells visited
    // for at least 30 s.
    int longCells = 0;
    double medianLongCellError = 0;
    double worstLongCellError = 0;
    // The same among the cells the tuning processed at least once (the
    // throttle below "Не настраивать ниже %" keeps idle cells out).
    double worstLearnedLongCellError = 0;
    std::vector<ClosedLoopMinute> minutes;
    CellStatsTable stats{};
    std::vector<uint8_t> memory;  // the engine's memory at the end
    std::vector<uint8_t> image;   // the program's image at the end
    // |lambda - 1| at each cell's centre, with the memory at the start.
    std::vector<double> startCentreError;
    std::vector<double> endCentreError;
    // Per cell: how often the tuning processed it, and the seconds spent in
    // it up to the write that brought its centre within 2 % to stay (-1:
    // never, or it left the band again).
    std::vector<int> processed;
    std::vector<double> convergedAfter;
    std::vector<std::string> log;  // lines the tuning core logged
    // On a noisy line: polls that brought no frame, write repeats, and
    // writes kept after three failed tries (all written later).
    int pollsLost = 0;
    int writeRepeats = 0;
    int writesKept = 0;
};

constexpr double kLongVisitSeconds = 30;

ClosedLoopResult RunClosedLoop(const ClosedLoopOptions& options);

}  // namespace korvane::sim
