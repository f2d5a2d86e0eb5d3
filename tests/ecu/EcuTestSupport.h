#pragma once
// Shared pieces of the ECU tests: a log view that records, and a scripted
// adapter+ECU on a fake port that answers hand-written frames.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ecu/Command.h"
#include "ecu/EcuLink.h"
#include "ecu/Frame.h"
#include "ecu/UiLog.h"
#include "platform/fakes/FakeClock.h"
#include "platform/fakes/FakeSerialPort.h"
#include "platform/fakes/ForwardingSerialPort.h"

namespace korvane::ecu::test {

// Polls pred every millisecond until it holds (true) or the time is up
// (false): for a worker thread on a real or simulated line.
template <class Pred>
bool WaitFor(Pred pred, int timeoutMs = 30000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// "82 10 F1 3E 01 C2" -> bytes; frames in tests are written out by hand.
inline Bytes H(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string b;
    while (in >> b) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

// Appends the sum of the bytes (for long hand-written answers whose data
// are made in the test).
inline Bytes WithSum(Bytes frame) {
    uint8_t s = 0;
    for (uint8_t b : frame) s = static_cast<uint8_t>(s + b);
    frame.push_back(s);
    return frame;
}

class RecordingView final : public LogView {
  public:
    void AppendLine(const std::string& line) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    void ReplaceLastLine(const std::string& line) override {
        {
            std::lock_guard lock(mutex_);
            if (!lines_.empty()) lines_.pop_back();
            lines_.push_back(line);
        }
        if (onReplace) onReplace(line);
    }
    void SetProgress(int maximum, int position) override {
        {
            std::lock_guard lock(mutex_);
            progress_.push_back({maximum, position});
        }
        if (onProgress) onProgress(maximum, position);
    }
    void SessionUp(uint64_t) override {
        std::lock_guard lock(mutex_);
        ++sessionUps_;
    }
    void ConnectFailed(const std::string& reason, uint64_t) override {
        std::lock_guard lock(mutex_);
        connectFailures_.push_back(reason);
    }
    void CommandFinished(const CommandResult& result) override {
        std::lock_guard lock(mutex_);
        results_.push_back(result);
    }
    void Synced(const SyncReport& report) override {
        std::lock_guard lock(mutex_);
        reports_.push_back(report);
    }
    std::vector<SyncReport> Reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    void FirmwareRead(std::shared_ptr<const Bytes> image) override {
        std::lock_guard lock(mutex_);
        image_ = std::move(image);
    }
    int SessionUps() const {
        std::lock_guard lock(mutex_);
        return sessionUps_;
    }
    std::vector<std::string> ConnectFailures() const {
        std::lock_guard lock(mutex_);
        return connectFailures_;
    }
    std::vector<CommandResult> Results() const {
        std::lock_guard lock(mutex_);
        return results_;
    }
    // "kind ok" or "kind: reason" of the last command that ended.
    std::string LastResult() const {
        std::lock_guard lock(mutex_);
        if (results_.empty()) return "";
        const CommandResult& r = results_.back();
        return std::string(KindName(r.kind)) + (r.ok ? " ok" : ": " + r.reason);
    }
    std::shared_ptr<const Bytes> Image() const {
        std::lock_guard lock(mutex_);
        return image_;
    }
    // Hooks for thread tests, set before the worker starts.
    std::function<void(const std::string&)> onReplace;
    std::function<void(int, int)> onProgress;
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::pair<int, int>> Progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
        progress_.clear();
        results_.clear();
        reports_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::pair<int, int>> progress_;
    int sessionUps_ = 0;
    std::vector<std::string> connectFailures_;
    std::vector<CommandResult> results_;
    std::vector<SyncReport> reports_;
    std::shared_ptr<const Bytes> image_;
};

// An open command with what the test set in the worker's fields.
inline EcuCommand OpenAsSet(const EcuLinkFields& f) {
    OpenSettings s;
    s.portName = f.PortName.Get();
    s.portSpeed = f.PortSpeed.Get();
    s.portTimeOut = f.PortTimeOut;
    s.portReadTimeOut = f.PortReadTimeOut;
    s.fastExchange = f.FastExchange == 1;
    s.fastInit = f.FastInit == 1;
    return EcuCommand::Open(std::move(s));
}

// The adapter echoes each request frame; the ECU answers a request it has
// a reply for, only at the line speed given with it (0 = any speed). With a
// clock the answer can come later and in pieces, as on a line.
class ScriptedEcu {
  public:
    struct Reply {
        Bytes answer;
        int baud = 0;
    };
    // When each request was complete and when the last byte of its answer
    // was due (-1: no answer), on the clock.
    struct Timing {
        int64_t requestAt = 0;
        int64_t answerEndAt = -1;
    };

    explicit ScriptedEcu(platform::FakeSerialPort& port, platform::Clock* clock = nullptr)
        : port_(port), clock_(clock) {
        port_.onWrite = [this](uint8_t b) { OnByte(b); };
    }
    // The answer's first piece comes this long after the request; the rest
    // in pieces of `pieceSize` bytes, `pieceGapMs` apart (0: all at once).
    int answerAfterMs = 0;
    size_t pieceSize = 0;
    int pieceGapMs = 0;
    ~ScriptedEcu() { port_.onWrite = nullptr; }

    void On(const Bytes& requestFrame, Bytes answer, int baud = 0) {
        std::lock_guard lock(mutex_);
        replies_[requestFrame] = {std::move(answer), baud};
    }
    // Computes the answer from the request frame (RAM reads and writes).
    void OnAny(std::function<Bytes(const Bytes&)> fn) {
        std::lock_guard lock(mutex_);
        fallback_ = std::move(fn);
    }
    bool echo = true;
    // An ECU that answers StartCommunication only when the fast-init
    // wake-up (a zero byte at 360 baud) began 25..100 ms before it.
    bool needsWakeUp = false;
    // Bytes sent below 1200 baud: wake-up patterns, never part of a frame.
    struct WakeUp {
        uint8_t byte;
        int baud;
        int64_t at;
    };
    std::vector<WakeUp> WakeUps() const {
        std::lock_guard lock(mutex_);
        return wakeUps_;
    }
    std::vector<Bytes> Frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    void ClearFrames() {
        std::lock_guard lock(mutex_);
        frames_.clear();
        speeds_.clear();
        timings_.clear();
    }
    std::vector<int> Speeds() const {
        std::lock_guard lock(mutex_);
        return speeds_;
    }
    std::vector<Timing> Timings() const {
        std::lock_guard lock(mutex_);
        return timings_;
    }

  private:
    void OnByte(uint8_t b) {
        Bytes frame;
        bool woken = false;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty() && port_.Speed() > 0 && port_.Speed() < 1200) {
                wakeUps_.push_back({b, port_.Speed(), Now()});
                lastWakeUp_ = b == 0x00 && port_.Speed() == 360 ? Now() : INT64_MIN;
                if (echo) port_.Feed({b});
                return;
            }
            pending_.push_back(b);
            if (pending_.size() < 3) return;
            size_t n = pending_[0] & 0x3F;
            size_t header = 3;
            if (n == 0) {
                if (pending_.size() < 4) return;
                n = pending_[3];
                header = 4;
            }
            if (pending_.size() < header + n + 1) return;
            frame.swap(pending_);
            frames_.push_back(frame);
            speeds_.push_back(port_.Speed());
            timings_.push_back({Now(), -1});
            woken =
                lastWakeUp_ != INT64_MIN && Now() - lastWakeUp_ >= 25 && Now() - lastWakeUp_ <= 100;
            lastWakeUp_ = INT64_MIN;
        }
        if (echo) port_.Feed(frame);
        Bytes answer;
        // The start's data byte: 0x81 right after a header of three bytes.
        if (needsWakeUp && !woken && frame.size() == 5 && frame[3] == 0x81) return;
        {
            std::lock_guard lock(mutex_);
            auto it = replies_.find(frame);
            if (it != replies_.end()) {
                if (it->second.baud == 0 || it->second.baud == port_.Speed())
                    answer = it->second.answer;
            } else if (fallback_) {
                answer = fallback_(frame);
            }
        }
        if (answer.empty()) return;
        const int64_t start = Now() + answerAfterMs;
        const size_t piece = pieceSize > 0 ? pieceSize : answer.size();
        int64_t at = start;
        for (size_t i = 0; i < answer.size(); i += piece, at += pieceGapMs) {
            const size_t end = std::min(answer.size(), i + piece);
            port_.FeedAt(clock_ ? at : INT64_MIN, Bytes(answer.begin() + i, answer.begin() + end));
        }
        std::lock_guard lock(mutex_);
        timings_.back().answerEndAt = at - pieceGapMs;
    }
    int64_t Now() const { return clock_ ? clock_->NowMs() : 0; }

    platform::FakeSerialPort& port_;
    platform::Clock* clock_;
    mutable std::mutex mutex_;
    Bytes pending_;
    std::map<Bytes, Reply> replies_;
    std::function<Bytes(const Bytes&)> fallback_;
    std::vector<Bytes> frames_;
    std::vector<WakeUp> wakeUps_;
    int64_t lastWakeUp_ = INT64_MIN;
    std::vector<int> speeds_;
    std::vector<Timing> timings_;
};

// A link over a fake port and a fake clock, with a scripted ECU behind the
// port; the link makes a new port (counted) at each open.
struct FakeLinkRig {
    platform::FakeClock clock;
    platform::FakeSerialPort port{&clock};
    ScriptedEcu ecu{port, &clock};
    RecordingView view;
    platform::DirectUiBridge bridge;
    UiLog log{bridge, view};
    EcuLinkFields fields;
    int portsMade = 0;
    EcuLink link{fields, log,
                 [this] {
                     ++portsMade;
                     return std::make_unique<platform::ForwardingSerialPort>(port);
                 },
                 clock};
};

}  // namespace korvane::ecu::test
