#pragma once
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvane::lambda::test {

// Collects the reader's log lines (with the time each came) from whatever
// thread runs the UI bridge.
class LogRecorder {
  public:
    void Append(const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        times_.push_back(std::chrono::steady_clock::now());
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::chrono::steady_clock::time_point> Times() const {
        std::lock_guard lock(mutex_);
        return times_;
    }
    // The lines since the last call.
    std::vector<std::string> TakeNew() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out(lines_.begin() + static_cast<long>(taken_), lines_.end());
        taken_ = lines_.size();
        return out;
    }
    size_t CountStartingWith(const std::string& prefix) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& l : lines_) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::chrono::steady_clock::time_point> times_;
    size_t taken_ = 0;
};

// Polls `done` until it holds or the deadline passes.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace korvane::lambda::test
