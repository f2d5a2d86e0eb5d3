#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "maps/Map3dEditor.h"
#include "tests/maps/MapRows.h"

using namespace korvane::maps;

namespace {

using korvane::maps::test::Rows;

Rows Layout(int nx, int ny, const char* order, const char* min = nullptr,
            const char* max = nullptr) {
    Rows r = {{"graf", "3D"},
              {"address", "00002000"},
              {"Число_точек_по_оси_X", std::to_string(nx)},
              {"Число_точек_по_оси_Y", std::to_string(ny)},
              {"Первая_точка_по_оси_X", "0"},
              {"Последняя_точка_по_оси_X", "1"},
              {"Первая_точка_по_оси_Y", "0"},
              {"Последняя_точка_по_оси_Y", "1"},
              {"Смещение_значения", "0"},
              {"Шаг", "1"},
              {"Делитель_шага", "1"},
              {"Смещение", "0"},
              {"Порядок_ячеек", order}};
    if (min) r.push_back({"MIN", min});
    if (max) r.push_back({"MAX", max});
    return r;
}

// A small map on a 64 KiB image whose every store is recorded.
struct Fixture {
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0xAA);
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> stores;
    EditHistory history;
    Map3dEditor editor;

    explicit Fixture(const Rows& rows)
        : editor(
              *ReadMap3d(AttributeList("Карта", rows)).map,
              [this] { return ConstImageBytes(image.data(), kImageSize); },
              [this](uint16_t at, std::span<const uint8_t> bytes) {
                  stores.push_back({at, {bytes.begin(), bytes.end()}});
                  std::copy(bytes.begin(), bytes.end(), image.begin() + at);
              },
              history, '.') {
        for (int y = 0; y < editor.Layout().ny; ++y)
            for (int x = 0; x < editor.Layout().nx; ++x) Put(x, y, 10 * y + x);
        stores.clear();
    }
    void Put(int x, int y, int raw) {
        image[editor.Layout().Offset(x, y)] = static_cast<uint8_t>(raw);
    }
    int At(int x, int y) const { return editor.Raw(x, y); }
};

TEST(Map3dEditor, InterpolationGivesBilinearAndLinearValues) {
    Fixture f(Layout(5, 4, "строки"));
    f.Put(0, 0, 0), f.Put(4, 0, 40), f.Put(0, 3, 120), f.Put(4, 3, 200);
    f.editor.Select(0, 0, 4, 3);
    f.editor.InterpolateArea();
    for (int y = 0; y <= 3; ++y)
        for (int x = 0; x <= 4; ++x) {
            const double u = x / 4.0, v = y / 3.0;
            const double expected =
                0 * (1 - u) * (1 - v) + 40 * u * (1 - v) + 120 * (1 - u) * v + 200 * u * v;
            EXPECT_EQ(f.At(x, y), std::lround(expected)) << x << "," << y;
        }

    // Rows: each row between its own ends; the columns outside stay.
    Fixture r(Layout(5, 3, "столбцы"));
    r.Put(1, 1, 100), r.Put(4, 1, 160);
    r.editor.Select(1, 0, 4, 1);
    r.editor.InterpolateRows();
    EXPECT_EQ(r.At(2, 1), 120);
    EXPECT_EQ(r.At(3, 1), 140);
    EXPECT_EQ(r.At(2, 0), 2);  // 1 … 4 in row 0 were linear already
    EXPECT_EQ(r.At(0, 1), 10);

    Fixture c(Layout(3, 5, "строки"));
    c.Put(2, 0, 0), c.Put(2, 4, 100);
    c.editor.Select(2, 0, 2, 4);
    c.editor.InterpolateColumns();
    for (int y = 0; y <= 4; ++y) EXPECT_EQ(c.At(2, y), 25 * y);
}

TEST(Map3dEditor, PasteLandsAtTheSelectionAndRefusesText) {
    Fixture f(Layout(6, 5, "столбцы"));
    f.editor.Select(2, 1, 2, 1);
    const EditResult ok = f.editor.Paste("1\t2\t3\r\n4\t5,5\t6\r\n");
    EXPECT_TRUE(ok.log.empty());
    const int expected[2][3] = {{1, 2, 3}, {4, 6, 6}};  // 5,5 -> 6 (ties to even)
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool in = x >= 2 && x <= 4 && y >= 1 && y <= 2;
            EXPECT_EQ(f.At(x, y), in ? expected[y - 1][x - 2] : 10 * y + x) << x << "," << y;
        }

    // Text that is no number: nothing changes and the cell is named.
    const auto before = f.image;
    const EditResult bad = f.editor.Paste("1\t2\t3\n4\tпять\t6\n");
    EXPECT_TRUE(bad.refused);
    EXPECT_EQ(f.image, before);
    ASSERT_EQ(bad.log.size(), 1u);
    EXPECT_NE(bad.log[0].find("строка 2, столбец 2 «пять»"), std::string::npos) << bad.log[0];

    // A block past the table's edge fills what fits and says so.
    f.editor.Select(4, 4, 4, 4);
    const EditResult trimmed = f.editor.Paste("7\t8\t9\n");
    EXPECT_EQ(f.At(4, 4), 7);
    EXPECT_EQ(f.At(5, 4), 8);
    ASSERT_FALSE(trimmed.log.empty());
    EXPECT_NE(trimmed.log.back().find("2 из 3"), std::string::npos) << trimmed.log.back();

    // A larger selection takes only what fits inside it.
    f.editor.Select(0, 0, 1, 0);
    f.editor.Paste("50\t51\t52\n53\t54\t55\n");
    EXPECT_EQ(f.At(0, 0), 50);
    EXPECT_EQ(f.At(1, 0), 51);
    EXPECT_EQ(f.At(2, 0), 2);
    EXPECT_EQ(f.At(0, 1), 10);
}

