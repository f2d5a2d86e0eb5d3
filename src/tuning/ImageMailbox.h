#pragma once
#include <functional>
#include <utility>

#include "tuning/TuningSeams.h"

namespace korvane::tuning {

// The learning step's cell goes into the image like every other edit; the
// ECU's RAM follows the image, and the cell counts once the ECU confirmed
// it (TuningCore::CellWriteDone).
class ImageMailbox final : public EcuMailbox {
  public:
    ImageMailbox(std::function<bool()> linkUp, ImageStore store)
        : linkUp_(std::move(linkUp)), store_(std::move(store)) {}
    bool LinkUp() const override { return linkUp_(); }
    CellWrite PostRemake(std::array<uint8_t, 2> adressdata, uint8_t value) override {
        const auto address = static_cast<uint16_t>(adressdata[0] << 8 | adressdata[1]);
        store_(address, {&value, 1});
        return CellWrite::Queued;
    }

  private:
    std::function<bool()> linkUp_;
    ImageStore store_;
};

}  // namespace korvane::tuning
