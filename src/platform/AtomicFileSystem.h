#pragma once
// The system calls behind AtomicFile.cpp, one file per system
// (AtomicFileSystem.cpp, win/WinAtomicFile.cpp). The naming of temporary
// files and the rules for removing leftovers stay in AtomicFile.cpp, the
// same on every system.
#include <ctime>
#include <string>
#include <vector>

namespace korvane::platform::atomicfs {

// Path separators of the system; the first one is used to join.
#ifdef _WIN32
inline constexpr const char* kSeparators = "\\/";
#else
inline constexpr const char* kSeparators = "/";
#endif

// The file a save really replaces: the target of a symbolic link where the
// system has them, otherwise the path itself.
std::string ResolveLinks(const std::string& path);

// The mode of a file that replaces none: what the user's umask leaves of 0666.
inline constexpr unsigned kNewFileMode = ~0u;

// Whether target may be replaced: false with the reason for a folder or a
// file the user made read-only. mode gets the existing file's permissions,
// to give the new one (it stays kNewFileMode when there is no file).
bool CheckTarget(const std::string& target, unsigned& mode, std::string& error);

enum class NewFile { Replaced, NameTaken, Failed };

// Creates tmp (which must not exist yet: NameTaken otherwise), writes the
// bytes, flushes them to the disk and renames tmp over target durably. On
// Failed, error has the reason and tmp is gone. With keepOpen the new
// file's C library descriptor stays open for appending.
NewFile ReplaceWithNewFile(const std::string& tmp, const std::string& target,
                           const std::string& bytes, unsigned mode, int* keepOpen,
                           std::string& error);

long CurrentProcessId();
// True when no process with this id runs any more.
bool ProcessGone(long pid);

// The plain files of a folder that this user may remove as their own:
// no folders, links or other users' files.
struct PlainFile {
    std::string name;
    std::time_t modified = 0;
};
std::vector<PlainFile> OwnPlainFiles(const std::string& folder);

void RemoveFile(const std::string& path);

}  // namespace korvane::platform::atomicfs
