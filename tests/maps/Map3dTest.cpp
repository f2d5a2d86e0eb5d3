#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "maps/Map3d.h"
#include "maps/MapDocument.h"
#include "sim/Firmware.h"
#include "tests/maps/MapRows.h"

using namespace korvane::maps;

namespace {

using korvane::maps::test::Rows;
using korvane::maps::test::With;
using korvane::maps::test::Without;

Rows Base() {
    return {{"graf", "3D"},
            {"address", "00004000"},
            {"Число_точек_по_оси_X", "4"},
            {"Число_точек_по_оси_Y", "3"},
            {"Первая_точка_по_оси_X", "0"},
            {"Последняя_точка_по_оси_X", "30"},
            {"Первая_точка_по_оси_Y", "1000"},
            {"Последняя_точка_по_оси_Y", "3000"},
            {"Смещение_значения", "0"},
            {"Шаг", "1"},
            {"Делитель_шага", "2"},
            {"Смещение", "0"}};
}

Map3dRead Read(const Rows& rows) {
    return ReadMap3d(AttributeList("Карта", rows));
}

TEST(Map3dFormat, CellOrderPlacesCells) {
    struct Case {
        const char* order;  // nullptr: key absent
        size_t offsetOf21;  // cell x = 2, y = 1 of a 4 × 3 map at 0x4000
    } cases[] = {
        {nullptr, 0x4000 + 1 * 4 + 2},
        {"строки", 0x4000 + 1 * 4 + 2},
        {"столбцы", 0x4000 + 2 * 3 + 1},
    };
    for (const Case& c : cases) {
        Rows rows = Base();
        if (c.order) rows = With(rows, "Порядок_ячеек", c.order);
        const auto m = Read(rows);
        ASSERT_TRUE(m.map) << m.error;
        EXPECT_EQ(m.map->Layout().Offset(2, 1), c.offsetOf21) << (c.order ? c.order : "-");
        // Every cell has its own byte within the table.
        std::vector<size_t> seen;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) seen.push_back(m.map->Layout().Offset(x, y) - 0x4000);
        std::sort(seen.begin(), seen.end());
        for (size_t k = 0; k < seen.size(); ++k) EXPECT_EQ(seen[k], k);
    }
}

TEST(Map3dFormat, RawTypeAndFormula) {
    struct Case {
        const char* type;
        uint8_t byte;
        double value;  // (raw + 10) × 1 / 2 − 3
    } cases[] = {
        {nullptr, 0xFF, (255 + 10) / 2.0 - 3}, {"0", 0xFF, (255 + 10) / 2.0 - 3},
        {"2", 0x80, (128 + 10) / 2.0 - 3},  // any type but "1" is unsigned 8-bit
        {"1", 0xFF, (-1 + 10) / 2.0 - 3},      {"1", 0x80, (-128 + 10) / 2.0 - 3},
        {"1", 0x7F, (127 + 10) / 2.0 - 3},
    };
    for (const Case& c : cases) {
        Rows rows = With(With(Base(), "Смещение_значения", "10"), "Смещение", "3");
        if (c.type) rows = With(rows, "Тип_тарировки", c.type);
        const auto m = Read(rows);
        ASSERT_TRUE(m.map) << m.error;
        std::vector<uint8_t> image(kImageSize, 0);
        image[m.map->Layout().Offset(1, 1)] = c.byte;
        EXPECT_DOUBLE_EQ(m.map->ValueAt(ConstImageBytes(image.data(), kImageSize), 1, 1), c.value)
            << (c.type ? c.type : "-") << " " << int(c.byte);
        // The value goes back to the same byte.
        EXPECT_EQ(Map3dLayout::ByteOf(m.map->Encode(c.value).raw), c.byte);
        EXPECT_FALSE(m.map->Encode(c.value).held);
    }
}

