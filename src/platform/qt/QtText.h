#pragma once
// Our own strings are UTF-8 std::string; Qt's are UTF-16. The one conversion
// the widgets use for them.
#include <QString>
#include <string_view>

namespace korvane::platform {

inline QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace korvane::platform
