#include "tuning/TuningTables.h"

#include <type_traits>

namespace korvane::tuning {

// The tables hold 32-bit floats: their rounding is part of what the learning
// computes, so a wider type would give other bytes.
static_assert(sizeof(float) == 4);
static_assert(std::is_trivially_copyable_v<TuningTables>);

CorrectionCheck CheckCorrectionTable(std::span<const uint8_t, kCellCount> table) {
    CorrectionCheck check;
    check.looked = true;
    for (int k = 0; k < kCellCount; ++k) {
        const int b = table[k];
        if (b >= kPlausibleCorrectionLow && b <= kPlausibleCorrectionHigh) continue;
        if (check.outside++ == 0) {
            check.firstCell = k;
            check.firstByte = table[k];
        }
    }
    return check;
}

std::string CorrectionProblem(const CorrectionCheck& check) {
    if (check.Plausible()) return {};
    if (!check.looked) return "таблицы не взяты из прошивки";
    const int column = check.firstCell / kGridSize + 1, row = check.firstCell % kGridSize + 1;
    return "в таблице поправки прошивки " + std::to_string(check.outside) + " из " +
           std::to_string(kCellCount) + " байт вне " + std::to_string(kPlausibleCorrectionLow) +
           ".." + std::to_string(kPlausibleCorrectionHigh) +
           " (поправка 0,25..1,95), первый: " + std::to_string(check.firstByte) + " в строке " +
           std::to_string(row) + ", столбце " + std::to_string(column);
}

}  // namespace korvane::tuning
