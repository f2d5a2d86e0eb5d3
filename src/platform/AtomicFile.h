#pragma once
// Whole-file saves that never leave a half-written file: the bytes go to a
// temporary file beside the target, which then replaces it in one step.
// Every file the program writes goes through here.
#include <string>
#include <string_view>

namespace korvane::platform {

// Writes through a temporary file and a rename, so a crash never leaves a
// half-written file. On failure the old file is untouched. A write through
// a symbolic link replaces the link's target; an existing file keeps its
// mode, a new one gets 0666 less the umask, and a read-only one is refused.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

// The same, for a file that grows after being written whole (the live
// logs): the new file stays open for appending and its descriptor is
// returned, or -1 with the reason.
int WriteFileAtomicallyKeepOpen(const std::string& path, const std::string& bytes,
                                std::string& error);

// The temporary file of a save of `targetName` by process `pid`: hidden and
// named so that nobody would give a file that name and everybody can see
// whose it is, ".<name>.korvane-<pid>-<serial>.tmp".
std::string TempFileName(std::string_view targetName, long pid, unsigned serial);
// True when entry is such a name for targetName; pid is then the process
// that made it.
bool IsTempFileOf(std::string_view entry, std::string_view targetName, long& pid);

// A save killed between making its temporary file and the rename leaves the
// file behind. A successful save removes those of its own target that are
// our plain files older than this, whichever process made them; it touches
// nothing else in the folder. Errors are ignored, the save has succeeded
// already.
inline constexpr int kStaleTempSeconds = 60;

}  // namespace korvane::platform
