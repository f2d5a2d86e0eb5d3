#pragma once
// The window's commands to the ECU worker: typed values that carry their own
// data, and the queue that hands them over with a rule per kind.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ecu/Frame.h"

namespace korvane::ecu {

// The command words; they name the kinds and appear in the log.
enum class CommandKind {
    OpenComPort,
    CloseComPort,
    DiagnosticECU,
    ReadFW,
    remake,       // one byte of the correction table
    correct1DF,   // a value of 1..4 bytes from the map editor
    correct23DF,  // a curve, whole 64-byte blocks
    remakegbc,    // the 256-byte tables, four blocks each
    remakeuoz,
    remakepopr,
    // The image changed: the synchroniser learns the bytes the ECU should
    // hold. Not a write itself; it is never dropped and keeps its place
    // between a close and an open.
    ImageChanged,
};
std::string_view KindName(CommandKind kind);
// Writes change the ECU's RAM; they keep their order and are never dropped
// without a word.
bool IsWrite(CommandKind kind);

// What a connect needs, taken by the worker as it opens the port.
struct OpenSettings {
    std::string portName = "COM1";    // "COM1", "/dev/ttyUSB0", a simulator link
    std::string portSpeed = "57600";  // session speed as text: "10400", "38400" or "57600"
    int32_t portTimeOut = 200;        // ms before each request
    int32_t portReadTimeOut = 0;      // ms between sending and reading; 0 means 160
    bool fastExchange = false;
    bool fastInit = false;  // the fast-init wake-up before each start
};

// A range of the image and the bytes the ECU should hold there.
struct RamRange {
    uint16_t address = 0;
    Bytes bytes;
    bool operator==(const RamRange&) const = default;
};

struct EcuCommand {
    CommandKind kind = CommandKind::DiagnosticECU;
    uint16_t address = 0;    // RAM address of a write
    Bytes bytes;             // the bytes to write, first byte at `address`
    uint8_t lengthByte = 0;  // the length byte of a "correct1DF" request
    OpenSettings open;       // "OpenComPort" only
    // "OpenComPort": the ranges the session looks after, with the image's
    // bytes when the connect was asked for; "ImageChanged": the new bytes.
    std::vector<RamRange> ranges;
    uint64_t id = 0;  // given by the queue

    static EcuCommand Of(CommandKind kind, uint16_t address = 0, Bytes bytes = {});
    static EcuCommand Open(OpenSettings settings, std::vector<RamRange> kept = {});
    static EcuCommand ImageChanged(uint16_t address, Bytes bytes);
    static EcuCommand Close() { return Of(CommandKind::CloseComPort); }
    static EcuCommand Poll() { return Of(CommandKind::DiagnosticECU); }
    static EcuCommand ReadFirmware() { return Of(CommandKind::ReadFW); }
    static EcuCommand WriteCell(uint16_t address, uint8_t value);
    static EcuCommand WriteValue(uint16_t address, Bytes bytes, uint8_t lengthByte);
    static EcuCommand WriteCurve(uint16_t address, Bytes blocks);
    // kind: remakegbc, remakeuoz or remakepopr; 256 bytes.
    static EcuCommand WriteTable(CommandKind kind, Bytes table);
};

// How a command ended, as the worker reports it.
struct CommandResult {
    CommandKind kind = CommandKind::DiagnosticECU;
    uint64_t id = 0;
    bool ok = true;
    std::string reason;  // why it failed; empty when ok
};

// How one write of the synchroniser ended: every request confirmed, a
// request refused by the ECU (with its reason code), or neither (no answer:
// the bytes stay owed and go again after the next good poll).
struct SyncReport {
    CommandKind kind = CommandKind::remake;
    uint16_t address = 0;  // of the first request
    uint32_t length = 0;   // bytes over all requests
    bool confirmed = false;
    bool refused = false;
    uint8_t code = 0;     // the ECU's reason when refused
    uint64_t openId = 0;  // the open whose session wrote it
};

// Commands from the window (any thread) to the worker. Rules per kind:
//  - a close is queued behind what is there and never dropped, so nothing
//    posted later overtakes it and an open after it finds the port closed;
//    opens still waiting are dropped by it (their connect was abandoned);
//  - at most one open waits: a newer one takes the place of a waiting one;
//  - writes keep their order and are never dropped;
//  - a firmware read runs alone: a second one is refused while one waits
//    or runs;
//  - a curve write replaces a waiting one for the same address;
//  - a poll is dropped while another poll waits.
class CommandQueue {
  public:
    // The command's id, 0 when refused by its kind's rule.
    uint64_t Post(EcuCommand command);
    // The worker takes the first command; it counts as pending until
    // Finish(id).
    std::optional<EcuCommand> Take();
    void Finish(uint64_t id);
    // The word of the command running or else of the first waiting one; ""
    // when there is none.
    std::string Pending() const;
    bool Idle() const;
    bool HasWaiting() const;
    size_t Waiting() const;
    // A close waits: long work should end at its next step.
    bool CloseWaiting() const;

    static constexpr std::chrono::milliseconds kForever{-1};
    // Blocks until ready() holds or `most` has passed; every post and Wake()
    // make the waiter look again. ready runs under the queue's lock and must
    // not touch the queue; it gets whether commands wait.
    template <class Ready>
    bool WaitUntil(Ready ready, std::chrono::milliseconds most = kForever) {
        std::unique_lock lock(mutex_);
        auto check = [&] { return ready(!waiting_.empty()); };
        if (most < std::chrono::milliseconds::zero()) {
            cv_.wait(lock, check);
            return true;
        }
        return cv_.wait_for(lock, most, check);
    }
    void Wake();

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<EcuCommand> waiting_;
    std::optional<CommandKind> running_;
    uint64_t runningId_ = 0;
    uint64_t nextId_ = 0;
};

}  // namespace korvane::ecu
