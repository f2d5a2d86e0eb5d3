#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "live/LiveTick.h"
#include "live/LiveValues.h"

namespace korvane::live {

// The items both trend selectors offer, in their order.
inline constexpr std::array<std::string_view, 10> kTrendItems{
    "УОЗ",  "РХХ",      "Расход",   "Время впрыска", "К.коррекции",
    "LC-1", "Массовый", "Цикловой", "Напряжение",    "Обороты"};
inline constexpr int kTrendDefaultItem = 9;  // "Обороты"

// The value a selector item plots. "К.коррекции" and "Напряжение" are the
// numbers their dashboard figures show (the coefficient rounded to three
// decimals); "LC-1" is the ECU's own AFR with a narrow-band sensor. An item
// outside the list plots 0.
double TrendItemValue(int item, const LiveValues& v, OxygenSensor sensor);

// The chart's two histories. The chart shows at most 41 points; once full,
// each update redraws it from the history, oldest first, so the newest value
// appears one update later.
class TrendHistory {
  public:
    static constexpr int kSlots = 42;
    static constexpr int kShown = 41;

    // Stores one pair; returns true when the shown series were rebuilt whole,
    // false when the pair was appended to them.
    bool Push(double left, double right);

    int Count() const { return count_; }
    const std::vector<double>& ShownLeft() const { return shownLeft_; }
    const std::vector<double>& ShownRight() const { return shownRight_; }

  private:
    std::array<double, kSlots> left_{};
    std::array<double, kSlots> right_{};
    int count_ = 0;
    std::vector<double> shownLeft_, shownRight_;
};

// The live-values list beside the map tree, in its key order.
inline constexpr std::array<std::string_view, 10> kValueListKeys{
    "Обороты",     "УОЗ",  "РХХ",      "Расход",   "Время впрыска",
    "К.коррекции", "LC-1", "Массовый", "Цикловой", "Напряжение"};
std::array<std::string, 10> ComposeValueList(const LiveValues& v, OxygenSensor sensor, char sep);

}  // namespace korvane::live
