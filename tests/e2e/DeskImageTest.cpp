// The image without a car: the real window with no connection opens an image
// file, shows its tables in the tuning grid, edits one in the map editor and
// writes the image where the user says; then a connect to the simulator goes
// on with that image as it does after any load.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "firmware/FirmwareImage.h"
#include "maps/ui/CalibrationPanel.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/e2e/WindowFixture.h"
#include "tuning/TuningTables.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

using korvane::test::ImageBytes;
using korvane::test::ReadAll;

class Desk : public korvane::test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        // The files of the demo, as run.sh makes them.
        MakeDemoFiles();
        if (HasFatalFailure()) return;
        // The simulator's links, for the connect at the end; the default
        // image is another file, so a connect that took it would show.
        WriteConfigText(
            "Ecu Com=" + (dir / "ecu").string() +
            "\r\nСкорость ECU COM=38400\r\nТаймаут1=0\r\nТаймаут2=200\r\nБыстрый обмен=да\r\n"
            "LC-1 Com=" +
            (dir / "lc1").string() +
            "\r\nНе настраивать ниже %=2\r\nПисать логи=нет\r\n"
            "Интервал коррекции БЦН(мс)=120000\r\nВремя перезаписи прошивки(мс)=100\r\n"
            "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n"
            "Датчик кислорода=УДК\r\nПрошивка по умолчанию=other.bin\r\n"
            "Загрузить прошивку по умолчанию=да\r\nКарта прошивки=" +
            (dir / "demo.xml").string() + "\r\n");
    }

    static QAction* SaveAs(app::TForm1& form) {
        return form.findChild<QAction*>(QStringLiteral("SaveImageAs"));
    }

    static std::string Enabled(app::TForm1& form) {
        std::string s;
        for (int n : {7, 8, 10, 14, 21}) s += form.ToolButton(n)->isEnabled() ? '+' : '-';
        return s + (SaveAs(form)->isEnabled() ? '+' : '-');
    }

    static void Select(maps::CalibrationPanel& panel, const char* path) {
        QTreeWidgetItem* item = panel.ItemByNames(QString::fromUtf8(path));
        ASSERT_NE(item, nullptr) << path;
        for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) p->setExpanded(true);
        QTest::mouseClick(panel.TreeView->viewport(), Qt::LeftButton, Qt::NoModifier,
                          panel.TreeView->visualItemRect(item).center());
        ASSERT_EQ(panel.TreeView->currentItem(), item);
    }

    // The tuning grid in the view of this selector item.
    static QTableWidget* GridView(app::TForm1& form, int item) {
        auto* combo = form.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
        combo->setCurrentIndex(item);
        emit combo->activated(item);
        return form.findChild<QTableWidget*>(QStringLiteral("StringGrid2"));
    }
    static double Number(app::TForm1& form, const QTableWidget* grid, int c, int r) {
        QString text = grid->item(r + 1, c + 1)->text();
        text.replace(QLatin1Char(form.DecimalSeparator()), QLatin1Char('.'));
        bool ok = false;
        const double v = text.toDouble(&ok);
        EXPECT_TRUE(ok) << text.toStdString();
        return v;
    }
};

