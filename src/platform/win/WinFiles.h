// The Windows file primitives behind the platform layer's file helpers.
#pragma once
#include <string>

namespace korvane::platform::win {

// Puts `from` in place of `to` in one step (replacing an existing file) and
// returns only once the move has reached the disk, so a power cut leaves
// either the old file or the new one.
bool ReplaceFileDurably(const std::string& from, const std::string& to, std::string& error);

}  // namespace korvane::platform::win
