#pragma once
#include "ecu/ECUThread.h"
#include "tuning/WriteBack.h"

namespace korvane::tuning {

// The write-back's hand-over to the real ECU worker: the word, the address
// and the bytes as one typed command.
class WorkerEcu final : public EcuWriter {
  public:
    explicit WorkerEcu(ecu::EcuCommands& worker) : worker_(worker) {}
    bool LinkUp() const override { return worker_.Status().LinkUp(); }
    std::string Pending() const override { return worker_.Pending(); }
    bool PostIfEmpty(const std::string& word, uint16_t address, std::span<const uint8_t> bytes,
                     std::optional<uint8_t> lengthByte = std::nullopt) override;

  private:
    ecu::EcuCommands& worker_;
};

}  // namespace korvane::tuning
