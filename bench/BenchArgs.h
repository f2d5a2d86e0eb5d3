#pragma once
// The command line of the table-printing benchmark programs: "--name value"
// pairs, whole numbers within limits, comma lists, and the median they
// report.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace korvane::bench {

// A whole number within [low, high], nothing else in the text.
inline bool ParseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

// "a,b,c" as its items.
inline std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start < text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

// Calls take(name, value) for each "--name value" pair; false when a name
// has no value or take refuses a pair.
template <class Take>
bool ParseOptions(int argc, char** argv, Take take) {
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc || !take(std::string(argv[i]), argv[i + 1])) return false;
    }
    return true;
}

// 0 for none.
inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace korvane::bench
