#pragma once
#include "ecu/ECUThread.h"
#include "tuning/TuningSeams.h"

namespace korvane::tuning {

// The learning step's hand-over to the real ECU worker: "remake" with the
// cell's address and byte, queued behind whatever the worker still has.
class EcuThreadMailbox : public EcuMailbox {
  public:
    explicit EcuThreadMailbox(ecu::EcuCommands& worker) : worker_(worker) {}
    bool LinkUp() const override { return worker_.Status().LinkUp(); }
    CellWrite PostRemake(std::array<uint8_t, 2> adressdata, uint8_t value) override {
        const uint16_t address = static_cast<uint16_t>(adressdata[0] << 8 | adressdata[1]);
        return worker_.Post(ecu::EcuCommand::WriteCell(address, value)) != 0 ? CellWrite::Queued
                                                                             : CellWrite::Dropped;
    }

  private:
    ecu::EcuCommands& worker_;
};

}  // namespace korvane::tuning
