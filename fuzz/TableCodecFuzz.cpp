// The table codec on any table description and image: a table is read and
// written only inside the image, what is shown can be written back, and
// with plain scalings the shown values write back the very bytes they were
// read from.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "maps/MapNumbers.h"
#include "maps/TableCodec.h"

using namespace korvane;
using namespace korvane::maps;

namespace {

using Image = std::array<uint8_t, kImageSize>;

// Scalings under which decoding and encoding are exact inverses of each
// other on whole raw values.
constexpr const char* kPlainSteps[] = {"1", "2", "4", "0,5", "0.25", "10", "0,1", "3"};
constexpr const char* kPlainOffsets[] = {"0", "1", "-40", "128", "0,5", "-1,5"};
// Anything else a description might hold.
constexpr const char* kOddNumbers[] = {"0",     "-0",     "1E4000", "-1E4000", "1E-4000",
                                       "1e308", "1,5e-5", "abc",    "",        "1..2",
                                       "+",     "9E+",    "1,2,3"};

struct Pick {
    std::string text;
    bool plain = false;
};

Pick Number(FuzzedDataProvider& in, bool offset) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            const auto& table = offset ? kPlainOffsets : kPlainSteps;
            const size_t n = offset ? std::size(kPlainOffsets) : std::size(kPlainSteps);
            return {table[in.ConsumeIntegralInRange<size_t>(0, n - 1)], true};
        }
        case 1:
            return {kOddNumbers[in.ConsumeIntegralInRange<size_t>(0, std::size(kOddNumbers) - 1)]};
        default:
            return {in.ConsumeRandomLengthString(24)};
    }
}

