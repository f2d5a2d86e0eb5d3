#include "sim/KLine.h"

namespace korvane::sim::kline {

uint8_t Checksum(const uint8_t* bytes, size_t count) {
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

namespace {
// Header size before the length byte: the format byte plus, when the format
// says so, target and source.
size_t AddressBytes(uint8_t format) {
    return (format & 0xC0) != 0 ? 2 : 0;
}
}  // namespace

size_t FrameLength(const uint8_t* bytes, size_t count) {
    if (count == 0) return 0;
    const uint8_t format = bytes[0];
    size_t header = 1 + AddressBytes(format);
    size_t n = format & 0x3F;
    if (n == 0) {
        if (count < header + 1) return 0;
        n = bytes[header];
        header += 1;
    }
    return header + n + 1;
}

Frame Decode(const uint8_t* bytes, size_t count) {
    Frame f;
    const size_t total = FrameLength(bytes, count);
    if (total == 0 || total > count) return f;
    const uint8_t format = bytes[0];
    f.hasAddresses = AddressBytes(format) != 0;
    f.physical = (format & 0xC0) == 0x80;
    size_t header = 1;
    if (f.hasAddresses) {
        f.target = bytes[1];
        f.source = bytes[2];
        header = 3;
    }
    if ((format & 0x3F) == 0) header += 1;
    f.data.assign(bytes + header, bytes + total - 1);
    f.checksumOk = Checksum(bytes, total - 1) == bytes[total - 1];
    return f;
}

bool IsRequestForEcu(const Frame& frame) {
    if (!frame.checksumOk || frame.data.empty()) return false;
    if (!frame.hasAddresses) return true;
    return frame.physical && frame.target == kEcuAddress && frame.source == kTesterAddress;
}

std::vector<uint8_t> EncodeAnswer(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    out.reserve(data.size() + 5);
    if (data.size() <= 16) {
        out.push_back(static_cast<uint8_t>(0x80 + data.size()));
        out.push_back(kTesterAddress);
        out.push_back(kEcuAddress);
    } else {
        out.push_back(0x80);
        out.push_back(kTesterAddress);
        out.push_back(kEcuAddress);
        out.push_back(static_cast<uint8_t>(data.size()));
    }
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(Checksum(out.data(), out.size()));
    return out;
}

}  // namespace korvane::sim::kline