TEST(Map3dFormat, AxesEvenlySpacedOrByIndex) {
    auto m = Read(Base());
    ASSERT_TRUE(m.map);
    EXPECT_DOUBLE_EQ(m.map->Layout().XAt(0), 0);
    EXPECT_DOUBLE_EQ(m.map->Layout().XAt(3), 30);
    EXPECT_DOUBLE_EQ(m.map->Layout().YAt(1), 2000);
    m = Read(With(With(Base(), "Ось_x_по_таблице", "1"), "ОСЬ_Y_ПО_ТАБЛИЦЕ", "да"));
    ASSERT_TRUE(m.map);
    EXPECT_DOUBLE_EQ(m.map->Layout().XAt(2), 2);
    EXPECT_DOUBLE_EQ(m.map->Layout().YAt(2), 2);
}

TEST(Map3dFormat, DecimalSeparatorOfEitherLocale) {
    const Rows rows =
        With(With(With(Base(), "Шаг", "0,5"), "Первая_точка_по_оси_X", "-1,5"), "MAX", "100.25");
    const auto m = Read(rows);
    ASSERT_TRUE(m.map) << m.error;
    EXPECT_DOUBLE_EQ(m.map->Layout().XAt(0), -1.5);
    EXPECT_DOUBLE_EQ(m.map->Value(10), 10 * 0.5 / 2);
    EXPECT_DOUBLE_EQ(*m.map->Layout().max, 100.25);
    const auto dotted = Read(With(With(Base(), "Шаг", "0.5"), "Первая_точка_по_оси_X", "-1.5"));
    ASSERT_TRUE(dotted.map);
    EXPECT_DOUBLE_EQ(dotted.map->Value(10), m.map->Value(10));
}

TEST(Map3dFormat, KeysMissingOrWrongNameTheReason) {
    struct Case {
        const char* key;
        const char* value;  // nullptr: the key is removed
        const char* inError;
    } cases[] = {
        {"address", nullptr, "адрес"},
        {"address", "0001400", "адрес"},
        {"address", "00014000", "адрес"},
        {"Число_точек_по_оси_X", nullptr, "Число_точек_по_оси_X"},
        {"Число_точек_по_оси_X", "1", "Число_точек_по_оси_X"},
        {"Число_точек_по_оси_X", "65", "Число_точек_по_оси_X"},
        {"Число_точек_по_оси_Y", "3,5", "Число_точек_по_оси_Y"},
        {"Число_точек_по_оси_Y", "-4", "Число_точек_по_оси_Y"},
        {"Первая_точка_по_оси_X", nullptr, "Первая_точка_по_оси_X"},
        {"Последняя_точка_по_оси_X", "x", "Последняя_точка_по_оси_X"},
        {"Первая_точка_по_оси_Y", "", "Первая_точка_по_оси_Y"},
        {"Последняя_точка_по_оси_Y", nullptr, "Последняя_точка_по_оси_Y"},
        {"Смещение_значения", nullptr, "Смещение_значения"},
        {"Шаг", "abc", "Шаг"},
        {"Шаг", "0", "деление на ноль"},
        {"Делитель_шага", "0", "деление на ноль"},
        {"Делитель_шага", nullptr, "Делитель_шага"},
        {"Смещение", "1e", "Смещение"},
        {"MIN", "мало", "MIN"},
        {"MAX", "", "MAX"},
        {"MIN", "500", "MIN"},  // above every value a byte holds: nothing allowed
        {"Порядок_ячеек", "диагонали", "Порядок_ячеек"},
        {"Шаг", "1e4000", "Шаг"},  // beyond a double
    };
    for (const Case& c : cases) {
        const Rows rows = c.value ? With(Base(), c.key, c.value) : Without(Base(), c.key);
        const auto m = Read(rows);
        EXPECT_FALSE(m.map) << c.key << " = " << (c.value ? c.value : "(нет)");
        EXPECT_NE(m.error.find(c.inError), std::string::npos) << m.error;
        EXPECT_NE(m.error.find("«Карта»"), std::string::npos) << m.error;
    }
}

