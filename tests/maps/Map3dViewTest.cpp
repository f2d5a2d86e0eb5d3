// Two-axis maps in the map editor, with the simulator's demo map and image:
// the grid in place of the pages, a comparison with a second image and
// "Взять из образа", undo over every table, the reason for a map that does
// not read, the live point.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <map>

#include "maps/ui/Map3dView.h"
#include "maps/ui/MapGrid.h"
#include "sim/Firmware.h"
#include "tests/maps/PanelFixture.h"

using namespace korvane;
using namespace korvane::maps;
namespace fs = std::filesystem;

namespace {

const char* kPhaseMap = "Демо_прошивка/Топливо/Фаза_впрыска_по_оборотам_и_дросселю";
const char* kIgnition = "Демо_прошивка/Зажигание/УОЗ_основной";
const char* kCold = "Демо_прошивка/Топливо/Коррекция_по_ТОЖ";
constexpr size_t kPhaseAddress = 0x5D00;  // 16 × 11, "строки"

class MapView : public test::PanelFixture {
  protected:
    MapView() : PanelFixture("korvane_map3d_") {
        connected = false;  // at the desk: the image only
    }

    void Select(const char* path) {
        QTreeWidgetItem* item = panel->ItemByNames(QString::fromUtf8(path));
        ASSERT_NE(item, nullptr) << path;
        for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) p->setExpanded(true);
        panel->TreeView->setCurrentItem(item);
    }
    bool Marked(const char* path) const {
        return panel->ItemByNames(QString::fromUtf8(path))->data(0, Qt::UserRole + 1).toBool();
    }
    MapGrid* Grid() const { return panel->View3d()->Grid(); }
    void ClickCell(int x, int y, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::mouseClick(Grid(), Qt::LeftButton, m, Grid()->CellBox(x, y).center());
    }
    QToolButton* Button(const char* name) {
        return panel->View3d()->findChild<QToolButton*>(QString::fromLatin1(name));
    }
};

TEST_F(MapView, PickingAMapShowsTheGridInPlaceOfThePages) {
    Load(dir / "demo.xml");
    Select(kPhaseMap);
    ASSERT_TRUE(panel->View3d()->isVisible());
    ASSERT_NE(panel->View3d()->Editor(), nullptr);
    EXPECT_EQ(viewShown, std::vector<bool>{true});
    EXPECT_EQ(panel->View3d()->Editor()->Layout().nx, 16);
    // A curve brings the pages back.
    Select(kCold);
    EXPECT_FALSE(panel->View3d()->isVisible());
    EXPECT_EQ(viewShown, (std::vector<bool>{true, false}));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
}

TEST_F(MapView, CompareMarksTablesAndTakeFromImageIsUndoable) {
    std::vector<uint8_t> other = image;
    other[kPhaseAddress + 1 * 16 + 2] ^= 0x10;  // cell (2, 1) of the phase map
    other[0x5C05] ^= 0x01;                      // a point of the cold correction curve
    std::ofstream(dir / "other.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(other.data()),
               static_cast<std::streamsize>(other.size()));
    Load(dir / "demo.xml");
    Select(kPhaseMap);
    answers << QString::fromStdString((dir / "other.bin").string());
    Button("Map3dCompare")->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_TRUE(Marked(kPhaseMap));
    EXPECT_TRUE(Marked(kCold));
    EXPECT_FALSE(Marked(kIgnition));
    EXPECT_FALSE(Marked("Демо_прошивка/Холостой_ход/Обороты_ХХ"));
    EXPECT_TRUE(
        panel->View3d()->findChild<QLabel*>("Map3dInfo")->text().contains("Отличается ячеек: 1"));

    const std::vector<uint8_t> before = image;
    ClickCell(1, 0);
    ClickCell(3, 2, Qt::ShiftModifier);
    Button("Map3dTake")->click();
    EXPECT_EQ(image[kPhaseAddress + 1 * 16 + 2], other[kPhaseAddress + 1 * 16 + 2]);
    for (size_t k = 0; k < kImageSize; ++k)
        if (k != kPhaseAddress + 1 * 16 + 2) {
            ASSERT_EQ(image[k], before[k]) << k;
        }
    EXPECT_FALSE(Marked(kPhaseMap));  // equal now
    EXPECT_TRUE(Marked(kCold));
    EXPECT_EQ(deskEdits, 1);
    panel->Undo();
    EXPECT_EQ(image, before);
    EXPECT_TRUE(Marked(kPhaseMap));

    // A file that is no image is refused and the comparison stays.
    std::ofstream(dir / "short.bin", std::ios::binary) << "abc";
    answers << QString::fromStdString((dir / "short.bin").string());
    Button("Map3dCompare")->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(Marked(kPhaseMap));
}

