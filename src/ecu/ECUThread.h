#pragma once
// The ECU worker: one thread that owns the K-line port, polls the ECU for
// its diagnostic frame while the mailbox is empty and carries out the
// window's commands (connect, disconnect, firmware read, RAM writes).
//
// How the window uses it:
//  - write the parameter fields, then post the word: Command.Post("ReadFW"),
//    or Command.PostIfEmpty(...) for the writes that must not replace a
//    command in progress. The mailbox publishes the fields written before
//    the post. Write adressdata, plusrw, numdata, numdatastr, data and data2
//    only while Command is empty: the worker reads them until it clears it.
//  - read the flags and counters (atomics) and DiagnosticInfo / ReadRam
//    (replaced whole, never seen half written) from its timers.
//  - at shutdown: post "CloseComPort" if wanted, release the UiBridge (a
//    closing window does), then Stop(); the worker never waits for the UI
//    after the bridge is released, so Stop() cannot deadlock.
//
// Commands: "OpenComPort", "CloseComPort", "DiagnosticECU", "ReadFW",
// "remake", "correct1DF", "correct23DF", "remakegbc", "remakeuoz",
// "remakepopr".
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "ecu/EcuLink.h"
#include "ecu/PendingWrites.h"
#include "ecu/Shared.h"
#include "ecu/UiLog.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/UiBridge.h"

namespace korvane::ecu {

// From EcuLinkFields: PortName, PortSpeed, PortTimeOut, PortReadTimeOut,
// error, ErrorComPorts, IsECUConnected, IsComConnected, IsDiagnostic,
// DiagnosticInfo.
class TECUThread : public EcuLinkFields {
  public:
    static constexpr int kDataCells = 256;
    static constexpr int kData2Cells = 1000;
    static constexpr int kFirmwareBlocks = 682;  // of 0x60 bytes, then one of 0x40
    static constexpr int64_t kFirmwareSize = 0x10000;

    TECUThread(
        platform::UiBridge& ui, LogView& view,
        PortFactory makePort = [] { return platform::MakePosixSerialPort(); },
        platform::Clock& clock = platform::SystemClock::Instance());
    // Stops and joins the thread.
    ~TECUThread();
    TECUThread(const TECUThread&) = delete;
    TECUThread& operator=(const TECUThread&) = delete;

    // Starts the worker's own thread. Call once.
    void Start();
    // Asks the thread to end and joins it. Every pause ends at once and no
    // request is sent after that, so a command in progress ends without
    // its remaining exchanges (a firmware read then delivers no image). A
    // command not yet taken is dropped.
    void Stop();
    bool StopRequested() { return link_.Stopping().Raised(); }

    // One pass of the worker's loop: a polling pass or a command pass. The
    // thread runs it over and over; tests call it directly with a fake port
    // and clock instead of starting the thread.
    void Pass();

    // The mailbox: a command word or empty.
    Mailbox Command;
    // Diagnostic requests sent since connect, answered or not; the window
    // sets it to 0 at connect and decodes DiagnosticInfo when it grows.
    std::atomic<int32_t> numlog{0};
    // ECU RAM address of a value or curve write: high byte, low byte.
    // "correct23DF" leaves it pointing after the last block written.
    std::array<uint8_t, 2> adressdata{};
    int32_t plusrw = 0;      // 64-byte blocks of a "correct23DF" write (at most 15)
    int32_t numdata = 0;     // cells of data sent by "remake" (1) and "correct1DF"
    uint8_t numdatastr = 0;  // the length byte of a "correct1DF" request
    // Bytes to write, one per cell, low 8 bits sent. data[i] is the byte at
    // offset i (the first cell is data[0]).
    std::array<int32_t, kDataCells> data{};
    std::array<int32_t, kData2Cells> data2{};
    // The 65 536-byte image of the last complete firmware read, in address
    // order; the window takes it when ReadCompleate is 1 and then resets both.
    SharedBytes ReadRam;
    std::atomic<int32_t> ReadCompleate{0};
    // Set when a connect gave up after its start attempts (the port is then
    // closed again); cleared by the next "OpenComPort".
    std::atomic<int32_t> ConnectFailed{0};
    static constexpr int kStartAttempts = 3;
    static constexpr int kStartIdleMs = 300;  // the K-line's idle time before a new start

  private:
    enum Table { kBcn, kIgnition, kCorrection, kTableCount };
    struct TableWrite {
        int blocksDone = 0;
        uint64_t post = 0;  // the post these blocks belong to
    };

    void Execute();
    // Nothing to do until a word is posted: no session to poll, and no word
    // the worker may take.
    bool Idle();
    void OpenComPort();
    void CloseComPort();
    void WriteTableCommand(Table table, const char* line);

    bool PollDiagnostics();
    Bytes ReadBlock(uint16_t address, uint8_t n);
    // True when the ECU confirmed the write; one it did not is kept and
    // written again by WritePending after a good poll.
    bool WriteBlock(uint16_t address, uint8_t n, const Bytes& bytes);
    void WritePending();
    bool ReadFirmware();
    bool WriteCell();
    bool WriteValues();
    bool WriteCurve();
    bool WriteTable(Table table);

    bool Connected() const { return link_.Connected(); }
    // After a write the worker polls again; it never claims polling with no
    // session to poll.
    void ResumePolling() {
        if (Connected()) IsDiagnostic = 1;
    }
    void ClearCommand() { Command.Clear(post_); }
    void ShowProgress();
    void Log(const std::string& line);
    void ProgressLine(const std::string& line);
    bool RefuseWrite(uint32_t address, int64_t count, bool fits);

    UiLog log_;
    EcuLink link_;
    std::thread thread_;

    uint64_t post_ = 0;  // the post of the command being carried out
    bool longDiagnosticShown_ = false;
    bool keepLastLine_ = false;
    int progressMax_ = 0;
    int progressPos_ = 0;
    std::array<TableWrite, kTableCount> tables_{};
    PendingWrites pending_;
    static constexpr int64_t kPendingEveryMs = 1000;
    int64_t pendingTriedAt_ = -1;
};

}  // namespace korvane::ecu