std::string Address(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return in.ConsumeRandomLengthString(10);
    char text[16];
    std::snprintf(text, sizeof text, "0000%04X", in.ConsumeIntegral<uint16_t>());
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool curve = in.ConsumeBool();
    const std::string type = in.ConsumeBool() ? std::to_string(in.ConsumeIntegralInRange(0, 4))
                                              : in.ConsumeRandomLengthString(4);
    const std::string address = Address(in);
    const bool byIndex = in.ConsumeBool();
    const bool inverse = in.ConsumeIntegralInRange(0, 3) == 0;
    const std::string points = in.ConsumeBool()
                                   ? std::to_string(in.ConsumeIntegralInRange(-2, 1000))
                                   : in.ConsumeRandomLengthString(8);
    std::vector<Pick> numbers;
    for (int i = 0; i < 6; ++i) numbers.push_back(Number(in, i % 2 == 0));
    const std::string inverseK = inverse ? Number(in, false).text : "0";

    std::vector<std::pair<std::string, std::string>> rows = {
        {"graf", curve ? "2D" : "1D"}, {"ADDRESS", address}, {"Тип_тарировки", type}};
    if (curve) {
        rows.insert(rows.end(), {{"Число_точек_по_оси_X", points},
                                 {"Первая_точка_по_оси_X", numbers[4].text},
                                 {"Последняя_точка_по_оси_X", numbers[5].text},
                                 {"смещение_по_оси_y", numbers[0].text},
                                 {"Шаг_по_Y", numbers[1].text},
                                 {"Делитель_шага_по_Y", numbers[3].text}});
        if (byIndex) rows.emplace_back("Ось_x_по_таблице", "1");
    } else {
        rows.insert(rows.end(), {{"Смещение_значения", numbers[0].text},
                                 {"Шаг", numbers[1].text},
                                 {"Смещение", numbers[2].text},
                                 {"Делитель_шага", numbers[3].text},
                                 {"MAX", "1E9"},
                                 {"MIN", "-1E9"},
                                 {"Обратный_мультипликативный", inverseK}});
    }
    // A later duplicate never serves.
    rows.emplace_back("graf", "3D");
    const AttributeList attrs("table", rows);

    auto image = std::make_unique<Image>();
    const auto fill = in.ConsumeRemainingBytes<uint8_t>();
    if (fill.empty()) {
        for (size_t i = 0; i < image->size(); ++i) (*image)[i] = static_cast<uint8_t>(i * 7);
    } else {
        for (size_t at = 0; at < image->size(); at += fill.size())
            std::copy_n(fill.begin(), std::min(fill.size(), image->size() - at),
                        image->begin() + at);
    }

    const TableDisplay shown = ShowTable(attrs, ConstImageBytes(*image), ',');
    const auto parsedAddress = ParseTableAddress(address);
    if (parsedAddress) {
        FUZZ_CHECK(address.size() == 8 && address.compare(0, 4, "0000") == 0);
        FUZZ_CHECK(static_cast<int32_t>(*parsedAddress) == *HexTextToInt(address));
    } else {
        FUZZ_CHECK(!shown.error.empty());
        FUZZ_CHECK(!shown.columns && !shown.editPoint && shown.values.empty());
    }
    const bool shownWhole = shown.error.empty();
    if (curve && shown.columns) {
        const size_t n = static_cast<size_t>(*shown.columns - 1);
        FUZZ_CHECK(n >= 2 && n <= kMaxCurveBlocks * kCurveBlock);
        FUZZ_CHECK(*parsedAddress + n <= kImageSize);
        FUZZ_CHECK(shown.values.size() <= n && shown.headers.size() >= shown.values.size());
        if (shownWhole) FUZZ_CHECK(shown.values.size() == n && shown.chartFilled);
    }
    if (shown.chartFilled) {
        FUZZ_CHECK(shown.points.size() == shown.values.size());
        for (size_t i = 0; i < shown.values.size(); ++i) {
            const auto v = ParseNumber(shown.values[i]);
            FUZZ_CHECK(v && static_cast<double>(*v) == shown.points[i]);
        }
        const auto [lo, hi] = ChartRange(shown.points);
        FUZZ_CHECK(lo <= hi);
    }
    if (!shownWhole) return 0;

    // Whatever is shown whole can be handed back; the write stays inside
    // the image and changes nothing outside its table.
    const ValueBoxes boxes{shown.editPoint.value_or(""), shown.editMax.value_or(""),
                           shown.editMin.value_or("")};
    const PreparedWrite prepared = PrepareTableWrite(attrs, boxes, shown.values);
    if (!prepared.error.empty()) {
        FUZZ_CHECK(prepared.write.bytes.empty());
        return 0;
    }
    const TableWrite& w = prepared.write;
    if (shown.kind == TableKind::None) {
        FUZZ_CHECK(w.kind == TableKind::None && w.bytes.empty());
        return 0;
    }
    FUZZ_CHECK(w.address == *parsedAddress);
    FUZZ_CHECK(w.address + w.bytes.size() <= kImageSize);
    if (w.kind == TableKind::Curve) {
        FUZZ_CHECK(w.bytes.size() == shown.values.size());
        const size_t blocks = (w.bytes.size() + kCurveBlock - 1) / kCurveBlock;
        FUZZ_CHECK(w.address + blocks * kCurveBlock <= kImageSize);
    } else {
        FUZZ_CHECK(w.kind == TableKind::Single);
        FUZZ_CHECK(w.bytes.size() == static_cast<size_t>(w.width));
        FUZZ_CHECK(w.width == ((type == "2" || type == "3") ? 2 : 1));
    }
    auto stored = std::make_unique<Image>(*image);
    StoreInImage(w, ImageBytes(*stored));
    const size_t end = w.address + w.bytes.size();
    FUZZ_CHECK(std::equal(stored->begin(), stored->begin() + w.address, image->begin()));
    FUZZ_CHECK(std::equal(stored->begin() + end, stored->end(), image->begin() + end));
    FUZZ_CHECK(std::equal(w.bytes.begin(), w.bytes.end(), stored->begin() + w.address));

    // Plain scalings: the shown values write back what they were read from.
    const bool plain = numbers[0].plain && numbers[1].plain && numbers[3].plain &&
                       (curve || (numbers[2].plain && !inverse));
    if (plain) {
        FUZZ_CHECK(std::equal(w.bytes.begin(), w.bytes.end(), image->begin() + w.address));
        FUZZ_CHECK(w.notices.empty());
    }
    return 0;
}
