#pragma once
// An ECU worker that only records: the status is set by the test, every
// command posted is kept (the queue's rules apply) and stays pending until
// the test takes it.
#include <vector>

#include "ecu/ECUThread.h"

namespace korvane::test {

class RecordingEcu final : public ecu::EcuCommands {
  public:
    RecordingEcu() { LinkUp(true); }
    void LinkUp(bool up) {
        status.IsComConnected = up ? 1 : 0;
        status.IsECUConnected = up ? 1 : 0;
        status.IsDiagnostic = up ? 1 : 0;
    }
    ecu::EcuStatus Status() const override { return status; }
    uint64_t Post(ecu::EcuCommand command) override { return queue.Post(std::move(command)); }
    std::string Pending() const override { return queue.Pending(); }
    // Everything waiting, in order; the queue is empty afterwards.
    std::vector<ecu::EcuCommand> Take() {
        std::vector<ecu::EcuCommand> out;
        while (auto c = queue.Take()) {
            queue.Finish(c->id);
            out.push_back(std::move(*c));
        }
        return out;
    }

    ecu::EcuStatus status;
    ecu::CommandQueue queue;
};

}  // namespace korvane::test