TEST(Map3dEditor, CopyGivesTheShownValues) {
    Rows rows = Layout(3, 2, "строки");
    for (auto& [k, v] : rows)
        if (k == "Делитель_шага") v = "4";
    Fixture f(rows);
    f.Put(0, 0, 1), f.Put(1, 0, 2), f.Put(2, 0, 6), f.Put(0, 1, 8), f.Put(1, 1, 9), f.Put(2, 1, 10);
    f.editor.SelectAll();
    EXPECT_EQ(f.editor.Copy(), "0.25\t0.5\t1.5\n2\t2.25\t2.5\n");
    // What was copied pastes back to the same bytes.
    const auto before = f.image;
    f.editor.Select(0, 0, 0, 0);
    f.editor.Paste(f.editor.Copy());
    EXPECT_EQ(f.image, before);
}

// Every operation, undone, gives back the exact bytes; redone, its result.
TEST(Map3dEditor, UndoAndRedoEveryOperation) {
    struct Case {
        const char* name;
        std::function<EditResult(Map3dEditor&)> run;
    };
    std::vector<uint8_t> other(kImageSize, 77);
    const Case cases[] = {
        {"=", [](Map3dEditor& e) { return e.SetValue(42); }},
        {"+", [](Map3dEditor& e) { return e.AddValue(-3); }},
        {"%", [](Map3dEditor& e) { return e.ScalePercent(5); }},
        {"step", [](Map3dEditor& e) { return e.Step(true, false); }},
        {"big step", [](Map3dEditor& e) { return e.Step(false, true); }},
        {"rows", [](Map3dEditor& e) { return e.InterpolateRows(); }},
        {"columns", [](Map3dEditor& e) { return e.InterpolateColumns(); }},
        {"area", [](Map3dEditor& e) { return e.InterpolateArea(); }},
        {"smooth", [](Map3dEditor& e) { return e.Smooth(); }},
        {"paste", [](Map3dEditor& e) { return e.Paste("1\t2\n3\t4\n"); }},
        {"take",
         [&](Map3dEditor& e) { return e.TakeFrom(ConstImageBytes(other.data(), kImageSize)); }},
    };
    for (const char* order : {"строки", "столбцы"})
        for (const Case& c : cases) {
            Fixture f(Layout(5, 4, order));
            f.Put(1, 1, 90), f.Put(3, 2, 5);  // something for smoothing and interpolation
            f.editor.Select(1, 0, 3, 3);
            const auto before = f.image;
            const EditResult r = c.run(f.editor);
            ASSERT_GT(r.changed, 0) << c.name;
            const auto after = f.image;
            // Only the table's bytes moved, each through one store per run.
            for (size_t k = 0; k < kImageSize; ++k)
                if (k < 0x2000 || k >= 0x2000 + 20) {
                    ASSERT_EQ(after[k], 0xAA) << c.name;
                }
            EXPECT_FALSE(f.stores.empty());
            EXPECT_FALSE(f.history
                             .Undo([&](uint16_t at, std::span<const uint8_t> b) {
                                 std::copy(b.begin(), b.end(), f.image.begin() + at);
                             })
                             .empty());
            EXPECT_EQ(f.image, before) << c.name << " " << order;
            f.history.Redo([&](uint16_t at, std::span<const uint8_t> b) {
                std::copy(b.begin(), b.end(), f.image.begin() + at);
            });
            EXPECT_EQ(f.image, after) << c.name << " " << order;
        }
}

