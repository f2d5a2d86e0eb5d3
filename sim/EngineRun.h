// The engine as it runs: the scenario's path, the true mixture with the
// correction table now in memory, the LC-1 sensor's delay behind the
// exhaust, and how long each work-point cell was visited and how far from
// lambda 1 it ran there. It steps in fixed model time, so the simulator's
// real-time thread and a tuning run in simulated time see the same engine.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "sim/EngineModel.h"

namespace korvane::sim {

// Time in a cell, and how the mixture ran meanwhile.
struct CellStats {
    double seconds = 0;
    double errorSeconds = 0;   // integral of |lambda - 1| over that time
    double withinSeconds = 0;  // of that time, with |lambda - 1| <= 2 %
};
using CellStatsTable = std::array<CellStats, kGridSize * kGridSize>;

class EngineRun {
  public:
    static constexpr double kStep = 0.01;    // seconds of model time per step
    static constexpr double kWithin = 0.02;  // the band counted in withinSeconds
    static constexpr int kMaxLc1DelayMs = 5000;

    // lc1DelayMs: how far the LC-1's reading trails the mixture on average
    // (0 .. kMaxLc1DelayMs). Three fifths of it is gas transport to the
    // sensor, a pure delay; the rest is the sensor's own first-order lag.
    EngineRun(Scenario scenario, uint32_t seed, Mixture mixture, int lc1DelayMs);

    // What the ECU adds to the table's mixture on its own. Off by default:
    // a warm engine whose mixture is the table's alone.
    struct Conditions {
        bool coldStart = false;  // from 20 °C, with warm-up enrichment
        // Acceleration enrichment and deceleration leaning: every % the
        // throttle opens makes the mixture 0.6 % richer, fading in 0.5 s.
        bool transients = false;
    };
    // Before the run starts.
    void SetConditions(const Conditions& conditions) { conditions_ = conditions; }

    // Keeps the engine in one cell; (-1, -1) lets the scenario drive again.
    void Hold(int column, int row);
    EngineState StateAt(double seconds) const;

    // The true mixture of a work point, and of a cell's centre, with the
    // correction table in `memory` (65 536 bytes): what the table gives,
    // without the ECU's enrichments (Conditions).
    double MixtureOf(const EngineState& state, std::span<const uint8_t> memory) const;
    double CellMixture(int column, int row, std::span<const uint8_t> memory) const;

    // Runs the engine up to `seconds` (earlier times are ignored) with the
    // correction table in `memory` as it is now.
    void AdvanceTo(double seconds, std::span<const uint8_t> memory);
    double Now() const { return now_; }
    // The lambda the LC-1's sensor sees at Now(), before the controller's
    // own measurement noise.
    double SensorLambda() const { return sensor_; }
    // Time spent in each cell, and how far the table's mixture (not the
    // enrichments) was from lambda 1 meanwhile.
    const CellStatsTable& Stats() const { return stats_; }

    // The diagnostic frame at a moment, with the mixture of that moment.
    std::array<uint8_t, 51> FrameAt(double seconds, std::span<const uint8_t> memory) const;

    uint32_t Seed() const { return seed_; }

  private:
    void Step(std::span<const uint8_t> memory);

    uint32_t seed_;
    Mixture mixture_;
    EngineModel model_;
    FuelErrorField fuel_;
    int heldColumn_ = -1, heldRow_ = -1;
    double now_ = 0;
    uint64_t steps_ = 0;
    bool primed_ = false;
    // The mixture of the last steps, oldest first from head_: the exhaust
    // on its way to the sensor.
    std::vector<double> transport_;
    size_t head_ = 0;
    double lagFactor_ = 1;  // share of the gap the sensor closes per step
    double sensor_ = 1;
    CellStatsTable stats_{};
    Conditions conditions_{};
    double enrichment_ = 1;  // lambda factor of the last step
    double transient_ = 0;
    int previousThrottle_ = -1;
};

// The LC-1's measurement of the sensor's lambda: packet number `index`
// carries up to ±0.2 % of noise.
double Lc1Measured(double sensorLambda, uint32_t seed, uint64_t index);

// A text table of the visited cells: rpm and throttle of the cell, the time
// spent there, the mean |lambda - 1| while there, and |lambda - 1| at the
// centre now (centreMixture(column, row)); then a summary line.
std::string VisitedCellsReport(const CellStatsTable& stats,
                               const std::function<double(int column, int row)>& centreMixture);

}  // namespace korvane::sim
