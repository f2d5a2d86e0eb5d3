#pragma once
// Writes into the ECU's RAM that the ECU did not confirm even after their
// repeats. They are kept, with the newest bytes the program meant for each
// address, and written again at the next good exchange, so nothing learned
// is lost to a noisy line. A later write over the same bytes takes their
// place: an old value never overwrites a newer one.
#include <cstdint>
#include <vector>

#include "ecu/Frame.h"

namespace korvane::ecu {

class PendingWrites {
  public:
    struct Block {
        uint16_t address = 0;
        Bytes bytes;
        bool operator==(const Block&) const = default;
    };

    // One write went out; `confirmed` when the ECU said so. Kept blocks it
    // overlaps take its bytes; those it covers whole are done once it is
    // confirmed; an unconfirmed write is kept itself.
    void Wrote(uint16_t address, const Bytes& bytes, bool confirmed);
    bool Empty() const { return blocks_.empty(); }
    // In the order they were first kept.
    const std::vector<Block>& Blocks() const { return blocks_; }
    void Clear() { blocks_.clear(); }

  private:
    std::vector<Block> blocks_;
};

}  // namespace korvane::ecu
