#pragma once
#include "ecu/ECUThread.h"
#include "tuning/WriteBack.h"

namespace korvane::tuning {

// The write-back's hand-over to the real ECU worker: the address, the byte
// cells and the length byte go into the worker's fields, the word last.
class WorkerEcu final : public EcuWriter {
  public:
    explicit WorkerEcu(ecu::TECUThread& worker) : worker_(worker) {}
    bool LinkUp() const override {
        return worker_.IsComConnected == 1 && worker_.IsECUConnected == 1;
    }
    std::string Pending() const override { return worker_.Command.Word(); }
    bool PostIfEmpty(const std::string& word, uint16_t address, std::span<const uint8_t> bytes,
                     std::optional<uint8_t> lengthByte = std::nullopt) override;

  private:
    ecu::TECUThread& worker_;
};

}  // namespace korvane::tuning
