#include "tuning/TuningControls.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/NumberText.h"

namespace korvane::tuning {

namespace {

// `listMarks`: commas and semicolons separate too (a list of whole numbers;
// in a pair of decimals the comma may be the decimal separator).
std::vector<std::string_view> Words(std::string_view text, bool listMarks) {
    auto isSpace = [listMarks](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' ||
               (listMarks && (c == ',' || c == ';'));
    };
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

std::optional<double> Number(const std::string& text) {
    const auto v = platform::ParseDecimal(text);
    if (v && std::isfinite(*v)) return v;
    return std::nullopt;
}

std::string Quoted(const char* key, const std::string& text) {
    return std::string("Параметр «") + key + "»: значение «" + text + "» ";
}

// A filter value: empty is off, otherwise a number not below 0.
std::optional<double> ReadFilter(const char* key, const std::string& text, std::string& error) {
    if (text.empty() || !error.empty()) return std::nullopt;
    const auto v = Number(text);
    if (!v || *v < 0) error = Quoted(key, text) + "должно быть числом не меньше 0.";
    return v;
}

}  // namespace

LockListParse ParseLockList(std::string_view text) {
    LockListParse out;
    std::string bad;
    std::string repeated;
    for (const std::string_view word : Words(text, true)) {
        const auto k = platform::ParseInteger(std::string(word));
        if (!k || *k < 0 || *k >= kCellCount) {
            bad += (bad.empty() ? "" : " ") + std::string(word);
            out.unreadable.emplace_back(word);
            continue;
        }
        bool& locked = out.locks[static_cast<size_t>(*k)];
        if (locked) {
            repeated += (repeated.empty() ? "" : " ") + std::string(word);
            continue;
        }
        locked = true;
    }
    if (!bad.empty() || !repeated.empty()) {
        out.problem = std::string("Параметр «") + kLockedCellsKey + "»: пропущены";
        if (!bad.empty()) out.problem += " неверные номера ячеек (" + bad + ")";
        if (!bad.empty() && !repeated.empty()) out.problem += " и";
        if (!repeated.empty()) out.problem += " повторы (" + repeated + ")";
        out.problem += "; допустимы номера 0..255 через пробел.";
    }
    return out;
}

std::string FormatLockList(const LockSet& locks, const std::vector<std::string>& kept) {
    std::string out;
    for (int k = 0; k < kCellCount; ++k)
        if (locks[static_cast<size_t>(k)]) out += (out.empty() ? "" : " ") + std::to_string(k);
    for (const std::string& word : kept) out += (out.empty() ? "" : " ") + word;
    return out;
}

FilterHold LearningFilter::Check(const live::LiveValues& v, double seconds) {
    // The rates are followed on every frame, also while the coolant holds
    // the learning, so a transient is caught whenever it happens.
    const bool rising = !havePrevious_ || seconds > previousSeconds_;
    if (havePrevious_ && rising) {
        // Against the previous frame over at least kMinSpanSeconds, so one
        // step of a sensor's last digit between two quick polls is no
        // transient; and against the frame that opened the current span,
        // so a steady ramp over many quick polls is one.
        auto judge = [&](double throttleFrom, double rpmFrom, double span) {
            if (s_.maxThrottleRate &&
                std::fabs(v.ThrottlePos - throttleFrom) / span > *s_.maxThrottleRate)
                throttleHoldUntil_ = seconds + kHoldSeconds;
            if (s_.maxRpmRate && std::fabs(v.Rpm - rpmFrom) / span > *s_.maxRpmRate)
                rpmHoldUntil_ = seconds + kHoldSeconds;
        };
        judge(previousThrottle_, previousRpm_,
              std::max(seconds - previousSeconds_, kMinSpanSeconds));
        if (seconds - spanSeconds_ >= kMinSpanSeconds) {
            judge(spanThrottle_, spanRpm_, seconds - spanSeconds_);
            spanSeconds_ = seconds;
            spanThrottle_ = v.ThrottlePos;
            spanRpm_ = v.Rpm;
        }
    }
    if (rising) {
        if (!havePrevious_) {
            spanSeconds_ = seconds;
            spanThrottle_ = v.ThrottlePos;
            spanRpm_ = v.Rpm;
        }
        havePrevious_ = true;
        previousSeconds_ = seconds;
        previousThrottle_ = v.ThrottlePos;
        previousRpm_ = v.Rpm;
    }
    if (s_.minCoolant && !(v.CoolantTemp >= *s_.minCoolant)) return FilterHold::Coolant;
    if (s_.maxThrottleRate && seconds <= throttleHoldUntil_) return FilterHold::Throttle;
    if (s_.maxRpmRate && seconds <= rpmHoldUntil_) return FilterHold::Rpm;
    return FilterHold::None;
}

void LearningFilter::Reset() {
    havePrevious_ = false;
    throttleHoldUntil_ = rpmHoldUntil_ = -1e300;
}

std::string FilterHoldText(FilterHold hold, const FilterSettings& s) {
    auto number = [](std::optional<double> v) {
        return v ? platform::FormatGeneral(*v, '.') : std::string();
    };
    switch (hold) {
        case FilterHold::Coolant:
            return "ТОЖ<" + number(s.minCoolant);
        case FilterHold::Throttle:
            return "ДЗ>" + number(s.maxThrottleRate) + "%/с";
        case FilterHold::Rpm:
            return "Обороты>" + number(s.maxRpmRate) + "/с";
        case FilterHold::None:
            break;
    }
    return {};
}

float LimitCorrection(float old, float wanted, const CorrectionLimits& limits) {
    long double next = wanted;
    bool changed = false;
    const long double from = old;
    if (limits.maxStepPercent) {
        const long double most = std::fabs(from) * *limits.maxStepPercent / 100;
        if (next - from > most) {
            next = from + most;
            changed = true;
        } else if (from - next > most) {
            next = from - most;
            changed = true;
        }
    }
    const long double high = limits.high, low = limits.low;
    if (next > high) {
        // Held at the bound, or where it was when it already lay beyond.
        next = std::max(high, std::min(from, next));
        changed = true;
    } else if (next < low) {
        next = std::min(low, std::max(from, next));
        changed = true;
    }
    return changed ? static_cast<float>(next) : wanted;
}

ControlSettingsRead ReadControlSettingsFrom(const std::string& minCoolant,
                                            const std::string& maxThrottleRate,
                                            const std::string& maxRpmRate,
                                            const std::string& maxStep, const std::string& limits) {
    ControlSettingsRead r;
    std::string& error = r.error;
    r.settings.filters.minCoolant = minCoolant.empty() ? std::nullopt : Number(minCoolant);
    if (!minCoolant.empty() && !r.settings.filters.minCoolant)
        error = Quoted(kMinCoolantKey, minCoolant) + "не является числом.";
    r.settings.filters.maxThrottleRate = ReadFilter(kMaxThrottleRateKey, maxThrottleRate, error);
    r.settings.filters.maxRpmRate = ReadFilter(kMaxRpmRateKey, maxRpmRate, error);
    if (!maxStep.empty() && error.empty()) {
        const auto v = Number(maxStep);
        if (!v || *v <= 0)
            error = Quoted(kMaxStepKey, maxStep) + "должно быть числом больше 0.";
        else
            r.settings.limits.maxStepPercent = v;
    }
    if (!limits.empty() && error.empty()) {
        const auto words = Words(limits, false);
        std::optional<double> low, high;
        if (words.size() == 2) {
            low = Number(std::string(words[0]));
            high = Number(std::string(words[1]));
        }
        if (!low || !high || !(*low < *high) || *low < kOuterCorrectionLow ||
            *high > kOuterCorrectionHigh) {
            error = Quoted(kLimitsKey, limits) +
                    "должно быть двумя числами через пробел, меньшее первым, в пределах 0.25–1.95.";
        } else {
            r.settings.limits.low = *low;
            r.settings.limits.high = *high;
        }
    }
    if (!error.empty()) r.settings = {};
    return r;
}

std::string ChangeText(float correction, uint8_t loadedByte, char sep) {
    const int64_t now = platform::RoundHalfEven(static_cast<long double>(correction) * 128);
    if (now == loadedByte) return {};
    if (loadedByte == 0) return "+∞";
    const double percent = (correction * 128.0 / loadedByte - 1) * 100;
    std::string text = platform::FormatFixed(percent, 1, sep);
    if (percent >= 0 && text.front() != '-') text.insert(text.begin(), '+');
    return text;
}

Rgb ChangeColour(float correction, uint8_t loadedByte) {
    const int64_t now = platform::RoundHalfEven(static_cast<long double>(correction) * 128);
    if (now == loadedByte) return {};
    const double percent = loadedByte == 0 ? 100 : (correction * 128.0 / loadedByte - 1) * 100;
    // Never darker than a quarter, so the text stays readable.
    const double share = std::min(std::fabs(percent) / 20.0, 1.0) * 0.75;
    const auto fade = static_cast<uint8_t>(std::lround(255 * (1 - share)));
    return percent > 0 ? Rgb{255, fade, fade} : Rgb{fade, fade, 255};
}

}  // namespace korvane::tuning
