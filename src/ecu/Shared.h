#pragma once
// Values the window and the ECU worker both touch. Flags and counters are
// std::atomic; these are the few that are more than one word.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "ecu/Frame.h"
#include "platform/Shared.h"

namespace korvane::ecu {

using platform::Mailbox;
using platform::SharedText;

// A byte string that is only ever replaced whole, so a reader holds either
// the old or the new value, never half of one.
class SharedBytes {
  public:
    std::shared_ptr<const Bytes> Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    // A copy of the current value (empty when there is none).
    Bytes Copy() const {
        auto v = Get();
        return v ? *v : Bytes{};
    }
    void Set(Bytes bytes) {
        auto v = std::make_shared<const Bytes>(std::move(bytes));
        std::lock_guard lock(mutex_);
        value_ = std::move(v);
    }
    void Clear() { Set({}); }
    size_t Size() const {
        auto v = Get();
        return v ? v->size() : 0;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Bytes> value_ = std::make_shared<const Bytes>();
};

}  // namespace korvane::ecu
