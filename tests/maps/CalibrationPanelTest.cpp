// The map editor on its own, with a worker whose thread is not started (so
// what it is handed stays in its mailbox), a plain engine timer and the
// simulator's demo map and image.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>

#include "ecu/ECUThread.h"
#include "maps/ui/CalibrationPanel.h"
#include "maps/ui/CurveChart.h"
#include "platform/NumberText.h"
#include "platform/UiBridge.h"
#include "sim/Firmware.h"
#include "tests/maps/PanelFixture.h"

using namespace korvane;
using namespace korvane::maps;
namespace fs = std::filesystem;

namespace {

const char* kIdle = "Демо_прошивка/Холостой_ход/Обороты_ХХ";
const char* kCold = "Демо_прошивка/Топливо/Коррекция_по_ТОЖ";
const char* kPhase = "Демо_прошивка/Топливо/Сдвиг_фазы_впрыска";

class Editor : public test::PanelFixture {
  protected:
    Editor() : PanelFixture("korvane_mapui_") {}

    void SetUp() override {
        PanelFixture::SetUp();
        engineTimer.setInterval(50);
    }
    void LoadDemo() { Load(dir / "demo.xml"); }
    void Select(const char* path) {
        QTreeWidgetItem* item = panel->ItemByNames(QString::fromUtf8(path));
        ASSERT_NE(item, nullptr) << path;
        // As a user does: open the groups on the way (each is selected as it
        // opens), then pick the table.
        std::vector<QTreeWidgetItem*> parents;
        for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
            parents.insert(parents.begin(), p);
        for (QTreeWidgetItem* p : parents) p->setExpanded(true);
        panel->TreeView->setCurrentItem(item);
    }
    void Connect() {
        worker.LinkUp(true);
        engineTimer.start();
    }
    QString GridText(int row, int column) const {
        const QTableWidgetItem* item = panel->StringGrid4->item(row, column);
        return item ? item->text() : QString();
    }
};

TEST_F(Editor, LoadsTheMapAndShowsSingleValuesAndCurves) {
    LoadDemo();
    EXPECT_EQ(settings["Карта прошивки"], (dir / "demo.xml").string());
    // The root level: declaration, comment, root element.
    ASSERT_EQ(panel->TreeView->topLevelItemCount(), 3);
    EXPECT_EQ(panel->TreeView->topLevelItem(0)->text(0), "xml");
    EXPECT_EQ(panel->TreeView->topLevelItem(1)->text(0), "#comment");

    Select(kIdle);
    EXPECT_EQ(panel->Label9->text(), "Обороты_ХХ");
    EXPECT_FALSE(panel->GroupBox1->isHidden());
    EXPECT_TRUE(panel->StringGrid4->isHidden());
    EXPECT_EQ(panel->Editpoint->text(), "840");
    EXPECT_EQ(panel->EditMax->text(), "1500");
    EXPECT_EQ(panel->EditMin->text(), "600");
    EXPECT_EQ(panel->ValueListEditor->item(0, 0)->text(), "graf");
    EXPECT_TRUE(panel->ValueListEditor->isHidden());
    Select(kPhase);
    EXPECT_EQ(panel->Editpoint->text(), "-90");

    Select(kCold);
    EXPECT_TRUE(panel->GroupBox1->isHidden());
    EXPECT_FALSE(panel->StringGrid4->isHidden());
    EXPECT_EQ(panel->StringGrid4->columnCount(), 17);
    EXPECT_EQ(panel->StringGrid4->columnWidth(0), 100);
    EXPECT_EQ(GridText(0, 0), "Температура");
    EXPECT_EQ(GridText(1, 0), "Коэффициент");
    EXPECT_EQ(GridText(0, 1), "-40");
    EXPECT_EQ(GridText(0, 16), "110");
    EXPECT_EQ(GridText(1, 16).toDouble(), image[0x5C0F] / 128.0);
    EXPECT_EQ(panel->DBChart1->Count(), 16);
    EXPECT_EQ(panel->DBChart1->Value(0), image[0x5C00] / 128.0);
    EXPECT_EQ(panel->DBChart1->YTitle(plot::Scale::Left), "Коэффициент");
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_TRUE(worker.Pending().empty());
}

TEST_F(Editor, ReloadKeepsTheSelectionAndAFailedLoadKeepsTheTree) {
    LoadDemo();
    Select(kCold);
    LoadDemo();
    ASSERT_NE(panel->TreeView->currentItem(), nullptr);
    EXPECT_EQ(panel->TreeView->currentItem()->text(0), "Коррекция_по_ТОЖ");
    EXPECT_EQ(panel->Label9->text(), "Коррекция_по_ТОЖ");

    std::ofstream(dir / "bad.xml") << "<a><b></a>";
    answers << QString::fromStdString((dir / "bad.xml").string());
    panel->MapButton->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("bad.xml")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("строка 1")) << errors[0].toStdString();
    EXPECT_EQ(settings["Карта прошивки"], (dir / "demo.xml").string());
    EXPECT_EQ(panel->TreeView->topLevelItemCount(), 3);

