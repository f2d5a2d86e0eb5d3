#pragma once
// A table's attributes as a map file lists them, in order, and the edits the
// tests make to such a list.
#include <string>
#include <utility>
#include <vector>

namespace korvane::maps::test {

using Rows = std::vector<std::pair<std::string, std::string>>;

// rows with key set to value: in its place when it is there, else at the end.
inline Rows With(Rows rows, const std::string& key, const std::string& value) {
    for (auto& [k, v] : rows)
        if (k == key) {
            v = value;
            return rows;
        }
    rows.push_back({key, value});
    return rows;
}

inline Rows Without(Rows rows, const std::string& key) {
    std::erase_if(rows, [&](const auto& r) { return r.first == key; });
    return rows;
}

}  // namespace korvane::maps::test
