#include "live/StatusCells.h"

namespace korvane::live {

namespace {
constexpr int kMargin = 1;
constexpr int kW0 = kStatusPanelWidths[0];
constexpr int kW1 = kStatusPanelWidths[1];
constexpr int kW2 = kStatusPanelWidths[2];
}  // namespace

StatusCells ComposeStatusCells(const LinkFlags& flags, const std::string& ecuPortText) {
    StatusCells cells;

    // A and B reach one pixel below a 16-pixel bar; the bar clips them.
    cells.ecuPort.rect = {kMargin - 1, kMargin + 1, kW0, kStatusBarHeight + 1};
    cells.ecuPort.fill = flags.ecuIsComConnected == 1 ? kGreen : kYellow;
    cells.ecuPort.text = ecuPortText;
    cells.ecuPort.textX = kMargin + 4;
    cells.ecuPort.textY = kMargin + 1;

    cells.ecuSession.rect = {kW0, kMargin + 1, kW0 + kW1, kStatusBarHeight + 1};
    const bool online = flags.ecuIsEcuConnected == 1;
    // A session that stands but brings no frames is not shown as online.
    const bool answering = online && flags.ecuNoAnswer == 0;
    cells.ecuSession.fill = answering ? kGreen : kYellow;
    cells.ecuSession.text = answering ? "ONLINE" : online ? "НЕТ ОТВЕТА" : "OFFLINE";
    cells.ecuSession.textX = cells.ecuSession.rect.left + 5;
    cells.ecuSession.textY = kMargin + 1;

    if (flags.lambdaIsComConnected == 1) {
        StatusCell c;
        c.rect = {kW0 + kW1 + kMargin + 1, kMargin + 1, kW0 + kW1 + kW2 - kMargin + 1,
                  kStatusBarHeight - kMargin + 1};
        if (flags.lambdaIsConnected == 1 && flags.lambdaWarmUpPercent >= 0) {
            // Warming up is a state, not an error: no readings yet.
            c.fill = kYellow;
            c.text = "LC-1: прогрев " + std::to_string(flags.lambdaWarmUpPercent) + "%";
        } else if (flags.lambdaIsConnected == 1 && flags.lambdaIsError == 1) {
            c.fill = kRed;
            c.text = "LC-1 ERR";
        } else {
            c.fill = flags.lambdaIsConnected == 1 ? kGreen : kYellow;
            c.text = "LC-1 " + flags.lambdaPortName;
        }
        c.textX = kW0 + kW1 + kMargin;
        c.textY = kMargin;
        cells.lambda = c;
    }
    return cells;
}

}  // namespace korvane::live
