#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "maps/TableCodec.h"
#include "tests/maps/MapRows.h"

using namespace korvane::maps;

namespace {

using korvane::maps::test::Rows;
using korvane::maps::test::With;

struct Image {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kImageSize, 0);
    ConstImageBytes View() const { return ConstImageBytes(bytes.data(), kImageSize); }
    ImageBytes Span() { return ImageBytes(bytes.data(), kImageSize); }
};

Rows Single(const std::string& type, const std::string& step,
            const std::string& address = "00004A10") {
    Rows r = {{"graf", "1D"}, {"address", address}};
    if (!type.empty()) r.push_back({"Тип_тарировки", type});
    Rows rest = {{"Смещение_значения", "0"},
                 {"Шаг", step},
                 {"Делитель_шага", "1"},
                 {"Смещение", "0"},
                 {"Обратный_мультипликативный", "0"},
                 {"MAX", "100000"},
                 {"MIN", "-100000"}};
    r.insert(r.end(), rest.begin(), rest.end());
    return r;
}

Rows Curve(const std::string& n, const std::string& first, const std::string& last,
           const std::string& address = "00005C00") {
    return {{"graf", "2D"},
            {"address", address},
            {"Число_точек_по_оси_X", n},
            {"Первая_точка_по_оси_X", first},
            {"Последняя_точка_по_оси_X", last},
            {"Ось_X", "Температура"},
            {"Ось_Y", "Коэффициент"},
            {"Смещение_по_оси_Y", "0"},
            {"Шаг_по_Y", "1"},
            {"Делитель_шага_по_Y", "128"}};
}

TableDisplay Show(const Rows& rows, const Image& image) {
    return ShowTable(AttributeList("Таблица", rows), image.View(), '.');
}

TEST(AttributeList, FindsKeysWithoutRegardToCaseFirstOneWinning) {
    const AttributeList a("E", {{"Ось_X", "A"}, {"Ось_x", "B"}, {"ШАГ", "10"}, {"шаг", "20"}});
    EXPECT_EQ(a.Value("Ось_X"), "A");
    EXPECT_EQ(a.Value("Ось_x"), "A");
    EXPECT_EQ(a.Value("шаг"), "10");
    EXPECT_EQ(a.Value("нет"), "");
    EXPECT_FALSE(a.Has("Шаг_по_Y"));
    EXPECT_TRUE(SameKey("Ёлка_Graf", "ёЛКА_gRAF"));
    EXPECT_FALSE(SameKey("Шаг", "Шаг_по_Y"));
}

TEST(CurveDisplay, HeadersAccumulateIn32BitFloats) {
    Image image;
    const struct {
        const char* first;
        const char* last;
        std::vector<std::string> headers;
    } cases[] = {
        {"0",
         "1,5",
         {"0", "0.100000001490116", "0.200000002980232", "0.300000011920929", "0.400000005960464",
          "0.5", "0.600000023841858", "0.700000047683716", "0.800000071525574", "0.900000095367432",
          "1.00000011920929", "1.10000014305115", "1.20000016689301", "1.30000019073486",
          "1.40000021457672", "1.50000023841858"}},
        {"-40",
         "110",
         {"-40", "-30", "-20", "-10", "0", "10", "20", "30", "40", "50", "60", "70", "80", "90",
          "100", "110"}},
    };
    for (const auto& c : cases) {
        const TableDisplay d = Show(Curve("16", c.first, c.last), image);
        EXPECT_TRUE(d.error.empty()) << d.error;
        EXPECT_EQ(d.headers, c.headers);
    }
}

TEST(CurveDisplay, FillsGridChartAndTitles) {
    Image image;
    for (int i = 0; i < 16; ++i) image.bytes[0x5C00 + i] = static_cast<uint8_t>(128 + 8 * i);
    // "Ось_x"/"Ось_y" are the same keys as "Ось_X"/"Ось_Y": the first serves.
    auto rows = Curve("16", "-40", "110");
    rows.push_back({"Ось_x", "Т, °C"});
    const TableDisplay d = Show(rows, image);
    EXPECT_EQ(d.kind, TableKind::Curve);
    EXPECT_EQ(d.columns, 17);
    EXPECT_EQ(d.xCaption, "Температура");
    EXPECT_EQ(d.yCaption, "Коэффициент");
    ASSERT_EQ(d.values.size(), 16u);
    EXPECT_EQ(d.values[0], "1");
    EXPECT_EQ(d.values[1], "1.0625");
    EXPECT_TRUE(d.chartFilled);
    EXPECT_DOUBLE_EQ(d.points[15], 248.0 / 128.0);
    EXPECT_EQ(d.xTitle, "Температура");
    EXPECT_EQ(d.yTitle, "Коэффициент");
    // The decimal separator of the user's locale.
    EXPECT_EQ(ShowTable(AttributeList("T", rows), image.View(), ',').values[1], "1,0625");
}