TEST_F(Desk, OpenShowEditAndSaveAsWithoutAConnection) {
    auto form = Open();
    // Order: 7 8 10 14 21, then "Сохранить прошивку как…".
    EXPECT_EQ(Enabled(*form), "+-----");

    // A file of the wrong size is refused by path and size; nothing changes.
    const fs::path shortFile = dir / "short.bin";
    std::ofstream(shortFile, std::ios::binary) << std::string(100, 'x');
    dialogs.fileAnswers << QString::fromStdString(shortFile.string());
    form->ToolButton(7)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QString::fromStdString(shortFile.string())));
    EXPECT_TRUE(dialogs.errors[0].contains("100 байт")) << dialogs.errors[0].toStdString();
    EXPECT_FALSE(form->Image().FirmwareLoaded);
    EXPECT_EQ(ImageBytes(*form), Bytes(firmware::kImageSize, 0));
    EXPECT_EQ(Enabled(*form), "+-----");
    dialogs.errors.clear();

    const fs::path source = dir / "demo.bin";
    const Bytes original = ReadAll(source);
    dialogs.fileAnswers << QString::fromStdString(source.string());
    form->ToolButton(7)->click();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    EXPECT_TRUE(form->Image().FirmwareLoaded);
    EXPECT_EQ(ImageBytes(*form), original);
    EXPECT_EQ(Enabled(*form), "+--+++");
    EXPECT_TRUE(
        form->LogLines().contains("Прошивка загружена " + QString::fromStdString(source.string())));
    // Nothing runs for an ECU that is not there.
    EXPECT_FALSE(form->findChild<QTimer*>(QStringLiteral("engineTimer"))->isActive());
    EXPECT_FALSE(form->findChild<QTimer*>(QStringLiteral("Timer2"))->isActive());

    // The tuning grid shows the image's tables in every view.
    form->ToolButton(14)->click();
    QApplication::processEvents();
    QTableWidget* grid = GridView(*form, 1);  // "Поправка "
    ASSERT_TRUE(grid->isVisible());
    const auto byte = [&](uint16_t table, int c, int r) {
        return original[table + tuning::CellIndex(c, r)];
    };
    using Cells = std::initializer_list<std::pair<int, int>>;
    for (const auto& [c, r] : Cells{{0, 0}, {0, 5}, {7, 9}, {15, 15}})
        EXPECT_NEAR(Number(*form, grid, c, r), byte(tuning::kCorrectionAddress, c, r) / 128.0,
                    1e-6);
    grid = GridView(*form, 3);  // "БЦН"
    for (const auto& [c, r] : Cells{{0, 0}, {7, 9}, {15, 15}})
        EXPECT_NEAR(Number(*form, grid, c, r), byte(tuning::kBcnAddress, c, r) * 8.0 / 3, 0.051);
    grid = GridView(*form, 4);  // "УОЗ"
    for (const auto& [c, r] : Cells{{0, 0}, {7, 9}, {15, 15}})
        EXPECT_NEAR(Number(*form, grid, c, r), byte(tuning::kIgnitionAddress, c, r) / 2.0, 0.051);
    grid = GridView(*form, 0);
    EXPECT_EQ(grid->item(10, 8)->text(), "0//0");
    grid = GridView(*form, 2);
    EXPECT_EQ(grid->item(10, 8)->text(), "3");
    grid = GridView(*form, 5);
    EXPECT_EQ(grid->item(6, 1)->text(), "");  // "Изменение %": nothing changed yet

    // The map editor edits a single value and the correction column; the
    // writes go into the image only, and the tuning grid follows.
    form->ToolButton(21)->click();
    maps::CalibrationPanel& panel = form->Maps();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    Select(panel, "Демо_прошивка/Холостой_ход/Обороты_ХХ");
    EXPECT_EQ(panel.Editpoint->text(), "840");
    panel.Editpoint->setText("900");
    QTest::mouseClick(panel.Button5, Qt::LeftButton);
    EXPECT_EQ(form->Image().Bytes()[0x5A10], 90);
    EXPECT_TRUE(form->LogLines().contains(
        "«Обороты_ХХ»: нет связи с ECU, записано только в образ прошивки."));
    Select(panel, "Демо_прошивка/Топливо/Поправка_столбец_0");
    const uint8_t oldCell = byte(tuning::kCorrectionAddress, 0, 5);
    panel.StringGrid4->item(1, 6)->setText(
        QString::number((oldCell + 16) / 128.0, 'f', 6)
            .replace('.', QLatin1Char(form->DecimalSeparator())));
    QTest::mouseClick(panel.Button5, Qt::LeftButton);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    EXPECT_EQ(form->Image().Bytes()[tuning::kCorrectionAddress + 5], oldCell + 16);
    grid = GridView(*form, 1);
    EXPECT_NEAR(Number(*form, grid, 0, 5), (oldCell + 16) / 128.0, 1e-6);
    grid = GridView(*form, 5);
    EXPECT_FALSE(grid->item(6, 1)->text().isEmpty());

    // "Сохранить прошивку как…" into a new file, named without an extension:
    // the edited image as "edited.bin", the opened file untouched.
    const fs::path saved = dir / "edited.bin";
    dialogs.fileAnswers << QString::fromStdString((dir / "edited").string());
    SaveAs(*form)->trigger();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    const Bytes written = ReadAll(saved);
    EXPECT_EQ(written, ImageBytes(*form));
    ASSERT_EQ(written.size(), firmware::kImageSize);
    EXPECT_EQ(written[0x5A10], 90);
    EXPECT_EQ(written[tuning::kCorrectionAddress + 5], oldCell + 16);
    EXPECT_EQ(ReadAll(source), original);
    EXPECT_TRUE(dialogs.questions.isEmpty());

    // Over an existing file: one question (the file dialog asks none), and
    // "no" keeps the file.
    std::ofstream(saved, std::ios::binary | std::ios::trunc) << "keep";
    dialogs.answerYes = false;
    dialogs.fileAnswers << QString::fromStdString(saved.string());
    SaveAs(*form)->trigger();
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].contains("уже есть"));
    EXPECT_EQ(ReadAll(saved), (Bytes{'k', 'e', 'e', 'p'}));

    // Over the opened file only after asking, and the question says so:
    // "no" keeps it, "yes" writes.
    dialogs.fileAnswers << QString::fromStdString(source.string());
    SaveAs(*form)->trigger();
    ASSERT_EQ(dialogs.questions.size(), 2);
    EXPECT_TRUE(dialogs.questions[1].contains(QString::fromStdString(source.string())));
    EXPECT_TRUE(dialogs.questions[1].contains("открыта"));
    EXPECT_EQ(ReadAll(source), original);
    dialogs.answerYes = true;
    dialogs.fileAnswers << QString::fromStdString((dir / "." / "demo.bin").string());
    SaveAs(*form)->trigger();
    EXPECT_EQ(dialogs.questions.size(), 3);
    EXPECT_EQ(ReadAll(source), ImageBytes(*form));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    // At the desk no session folder is made and no copy is written.
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_FALSE(entry.is_directory()) << entry.path();
}

