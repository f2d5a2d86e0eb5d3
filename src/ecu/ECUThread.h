#pragma once
// The ECU worker: one thread that owns the K-line port, polls the ECU for
// its diagnostic frame while no command waits and carries out the window's
// commands (connect, disconnect, firmware read, RAM writes).
//
// How the window uses it:
//  - Post() a command (ecu/Command.h): each carries its own data and the
//    queue applies its kind's rule; Pending() names what is still to do.
//  - Status() gives the flags, counters and the last frame as one value,
//    never half updated; log lines, progress and the events of the session
//    and the commands reach the window's LogView on the UI thread, and the
//    worker never waits for them.
//  - at shutdown: post a close if wanted, release the UiBridge (a closing
//    window does), then Stop().
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ecu/Command.h"
#include "ecu/EcuLink.h"
#include "ecu/RamSync.h"
#include "ecu/Shared.h"
#include "ecu/UiLog.h"
#include "platform/Clock.h"
#include "platform/ImageSize.h"
#include "platform/SerialPort.h"
#include "platform/UiBridge.h"

namespace korvane::ecu {

// The worker's state as the window sees it, taken whole.
struct EcuStatus {
    int32_t IsComConnected = 0;  // the port is open and configured
    int32_t IsECUConnected = 0;  // the session stands
    int32_t IsDiagnostic = 0;    // polling is on
    int32_t error = 0;           // errors since connect
    // Diagnostic requests sent since connect, answered or not, and the 51
    // data bytes of the last answer (empty when it was not valid); the two
    // change together.
    int32_t numlog = 0;
    std::shared_ptr<const Bytes> DiagnosticInfo = std::make_shared<const Bytes>();
    // Valid diagnostic answers received.
    int32_t FreshFrames = 0;

    // The synchroniser: bytes still to be written into the ECU's RAM, and
    // the ranges the ECU refused this session.
    size_t owedBytes = 0;
    std::vector<Refusal> refusals;

    bool LinkUp() const { return IsComConnected == 1 && IsECUConnected == 1; }
};

// What a panel needs to hand the worker a command.
class EcuCommands {
  public:
    virtual ~EcuCommands() = default;
    virtual EcuStatus Status() const = 0;
    // The command's id, 0 when its kind's rule refused it.
    virtual uint64_t Post(EcuCommand command) = 0;
    // The word of the command running or first waiting; "" when idle.
    virtual std::string Pending() const = 0;
};

// From EcuLinkFields: PortName, PortSpeed, PortTimeOut, PortReadTimeOut,
// error, ErrorComPorts, IsECUConnected, IsComConnected, IsDiagnostic,
// DiagnosticInfo. They are the worker's own; the window reads Status().
class TECUThread : public EcuLinkFields, public EcuCommands {
  public:
    static constexpr int kFirmwareBlocks = 682;  // of 0x60 bytes, then one of 0x40
    static constexpr int64_t kFirmwareSize = static_cast<int64_t>(kImageSize);
    static constexpr int kMaxCurveBlocks = 15;

    TECUThread(
        platform::UiBridge& ui, LogView& view,
        PortFactory makePort = [] { return platform::MakeSystemSerialPort(); },
        platform::Clock& clock = platform::SystemClock::Instance());
    // Stops and joins the thread.
    ~TECUThread() override;
    TECUThread(const TECUThread&) = delete;
    TECUThread& operator=(const TECUThread&) = delete;

    // Starts the worker's own thread. Call once.
    void Start();
    // Asks the thread to end and joins it. Every pause ends at once and no
    // request is sent after that, so a command in progress ends without
    // its remaining exchanges (a firmware read then delivers no image).
    // Commands not yet taken are dropped.
    void Stop();
    bool StopRequested() { return link_.Stopping().Raised(); }

    // One pass of the worker's loop: a polling pass or a command. The thread
    // runs it over and over; tests call it directly with a fake port and
    // clock instead of starting the thread.
    void Pass();

    // EcuCommands
    EcuStatus Status() const override;
    uint64_t Post(EcuCommand command) override { return queue_.Post(std::move(command)); }
    std::string Pending() const override { return queue_.Pending(); }
    // Nothing waits and nothing runs.
    bool Idle() const { return queue_.Idle(); }

    // While set the port is never opened and no command is taken (the
    // window's port listing found none).
    void SetPortGuard(bool on) {
        ErrorComPorts = on ? 1 : 0;
        queue_.Wake();
    }

    // Diagnostic requests sent since connect (the window reads Status()).
    std::atomic<int32_t> numlog{0};

    static constexpr int kStartAttempts = 3;
    static constexpr int kStartIdleMs = 300;  // the K-line's idle time before a new start

  private:
    enum Table { kBcn, kIgnition, kCorrection, kTableCount };

    void Execute();
    // Nothing to do until a command is posted: no session to poll, and no
    // command the worker may take.
    bool Sleeping();
    void Run(const EcuCommand& command);
    void OpenComPort(const EcuCommand& command);
    void CloseComPort();
    void WriteTableCommand(Table table, const EcuCommand& command);

    bool PollDiagnostics();
    Bytes ReadBlock(uint16_t address, uint8_t n);
    enum class Outcome { Confirmed, Unconfirmed, Refused };
    // One WriteMemoryByAddress request; `code` gets the ECU's reason when
    // it answered with a negative response.
    Outcome WriteBlock(uint16_t address, uint8_t n, const uint8_t* bytes, uint8_t* code = nullptr);
    // The synchroniser's writes, each once; what is not confirmed goes again
    // after the next good poll.
    void WriteOwed();
    void RunSyncWrite(const SyncWrite& write);
    // At session start: the looked-after ranges read back, so only what
    // differs is written.
    void ReadBackKept();
    void PublishSync();
    // "" when the image is read; else why not.
    std::string ReadFirmware();
    void WriteCell(const EcuCommand& command);
    void WriteValues(const EcuCommand& command);
    void WriteCurve(const EcuCommand& command);
    void WriteTableBlock(Table table, int block, const Bytes& bytes);

    bool Connected() const { return link_.Connected(); }
    // After a write the worker polls again; it never claims polling with no
    // session to poll.
    void ResumePolling() {
        if (Connected()) IsDiagnostic = 1;
    }
    void FlagsChanged() override;
    void PublishPoll();
    void ShowProgress();
    void Log(const std::string& line);
    void ProgressLine(const std::string& line);
    bool RefuseWrite(uint32_t address, int64_t count, bool fits);

    UiLog log_;
    EcuLink link_;
    CommandQueue queue_;
    std::thread thread_;

    mutable std::mutex statusMutex_;
    EcuStatus status_;

    bool longDiagnosticShown_ = false;
    bool keepLastLine_ = false;
    int progressMax_ = 0;
    int progressPos_ = 0;
    std::string failure_;  // why the command being run failed
    RamSync sync_;
    uint64_t openId_ = 0;  // the open of the session that stands or last stood
};

}  // namespace korvane::ecu
