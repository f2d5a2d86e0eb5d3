#pragma once
// Values the window and a worker thread both touch, beyond plain atomic
// flags: the one-word command mailbox and text fields.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

namespace korvane::platform {

// The single-slot command mailbox. Its mutex also publishes whatever the
// poster wrote before Post (the parameter fields) to the worker that takes
// the word, and whatever the worker wrote before clearing back to the poster
// that then sees it empty.
class Mailbox {
  public:
    struct Entry {
        std::string word;
        uint64_t serial = 0;  // grows with every post, so a replaced word is noticed
    };

    // Puts a word in, replacing whatever is there.
    void Post(std::string word) {
        {
            std::lock_guard lock(mutex_);
            word_ = std::move(word);
            ++serial_;
        }
        cv_.notify_all();
    }
    // Puts a word in only if the mailbox is empty.
    bool PostIfEmpty(std::string word) {
        {
            std::lock_guard lock(mutex_);
            if (!word_.empty()) return false;
            word_ = std::move(word);
            ++serial_;
        }
        cv_.notify_all();
        return true;
    }
    Entry Peek() const {
        std::lock_guard lock(mutex_);
        return {word_, serial_};
    }
    std::string Word() const {
        std::lock_guard lock(mutex_);
        return word_;
    }
    bool Empty() const {
        std::lock_guard lock(mutex_);
        return word_.empty();
    }
    // The window's clear (it may drop a word it posted).
    void Clear() {
        {
            std::lock_guard lock(mutex_);
            word_.clear();
        }
        cv_.notify_all();
    }
    // A worker's clear: only the post it took, so a word put in meanwhile
    // ("CloseComPort" during a write) is not lost.
    void Clear(uint64_t serial) {
        std::lock_guard lock(mutex_);
        if (serial_ == serial) word_.clear();
    }
    // Clears the word only if it is still `word`.
    void ClearIf(const std::string& word) {
        std::lock_guard lock(mutex_);
        if (word_ == word) word_.clear();
    }

    static constexpr std::chrono::milliseconds kForever{-1};
    // Blocks until ready(entry) holds or `most` has passed (kForever: no
    // limit); true when it held. Every post, the window's clear and Wake()
    // make the waiter look again. ready runs under the mailbox's lock: it
    // must not touch the mailbox.
    template <class Ready>
    bool WaitUntil(Ready ready, std::chrono::milliseconds most = kForever) {
        std::unique_lock lock(mutex_);
        auto check = [&] { return ready(Entry{word_, serial_}); };
        if (most < std::chrono::milliseconds::zero()) {
            cv_.wait(lock, check);
            return true;
        }
        return cv_.wait_for(lock, most, check);
    }
    // Blocks until a word is posted or stop() holds.
    template <class Stop>
    void WaitForWord(Stop stop) {
        WaitUntil([&](const Entry& e) { return !e.word.empty() || stop(); });
    }
    void Wake() {
        { std::lock_guard lock(mutex_); }
        cv_.notify_all();
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::string word_;
    uint64_t serial_ = 0;
};

// A text field written by one thread and read by another, always whole.
class SharedText {
  public:
    SharedText() = default;
    SharedText(std::string text) : text_(std::move(text)) {}
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    void Set(std::string text) {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
    }
    SharedText& operator=(std::string text) {
        Set(std::move(text));
        return *this;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace korvane::platform