TEST_F(Desk, AConnectAfterTheDeskGoesOnWithTheOpenedImage) {
    StartSimulator(SimulatorOptions());

    // An image whose correction table the simulated ECU does not hold.
    Bytes desk = ReadAll(dir / "demo.bin");
    for (int k = 0; k < tuning::kCellCount; ++k) desk[tuning::kCorrectionAddress + k] += 3;
    std::ofstream(dir / "desk.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(desk.data()),
               static_cast<std::streamsize>(desk.size()));
    auto form = Open();
    dialogs.fileAnswers << QString::fromStdString((dir / "desk.bin").string());
    form->ToolButton(7)->click();
    ASSERT_TRUE(form->Image().FirmwareLoaded);
    const Bytes opened = ImageBytes(*form);
    ASSERT_EQ(opened, desk);

    form->ToolButton(1)->click();
    // The connect runs with the image actions closed; the image may be saved.
    EXPECT_EQ(Enabled(*form), "-----+");
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("|").toStdString();
    // "other.bin" does not exist: the opened image stands, as after a load.
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    EXPECT_EQ(ImageBytes(*form), opened);
    EXPECT_EQ(Enabled(*form), "++++++");
    // Its correction table went into the ECU's RAM at the session start.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const Bytes ram = simulator->Ram();
            return std::equal(ram.begin() + tuning::kCorrectionAddress,
                              ram.begin() + tuning::kCorrectionAddress + tuning::kCellCount,
                              opened.begin() + tuning::kCorrectionAddress);
        },
        5000));

    form->ToolButton(2)->click();
    EXPECT_EQ(Enabled(*form), "+--+++");  // back at the desk with the image
}

