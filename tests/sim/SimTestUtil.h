// Helpers for driving the simulator through its pseudo-terminals the way the
// program does: a real serial port object, hand-written frames.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "sim/Simulator.h"

namespace korvane::sim::test {

using Bytes = std::vector<uint8_t>;

// "83 F1 10 C1" → bytes.
inline Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    return out;
}

inline std::string ToHex(const Bytes& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) s += ' ';
        s += buf;
    }
    return s;
}

inline Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

inline void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// One side of a simulated line, opened as the program opens its ports.
class Line {
  public:
    explicit Line(const std::string& path, int baud) : port_(platform::MakePosixSerialPort()) {
        EXPECT_TRUE(port_->Open(path)) << port_->LastError();
        EXPECT_TRUE(port_->SetSpeed(baud)) << port_->LastError();
    }
    platform::SerialPort& Port() { return *port_; }
    bool SetSpeed(int baud) { return port_->SetSpeed(baud); }

    void Send(const Bytes& bytes) {
        for (uint8_t b : bytes) ASSERT_TRUE(port_->WriteByte(b));
    }
    // Everything that arrives within ms.
    Bytes ReadFor(int ms) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            uint8_t b = 0;
            if (port_->ReadByte(b, static_cast<int>(left)) == 1) out.push_back(b);
        }
        return out;
    }
    // Reads until count bytes have come or ms have passed.
    Bytes ReadCount(size_t count, int ms) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            uint8_t b = 0;
            if (port_->ReadByte(b, static_cast<int>(left)) == 1) out.push_back(b);
        }
        return out;
    }
    void Drain() {
        uint8_t buf[256];
        while (port_->ReadNow(buf, sizeof buf) > 0) {
        }
    }
    // Sends a frame and returns what came back within ms (echo and answer).
    // On a busy machine the simulator may answer later: then it waits, up
    // to two seconds, for the first byte and for the last frame to be whole.
    Bytes Exchange(const Bytes& request, int ms = 60) {
        Drain();
        Send(request);
        Bytes out = ReadFor(ms);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (out.empty() || !WholeFrames(out)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  limit - std::chrono::steady_clock::now())
                                  .count();
            uint8_t b = 0;
            if (left <= 0 || port_->ReadByte(b, static_cast<int>(left)) != 1) break;
            out.push_back(b);
        }
        return out;
    }

    // Sends a frame and waits, up to two seconds, for as many bytes as the
    // caller expects (a busy machine may answer well after the echo), then
    // settleMs longer, so bytes that should not come are seen as well.
    Bytes ExchangeExpecting(const Bytes& request, size_t expectedBytes, int settleMs = 100) {
        Drain();
        Send(request);
        Bytes out = ReadCount(expectedBytes, 2000);
        const Bytes more = ReadFor(settleMs);
        out.insert(out.end(), more.begin(), more.end());
        return out;
    }

    // True when the bytes are a run of complete K-line frames (format byte,
    // addresses when the format says so, length byte when the format holds
    // none, data, checksum).
    static bool WholeFrames(const Bytes& b) {
        size_t i = 0;
        while (i < b.size()) {
            size_t header = (b[i] & 0xC0) ? 3 : 1;
            size_t n = b[i] & 0x3F;
            if (n == 0) {
                if (i + header >= b.size()) return false;
                n = b[i + header];
                ++header;
            }
            i += header + n + 1;
        }
        return i == b.size();
    }

  private:
    std::unique_ptr<platform::SerialPort> port_;
};

}  // namespace korvane::sim::test
