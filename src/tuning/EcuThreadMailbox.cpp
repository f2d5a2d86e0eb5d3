#include "tuning/EcuThreadMailbox.h"

namespace korvane::tuning {

void EcuThreadMailbox::PostRemake(std::array<uint8_t, 2> adressdata, uint8_t value) {
    // The fields are the worker's only while its mailbox is empty; only the
    // UI thread posts, so it stays empty between the caller's check and here.
    worker_.data[0] = value;
    worker_.numdata = 1;
    worker_.adressdata = adressdata;
    worker_.Command.PostIfEmpty("remake");
}

}  // namespace korvane::tuning
