#include "platform/AtomicFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/TextCodec.h"

namespace korvane::platform::atomicfs {

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
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

}  // namespace

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

bool CheckTarget(const std::string& target, unsigned& mode, std::string& error) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        error = SystemReason(EISDIR);
        return false;
    }
    if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
        error = SystemReason(EACCES);
        return false;
    }
    mode = st.st_mode & 07777;
    return true;
}

// The folder is synced after the rename so that the rename survives a power
// cut.
NewFile ReplaceWithNewFile(const std::string& tmp, const std::string& target,
                           const std::string& bytes, unsigned mode, int* keepOpen,
                           std::string& error) {
    const int fd =
        ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | (keepOpen ? O_APPEND : 0),
               mode == kNewFileMode ? 0666 : 0600);
    if (fd < 0) {
        if (errno == EEXIST) return NewFile::NameTaken;
        error = SystemReason(errno);
        return NewFile::Failed;
    }
    auto fail = [&](int err, bool open) {
        if (open) ::close(fd);
        ::unlink(tmp.c_str());
        error = SystemReason(err);
        return NewFile::Failed;
    };
    if ((mode != kNewFileMode && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) ||
        !WriteAll(fd, bytes) || ::fsync(fd) != 0)
        return fail(errno, true);
    if (!keepOpen && ::close(fd) != 0) return fail(errno, false);
    if (::rename(tmp.c_str(), target.c_str()) != 0) return fail(errno, keepOpen != nullptr);
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    if (keepOpen) *keepOpen = fd;
    return NewFile::Replaced;
}

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

bool ProcessGone(long pid) {
    return pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

std::vector<PlainFile> OwnPlainFiles(const std::string& folder) {
    std::vector<PlainFile> files;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return files;
    const int dfd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        files.push_back({e->d_name, st.st_mtime});
    }
    ::closedir(dir);
    return files;
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace korvane::platform::atomicfs
