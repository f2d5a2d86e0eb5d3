#include "sim/Ecu.h"

#include <algorithm>

namespace korvane::sim {

namespace {
// Negative response codes.
constexpr uint8_t kServiceNotSupported = 0x11;
constexpr uint8_t kInvalidFormat = 0x12;
constexpr uint8_t kOutOfRange = 0x31;

EcuAnswer Negative(uint8_t sid, uint8_t code) {
    return {{0x7F, sid, code}};
}
}  // namespace

int SpeedOfByte(uint8_t speedByte) {
    switch (speedByte) {
        case 0x0A:
            return 10400;
        case 0x26:
            return 38400;
        case 0x39:
            return 57600;
        default:
            return 0;
    }
}

EcuAnswer AnswerRequest(const std::vector<uint8_t>& req, std::vector<uint8_t>& memory,
                        const std::function<std::array<uint8_t, 51>()>& diagnosticFrame) {
    if (req.empty()) return {};
    const uint8_t sid = req[0];
    const size_t n = req.size();
    switch (sid) {
        case 0x81:  // StartCommunication
            return {{0xC1, 0x6B, 0x8F}};
        case 0x82: {  // StopCommunication
            EcuAnswer a{{0xC2}};
            a.speedAfter = kDefaultBaud;
            return a;
        }
        case 0x10: {  // StartDiagnosticSession
            if (n != 3 || req[1] != 0x81 || SpeedOfByte(req[2]) == 0)
                return Negative(sid, kInvalidFormat);
            EcuAnswer a{{0x50, 0x81}};
            a.speedAfter = SpeedOfByte(req[2]);
            return a;
        }
        case 0x20: {  // StopDiagnosticSession
            EcuAnswer a{{0x60}};
            a.speedAfter = kDefaultBaud;
            return a;
        }
        case 0x3E:  // TesterPresent; 02 asks for no response
            if (n >= 2 && req[1] == 0x02) return {};
            return {{0x7E}};
        case 0x30:  // InputOutputControlByLocalIdentifier: only the switch to RAM
            if (n == 4 && req[1] == 0x0F && req[2] == 0x06 && req[3] == 0x01)
                return {{0x70, 0x0F, 0x06, 0x01}};
            return Negative(sid, n < 2 ? kInvalidFormat : kOutOfRange);
        case 0x21: {  // ReadDataByLocalIdentifier
            if (n != 2) return Negative(sid, kInvalidFormat);
            if (req[1] != 0x0F) return Negative(sid, kOutOfRange);
            const auto frame = diagnosticFrame();
            EcuAnswer a{{0x61, 0x0F}};
            a.data.insert(a.data.end(), frame.begin(), frame.end());
            return a;
        }
        case 0x23: {  // ReadMemoryByAddress 00 hh ll n
            if (n != 5) return Negative(sid, kInvalidFormat);
            const size_t address = (static_cast<size_t>(req[2]) << 8) | req[3];
            const size_t count = req[4];
            if (req[1] != 0 || count == 0 || count > kMaxReadLength ||
                address + count > memory.size())
                return Negative(sid, kOutOfRange);
            EcuAnswer a{{0x63}};
            a.data.insert(a.data.end(), memory.begin() + static_cast<long>(address),
                          memory.begin() + static_cast<long>(address + count));
            return a;
        }
        case 0x3D: {  // WriteMemoryByAddress 00 hh ll n d1..dn
            if (n < 6 || n != 5 + static_cast<size_t>(req[4])) return Negative(sid, kInvalidFormat);
            const size_t address = (static_cast<size_t>(req[2]) << 8) | req[3];
            const size_t count = req[4];
            if (req[1] != 0 || address + count > memory.size()) return Negative(sid, kOutOfRange);
            std::copy(req.begin() + 5, req.end(), memory.begin() + static_cast<long>(address));
            EcuAnswer a{{0x7D}};
            a.wrote = true;
            a.writeAddress = static_cast<uint16_t>(address);
            a.writeLength = count;
            return a;
        }
        default:
            return Negative(sid, kServiceNotSupported);
    }
}

}  // namespace korvane::sim
