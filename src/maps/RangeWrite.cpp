#include "maps/RangeWrite.h"

#include <algorithm>

#include "ecu/ECUThread.h"
#include "maps/TableCodec.h"

namespace korvane::maps {

HandOverResult HandOverRange(ecu::EcuCommands& worker, uint16_t address, size_t length,
                             ConstImageBytes image) {
    if (length == 0) return {HandOver::Done, {}};
    if (address + length > kImageSize)
        return {HandOver::Refused, "Диапазон " + std::to_string(length) + " байт по адресу " +
                                       std::to_string(address) + " выходит за конец памяти."};
    if (!worker.Status().LinkUp()) return {HandOver::NotConnected, {}};
    constexpr size_t kMaxBytes = size_t{kMaxCurveBlocks} * kCurveBlock;
    size_t at = address;
    const size_t end = address + length;
    while (at < end) {
        const size_t want = std::min(end - at, kMaxBytes);
        const size_t bytes = (want + kCurveBlock - 1) / kCurveBlock * kCurveBlock;
        const size_t start = std::min(at, kImageSize - bytes);
        ecu::Bytes data(image.begin() + static_cast<std::ptrdiff_t>(start),
                        image.begin() + static_cast<std::ptrdiff_t>(start + bytes));
        // Writes are queued in order and never dropped.
        if (worker.Post(
                ecu::EcuCommand::WriteCurve(static_cast<uint16_t>(start), std::move(data))) == 0)
            return {HandOver::Busy, {}};
        at += want;
    }
    return {HandOver::Done, {}};
}

}  // namespace korvane::maps
