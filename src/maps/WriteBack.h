#pragma once
// Handing edited table bytes to the ECU worker: a single value as one
// "correct1DF" command, a curve as whole 64-byte blocks of the image in one
// "correct23DF" command.
#include <optional>
#include <string>

#include "maps/MapNumbers.h"

namespace korvane::ecu {
class EcuCommands;
}

namespace korvane::maps {

enum class HandOver {
    Done,          // the command is posted
    Busy,          // the worker has a command of its own; nothing posted
    NotConnected,  // no port or no ECU session; nothing posted
    Refused,       // the request itself is bad; nothing posted (see error)
};

struct HandOverResult {
    HandOver state = HandOver::NotConnected;
    std::string error;
};

// The hand-over of `correct1D`: `adrf`/`adrs` the address bytes as two
// upper-case hex digits each, `len` the byte count as hex text (1 to 4),
// `data` the value as decimal text; bytes go low byte first.
HandOverResult HandOverValue(ecu::EcuCommands& worker, const std::string& adrf,
                             const std::string& adrs, const std::string& len,
                             const std::string& data);

// A curve waiting for the worker: address bytes as hex digits, the point
// count as decimal text and the bytes as text for the log.
struct PendingCurveWrite {
    std::string adrf, adrs, len, data;
};

// 64-byte blocks a curve write of `len` points takes; nullopt when `len` is
// no whole number of at least 1.
std::optional<int> CurveBlocks(const std::string& len);

// "Меняю..." line of a curve hand-over.
std::string CurveLogLine(const PendingCurveWrite& pending);

// The hand-over of `TimerRWTimer`: the image bytes from the curve's address
// up to the end of its last 64-byte block. Refused when that passes the end
// of the image or takes more than 15 blocks.
HandOverResult HandOverCurve(ecu::EcuCommands& worker, const PendingCurveWrite& pending,
                             ConstImageBytes image);

}  // namespace korvane::maps