    // Cancelling the dialog rebuilds from the document as it is.
    errors.clear();
    panel->MapButton->click();
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(panel->TreeView->currentItem()->text(0), "Коррекция_по_ТОЖ");

    // Map mode loads the configured file without a dialog.
    settings["Карта прошивки"] = (dir / "missing.xml").string();
    panel->ToolButton21Click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("missing.xml"));
}

TEST_F(Editor, DraggingAPointChangesItsGridCellOnly) {
    LoadDemo();
    Select(kCold);
    pages->setCurrentIndex(2);
    QApplication::processEvents();
    const QStringList before = [&] {
        QStringList l;
        for (int c = 1; c <= 16; ++c) l << GridText(1, c);
        return l;
    }();
    CurveChart* chart = panel->DBChart1;
    const QPoint from = chart->PointPosition(3);
    QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(chart, from + QPoint(0, -30));
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, from + QPoint(0, -30));
    const double moved = chart->Value(3);
    EXPECT_GT(moved, before[3].toDouble());
    EXPECT_EQ(chart->PointPosition(3).x(), from.x());  // vertical only
    for (int c = 1; c <= 16; ++c)
        if (c != 4) {
            EXPECT_EQ(GridText(1, c), before[c - 1]) << c;
        }
    EXPECT_EQ(GridText(1, 4), QString::fromStdString(platform::FormatGeneral(moved, '.')));
    EXPECT_EQ(panel->Label17->text(), GridText(1, 4));
    EXPECT_TRUE(stored.empty());  // nothing is stored before the write button
}

TEST_F(Editor, WriteButtonStoresASingleValueThroughTheImage) {
    LoadDemo();
    Select(kIdle);
    panel->Editpoint->setText("900");
    // Not connected, or the live view stopped: the button does nothing.
    panel->Button5->click();
    worker.LinkUp(true);
    panel->Button5->click();
    EXPECT_EQ(image[0x5A10], 84);
    EXPECT_EQ(saves, 0);

    engineTimer.start();
    panel->Button5->click();
    EXPECT_EQ(image[0x5A10], 90);
    EXPECT_EQ(saves, 1);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].first, 0x5A10);
    EXPECT_EQ(stored[0].second, std::vector<uint8_t>{90});
    EXPECT_TRUE(engineTimer.isActive());  // the live view goes on
    EXPECT_TRUE(worker.Take().empty());
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();

    // A value the image cannot hold: the box shows what was written and the
    // log says why it differs.
    const struct {
        const char* typed;
        const char* shown;
        uint8_t raw;
        const char* why;  // nullptr: written as typed, no line
    } adjusted[] = {
        {"2000", "1500", 150, "значение 2000 ограничено максимумом 1500, записано 1500"},
        {"905", "900", 90, "значение 905 округлено до шага прошивки, записано 900"},
        {"100", "600", 60, "значение 100 ограничено минимумом 600, записано 600"},
        {"910", "910", 91, nullptr},
    };
    for (const auto& a : adjusted) {
        stored.clear();
        log.clear();
        panel->Editpoint->setText(a.typed);
        panel->Button5->click();
        EXPECT_EQ(panel->Editpoint->text(), a.shown) << a.typed;
        EXPECT_EQ(image[0x5A10], a.raw) << a.typed;
        if (a.why) {
            ASSERT_FALSE(log.isEmpty()) << a.typed;
            EXPECT_EQ(log[0], QString::fromUtf8("«Обороты_ХХ»: ") + QString::fromUtf8(a.why));
        } else {
            EXPECT_TRUE(log.isEmpty()) << log.join("|").toStdString();
        }
        ASSERT_EQ(stored.size(), 1u) << a.typed;
        EXPECT_EQ(stored[0].second, std::vector<uint8_t>{a.raw}) << a.typed;
    }
    EXPECT_TRUE(worker.Take().empty());
}

