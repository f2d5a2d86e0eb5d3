#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>

namespace korvane::lambda {

// The one-word command mailbox between the window and the reader. Its mutex
// also publishes whatever the window wrote before Post (port name, speed):
// the reader looks at those only after it has seen the word.
class Mailbox {
public:
    // Replaces any word still waiting.
    void Post(std::string word) {
        {
            std::lock_guard lock(mutex_);
            word_ = std::move(word);
        }
        cv_.notify_all();
    }
    std::string Peek() const {
        std::lock_guard lock(mutex_);
        return word_;
    }
    bool Empty() const {
        std::lock_guard lock(mutex_);
        return word_.empty();
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        word_.clear();
    }
    // Clears the word only if it is still `word`, so a command posted after
    // the reader looked is not lost.
    void ClearIf(const std::string& word) {
        std::lock_guard lock(mutex_);
        if (word_ == word) word_.clear();
    }
    // Blocks until a word is posted or `stop()` holds; Wake() makes the
    // waiter look at `stop` again.
    template <class Stop>
    void WaitForWord(Stop stop) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return !word_.empty() || stop(); });
    }
    void Wake() {
        { std::lock_guard lock(mutex_); }
        cv_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::string word_;
};

// A text field written by one thread and read by another, always whole.
class SharedText {
public:
    explicit SharedText(std::string initial = {}) : text_(std::move(initial)) {}
    void Set(std::string text) {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
    }
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace korvane::lambda
