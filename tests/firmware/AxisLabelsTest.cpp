// The tuning grid's axis labels as they follow from the image's two grid
// maps and its step marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "firmware/AxisLabels.h"
#include "firmware/FirmwareImage.h"

namespace korvane::firmware {
namespace {

using Labels = std::array<int32_t, 16>;
using Map = std::function<int(int m)>;  // entry m of a grid map

constexpr uint8_t kMarker[] = {0x90, 0x61, 0x3C, 0xE5};

struct Image {
    std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>();
    std::span<uint8_t, kImageSize> bytes = image->Bytes();

    void RowMap(const Map& f) {
        for (int m = 0; m < 256; ++m) bytes[kRpmGridMap + m] = static_cast<uint8_t>(f(m));
    }
    void ColumnMap(const Map& f) {
        for (int m = 0; m < 256; ++m) bytes[kThrottleGridMap + m] = static_cast<uint8_t>(f(m));
    }
    void Marker(std::size_t at, uint8_t stepByte) {
        std::copy(std::begin(kMarker), std::end(kMarker), bytes.begin() + at);
        bytes[at + 4] = stepByte;
    }
};

// Rows: zero up to step 19, then 4 per step (a position every 4 steps).
int Rows4(int m) {
    return m < 20 ? 0 : std::min(255, 4 * (m - 19));
}
// Columns: 2.4 per percent, so some positions fall between two entries.
int Columns240(int m) {
    return std::min(255, 240 * m / 100);
}

Labels Arithmetic(int32_t first, int32_t step, int32_t last) {
    Labels l{};
    for (int i = 0; i < 15; ++i) l[i] = first + step * i;
    l[15] = last;
    return l;
}

const Labels kColumns240 = {0, 7, 13, 20, 27, 33, 40, 47, 53, 60, 67, 73, 80, 87, 93, 100};

struct LabelCase {
    const char* name;
    std::function<void(Image&)> build;
    int32_t rpmStep;
    bool signatureFound;
    Labels rows;
    Labels cols;
};
void PrintTo(const LabelCase& c, std::ostream* os) {
    *os << c.name;
}

class Derivation : public ::testing::TestWithParam<LabelCase> {};

TEST_P(Derivation, LabelsAndStep) {
    const LabelCase& c = GetParam();
    Image img;
    c.build(img);
    const GridLabels got = Namesstringgrid(img.image->Bytes());
    EXPECT_EQ(got.rpmStep, c.rpmStep);
    EXPECT_EQ(got.signatureFound, c.signatureFound);
    EXPECT_EQ(got.rows, c.rows);
    EXPECT_EQ(got.cols, c.cols);
}

// Columns of an image whose throttle map is blank: only the fixed ends and
// the first position's 0 are known.
Labels BlankColumns() {
    Labels l{};
    l[0] = 0;
    for (int i = 1; i < 15; ++i) l[i] = (100 * (i - 1) + 7) / 14;
    l[15] = 100;
    return l;
}

const LabelCase kDerivations[] = {
    {"Step30",
     [](Image& i) {
         i.RowMap(Rows4);
         i.ColumnMap(Columns240);
         i.Marker(0x1000, 0x54);
     },
     30, true, Arithmetic(570, 120, 7560), kColumns240},
    {"Step40",
     [](Image& i) {
         i.RowMap(Rows4);
         i.ColumnMap(Columns240);
         i.Marker(0x1000, 0x55);
     },
     40, true, Arithmetic(760, 160, 8000), kColumns240},
    {"NoMarker",
     [](Image& i) {
         i.RowMap(Rows4);
         i.ColumnMap(Columns240);
     },
     kDefaultRpmStep, false, Arithmetic(760, 160, 8000), kColumns240},
    {"LastMarkerWins",
     [](Image& i) {
         i.RowMap(Rows4);
         i.ColumnMap(Columns240);
         i.Marker(0x0100, 0x55);
         i.Marker(0x9000, 0x54);
     },
     30, true, Arithmetic(570, 120, 7560), kColumns240},
    {"OtherFifthByteChangesNothing",
     [](Image& i) {
         i.RowMap(Rows4);
         i.ColumnMap(Columns240);
         i.Marker(0x0100, 0x54);
         i.Marker(0x9000, 0x56);
     },
     30, true, Arithmetic(570, 120, 7560), kColumns240},
    {"MarkerAtTheVeryEnd",
     [](Image& i) {
         i.RowMap(Rows4);
         i.ColumnMap(Columns240);
         i.Marker(kImageSize - 5, 0x54);
     },
     30, true, Arithmetic(570, 120, 7560), kColumns240},
    {"MarkerWithoutFifthByte",
     [](Image& i) {
         i.RowMap(Rows4);
         i.ColumnMap(Columns240);
         // The last four bytes: there is no step byte after them.
         std::copy(std::begin(kMarker), std::end(kMarker), i.bytes.end() - 4);
     },
     kDefaultRpmStep, false, Arithmetic(760, 160, 8000), kColumns240},
    // The row map climbs to position 2, steps over 3 straight to 6 and never
    // comes back to 4: positions 4 to 14 are filled in between 3 and 15. A
    // blank throttle map leaves 2 to 14 to be filled between 1 and 15.
    {"Gaps",
     [](Image& i) {
         i.RowMap([](int m) {
             return m < 10 ? 0 : m == 10 ? 16 : m < 20 ? 32 : 96 + (m - 20) / 4;
         });
         i.Marker(0x2000, 0x55);
     },
     40, true,
     Labels{360, 400, 440, 800, 1400, 2000, 2600, 3200, 3800, 4400, 5000, 5600, 6200, 6800, 7400,
            8000},
     BlankColumns()},
    // No entry is 0: the speed label below the first known one takes its
    // value.
    {"NoZeroEntry",
     [](Image& i) {
         i.RowMap([](int m) { return std::min(255, 16 + 4 * m); });
         i.ColumnMap(Columns240);
         i.Marker(0x2000, 0x55);
     },
     40, true,
     [] {
         Labels l = Arithmetic(-160, 160, 8000);
         l[0] = l[1];
         return l;
     }(),
     kColumns240},
};

INSTANTIATE_TEST_SUITE_P(Images, Derivation, ::testing::ValuesIn(kDerivations),
                         [](const auto& info) { return std::string(info.param.name); });

// The labels a position gets when the map steps over it: the later entry's
// speed, but the earlier entry's throttle.
TEST(SteppedOver, RowsTakeTheLaterEntryColumnsTheEarlier) {
    // 0, 16, then every entry half way between two positions: 24, 40, 56, ...
    std::array<uint8_t, kGridMapSize> map{};
    for (int m = 1; m < 256; ++m)
        map[m] = static_cast<uint8_t>(m == 1 ? 16 : std::min(255, 16 * m - 8));
    const AxisLabels rows = RowLabels(map, 40);
    const AxisLabels cols = ColumnLabels(map);
    EXPECT_EQ(rows[0], 0);
    EXPECT_EQ(rows[1], 40);
    EXPECT_EQ(cols[1], 1);
    for (int k = 2; k < 15; ++k) {
        EXPECT_EQ(rows[k], 40 * (k + 1)) << k;
        EXPECT_EQ(cols[k], k) << k;
    }
    EXPECT_EQ(rows[15], 8000);
    EXPECT_EQ(cols[15], 100);
}

// A position the map jumps over straight after an exact entry is never
// reached, and neither is any later one.
TEST(SteppedOver, AJumpAfterAnExactEntryLeavesTheRestUnreached) {
    std::array<uint8_t, kGridMapSize> map{};
    for (int m = 1; m < 256; ++m)
        map[m] = static_cast<uint8_t>(m == 1 ? 16 : std::min(255, 40 + m));
    const AxisLabels rows = RowLabels(map, 30);
    EXPECT_EQ(rows[1], 30);
    for (int k = 2; k < 15; ++k) EXPECT_FALSE(rows[k].has_value()) << k;
    EXPECT_EQ(rows[15], 7560);
}

TEST(FillGaps, InterpolatesBetweenAndCarriesTheEdgesOutwards) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int32_t>> known;
        Labels want;
    };
    const Case cases[] = {
        {"none known", {}, Labels{}},
        {"one known",
         {{5, 42}},
         [] {
             Labels l;
             l.fill(42);
             return l;
         }()},
        {"edges only",
         {{0, 0}, {15, 150}},
         Labels{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150}},
        {"rounded to the nearest",
         {{0, 0}, {3, 10}, {15, 10}},
         Labels{0, 3, 7, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}},
        {"inner known only",
         {{4, 400}, {6, 800}},
         Labels{400, 400, 400, 400, 400, 600, 800, 800, 800, 800, 800, 800, 800, 800, 800, 800}},
    };
    for (const Case& c : cases) {
        AxisLabels in;
        for (auto [i, v] : c.known) in[i] = v;
        EXPECT_EQ(FillGaps(in), c.want) << c.name;
    }
}

}  // namespace
}  // namespace korvane::firmware