// Without a connection a value and a curve go into the image only: nothing
// reaches the worker, no copy is saved, the live view stays stopped, and the
// log says where the value went.
TEST_F(Editor, AtTheDeskAWriteGoesIntoTheImageOnly) {
    connected = false;
    LoadDemo();
    Select(kIdle);
    panel->Editpoint->setText("905");
    panel->Button5->click();
    EXPECT_EQ(image[0x5A10], 90);
    EXPECT_EQ(panel->Editpoint->text(), "900");
    ASSERT_EQ(log.size(), 2) << log.join("|").toStdString();
    EXPECT_EQ(log[0], QString::fromUtf8(
                          "«Обороты_ХХ»: значение 905 округлено до шага прошивки, записано 900"));
    EXPECT_EQ(log[1], QString::fromUtf8(
                          "«Обороты_ХХ»: нет связи с ECU, записано только в образ прошивки."));

    Select(kCold);
    panel->StringGrid4->item(1, 1)->setText("1.5");
    panel->Button5->click();
    EXPECT_EQ(image[0x5C00], 192);
    EXPECT_EQ(deskEdits, 2);

    // A value that cannot be written changes nothing, at the desk too.
    panel->StringGrid4->item(1, 2)->setText("abc");
    const auto before = image;
    panel->Button5->click();
    EXPECT_EQ(image, before);
    EXPECT_EQ(deskEdits, 2);
    EXPECT_EQ(errors.size(), 1);

    QTest::qWait(500);
    EXPECT_TRUE(worker.Take().empty());
    EXPECT_EQ(saves, 0);
    EXPECT_FALSE(engineTimer.isActive());
}

// A curve's bytes go into the image at once, so a second curve or a firmware
// read afterwards cannot change what the ECU is given for this one.
TEST_F(Editor, CurveIsStoredAtOnceWithItsLine) {
    LoadDemo();
    Select(kCold);
    Connect();
    panel->DBChart1->SetValue(0, 1.5);
    panel->ChartTool1DragPoint(panel->DBChart1, 0);
    panel->Button5->click();
    EXPECT_EQ(image[0x5C00], 192);
    EXPECT_EQ(GridText(1, 1), "1.5");  // written exactly: no line
    EXPECT_TRUE(engineTimer.isActive());
    EXPECT_EQ(saves, 1);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].first, 0x5C00);
    EXPECT_EQ(stored[0].second,
              std::vector<uint8_t>(image.begin() + 0x5C00, image.begin() + 0x5C10));
    std::string data;
    for (int i = 0; i < 16; ++i) data += std::to_string(image[0x5C00 + i]);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0], QString::fromStdString("Меняю...5C00длина:16Дата:" + data + "кол:1"));
    EXPECT_TRUE(worker.Take().empty());
}

TEST_F(Editor, ACurveShowsWhatWasWrittenAndSaysWhichPointsWereRounded) {
    LoadDemo();
    Select(kCold);
    Connect();
    panel->StringGrid4->item(1, 3)->setText("1.3");  // 166.4 in the image's steps
    panel->Button5->click();
    EXPECT_EQ(image[0x5C02], 166);
    EXPECT_EQ(GridText(1, 3), "1.296875");
    EXPECT_EQ(panel->DBChart1->Value(2), 1.296875);
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log[0], QString::fromUtf8("«Коррекция_по_ТОЖ»: записано с округлением до шага "
                                        "прошивки, точек: 1 (точка 3: 1.3 -> 1.296875)"));
}

