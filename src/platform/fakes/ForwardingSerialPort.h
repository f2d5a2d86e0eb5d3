#pragma once
#include <memory>

#include "platform/SerialPort.h"

namespace korvane::platform {

// Hands every call to a port the test owns, so code that creates its ports
// through a factory (and owns what it gets) can still be given a fake the
// test keeps looking at.
class ForwardingSerialPort final : public SerialPort {
  public:
    explicit ForwardingSerialPort(SerialPort& target) : target_(target) {}
    bool Open(const std::string& portName) override { return target_.Open(portName); }
    bool IsOpen() const override { return target_.IsOpen(); }
    bool SetSpeed(int baud) override { return target_.SetSpeed(baud); }
    bool WriteByte(uint8_t byte) override { return target_.WriteByte(byte); }
    bool Drain() override { return target_.Drain(); }
    int BytesWaiting() override { return target_.BytesWaiting(); }
    int ReadNow(uint8_t* buf, int max) override { return target_.ReadNow(buf, max); }
    int ReadByte(uint8_t& byte, int timeoutMs) override {
        return target_.ReadByte(byte, timeoutMs);
    }
    int WaitForInput(int timeoutMs, const StopSignal* stop) override {
        return target_.WaitForInput(timeoutMs, stop);
    }
    bool Close() override { return target_.Close(); }
    std::string LastError() const override { return target_.LastError(); }
    std::string OpenNote() const override { return target_.OpenNote(); }

  private:
    SerialPort& target_;
};

}  // namespace korvane::platform
