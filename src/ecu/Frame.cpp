#include "ecu/Frame.h"

#include <algorithm>

namespace korvane::ecu {

std::string HexText(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return "null";
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    text.reserve(2 + 2 * bytes.size());
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

Bytes BuildFrame(std::span<const uint8_t> payload) {
    const size_t n = payload.size();
    if (n == 0 || n > kLongFormMax) return {};
    Bytes frame;
    frame.reserve(n + 5);
    if (n <= kShortFormMax) {
        frame = {static_cast<uint8_t>(0x80 + n), kEcuAddress, kTesterAddress};
    } else {
        frame = {0x80, kEcuAddress, kTesterAddress, static_cast<uint8_t>(n)};
    }
    frame.insert(frame.end(), payload.begin(), payload.end());
    uint8_t sum = 0;
    for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
    frame.push_back(sum);
    return frame;
}

size_t DeclaredFrameSize(std::span<const uint8_t> bytes) {
    if (bytes.size() < 3) return 0;
    const size_t n = bytes[0] & 0x3F;
    if (n != 0) return 3 + n + 1;
    if (bytes.size() < 4) return 0;
    return 4 + size_t{bytes[3]} + 1;
}

std::optional<ParsedFrame> ParseFrame(std::span<const uint8_t> bytes) {
    const size_t size = DeclaredFrameSize(bytes);
    if (size == 0 || bytes.size() < size) return std::nullopt;
    const size_t header = (bytes[0] & 0x3F) != 0 ? 3 : 4;
    const size_t n = size - header - 1;
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    if (sum != bytes[size - 1]) return std::nullopt;
    ParsedFrame frame;
    frame.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(header),
                      bytes.begin() + static_cast<std::ptrdiff_t>(header + n));
    frame.size = size;
    return frame;
}

bool AnswersService(std::span<const uint8_t> answer, uint8_t serviceId) {
    if (answer.empty()) return false;
    if (answer[0] == static_cast<uint8_t>(serviceId + 0x40)) return true;
    return answer[0] == 0x7F && answer.size() >= 2 && answer[1] == serviceId;
}

AnswerScan ScanAnswer(std::span<const uint8_t> received, std::span<const uint8_t> sentFrame,
                      uint8_t serviceId) {
    AnswerScan scan;
    if (sentFrame.empty()) return scan;
    const auto echoAt =
        std::search(received.begin(), received.end(), sentFrame.begin(), sentFrame.end());
    if (echoAt == received.end()) return scan;
    scan.echo = true;
    auto rest = received.subspan(static_cast<size_t>(echoAt - received.begin()) + sentFrame.size());
    std::optional<Bytes> other;  // the first frame for another service
    for (;;) {
        const size_t size = DeclaredFrameSize(rest);
        if (size == 0 || rest.size() < size) break;  // more may come
        auto frame = ParseFrame(rest);
        if (!frame) {
            // A broken frame: whatever it was, the answer is lost.
            scan.complete = true;
            break;
        }
        if (AnswersService(frame->data, serviceId)) {
            scan.answer = std::move(frame->data);
            scan.complete = true;
            return scan;
        }
        if (!other) other = std::move(frame->data);
        rest = rest.subspan(size);
    }
    if (other) scan.answer = std::move(*other);
    return scan;
}

}  // namespace korvane::ecu