TEST_F(Editor, BadDescriptionIsRefusedAndNothingIsReadOrWritten) {
    const struct {
        const char* attributes;
        const char* value;
    } cases[] = {
        {"graf=\"1D\" address=\"00005a10\"", "00005a10"},
        {"graf=\"1D\" address=\"00015A10\"", "00015A10"},
        {"graf=\"2D\" address=\"0000FFF8\" Число_точек_по_оси_X=\"16\"", "0000FFF8"},
    };
    for (const auto& c : cases) {
        const std::string xml = std::string("<Карта><Плохая ") + c.attributes +
                                " Первая_точка_по_оси_X=\"0\" Последняя_точка_по_оси_X=\"1\" "
                                "Смещение_значения=\"0\" Шаг=\"1\" Делитель_шага=\"1\" "
                                "Смещение=\"0\" Обратный_мультипликативный=\"0\" MAX=\"9\" "
                                "MIN=\"0\" Смещение_по_оси_Y=\"0\" Шаг_по_Y=\"1\" "
                                "Делитель_шага_по_Y=\"1\"/></Карта>";
        std::ofstream(dir / "bad.xml") << xml;
        errors.clear();
        // Figures of a table shown before (a reload shows the element again).
        panel->Editpoint->setText("5");
        panel->EditMax->setText("9");
        panel->StringGrid4->setColumnCount(3);
        answers << QString::fromStdString((dir / "bad.xml").string());
        panel->MapButton->click();
        Select("Карта/Плохая");
        ASSERT_EQ(errors.size(), 1) << c.value;
        EXPECT_TRUE(errors[0].contains("«Плохая»")) << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(QString::fromUtf8(c.value))) << errors[0].toStdString();
        // Nothing read, and nothing left from before under the new name.
        EXPECT_EQ(panel->Editpoint->text(), "");
        EXPECT_EQ(panel->EditMax->text(), "");
        EXPECT_EQ(panel->StringGrid4->columnCount(), 0);
        EXPECT_EQ(panel->DBChart1->Count(), 0);

        const std::vector<uint8_t> before = image;
        Connect();
        panel->Button5->click();
        ASSERT_EQ(errors.size(), 2);
        EXPECT_TRUE(errors[1].contains(QString::fromUtf8(c.value)));
        EXPECT_EQ(image, before);
        EXPECT_TRUE(worker.Pending().empty());
        EXPECT_TRUE(stored.empty());
        EXPECT_EQ(saves, 0);
        EXPECT_TRUE(engineTimer.isActive());  // the live view goes on
    }
}

// A curve of enormous values still gets an axis with a height, and a point
// dragged far past the window's edge takes a finite value.
TEST(CurveChartAxis, EnormousValuesGiveAFiniteAxisAndAFiniteDrag) {
    constexpr double kMax = std::numeric_limits<double>::max();
    const struct {
        const char* name;
        std::vector<double> values;
    } cases[] = {
        {"equal 1e300", {1e300, 1e300, 1e300}},
        {"largest both ways", {-kMax, 0.0, kMax}},
        {"-1e300 .. 1e300", {-1e300, 1.0, 1e300}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CurveChart chart(nullptr);
        chart.resize(400, 300);
        chart.show();
        chart.SetPoints(c.values, {"a", "b", "c"});
        QApplication::processEvents();
        auto axisIsSound = [&] {
            const auto [lo, hi] = chart.YRange(plot::Scale::Left);
            EXPECT_TRUE(std::isfinite(lo) && std::isfinite(hi) && lo < hi) << lo << " " << hi;
        };
        axisIsSound();
        const double before = chart.Value(1);
        const QPoint from = chart.PointPosition(1);
        ASSERT_TRUE(chart.rect().contains(from)) << from.x() << "," << from.y();
        QTest::mousePress(&chart, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(&chart, from + QPoint(0, -30));
        EXPECT_TRUE(std::isfinite(chart.Value(1)));
        EXPECT_GT(chart.Value(1), before);
        QTest::mouseMove(&chart, from + QPoint(0, -30000));
        EXPECT_TRUE(std::isfinite(chart.Value(1))) << chart.Value(1);
        EXPECT_EQ(chart.PointPosition(1).x(), from.x());
        QTest::mouseRelease(&chart, Qt::LeftButton, Qt::NoModifier, from + QPoint(0, -30000));
        axisIsSound();
    }
}

}  // namespace
