// The simulated engine: the work-point grid it is calibrated on, a hidden
// fuel error per cell, a drive scenario for engine speed and throttle, and
// the ECU's 51-byte diagnostic frame built from it.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korvane::sim {

constexpr int kGridSize = 16;
constexpr uint16_t kCorrectionTable = 0x7CF7;
constexpr uint16_t kBcnTable = 0x75EF;
constexpr uint16_t kBcnCopy = 0x726D;
constexpr uint16_t kIgnitionTable = 0x6DC8;
constexpr uint16_t kRpmGridMap = 0x613C;
constexpr uint16_t kThrottleGridMap = 0x7208;
constexpr int kRpmStep = 40;  // rpm per entry of the speed grid map
constexpr double kStoichAfr = 14.7;

// Header values of the grid (what the program derives from the two grid
// maps) and the band limits between them: a value belongs to the band whose
// upper limit is the first one at or above it.
struct Grid {
    static const std::array<int, kGridSize>& RpmLabels();
    static const std::array<int, kGridSize>& ThrottleLabels();
    static double RowLow(int row);
    static double RowHigh(int row);
    static double ColumnLow(int column);
    static double ColumnHigh(int column);
    static int RowOf(double rpm);          // -1 outside the grid
    static int ColumnOf(double throttle);  // -1 outside the grid
    static int CellIndex(int column, int row) { return column * kGridSize + row; }
};

// The engine's air charge (mg per cycle) in a cell.
double AirChargeAt(int column, int row);
// Ignition advance (degrees) the synthetic calibration holds for a cell.
double IgnitionAt(int column, int row);

// A smooth field of fuel errors, roughly 0.85 .. 1.15, drawn from the seed:
// the mixture a cell runs with a correction of exactly 1.
class FuelErrorField {
  public:
    explicit FuelErrorField(uint32_t seed);
    double At(int column, int row) const { return f_[Grid::CellIndex(column, row)]; }

  private:
    std::array<double, kGridSize * kGridSize> f_{};
};

// How the true mixture follows the correction table in memory.
// Interpolated: as the ECU uses its tables, between the four surrounding
// cell centres, so away from a centre a cell's correction is mixed with its
// neighbours'. PerCell: one mixture for the whole cell (the cell's own fuel
// error and correction byte), handy where a test wants an exact value.
enum class Mixture { Interpolated, PerCell };
bool ParseMixture(const std::string& text, Mixture& out);

// Where the ECU places a work point on its grid, in sixteenths of a cell
// from the first centre (0 .. 240 on each axis): the entries of its speed
// and throttle grid maps in memory (65 536 bytes).
struct GridPosition {
    int row16 = 0;
    int column16 = 0;
};
GridPosition EcuGridPosition(std::span<const uint8_t> memory, int rpmByte, int throttle);

enum class Scenario { Idle, Sweep, Drive };
bool ParseScenario(const std::string& text, Scenario& out);

struct EngineState {
    int rpmByte = 0;   // engine speed / 40
    int throttle = 0;  // %
    int column = 0;    // cell the work point is in
    int row = 0;
    double seconds = 0;  // model time
    double Rpm() const { return rpmByte * 40.0; }
};

// Engine speed and throttle over time: dwell in a cell for a few seconds
// with a little noise, move on. The same seed and scenario give the same
// path, so tests can rely on it.
class EngineModel {
  public:
    EngineModel(Scenario scenario, uint32_t seed);
    EngineState At(double seconds) const;
    // The state when the engine is held in one cell.
    EngineState HeldAt(int column, int row, double seconds) const;

  private:
    struct Segment {
        int column, row;
        double start, dwell;
    };
    EngineState Place(int column, int row, double seconds, double fromRpm, double fromThrottle,
                      double blend) const;
    uint32_t seed_;
    std::vector<Segment> segments_;
    double total_ = 0;
};

// The true lambda at a work point with the correction table now in memory.
double MixtureAt(const EngineState& state, const FuelErrorField& fuel,
                 std::span<const uint8_t> memory, Mixture mixture);
// The mixture at a cell's centre: the cell's fuel error over its own
// correction, whichever way the mixture is modelled.
double CellCentreMixture(int column, int row, const FuelErrorField& fuel,
                         std::span<const uint8_t> memory);

// Coolant temperature (°C) at a moment of the run: a warm engine settles
// from 85 to 90; a cold start warms from 20 and passes 60 after about two
// minutes.
double CoolantAt(double seconds, bool coldStart);
// The ECU's own warm-up enrichment as a lambda factor: a fifth richer at
// 20 °C, fading to none at 65 °C.
double WarmUpEnrichment(double coolant);

// Everything the diagnostic frame needs beyond the engine state.
struct FrameInputs {
    bool coldStart = false;  // the coolant of a cold start (CoolantAt)
    double lambda = 1;       // true mixture of the current cell
    double afrEcu = kStoichAfr;
    uint8_t ignitionRaw = 0;  // the ignition table byte of the current cell
    uint8_t correctionRaw = 128;
};

std::array<uint8_t, 51> BuildDiagnosticFrame(const EngineState& state, const FrameInputs& in,
                                             uint32_t seed);

// A deterministic value in [-1, 1] for (seed, channel, step).
double Noise(uint32_t seed, uint32_t channel, uint64_t step);

}  // namespace korvane::sim
