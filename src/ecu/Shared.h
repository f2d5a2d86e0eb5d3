#pragma once
// Values the window and the ECU worker both touch. Flags and counters are
// std::atomic; these are the few that are more than one word.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "ecu/Frame.h"

namespace korvane::ecu {

// The single-slot command mailbox. Its mutex also publishes whatever the
// poster wrote before Post (the parameter fields) to the worker that takes
// the word, and whatever the worker wrote before Clear back to the poster
// that sees it empty.
class Mailbox {
  public:
    struct Entry {
        std::string word;
        uint64_t serial = 0;  // grows with every post, so a replaced word is noticed
    };

    // Puts a word in, replacing whatever is there.
    void Post(std::string word) {
        std::lock_guard lock(mutex_);
        word_ = std::move(word);
        ++serial_;
    }
    // Puts a word in only if the mailbox is empty.
    bool PostIfEmpty(std::string word) {
        std::lock_guard lock(mutex_);
        if (!word_.empty()) return false;
        word_ = std::move(word);
        ++serial_;
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
        std::lock_guard lock(mutex_);
        word_.clear();
    }
    // The worker's clear: only the post it took, so a word the window put in
    // meanwhile ("CloseComPort" during a write) is not lost.
    void Clear(uint64_t serial) {
        std::lock_guard lock(mutex_);
        if (serial_ == serial) word_.clear();
    }
    bool operator==(const std::string& word) const { return Word() == word; }

  private:
    mutable std::mutex mutex_;
    std::string word_;
    uint64_t serial_ = 0;
};

// A text field written by one thread and read by another at any time.
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
