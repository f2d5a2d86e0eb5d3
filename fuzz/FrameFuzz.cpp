// The K-line codec on arbitrary bytes: a parsed frame lies within the bytes
// given, its checksum holds, and what the encoder builds parses back to the
// same payload.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzCheck.h"
#include "ecu/Frame.h"

using namespace korvane::ecu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copy into a buffer of exactly the input's size, so a read past the end
    // is a read past an allocation.
    const Bytes bytes(data, data + size);
    const std::span<const uint8_t> all(bytes);

    if (const auto frame = ParseFrame(all)) {
        FUZZ_CHECK(frame->size <= bytes.size());
        const size_t header = (bytes[0] & 0x3F) == 0 ? 4 : 3;
        FUZZ_CHECK(frame->size == header + frame->data.size() + 1);
        FUZZ_CHECK(std::equal(frame->data.begin(), frame->data.end(), bytes.begin() + header));
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < frame->size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
        FUZZ_CHECK(sum == bytes[frame->size - 1]);
        // Whatever follows the frame is the next one's business: the frame
        // parses the same without it.
        const auto alone = ParseFrame(all.first(frame->size));
        FUZZ_CHECK(alone && alone->data == frame->data);
    }
    // Any strict prefix of a frame is incomplete, never a shorter frame.
    if (size > 0) {
        const auto prefix = ParseFrame(all.first(size - 1));
        if (prefix) FUZZ_CHECK(prefix->size <= size - 1);
    }

    // The input as a request payload: what the encoder makes of it parses
    // back to the same bytes, or it refuses what no frame can carry.
    const Bytes built = BuildFrame(all);
    if (size == 0 || size > kLongFormMax) {
        FUZZ_CHECK(built.empty());
    } else {
        FUZZ_CHECK(built.size() == size + (size <= kShortFormMax ? 4 : 5));
        FUZZ_CHECK(built[1] == kEcuAddress && built[2] == kTesterAddress);
        const auto back = ParseFrame(built);
        FUZZ_CHECK(back && back->size == built.size() && back->data == bytes);
    }

    const std::string hex = HexText(all);
    FUZZ_CHECK(size == 0 ? hex == "null" : hex.size() == 2 + 2 * size);
    return 0;
}
