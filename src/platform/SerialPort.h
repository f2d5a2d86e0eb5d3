#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace korvane::platform {

// One serial device, used by exactly one thread. Line settings are always
// 8 data bits, no parity, one stop bit; only the speed varies.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Opens the device for reading and writing, exclusively, in raw mode.
    // On failure returns false and leaves a reason in LastError().
    virtual bool Open(const std::string& portName) = 0;
    virtual bool IsOpen() const = 0;
    // Any speed in baud (10400 is not a standard rate; it works all the same).
    virtual bool SetSpeed(int baud) = 0;
    // One device write for one byte.
    virtual bool WriteByte(uint8_t byte) = 0;
    // Waits until the bytes written have left the line (a write only
    // queues them). False when that could not be seen.
    virtual bool Drain() = 0;
    // Bytes waiting in the receive queue, or -1 on error.
    virtual int BytesWaiting() = 0;
    // Reads up to max bytes that are already there, without waiting.
    // Returns the count read (0 when none) or -1 on error.
    virtual int ReadNow(uint8_t* buf, int max) = 0;
    // Waits at most timeoutMs for one byte: 1 when it came, 0 on time-out,
    // -1 on error.
    virtual int ReadByte(uint8_t& byte, int timeoutMs) = 0;
    // Waits at most timeoutMs until bytes wait in the receive queue: 1 when
    // they do, 0 on time-out or when stop (if given) is raised, -1 on error.
    virtual int WaitForInput(int timeoutMs, const StopSignal* stop) = 0;
    virtual bool Close() = 0;
    virtual std::string LastError() const = 0;
    // A line for the log about the port just opened, such as a USB adapter
    // that holds received bytes back; empty when there is nothing to say.
    virtual std::string OpenNote() const { return {}; }
};

// The device path for a port name from the settings: a name starting with
// "/" is a path as it stands; "COMn" (any letter case) is /dev/ttyS(n-1).
// Anything else is taken as a name under /dev. A "COMn" whose number is too
// large for any device and an empty name give "", which opens nothing and
// fails as a missing port does.
std::string DevicePathForPortName(const std::string& portName);

// The line speed in baud set on a terminal; on a pseudo-terminal's master it
// is the speed its slave side was given. -1 when it cannot be read.
int LineSpeedOf(int fd);

// Why a port did not open, in Russian, with what the user can do about it;
// an Open() failure leaves this text in LastError().
std::string PortOpenReason(int err);

// The receive latency timer of a USB serial adapter (FTDI chips hold
// received bytes up to this long) in ms, read from the kernel's tty class
// folder for a tty name such as "ttyUSB0"; nothing where there is none.
std::optional<int> ReadLatencyTimer(const std::string& ttyName,
                                    const std::string& sysClassTty = "/sys/class/tty");

// The log line for an opened port whose latency stays above 2 ms (with how
// to fix it for good), or whose driver refused the low-latency request
// (`refusal` holds the reason); empty when all is well.
std::string LatencyNote(const std::string& portName, const std::string& ttyName,
                        std::optional<int> latencyMs, const std::string& refusal);

// The serial port of the system the program runs on: the POSIX one below,
// or on Windows a COM port through CreateFileW, a DCB and COMMTIMEOUTS that
// also holds the system timer at 1 ms while it is open (Windows sleeps in
// 15.6 ms steps otherwise, and the fast exchange lives on short waits).
std::unique_ptr<SerialPort> MakeSystemSerialPort();

// A real POSIX serial port (termios2 with BOTHER, TIOCEXCL, FIONREAD, poll).
// At open it asks the driver for low latency (for FTDI adapters a 1 ms
// latency timer) and leaves a note when that did not work; the open goes on.
std::unique_ptr<SerialPort> MakePosixSerialPort(const std::string& sysClassTty = "/sys/class/tty");

}  // namespace korvane::platform
