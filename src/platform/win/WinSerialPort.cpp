#include <windows.h>
// after windows.h
#include <mmsystem.h>

#include <algorithm>
#include <cctype>
#include <climits>

#include "platform/NumberText.h"
#include "platform/PortList.h"
#include "platform/SerialPort.h"
#include "platform/win/WinText.h"

namespace korvane::platform {

namespace {

bool IsComName(const std::string& name) {
    if (name.size() <= 3) return false;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
    return std::all_of(name.begin() + 3, name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// The name an open port holds: one per device, whatever letter case the
// port was named in.
std::string ClaimName(const std::string& path) {
    std::string name = "Local\\korvane-port-";
    for (char c : path)
        if (c != '\\' && c != '.')
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// Holds the system timer at 1 ms while a port is open: without it a 1 ms
// wait lasts a whole 15.6 ms tick.
class FineTimer {
  public:
    FineTimer() : held_(::timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~FineTimer() {
        if (held_) ::timeEndPeriod(1);
    }
    FineTimer(const FineTimer&) = delete;
    FineTimer& operator=(const FineTimer&) = delete;

  private:
    bool held_;
};

class WindowsSerialPort final : public SerialPort {
  public:
    ~WindowsSerialPort() override { Close(); }

    bool Open(const std::string& portName) override {
        if (h_ != INVALID_HANDLE_VALUE) return Fail("порт уже открыт");
        const std::string path = DevicePathForPortName(portName);
        if (path.empty()) return Fail(PortOpenReason(ERROR_FILE_NOT_FOUND));
        // Share mode 0: a second open, by us or another program, is refused.
        HANDLE h = ::CreateFileW(win::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Fail(PortOpenReason(::GetLastError()));
        // The driver refuses a second open of a COM port; not every one does
        // (Wine's, some virtual ports), so every open of ours also holds a
        // name of the port that a second open finds taken.
        HANDLE claim = ::CreateMutexW(nullptr, FALSE, win::Widen(ClaimName(path)).c_str());
        if (claim == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS) {
            if (claim != nullptr) ::CloseHandle(claim);
            ::CloseHandle(h);
            return Fail(PortOpenReason(ERROR_ACCESS_DENIED));
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(h, &dcb)) {
            const DWORD e = ::GetLastError();
            ::CloseHandle(h);
            ::CloseHandle(claim);
            return Fail(PortOpenReason(e == ERROR_INVALID_FUNCTION ? ERROR_NOT_SUPPORTED : e));
        }
        h_ = h;
        claim_ = claim;
        baud_ = dcb.BaudRate > 0 ? static_cast<int>(dcb.BaudRate) : 9600;
        if (!ApplyLine(baud_)) {
            const std::string why = error_;
            Close();
            return Fail(why);
        }
        ::SetupComm(h_, 4096, 4096);
        ::PurgeComm(h_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        timeoutsSet_ = false;
        timer_ = std::make_unique<FineTimer>();
        error_.clear();
        note_ = LatencyNote(portName, portName, ReadLatencyTimer(portName), {});
        return true;
    }

    bool IsOpen() const override { return h_ != INVALID_HANDLE_VALUE; }

    bool SetSpeed(int baud) override {
        if (h_ == INVALID_HANDLE_VALUE || baud <= 0)
            return Fail("неверная скорость или порт закрыт");
        return ApplyLine(baud);
    }

    bool WriteByte(uint8_t byte) override {
        if (h_ == INVALID_HANDLE_VALUE) return false;
        DWORD n = 0;
        if (!::WriteFile(h_, &byte, 1, &n, nullptr))
            return Fail(win::ErrorReason(::GetLastError()));
        if (n != 1) return Fail("запись не удалась");
        return true;
    }

    bool Drain() override {
        if (h_ == INVALID_HANDLE_VALUE) return false;
        // On a COM port this returns once the driver has sent every byte.
        if (!::FlushFileBuffers(h_)) return Fail(win::ErrorReason(::GetLastError()));
        return true;
    }

    int BytesWaiting() override {
        if (h_ == INVALID_HANDLE_VALUE) return -1;
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(h_, &errors, &stat)) return -1;
        return static_cast<int>(std::min<DWORD>(stat.cbInQue, INT_MAX));
    }

    int ReadNow(uint8_t* buf, int max) override {
        if (h_ == INVALID_HANDLE_VALUE || max < 0) return -1;
        if (max == 0) return 0;
        // Interval MAXDWORD with no total: return at once with what is there.
        if (!UseTimeouts(MAXDWORD, 0, 0)) return -1;
        DWORD n = 0;
        if (!::ReadFile(h_, buf, static_cast<DWORD>(max), &n, nullptr)) return -1;
        return static_cast<int>(n);
    }

    int ReadByte(uint8_t& byte, int timeoutMs) override {
        if (h_ == INVALID_HANDLE_VALUE) return -1;
        // Interval and multiplier MAXDWORD with a constant: return as soon as
        // a byte is there, or after the constant with none.
        const bool ok = timeoutMs <= 0
                            ? UseTimeouts(MAXDWORD, 0, 0)
                            : UseTimeouts(MAXDWORD, MAXDWORD, static_cast<DWORD>(timeoutMs));
        if (!ok) return -1;
        DWORD n = 0;
        if (!::ReadFile(h_, &byte, 1, &n, nullptr)) return -1;
        return n == 1 ? 1 : 0;
    }

    int WaitForInput(int timeoutMs, const StopSignal* stop) override {
        if (h_ == INVALID_HANDLE_VALUE) return -1;
        const int64_t until = SystemClock::Instance().NowMs() + std::max(timeoutMs, 0);
        for (;;) {
            if (stop != nullptr && stop->Raised()) return 0;
            const int waiting = BytesWaiting();
            if (waiting < 0) return -1;
            if (waiting > 0) return 1;
            const int64_t left = until - SystemClock::Instance().NowMs();
            if (left <= 0) return 0;
            // Look again every millisecond (the timer is held at 1 ms while
            // the port is open); a raised stop ends the wait at once.
            if (stop != nullptr && stop->Event() != nullptr) {
                ::WaitForSingleObject(stop->Event(), 1);
            } else {
                ::Sleep(1);
            }
        }
    }

    bool Close() override {
        if (h_ == INVALID_HANDLE_VALUE) return true;
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        timer_.reset();
        const bool closed = ::CloseHandle(h) != 0;
        const DWORD e = ::GetLastError();
        ::CloseHandle(claim_);
        claim_ = nullptr;
        if (!closed) return Fail(win::ErrorReason(e));
        return true;
    }

    std::string LastError() const override { return error_; }
    std::string OpenNote() const override { return note_; }

  private:
    bool Fail(std::string why) {
        error_ = std::move(why);
        return false;
    }

    // 8 data bits, no parity, one stop bit, no flow control, at any speed
    // the driver takes (10400 included). DTR and RTS stay on: many K-line
    // adapters draw their power from them.
    bool ApplyLine(int baud) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(h_, &dcb)) return Fail(win::ErrorReason(::GetLastError()));
        dcb.BaudRate = static_cast<DWORD>(baud);
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fAbortOnError = FALSE;
        if (!::SetCommState(h_, &dcb)) return Fail(win::ErrorReason(::GetLastError()));
        baud_ = baud;
        return true;
    }

    // Sets the read time-outs only when they change: each set is a call
    // into the driver.
    bool UseTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
        if (timeoutsSet_ && timeouts_.ReadIntervalTimeout == interval &&
            timeouts_.ReadTotalTimeoutMultiplier == multiplier &&
            timeouts_.ReadTotalTimeoutConstant == constant)
            return true;
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = interval;
        t.ReadTotalTimeoutMultiplier = multiplier;
        t.ReadTotalTimeoutConstant = constant;
        // A write never hangs for good on a line held by flow control.
        t.WriteTotalTimeoutMultiplier = 0;
        t.WriteTotalTimeoutConstant = 2000;
        if (!::SetCommTimeouts(h_, &t)) {
            timeoutsSet_ = false;
            return Fail(win::ErrorReason(::GetLastError()));
        }
        timeouts_ = t;
        timeoutsSet_ = true;
        return true;
    }

    HANDLE h_ = INVALID_HANDLE_VALUE;
    HANDLE claim_ = nullptr;
    int baud_ = 9600;
    COMMTIMEOUTS timeouts_{};
    bool timeoutsSet_ = false;
    std::unique_ptr<FineTimer> timer_;
    std::string error_;
    std::string note_;
};

}  // namespace

std::string DevicePathForPortName(const std::string& portName) {
    if (portName.empty()) return {};
    // A device path as it stands (\\.\COM12, \\.\CNCA0).
    if (portName.rfind("\\\\.\\", 0) == 0) return portName;
    if (IsComName(portName)) {
        const auto n = ParseInteger(portName.substr(3));
        if (!n || *n < 1 || *n > 255) return {};
        // COM10 and above open only through the device namespace; the
        // prefix does no harm below.
        return "\\\\.\\COM" + std::to_string(*n);
    }
    return "\\\\.\\" + portName;
}

int LineSpeedOf(int) {
    return -1;
}

std::string PortOpenReason(int err) {
    switch (static_cast<DWORD>(err)) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return "Причина: порт не найден (адаптер не подключён или номер COM-порта неверен; "
                   "номер виден в Диспетчере устройств, раздел «Порты (COM и LPT)»).";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // Windows answers "access denied" to the second open of a COM port.
            return "Причина: порт занят другой программой или нет доступа к нему.";
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
        case ERROR_INVALID_HANDLE:
            return "Причина: это устройство не является последовательным портом.";
        case ERROR_GEN_FAILURE:
            return "Причина: драйвер адаптера сообщил об ошибке; переподключите адаптер.";
        default:
            return "Причина: " + win::ErrorReason(static_cast<DWORD>(err)) + ".";
    }
}

std::string LatencyNote(const std::string& portName, const std::string&,
                        std::optional<int> latencyMs, const std::string& refusal) {
    constexpr int kLongestFineMs = 2;
    if (latencyMs && *latencyMs > kLongestFineMs) {
        return "Порт " + portName + ": адаптер задерживает принятые байты на " +
               std::to_string(*latencyMs) +
               " мс, обмен с ECU будет медленнее. Исправить: Диспетчер устройств → "
               "Порты (COM и LPT) → свойства порта " +
               portName +
               " → Параметры порта → Дополнительно → «Время ожидания (мс)»: 1, затем "
               "переподключите адаптер.";
    }
    if (!refusal.empty()) return "Порт " + portName + ": " + refusal + ".";
    return {};
}

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<WindowsSerialPort>();
}

}  // namespace korvane::platform
