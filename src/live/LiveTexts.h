#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "live/LiveTick.h"
#include "live/LiveValues.h"

namespace korvane::live {

// Captions of the diagnostics grid and the live logs; caption i names grid
// row i (1..38). The grid ends at row 37, so the last caption only names a
// log column.
inline constexpr int kGridRows = 38;  // rows 0..37; row 0 is the header
inline constexpr int kCaptionCount = 38;
std::string_view DiagnosticCaption(int row);  // "" outside 1..38

// The decoded value a grid row shows: rows 1..37 except 4 (LC-1), 5
// (correction) and 12 (never filled), which give nullopt.
std::optional<double> RowValue(const LiveValues& v, int row);
// The reverse, for values read back from a log: every row 1..37 but 12, with
// row 4 the LC-1's AFR and row 5 the narrow-band correction. False for a row
// that holds no value.
bool SetRowValue(LiveValues& v, int row, double value);

// Texts for column 1 of the grid after a tick, by row; nullopt leaves a
// cell as it is. Empty when the tick decoded no frame.
using GridTexts = std::array<std::optional<std::string>, kGridRows>;
GridTexts ComposeGridTexts(const LiveValues& v, const TickOutcome& tick, char sep);

// The eleven large figures of the dashboard.
struct DashboardTexts {
    std::string rpm, coolant, throttle, battery, coef, ignition, afrLc1, injection, afr, iac,
        airMass;
    friend bool operator==(const DashboardTexts&, const DashboardTexts&) = default;
};
DashboardTexts ComposeDashboardTexts(const LiveValues& v, OxygenSensor sensor, char sep);

// The rate display: frames and handled polls per second over one period of
// the rate timer, "FROM ECU:6,00//Calc:4,00".
std::string RateText(int32_t newPolls, int32_t newFreshTicks, int intervalMs, char sep);

// Keeps the counts of the previous rate tick as baselines.
class RateDisplay {
  public:
    std::string Tick(int32_t numlog, int32_t freshTickCount, int intervalMs, char sep);
    // Connect resets the counters; the baselines go with them.
    void Reset() { lastPolls_ = 0, lastFresh_ = 0; }

  private:
    int32_t lastPolls_ = 0;
    int32_t lastFresh_ = 0;
};

}  // namespace korvane::live
