// The map editor with the real window, the real workers and the simulator:
// the demo map that korvane-sim writes, a single value and a curve point
// changed and written, and what reaches the simulated RAM and the session
// folder; a bad description reaches nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ui/FirmwareActions.h"
#include "maps/ui/CalibrationPanel.h"
#include "maps/ui/CurveChart.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/e2e/WindowFixture.h"
#include "tests/support/FormParts.h"

using namespace korvane;
namespace fs = std::filesystem;
using korvane::test::Part;

namespace {

using Bytes = std::vector<uint8_t>;

using korvane::test::ReadAll;

class MapEditor : public korvane::test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        StartDemoSession();
    }

    std::unique_ptr<app::TForm1> OpenConnected() {
        auto form = Open();
        form->ToolButton(1)->click();
        EXPECT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("|").toStdString();
        // The session start hands the image's correction table over; the
        // edits below begin once the worker has written it.
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().Idle(); }, 5000));
        return form;
    }

    // Opens the groups on the way, as a user does, then picks the item.
    static void Select(maps::CalibrationPanel& panel, const char* path) {
        QTreeWidgetItem* item = panel.ItemByNames(QString::fromUtf8(path));
        ASSERT_NE(item, nullptr) << path;
        std::vector<QTreeWidgetItem*> parents;
        for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
            parents.insert(parents.begin(), p);
        for (QTreeWidgetItem* p : parents) p->setExpanded(true);
        QTest::mouseClick(panel.TreeView->viewport(), Qt::LeftButton, Qt::NoModifier,
                          panel.TreeView->visualItemRect(item).center());
        ASSERT_EQ(panel.TreeView->currentItem(), item);
    }

    size_t Writes() const {
        size_t n = 0;
        for (const auto& r : simulator->Requests())
            if (!r.data.empty() && r.data[0] == 0x3D) ++n;
        return n;
    }
};

TEST_F(MapEditor, ChangedValueAndCurvePointReachTheEcuAndTheSavedImage) {
    auto form = OpenConnected();
    maps::CalibrationPanel& panel = form->Maps();
    form->ToolButton(21)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);  // no map chosen yet
    EXPECT_TRUE(dialogs.errors[0].contains("не задан")) << dialogs.errors[0].toStdString();
    dialogs.errors.clear();
    dialogs.fileAnswers << QString::fromStdString((dir / "demo.xml").string());
    QTest::mouseClick(panel.MapButton, Qt::LeftButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    EXPECT_EQ(form->Settings().SettingValue("Карта прошивки"), (dir / "demo.xml").string());

    // A single value: 840 rpm shown, 900 written.
    Select(panel, "Демо_прошивка/Холостой_ход/Обороты_ХХ");
    EXPECT_EQ(panel.Editpoint->text(), "840");
    panel.Editpoint->setText("900");
    QTest::mouseClick(panel.Button5, Qt::LeftButton);
    EXPECT_EQ(form->Image().Bytes()[0x5A10], 90);
    ASSERT_TRUE(QTest::qWaitFor([&] { return simulator->Ram()[0x5A10] == 90; }, 3000));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Part<QTimer>(*form, "engineTimer")->isActive(); }, 2000));

    // A curve point dragged up on the chart, then written.
    Select(panel, "Демо_прошивка/Топливо/Коррекция_по_ТОЖ");
    Part<QTabWidget>(*form, "PageControl1")->setCurrentIndex(2);
    QApplication::processEvents();
    const uint8_t old = form->Image().Bytes()[0x5C03];
    maps::CurveChart* chart = panel.DBChart1;
    const QPoint from = chart->PointPosition(3);
    QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(chart, from - QPoint(0, 40));
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, from - QPoint(0, 40));
    ASSERT_GT(chart->Value(3), old / 128.0);
    EXPECT_EQ(simulator->Ram()[0x5C03], old);  // nothing before the write button
    const Bytes ramBefore = simulator->Ram();
    QTest::mouseClick(panel.Button5, Qt::LeftButton);
    const uint8_t wanted = form->Image().Bytes()[0x5C03];
    EXPECT_GT(wanted, old);
    ASSERT_TRUE(QTest::qWaitFor([&] { return simulator->Ram()[0x5C03] == wanted; }, 3000));
    const QStringList lines = form->LogLines().filter("Меняю...5C00длина:16Дата:");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("кол:1"));
    // The whole 64-byte block went out: the ECU holds the image's bytes.
    const Bytes ram = simulator->Ram();
    for (size_t k = 0; k < 64; ++k)
        EXPECT_EQ(ram[0x5C00 + k], form->Image().Bytes()[0x5C00 + k]) << k;

    // The saved copy in the session folder holds both changes.
    const fs::path copy = fs::path(form->DateDir()) / "demo.bin";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const Bytes saved = ReadAll(copy);
            return saved.size() == 65536 && saved[0x5A10] == 90 && saved[0x5C03] == wanted;
        },
        3000));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    form->ToolButton(2)->click();
}

