#pragma once
// The K-line link to the ECU: the serial port with its log lines, the
// request/response exchange with the adapter's echo, and the diagnostic
// session. Everything runs on the thread that owns the link (the ECU
// worker); only the fields are shared with the window.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "ecu/Frame.h"
#include "ecu/Shared.h"
#include "ecu/UiLog.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace korvane::ecu {

using PortFactory = std::function<std::unique_ptr<platform::SerialPort>()>;

// The link's state as the window sees it. Flags hold 0 or 1.
struct EcuLinkFields {
    SharedText PortName;                      // "COM1", "/dev/ttyUSB0", a simulator link
    SharedText PortSpeed;                     // session speed as text: "10400", "38400" or "57600"
    std::atomic<int32_t> PortTimeOut{200};    // ms before each request
    std::atomic<int32_t> PortReadTimeOut{0};  // ms between sending and reading; 0 means 160
    // 1: the fast exchange ("Быстрый обмен" = "да"): the answer is taken as
    // soon as it is complete, within PortReadTimeOut, and PortTimeOut counts
    // from the end of the previous answer. 0: the read waits the whole
    // PortReadTimeOut and PortTimeOut is a plain pause before each request.
    std::atomic<int32_t> FastExchange{0};
    // 1: each start of communication is preceded by the fast-init wake-up
    // pattern ("Инициализация K-line" = "быстрая"); 0: no pattern.
    std::atomic<int32_t> FastInit{0};
    std::atomic<int32_t> error{0};           // errors since connect; more than 10 drop the link
    std::atomic<int32_t> ErrorComPorts{0};   // while not 0 the port is never opened
    std::atomic<int32_t> IsECUConnected{0};  // the session stands
    std::atomic<int32_t> IsComConnected{0};  // the port is open and configured
    std::atomic<int32_t> IsDiagnostic{0};    // polling is on
    // The 51 data bytes of the last diagnostic answer (after 61 0F); empty
    // when the last echoed request got no valid answer.
    SharedBytes DiagnosticInfo;
    // Valid diagnostic answers received: the window's sign that the ECU
    // still talks (a poll that gets nothing back fails silently).
    std::atomic<int32_t> FreshFrames{0};

    virtual ~EcuLinkFields() = default;
    // Called by the link after it changed the flags or the error count (on
    // the owner's thread), so the owner can publish them together.
    virtual void FlagsChanged() {}
};

// Speeds the session can run at, and the byte that asks the ECU for each.
std::optional<uint8_t> SpeedByteFor(const std::string& portSpeed);

class EcuLink {
  public:
    static constexpr int kOpeningSpeed = 10400;
    static constexpr int kMaxRead = 256;           // one read of the receive queue
    static constexpr int kDefaultReadPause = 160;  // used when PortReadTimeOut is 0
    static constexpr int kMaxErrors = 10;          // the eleventh error drops the link
    // The fast-init wake-up: the line low for 25 ms, then high for 25 ms.
    // A zero byte at 360 baud is the low time (start bit and eight zero
    // bits); its stop bit has left after ten bit times, under 30 ms.
    static constexpr int kWakeUpBaud = 360;
    static constexpr int kWakeUpLowMs = 25;
    static constexpr int kWakeUpHighMs = 25;
    static constexpr int kWakeUpByteMs = 30;

    EcuLink(EcuLinkFields& fields, UiLog& log, PortFactory makePort, platform::Clock& clock);
    ~EcuLink();
    EcuLink(const EcuLink&) = delete;
    EcuLink& operator=(const EcuLink&) = delete;

    // Serial layer.
    bool OpenPort();
    void ClosePort();
    bool SetLineSpeed(int baud);
    // Each byte by its own device write; the outcome is that of the last.
    bool WriteBytes(std::span<const uint8_t> bytes);
    // What waits in the receive queue, at most 256 bytes, without waiting.
    bool ReadAvailable(Bytes& out);

    // One exchange: pause, frame and send, wait for the bytes to leave,
    // read back (after the whole read pause, or as the bytes arrive with the
    // fast exchange), check the echo, validate the answer. Errors are logged
    // and counted here. Once the link is asked to stop nothing more is sent.
    bool SendRequest(std::span<const uint8_t> payload);
    bool SendRequest(std::initializer_list<uint8_t> payload) {
        return SendRequest(std::span<const uint8_t>(payload.begin(), payload.size()));
    }
    // code 1: wrong answer, 2: memory read error.
    void ReportError(int code, const std::string& detail);

    // The fast-init wake-up pattern on the open port: the line low for 25 ms
    // and high for 25 ms, back at 10400 baud, whatever came in meanwhile
    // dropped; the next request goes out without its pause. False (with a
    // log line) when the port refused the speed or the byte.
    bool WakeUp();
    bool StartSession();
    // A new connect: the start hints (missing echo, no answer to the start)
    // may be given again.
    void ResetEchoHint() {
        echoHintShown_ = false;
        initHintShown_ = false;
    }
    bool StopSession();

    // The answer data the last exchange found after a correct echo (empty
    // when there was none), and whether the echo was correct.
    const Bytes& LastAnswer() const { return lastAnswer_; }
    bool LastEchoOk() const { return lastEchoOk_; }
    // The data of the last successful memory read; taking it empties it.
    Bytes TakeLastReadData() { return std::exchange(lastReadData_, {}); }

    bool Connected() const { return f_.IsECUConnected == 1 && f_.IsComConnected == 1; }
    // Raised when the owner is asked to end: every pause and read-back wait
    // of the link ends at once.
    platform::StopSignal& Stopping() { return stopping_; }
    // A pause that ends early when the link is asked to stop.
    bool Pause(int64_t ms) { return clock_.Pause(ms, stopping_); }
    // The port in use (tests look at it); null while closed.
    platform::SerialPort* Port() { return port_.get(); }

  private:
    void PauseBeforeRequest();
    // Reads until the echo of `sentSize` bytes and a whole answer frame are
    // in, the read-back time is over or the link is asked to stop.
    bool ReadAnswer(size_t sentSize, int32_t readPause, Bytes& received);
    bool Validate(std::span<const uint8_t> payload, const Bytes& answer);
    bool ExpectExactly(std::span<const uint8_t> payload, const Bytes& answer,
                       std::initializer_list<uint8_t> expected, bool resultOnError);
    std::string PortNameText() const { return f_.PortName.Get(); }

    EcuLinkFields& f_;
    UiLog& log_;
    PortFactory makePort_;
    platform::Clock& clock_;
    std::unique_ptr<platform::SerialPort> port_;
    platform::StopSignal stopping_;
    // When the last exchange stopped reading (with the fast exchange: when
    // the last byte of the answer came); -1 before the first one.
    int64_t quietFrom_ = -1;
    Bytes lastAnswer_;
    bool lastEchoOk_ = false;
    bool lastReceivedAny_ = false;  // the last exchange read any byte at all
    bool echoHintShown_ = false;
    bool initHintShown_ = false;
    // The wake-up pattern has just ended: the request that follows it goes
    // at once, its pause would stretch the high time past what ECUs wait.
    bool requestFollowsWakeUp_ = false;
    Bytes lastReadData_;
};

}  // namespace korvane::ecu
