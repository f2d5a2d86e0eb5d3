#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "live/Rgb.h"

namespace korvane::live {

// The flags of both workers that the status bar shows, copied once per tick
// (each one a whole 32-bit read of a 0/1 flag).
struct LinkFlags {
    int32_t ecuIsComConnected = 0;     // ECU worker: port open
    int32_t ecuIsEcuConnected = 0;     // ECU worker: session stands
    int32_t lambdaIsComConnected = 0;  // LC-1 reader: port open
    int32_t lambdaIsConnected = 0;     // LC-1 reader: packets arriving
    int32_t lambdaIsError = 0;         // LC-1 reader: last reading invalid
    std::string lambdaPortName;
    int32_t ecuNoAnswer = 0;           // window: no valid frame for a while
    int32_t lambdaWarmUpPercent = -1;  // LC-1 reader: sensor warming up (0..100), else -1
    friend bool operator==(const LinkFlags&, const LinkFlags&) = default;
};

// Rectangle in the bar's own pixels; right and bottom excluded.
struct CellRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const CellRect&, const CellRect&) = default;
};

struct StatusCell {
    CellRect rect;
    Rgb fill;
    std::string text;  // drawn on the fill colour, not clipped to the cell
    int textX = 0, textY = 0;
    friend bool operator==(const StatusCell&, const StatusCell&) = default;
};

// What the three link cells show. Cell C is absent while the LC-1 port is
// closed: the panel stays plain then.
struct StatusCells {
    StatusCell ecuPort;                // A
    StatusCell ecuSession;             // B
    std::optional<StatusCell> lambda;  // C
    friend bool operator==(const StatusCells&, const StatusCells&) = default;
};

// The bar's fixed layout: six panels, 16 pixels high.
inline constexpr int kStatusBarHeight = 16;
inline constexpr std::array<int, 6> kStatusPanelWidths{28, 28, 28, 549, 100, 200};

// Cells A, B and C for the given flags; `ecuPortText` is panel 0's own text
// (the ECU port name set at connect).
StatusCells ComposeStatusCells(const LinkFlags& flags, const std::string& ecuPortText);

// The engine timer must not run while the ECU port is closed.
inline bool EngineTimerMayRun(const LinkFlags& flags) {
    return flags.ecuIsComConnected != 0;
}

}  // namespace korvane::live
