#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "live/LiveValues.h"

namespace korvane::live {

// The setting "Датчик кислорода": only the exact text "ШДК LC-1" selects the
// wideband LC-1; anything else, the empty text included, is narrow-band.
enum class OxygenSensor { Lc1, NarrowBand };
OxygenSensor OxygenSensorFromSetting(const std::string& text);

// The LC-1 reader's published fields, copied once per tick.
struct LambdaSnapshot {
    int32_t isComConnected = 0;
    int32_t isLambdaConnected = 0;
    int32_t isLambdaError = 0;
    double afr = 0;
};

// Accepted only from a healthy link and strictly inside 9 < AFR < 20.
bool AcceptLambdaReading(const LambdaSnapshot& lc);

// Counts the worker's polls as the engine timer sees them: a tick that finds
// `numlog` grown handles all the polls since the last one as one.
class PollTracker {
  public:
    // True when this tick found a new poll.
    bool Observe(int32_t numlog);
    void Reset() { seenPollCount_ = 0, freshTickCount_ = 0; }
    int32_t SeenPollCount() const { return seenPollCount_; }
    int32_t FreshTickCount() const { return freshTickCount_; }

  private:
    int32_t seenPollCount_ = 0;
    int32_t freshTickCount_ = 0;
};

struct TickOutcome {
    bool frameDecoded = false;  // views are refreshed only then
    bool newPoll = false;       // run the tuning step and the log line
    // The frame decoded, the LC-1 is the sensor in use and its reading was
    // accepted on this tick: only then is AfrLc1 a fresh sample for the log.
    bool lc1Taken = false;
    // Row 4 of the grid shows the LC-1 ratio accepted up to the previous tick.
    double afrLc1Before = 0;
    // Row 5, when this tick gives it a new value (an accepted LC-1 reading,
    // or the ECU's own coefficient with a narrow-band sensor).
    std::optional<double> correctionRow;
};

// The engine timer's state: the live values, the narrow-band flag the tuning
// reads and the poll bookkeeping.
class LiveDecoder {
  public:
    // One tick: `frame` is the tick's own copy of the worker's last frame.
    TickOutcome Tick(std::span<const uint8_t> frame, int32_t numlog, OxygenSensor sensor,
                     const LambdaSnapshot& lc);

    // Connect: counters and the narrow-band flag start afresh; the values
    // (and the last LC-1 ratio) stay as shown.
    void ResetForConnect() {
        polls_.Reset();
        NarrowBandMode = false;
    }

    const LiveValues& Values() const { return values_; }
    const PollTracker& Polls() const { return polls_; }
    bool NarrowBandMode = false;

  private:
    LiveValues values_;
    PollTracker polls_;
};

// The coefficient shown in row 5 and under "К.корр": AfrLc1 / Afr with the
// LC-1, the ECU's injection-time correction otherwise; 0 before any frame.
double CorrectionCoef(const LiveValues& v, OxygenSensor sensor);

}  // namespace korvane::live
