#include "ecu/RamSync.h"

#include <algorithm>
#include <utility>

namespace korvane::ecu {

namespace {

const RamTable* TableAt(size_t address) {
    for (const RamTable& t : kRamTables)
        if (address >= t.address && address < t.address + kRamTableBytes) return &t;
    return nullptr;
}

}  // namespace

std::string FollowText(size_t owedBytes, const std::vector<Refusal>& refusals) {
    if (!refusals.empty()) {
        const Refusal& r = refusals.back();
        return "ECU отказал: " + HexText(Bytes{static_cast<uint8_t>(r.address >> 8),
                                               static_cast<uint8_t>(r.address)});
    }
    if (owedBytes > 0) return "Ждут записи: " + std::to_string(owedBytes);
    return "ECU = образ";
}

void RamSync::Adopt(std::span<const uint8_t> ecu) {
    const size_t n = std::min(ecu.size(), kImageSize);
    for (size_t a = 0; a < n; ++a) {
        if (state_[a] == State::Unknown || state_[a] == State::Refused) continue;
        target_[a] = ecu[a];
        state_[a] = State::Confirmed;
    }
}

void RamSync::Forget() {
    active_ = false;
    state_.fill(State::Unknown);
    refusals_.clear();
}

void RamSync::Begin(const std::vector<RamRange>& kept) {
    Forget();
    active_ = true;
    for (const RamRange& r : kept) {
        const size_t n = std::min(r.bytes.size(), kImageSize - r.address);
        for (size_t i = 0; i < n; ++i) {
            target_[r.address + i] = r.bytes[i];
            state_[r.address + i] = State::Owed;
        }
    }
}

void RamSync::Owe(size_t address) {
    if (state_[address] != State::Refused) state_[address] = State::Owed;
}

void RamSync::Want(uint16_t address, std::span<const uint8_t> bytes) {
    if (!active_) return;
    const size_t n = std::min(bytes.size(), kImageSize - address);
    for (size_t i = 0; i < n; ++i) {
        const size_t a = address + i;
        if (state_[a] == State::Confirmed && target_[a] == bytes[i]) continue;
        target_[a] = bytes[i];
        Owe(a);
    }
}

void RamSync::ReadBack(uint16_t address, std::span<const uint8_t> ecu) {
    const size_t n = std::min(ecu.size(), kImageSize - address);
    for (size_t i = 0; i < n; ++i) {
        const size_t a = address + i;
        if (state_[a] == State::Unknown || state_[a] == State::Refused) continue;
        state_[a] = target_[a] == ecu[i] ? State::Confirmed : State::Owed;
    }
}

std::vector<std::pair<uint16_t, uint16_t>> RamSync::ReadBackRanges(size_t most) const {
    std::vector<std::pair<uint16_t, uint16_t>> out;
    if (most == 0) return out;
    for (size_t a = 0; a < kImageSize;) {
        if (state_[a] == State::Unknown) {
            ++a;
            continue;
        }
        size_t end = a;
        while (end < kImageSize && end - a < most && state_[end] != State::Unknown) ++end;
        out.emplace_back(static_cast<uint16_t>(a), static_cast<uint16_t>(end - a));
        a = end;
    }
    return out;
}

size_t RamSync::OwedBytes() const {
    return static_cast<size_t>(std::count(state_.begin(), state_.end(), State::Owed));
}

void RamSync::Confirmed(const SyncBlock& block) {
    const size_t n = std::min(block.bytes.size(), kImageSize - block.address);
    for (size_t i = 0; i < n; ++i) {
        const size_t a = block.address + i;
        if (state_[a] == State::Owed && target_[a] == block.bytes[i]) state_[a] = State::Confirmed;
    }
}

void RamSync::Refused(const SyncBlock& block, uint8_t code) {
    const size_t n = std::min(block.bytes.size(), kImageSize - block.address);
    for (size_t i = 0; i < n; ++i)
        if (state_[block.address + i] != State::Unknown) state_[block.address + i] = State::Refused;
    refusals_.push_back({block.address, static_cast<uint16_t>(n), code});
}

namespace {

// Runs of owed bytes in [from, to), each at most `most` long.
template <class States>
std::vector<std::pair<size_t, size_t>> OwedRuns(const States& state, size_t from, size_t to,
                                                size_t most) {
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t a = from; a < to;) {
        if (state[a] != RamSync::State::Owed) {
            ++a;
            continue;
        }
        size_t end = a;
        while (end < to && end - a < most && state[end] == RamSync::State::Owed) ++end;
        runs.emplace_back(a, end - a);
        a = end;
    }
    return runs;
}

}  // namespace

