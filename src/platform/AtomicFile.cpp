#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <optional>

#include "platform/AtomicFileSystem.h"
#include "platform/TextCodec.h"

namespace korvane::platform {

namespace {

constexpr std::string_view kTempTag = ".korvane-";
constexpr std::string_view kTempEnd = ".tmp";

std::string FolderOf(const std::string& path) {
    const auto sep = path.find_last_of(atomicfs::kSeparators);
    if (sep == std::string::npos) return ".";
    if (sep == 0) return path.substr(0, 1);
    // "C:\name": the folder is the drive's root, not the drive's current folder.
    if (sep == 2 && path[1] == ':') return path.substr(0, 3);
    return path.substr(0, sep);
}

std::string NameOf(const std::string& path) {
    const auto sep = path.find_last_of(atomicfs::kSeparators);
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() &&
        std::string_view(atomicfs::kSeparators).find(folder.back()) != std::string_view::npos)
        return folder + name;
    return folder + atomicfs::kSeparators[0] + name;
}

void RemoveStaleTemps(const std::string& target) {
    const std::string name = NameOf(target);
    if (name.empty()) return;
    const std::string folder = FolderOf(target);
    const std::time_t now = std::time(nullptr);
    for (const atomicfs::PlainFile& f : atomicfs::OwnPlainFiles(folder)) {
        long pid = 0;
        if (!IsTempFileOf(f.name, name, pid)) continue;
        // A save takes milliseconds, so only an old file is a leftover. The
        // process id decides nothing: a save of this one's other threads, or
        // of an instance in another PID namespace or on another host sharing
        // the folder, is still being written whatever the system says of it.
        if (f.modified > now - kStaleTempSeconds) continue;
        atomicfs::RemoveFile(Join(folder, f.name));
    }
}

bool Write(const std::string& path, const std::string& bytes, std::string& error, int* keepOpen) {
    const std::string target = atomicfs::ResolveLinks(path);
    // An existing file keeps its mode, and one the user made read-only (or
    // may not write) is refused rather than silently replaced.
    unsigned mode = atomicfs::kNewFileMode;
    if (!atomicfs::CheckTarget(target, mode, error)) return false;
    const std::string folder = FolderOf(target);
    const std::string name = NameOf(target);
    static std::atomic<unsigned> serial{0};
    auto result = atomicfs::NewFile::NameTaken;
    for (int attempt = 0; attempt < 100 && result == atomicfs::NewFile::NameTaken; ++attempt) {
        const std::string tmp =
            Join(folder, TempFileName(name, atomicfs::CurrentProcessId(), serial.fetch_add(1)));
        result = atomicfs::ReplaceWithNewFile(tmp, target, bytes, mode, keepOpen, error);
    }
    if (result != atomicfs::NewFile::Replaced) {
        if (result == atomicfs::NewFile::NameTaken) error = SystemReason(EEXIST);
        return false;
    }
    RemoveStaleTemps(target);
    return true;
}

}  // namespace

std::string TempFileName(std::string_view targetName, long pid, unsigned serial) {
    std::string name = ".";
    name += targetName;
    name += kTempTag;
    name += std::to_string(pid);
    name += '-';
    name += std::to_string(serial);
    name += kTempEnd;
    return name;
}

bool IsTempFileOf(std::string_view entry, std::string_view targetName, long& pid) {
    const size_t head = 1 + targetName.size() + kTempTag.size();
    if (targetName.empty() || entry.size() < head + kTempEnd.size() || entry[0] != '.' ||
        entry.substr(1, targetName.size()) != targetName ||
        entry.substr(1 + targetName.size(), kTempTag.size()) != kTempTag ||
        entry.substr(entry.size() - kTempEnd.size()) != kTempEnd)
        return false;
    // "<pid>-<serial>", both plain decimal numbers.
    const std::string_view numbers = entry.substr(head, entry.size() - head - kTempEnd.size());
    const size_t dash = numbers.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == numbers.size()) return false;
    for (size_t i = 0; i < numbers.size(); ++i)
        if (i != dash && (numbers[i] < '0' || numbers[i] > '9')) return false;
    const auto r = std::from_chars(numbers.data(), numbers.data() + dash, pid);
    return r.ec == std::errc() && r.ptr == numbers.data() + dash;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    return Write(path, bytes, error, nullptr);
}

int WriteFileAtomicallyKeepOpen(const std::string& path, const std::string& bytes,
                                std::string& error) {
    int fd = -1;
    return Write(path, bytes, error, &fd) ? fd : -1;
}

}  // namespace korvane::platform
