// ISO 14230-2 framing as the simulated ECU sees it: its own small decoder and
// encoder, kept apart from the program's codec on purpose.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane::sim::kline {

constexpr uint8_t kEcuAddress = 0x10;
constexpr uint8_t kTesterAddress = 0xF1;

uint8_t Checksum(const uint8_t* bytes, size_t count);

// Length of the whole frame (header, data, checksum) that starts at bytes[0],
// or 0 while too few bytes are there to tell.
size_t FrameLength(const uint8_t* bytes, size_t count);

struct Frame {
    bool hasAddresses = false;  // format byte with address information
    bool physical = false;      // format byte's top bits 10
    uint8_t target = 0;
    uint8_t source = 0;
    std::vector<uint8_t> data;
    bool checksumOk = false;
};

// Decodes one complete frame of FrameLength() bytes.
Frame Decode(const uint8_t* bytes, size_t count);

// True when the frame is a request this ECU takes: sound checksum and, when
// it carries addresses, physically addressed from the tester to the ECU.
bool IsRequestForEcu(const Frame& frame);

// An answer from the ECU to the tester: the short form (0x80 + n) up to 16
// data bytes, the long form (0x80, length byte) above that.
std::vector<uint8_t> EncodeAnswer(const std::vector<uint8_t>& data);

}  // namespace korvane::sim::kline
