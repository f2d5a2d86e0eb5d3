#include "maps/WriteBack.h"

#include "ecu/ECUThread.h"
#include "maps/TableCodec.h"
#include "platform/NumberText.h"

namespace korvane::maps {

namespace {

bool LinkUp(const ecu::EcuCommands& worker) {
    return worker.Status().LinkUp();
}

// The two address bytes, each from two hex digits.
std::optional<std::array<uint8_t, 2>> AddressBytes(const std::string& adrf,
                                                   const std::string& adrs) {
    if (adrf.size() != 2 || adrs.size() != 2) return std::nullopt;
    const auto hi = HexTextToInt(adrf), lo = HexTextToInt(adrs);
    if (!hi || !lo) return std::nullopt;
    return std::array<uint8_t, 2>{static_cast<uint8_t>(*hi), static_cast<uint8_t>(*lo)};
}

HandOverResult Refused(std::string error) {
    return {HandOver::Refused, std::move(error)};
}

}  // namespace

HandOverResult HandOverValue(ecu::EcuCommands& worker, const std::string& adrf,
                             const std::string& adrs, const std::string& len,
                             const std::string& data) {
    const auto value = platform::ParseInteger(data);
    if (!value) return Refused("Значение «" + data + "» для записи не является целым числом.");
    const auto address = AddressBytes(adrf, adrs);
    if (!address) return Refused("Адрес «" + adrf + adrs + "» для записи не годится.");
    const auto n = HexTextToInt(len);
    if (!n || *n < 1 || *n > 4)
        return Refused("Длина «" + len + "» для записи не годится: нужно от 1 до 4 байт.");
    if (static_cast<int64_t>(address->at(0)) * 256 + address->at(1) + *n >
        static_cast<int64_t>(kImageSize))
        return Refused("Запись " + std::to_string(*n) + " байт по адресу " + adrf + adrs +
                       " вышла бы за конец памяти.");
    if (!LinkUp(worker)) return {HandOver::NotConnected, {}};
    if (!worker.Pending().empty()) return {HandOver::Busy, {}};
    const auto bits = static_cast<uint64_t>(*value);
    ecu::Bytes bytes;
    for (int k = 0; k < *n; ++k) bytes.push_back(static_cast<uint8_t>((bits >> (8 * k)) & 0xFF));
    const auto at = static_cast<uint16_t>(address->at(0) << 8 | address->at(1));
    if (worker.Post(ecu::EcuCommand::WriteValue(at, std::move(bytes), static_cast<uint8_t>(*n))) ==
        0)
        return {HandOver::Busy, {}};
    return {HandOver::Done, {}};
}

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

HandOverResult HandOverCurve(ecu::EcuCommands& worker, const PendingCurveWrite& p,
                             ConstImageBytes image) {
    const auto blocks = CurveBlocks(p.len);
    if (!blocks) return Refused("Длина кривой «" + p.len + "» не является целым числом точек.");
    const auto address = AddressBytes(p.adrf, p.adrs);
    if (!address) return Refused("Адрес кривой «" + p.adrf + p.adrs + "» не годится.");
    const size_t start = static_cast<size_t>(address->at(0)) * 256 + address->at(1);
    const size_t bytes = static_cast<size_t>(*blocks) * kCurveBlock;
    if (*blocks > kMaxCurveBlocks || start + bytes > kImageSize)
        return Refused("Кривая по адресу " + p.adrf + p.adrs + " (" + std::to_string(*blocks) +
                       " блоков по 64 байта) не записывается: она длиннее " +
                       std::to_string(kMaxCurveBlocks) + " блоков или выходит за конец памяти.");
    if (!LinkUp(worker)) return {HandOver::NotConnected, {}};
    if (!worker.Pending().empty()) return {HandOver::Busy, {}};
    ecu::Bytes data(image.begin() + static_cast<std::ptrdiff_t>(start),
                    image.begin() + static_cast<std::ptrdiff_t>(start + bytes));
    if (worker.Post(ecu::EcuCommand::WriteCurve(static_cast<uint16_t>(start), std::move(data))) ==
        0)
        return {HandOver::Busy, {}};
    return {HandOver::Done, {}};
}

}  // namespace korvane::maps
