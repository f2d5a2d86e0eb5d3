#pragma once
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace korvane::platform {

// A serial port in memory for unit tests. What the "device" sends is fed in
// with Feed(); every byte the program writes is recorded and handed to
// onWrite (which may Feed an echo or an answer). ReadByte on an empty queue
// waits on the given clock (a FakeClock makes that instant).
class FakeSerialPort final : public SerialPort {
public:
    explicit FakeSerialPort(Clock* clock = nullptr) : clock_(clock) {}

    // Test controls.
    bool failOpen = false;
    bool failClose = false;
    bool failWrite = false;
    std::function<void(uint8_t)> onWrite;

    void Feed(const std::vector<uint8_t>& bytes) {
        std::lock_guard lock(mutex_);
        rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    }
    std::vector<uint8_t> Written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    void ClearWritten() {
        std::lock_guard lock(mutex_);
        written_.clear();
    }
    int Speed() const {
        std::lock_guard lock(mutex_);
        return speed_;
    }
    std::string OpenedName() const {
        std::lock_guard lock(mutex_);
        return name_;
    }
    size_t Pending() const {
        std::lock_guard lock(mutex_);
        return rx_.size();
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
    int BytesWaiting() override {
        std::lock_guard lock(mutex_);
        return open_ ? static_cast<int>(rx_.size()) : -1;
    }
    int ReadNow(uint8_t* buf, int max) override {
        std::lock_guard lock(mutex_);
        if (!open_) return -1;
        int n = 0;
        while (n < max && !rx_.empty()) {
            buf[n++] = rx_.front();
            rx_.pop_front();
        }
        return n;
    }
    int ReadByte(uint8_t& byte, int timeoutMs) override {
        {
            std::lock_guard lock(mutex_);
            if (!open_) return -1;
            if (!rx_.empty()) {
                byte = rx_.front();
                rx_.pop_front();
                return 1;
            }
        }
        if (clock_ != nullptr) clock_->SleepMs(timeoutMs);
        return 0;
    }
    bool Close() override {
        std::lock_guard lock(mutex_);
        if (failClose) return false;
        open_ = false;
        return true;
    }
    std::string LastError() const override { return failOpen ? "отказ (тест)" : ""; }

private:
    Clock* clock_;
    mutable std::mutex mutex_;
    bool open_ = false;
    int speed_ = 0;
    std::string name_;
    std::deque<uint8_t> rx_;
    std::vector<uint8_t> written_;
};

}  // namespace korvane::platform
