#pragma once
// What the tuning grid shows in a work-point cell and how it colours it, free
// of widgets so the rules are tested without a display.
#include <cstdint>
#include <optional>
#include <string>

#include "tuning/TuningCore.h"
#include "tuning/TuningTables.h"

namespace korvane::tuning {

// The items of the view selector, in order.
enum GridItem : int {
    kItemRt = 0,          // "РТ": RewriteCount//SampleCount
    kItemCorrection = 1,  // "Поправка "
    kItemRatio = 2,       // "Коррекция"
    kItemBcn = 3,         // "БЦН"
    kItemIgnition = 4,    // "УОЗ"
    kItemChange = 5,      // "Изменение %": the correction against the loaded image
};
static_assert(kItemChange == kChangeViewItem);
inline constexpr const char* kGridItems[] = {"РТ",  "Поправка ", "Коррекция",
                                             "БЦН", "УОЗ",       "Изменение %"};

// Text of work point (column, row) when the whole grid is refilled for the
// item; nullopt for an item that is none of the five.
std::optional<std::string> RefillText(const TuningTables& t, int column, int row, int item,
                                      char decimalSeparator);
// Text of a cell that a neighbour rewrite has just changed; nullopt when the
// item does not show what changed.
std::optional<std::string> RewrittenText(const TuningTables& t, int column, int row, int item,
                                         char decimalSeparator);
// The ignition value of a cell as the grid shows it ("0.0").
std::string IgnitionText(const TuningTables& t, int column, int row, char decimalSeparator);

struct CellColour {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const CellColour&, const CellColour&) = default;
};
inline constexpr CellColour kCurrentCellColour{255, 0, 0};
inline constexpr CellColour kLightGreen{214, 255, 173};
inline constexpr CellColour kGreen{166, 255, 43};
inline constexpr CellColour kLightYellow{255, 255, 145};

// Background of a work-point cell; nullopt keeps the grid's own. The current
// cell is red whatever its learning says; otherwise the rules apply in order
// and a later one that holds wins.
std::optional<CellColour> CellBackground(const WorkPointCell& cell, bool current);

inline constexpr CellColour kLockedColour{200, 200, 200};

// How a work-point cell is drawn under the view selector's item.
struct CellLook {
    std::optional<CellColour> background;  // nullopt: the grid's own
    bool locked = false;                   // grey, with a lock mark
    bool currentFrame = false;             // the current cell as a red frame
    friend bool operator==(const CellLook&, const CellLook&) = default;
};
// A locked cell is grey in every view, over every other rule (the current
// one gets a red frame); "Изменение %" colours by the change (the current
// cell framed, as red there means richer); the other views as CellBackground.
CellLook CellAppearance(const TuningTables& t, int column, int row, int item, bool current);

}  // namespace korvane::tuning