void RamSync::TableWrites(const RamTable& table, std::vector<SyncWrite>& out) const {
    auto bytesAt = [&](size_t a, size_t n) {
        return Bytes(target_.begin() + static_cast<std::ptrdiff_t>(a),
                     target_.begin() + static_cast<std::ptrdiff_t>(a + n));
    };
    SyncWrite whole{table.kind, {}};
    for (size_t b = 0; b < kRamTableBytes / kRamBlock; ++b) {
        const size_t from = table.address + b * kRamBlock, to = from + kRamBlock;
        size_t owed = 0, other = 0;
        for (size_t a = from; a < to; ++a) {
            owed += state_[a] == State::Owed;
            other += state_[a] == State::Unknown || state_[a] == State::Refused;
        }
        if (owed == 0) continue;
        const bool correction = table.kind == CommandKind::remakepopr;
        if (other == 0 && !(correction && owed == 1)) {
            // The whole block, as the table has always been written.
            whole.blocks.push_back({static_cast<uint16_t>(from), bytesAt(from, kRamBlock)});
            continue;
        }
        // A single learned cell, or a block that holds bytes the ECU must
        // not get (never known, or refused): only the owed runs.
        for (auto [a, n] : OwedRuns(state_, from, to, kRamBlock)) {
            if (correction && n == 1)
                out.push_back({CommandKind::remake, {{static_cast<uint16_t>(a), bytesAt(a, 1)}}});
            else
                whole.blocks.push_back({static_cast<uint16_t>(a), bytesAt(a, n)});
        }
    }
    if (!whole.blocks.empty()) out.push_back(std::move(whole));
}

std::vector<SyncWrite> RamSync::Plan() const {
    std::vector<SyncWrite> out;
    if (!active_) return out;
    for (const RamTable& t : kRamTables) TableWrites(t, out);
    auto bytesAt = [&](size_t a, size_t n) {
        return Bytes(target_.begin() + static_cast<std::ptrdiff_t>(a),
                     target_.begin() + static_cast<std::ptrdiff_t>(a + n));
    };
    // Everything else (the map editor's values and curves) by address,
    // runs of owed bytes that stop at a table's edge.
    SyncWrite curve{CommandKind::correct23DF, {}};
    auto flushCurve = [&] {
        if (!curve.blocks.empty())
            out.push_back(std::exchange(curve, {CommandKind::correct23DF, {}}));
    };
    for (size_t a = 0; a < kImageSize;) {
        if (state_[a] != State::Owed || TableAt(a)) {
            ++a;
            continue;
        }
        size_t end = a;
        while (end < kImageSize && state_[end] == State::Owed && !TableAt(end)) ++end;
        const size_t n = end - a;
        if (n <= kMaxValueBytes) {
            flushCurve();
            out.push_back({CommandKind::correct1DF, {{static_cast<uint16_t>(a), bytesAt(a, n)}}});
        } else {
            for (size_t at = a; at < end; at += kRamBlock) {
                const size_t k = std::min(kRamBlock, end - at);
                curve.blocks.push_back({static_cast<uint16_t>(at), bytesAt(at, k)});
                if (curve.blocks.size() == kMaxCurveBlocks) flushCurve();
            }
            flushCurve();
        }
        a = end;
    }
    flushCurve();
    return out;
}

}  // namespace korvane::ecu
