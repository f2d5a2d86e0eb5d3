#include "maps/WriteBack.h"

#include "maps/TableCodec.h"
#include "platform/NumberText.h"

namespace korvane::maps {

std::optional<int> CurveBlocks(const std::string& len) {
    const auto n = platform::ParseInteger(len);
    if (!n || *n < 1 || *n > static_cast<int64_t>(kImageSize)) return std::nullopt;
    return static_cast<int>((*n + kCurveBlock - 1) / kCurveBlock);
}

std::string CurveLogLine(const PendingCurveWrite& p) {
    const auto blocks = CurveBlocks(p.len);
    return "Меняю..." + p.adrf + p.adrs + "длина:" + p.len + "Дата:" + p.data +
           "кол:" + (blocks ? std::to_string(*blocks) : std::string("?"));
}

}  // namespace korvane::maps
