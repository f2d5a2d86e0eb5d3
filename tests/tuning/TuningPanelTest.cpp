// The tuning panel as a user sees it: its layout, the view selector, the
// cell colours as painted, start/stop and the ignition buttons, with an ECU
// worker that records what it is handed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <map>
#include <vector>

#include "tests/support/RecordingEcu.h"
#include "tuning/ui/TuningPanel.h"

using namespace korvane;
using namespace korvane::tuning;

namespace {

struct PanelRig {
    test::RecordingEcu worker;
    QWidget window;
    QWidget* toolStrip = new QWidget(&window);
    QTimer* engineTimer = new QTimer(&window);
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
    bool loaded = true;
    std::map<std::string, std::string> settings = {
        {"Коэф. обучения соседних РТ", ""},       {"Стационарность по RPM", "100"},
        {"Стационарность по %", "100"},           {"Стационарность по циклам", "4"},
        {"Количество циклов для обработки", "7"}, {"Весовой коэф. коррекции(%)", "70"}};
    QStringList log, errors;
    std::vector<int> waits;
    std::vector<bool> tuningStates;
    QString label5, label7, status5;
    std::vector<std::pair<std::string, std::string>> stored;
    // The image's changes as its store was told of them: the ECU's RAM
    // follows those, the panel posts no write of its own.
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> imageStores;
    QStringList questions;
    bool answerYes = true;
    ui::TuningPanel* panel = nullptr;

