#include "sim/Pty.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace korvane::sim {

namespace {
bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}
}  // namespace

bool PtyDevice::Open(const std::string& link, std::string* error) {
    Close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) return Fail(error, std::string("posix_openpt: ") + std::strerror(errno));
    char name[PATH_MAX] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        const std::string why = std::strerror(errno);
        Close();
        return Fail(error, "pseudo-terminal: " + why);
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        const std::string why = std::strerror(errno);
        Close();
        return Fail(error, slavePath_ + ": " + why);
    }
    // Termios requests on the master act on the slave: raw, so no byte is
    // translated before the program sets its own modes.
    termios tio{};
    if (::tcgetattr(master_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 ||
        ::inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        const std::string why = std::strerror(errno);
        Close();
        return Fail(error, "inotify: " + why);
    }
    if (!link.empty()) {
        // Published and reported as an absolute path: the program takes a
        // name without a leading "/" for a device under /dev.
        std::error_code ec;
        const std::string path = std::filesystem::absolute(link, ec).lexically_normal().string();
        if (ec) {
            Close();
            return Fail(error, link + ": " + ec.message());
        }
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                Close();
                return Fail(error, path + ": exists and is not a symbolic link; not replaced");
            }
            ::unlink(path.c_str());
        }
        if (::symlink(name, path.c_str()) != 0) {
            const std::string why = std::strerror(errno);
            Close();
            return Fail(error, path + ": " + why);
        }
        link_ = path;
    }
    return true;
}

void PtyDevice::Close() {
    if (!link_.empty()) {
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && slavePath_ == std::string(target, static_cast<size_t>(n)))
            ::unlink(link_.c_str());
        link_.clear();
    }
    if (inotify_ >= 0) ::close(inotify_);
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    inotify_ = slave_ = master_ = -1;
    openers_ = 0;
    slavePath_.clear();
}

void PtyDevice::HandleWatchEvents() {
    if (inotify_ < 0) return;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_, buf, sizeof buf);
        if (n <= 0) break;
        for (char* p = buf; p < buf + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if (e->mask & IN_OPEN) {
                if (openers_++ == 0) ::tcflush(slave_, TCIFLUSH);
            }
            if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (openers_ > 0 && --openers_ == 0) ::ioctl(slave_, TIOCNXCL);
            }
            if (e->mask & IN_Q_OVERFLOW) openers_ = 1;
            p += sizeof(inotify_event) + e->len;
        }
    }
}

}  // namespace korvane::sim