TEST_F(MapView, UndoCoversEveryTableUntilAnotherImageIsLoaded) {
    Load(dir / "demo.xml");
    const std::vector<uint8_t> original = image;
    // A curve point written with the write button …
    Select(kCold);
    QTableWidgetItem* cell = panel->StringGrid4->item(1, 3);
    ASSERT_NE(cell, nullptr);
    cell->setText("1.25");
    panel->Button5->click();
    const std::vector<uint8_t> afterCurve = image;
    ASSERT_TRUE(afterCurve != original);
    // … then a cell of a map typed in.
    Select(kIgnition);
    ClickCell(4, 4);
    QTest::keyClicks(Grid(), "7");
    QTest::keyClick(Grid()->findChild<QLineEdit*>("MapGridEdit"), Qt::Key_Return);
    const size_t at = panel->View3d()->Editor()->Layout().Offset(4, 4);
    EXPECT_EQ(image[at], 14);  // 7 degrees × 2
    const std::vector<uint8_t> afterMap = image;

    panel->Undo();
    EXPECT_EQ(image, afterCurve);
    panel->Undo();
    EXPECT_EQ(image, original);
    panel->Redo();
    panel->Redo();
    EXPECT_EQ(image, afterMap);
    EXPECT_EQ(log.filter("Отменено").size(), 2);

    panel->ImageReloaded();
    EXPECT_FALSE(panel->History().CanUndo());
    panel->Undo();
    EXPECT_EQ(image, afterMap);
}

TEST_F(MapView, AMapThatDoesNotReadShowsTheReasonAndWritesNothing) {
    std::string xml =
        "<Карта><Большая graf=\"3D\" address=\"0000FF00\" Число_точек_по_оси_X=\"16\" "
        "Число_точек_по_оси_Y=\"17\" Первая_точка_по_оси_X=\"0\" Последняя_точка_по_оси_X=\"1\" "
        "Первая_точка_по_оси_Y=\"0\" Последняя_точка_по_оси_Y=\"1\" Смещение_значения=\"0\" "
        "Шаг=\"1\" Делитель_шага=\"1\" Смещение=\"0\"/></Карта>";
    std::ofstream(dir / "bad.xml", std::ios::binary) << xml;
    Load(dir / "bad.xml");
    const std::vector<uint8_t> before = image;
    Select("Карта/Большая");
    EXPECT_TRUE(panel->View3d()->isVisible());
    EXPECT_EQ(panel->View3d()->Editor(), nullptr);
    EXPECT_TRUE(panel->View3d()->Reason()->isVisible());
    EXPECT_TRUE(panel->View3d()->Reason()->text().contains("выходит за конец"))
        << panel->View3d()->Reason()->text().toStdString();
    Button("Map3dScale")->click();
    panel->Undo();
    EXPECT_EQ(image, before);
}

TEST_F(MapView, LivePointFollowsTheAxesLiveValues) {
    Load(dir / "demo.xml");
    Select(kPhaseMap);  // 600 … 6600 rpm over 16 columns, 0 … 100 % over 11 rows
    live::LiveValues v;
    v.Rpm = 2600;
    v.ThrottlePos = 55;
    panel->ShowLive(v);
    ASSERT_TRUE(Grid()->Live());
    EXPECT_DOUBLE_EQ(Grid()->Live()->x, 5.0);
    EXPECT_DOUBLE_EQ(Grid()->Live()->y, 5.5);
    v.Rpm = 9000;  // beyond the axis: held at its end
    panel->ShowLive(v);
    EXPECT_DOUBLE_EQ(Grid()->Live()->x, 15.0);
    // A map by index has no physical axis to place the point on.
    Select(kIgnition);
    panel->ShowLive(v);
    EXPECT_FALSE(Grid()->Live());
}

TEST_F(MapView, ChangedCellsAreMarkedAndConfirmedOnesGreen) {
    Load(dir / "demo.xml");
    Select(kPhaseMap);
    ClickCell(2, 1);
    ClickCell(3, 1, Qt::ShiftModifier);
    panel->View3d()->findChild<QLineEdit*>("Map3dAmount")->setText("30");
    Button("Map3dAdd")->click();
    ClickCell(10, 8);  // the selection's outline away from the corners
    // The ECU confirmed cell (2, 1) only.
    panel->ShowConfirmed({{static_cast<uint16_t>(kPhaseAddress + 1 * 16 + 2), 1}});
    const QImage shot = Grid()->grab().toImage();
    auto corner = [&](int x, int y) {
        return shot.pixelColor(Grid()->CellBox(x, y).topLeft() + QPoint(1, 1));
    };
    EXPECT_EQ(corner(2, 1), QColor(0, 150, 0));
    EXPECT_EQ(corner(3, 1), QColor(Qt::black));
    EXPECT_NE(corner(4, 1), QColor(Qt::black));  // unchanged
    EXPECT_NE(corner(4, 1), QColor(0, 150, 0));
}

}  // namespace
