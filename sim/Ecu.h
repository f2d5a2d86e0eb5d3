// The simulated ECU's services: a request's service bytes in, the answer's
// data out, from the 64 KiB memory and the engine's diagnostic frame.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace korvane::sim {

constexpr int kDefaultBaud = 10400;
constexpr int kMaxReadLength = 0x60;

struct EcuAnswer {
    std::vector<uint8_t> data;  // empty: no answer at all
    int speedAfter = 0;         // line speed from the next request on; 0 = unchanged
    bool wrote = false;
    uint16_t writeAddress = 0;
    size_t writeLength = 0;
};

// Line speed of a StartDiagnosticSession speed byte, 0 for an unknown one.
int SpeedOfByte(uint8_t speedByte);

EcuAnswer AnswerRequest(const std::vector<uint8_t>& request, std::vector<uint8_t>& memory,
                        const std::function<std::array<uint8_t, 51>()>& diagnosticFrame);

}  // namespace korvane::sim
