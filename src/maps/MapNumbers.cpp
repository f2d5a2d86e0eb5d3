#include "maps/MapNumbers.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/NumberText.h"

namespace korvane::maps {

std::optional<int32_t> HexTextToInt(std::string_view text) {
    uint32_t sum = 0;  // wraps like the 32-bit two's complement sum
    for (char c : text) {
        uint32_t digit = 0;
        if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else
            return std::nullopt;
        sum = sum * 16u + digit;
    }
    return static_cast<int32_t>(sum);
}

std::optional<long double> ParseNumber(std::string_view text) {
    const auto t = platform::ClassicDecimalText(text);
    if (!t) return std::nullopt;
        // The C locale of a Qt program may have been changed; parse in the
        // classic one.
#ifdef _WIN32
    // No strtold_l in Windows' C library; from_chars never looks at a
    // locale, and takes no "+".
    const char* begin = t->c_str() + ((*t)[0] == '+' ? 1 : 0);
    const char* last = t->c_str() + t->size();
    long double v = 0;
    const auto [end, ec] = std::from_chars(begin, last, v);
    if (ec != std::errc() || end != last || !std::isfinite(v)) return std::nullopt;
#else
    locale_t c = ::newlocale(LC_NUMERIC_MASK, "C", nullptr);
    char* end = nullptr;
    const long double v = ::strtold_l(t->c_str(), &end, c);
    ::freelocale(c);
    if (end != t->c_str() + t->size() || !std::isfinite(v)) return std::nullopt;
#endif
    return v;
}

std::optional<uint16_t> ParseTableAddress(std::string_view text) {
    if (text.size() != 8 || text.substr(0, 4) != "0000") return std::nullopt;
    const auto v = HexTextToInt(text);
    if (!v) return std::nullopt;
    return static_cast<uint16_t>(*v);
}

}  // namespace korvane::maps
