#include "ecu/PendingWrites.h"

#include <algorithm>

namespace korvane::ecu {

void PendingWrites::Wrote(uint16_t address, const Bytes& bytes, bool confirmed) {
    if (bytes.empty()) return;
    const uint32_t from = address;
    const uint32_t to = from + static_cast<uint32_t>(bytes.size());
    bool kept = false;
    for (auto it = blocks_.begin(); it != blocks_.end();) {
        const uint32_t kFrom = it->address;
        const uint32_t kTo = kFrom + static_cast<uint32_t>(it->bytes.size());
        const uint32_t lo = std::max(from, kFrom), hi = std::min(to, kTo);
        if (lo >= hi) {
            ++it;
            continue;
        }
        // Covered whole: done when confirmed, else the new block holds its
        // bytes (the same block again keeps its place in the order).
        const bool same = kFrom == from && kTo == to;
        if (from <= kFrom && kTo <= to && (confirmed || !same)) {
            it = blocks_.erase(it);
            continue;
        }
        for (uint32_t a = lo; a < hi; ++a) it->bytes[a - kFrom] = bytes[a - from];
        kept = kept || same;
        ++it;
    }
    if (!confirmed && !kept) blocks_.push_back({address, bytes});
}

}  // namespace korvane::ecu