TEST(Map3dEditor, StoresOneCallPerChangedRun) {
    Fixture f(Layout(4, 4, "строки"));
    f.editor.Select(1, 1, 2, 2);
    f.editor.SetValue(0);
    // Rows order: two rows of two adjacent cells each.
    ASSERT_EQ(f.stores.size(), 2u);
    EXPECT_EQ(f.stores[0].first, 0x2000 + 5);
    EXPECT_EQ(f.stores[0].second.size(), 2u);
    EXPECT_EQ(f.stores[1].first, 0x2000 + 9);
    // A change to the same values stores nothing and leaves no undo step.
    f.stores.clear();
    const size_t depth = f.history.UndoDepth();
    EXPECT_EQ(f.editor.SetValue(0).changed, 0);
    EXPECT_TRUE(f.stores.empty());
    EXPECT_EQ(f.history.UndoDepth(), depth);
    // A new change drops what could be redone.
    f.history.Undo([](uint16_t, std::span<const uint8_t>) {});
    EXPECT_TRUE(f.history.CanRedo());
    f.editor.AddValue(1);
    EXPECT_FALSE(f.history.CanRedo());
}

TEST(Map3dEditor, LimitsHoldAndAreLogged) {
    Fixture f(Layout(3, 3, "строки", "5", "25"));
    f.editor.SelectAll();
    const EditResult up = f.editor.AddValue(10);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            EXPECT_LE(f.At(x, y), 25);
            EXPECT_GE(f.At(x, y), 5);
        }
    EXPECT_EQ(f.At(0, 0), 10);  // 0 + 10 lies within
    EXPECT_EQ(f.At(2, 2), 25);  // 22 + 10 held at 25
    ASSERT_EQ(up.log.size(), 1u);
    EXPECT_NE(up.log[0].find("удержано"), std::string::npos);
    EXPECT_NE(up.log[0].find("5 … 25"), std::string::npos) << up.log[0];

    // Steps: one raw step, a tenth of the allowed range, held at the ends;
    // "up" raises the value even when the step is negative.
    Rows negative = Layout(2, 2, "строки");
    for (auto& [k, v] : negative)
        if (k == "Шаг") v = "-1";
    Fixture n(negative);
    n.Put(0, 0, 100);
    n.editor.Select(0, 0, 0, 0);
    const double v0 = n.editor.Value(0, 0);
    n.editor.Step(true, false);
    EXPECT_DOUBLE_EQ(n.editor.Value(0, 0), v0 + 1);
    n.editor.Step(true, true);
    EXPECT_DOUBLE_EQ(n.editor.Value(0, 0), v0 + 1 + 25);
    n.editor.SetValue(-254);
    const EditResult held = n.editor.Step(false, true);
    EXPECT_DOUBLE_EQ(n.editor.Value(0, 0), -255);
    EXPECT_FALSE(held.log.empty());
}

TEST(Map3dEditor, SmoothMovesHalfwayToTheNeighbourMean) {
    Fixture f(Layout(3, 3, "строки"));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) f.Put(x, y, 0);
    f.Put(1, 1, 80);
    f.editor.SelectAll();
    f.editor.Smooth();
    EXPECT_EQ(f.At(1, 1), 40);  // mean of the neighbours 0
    EXPECT_EQ(f.At(0, 0), 13);  // (0 + 80 / 3) / 2, from the old values
    EXPECT_EQ(f.At(1, 0), 8);   // (0 + 80 / 5) / 2
}

TEST(Map3dEditor, SplitTabTextAndRuns) {
    EXPECT_EQ(SplitTabText("a\tb\r\nc\n"),
              (std::vector<std::vector<std::string>>{{"a", "b"}, {"c"}}));
    EXPECT_EQ(SplitTabText("x\t"), (std::vector<std::vector<std::string>>{{"x", ""}}));
    EXPECT_TRUE(SplitTabText("").empty());
    const auto runs = MergeRuns({7, 3, 4, 5, 9, 8, 4});
    EXPECT_EQ(runs, (std::vector<std::pair<size_t, size_t>>{{3, 3}, {7, 3}}));
}

TEST(Map3dEditor, TableDiffersForEveryKind) {
    std::vector<uint8_t> a(kImageSize, 0), b(kImageSize, 0);
    const ConstImageBytes A(a.data(), kImageSize), B(b.data(), kImageSize);
    const AttributeList map("M", Layout(4, 4, "строки"));
    const AttributeList curve(
        "C", {{"graf", "2D"}, {"address", "00003000"}, {"Число_точек_по_оси_X", "16"}});
    const AttributeList single("S",
                               {{"graf", "1D"}, {"address", "00003100"}, {"Тип_тарировки", "2"}});
    EXPECT_FALSE(TableDiffers(map, A, B));
    b[0x2000 + 15] = 1;
    b[0x3000 + 15] = 1;
    b[0x3101] = 1;
    EXPECT_TRUE(TableDiffers(map, A, B));
    EXPECT_TRUE(TableDiffers(curve, A, B));
    EXPECT_TRUE(TableDiffers(single, A, B));
    b[0x2000 + 16] = 1;  // just past the map
    b[0x2000 + 15] = 0;
    EXPECT_FALSE(TableDiffers(map, A, B));
}

}  // namespace
