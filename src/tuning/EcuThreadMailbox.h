#pragma once
#include "ecu/ECUThread.h"
#include "tuning/TuningSeams.h"

namespace korvane::tuning {

// The learning step's hand-over to the real ECU worker: the cell's byte and
// address go into the worker's fields, then "remake" into its mailbox.
class EcuThreadMailbox : public EcuMailbox {
  public:
    explicit EcuThreadMailbox(ecu::TECUThread& worker) : worker_(worker) {}
    bool LinkUp() const override {
        return worker_.IsComConnected == 1 && worker_.IsECUConnected == 1;
    }
    bool Empty() const override { return worker_.Command.Empty(); }
    void PostRemake(std::array<uint8_t, 2> adressdata, uint8_t value) override;

  private:
    ecu::TECUThread& worker_;
};

}  // namespace korvane::tuning
