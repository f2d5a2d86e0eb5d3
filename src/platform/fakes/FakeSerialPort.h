#pragma once
#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace korvane::platform {

// A serial port in memory for unit tests. What the "device" sends is fed in
// with Feed() (there at once) or FeedAt() (there from a time on the given
// clock); every byte the program writes is recorded and handed to onWrite
// (which may feed an echo or an answer). Waits for input run on the clock:
// with a FakeClock they advance it to the next byte due, or by the whole
// time-out when none is due within it, so they are instant and exact.
class FakeSerialPort final : public SerialPort {
  public:
    explicit FakeSerialPort(Clock* clock = nullptr) : clock_(clock) {}

    // Test controls.
    bool failOpen = false;
    bool failClose = false;
    bool failWrite = false;
    std::string openNote;  // what OpenNote() says after an open
    // When not 0, Drain() takes the time the bytes written since the last
    // drain need on a wire at this speed (ten bits a byte).
    int drainBaud = 0;
    std::function<void(uint8_t)> onWrite;

    struct DrainRecord {
        int64_t atMs;        // clock time when the drain began
        size_t bytesBefore;  // bytes written until then
    };

    void Feed(const std::vector<uint8_t>& bytes) { FeedAt(INT64_MIN, bytes); }
    // Bytes keep the order they were fed in, as on a line: a byte is never
    // there before one fed earlier.
    void FeedAt(int64_t atMs, const std::vector<uint8_t>& bytes) {
        std::lock_guard lock(mutex_);
        const int64_t due = rx_.empty() ? atMs : std::max(atMs, rx_.back().due);
        for (uint8_t b : bytes) rx_.push_back(RxByte{b, due});
    }
    std::vector<uint8_t> Written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    void ClearWritten() {
        std::lock_guard lock(mutex_);
        written_.clear();
        drained_ = 0;
        drains_.clear();
    }
    int Speed() const {
        std::lock_guard lock(mutex_);
        return speed_;
    }
    std::string OpenedName() const {
        std::lock_guard lock(mutex_);
        return name_;
    }
    // Bytes fed and not read yet, due or not.
    size_t Pending() const {
        std::lock_guard lock(mutex_);
        return rx_.size();
    }
    std::vector<DrainRecord> Drains() const {
        std::lock_guard lock(mutex_);
        return drains_;
    }
    // The size of every read that delivered bytes, in order.
    std::vector<int> ReadSizes() const {
        std::lock_guard lock(mutex_);
        return readSizes_;
    }

    bool Open(const std::string& portName) override {
        std::lock_guard lock(mutex_);
        if (failOpen || open_) return false;
        open_ = true;
        name_ = portName;
        return true;
    }
    bool IsOpen() const override {
        std::lock_guard lock(mutex_);
        return open_;
    }
    bool SetSpeed(int baud) override {
        std::lock_guard lock(mutex_);
        if (!open_ || baud <= 0) return false;
        speed_ = baud;
        return true;
    }
    bool WriteByte(uint8_t byte) override {
        {
            std::lock_guard lock(mutex_);
            if (!open_ || failWrite) return false;
            written_.push_back(byte);
        }
        if (onWrite) onWrite(byte);
        return true;
    }
    bool Drain() override {
        int64_t wireMs = 0;
        {
            std::lock_guard lock(mutex_);
            if (!open_) return false;
            drains_.push_back({Now(), written_.size()});
            if (drainBaud > 0)
                wireMs =
                    (static_cast<int64_t>(written_.size() - drained_) * 10000 + drainBaud - 1) /
                    drainBaud;
            drained_ = written_.size();
        }
        if (clock_ != nullptr && wireMs > 0) clock_->SleepMs(wireMs);
        return true;
    }
    int BytesWaiting() override {
        std::lock_guard lock(mutex_);
        return open_ ? static_cast<int>(Due()) : -1;
    }
    int ReadNow(uint8_t* buf, int max) override {
        std::lock_guard lock(mutex_);
        if (!open_) return -1;
        int n = 0;
        const int64_t now = Now();
        while (n < max && !rx_.empty() && rx_.front().due <= now) {
            buf[n++] = rx_.front().byte;
            rx_.pop_front();
        }
        if (n > 0) readSizes_.push_back(n);
        return n;
    }
    int ReadByte(uint8_t& byte, int timeoutMs) override {
        const int r = WaitForInput(timeoutMs, nullptr);
        if (r <= 0) return r;
        std::lock_guard lock(mutex_);
        byte = rx_.front().byte;
        rx_.pop_front();
        return 1;
    }
    int WaitForInput(int timeoutMs, const StopSignal* stop) override {
        int64_t advance = 0;
        bool comes = false;
        {
            std::lock_guard lock(mutex_);
            if (!open_) return -1;
            if (stop != nullptr && stop->Raised()) return 0;
            if (Due() > 0) return 1;
            advance = timeoutMs;
            if (!rx_.empty() && rx_.front().due - Now() <= timeoutMs) {
                advance = rx_.front().due - Now();
                comes = true;
            }
        }
        if (clock_ != nullptr) clock_->SleepMs(advance);
        return comes ? 1 : 0;
    }
    bool Close() override {
        std::lock_guard lock(mutex_);
        if (failClose) return false;
        open_ = false;
        return true;
    }
    std::string LastError() const override { return failOpen ? "отказ (тест)" : ""; }
    std::string OpenNote() const override { return openNote; }

  private:
    struct RxByte {
        uint8_t byte;
        int64_t due;
    };
    int64_t Now() const { return clock_ != nullptr ? clock_->NowMs() : INT64_MAX; }
    size_t Due() const {
        const int64_t now = Now();
        size_t n = 0;
        for (const auto& p : rx_) {
            if (p.due > now) break;
            ++n;
        }
        return n;
    }

    Clock* clock_;
    mutable std::mutex mutex_;
    bool open_ = false;
    int speed_ = 0;
    std::string name_;
    std::deque<RxByte> rx_;
    std::vector<uint8_t> written_;
    size_t drained_ = 0;
    std::vector<DrainRecord> drains_;
    std::vector<int> readSizes_;
};

}  // namespace korvane::platform
