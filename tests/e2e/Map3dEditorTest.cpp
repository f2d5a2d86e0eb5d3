// A map over two axes edited in the real window against the simulator: an
// area scaled by 5 % reaches the simulated RAM byte for byte and nothing
// else does; undo puts the old bytes back in the image and the ECU.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>

#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "maps/Map3d.h"
#include "maps/ui/CalibrationPanel.h"
#include "maps/ui/Map3dView.h"
#include "maps/ui/MapGrid.h"
#include "sim/EngineModel.h"
#include "tests/e2e/WindowFixture.h"
#include "tests/support/FormParts.h"

using namespace korvane;
using korvane::test::ImageBytes;
using korvane::test::Part;

namespace {

using Bytes = std::vector<uint8_t>;

class Map3dWindow : public korvane::test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        StartDemoSession("Карта прошивки=" + (dir / "demo.xml").string() + "\r\n");
    }

    static void Pick(maps::CalibrationPanel& panel, const char* path) {
        QTreeWidgetItem* item = panel.ItemByNames(QString::fromUtf8(path));
        ASSERT_NE(item, nullptr) << path;
        for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) p->setExpanded(true);
        panel.TreeView->scrollToItem(item);
        QTest::mouseClick(panel.TreeView->viewport(), Qt::LeftButton, Qt::NoModifier,
                          panel.TreeView->visualItemRect(item).center());
        ASSERT_EQ(panel.TreeView->currentItem(), item);
    }
};

TEST_F(Map3dWindow, ScaledAreaReachesTheEcuExactlyAndUndoTakesItBack) {
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000))
        << form->LogLines().join("|").toStdString() << dialogs.errors.join("|").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().Idle(); }, 5000));
    form->ToolButton(21)->click();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    maps::CalibrationPanel& panel = form->Maps();
    Pick(panel, "Демо_прошивка/Зажигание/УОЗ_основной");
    maps::Map3dView* view = panel.View3d();
    ASSERT_TRUE(view->isVisible());
    ASSERT_NE(view->Editor(), nullptr) << view->Reason()->text().toStdString();
    const maps::Map3dLayout& layout = view->Editor()->Layout();
    ASSERT_EQ(layout.address, sim::kIgnitionTable);

    // The table as the ECU holds it before: the image's bytes.
    const size_t from = layout.address, to = from + static_cast<size_t>(layout.Cells());
    const Bytes imageBefore = ImageBytes(*form);
    const Bytes ramBefore = simulator->Ram();
    ASSERT_TRUE(
        std::equal(imageBefore.begin() + from, imageBefore.begin() + to, ramBefore.begin() + from));

    // Columns 2 … 6, rows 3 … 8 by mouse, then × 5 %.
    maps::MapGrid* grid = view->Grid();
    QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, grid->CellBox(2, 3).center());
    QTest::mouseClick(grid, Qt::LeftButton, Qt::ShiftModifier, grid->CellBox(6, 8).center());
    EXPECT_EQ(view->Editor()->Selection(), (maps::CellRect{2, 3, 6, 8}));
    Part<QLineEdit>(*form, "Map3dAmount")->setText("5");
    Part<QToolButton>(*form, "Map3dScale")->click();

    const Bytes imageAfter = ImageBytes(*form);
    int changed = 0;
    for (int y = 0; y < layout.ny; ++y)
        for (int x = 0; x < layout.nx; ++x) {
            const size_t at = layout.Offset(x, y);
            if (x >= 2 && x <= 6 && y >= 3 && y <= 8) {
                // raw / 2 degrees: 5 % more, to the nearest half degree.
                const double before = imageBefore[at] / 2.0, after = imageAfter[at] / 2.0;
                EXPECT_NEAR(after, before * 1.05, 0.25 + 1e-9) << x << "," << y;
                changed += imageAfter[at] != imageBefore[at];
            } else {
                EXPECT_EQ(imageAfter[at], imageBefore[at]) << x << "," << y;
            }
        }
    EXPECT_GT(changed, 10);
    EXPECT_TRUE(form->Image().Modified());
    for (size_t k = 0; k < kImageSize; ++k)
        if (k < from || k >= to) {
            ASSERT_EQ(imageAfter[k], imageBefore[k]) << k;
        }

    // The ECU's RAM: the table's new bytes, everything else as it was.
    auto ramHolds = [&](const Bytes& table) {
        const Bytes ram = simulator->Ram();
        return std::equal(table.begin() + from, table.begin() + to, ram.begin() + from);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return ramHolds(imageAfter); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().Idle(); }, 5000));
    Bytes ram = simulator->Ram();
    for (size_t k = 0; k < kImageSize; ++k)
        if (k < from || k >= to) {
            ASSERT_EQ(ram[k], ramBefore[k]) << k;
        }

    // Ctrl+Z in the grid: the old bytes in the image and in the ECU.
    QApplication::setActiveWindow(form.get());
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(ImageBytes(*form), imageBefore);
    ASSERT_TRUE(QTest::qWaitFor([&] { return simulator->Ram() == ramBefore; }, 5000));
    EXPECT_TRUE(form->LogLines().filter("Отменено").size() == 1)
        << form->LogLines().join("|").toStdString();
}

}  // namespace
