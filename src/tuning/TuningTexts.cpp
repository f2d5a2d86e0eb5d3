#include "tuning/TuningTexts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/NumberText.h"

namespace korvane::tuning {

namespace {

// The 15 significant digits of |value| and the decimal exponent of the first.
void Digits15(double value, char (&digits)[15], int& e) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    int n = 0;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9' && n < 15) digits[n++] = *p;
    while (n < 15) digits[n++] = '0';
    e = (*p == 'e') ? std::atoi(p + 1) : 0;
}

constexpr int64_t kPow10[] = {1,
                              10,
                              100,
                              1000,
                              10000,
                              100000,
                              1000000,
                              10000000,
                              100000000,
                              1000000000,
                              10000000000,
                              100000000000,
                              1000000000000,
                              10000000000000,
                              100000000000000,
                              1000000000000000,
                              10000000000000000,
                              100000000000000000,
                              1000000000000000000};

}  // namespace

std::string_view NumberText::Copy(std::string_view text) {
    const size_t n = std::min(text.size(), buf_.size());
    std::memcpy(buf_.data(), text.data(), n);
    return {buf_.data(), n};
}

std::string_view NumberText::Fixed(double value, int decimals, char sep) {
    if (decimals < 0) decimals = 0;
    if (!std::isfinite(value) || decimals > 9)
        return Copy(platform::FormatFixed(value, decimals, sep));
    int64_t kept = 0;
    if (value != 0) {
        char d[15];
        int e = 0;
        Digits15(value, d, e);
        // Digits down to 10^-decimals are kept; the next one rounds (half up
        // on the 15-digit decimal form, as the user reads the value).
        const int keep = e + decimals + 1;
        if (keep > 18) return Copy(platform::FormatFixed(value, decimals, sep));
        for (int i = 0; i < keep; ++i) kept = kept * 10 + (i < 15 ? d[i] - '0' : 0);
        const char next = (keep >= 0 && keep < 15) ? d[keep] : '0';
        if (next >= '5') ++kept;
    }
    char* p = buf_.data();
    if (value < 0 && kept != 0) *p++ = '-';
    p = std::to_chars(p, buf_.data() + buf_.size(), kept / kPow10[decimals]).ptr;
    if (decimals > 0) {
        *p++ = sep;
        int64_t frac = kept % kPow10[decimals];
        for (int i = decimals - 1; i >= 0; --i) {
            p[i] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        p += decimals;
    }
    return {buf_.data(), static_cast<size_t>(p - buf_.data())};
}

std::string_view NumberText::General(double value, char sep) {
    if (std::isfinite(value) && std::fabs(value) < 1e15 && value == std::trunc(value)) {
        const auto r =
            std::to_chars(buf_.data(), buf_.data() + buf_.size(), static_cast<int64_t>(value));
        return {buf_.data(), static_cast<size_t>(r.ptr - buf_.data())};
    }
    return Copy(platform::FormatGeneral(value, sep));
}

std::string_view StatusLineText::Format(int32_t gbcRec, int32_t pRec, int32_t analis, int32_t all) {
    static constexpr std::string_view kHead = "GBCRec//PRec/Analis//All:";
    char* p = buf_.data();
    char* const end = buf_.data() + buf_.size();
    std::memcpy(p, kHead.data(), kHead.size());
    p += kHead.size();
    auto put = [&](int32_t v) { p = std::to_chars(p, end, v).ptr; };
    auto text = [&](std::string_view s) {
        std::memcpy(p, s.data(), s.size());
        p += s.size();
    };
    put(gbcRec);
    text("//");
    put(pRec);
    text("/");
    put(analis);
    text("//");
    put(all);
    return {buf_.data(), static_cast<size_t>(p - buf_.data())};
}

}  // namespace korvane::tuning
