#include "tuning/WorkerEcu.h"

namespace korvane::tuning {

bool WorkerEcu::PostIfEmpty(const std::string& word, uint16_t address,
                            std::span<const uint8_t> bytes, std::optional<uint8_t> lengthByte) {
    // Only the window posts, so a mailbox seen empty here stays empty until
    // the post below: the worker reads none of these fields meanwhile.
    if (!worker_.Command.Empty() || bytes.size() > worker_.data.size()) return false;
    worker_.adressdata = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF)};
    for (size_t i = 0; i < bytes.size(); ++i) worker_.data[i] = bytes[i];
    worker_.numdata = static_cast<int32_t>(bytes.size());
    if (lengthByte) worker_.numdatastr = *lengthByte;
    return worker_.Command.PostIfEmpty(word);
}

}  // namespace korvane::tuning
