#include "platform/SerialPort.h"

#include <asm/termbits.h>  // termios2, BOTHER
#include <fcntl.h>
#include <linux/serial.h>  // serial_struct, ASYNC_LOW_LATENCY
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/NumberText.h"
#include "platform/TextCodec.h"

namespace korvane::platform {

std::string DevicePathForPortName(const std::string& portName) {
    if (!portName.empty() && portName[0] == '/') return portName;
    if (portName.size() > 3 && std::toupper(static_cast<unsigned char>(portName[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(portName[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(portName[2])) == 'M') {
        bool digits = true;
        for (size_t i = 3; i < portName.size(); ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(portName[i]));
        if (digits) {
            // A number too large for any device names none: the empty path
            // fails to open like a port that is not there.
            const auto n = ParseInteger(portName.substr(3));
            if (!n) return {};
            if (*n >= 1) return "/dev/ttyS" + std::to_string(*n - 1);
        }
    }
    if (portName.empty()) return {};
    return "/dev/" + portName;
}

int LineSpeedOf(int fd) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return -1;
    return static_cast<int>(tio.c_ospeed);
}

namespace {

int64_t MonotonicMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Asks the driver to pass received bytes on at once and says what came of
// it. A device without serial settings (a pseudo-terminal) has nothing to
// ask for and nothing to say.
std::string AskForLowLatency(int fd, const std::string& portName, const std::string& path,
                             const std::string& sysClassTty) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return {};
    std::string refusal;
    if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) refusal = SystemReason(errno);
    }
    std::error_code ec;
    const std::string ttyName = std::filesystem::canonical(path, ec).filename().string();
    if (ec) return LatencyNote(portName, path, std::nullopt, refusal);
    return LatencyNote(portName, ttyName, ReadLatencyTimer(ttyName, sysClassTty), refusal);
}

class PosixSerialPort final : public SerialPort {
  public:
    explicit PosixSerialPort(std::string sysClassTty) : sysClassTty_(std::move(sysClassTty)) {}
    ~PosixSerialPort() override { Close(); }

    bool Open(const std::string& portName) override {
        if (fd_ >= 0) {
            error_ = "порт уже открыт";
            return false;
        }
        const std::string path = DevicePathForPortName(portName);
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return Fail(PortOpenReason(errno));
        if (!::isatty(fd)) {
            ::close(fd);
            return Fail(PortOpenReason(ENOTTY));
        }
        // "Without sharing": a second open of the device fails with EBUSY.
        // TIOCEXCL alone does not stop root, so the first opener also takes
        // an advisory lock that every instance of this program honours.
        if (::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int e = errno;
            ::close(fd);
            return Fail(PortOpenReason(e == EWOULDBLOCK ? EBUSY : e));
        }
        termios2 tio{};
        if (::ioctl(fd, TCGETS2, &tio) != 0) {
            int e = errno;
            ::close(fd);
            return Fail(PortOpenReason(e));
        }
        // Raw mode: a Linux tty is not raw by default.
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::ioctl(fd, TCSETS2, &tio) != 0) {
            int e = errno;
            ::close(fd);
            return Fail(PortOpenReason(e));
        }
        fd_ = fd;
        baud_ = tio.c_ospeed > 0 ? static_cast<int>(tio.c_ospeed) : 9600;
        error_.clear();
        note_ = AskForLowLatency(fd, portName, path, sysClassTty_);
        return true;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool SetSpeed(int baud) override {
        if (fd_ < 0 || baud <= 0) return Fail("неверная скорость или порт закрыт");
        termios2 tio{};
        if (::ioctl(fd_, TCGETS2, &tio) != 0) return Fail(std::strerror(errno));
        tio.c_cflag &= ~(CBAUD | CSIZE | PARENB | CSTOPB);
        tio.c_cflag |= BOTHER | CS8;
        tio.c_cflag &= ~(CBAUD << IBSHIFT);
        tio.c_cflag |= BOTHER << IBSHIFT;
        tio.c_ispeed = static_cast<speed_t>(baud);
        tio.c_ospeed = static_cast<speed_t>(baud);
        if (::ioctl(fd_, TCSETS2, &tio) != 0) return Fail(std::strerror(errno));
        baud_ = baud;
        return true;
    }

    bool WriteByte(uint8_t byte) override {
        if (fd_ < 0) return false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            ssize_t n = ::write(fd_, &byte, 1);
            if (n == 1) return true;
            if (n < 0 && errno != EAGAIN && errno != EINTR) return Fail(std::strerror(errno));
            // Output queue full: wait until it drains a little.
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return Fail("запись не удалась");
    }

    bool Drain() override {
        if (fd_ < 0) return false;
        // tcdrain alone would block for good while flow control (left as the
        // driver has it) holds the line, so first wait for the driver's
        // queue to empty, in steps of its own time on the wire, and give up
        // after twice that time and two seconds more.
        int64_t giveUpAt = -1;
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return Fail(std::strerror(errno));
            if (queued <= 0) break;
            const int64_t wireMs = (static_cast<int64_t>(queued) * 10000 + baud_ - 1) / baud_;
            const int64_t now = MonotonicMs();
            if (giveUpAt < 0) giveUpAt = now + 2 * wireMs + 2000;
            if (now >= giveUpAt) return Fail("данные не уходят из порта");
            ::poll(nullptr, 0, static_cast<int>(std::clamp<int64_t>(wireMs, 1, 100)));
        }
        // The last bytes in the device's own buffer: tcdrain (termios.h
        // cannot be included beside termios2).
        while (::ioctl(fd_, TCSBRK, 1) != 0) {
            if (errno != EINTR) return Fail(std::strerror(errno));
        }
        return true;
    }

    int WaitForInput(int timeoutMs, const StopSignal* stop) override {
        if (fd_ < 0) return -1;
        const int64_t until = MonotonicMs() + std::max(timeoutMs, 0);
        const int stopFd = stop != nullptr ? stop->Fd() : -1;
        bool hungUp = false;
        for (;;) {
            if (stop != nullptr && stop->Raised()) return 0;
            const int waiting = BytesWaiting();
            if (waiting < 0) return -1;
            if (waiting > 0) return 1;
            const int64_t left = until - MonotonicMs();
            if (left <= 0) return 0;
            // Without a far end (a pseudo-terminal whose master is gone)
            // nothing can come: wait on the stop signal alone, not spin.
            pollfd p[2] = {{hungUp ? -1 : fd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
            const int r = ::poll(p, 2, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
            if (r < 0 && errno != EINTR) return -1;
            if (r > 0 && (p[0].revents & (POLLERR | POLLNVAL))) return -1;
            if (r > 0 && (p[0].revents & POLLHUP) && !(p[0].revents & POLLIN)) hungUp = true;
        }
    }

    int BytesWaiting() override {
        if (fd_ < 0) return -1;
        int n = 0;
        if (::ioctl(fd_, FIONREAD, &n) != 0) return -1;
        return n;
    }

    int ReadNow(uint8_t* buf, int max) override {
        if (fd_ < 0 || max < 0) return -1;
        if (max == 0) return 0;
        ssize_t n = ::read(fd_, buf, static_cast<size_t>(max));
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
        return static_cast<int>(n);
    }

    int ReadByte(uint8_t& byte, int timeoutMs) override {
        if (fd_ < 0) return -1;
        for (;;) {
            ssize_t n = ::read(fd_, &byte, 1);
            if (n == 1) return 1;
            if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
            if (timeoutMs <= 0) return 0;
            pollfd p{fd_, POLLIN, 0};
            timespec t0{};
            ::clock_gettime(CLOCK_MONOTONIC, &t0);
            int r = ::poll(&p, 1, timeoutMs);
            if (r == 0) return 0;
            if (r < 0 && errno != EINTR) return -1;
            if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) return -1;
            if (r > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) {
                // The other end is gone (a pseudo-terminal without master):
                // nothing can come, so behave like a time-out, not a spin.
                ::poll(nullptr, 0, timeoutMs);
                return 0;
            }
            timespec t1{};
            ::clock_gettime(CLOCK_MONOTONIC, &t1);
            int spent = static_cast<int>((t1.tv_sec - t0.tv_sec) * 1000 +
                                         (t1.tv_nsec - t0.tv_nsec) / 1000000);
            timeoutMs -= spent > 0 ? spent : 0;
        }
    }

    bool Close() override {
        if (fd_ < 0) return true;
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return Fail(std::strerror(errno));
        return true;
    }

    std::string LastError() const override { return error_; }
    std::string OpenNote() const override { return note_; }

  private:
    bool Fail(std::string why) {
        error_ = std::move(why);
        return false;
    }

    std::string sysClassTty_;
    int fd_ = -1;
    int baud_ = 9600;
    std::string error_;
    std::string note_;
};

}  // namespace

std::string PortOpenReason(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "Причина: устройство не найдено (адаптер не подключён или имя порта неверно).";
        case EACCES:
        case EPERM:
            return "Причина: нет прав на порт. Добавьте пользователя в группу \"dialout\" "
                   "(sudo usermod -a -G dialout <пользователь>) и войдите в систему заново.";
        case EBUSY:
            return "Причина: порт занят другой программой.";
        case ENOTTY:
        case EINVAL:
            return "Причина: это устройство не является последовательным портом.";
        default:
            return "Причина: " + SystemReason(err) + ".";
    }
}

std::optional<int> ReadLatencyTimer(const std::string& ttyName, const std::string& sysClassTty) {
    namespace fs = std::filesystem;
    const fs::path device = fs::path(sysClassTty) / ttyName / "device";
    // The timer belongs to the USB serial port the tty hangs from.
    for (const fs::path& file : {device / "latency_timer", device / ".." / "latency_timer"}) {
        std::ifstream in(file);
        int ms = -1;
        if (in >> ms && ms >= 0) return ms;
    }
    return std::nullopt;
}

std::string LatencyNote(const std::string& portName, const std::string& ttyName,
                        std::optional<int> latencyMs, const std::string& refusal) {
    constexpr int kLongestFineMs = 2;
    const std::string refused = refusal.empty()
                                    ? std::string()
                                    : "драйвер не принял запрос низкой задержки (" + refusal + ")";
    if (latencyMs && *latencyMs > kLongestFineMs) {
        return "Порт " + portName + ": адаптер задерживает принятые байты на " +
               std::to_string(*latencyMs) + " мс" + (refused.empty() ? "" : ", " + refused) +
               ", обмен с ECU будет медленнее. Исправить навсегда: правило udev "
               "contrib/99-korvane-usb-serial.rules (см. README); до отключения адаптера: "
               "echo 1 | sudo tee /sys/bus/usb-serial/devices/" +
               ttyName + "/latency_timer";
    }
    if (!refused.empty()) return "Порт " + portName + ": " + refused + ".";
    return {};
}

std::unique_ptr<SerialPort> MakePosixSerialPort(const std::string& sysClassTty) {
    return std::make_unique<PosixSerialPort>(sysClassTty);
}

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return MakePosixSerialPort();
}

}  // namespace korvane::platform
