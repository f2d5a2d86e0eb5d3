#pragma once
// Our own strings are UTF-8 std::string; Qt's are UTF-16. The one conversion
// the widgets use for them.
#include <QString>
#include <string_view>

namespace korvane::platform {

inline QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A file name typed without an extension gets `suffix`, so the open dialogs,
// which list files by extension, find it again. "name." counts as none.
inline QString WithDefaultSuffix(const QString& path, const QString& suffix) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    if (name.isEmpty()) return path;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && dot + 1 < name.size()) return path;
    return (name.endsWith(QLatin1Char('.')) ? path : path + QLatin1Char('.')) + suffix;
}

}  // namespace korvane::platform
