#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace korvane::platform {

// Our paths are UTF-8 strings. std::filesystem takes a plain string in the
// system's narrow encoding, which on Windows is not UTF-8 (a Russian folder
// name would come out garbled there), so paths go through these.
inline std::filesystem::path Utf8Path(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace korvane::platform
