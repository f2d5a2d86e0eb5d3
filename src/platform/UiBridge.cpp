#include "platform/UiBridge.h"

#include <mutex>

namespace korvane::platform {

void DirectUiBridge::RunSync(const std::function<void()>& fn) {
    static std::mutex uiThread;
    std::lock_guard lock(uiThread);
    fn();
}

}  // namespace korvane::platform
