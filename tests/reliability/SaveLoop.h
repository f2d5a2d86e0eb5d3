#pragma once
// What the saving child writes, shared with the test that checks its files.
#include <string>

#include "live/LiveLogs.h"

namespace korvane::reliability {

// The grid texts of live log line n: row r shows "n,r".
inline live::ShownRowTexts LogRowsFor(int n) {
    live::ShownRowTexts rows;
    for (size_t r = 1; r < rows.size(); ++r) rows[r] = std::to_string(n) + "," + std::to_string(r);
    return rows;
}

}  // namespace korvane::reliability