// Connected without an image, a file loaded gives the tuning start at once.
TEST_F(Desk, AnImageLoadedWhileConnectedOffersTheTuningStart) {
    StartSimulator(SimulatorOptions());
    auto form = Open();
    form->Settings().SetSettingValue("Загрузить прошивку по умолчанию", "нет");
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("|").toStdString();
    EXPECT_EQ(Enabled(*form), "++-++-");
    dialogs.fileAnswers << QString::fromStdString((dir / "demo.bin").string());
    form->ToolButton(7)->click();
    ASSERT_TRUE(form->Image().FirmwareLoaded);
    EXPECT_EQ(Enabled(*form), "++++++");
    form->ToolButton(2)->click();
}

// Edits at the desk are not dropped without a word: the caption marks them,
// and closing the window or opening another image asks first. «Отмена»
// keeps everything, «Да» writes the opened file, «Нет» goes on without.
class UnsavedEdits : public Desk {
  protected:
    fs::path opened, other;
    Bytes original;

    void SetUp() override {
        Desk::SetUp();
        if (HasFatalFailure()) return;
        opened = dir / "mine.bin";
        other = dir / "other-image.bin";
        original = ReadAll(dir / "demo.bin");
        korvane::test::WriteAll(opened, original);
        Bytes second = original;
        second[0x5A10] = 77;
        korvane::test::WriteAll(other, second);
    }

    // The window with mine.bin open and one value edited "только в образ".
    std::unique_ptr<app::TForm1> OpenAndEdit() {
        auto form = Open();
        dialogs.fileAnswers << QString::fromStdString(opened.string());
        form->ToolButton(7)->click();
        EXPECT_TRUE(form->Image().FirmwareLoaded);
        EXPECT_EQ(form->windowTitle(), "Korvane 1.45.4");
        form->ToolButton(21)->click();
        maps::CalibrationPanel& panel = form->Maps();
        Select(panel, "Демо_прошивка/Холостой_ход/Обороты_ХХ");
        panel.Editpoint->setText("900");
        QTest::mouseClick(panel.Button5, Qt::LeftButton);
        EXPECT_EQ(form->Image().Bytes()[0x5A10], 90);
        EXPECT_TRUE(form->Image().Modified());
        EXPECT_EQ(form->windowTitle(), "Korvane 1.45.4 *");
        return form;
    }

    QString Question() const {
        return QStringLiteral("Сохранить изменения в «%1»?")
            .arg(QString::fromStdString(opened.string()));
    }
};

TEST_F(UnsavedEdits, ClosingTheWindowAsksFirst) {
    auto form = OpenAndEdit();
    const Bytes edited = ImageBytes(*form);

    dialogs.saveAnswer = app::SaveChanges::Cancel;
    EXPECT_FALSE(form->close());
    EXPECT_EQ(dialogs.saveQuestions, QStringList{Question()});
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(ReadAll(opened), original);
    EXPECT_EQ(form->windowTitle(), "Korvane 1.45.4 *");

    dialogs.saveAnswer = app::SaveChanges::Save;
    EXPECT_TRUE(form->close());
    EXPECT_EQ(dialogs.saveQuestions.size(), 2);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(ReadAll(opened), edited);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    // «Нет»: closed, the file as it was.
    form.reset();
    korvane::test::WriteAll(opened, original);
    dialogs.saveQuestions.clear();
    auto again = OpenAndEdit();
    dialogs.saveAnswer = app::SaveChanges::Discard;
    EXPECT_TRUE(again->close());
    EXPECT_EQ(dialogs.saveQuestions.size(), 1);
    EXPECT_EQ(ReadAll(opened), original);

    // Nothing edited: no question.
    again.reset();
    dialogs.saveQuestions.clear();
    auto clean = Open();
    dialogs.fileAnswers << QString::fromStdString(opened.string());
    clean->ToolButton(7)->click();
    EXPECT_TRUE(clean->close());
    EXPECT_TRUE(dialogs.saveQuestions.isEmpty());
}

