#include "platform/NumberText.h"

#include <locale.h>

#include <cerrno>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace korvane::platform {

namespace {

// Mantissa digits and decimal exponent of |value| with 15 significant
// digits, correctly rounded: returned as digits "d1..d15" and the exponent
// of d1 (value = d1.d2... * 10^e).
void Digits15(double value, std::string& digits, int& e) {
    char buf[64];
    const auto r =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    // buf: d.dddddddddddddde[+-]xx
    digits.clear();
    const char* p = buf;
    for (; p != r.ptr && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    e = 0;
    if (p != r.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, e);
}

// Digits (trailing zeros dropped) and exponent as above, for the general
// form. Every double of the normal range whose shortest round-trip text has
// at most 15 digits has that text as its 15-digit rounding too (15 digits
// always survive the way to a double and back), and that text is cheap to
// find; the others take the rounding itself.
void GeneralDigits(double value, std::string& digits, int& e) {
    const double a = std::fabs(value);
    if (a >= std::numeric_limits<double>::min()) {
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
        const char* p = buf;
        digits.clear();
        for (; p != r.ptr && *p != 'e'; ++p)
            if (*p != '.') digits += *p;
        if (digits.size() <= 15) {
            e = 0;
            if (p != r.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, e);
            while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
            return;
        }
    }
    Digits15(value, digits, e);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

}  // namespace

std::string FormatGeneral(double value, char sep) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    std::string digits;
    int e = 0;
    GeneralDigits(value, digits, e);
    std::string out = value < 0 ? "-" : "";
    if (e >= 15 || e < -5) {
        out += digits[0];
        if (digits.size() > 1) {
            out += sep;
            out += digits.substr(1);
        }
        out += "E" + std::to_string(e);
        return out;
    }
    if (e < 0) {
        out += "0";
        out += sep;
        out += std::string(static_cast<size_t>(-e - 1), '0');
        out += digits;
        return out;
    }
    const size_t intLen = static_cast<size_t>(e) + 1;
    if (digits.size() <= intLen) {
        out += digits + std::string(intLen - digits.size(), '0');
    } else {
        out += digits.substr(0, intLen);
        out += sep;
        out += digits.substr(intLen);
    }
    return out;
}

std::string FormatFixed(double value, int decimals, char sep) {
    if (!std::isfinite(value)) return FormatGeneral(value, sep);
    if (decimals < 0) decimals = 0;
    std::string out;
    if (value != 0) {
        std::string digits;
        int e = 0;
        Digits15(value, digits, e);
        // Place the 15 digits on a fixed grid: integer part and fraction.
        std::string intPart, frac;
        if (e >= 0) {
            const size_t intLen = static_cast<size_t>(e) + 1;
            if (digits.size() < intLen) digits += std::string(intLen - digits.size(), '0');
            intPart = digits.substr(0, intLen);
            frac = digits.substr(intLen);
        } else {
            intPart = "0";
            frac = std::string(static_cast<size_t>(-e - 1), '0') + digits;
        }
        if (frac.size() < static_cast<size_t>(decimals) + 1)
            frac += std::string(static_cast<size_t>(decimals) + 1 - frac.size(), '0');
        const bool roundUp = frac[static_cast<size_t>(decimals)] >= '5';
        std::string kept = intPart + frac.substr(0, static_cast<size_t>(decimals));
        if (roundUp) {
            int i = static_cast<int>(kept.size()) - 1;
            for (; i >= 0; --i) {
                if (kept[static_cast<size_t>(i)] == '9') {
                    kept[static_cast<size_t>(i)] = '0';
                } else {
                    ++kept[static_cast<size_t>(i)];
                    break;
                }
            }
            if (i < 0) kept.insert(kept.begin(), '1');
        }
        const size_t il = kept.size() - static_cast<size_t>(decimals);
        std::string ip = kept.substr(0, il);
        size_t nz = ip.find_first_not_of('0');
        ip = nz == std::string::npos ? "0" : ip.substr(nz);
        bool allZero = kept.find_first_not_of('0') == std::string::npos;
        out = (value < 0 && !allZero ? "-" : "") + ip;
        if (decimals > 0) {
            out += sep;
            out += kept.substr(il);
        }
        return out;
    }
    out = "0";
    if (decimals > 0) {
        out += sep;
        out += std::string(static_cast<size_t>(decimals), '0');
    }
    return out;
}

int64_t RoundHalfEven(long double value) {
    // nearbyintl rounds in the current mode, ties to even by default; make
    // sure of the mode in case some library changed it.
    const int old = std::fegetround();
    if (old != FE_TONEAREST) std::fesetround(FE_TONEAREST);
    long double r = std::nearbyint(value);
    if (old != FE_TONEAREST) std::fesetround(old);
    return static_cast<int64_t>(r);
}

std::optional<int64_t> ParseInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    size_t i = 0;
    if (text[0] == '-' || text[0] == '+') i = 1;
    if (i >= text.size()) return std::nullopt;
    for (size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE) return std::nullopt;
    return static_cast<int64_t>(v);
}

std::optional<std::string> ClassicDecimalText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::string t(text);
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    bool digits = false, sep = false, exp = false;
    for (size_t j = i; j < t.size(); ++j) {
        const char c = t[j];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if ((c == ',' || c == '.') && !sep && !exp) {
            sep = true;
            t[j] = '.';
        } else if ((c == 'e' || c == 'E') && digits && !exp) {
            exp = true;
            if (j + 1 < t.size() && (t[j + 1] == '-' || t[j + 1] == '+')) ++j;
            if (j + 1 >= t.size()) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    return t;
}

std::optional<double> ParseDecimal(const std::string& text) {
    const auto t = ClassicDecimalText(text);
    if (!t) return std::nullopt;
        // strtod follows the C locale, which a Qt program may have changed;
        // use the classic locale explicitly.
#ifdef _WIN32
    // Windows' C library has no strtod_l to match; from_chars never looks
    // at a locale. It takes no "+", which the text may start with.
    const char* begin = t->c_str() + ((*t)[0] == '+' ? 1 : 0);
    const char* last = t->c_str() + t->size();
    double v = 0;
    const auto [end, ec] = std::from_chars(begin, last, v);
    if (ec != std::errc() || end != last || !std::isfinite(v)) return std::nullopt;
#else
    char* end = nullptr;
    locale_t c = ::newlocale(LC_NUMERIC_MASK, "C", nullptr);
    double v = ::strtod_l(t->c_str(), &end, c);
    ::freelocale(c);
    if (end != t->c_str() + t->size() || !std::isfinite(v)) return std::nullopt;
#endif
    return v;
}

}  // namespace korvane::platform
