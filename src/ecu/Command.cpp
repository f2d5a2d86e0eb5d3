#include "ecu/Command.h"

#include <algorithm>

namespace korvane::ecu {

std::string_view KindName(CommandKind kind) {
    switch (kind) {
        case CommandKind::OpenComPort:
            return "OpenComPort";
        case CommandKind::CloseComPort:
            return "CloseComPort";
        case CommandKind::DiagnosticECU:
            return "DiagnosticECU";
        case CommandKind::ReadFW:
            return "ReadFW";
        case CommandKind::remake:
            return "remake";
        case CommandKind::correct1DF:
            return "correct1DF";
        case CommandKind::correct23DF:
            return "correct23DF";
        case CommandKind::remakegbc:
            return "remakegbc";
        case CommandKind::remakeuoz:
            return "remakeuoz";
        case CommandKind::remakepopr:
            return "remakepopr";
        case CommandKind::ImageChanged:
            return "ImageChanged";
    }
    return "";
}

bool IsWrite(CommandKind kind) {
    switch (kind) {
        case CommandKind::remake:
        case CommandKind::correct1DF:
        case CommandKind::correct23DF:
        case CommandKind::remakegbc:
        case CommandKind::remakeuoz:
        case CommandKind::remakepopr:
            return true;
        default:
            return false;
    }
}

EcuCommand EcuCommand::Of(CommandKind kind, uint16_t address, Bytes bytes) {
    EcuCommand c;
    c.kind = kind;
    c.address = address;
    c.bytes = std::move(bytes);
    return c;
}

EcuCommand EcuCommand::Open(OpenSettings settings, std::vector<RamRange> kept) {
    EcuCommand c = Of(CommandKind::OpenComPort);
    c.open = std::move(settings);
    c.ranges = std::move(kept);
    return c;
}

EcuCommand EcuCommand::ImageChanged(uint16_t address, Bytes bytes) {
    EcuCommand c = Of(CommandKind::ImageChanged);
    c.ranges.push_back({address, std::move(bytes)});
    return c;
}

EcuCommand EcuCommand::WriteCell(uint16_t address, uint8_t value) {
    return Of(CommandKind::remake, address, Bytes{value});
}

EcuCommand EcuCommand::WriteValue(uint16_t address, Bytes bytes, uint8_t lengthByte) {
    EcuCommand c = Of(CommandKind::correct1DF, address, std::move(bytes));
    c.lengthByte = lengthByte;
    return c;
}

EcuCommand EcuCommand::WriteCurve(uint16_t address, Bytes blocks) {
    return Of(CommandKind::correct23DF, address, std::move(blocks));
}

EcuCommand EcuCommand::WriteTable(CommandKind kind, Bytes table) {
    return Of(kind, 0, std::move(table));
}

uint64_t CommandQueue::Post(EcuCommand command) {
    uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        auto same = [&](CommandKind kind) {
            return std::find_if(waiting_.begin(), waiting_.end(), [&](const EcuCommand& c) {
                return c.kind == kind &&
                       (kind != CommandKind::correct23DF || c.address == command.address);
            });
        };
        switch (command.kind) {
            case CommandKind::ReadFW:
                if (running_ == CommandKind::ReadFW || same(CommandKind::ReadFW) != waiting_.end())
                    return 0;
                break;
            case CommandKind::DiagnosticECU:
                if (same(CommandKind::DiagnosticECU) != waiting_.end()) return 0;
                break;
            case CommandKind::OpenComPort:
            case CommandKind::CloseComPort:
                // An open nobody waits for any more: a newer open or a
                // close replaces it, so opens never pile up on a bad line
                // and a close never waits behind them.
                std::erase_if(waiting_, [](const EcuCommand& c) {
                    return c.kind == CommandKind::OpenComPort;
                });
                break;
            case CommandKind::correct23DF: {
                // The newer curve replaces the older one in its place: the
                // ECU gets the latest values once, in the order first asked.
                auto it = same(CommandKind::correct23DF);
                if (it != waiting_.end()) {
                    command.id = it->id;
                    *it = std::move(command);
                    id = it->id;
                }
                break;
            }
            default:
                break;
        }
        if (id == 0) {
            command.id = id = ++nextId_;
            waiting_.push_back(std::move(command));
        }
    }
    cv_.notify_all();
    return id;
}

std::optional<EcuCommand> CommandQueue::Take() {
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) return std::nullopt;
    EcuCommand c = std::move(waiting_.front());
    waiting_.pop_front();
    running_ = c.kind;
    runningId_ = c.id;
    return c;
}

void CommandQueue::Finish(uint64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (runningId_ != id) return;
        running_.reset();
        runningId_ = 0;
    }
    cv_.notify_all();
}

std::string CommandQueue::Pending() const {
    std::lock_guard lock(mutex_);
    if (running_) return std::string(KindName(*running_));
    if (!waiting_.empty()) return std::string(KindName(waiting_.front().kind));
    return {};
}

bool CommandQueue::Idle() const {
    std::lock_guard lock(mutex_);
    return !running_ && waiting_.empty();
}

bool CommandQueue::HasWaiting() const {
    std::lock_guard lock(mutex_);
    return !waiting_.empty();
}

bool CommandQueue::CloseWaiting() const {
    std::lock_guard lock(mutex_);
    return std::any_of(waiting_.begin(), waiting_.end(),
                       [](const EcuCommand& c) { return c.kind == CommandKind::CloseComPort; });
}

size_t CommandQueue::Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

void CommandQueue::Wake() {
    { std::lock_guard lock(mutex_); }
    cv_.notify_all();
}

}  // namespace korvane::ecu
