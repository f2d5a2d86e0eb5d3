#pragma once
// The tuner's controls over the learning: cells kept out of it (locks), the
// filters that hold sampling while the engine is cold or in a transient,
// and the limits on how far one processing may move a correction. Plain
// values and functions: the learning step, its view and the analysis of
// recorded logs use the same rules.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live/LiveValues.h"
#include "tuning/TuningTables.h"

namespace korvane::tuning {

// Setting keys. An empty value switches the control off.
inline constexpr const char* kLockedCellsKey = "Заблокированные ячейки";
inline constexpr const char* kMinCoolantKey = "Мин. ТОЖ для обучения";
inline constexpr const char* kMaxThrottleRateKey = "Макс. скорость дросселя %/с";
inline constexpr const char* kMaxRpmRateKey = "Макс. скорость оборотов об/с";
inline constexpr const char* kMaxStepKey = "Макс. шаг поправки %";
inline constexpr const char* kLimitsKey = "Пределы поправки";

// --- Locked cells ----------------------------------------------------------

using LockSet = std::array<bool, kCellCount>;  // by linear index k

struct LockListParse {
    LockSet locks{};
    // One line for the log when entries were left out; empty otherwise.
    std::string problem;
    // The entries that are no cell index, as written: a toggle writes them
    // back so the user's text is not lost (repeats are simply merged).
    std::vector<std::string> unreadable;
};
// "3 17 200": the linear indexes 0..255 separated by spaces (tabs, commas
// and semicolons are taken as spaces too). Entries that are no whole number
// in range, and repeats, are left out and named in `problem`.
LockListParse ParseLockList(std::string_view text);
// The indexes in ascending order, then the `kept` entries, all separated by
// single spaces.
std::string FormatLockList(const LockSet& locks, const std::vector<std::string>& kept = {});

// --- Filters ---------------------------------------------------------------

struct FilterSettings {
    std::optional<double> minCoolant;       // °C; none: no coolant filter
    std::optional<double> maxThrottleRate;  // %/s
    std::optional<double> maxRpmRate;       // rpm/s
};

enum class FilterHold : uint8_t { None, Coolant, Throttle, Rpm };

// Follows the frames one by one and says whether a frame may be sampled.
// A rate above its limit between two frames holds the learning for
// kHoldSeconds after the later frame (the enrichment of a transient outlasts
// it). Rates are taken over at least kMinSpanSeconds: frames closer than
// that count as that far apart, and each span is also judged whole. Frames
// come with their time in seconds, rising; a frame whose time does not rise
// is judged without the rates.
class LearningFilter {
  public:
    static constexpr double kHoldSeconds = 1.0;
    static constexpr double kMinSpanSeconds = 0.2;

    explicit LearningFilter(FilterSettings settings = {}) : s_(settings) {}
    void SetSettings(const FilterSettings& settings) { s_ = settings; }
    const FilterSettings& Settings() const { return s_; }

    FilterHold Check(const live::LiveValues& values, double seconds);
    // Forgets the previous frame (a new connection, a gap in the frames).
    void Reset();

  private:
    FilterSettings s_;
    bool havePrevious_ = false;
    double previousSeconds_ = 0;
    double previousThrottle_ = 0;
    double previousRpm_ = 0;
    double spanSeconds_ = 0;  // the frame that opened the current span
    double spanThrottle_ = 0;
    double spanRpm_ = 0;
    double throttleHoldUntil_ = -1e300;
    double rpmHoldUntil_ = -1e300;
};

// The short reason for the status line: "ТОЖ<60", "ДЗ>20%/с",
// "Обороты>1000/с"; empty for None.
std::string FilterHoldText(FilterHold hold, const FilterSettings& settings);

// --- Limits ----------------------------------------------------------------

// The outer bounds of any correction: what the learning, the neighbour
// prediction and the analysis may set, and what the table check before a
// write accepts (kPlausibleCorrectionLow/High), so a learned table is never
// refused by the next session.
inline constexpr double kOuterCorrectionLow = 0.25;
inline constexpr double kOuterCorrectionHigh = 1.95;

struct CorrectionLimits {
    std::optional<double> maxStepPercent;  // none: any step
    double low = kOuterCorrectionLow;      // within the outer bounds
    double high = kOuterCorrectionHigh;
};

// The correction a processing may set when the learning asks to go from
// `old` to `wanted`: the step is held to maxStepPercent of `old`, and the
// result to low..high. A correction already outside low..high may move
// back towards it but never further out. The outer bounds 0.25..1.95 are
// applied by the caller as before. Returns `wanted` itself, bit for bit,
// when no limit applies.
float LimitCorrection(float old, float wanted, const CorrectionLimits& limits);

// --- Reading the settings ----------------------------------------------------

struct ControlSettings {
    FilterSettings filters;
    CorrectionLimits limits;
};
struct ControlSettingsRead {
    ControlSettings settings;
    // The message that refuses the connection; empty when all are good.
    std::string error;
};
// Reads the five filter and limit settings by key (`lookup` gives the text,
// empty when absent). A number accepts "," or "." as separator. Refused: a
// value that is no number, a negative filter or a step not above 0, and
// limits that are not two numbers with low < high within 0.25..1.95.
template <class Lookup>
ControlSettingsRead ReadControlSettings(Lookup lookup);
ControlSettingsRead ReadControlSettingsFrom(const std::string& minCoolant,
                                            const std::string& maxThrottleRate,
                                            const std::string& maxRpmRate,
                                            const std::string& maxStep, const std::string& limits);

template <class Lookup>
ControlSettingsRead ReadControlSettings(Lookup lookup) {
    return ReadControlSettingsFrom(lookup(kMinCoolantKey), lookup(kMaxThrottleRateKey),
                                   lookup(kMaxRpmRateKey), lookup(kMaxStepKey), lookup(kLimitsKey));
}

// --- The change view -------------------------------------------------------

// "+7.0", "-3.5": the correction against the byte the image held when it was
// loaded, in per cent with one decimal; empty when the correction's byte is
// still that byte.
std::string ChangeText(float correction, uint8_t loadedByte, char decimalSeparator);
// Blue (leaner) through white to red (richer); full colour at 20 %.
struct Rgb {
    uint8_t r = 255, g = 255, b = 255;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
Rgb ChangeColour(float correction, uint8_t loadedByte);

}  // namespace korvane::tuning
