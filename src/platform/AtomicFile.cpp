#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <optional>

#include "platform/TextCodec.h"

namespace korvane::platform {

namespace {

constexpr std::string_view kTempTag = ".korvane-";
constexpr std::string_view kTempEnd = ".tmp";

// The file a save really replaces: the target of a symbolic link (a chain
// of them), so the link stays a link and its target gets the new content.
std::string ResolveLinks(const std::string& path) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        char target[4096];
        const ssize_t n = ::readlink(p.c_str(), target, sizeof target - 1);
        if (n < 0) return p;
        target[n] = '\0';
        if (target[0] == '/') {
            p = target;
        } else {
            const auto slash = p.rfind('/');
            p = (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + target;
        }
    }
    return p;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The system side of a save, kept in one place: creates tmp (which must not
// exist yet), writes and syncs the bytes, renames it over target and syncs
// the folder so the rename survives a power cut. Returns 0 on success, else
// the error number with tmp removed. The file gets `keepMode` (the mode of
// the file it replaces) or, for a new file, 0666 less the umask. With
// keepOpen the descriptor stays open for appending.
int ReplaceWithNewFile(const std::string& tmp, const std::string& target, const std::string& bytes,
                       std::optional<mode_t> keepMode, int* keepOpen) {
    const int fd =
        ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | (keepOpen ? O_APPEND : 0),
               keepMode ? 0600 : 0666);
    if (fd < 0) return errno;
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return err;
    };
    if (keepMode && ::fchmod(fd, *keepMode) != 0) return fail(errno);
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) return fail(errno);
    if (!keepOpen && ::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return err;
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        if (keepOpen) ::close(fd);
        ::unlink(tmp.c_str());
        return err;
    }
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    if (keepOpen) *keepOpen = fd;
    return 0;
}

void RemoveStaleTemps(const std::string& target) {
    const std::string name = NameOf(target);
    if (name.empty()) return;
    DIR* dir = ::opendir(FolderOf(target).c_str());
    if (!dir) return;
    const int dfd = ::dirfd(dir);
    const time_t now = std::time(nullptr);
    while (const dirent* e = ::readdir(dir)) {
        long pid = 0;
        if (!IsTempFileOf(e->d_name, name, pid)) continue;
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        // A save takes milliseconds, so only an old file is a leftover. The
        // process id decides nothing: a save of this one's other threads, or
        // of an instance in another PID namespace or on another host sharing
        // the folder, is still being written whatever kill() says.
        if (st.st_mtime > now - kStaleTempSeconds) continue;
        ::unlinkat(dfd, e->d_name, 0);
    }
    ::closedir(dir);
}

bool Write(const std::string& path, const std::string& bytes, std::string& error, int* keepOpen) {
    const std::string target = ResolveLinks(path);
    // An existing file keeps its mode, and one the user made read-only (or
    // may not write) is refused rather than silently replaced.
    std::optional<mode_t> mode;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = SystemReason(EISDIR);
            return false;
        }
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            error = SystemReason(EACCES);
            return false;
        }
        mode = st.st_mode & 07777;
    }
    const std::string folder = FolderOf(target);
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    static std::atomic<unsigned> serial{0};
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        const std::string tmp = prefix + TempFileName(NameOf(target), static_cast<long>(::getpid()),
                                                      serial.fetch_add(1));
        err = ReplaceWithNewFile(tmp, target, bytes, mode, keepOpen);
    }
    if (err != 0) {
        error = SystemReason(err);
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
