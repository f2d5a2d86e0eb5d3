#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvane::ecu {

using Bytes = std::vector<uint8_t>;

// "0x" and two upper-case hex digits per byte, "null" for nothing; the form
// of every protocol log line.
std::string HexText(std::span<const uint8_t> bytes);

// Target and source addresses of the frames we send: ECU 0x10, tester 0xF1.
inline constexpr uint8_t kEcuAddress = 0x10;
inline constexpr uint8_t kTesterAddress = 0xF1;
// The short form carries the length in the format byte; we use it only up
// to 16 payload bytes and the long form (separate length byte) above that.
inline constexpr size_t kShortFormMax = 16;
inline constexpr size_t kLongFormMax = 255;

// The frame for a request payload, checksum last. Empty for an empty
// payload or one longer than a length byte can say.
Bytes BuildFrame(std::span<const uint8_t> payload);

struct ParsedFrame {
    Bytes data;       // the payload between header and checksum
    size_t size = 0;  // header + data + checksum
};

// The whole length (header, data, checksum) that the header of the frame
// starting at bytes[0] declares; 0 while too few bytes are there to tell.
size_t DeclaredFrameSize(std::span<const uint8_t> bytes);

// The frame that starts at bytes[0]. The addresses are not examined. Nothing
// when the bytes end before the declared length or the checksum is wrong.
std::optional<ParsedFrame> ParseFrame(std::span<const uint8_t> bytes);

// The answer to one request, looked for in the bytes read back. The echo is
// the sent frame itself; bytes before it came before the request went out
// (a late answer, noise) and are passed over. After the echo the first
// frame for the request's service (its id + 0x40, or 7F and the id) is the
// answer. A frame for another service (an answer to an earlier request that
// came late) is passed over, but when nothing else comes it still stands as
// the answer, so the log shows what the ECU sent.
struct AnswerScan {
    bool echo = false;      // the sent frame came back
    bool complete = false;  // nothing more to wait for: the answer (or a broken frame) is in
    Bytes answer;           // empty when no sound frame followed the echo
};
AnswerScan ScanAnswer(std::span<const uint8_t> received, std::span<const uint8_t> sentFrame,
                      uint8_t serviceId);
// Whether an answer's data belong to a request for this service.
bool AnswersService(std::span<const uint8_t> answer, uint8_t serviceId);

}  // namespace korvane::ecu
