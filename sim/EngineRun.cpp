#include "sim/EngineRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvane::sim {

EngineRun::EngineRun(Scenario scenario, uint32_t seed, Mixture mixture, int lc1DelayMs)
    : seed_(seed), mixture_(mixture), model_(scenario, seed), fuel_(seed) {
    const double delay = std::clamp(lc1DelayMs, 0, kMaxLc1DelayMs) / 1000.0;
    const double transport = 0.6 * delay;
    const double lag = delay - transport;
    transport_.assign(static_cast<size_t>(std::lround(transport / kStep)) + 1, 1.0);
    lagFactor_ = lag > 0 ? 1.0 - std::exp(-kStep / lag) : 1.0;
}

void EngineRun::Hold(int column, int row) {
    const bool inside = column >= 0 && column < kGridSize && row >= 0 && row < kGridSize;
    heldColumn_ = inside ? column : -1;
    heldRow_ = inside ? row : -1;
}

EngineState EngineRun::StateAt(double seconds) const {
    if (heldColumn_ >= 0) return model_.HeldAt(heldColumn_, heldRow_, seconds);
    return model_.At(seconds);
}

double EngineRun::MixtureOf(const EngineState& state, std::span<const uint8_t> memory) const {
    return MixtureAt(state, fuel_, memory, mixture_);
}

double EngineRun::CellMixture(int column, int row, std::span<const uint8_t> memory) const {
    return CellCentreMixture(column, row, fuel_, memory);
}

void EngineRun::AdvanceTo(double seconds, std::span<const uint8_t> memory) {
    // Whole steps from the start, so the path does not depend on how often
    // the caller looks.
    while (static_cast<double>(steps_ + 1) * kStep <= seconds) Step(memory);
}

void EngineRun::Step(std::span<const uint8_t> memory) {
    const EngineState s = StateAt(now_);
    const double table = MixtureOf(s, memory);
    double factor = 1;
    if (conditions_.coldStart) factor *= WarmUpEnrichment(CoolantAt(now_, true));
    if (conditions_.transients) {
        constexpr double kPerPercent = 0.006;
        constexpr double kFade = 0.5;  // seconds
        if (previousThrottle_ >= 0) transient_ += kPerPercent * (s.throttle - previousThrottle_);
        previousThrottle_ = s.throttle;
        transient_ *= std::exp(-kStep / kFade);
        factor *= 1.0 - std::clamp(transient_, -0.3, 0.3);
    }
    enrichment_ = factor;
    const double lambda = table * factor;
    if (!primed_) {
        // A warm engine: the exhaust and the sensor already show the mixture.
        std::fill(transport_.begin(), transport_.end(), lambda);
        sensor_ = lambda;
        primed_ = true;
    }
    CellStats& cell = stats_[Grid::CellIndex(s.column, s.row)];
    const double error = std::fabs(table - 1.0);
    cell.seconds += kStep;
    cell.errorSeconds += error * kStep;
    if (error <= kWithin) cell.withinSeconds += kStep;

    transport_[head_] = lambda;
    head_ = (head_ + 1) % transport_.size();
    const double arriving = transport_[head_];  // the oldest: transport time ago
    sensor_ += (arriving - sensor_) * lagFactor_;
    ++steps_;
    now_ = static_cast<double>(steps_) * kStep;
}

std::array<uint8_t, 51> EngineRun::FrameAt(double seconds, std::span<const uint8_t> memory) const {
    const EngineState s = StateAt(seconds);
    FrameInputs in;
    in.lambda = MixtureOf(s, memory) * enrichment_;
    in.coldStart = conditions_.coldStart;
    const int k = Grid::CellIndex(s.column, s.row);
    in.ignitionRaw = memory[kIgnitionTable + k];
    in.correctionRaw = memory[kCorrectionTable + k];
    return BuildDiagnosticFrame(s, in, seed_);
}

double Lc1Measured(double sensorLambda, uint32_t seed, uint64_t index) {
    return sensorLambda * (1.0 + 0.002 * Noise(seed, 9, index));
}

std::string VisitedCellsReport(const CellStatsTable& stats,
                               const std::function<double(int column, int row)>& centreMixture) {
    std::string out =
        "Visited cells: time there, mean |lambda - 1| while there, |lambda - 1| at the centre now\n"
        "  rpm  thr %    time s   mean %    now %\n";
    char buf[96];
    int visited = 0;
    double total = 0, within = 0;
    for (int r = 0; r < kGridSize; ++r)
        for (int c = 0; c < kGridSize; ++c) {
            const CellStats& s = stats[Grid::CellIndex(c, r)];
            if (s.seconds < EngineRun::kStep / 2) continue;
            ++visited;
            total += s.seconds;
            within += s.withinSeconds;
            std::snprintf(buf, sizeof buf, "%5d  %5d  %8.1f  %7.2f  %7.2f\n", Grid::RpmLabels()[r],
                          Grid::ThrottleLabels()[c], s.seconds, 100.0 * s.errorSeconds / s.seconds,
                          100.0 * std::fabs(centreMixture(c, r) - 1.0));
            out += buf;
        }
    std::snprintf(buf, sizeof buf,
                  "%d cells visited in %.1f s; within 2 %% of lambda 1 for %.1f %% of that time\n",
                  visited, total, total > 0 ? 100.0 * within / total : 0.0);
    out += buf;
    return out;
}

}  // namespace korvane::sim
