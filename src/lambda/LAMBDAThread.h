#pragma once
// The LC-1 wideband lambda reader: a thread that owns the controller's serial
// port, reads its six-byte packets and publishes the air/fuel ratio and the
// link state for the window. No Qt here; log lines reach the window through
// platform::UiBridge as posted events, so reading never waits for the window.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/Shared.h"
#include "platform/UiBridge.h"

namespace korvane::lambda {

using platform::Mailbox;
using platform::SharedText;

// The AFR of one packet's four payload bytes as text in the general number
// form ("14.7", "7.35", "0"). "0" means no valid reading: a lambda word of
// 1540 or more, or a function code other than "lambda" (warm-up, calibration
// and error packets carry other things in the lambda word). Empty text unless
// exactly four bytes are given. The AFR multiplier sent by the controller is
// ignored; the factor is always 14.7.
std::string DecodeAfr(std::span<const uint8_t> payload, char decimalSeparator = '.');

// Appends one line to the window's log; called on the UI thread, in the
// order the reader logged the lines.
using LogSink = std::function<void(const std::string& line)>;

// The reader's state as the window sees it, taken whole: a reading and the
// flags that say whether to trust it always belong together.
struct LambdaStatus {
    int32_t IsComConnected = 0;
    int32_t IsLambdaConnected = 0;
    int32_t IsLambdaError = 0;
    double AFR = 0.0;
    int32_t WarmUpPercent = -1;
    std::string PortName;
};

struct LambdaOptions {
    // How long one byte read waits. 300 ms on a real line; tests shorten it.
    int readTimeoutMs = 300;
    // For the AFRs text only; AFR itself is a number.
    char decimalSeparator = '.';
};

// Commands: "OpenComPort" opens the port named in PortName at PortSpeed
// (empty: "COM3", "19200") and starts reading; "CloseComPort" closes it.
// The window sets PortName/PortSpeed first, then posts the command.
//
// The window uses AFR only while IsComConnected, IsLambdaConnected are 1 and
// IsLambdaError is 0, and reads them together through Status(). AFR is never
// a half-written value; 0 means no reading.
class TLAMBDAThread {
  public:
    explicit TLAMBDAThread(
        platform::UiBridge& ui, LogSink appendLog,
        std::unique_ptr<platform::SerialPort> port = platform::MakeSystemSerialPort(),
        platform::Clock& clock = platform::SystemClock::Instance(), LambdaOptions options = {});
    // Stops and joins the thread (see Stop).
    ~TLAMBDAThread();
    TLAMBDAThread(const TLAMBDAThread&) = delete;
    TLAMBDAThread& operator=(const TLAMBDAThread&) = delete;

    // Starts the reader's own thread. Call once.
    void Start();
    // Asks the thread to end and joins it; it ends within one byte time-out
    // (300 ms). The port is closed without log lines. Log lines still on
    // their way to the window are dropped once the window releases its
    // UiBridge (a closing window does).
    void Stop();

    // The flags, the reading and the port name as one value.
    LambdaStatus Status() const;

    // One pass of the reader's loop: a command, or one packet attempt and its
    // pauses. The thread runs it over and over; tests call it directly with
    // a fake port and clock instead of starting the thread.
    void Pass();

    // Shared with the window.
    Mailbox Command;
    std::atomic<int32_t> PortTimeOut{0};  // pause after each packet attempt, ms
    SharedText PortSpeed;
    SharedText PortName;
    std::atomic<int32_t> ErrorComPorts{0};  // never set in the program
    std::atomic<int32_t> IsComConnected{0};
    std::atomic<int32_t> IsLambdaConnected{0};
    std::atomic<int32_t> IsLambdaError{0};
    std::atomic<int32_t> err{0};   // link errors in a row
    std::atomic<int32_t> err2{0};  // all errors since the last "OpenComPort"
    std::atomic<double> AFR{0.0};
    SharedText AFRs;
    // While the controller warms its sensor up: how far, in % of the
    // operating temperature (0 to 100); -1 otherwise. Warm-up packets are
    // no readings and no errors: AFR stays 0, IsLambdaError 0.
    std::atomic<int32_t> WarmUpPercent{-1};

  private:
    void Execute();
    void OpenCommand();
    bool OpenPort();
    void ClosePort();
    bool ReadByte(uint8_t& byte);
    void PacketAttempt();
    void WarmUp(const std::array<uint8_t, 4>& payload);
    void LinkError();
    // Nothing to do until the mailbox changes: the port is closed, or a
    // word the reader does not carry out holds reading up.
    bool Idle(const Mailbox::Entry& command) const;
    // Hands the line to the window and returns at once.
    void LogMessage(const std::string& line);

    platform::UiBridge& ui_;
    LogSink appendLog_;
    std::unique_ptr<platform::SerialPort> port_;
    platform::Clock& clock_;
    LambdaOptions options_;
    platform::StopSignal stop_;
    std::thread thread_;
    // Held while the reader changes flags that belong together and while
    // Status() reads them.
    mutable std::mutex statusMutex_;
};

}  // namespace korvane::lambda
