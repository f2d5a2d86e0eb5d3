#include "tuning/TuningGrid.h"

#include "platform/NumberText.h"

namespace korvane::tuning {

namespace {

std::string RtText(const WorkPointCell& cell, char sep) {
    return platform::FormatGeneral(cell.RewriteCount, sep) + "//" +
           platform::FormatGeneral(cell.SampleCount, sep);
}

}  // namespace

std::optional<std::string> RefillText(const TuningTables& t, int column, int row, int item,
                                      char sep) {
    const WorkPointCell& cell = t.WorkPointCells[column][row];
    switch (item) {
        case kItemRt:
            return RtText(cell, sep);
        case kItemCorrection:
            return platform::FormatGeneral(cell.Correction, sep);
        case kItemRatio:
            return platform::FormatGeneral(cell.Ratio, sep);
        case kItemBcn:
            return platform::FormatFixed(t.BcnTable[column][row].Current, 1, sep);
        case kItemIgnition:
            return IgnitionText(t, column, row, sep);
        case kItemChange:
            return ChangeText(cell.Correction, t.LoadedCorrection[CellIndex(column, row)], sep);
        default:
            return std::nullopt;
    }
}

std::optional<std::string> RewrittenText(const TuningTables& t, int column, int row, int item,
                                         char sep) {
    const WorkPointCell& cell = t.WorkPointCells[column][row];
    if (item == kItemRt) return RtText(cell, sep);
    if (item == kItemCorrection) return platform::FormatFixed(cell.Correction, 3, sep);
    if (item == kItemChange)
        return ChangeText(cell.Correction, t.LoadedCorrection[CellIndex(column, row)], sep);
    return std::nullopt;
}

std::string IgnitionText(const TuningTables& t, int column, int row, char sep) {
    return platform::FormatFixed(t.IgnitionTable[column][row], 1, sep);
}

std::optional<CellColour> CellBackground(const WorkPointCell& cell, bool current) {
    if (current) return kCurrentCellColour;
    // The limits are compared as the 32-bit values the table holds, so a
    // ratio stored as 1.009 sits on the limit, not inside it.
    std::optional<CellColour> colour;
    if (cell.RewriteCount > 0) colour = kLightGreen;
    if (cell.RewriteCount > 7) colour = kGreen;
    if (cell.RewriteCount > 1 && cell.Ratio > 0.991f && cell.Ratio < 1.009f) colour = kGreen;
    if (cell.RewriteCount > 0 && cell.Ratio == 3.0f) colour = kLightYellow;
    return colour;
}

}  // namespace korvane::tuning

namespace korvane::tuning {

CellLook CellAppearance(const TuningTables& t, int column, int row, int item, bool current) {
    const int k = CellIndex(column, row);
    if (t.Locked[k]) return {kLockedColour, true, current};
    if (item == kItemChange) {
        const Rgb c = ChangeColour(t.WorkPointCells[column][row].Correction, t.LoadedCorrection[k]);
        CellLook look;
        look.currentFrame = current;
        if (c != Rgb{}) look.background = CellColour{c.r, c.g, c.b};
        return look;
    }
    return {CellBackground(t.WorkPointCells[column][row], current), false, false};
}

}  // namespace korvane::tuning
