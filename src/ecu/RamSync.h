#pragma once
// What the ECU's RAM holds, as far as this session knows: per byte of the
// ranges looked after, confirmed equal to the image, owed, or refused by the
// ECU. The image is what the ECU should hold; writers only change the image,
// and this class turns the difference into as few write requests as the
// services allow. One per session, used on the worker's thread only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ecu/Command.h"
#include "ecu/Frame.h"
#include "platform/ImageSize.h"

namespace korvane::ecu {

// One request of a write: WriteMemoryByAddress of `bytes` at `address`.
using SyncBlock = RamRange;

// One write as the line has always seen it: its command word (which gives
// its log line) and its requests in order.
struct SyncWrite {
    CommandKind kind = CommandKind::remake;
    std::vector<SyncBlock> blocks;
    bool operator==(const SyncWrite&) const = default;
};

// A range the ECU answered with a negative response, and its reason code.
struct Refusal {
    uint16_t address = 0;
    uint16_t length = 0;
    uint8_t code = 0;
    bool operator==(const Refusal&) const = default;
};

// The 256-byte tables written in four 64-byte blocks, with their command
// words; the correction table also cell by cell.
struct RamTable {
    CommandKind kind;
    uint16_t address;
};
inline constexpr RamTable kRamTables[] = {
    {CommandKind::remakepopr, 0x7CF7},  // correction
    {CommandKind::remakegbc, 0x75EF},   // BCN
    {CommandKind::remakeuoz, 0x6DC8},   // ignition
};
inline constexpr size_t kRamTableBytes = 256;
inline constexpr size_t kRamBlock = 64;
// A value write ("correct1DF") takes at most this many bytes; longer runs go
// as curve blocks ("correct23DF"), at most kMaxCurveBlocks per write.
inline constexpr size_t kMaxValueBytes = 4;
inline constexpr size_t kMaxCurveBlocks = 15;

// The status bar's word on the ECU's RAM: a refused range first (it will
// not go by itself), else the bytes still to be written, else that the
// ECU's tables equal the image.
std::string FollowText(size_t owedBytes, const std::vector<Refusal>& refusals);

class RamSync {
  public:
    enum class State : uint8_t {
        Unknown,    // not looked after
        Confirmed,  // the ECU holds the image's byte
        Owed,       // to be written
        Refused,    // the ECU refused it; not tried again this session
    };

    // A new session looks after these ranges (the image's bytes at its
    // start); everything known before is forgotten. They count as owed
    // until ReadBack or a confirmed write says otherwise.
    void Begin(const std::vector<RamRange>& kept);
    // A close: nothing is looked after, owed or refused any more.
    void Forget();
    bool Active() const { return active_; }

    // The image changed there: the ECU should hold these bytes. The range
    // is looked after from now on; bytes that differ from what is
    // confirmed become owed, refused ones stay refused.
    void Want(uint16_t address, std::span<const uint8_t> bytes);
    // The ECU's RAM at `address`, read back: equal bytes are confirmed,
    // the others owed.
    void ReadBack(uint16_t address, std::span<const uint8_t> ecu);
    // The looked-after ranges in address order, split into pieces of at
    // most `most` bytes, for the read-back.
    std::vector<std::pair<uint16_t, uint16_t>> ReadBackRanges(size_t most) const;

    // The ECU's RAM read whole (a firmware read that became the image):
    // every looked-after byte is confirmed with the ECU's value.
    void Adopt(std::span<const uint8_t> ecu);
    // Every write that would bring the owed bytes over, each once, in the
    // order: correction, BCN, ignition, then the rest by address.
    std::vector<SyncWrite> Plan() const;
    // The ECU confirmed a request with these bytes. A byte the image has
    // changed since it was sent stays owed.
    void Confirmed(const SyncBlock& block);
    // The ECU refused the request: final for its bytes this session.
    void Refused(const SyncBlock& block, uint8_t code);

    State At(size_t address) const { return state_[address]; }
    uint8_t Target(size_t address) const { return target_[address]; }
    size_t OwedBytes() const;
    const std::vector<Refusal>& Refusals() const { return refusals_; }

  private:
    void Owe(size_t address);
    void TableWrites(const RamTable& table, std::vector<SyncWrite>& out) const;

    bool active_ = false;
    std::array<uint8_t, kImageSize> target_{};
    std::array<State, kImageSize> state_{};
    std::vector<Refusal> refusals_;
};

}  // namespace korvane::ecu
