#include "tuning/WorkerEcu.h"

namespace korvane::tuning {

bool WorkerEcu::PostIfEmpty(const std::string& word, uint16_t address,
                            std::span<const uint8_t> bytes, std::optional<uint8_t> lengthByte) {
    using ecu::CommandKind;
    using ecu::EcuCommand;
    if (!worker_.Pending().empty()) return false;
    ecu::Bytes data(bytes.begin(), bytes.end());
    std::optional<EcuCommand> command;
    if (word == "correct1DF" && lengthByte) {
        command = EcuCommand::WriteValue(address, std::move(data), *lengthByte);
    } else if (data.size() == 256) {
        for (CommandKind kind :
             {CommandKind::remakegbc, CommandKind::remakeuoz, CommandKind::remakepopr})
            if (word == ecu::KindName(kind)) command = EcuCommand::WriteTable(kind, data);
    }
    return command && worker_.Post(std::move(*command)) != 0;
}

}  // namespace korvane::tuning