TEST_F(UnsavedEdits, OpeningAnotherImageAsksFirst) {
    auto form = OpenAndEdit();
    const Bytes edited = ImageBytes(*form);

    // «Отмена»: no file dialog, the edit stays.
    dialogs.saveAnswer = app::SaveChanges::Cancel;
    dialogs.fileAnswers << QString::fromStdString(other.string());
    form->ToolButton(7)->click();
    EXPECT_EQ(dialogs.saveQuestions, QStringList{Question()});
    EXPECT_EQ(dialogs.fileAnswers.size(), 1);
    EXPECT_EQ(ImageBytes(*form), edited);
    EXPECT_EQ(form->windowTitle(), "Korvane 1.45.4 *");

    // «Нет»: the other image comes, the edit is gone, mine.bin untouched.
    dialogs.saveAnswer = app::SaveChanges::Discard;
    form->ToolButton(7)->click();
    EXPECT_TRUE(dialogs.fileAnswers.isEmpty());
    EXPECT_EQ(ImageBytes(*form), ReadAll(other));
    EXPECT_EQ(ReadAll(opened), original);
    EXPECT_EQ(form->windowTitle(), "Korvane 1.45.4");

    // «Да»: the edit is written into the file it came from, then the other
    // image opens.
    form->close();
    form.reset();
    dialogs.saveQuestions.clear();
    auto again = OpenAndEdit();
    dialogs.saveAnswer = app::SaveChanges::Save;
    dialogs.fileAnswers << QString::fromStdString(other.string());
    again->ToolButton(7)->click();
    EXPECT_EQ(dialogs.saveQuestions.size(), 1);
    EXPECT_EQ(ReadAll(opened), edited);
    EXPECT_EQ(ImageBytes(*again), ReadAll(other));
    EXPECT_FALSE(again->Image().Modified());
    EXPECT_TRUE(again->LogLines().contains(
        QStringLiteral("Прошивка сохранена в «%1»").arg(QString::fromStdString(opened.string()))));

    // A save-as of the edits clears the mark: no question afterwards.
    again.reset();
    korvane::test::WriteAll(opened, original);
    dialogs.saveQuestions.clear();
    auto third = OpenAndEdit();
    dialogs.fileAnswers << QString::fromStdString((dir / "copy.bin").string());
    SaveAs(*third)->trigger();
    EXPECT_EQ(third->windowTitle(), "Korvane 1.45.4");
    EXPECT_TRUE(third->close());
    EXPECT_TRUE(dialogs.saveQuestions.isEmpty());
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
}

// «УОЗ на ЧН» at the desk: the button shows the table; the write button puts
// it into the image, marked changed, and says it went there only.
TEST_F(UnsavedEdits, PartLoadIgnitionAtTheDeskStoresIntoTheImage) {
    auto form = Open();
    dialogs.fileAnswers << QString::fromStdString(opened.string());
    form->ToolButton(7)->click();
    form->ToolButton(14)->click();
    GridView(*form, 4);  // "УОЗ": the panel with the buttons
    auto* button6 = form->findChild<QPushButton*>(QStringLiteral("Button6"));
    auto* button7 = form->findChild<QPushButton*>(QStringLiteral("Button7"));
    ASSERT_TRUE(button6 && button7);
    const Bytes before = ImageBytes(*form);
    QTest::mouseClick(button6, Qt::LeftButton);
    EXPECT_EQ(ImageBytes(*form), before);
    EXPECT_FALSE(form->Image().Modified());
    QTest::mouseClick(button7, Qt::LeftButton);
    const Bytes after = ImageBytes(*form);
    ASSERT_FALSE(std::equal(after.begin() + tuning::kIgnitionAddress,
                            after.begin() + tuning::kIgnitionAddress + tuning::kCellCount,
                            original.begin() + tuning::kIgnitionAddress))
        << "the demo image's ignition table is already what the part-load rule gives";
    EXPECT_TRUE(form->Image().Modified());
    EXPECT_EQ(form->windowTitle(), "Korvane 1.45.4 *");
    EXPECT_TRUE(form->LogLines().contains(
        "«УОЗ на ЧН»: нет связи с ECU, записано только в образ прошивки."));
    EXPECT_TRUE(button6->isVisible());
}

}  // namespace