// A read out of the ECU replaces the image: while it runs the editor takes
// no edit, so none can reach the ECU alone.
TEST_F(MapEditor, NoEditWhileTheFirmwareIsRead) {
    auto form = OpenConnected();
    maps::CalibrationPanel& panel = form->Maps();
    dialogs.fileAnswers << QString::fromStdString((dir / "demo.xml").string());
    QTest::mouseClick(panel.MapButton, Qt::LeftButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    Select(panel, "Демо_прошивка/Холостой_ход/Обороты_ХХ");
    panel.Editpoint->setText("900");
    QTest::mouseClick(panel.Button5, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return simulator->Ram()[0x5A10] == 90; }, 3000));

    form->ToolButton(8)->click();
    ASSERT_TRUE(form->Firmware().Reading());
    EXPECT_FALSE(form->ToolButton(21)->isEnabled());
    EXPECT_FALSE(panel.isEnabled());
    const int writes = static_cast<int>(Writes());
    panel.Undo();  // as a shortcut would
    EXPECT_EQ(form->Image().Bytes()[0x5A10], 90);
    EXPECT_TRUE(
        form->LogLines().contains("Идет чтение прошивки из ECU: правка в образ не внесена."));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Firmware().Reading(); }, 60000));
    EXPECT_TRUE(form->Image().FirmwareLoaded);
    EXPECT_EQ(static_cast<int>(Writes()), writes);
    EXPECT_EQ(simulator->Ram()[0x5A10], 90);
    EXPECT_EQ(form->Image().Bytes()[0x5A10], 90);
    EXPECT_TRUE(form->ToolButton(21)->isEnabled());
    EXPECT_TRUE(panel.isEnabled());
    form->ToolButton(2)->click();
}

TEST_F(MapEditor, BadAddressIsRefusedAndNothingReachesTheSimulator) {
    std::ofstream(dir / "bad.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Карта>\n  <Обороты graf=\"1D\" "
           "address=\"00005a10\" Смещение_значения=\"0\" Шаг=\"10\" Делитель_шага=\"1\" "
           "Смещение=\"0\" Обратный_мультипликативный=\"0\" MAX=\"1500\" MIN=\"600\"/>\n</Карта>\n";
    auto form = OpenConnected();
    maps::CalibrationPanel& panel = form->Maps();
    dialogs.fileAnswers << QString::fromStdString((dir / "bad.xml").string());
    Part<QStackedWidget>(*form, "RightArea")->setCurrentWidget(Part<QWidget>(*form, "Calibrpanel"));
    Part<QStackedWidget>(*form, "LeftArea")->setCurrentWidget(Part<QWidget>(*form, "PanelXX"));
    QTest::mouseClick(panel.MapButton, Qt::LeftButton);
    Select(panel, "Карта/Обороты");
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("«Обороты»"));
    EXPECT_TRUE(dialogs.errors[0].contains("«00005a10»"));
    const Bytes image(form->Image().Bytes().begin(), form->Image().Bytes().end());
    const size_t writes = Writes();
    panel.Editpoint->setText("900");
    QTest::mouseClick(panel.Button5, Qt::LeftButton);
    ASSERT_EQ(dialogs.errors.size(), 2);
    EXPECT_TRUE(dialogs.errors[1].contains("«00005a10»"));
    QTest::qWait(600);
    EXPECT_EQ(Writes(), writes);
    EXPECT_EQ(Bytes(form->Image().Bytes().begin(), form->Image().Bytes().end()), image);
    EXPECT_TRUE(form->EcuWorker().Idle());
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    form->ToolButton(2)->click();
}

}  // namespace