TEST(Map3dFormat, TableEndingAtTheImageEnd) {
    // 4 × 3 = 12 cells: the last at 0xFFFF reads, one further does not.
    const auto fits = Read(With(Base(), "address", "0000FFF4"));
    ASSERT_TRUE(fits.map) << fits.error;
    EXPECT_EQ(fits.map->Layout().Offset(3, 2), 0xFFFFu);
    const auto past = Read(With(Base(), "address", "0000FFF5"));
    EXPECT_FALSE(past.map);
    EXPECT_NE(past.error.find("выходит за конец"), std::string::npos) << past.error;
    // 64 × 64 at 0xF000 ends exactly at the end too.
    const auto big =
        Read(With(With(With(Base(), "address", "0000F000"), "Число_точек_по_оси_X", "64"),
                  "Число_точек_по_оси_Y", "64"));
    EXPECT_TRUE(big.map) << big.error;
}

TEST(Map3dFormat, LimitsHoldEncoding) {
    // Value = raw / 2, MIN 10, MAX 20: raw 20 … 40.
    const auto m = Read(With(With(Base(), "MIN", "10"), "MAX", "20"));
    ASSERT_TRUE(m.map);
    EXPECT_EQ(m.map->LowestRaw(), 20);
    EXPECT_EQ(m.map->HighestRaw(), 40);
    struct Case {
        double value;
        int raw;
        bool held;
    } cases[] = {{15, 30, false},    {15.2, 30, false}, {15.25, 30, false},  // ties to even
                 {15.75, 32, false}, {25, 40, true},    {-1e300, 20, true}, {1e300, 40, true},
                 {9.9, 20, false},   {9.5, 20, true},   {20, 40, false}};
    for (const Case& c : cases) {
        const Encoded e = m.map->Encode(c.value);
        EXPECT_EQ(e.raw, c.raw) << c.value;
        EXPECT_EQ(e.held, c.held) << c.value;
    }
    // Without limits only the raw type holds.
    const auto free = Read(With(Base(), "Тип_тарировки", "1"));
    ASSERT_TRUE(free.map);
    EXPECT_EQ(free.map->Encode(1000).raw, 127);
    EXPECT_EQ(free.map->Encode(-1000).raw, -128);
    EXPECT_TRUE(free.map->Encode(-1000).held);
}

TEST(Map3dFormat, OnlyThe3dKind) {
    EXPECT_TRUE(IsMap3d(AttributeList("A", Base())));
    EXPECT_FALSE(IsMap3d(AttributeList("A", With(Base(), "graf", "2D"))));
    // The older kinds read as before: the codec shows nothing for "3D".
    std::vector<uint8_t> image(kImageSize, 0);
    const TableDisplay d =
        ShowTable(AttributeList("A", Base()), ConstImageBytes(image.data(), kImageSize), ',');
    EXPECT_EQ(d.kind, TableKind::None);
    EXPECT_TRUE(d.error.empty());
}

TEST(Map3dFormat, DemoMapsReadOverTheSyntheticImage) {
    const auto image = korvane::sim::MakeSyntheticFirmware(1);
    MapDocument doc;
    ASSERT_TRUE(doc.LoadBytes(korvane::sim::MakeDemoMapCp1251(image)).ok);
    int maps = 0;
    for (const auto& t : korvane::sim::DemoTables()) {
        if (t.rows == 0) continue;
        ++maps;
        const std::string path = t.path;
        pugi::xml_node node = doc.Document().document_element();
        for (size_t from = 0; node;) {
            const size_t slash = path.find('/', from);
            node = node.child(path.substr(from, slash - from).c_str());
            if (slash == std::string::npos) break;
            from = slash + 1;
        }
        ASSERT_TRUE(node) << t.path;
        const auto m = ReadMap3d(AttributeList(NodeName(node), NodeAttributes(node)));
        ASSERT_TRUE(m.map) << m.error;
        EXPECT_EQ(m.map->Layout().address, t.address);
        EXPECT_EQ(m.map->Layout().nx, t.points);
        EXPECT_EQ(m.map->Layout().ny, t.rows);
        // The image's cells lie within the map's limits.
        const ConstImageBytes bytes(image.data(), kImageSize);
        for (int y = 0; y < t.rows; ++y)
            for (int x = 0; x < t.points; ++x)
                EXPECT_TRUE(m.map->Allowed(m.map->RawAt(bytes, x, y)))
                    << t.path << " " << x << "," << y;
    }
    EXPECT_GE(maps, 3);
}

}  // namespace