TEST(CurveDisplay, GridAndChartCaptionsComeFromTheFirstOfEachKeyPair) {
    Image image;
    auto rows = Curve("2", "0", "1");
    rows.erase(rows.begin() + 5);  // "Ось_X"
    rows.insert(rows.begin() + 2, {"Ось_X", "A"});
    rows.push_back({"Ось_x", "B"});
    const TableDisplay d = Show(rows, image);
    EXPECT_EQ(d.xCaption, "A");
    EXPECT_EQ(d.xTitle, "A");
}

TEST(CurveDisplay, SignedOnlyForType1WithComputedAxis) {
    Image image;
    image.bytes[0x5C00] = 0xF6;
    auto rows = With(With(Curve("2", "0", "1"), "Делитель_шага_по_Y", "1"), "Тип_тарировки", "1");
    EXPECT_EQ(Show(rows, image).values[0], "-10");
    const TableDisplay byIndex = Show(With(rows, "Ось_x_по_таблице", "да"), image);
    EXPECT_EQ(byIndex.values[0], "246");
    EXPECT_EQ(byIndex.headers, (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(Show(With(rows, "Тип_тарировки", "3"), image).values[0], "246");
    // An empty "Ось_x_por_таблице" computes X like an absent one.
    EXPECT_EQ(Show(With(rows, "Ось_x_по_таблице", ""), image).values[0], "-10");
}

struct SingleCase {
    const char* name;
    std::string type;
    std::vector<uint8_t> bytes;  // at 0x4A10
    std::string step;
    std::string shown;
};

class SingleDisplay : public ::testing::TestWithParam<SingleCase> {};

TEST_P(SingleDisplay, ReadsByTypeAndScales) {
    Image image;
    for (size_t i = 0; i < GetParam().bytes.size(); ++i)
        image.bytes[0x4A10 + i] = GetParam().bytes[i];
    const TableDisplay d = Show(Single(GetParam().type, GetParam().step), image);
    EXPECT_TRUE(d.error.empty()) << d.error;
    EXPECT_EQ(d.kind, TableKind::Single);
    EXPECT_EQ(d.editPoint, GetParam().shown);
    EXPECT_EQ(d.editMax, "100000");
    EXPECT_EQ(d.editMin, "-100000");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SingleDisplay,
    ::testing::Values(SingleCase{"Raw7Step01", "", {7}, "0.1", "0.699999988079071"},
                      SingleCase{"Signed8", "1", {0xF6}, "10", "-100"},
                      SingleCase{"Unsigned8", "", {0xF6}, "10", "2460"},
                      SingleCase{"OtherTypeUnsigned8", "7", {0xF6}, "1", "246"},
                      SingleCase{"Signed16", "3", {0x18, 0xFC}, "1", "-1000"},
                      SingleCase{"Unsigned16", "2", {0x18, 0xFC}, "1", "64536"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SingleDisplay, OffsetsAndInverseForm) {
    Image image;
    image.bytes[0x4A10] = 150;  // 30000 / 150 = 200
    auto rows = With(Single("", "1"), "Обратный_мультипликативный", "30000");
    EXPECT_EQ(Show(rows, image).editPoint, "200");
    rows = With(With(With(Single("", "0,5"), "Смещение_значения", "10"), "Делитель_шага", "2"),
                "Смещение", "40");
    EXPECT_EQ(Show(rows, image).editPoint, "0");  // (150 + 10) × 0.5 / 2 − 40
}

TEST(TableDisplay, OtherGrafValuesShowNothing) {
    Image image;
    for (const char* graf : {"1d", "2d", "3D", ""}) {
        const TableDisplay d = Show(With(Single("", "1"), "graf", graf), image);
        EXPECT_EQ(d.kind, TableKind::None) << graf;
        EXPECT_TRUE(d.error.empty());
    }
}

struct FailCase {
    const char* name;
    Rows rows;
    std::string errorPart;
    size_t valuesShown;  // value cells filled before the error
};

class DisplayFailure : public ::testing::TestWithParam<FailCase> {};

TEST_P(DisplayFailure, StopsWithAMessageNamingElementAndValue) {
    Image image;
    const TableDisplay d = Show(GetParam().rows, image);
    EXPECT_NE(d.error.find("«Таблица»"), std::string::npos) << d.error;
    EXPECT_NE(d.error.find(GetParam().errorPart), std::string::npos) << d.error;
    EXPECT_EQ(d.values.size(), GetParam().valuesShown);
    EXPECT_FALSE(d.editPoint.has_value());
    EXPECT_FALSE(d.chartFilled);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayFailure,
    ::testing::Values(
        FailCase{"EmptyStep", With(Single("", "1"), "Шаг", ""), "«Шаг» = «»", 0},
        FailCase{"MissingStep", Rows{{"graf", "1D"}, {"address", "00004A10"}},
                 "«Смещение_значения»", 0},
        FailCase{"MalformedStep", With(Single("", "1"), "Шаг", "1;5"), "«1;5»", 0},
        FailCase{"ZeroDivider", With(Single("", "1"), "Делитель_шага", "0"), "деление на ноль", 0},
        FailCase{"InverseOfZero", With(Single("", "1"), "Обратный_мультипликативный", "5"),
                 "значение 0", 0},
        FailCase{"CurveZeroDivider", With(Curve("4", "0", "3"), "Делитель_шага_по_Y", "0,0"),
                 "«0,0»", 0},
        FailCase{"CurveValueBeyondNumbers",
                 With(With(Curve("4", "0", "3"), "Шаг_по_Y", "1E4000"), "Смещение_по_оси_Y", "1"),
                 "значение точки 1 не помещается", 0},
        FailCase{"CurveOfOnePoint", Curve("1", "0", "3"), "не меньше двух точек", 0},
        FailCase{"CurveCountNotInteger", Curve("2,5", "0", "3"), "«2,5»", 0},
        FailCase{"CurveEmptyFirst", Curve("4", "", "3"), "«Первая_точка_по_оси_X»", 0},
        FailCase{"AddressLowerCase", Single("", "1", "00005c00"), "«00005c00»", 0},
        FailCase{"AddressShort", Single("", "1", "5C00"), "«5C00»", 0},
        FailCase{"AddressPastImage", Single("", "1", "00015C00"), "«00015C00»", 0},
        FailCase{"AddressMissing", Rows{{"graf", "1D"}, {"Шаг", "1"}}, "адрес «»", 0},
        FailCase{"SinglePastEnd", Single("2", "1", "0000FFFF"), "за конец образа", 0},
        FailCase{"CurvePastEnd", Curve("16", "0", "3", "0000FFF8"), "за конец образа", 0},
        FailCase{"CurveOver15Blocks", Curve("961", "0", "3", "00001000"), "15 блоков", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TableDisplay, ARefusedTableReadsNothingEvenWhereItWouldFit) {
    // The last byte of the image is fine to show as a single byte, not as
    // two; a curve needs its whole length inside the image.
    Image image;
    image.bytes[0xFFFF] = 42;
    EXPECT_EQ(Show(Single("", "1", "0000FFFF"), image).editPoint, "42");
    EXPECT_EQ(Show(Curve("16", "0", "15", "0000FFF0"), image).values.size(), 16u);
}

TEST(ChartRange, WidensAFlatCurveByFive) {
    EXPECT_EQ(ChartRange({3.0, 3.0}), std::make_pair(-2.0, 8.0));
    EXPECT_EQ(ChartRange({1.0, -2.0, 4.0}), std::make_pair(-2.0, 4.0));
}

namespace {

constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();

struct ChartCase {
    const char* name;
    std::vector<double> values;
};
void PrintTo(const ChartCase& c, std::ostream* os) {
    *os << c.name;
}

class ChartRangeOf : public ::testing::TestWithParam<ChartCase> {};

}  // namespace

// Whatever the values, the axis is finite and has a height, every value that
// is a number lands on the plot, and a pixel anywhere maps back to a finite
// value.
TEST_P(ChartRangeOf, IsFiniteWithRoomForEveryPoint) {
    const auto& values = GetParam().values;
    const auto [lo, hi] = ChartRange(values);
    ASSERT_TRUE(std::isfinite(lo) && std::isfinite(hi)) << lo << " " << hi;
    EXPECT_LT(lo, hi);
    const auto [axisLo, axisHi] = ChartAxisRange(values);
    ASSERT_TRUE(std::isfinite(axisLo) && std::isfinite(axisHi)) << axisLo << " " << axisHi;
    EXPECT_LT(axisLo, lo);
    EXPECT_GT(axisHi, hi);

    // A plot 300 pixels high, as the chart maps it.
    const double plot = 300;
    const double perPixel = (axisHi - axisLo) / plot;
    const double perUnit = plot / (axisHi - axisLo);
    ASSERT_TRUE(std::isfinite(perPixel) && perPixel > 0);
    ASSERT_TRUE(std::isfinite(perUnit) && perUnit > 0);
    for (const double v : values) {
        if (std::isnan(v)) continue;
        const double held = std::clamp(v, -kChartLimit, kChartLimit);
        EXPECT_GE(held, lo) << v;
        EXPECT_LE(held, hi) << v;
        const double y = (axisHi - held) * perUnit;
        EXPECT_TRUE(y > 0 && y < plot) << v << " at " << y;
    }
    for (const double y : {-1e6, -1.0, 0.0, 150.0, 300.0, 1e6}) {
        const double mapped = ChartDragValue(axisHi - y * perPixel, 0.0);
        EXPECT_TRUE(std::isfinite(mapped)) << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ValueSets, ChartRangeOf,
    ::testing::Values(
        ChartCase{"Empty", {}}, ChartCase{"Zero", {0.0}}, ChartCase{"EqualZeros", {0.0, 0.0, 0.0}},
        ChartCase{"Negative", {-7.5, -2.0, -9.0}}, ChartCase{"EqualNegative", {-4.0, -4.0}},
        ChartCase{"EqualHuge", {1e300, 1e300, 1e300}},
        ChartCase{"EqualHugeNegative", {-1e300, -1e300}},
        ChartCase{"HugeBothWays", {-1e300, 0.0, 1e300}}, ChartCase{"EqualMax", {kMax, kMax}},
        ChartCase{"MaxBothWays", {-kMax, kMax}}, ChartCase{"Infinite", {-kInf, 1.0, kInf}},
        ChartCase{"OnlyInfinite", {kInf}}, ChartCase{"NotANumber", {kNaN, 2.0, kNaN}},
        ChartCase{"OnlyNotANumber", {kNaN}}, ChartCase{"EqualDenormals", {kTiny, kTiny}},
        ChartCase{"Denormals", {kTiny, 2 * kTiny, -kTiny}},
        ChartCase{"DenormalAndZero", {0.0, kTiny}},
        ChartCase{"OneUlpApart", {1.0, std::nextafter(1.0, 2.0)}},
        ChartCase{"HugeOneUlpApart", {1e300, std::nextafter(1e300, kInf)}},
        ChartCase{"TinyAndHuge", {kTiny, 1e300}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChartRange, OrdinaryValuesKeepTheirRangeAndHugeOnesAreHeldApart) {
    EXPECT_EQ(ChartRange({-1e300, 1e300}), std::make_pair(-1e300, 1e300));
    EXPECT_EQ(ChartRange({0.0, 0.0}), std::make_pair(-5.0, 5.0));
    EXPECT_EQ(ChartRange({-kMax, kMax}), std::make_pair(-kChartLimit, kChartLimit));
    EXPECT_EQ(ChartRange({kNaN, 2.0, 6.0}), std::make_pair(2.0, 6.0));
    // Equal huge values get a band that still reads around them.
    const auto [lo, hi] = ChartRange({1e300, 1e300});
    EXPECT_LT(lo, 1e300);
    EXPECT_GT(hi, 1e300);
    EXPECT_GT(lo, 0.99e300);
    EXPECT_LT(hi, 1.01e300);
}

TEST(ChartRange, DraggedValueIsHeldFiniteAndNoNumberKeepsTheOldOne) {
    const struct {
        double mapped, previous, want;
    } cases[] = {
        {12.5, 3.0, 12.5},          {-1e300, 3.0, -1e300},    {kInf, 3.0, kChartLimit},
        {-kInf, 3.0, -kChartLimit}, {kMax, 3.0, kChartLimit}, {kNaN, 3.0, 3.0},
    };
    for (const auto& c : cases) EXPECT_EQ(ChartDragValue(c.mapped, c.previous), c.want) << c.mapped;
}

// --- Encoding ---

TableWrite Prepare(const Rows& rows, const ValueBoxes& boxes,
                   const std::vector<std::string>& cells = {}) {
    const PreparedWrite p = PrepareTableWrite(AttributeList("Таблица", rows), boxes, cells);
    EXPECT_TRUE(p.error.empty()) << p.error;
    return p.write;
}

struct EncodeCase {
    const char* name;
    Rows rows;
    std::string editPoint;
    std::vector<uint8_t> bytes;
    bool clamped;
};

class SingleEncoding : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(SingleEncoding, GivesTheRawBytesOfTheType) {
    const TableWrite w = Prepare(GetParam().rows, {GetParam().editPoint, "100000", "-100000"});
    EXPECT_EQ(w.kind, TableKind::Single);
    EXPECT_EQ(w.bytes, GetParam().bytes);
    EXPECT_EQ(w.width, static_cast<int>(GetParam().bytes.size()));
    EXPECT_EQ(w.notices.size(), GetParam().clamped ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SingleEncoding,
    ::testing::Values(EncodeCase{"Signed16", Single("3", "1"), "-1000", {0x18, 0xFC}, false},
                      EncodeCase{"Unsigned16", Single("2", "1"), "64536", {0x18, 0xFC}, false},
                      EncodeCase{"Signed8", Single("1", "1"), "-1", {0xFF}, false},
                      EncodeCase{"Unsigned8Scaled", Single("", "10"), "840", {84}, false},
                      EncodeCase{"Step01", Single("", "0.1"), "0,699999988079071", {7}, false},
                      EncodeCase{"TieDown", Single("", "1"), "2.5", {2}, false},
                      EncodeCase{"TieUp", Single("", "1"), "3.5", {4}, false},
                      EncodeCase{"Inverse",
                                 With(Single("", "1"), "Обратный_мультипликативный", "30000"),
                                 "200",
                                 {150},
                                 false},
                      // Non-zero "Смещение": the exact inverse of the display.
                      EncodeCase{
                          "Shift",
                          With(With(Single("", "1"), "Смещение", "40"), "Делитель_шага", "2"),
                          "30",
                          {140},
                          false},
                      EncodeCase{"Unsigned8Over", Single("", "1"), "300", {255}, true},
                      EncodeCase{"Unsigned8Under", Single("", "1"), "-1", {0}, true},
                      EncodeCase{"Signed8Over", Single("1", "1"), "128", {127}, true},
                      EncodeCase{"Signed16Under", Single("3", "1"), "-40000", {0x00, 0x80}, true},
                      EncodeCase{"Huge", Single("2", "1"), "1e30", {0xFF, 0xFF}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SingleEncoding, RoundTripsWhatTheDisplayShows) {
    // Every raw byte of a few scalings shows a value that writes back as the
    // same byte, the non-zero "Смещение" included.
    const Rows scalings[] = {
        Single("", "0.1"),
        Single("1", "10"),
        With(With(With(Single("", "0,5"), "Смещение_значения", "10"), "Делитель_шага", "3"),
             "Смещение", "40"),
        With(Single("", "1"), "Обратный_мультипликативный", "30000"),
    };
    Image image;
    for (const auto& rows : scalings)
        for (int b = 1; b < 256; ++b) {
            image.bytes[0x4A10] = static_cast<uint8_t>(b);
            const TableDisplay d = Show(rows, image);
            ASSERT_TRUE(d.editPoint) << d.error;
            const TableWrite w = Prepare(rows, {*d.editPoint, "100000", "-100000"});
            ASSERT_EQ(w.bytes, std::vector<uint8_t>{static_cast<uint8_t>(b)}) << *d.editPoint;
        }
}

TEST(SingleEncoding, KeepsToTheLimitBoxes) {
    const Rows rows = Single("", "10");
    TableWrite w = Prepare(rows, {"2000", "1500", "600"});
    EXPECT_EQ(w.editPoint, "1500");
    EXPECT_EQ(w.bytes, std::vector<uint8_t>{150});
    w = Prepare(rows, {"100", "1500", "600"});
    EXPECT_EQ(w.editPoint, "600");
    EXPECT_EQ(w.bytes, std::vector<uint8_t>{60});
    w = Prepare(rows, {"840", "1500", "600"});
    EXPECT_FALSE(w.editPoint.has_value());
}

TEST(SingleEncoding, AnyBadNumberStopsTheWrite) {
    const struct {
        Rows rows;
        ValueBoxes boxes;
        const char* part;
    } cases[] = {
        {Single("", "1"), {"5", "", "0"}, "максимальное значение «»"},
        {Single("", "1"), {"5", "10", "x"}, "минимальное значение «x»"},
        {Single("", "1"), {"", "10", "0"}, "текущее значение «»"},
        {Single("", "0"), {"5", "10", "0"}, "деление на ноль"},
        {With(Single("", "1"), "Смещение", "?"), {"5", "10", "0"}, "«?»"},
        {With(Single("", "1"), "Обратный_мультипликативный", "9"), {"0", "10", "0"}, "значение 0"},
        {Single("", "1", "00004a10"), {"5", "10", "0"}, "«00004a10»"},
    };
    for (const auto& c : cases) {
        const PreparedWrite p = PrepareTableWrite(AttributeList("Таблица", c.rows), c.boxes, {});
        EXPECT_EQ(p.write.kind, TableKind::None) << c.part;
        EXPECT_TRUE(p.write.bytes.empty());
        EXPECT_NE(p.error.find(c.part), std::string::npos) << p.error;
    }
}

TEST(CurveEncoding, InvertsTheDisplayAndClampsToTheByte) {
    auto rows = With(Curve("4", "0", "3"), "Тип_тарировки", "1");
    rows = With(With(rows, "Делитель_шага_по_Y", "2"), "Смещение_по_оси_Y", "10");
    // y × 2 / 1 + 10: −5.5 → −1 → 0xFF (signed); 0.25 → 10.5 → 10 (tie to even).
    const TableWrite w = Prepare(rows, {}, {"-5.5", "0,25", "100", "-100"});
    EXPECT_EQ(w.kind, TableKind::Curve);
    EXPECT_EQ(w.address, 0x5C00);
    EXPECT_EQ(w.adrf, "5C");
    EXPECT_EQ(w.adrs, "00");
    EXPECT_EQ(w.bytes, (std::vector<uint8_t>{0xFF, 10, 127, 0x80}));
    EXPECT_EQ(w.dataText, "25510127128");
    EXPECT_EQ(w.lenText, "4");
    EXPECT_EQ(w.notices.size(), 2u);  // 210 and −190 do not fit a signed byte
    // By index the bytes are unsigned.
    const TableWrite u =
        Prepare(With(rows, "Ось_x_по_таблице", "1"), {}, {"-5.5", "0", "100", "1"});
    EXPECT_EQ(u.bytes, (std::vector<uint8_t>{0, 10, 210, 12}));
}

TEST(CurveEncoding, RefusesWhatOneWriteCannotCarryWithinTheImage) {
    const struct {
        Rows rows;
        size_t cells;
        const char* part;
    } cases[] = {
        {Curve("16", "0", "1", "0000FFC8"), 16,
         "последний блок"},  // 16 bytes fit, the 64-byte block not
        {Curve("961", "0", "1", "00001000"), 961, "15 блоков"},
        {Curve("16", "0", "1", "0000FFF8"), 16, "за конец образа"},
        {Curve("16", "0", "1"), 15, "выберите таблицу снова"},
        {With(Curve("2", "0", "1"), "Шаг_по_Y", "0"), 2, "деление на ноль"},
    };
    for (const auto& c : cases) {
        const PreparedWrite p = PrepareTableWrite(AttributeList("Таблица", c.rows), {},
                                                  std::vector<std::string>(c.cells, "1"));
        EXPECT_EQ(p.write.kind, TableKind::None) << c.part;
        EXPECT_NE(p.error.find(c.part), std::string::npos) << p.error;
    }
    // 960 points (15 blocks) at the last place they fit are written.
    EXPECT_EQ(Prepare(Curve("960", "0", "1", "0000FC40"), {}, std::vector<std::string>(960, "1"))
                  .bytes.size(),
              960u);
}

TEST(StoreInImage, PutsTheBytesAtTheAddress) {
    Image image;
    const TableWrite w = Prepare(Single("3", "1"), {"-1000", "100000", "-100000"});
    StoreInImage(w, image.Span());
    EXPECT_EQ(image.bytes[0x4A10], 0x18);
    EXPECT_EQ(image.bytes[0x4A11], 0xFC);
    EXPECT_EQ(image.bytes[0x4A12], 0);
}

}  // namespace
