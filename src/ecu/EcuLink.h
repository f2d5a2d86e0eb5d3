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
    std::atomic<int32_t> error{0};           // errors since connect ("Ошибка №N")
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
    // A standing session is given up at the eleventh error in a row, or
    // when no valid answer has come for this long: errors now and then on
    // a noisy line are logged and the session goes on.
    static constexpr int kMaxErrors = 10;
    static constexpr int64_t kNoAnswerLimitMs = 3000;
    // A request that got no answer is sent again up to this many times.
    static constexpr int kRepeats = 2;
    // An ECU ends a session that hears no request for this long.
    static constexpr int64_t kP3MaxMs = 5000;
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
    // SendRequest, repeated up to kRepeats times while no answer comes back
    // (nothing, no echo, or no sound frame after it), each repeat with one
    // log line. A wrong answer is an answer and is not repeated. A write
    // that is not confirmed gets its own log line at every try.
    bool Request(std::span<const uint8_t> payload);
    bool Request(std::initializer_list<uint8_t> payload) {
        return Request(std::span<const uint8_t>(payload.begin(), payload.size()));
    }
    // code 1: wrong answer, 2: memory read error.
    void ReportError(int code, const std::string& detail);

    // The fast-init wake-up pattern on the open port: the line low for 25 ms
    // and high for 25 ms, back at 10400 baud, whatever came in meanwhile
    // dropped; the next request goes out without its pause. False (with a
    // log line) when the port refused the speed or the byte.
    bool WakeUp();
    // Each step of the start is repeated as Request does.
    bool StartSession();
    // After a start that failed once the line had gone over to the session
    // speed the ECU may still hold its session there, deaf to a new start
    // at 10400 until it has heard nothing for P3max. Ends that session
    // (StopCommunication at the session speed) or, when the ECU does not
    // confirm, waits P3max out with a log line; then the line is back at
    // 10400. Does nothing after a start that failed before the switch.
    void EndFailedStart();
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
    // The last exchange got the right answer (a write: its confirmation).
    bool LastValid() const { return lastValid_; }
    // Repeats the last Request needed (0 when its first try was answered).
    int LastRepeats() const { return lastRepeats_; }
    // Errors since the last valid answer.
    int ErrorsInRow() const { return errorsInRow_; }
    // The data of the last successful memory read; taking it empties it.
    Bytes TakeLastReadData() { return std::exchange(lastReadData_, {}); }

    bool Connected() const { return f_.IsECUConnected == 1 && f_.IsComConnected == 1; }
    // Raised when the owner is asked to end: every pause and read-back wait
    // of the link ends at once.
    platform::StopSignal& Stopping() { return stopping_; }
    // A pause that ends early when the link is asked to stop.
    bool Pause(int64_t ms) { return clock_.Pause(ms, stopping_); }
    int64_t NowMs() const { return clock_.NowMs(); }
    // The port in use (tests look at it); null while closed.
    platform::SerialPort* Port() { return port_.get(); }

  private:
    void PauseBeforeRequest();
    // Reads until the echo of `sentSize` bytes and a whole answer frame are
    // in, the read-back time is over or the link is asked to stop.
    bool ReadAnswer(std::span<const uint8_t> sent, uint8_t serviceId, int32_t readPause,
                    Bytes& received);
    bool Validate(std::span<const uint8_t> payload, const Bytes& answer);
    // What came in between exchanges belongs to no request of ours.
    void DiscardWaiting();
    // After each exchange: a valid answer ends a run of failures; a run that
    // has lasted kNoAnswerLimitMs ends a standing session.
    void TrackHealth(int64_t sentAt, bool refusal = false);
    void GiveUp(const std::string& why);
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
    bool lastSent_ = false;         // the last exchange's frame went out
    bool lastValid_ = false;
    int lastRepeats_ = 0;
    int errorsInRow_ = 0;
    int64_t failingSince_ = -1;      // when the current run of failed exchanges began
    bool startLeftSession_ = false;  // the last start failed after the speed switch
    bool echoHintShown_ = false;
    bool initHintShown_ = false;
    // The wake-up pattern has just ended: the request that follows it goes
    // at once, its pause would stretch the high time past what ECUs wait.
    bool requestFollowsWakeUp_ = false;
    Bytes lastReadData_;
};

}  // namespace korvane::ecu