    PanelRig() {
        worker.LinkUp(false);
        toolStrip->setGeometry(0, 0, 964, 30);
        engineTimer->setInterval(50);
        ui::TuningPanel::Window w;
        w.ecu = &worker;
        w.engineTimer = engineTimer;
        w.image = [this] { return std::span<uint8_t, kImageSize>(image.data(), kImageSize); };
        w.store = [this](uint16_t address, std::span<const uint8_t> bytes) {
            std::copy(bytes.begin(), bytes.end(), image.begin() + address);
            imageStores.emplace_back(address, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        };
        w.firmwareLoaded = [this] { return loaded; };
        w.log = [this](const QString& line) { log << line; };
        w.showError = [this](const QString& text) { errors << text; };
        w.setting = [this](const std::string& key) { return settings[key]; };
        w.storeSetting = [this](const std::string& key, const std::string& value) {
            settings[key] = value;
            stored.emplace_back(key, value);
        };
        w.confirm = [this](const QString& q) {
            questions << q;
            return answerYes;
        };
        w.wait = [this](int ms) { waits.push_back(ms); };
        w.connectTimer = [this](QTimer* t, std::function<void()> handler) {
            QObject::connect(t, &QTimer::timeout, &window, std::move(handler));
        };
        w.setLabel5 = [this](const QString& t) { label5 = t; };
        w.setLabel7 = [this](const QString& t) { label7 = t; };
        w.setStatusPanel5 = [this](const QString& t) { status5 = t; };
        w.grafxx = [] {};
        w.radioGroup1Index = [] { return 0; };
        w.showTuningState = [this](bool on) { tuningStates.push_back(on); };
        w.decimalSeparator = ',';
        panel = new ui::TuningPanel(std::move(w), toolStrip, &window);
        panel->setGeometry(1, 32, 715, 476);
        window.resize(964, 523);
        window.show();
        QApplication::processEvents();
    }
    void LinkUp() { worker.LinkUp(true); }
    // The one command posted since the last look.
    ecu::EcuCommand Posted() {
        auto posted = worker.Take();
        EXPECT_EQ(posted.size(), 1u);
        return posted.empty() ? ecu::EcuCommand{} : posted[0];
    }
    // Labels like the demo image's and a table fill from the image.
    void Fill() {
        const GridLabels rows{600,  720,  840,  1000, 1200, 1400, 1600, 1840,
                              2080, 2400, 2800, 3200, 3600, 4200, 5000, 8000};
        const GridLabels cols{0, 3, 6, 9, 12, 16, 20, 25, 30, 36, 42, 50, 60, 70, 85, 100};
        panel->ShowGridLabels(rows, cols);
        panel->addtabl();
    }
    QString Cell(int gridCol, int gridRow) const {
        return panel->StringGrid2->item(gridRow, gridCol)->text();
    }
    QColor Painted(int gridCol, int gridRow) {
        QTableWidget* g = panel->StringGrid2;
        const QRect rect = g->visualItemRect(g->item(gridRow, gridCol));
        const QImage shot = g->viewport()->grab().toImage();
        // Bottom right of the cell: clear of its text.
        return shot.pixelColor(rect.right() - 2, rect.bottom() - 2);
    }
};

// Collects what a widget repaints.
struct PaintSpy final : QObject {
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

}  // namespace

TEST(TuningPanel, IsLaidOutAsTheWindowNeedsIt) {
    PanelRig rig;
    ui::TuningPanel& p = *rig.panel;
    EXPECT_EQ(p.objectName(), "PanelGrid");
    EXPECT_EQ(p.Label6->text(), "Нет Данных");
    EXPECT_EQ(p.Label6->pos(), QPoint(5, 0));
    EXPECT_EQ(p.Label6->palette().color(QPalette::Window), QColor(255, 255, 0));
    EXPECT_EQ(p.Label6->palette().color(QPalette::WindowText), QColor(128, 128, 0));
    EXPECT_TRUE(p.Label6->font().bold());
    EXPECT_EQ(p.StringGrid2->geometry(), QRect(4, 19, 710, 428));
    EXPECT_EQ(p.StringGrid2->rowCount(), 17);
    EXPECT_EQ(p.StringGrid2->columnCount(), 17);
    EXPECT_FALSE(p.StringGrid2->isVisible());
    EXPECT_EQ(p.Panel5->geometry(), QRect(592, 447, 120, 30));
    EXPECT_FALSE(p.Panel5->isVisible());
    EXPECT_EQ(p.Button6->text(), "УОЗ на ЧН");
    EXPECT_EQ(p.Button6->geometry(), QRect(41, 3, 75, 23));
    EXPECT_EQ(p.Button7->geometry(), QRect(87, 3, 23, 23));
    EXPECT_TRUE(p.Button7->isHidden());
    EXPECT_EQ(p.ComboBox1->parentWidget(), rig.toolStrip);
    EXPECT_EQ(p.ComboBox1->geometry(), QRect(563, 4, 144, 22));
    EXPECT_EQ(p.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(p.ComboBox1->placeholderText(), "РТ");
    const QStringList items = {"РТ", "Поправка ", "Коррекция", "БЦН", "УОЗ", "Изменение %"};
    ASSERT_EQ(p.ComboBox1->count(), items.size());
    for (int i = 0; i < items.size(); ++i) EXPECT_EQ(p.ComboBox1->itemText(i), items[i]);
    EXPECT_EQ(p.Timer1->interval(), 200);

    // Once the session is up the whole grid shows without scroll bars.
    p.SessionReady();
    QApplication::processEvents();
    EXPECT_TRUE(p.StringGrid2->isVisible());
    EXPECT_TRUE(p.Timer1->isActive());
    const QRect last = p.StringGrid2->visualItemRect(p.StringGrid2->item(16, 16));
    EXPECT_TRUE(p.StringGrid2->viewport()->rect().contains(last)) << last.x() << "," << last.y();
    EXPECT_EQ(rig.Cell(16, 16), "0");
}

TEST(TuningPanel, SelectorRefillsTheGridAndShowsTheIgnitionButtonsOnlyForUoz) {
    PanelRig rig;
    rig.image[kCorrectionAddress + CellIndex(2, 3)] = 129;  // 1.0078125
    rig.image[kBcnAddress + CellIndex(2, 3)] = 45;          // 120
    rig.image[kIgnitionAddress + CellIndex(2, 3)] = 25;     // 12.5°
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.SessionReady();
    EXPECT_EQ(p.ComboBox1->currentIndex(), 0);  // the fill chose "РТ"
    EXPECT_EQ(rig.Cell(0, 1), "600");
    EXPECT_EQ(rig.Cell(16, 0), "100");
    EXPECT_EQ(rig.Cell(3, 4), "0") << "the fill itself does not refill";

    struct Case {
        int item;
        const char* text;
        bool panel5;
    } cases[] = {{1, "1,0078125", false},
                 {3, "120,0", false},
                 {4, "12,5", true},
                 {2, "3", false},
                 {0, "0//0", false}};
    for (const auto& c : cases) {
        p.ComboBox1->setCurrentIndex(c.item);
        p.ComboBox1Change();
        EXPECT_EQ(rig.Cell(3, 4), c.text) << c.item;
        EXPECT_EQ(p.Panel5->isVisible(), c.panel5) << c.item;
        if (c.panel5) {
            EXPECT_TRUE(p.Button6->isVisible());
            EXPECT_FALSE(p.Button7->isVisible());
        }
    }
}

TEST(TuningPanel, CellsArePaintedInTheColourOfTheirLearning) {
    PanelRig rig;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.SessionReady();
    auto& cells = p.Tables().WorkPointCells;
    cells[0][0].RewriteCount = 1;  // grid (1, 1): light green
    cells[0][0].Ratio = 1.0f;
    cells[1][0].RewriteCount = 2;  // grid (2, 1): green
    cells[1][0].Ratio = 1.005f;
    cells[2][0].RewriteCount = 8;  // grid (3, 1): neighbours only, light yellow
    cells[5][5].RewriteCount = 9;  // the current cell: red even when done
    cells[5][5].Ratio = 1.0f;
    p.StringGrid2->setCurrentCell(6, 6);
    p.Timer1Timer();
    QApplication::processEvents();
    EXPECT_EQ(rig.Painted(1, 1), QColor(214, 255, 173));
    EXPECT_EQ(rig.Painted(2, 1), QColor(166, 255, 43));
    EXPECT_EQ(rig.Painted(3, 1), QColor(255, 255, 145));
    EXPECT_EQ(rig.Painted(6, 6), QColor(255, 0, 0));
    EXPECT_EQ(rig.Painted(4, 1), p.StringGrid2->palette().color(QPalette::Base));

    // The colours follow the learning at the next repaint.
    cells[3][0].RewriteCount = 1;
    cells[3][0].Ratio = 0.9f;
    p.Timer1Timer();
    QApplication::processEvents();
    EXPECT_EQ(rig.Painted(4, 1), QColor(214, 255, 173));
}

// The colour refresh repaints the cells whose colour changed and no other,
// and what is on screen afterwards is what a whole repaint would show.
TEST(TuningPanel, ColourRefreshRepaintsOnlyChangedCellsAndTheScreenMatchesAWholeRepaint) {
    PanelRig rig;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.SessionReady();
    p.StringGrid2->setCurrentCell(6, 6);
    QApplication::processEvents();
    QWidget* viewport = p.StringGrid2->viewport();
    PaintSpy spy;
    viewport->installEventFilter(&spy);
    auto cellRect = [&](int col, int row) {
        return p.StringGrid2->visualItemRect(p.StringGrid2->item(row, col));
    };
    auto onScreen = [&] {
        const QPoint at = viewport->mapTo(&rig.window, QPoint(0, 0));
        return QGuiApplication::primaryScreen()
            ->grabWindow(rig.window.winId(), at.x(), at.y(), viewport->width(), viewport->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    auto refresh = [&] {
        spy.painted = QRegion();
        p.Timer1Timer();
        QApplication::processEvents();
    };

    refresh();
    EXPECT_TRUE(spy.painted.isEmpty()) << "nothing changed";

    auto& cells = p.Tables().WorkPointCells;
    struct Change {
        int c, r;
        int rewrites;
        float ratio;
    } changes[] = {{3, 0, 1, 0.9f}, {9, 12, 8, 1.0f}, {15, 15, 1, 3.0f}};
    for (const auto& ch : changes) {
        cells[ch.c][ch.r].RewriteCount = ch.rewrites;
        cells[ch.c][ch.r].Ratio = ch.ratio;
    }
    refresh();
    QRegion expected;
    for (const auto& ch : changes) expected += cellRect(ch.c + 1, ch.r + 1);
    EXPECT_EQ(spy.painted, expected);
    EXPECT_EQ(onScreen(), viewport->grab().toImage().convertToFormat(QImage::Format_RGB32));

    // A cell that goes back to its old colour is repainted again.
    cells[3][0].RewriteCount = 0;
    refresh();
    EXPECT_EQ(spy.painted, QRegion(cellRect(4, 1)));
    EXPECT_EQ(onScreen(), viewport->grab().toImage().convertToFormat(QImage::Format_RGB32));

    // Out of sight nothing is repainted; in sight again the grid shows the
    // colours learned meanwhile.
    p.StringGrid2->hide();
    cells[0][0].RewriteCount = 8;
    cells[0][0].Ratio = 1.0f;
    refresh();
    EXPECT_TRUE(spy.painted.isEmpty());
    p.StringGrid2->show();
    QApplication::processEvents();
    refresh();
    EXPECT_EQ(rig.Painted(1, 1), QColor(166, 255, 43));
    EXPECT_EQ(onScreen(), viewport->grab().toImage().convertToFormat(QImage::Format_RGB32));
}

TEST(TuningPanel, StartWritesTheControlByteAndStopKeepsTheTables) {
    PanelRig rig;
    rig.LinkUp();
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.Connecting(120000, 0);
    p.SessionReady();
    rig.engineTimer->start();

    p.ToolButton10Click();
    EXPECT_EQ(p.Label6->text(), "Идет обучение");
    const ecu::EcuCommand start = rig.Posted();
    EXPECT_EQ(start.kind, ecu::CommandKind::correct1DF);
    EXPECT_EQ(start.address, 0x608A);
    EXPECT_EQ(start.bytes, ecu::Bytes{150});
    EXPECT_EQ(start.lengthByte, 1);
    EXPECT_TRUE(p.Tables().TuningActive);
    EXPECT_TRUE(p.Timer4->isActive());
    EXPECT_EQ(p.Timer4->interval(), 120000);
    EXPECT_FALSE(p.Timer6->isActive());  // "Коэф. обучения соседних РТ" left empty
    EXPECT_TRUE(rig.engineTimer->isActive());
    EXPECT_EQ(rig.tuningStates, std::vector<bool>{true});
    EXPECT_TRUE(rig.errors.isEmpty());

    p.Tables().BcnTable[1][1].Learned = 130.0f;
    p.ToolButton11Click();
    EXPECT_EQ(p.Label6->text(), "Диагностика");
    EXPECT_EQ(p.Label6->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_FALSE(p.Tables().TuningActive);
    EXPECT_FALSE(p.Timer4->isActive());
    EXPECT_FALSE(p.Timer6->isActive());
    EXPECT_EQ(p.Tables().BcnTable[1][1].Learned, 130.0f);
    EXPECT_EQ(rig.tuningStates, (std::vector<bool>{true, false}));
}

TEST(TuningPanel, AStartWithACoefficientThatIsNoNumberSaysSoAndLeavesTheRewritesOff) {
    PanelRig rig;
    rig.settings["Коэф. обучения соседних РТ"] = "0,3,";
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.Connecting(120000, 60000);
    p.ToolButton10Click();
    ASSERT_EQ(rig.errors.size(), 1);
    EXPECT_TRUE(rig.errors[0].contains("«0,3,»"));
    EXPECT_TRUE(p.Tables().TuningActive);  // the steps before stay done
    EXPECT_FALSE(p.Timer4->isActive());
}

TEST(TuningPanel, NeighbourRewriteShowsTheRewrittenCellsInTheChosenView) {
    PanelRig rig;
    rig.settings["Коэф. обучения соседних РТ"] = "30";
    rig.LinkUp();
    for (int k = 0; k < 256; ++k) rig.image[kCorrectionAddress + k] = 128;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.Connecting(120000, 60000);
    p.ToolButton10Click();
    EXPECT_TRUE(p.Timer6->isActive());
    EXPECT_TRUE(p.Tables().NeighbourLearning);
    rig.worker.Take();  // the worker wrote the control byte
    rig.engineTimer->start();

    p.ComboBox1->setCurrentIndex(1);
    p.ComboBox1Change();
    p.Tables().NeighbourCorrections[4][7] = 1.1f;
    p.Timer6Timer();
    EXPECT_EQ(rig.Cell(5, 8), "1,100");  // to three places, as a single update shows it
    EXPECT_TRUE(rig.worker.Take().empty());
    ASSERT_EQ(rig.imageStores.size(), 1u);
    EXPECT_EQ(rig.imageStores[0].first, kCorrectionAddress);
    EXPECT_EQ(rig.imageStores[0].second.at(CellIndex(4, 7)), 141);
    EXPECT_TRUE(rig.log.contains("Перезаписываю соседнии РТ= (1)"));
    EXPECT_EQ(rig.image[kCorrectionAddress + CellIndex(4, 7)], 141);
}

TEST(TuningPanel, IgnitionStepShowsTheTableAndStoresIt) {
    PanelRig rig;
    rig.LinkUp();
    // Row 0: ignition 10° .. 30°, BCN 100 .. 300, the cell in column 7 at 200.
    rig.image[kIgnitionAddress + CellIndex(0, 0)] = 20;
    rig.image[kIgnitionAddress + CellIndex(15, 0)] = 60;
    rig.image[kBcnAddress + CellIndex(0, 0)] = 38;    // 101.33
    rig.image[kBcnAddress + CellIndex(15, 0)] = 113;  // 301.33
    rig.image[kBcnAddress + CellIndex(7, 0)] = 75;    // 200
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.Connecting(120000, 60000);
    p.SessionReady();
    p.ComboBox1->setCurrentIndex(4);
    p.ComboBox1Change();
    ASSERT_TRUE(p.Button6->isVisible());

    const size_t storesBefore = rig.imageStores.size();
    p.Button6Click();
    EXPECT_TRUE(p.Button7->isVisible());
    EXPECT_FALSE(p.Button6->isVisible());
    EXPECT_EQ(rig.Cell(8, 1), "19,9");  // 10 + (200 − 101.33) × 20 / 200
    EXPECT_EQ(rig.Cell(1, 1), "10,0");
    // Only shown: the running engine gets it at the write button.
    EXPECT_EQ(rig.image[kIgnitionAddress + CellIndex(7, 0)], 0);
    EXPECT_EQ(rig.imageStores.size(), storesBefore);

    rig.engineTimer->start();
    p.Timer4->start();
    p.Timer6->stop();
    p.Button7Click();
    EXPECT_EQ(rig.image[kIgnitionAddress + CellIndex(7, 0)], 40);
    ASSERT_EQ(rig.imageStores.size(), storesBefore + 1);
    EXPECT_EQ(rig.imageStores.back().first, kIgnitionAddress);
    EXPECT_EQ(rig.imageStores.back().second.at(CellIndex(7, 0)), 40);
    EXPECT_TRUE(rig.worker.Take().empty());
    EXPECT_TRUE(rig.log.contains("Записываем УОЗ на ЧН"));
    EXPECT_TRUE(p.Timer4->isActive());
    EXPECT_FALSE(p.Timer6->isActive());
    EXPECT_TRUE(rig.engineTimer->isActive());
    EXPECT_TRUE(p.Button6->isVisible());
    EXPECT_FALSE(p.Button7->isVisible());
}

TEST(TuningPanel, TheTablesForTheEcuComeOnlyFromALoadedImage) {
    PanelRig rig;
    rig.LinkUp();
    rig.loaded = false;  // the image is still all zeros
    EXPECT_TRUE(rig.panel->pishupopr().empty());
    EXPECT_FALSE(rig.log.contains("Записываю поправку"));

    rig.loaded = true;
    for (int k = 0; k < 256; ++k)
        rig.image[kCorrectionAddress + k] = static_cast<uint8_t>(100 + k / 4);
    rig.Fill();
    const auto tables = rig.panel->pishupopr();
    EXPECT_TRUE(rig.log.contains("Записываю поправку"));
    ASSERT_FALSE(tables.empty());
    EXPECT_EQ(tables[0].address, kCorrectionAddress);
    ASSERT_EQ(tables[0].bytes.size(), 256u);
    for (int k = 0; k < 256; ++k) EXPECT_EQ(tables[0].bytes[k], 100 + k / 4) << k;
    EXPECT_TRUE(rig.worker.Take().empty());
}

TEST(TuningPanel, RightClickOrSpaceTogglesLocksWhichArePaintedGreyAndStored) {
    PanelRig rig;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.SessionReady();
    QApplication::processEvents();
    QTableWidget* g = p.StringGrid2;
    auto rightClick = [&](int gridCol, int gridRow) {
        QTest::mouseClick(g->viewport(), Qt::RightButton, {},
                          g->visualItemRect(g->item(gridRow, gridCol)).center());
    };
    const std::string key = "Заблокированные ячейки";

    rightClick(3, 5);  // c 2, r 4: k 36
    EXPECT_TRUE(p.Tables().Locked[36]);
    ASSERT_FALSE(rig.stored.empty());
    EXPECT_EQ(rig.stored.back(), std::make_pair(key, std::string("36")));
    rightClick(0, 3);  // a header: nothing
    EXPECT_EQ(rig.stored.size(), 1u);
    p.Timer1Timer();
    QApplication::processEvents();
    EXPECT_EQ(rig.Painted(3, 5), QColor(200, 200, 200));
    EXPECT_EQ(rig.Painted(4, 5), g->palette().color(QPalette::Base));

    // Space on a selection (the header cell in it counts for nothing).
    g->setFocus();
    g->setRangeSelected(QTableWidgetSelectionRange(0, 0, 1, 2), true);
    QTest::keyClick(g, Qt::Key_Space);
    EXPECT_EQ(rig.stored.back().second, "0 16 36");
    // A selection that is all locked is freed.
    QTest::keyClick(g, Qt::Key_Space);
    EXPECT_EQ(rig.stored.back().second, "36");
    rightClick(3, 5);
    EXPECT_EQ(rig.stored.back().second, "");
    EXPECT_FALSE(p.Tables().Locked[36]);
}

// The padlock of a locked cell hides no part of its number, however wide.
TEST(TuningPanel, ThePadlockLeavesTheDigitsFree) {
    PanelRig rig;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.SessionReady();
    QTableWidget* g = p.StringGrid2;
    p.ToggleLocks({CellIndex(2, 4)});
    QTableWidgetItem* item = g->item(5, 3);
    const QRect rect = g->visualItemRect(item);
    // The lock alone: what differs from the locked grey inside the cell.
    item->setText("");
    QApplication::processEvents();
    const QImage lockOnly = g->viewport()->grab().toImage();
    QRegion lock;
    for (int y = rect.top() + 1; y < rect.bottom() - 1; ++y)
        for (int x = rect.left() + 1; x < rect.right() - 1; ++x)
            if (lockOnly.pixelColor(x, y) != QColor(200, 200, 200)) lock += QRect(x, y, 1, 1);
    ASSERT_FALSE(lock.isEmpty());
    const QFontMetrics fm(g->font());
    for (const QString text : {"-14.9", "-14,9", "100.0", "1.953"}) {
        const QRect glyphs =
            fm.boundingRect(text).translated(rect.left() + 5, rect.top() + fm.ascent());
        EXPECT_FALSE(lock.intersects(glyphs)) << text.toStdString();
    }
}

// At the desk the locks were never read at connect: a toggle still changes
// only its own cell of the stored list, and the log names the cell.
TEST(TuningPanel, ALockToggledAtTheDeskAddsOneIndexToTheStoredList) {
    PanelRig rig;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    rig.settings["Заблокированные ячейки"] = "3 17 200";
    QTableWidget* g = p.StringGrid2;
    const QString rpm = g->item(6, 0)->text(), throttle = g->item(0, 1)->text();
    // c 0, r 5: k 5.
    QTest::mouseClick(g->viewport(), Qt::RightButton, {},
                      g->visualItemRect(g->item(6, 1)).center());
    EXPECT_EQ(rig.settings["Заблокированные ячейки"], "3 5 17 200");
    for (const int k : {3, 5, 17, 200}) EXPECT_TRUE(p.Tables().Locked[k]) << k;
    const QString cell = QStringLiteral("%1 об/мин × %2 %").arg(rpm, throttle);
    EXPECT_EQ(rig.log.filter("Заблокирована ячейка: " + cell + ".").size(), 1)
        << rig.log.join("\n").toStdString();
    QTest::mouseClick(g->viewport(), Qt::RightButton, {},
                      g->visualItemRect(g->item(6, 1)).center());
    EXPECT_EQ(rig.settings["Заблокированные ячейки"], "3 17 200");
    EXPECT_EQ(rig.log.filter("Разблокирована ячейка: " + cell + ".").size(), 1);

    // Entries that are no cell index are the user's to mend: a toggle keeps
    // them and changes only its own cell.
    rig.settings["Заблокированные ячейки"] = "3 256 x7 17";
    QTest::mouseClick(g->viewport(), Qt::RightButton, {},
                      g->visualItemRect(g->item(6, 1)).center());
    EXPECT_EQ(rig.settings["Заблокированные ячейки"], "3 5 17 256 x7");
    QTest::mouseClick(g->viewport(), Qt::RightButton, {},
                      g->visualItemRect(g->item(6, 1)).center());
    EXPECT_EQ(rig.settings["Заблокированные ячейки"], "3 17 256 x7");

    // Read at start: the grid has them before any connect.
    rig.settings["Заблокированные ячейки"] = "7";
    p.ReadLocks(false);
    EXPECT_TRUE(p.Tables().Locked[7]);
    EXPECT_FALSE(p.Tables().Locked[3]);
}

TEST(TuningPanel, ReadControlsLoadsTheLocksAndRefusesBadLimits) {
    PanelRig rig;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    rig.settings["Заблокированные ячейки"] = "5 x 5 17";
    rig.settings["Пределы поправки"] = "0.7 1.3";
    EXPECT_EQ(p.ReadControls(), "");
    EXPECT_TRUE(p.Tables().Locked[5]);
    EXPECT_TRUE(p.Tables().Locked[17]);
    EXPECT_EQ(rig.log.filter("Заблокированные ячейки").size(), 1);

    rig.settings["Пределы поправки"] = "1.3";
    EXPECT_TRUE(p.ReadControls().contains("Пределы поправки"));
}

TEST(TuningPanel, ChangeViewShowsTheChangeAgainstTheLoadedImageInColour) {
    PanelRig rig;
    rig.image[kCorrectionAddress + CellIndex(2, 3)] = 128;
    rig.image[kCorrectionAddress + CellIndex(4, 4)] = 128;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.SessionReady();
    p.Tables().WorkPointCells[2][3].Correction = 1.07f;
    p.Tables().WorkPointCells[4][4].Correction = 0.965f;
    p.ComboBox1->setCurrentIndex(5);
    p.ComboBox1Change();
    EXPECT_EQ(rig.Cell(3, 4), "+7,0");
    EXPECT_EQ(rig.Cell(5, 5), "-3,5");
    EXPECT_EQ(rig.Cell(1, 1), "");  // the image's zero byte, unchanged
    p.Timer1Timer();
    QApplication::processEvents();
    EXPECT_EQ(rig.Painted(3, 4), QColor(255, 188, 188));
    EXPECT_EQ(rig.Painted(5, 5), QColor(222, 222, 255));
    EXPECT_EQ(rig.Painted(1, 1), p.StringGrid2->palette().color(QPalette::Base));
}

TEST(TuningPanel, RestoreIsOfferedWhileConnectedWithAnImageAndAsksFirst) {
    PanelRig rig;
    const int k = CellIndex(2, 3);
    for (int i = 0; i < 256; ++i) rig.image[kCorrectionAddress + i] = 128;
    rig.Fill();
    ui::TuningPanel& p = *rig.panel;
    p.SessionReady();
    EXPECT_FALSE(p.RestoreButton->isEnabled());  // no link
    rig.LinkUp();
    p.Timer1Timer();
    EXPECT_TRUE(p.RestoreButton->isEnabled());
    rig.loaded = false;
    p.Timer1Timer();
    EXPECT_FALSE(p.RestoreButton->isEnabled());
    rig.loaded = true;
    p.Timer1Timer();
    ASSERT_TRUE(p.RestoreButton->isEnabled());

    // A learned cell.
    rig.image[kCorrectionAddress + k] = 140;
    p.Tables().WorkPointCells[2][3].Correction = 140 / 128.0f;
    p.ComboBox1->setCurrentIndex(5);
    p.ComboBox1Change();
    EXPECT_EQ(rig.Cell(3, 4), "+9,4");

    rig.answerYes = false;
    p.RestoreButton->click();
    EXPECT_EQ(rig.questions.size(), 1);
    EXPECT_TRUE(rig.imageStores.empty());
    EXPECT_EQ(rig.image[kCorrectionAddress + k], 140);

    rig.answerYes = true;
    p.RestoreButton->click();
    EXPECT_EQ(rig.questions.size(), 2);
    // Both tables go into the image; their lines wait for the ECU.
    ASSERT_EQ(rig.imageStores.size(), 2u);
    EXPECT_EQ(rig.imageStores[0].first, kCorrectionAddress);
    EXPECT_EQ(rig.imageStores[1].first, kBcnAddress);
    EXPECT_TRUE(rig.worker.Take().empty());
    EXPECT_EQ(rig.image[kCorrectionAddress + k], 128);
    EXPECT_EQ(p.Tables().WorkPointCells[2][3].Correction, 1.0f);
    EXPECT_EQ(rig.Cell(3, 4), "");
    const QString line = "Поправка возвращена к загруженной прошивке (ячеек изменено: 1)";
    EXPECT_FALSE(rig.log.contains(line));
    p.Synced({ecu::CommandKind::remake, static_cast<uint16_t>(kCorrectionAddress + k), 1, true,
              false, 0});
    EXPECT_TRUE(rig.log.contains(line));
    EXPECT_EQ(p.Tables().PRecCount, 1);
}

// A restore whose confirmation never came: after a disconnect or another
// image, a later write of the table does not claim the restore.
TEST(TuningPanel, ARestoreLineOutlivesNeitherTheSessionNorTheImage) {
    const std::pair<const char*, void (*)(ui::TuningPanel&)> cases[] = {
        {"disconnect", [](ui::TuningPanel& p) { p.Disconnected(); }},
        {"image load", [](ui::TuningPanel& p) { p.addtabl(); }},
    };
    for (const auto& [what, between] : cases) {
        PanelRig rig;
        for (int i = 0; i < 256; ++i) rig.image[kCorrectionAddress + i] = 128;
        rig.Fill();
        ui::TuningPanel& p = *rig.panel;
        p.SessionReady();
        rig.LinkUp();
        p.Timer1Timer();
        ASSERT_TRUE(p.RestoreButton->isEnabled());
        rig.image[kCorrectionAddress + 5] = 140;  // learned since the load
        rig.answerYes = true;
        p.RestoreButton->click();
        ASSERT_EQ(rig.image[kCorrectionAddress + 5], 128) << what;
        between(p);
        p.Synced({ecu::CommandKind::remakepopr, kCorrectionAddress, 256, true, false, 0});
        // (the BCN table had nothing to restore: its line came at once)
        EXPECT_TRUE(rig.log.filter("Поправка возвращена").isEmpty())
            << what << ": " << rig.log.join("|").toStdString();
    }
}
