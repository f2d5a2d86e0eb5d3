// The autotuning with the real window, the real workers and the simulator:
// connect with the default image, start the tuning with the engine held in
// one cell, and find what was learned in the simulated ECU's RAM and in the
// image copy on disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "lambda/LAMBDAThread.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/e2e/WindowFixture.h"
#include "tests/support/FormParts.h"
#include "tuning/TuningControls.h"
#include "tuning/TuningTables.h"
#include "tuning/WriteBack.h"
#include "tuning/ui/TuningPanel.h"

using namespace korvane;
using korvane::tuning::CellIndex;
using korvane::tuning::kBcnAddress;
using korvane::tuning::kBcnCopyAddress;
using korvane::tuning::kCorrectionAddress;
namespace fs = std::filesystem;
using korvane::test::Part;

namespace {

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t at, size_t n = 256) {
    return {bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n)};
}

class Tuning : public korvane::test::WindowTest {
  protected:
    std::vector<uint8_t> firmware = sim::MakeSyntheticFirmware();

    sim::Options Options() const {
        sim::Options o = SimulatorOptions();
        o.lc1WarmUp = false;
        return o;
    }
    void SetUp() override {
        WindowTest::SetUp();
        std::ofstream(dir / "demo.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(firmware.data()),
                   static_cast<std::streamsize>(firmware.size()));
        StartSimulator(Options());
        ASSERT_FALSE(HasFatalFailure());
        simulator->SetLc1Lambda(0);  // the LC-1 reads the engine's true mixture
    }

    // The fast exchange takes each answer as soon as it is complete; the
    // roomy "Таймаут2" only bounds a late one, so a busy machine does not
    // lose answers.
    void WriteConfig(const std::string& bcnInterval,
                     const std::string& neighbours =
                         "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n",
                     const std::string& extra = "") {
        const std::string text =
            "Ecu Com=" + (dir / "ecu").string() +
            "\r\nСкорость ECU COM=38400\r\nТаймаут1=0\r\nТаймаут2=200\r\nБыстрый обмен=да\r\nLC-1 "
            "Com=" +
            (dir / "lc1").string() +
            "\r\nСтационарность по RPM=100\r\nСтационарность по %=100\r\n"
            "Стационарность по циклам=4\r\nНе настраивать ниже %=2\r\n"
            "Количество циклов для обработки=7\r\nВесовой коэф. коррекции(%)=70\r\n"
            "Писать логи=нет\r\nИнтервал коррекции БЦН(мс)=" +
            bcnInterval + "\r\nВремя перезаписи прошивки(мс)=300\r\n" + neighbours +
            "Датчик кислорода=ШДК LC-1\r\nЗагрузить прошивку по умолчанию=да\r\n"
            "Прошивка по умолчанию=demo.bin\r\n" +
            extra;
        WriteConfigText(text);
    }

    // The engine held in the worst cell, BCN rewrites only every two
    // minutes, the session up and the tuning on: the window once the tuning
    // has taken its first sample. A fatal failure when it does not.
    void TuneTheWorstCell(std::unique_ptr<app::TForm1>& form, std::pair<int, int>& cell) {
        WriteConfig("120000");
        cell = WorstCell();
        simulator->HoldCell(cell.first, cell.second);
        form = Open();
        form->ToolButton(1)->click();
        ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
        form->ToolButton(10)->click();
        auto& tables = form->Tuning().Tables();
        ASSERT_TRUE(QTest::qWaitFor([&] { return tables.AnalisCount > 0; }, 20000));
    }

    bool Wrote(uint16_t address) const {
        for (const auto& r : simulator->Requests())
            if (r.data.size() > 3 && r.data[0] == 0x3D && r.answered &&
                ((r.data[2] << 8) | r.data[3]) == address)
                return true;
        return false;
    }
};

}  // namespace

TEST_F(Tuning, StartLearnsTheHeldCellAndTheEcuAndTheSavedImageHoldWhatWasLearned) {
    WriteConfig("2000");
    const auto [c, r] = WorstCell();
    const int k = CellIndex(c, r);
    const double errorBefore = std::fabs(simulator->TrueLambdaAtCell(c, r) - 1);
    ASSERT_GT(errorBefore, 0.03);
    simulator->HoldCell(c, r);
    auto form = Open();

    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
    EXPECT_TRUE(form->LogLines().contains("Прошивка загружена" + QString::fromUtf8("demo.bin")));
    EXPECT_TRUE(form->LogLines().contains("Записываю поправку"));
    // The session start reads the tables back: the ECU holds the image's,
    // so nothing is written.
    EXPECT_TRUE(form->LogLines().contains("ECU: << Сверка RAM: совпадает с образом"))
        << form->LogLines().join("\n").toStdString();
    EXPECT_FALSE(Wrote(0x7DB7));
    ASSERT_TRUE(form->ToolButton(10)->isEnabled());

    form->ToolButton(10)->click();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Идет обучение");
    EXPECT_FALSE(form->ToolButton(10)->isEnabled());
    EXPECT_TRUE(form->ToolButton(11)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return simulator->Ram()[0x608A] == 150; }, 5000));

    // The cell learns: single-cell corrections reach the ECU's RAM.
    auto& tables = form->Tuning().Tables();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables.PRecCount >= 2; }, 20000))
        << "PRec " << tables.PRecCount << ", Analis " << tables.AnalisCount;
    const auto image = [&] { return form->Image().Bytes(); };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return simulator->Ram()[kCorrectionAddress + k] == image()[kCorrectionAddress + k]; },
        5000));
    EXPECT_NE(image()[kCorrectionAddress + k], firmware[kCorrectionAddress + k]);
    // and the engine runs closer to lambda 1 in that cell.
    EXPECT_LT(std::fabs(simulator->TrueLambdaAtCell(c, r) - 1), errorBefore);

    // After the BCN interval the whole BCN table goes over, and the image's
    // two copies follow it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !form->LogLines().filter("Перезаписываю GBC(Новых= ").isEmpty(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto ram = simulator->Ram();
            const std::vector<uint8_t> img(image().begin(), image().end());
            return Slice(ram, kBcnAddress) == Slice(img, kBcnAddress);
        },
        5000));
    {
        const std::vector<uint8_t> img(image().begin(), image().end());
        EXPECT_EQ(Slice(img, kBcnCopyAddress), Slice(img, kBcnAddress));
        // What the held cell learned is what went over. With every learned
        // correction in the ECU's RAM the simulated engine's air charge can
        // round to the image's own BCN byte, so no difference is asked for.
        EXPECT_EQ(img[kBcnAddress + k], tuning::BcnByte(tables.BcnTable[c][r].Learned));
    }
    // GBCRec counts the BCN writes the ECU confirmed: one per run of BCN
    // block writes it received (none when the learned bytes equal the
    // image's).
    int runs = 0;
    bool inRun = false;
    for (const auto& q : simulator->Requests()) {
        const int at = q.data.size() > 5 && q.data[0] == 0x3D ? (q.data[2] << 8 | q.data[3]) : -1;
        const bool bcn = q.answered && at >= kBcnAddress && at < kBcnAddress + 256;
        if (bcn && !inRun) ++runs;
        inRun = bcn;
    }
    EXPECT_EQ(tables.GbcRecCount, runs);

    // Stop, let a save run, disconnect: the image copy on disk holds the
    // bytes the ECU got.
    form->ToolButton(11)->click();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Диагностика");
    EXPECT_FALSE(form->Tuning().Timer4->isActive());
    QTest::qWait(800);
    const std::string dateDir = form->DateDir();
    form->ToolButton(2)->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->EcuWorker().Status().IsComConnected == 0; }, 3000));
    const auto saved = ReadFile(fs::path(dateDir) / "demo.bin");
    ASSERT_EQ(saved.size(), 65536u);
    const auto ram = simulator->Ram();
    EXPECT_EQ(saved[kCorrectionAddress + k], ram[kCorrectionAddress + k]);
    EXPECT_EQ(Slice(saved, kBcnAddress), Slice(ram, kBcnAddress));
    EXPECT_EQ(Slice(saved, kBcnCopyAddress), Slice(ram, kBcnAddress));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
}

// An LC-1 that reports errors gives no mixture to learn from: the work point
// is still followed, but no sample is taken from its last good reading.
TEST_F(Tuning, Lc1InErrorGivesNoSamples) {
    std::unique_ptr<app::TForm1> form;
    std::pair<int, int> cell;
    ASSERT_NO_FATAL_FAILURE(TuneTheWorstCell(form, cell));
    const auto [c, r] = cell;
    auto& tables = form->Tuning().Tables();

    sim::Faults faults;
    faults.lc1Error = 1.0;
    simulator->SetFaults(faults);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->LambdaWorker().IsLambdaError == 1; }, 5000));
    QTest::qWait(100);  // a tick that saw the reading before the error
    const int samples = tables.AnalisCount;
    const int hits = tables.StationaryHitCount;
    const int rewrites = tables.PRecCount;
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables.StationaryHitCount > hits + 40; }, 20000));
    EXPECT_EQ(tables.CurrentCell, (tuning::GridCell{r + 1, c + 1}));
    EXPECT_EQ(tables.AnalisCount, samples);
    EXPECT_EQ(tables.PRecCount, rewrites);

    // The LC-1 recovers: learning goes on with its fresh readings.
    simulator->SetFaults({});
    EXPECT_TRUE(QTest::qWaitFor([&] { return tables.AnalisCount > samples; }, 20000));
    form->ToolButton(11)->click();
    form->ToolButton(2)->click();
}

// The ECU falls silent mid-tuning and the link drops: nothing is written
// meanwhile and the learned tables stay; after a new connect and start the
// next BCN write brings the whole table over.
TEST_F(Tuning, LinkLostMidTuningKeepsTheTablesAndTheNextWriteBringsThemAll) {
    WriteConfig("1000");  // every BCN tick writes, changed or not
    const auto [c, r] = WorstCell();
    simulator->HoldCell(c, r);
    auto form = Open();
    auto connectAndStart = [&] {
        form->ToolButton(1)->click();
        EXPECT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
        form->ToolButton(10)->click();
    };
    auto bcnWrites = [&] { return form->LogLines().filter("Перезаписываю GBC(Новых= ").size(); };
    connectAndStart();
    auto& tables = form->Tuning().Tables();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables.PRecCount >= 1 && bcnWrites() >= 1; }, 20000));

    sim::Faults silent;
    silent.silence = 1.0;
    simulator->SetFaults(silent);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->EcuWorker().Status().IsComConnected == 0; }, 20000));
    const auto learned = tables.BcnTable;
    const float correction = tables.WorkPointCells[c][r].Correction;
    const int writes = bcnWrites();
    const int gbc = tables.GbcRecCount;
    QTest::qWait(2500);  // two BCN ticks with the link down
    EXPECT_EQ(bcnWrites(), writes);
    EXPECT_EQ(tables.GbcRecCount, gbc);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            EXPECT_EQ(tables.BcnTable[i][j].Learned, learned[i][j].Learned);
    EXPECT_EQ(tables.WorkPointCells[c][r].Correction, correction);

    // The user reconnects once the ECU answers again (its old session has
    // timed out by then) and starts the tuning anew.
    form->ToolButton(2)->click();
    simulator->SetFaults({});
    QTest::qWait(5500);
    connectAndStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bcnWrites() > writes; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto ram = simulator->Ram();
            const auto img = form->Image().Bytes();
            return std::equal(img.begin() + kBcnAddress, img.begin() + kBcnAddress + 256,
                              ram.begin() + kBcnAddress);
        },
        5000));
    // What went over is the learned table, every cell of it.
    const auto img = form->Image().Bytes();
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            EXPECT_EQ(img[kBcnAddress + CellIndex(i, j)],
                      tuning::BcnByte(tables.BcnTable[i][j].Current));
    form->ToolButton(11)->click();
    form->ToolButton(2)->click();
}

// A locked cell next to the learning one keeps its bytes in RAM through the
// single-cell writes, the neighbour rewrites and the BCN rewrites, while its
// free neighbours take predictions; "Изменение %" shows what the learned
// cell changed; "Вернуть поправку" puts the image's tables back into RAM.
TEST_F(Tuning, ALockedCellKeepsItsBytesAndTheWayBackRestoresTheRam) {
    const auto [c, r] = WorstCell();
    const int k = CellIndex(c, r);
    const int lockedRow = r > 0 ? r - 1 : r + 1;
    const int locked = CellIndex(c, lockedRow);
    const int freeNeighbour = CellIndex(c < 15 ? c + 1 : c - 1, r);
    WriteConfig("1500", "Коэф. обучения соседних РТ=50\r\nИнтервал обучения соседних РТ=1000\r\n",
                "Заблокированные ячейки=" + std::to_string(locked) + "\r\n");
    simulator->HoldCell(c, lockedRow);
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
    auto& tables = form->Tuning().Tables();
    ASSERT_TRUE(tables.Locked[static_cast<size_t>(locked)]);
    form->ToolButton(10)->click();

    // Held in the locked cell: followed, never sampled.
    const int hits = tables.StationaryHitCount;
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables.StationaryHitCount > hits + 60; }, 20000));
    EXPECT_EQ(tables.AnalisCount, 0);
    EXPECT_EQ(tables.WorkPointCells[c][lockedRow].SampleCount, 0);

    // Its neighbour learns; the rewrites carry the predictions over.
    simulator->HoldCell(c, r);
    auto neighbourWrites = [&] {
        return form->LogLines().filter("Перезаписываю соседнии РТ=").size();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables.PRecCount >= 2; }, 20000))
        << "PRec " << tables.PRecCount << ", Analis " << tables.AnalisCount;
    const int writes = neighbourWrites();
    ASSERT_TRUE(QTest::qWaitFor([&] { return neighbourWrites() > writes; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !form->LogLines().filter("Перезаписываю GBC(Новых= ").isEmpty(); }, 10000));
    QTest::qWait(300);  // the last hand-over reaches the ECU
    {
        const auto ram = simulator->Ram();
        EXPECT_NE(ram[kCorrectionAddress + k], firmware[kCorrectionAddress + k]);
        EXPECT_EQ(ram[kCorrectionAddress + locked], firmware[kCorrectionAddress + locked]);
        EXPECT_EQ(ram[kBcnAddress + locked], firmware[kBcnAddress + locked]);
        EXPECT_NE(ram[kCorrectionAddress + freeNeighbour],
                  firmware[kCorrectionAddress + freeNeighbour]);
        const auto img = form->Image().Bytes();
        EXPECT_EQ(img[kCorrectionAddress + locked], firmware[kCorrectionAddress + locked]);
        EXPECT_EQ(img[kBcnCopyAddress + locked], firmware[kBcnAddress + locked]);
    }

    // The change view: the learned cell's per cent against the image.
    form->Tuning().ComboBox1->setCurrentIndex(5);
    form->Tuning().ComboBox1Change();
    const char sep = form->DecimalSeparator();
    const QString shown = form->Tuning().StringGrid2->item(r + 1, c + 1)->text();
    EXPECT_EQ(shown.toStdString(), tuning::ChangeText(tables.WorkPointCells[c][r].Correction,
                                                      firmware[kCorrectionAddress + k], sep));
    EXPECT_FALSE(shown.isEmpty());
    EXPECT_EQ(form->Tuning().StringGrid2->item(lockedRow + 1, c + 1)->text(), "");

    // The way back, after a question.
    form->ToolButton(11)->click();
    ASSERT_TRUE(form->Tuning().RestoreButton->isEnabled());
    form->Tuning().RestoreButton->click();
    EXPECT_EQ(dialogs.questions.size(), 1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto ram = simulator->Ram();
            return Slice(ram, kCorrectionAddress) == Slice(firmware, kCorrectionAddress) &&
                   Slice(ram, kBcnAddress) == Slice(firmware, kBcnAddress);
        },
        10000))
        << form->LogLines().join("\n").toStdString();
    // The lines follow the ECU's confirmations, which reach the window a
    // moment after the simulator has taken the bytes.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !form->LogLines()
                        .filter("Поправка возвращена к загруженной прошивке")
                        .isEmpty() &&
                   !form->LogLines().filter("БЦН возвращен к загруженной прошивке").isEmpty();
        },
        5000))
        << form->LogLines().join("\n").toStdString();
    const auto img = form->Image().Bytes();
    const std::vector<uint8_t> image(img.begin(), img.end());
    EXPECT_EQ(Slice(image, kCorrectionAddress), Slice(firmware, kCorrectionAddress));
    EXPECT_EQ(Slice(image, kBcnCopyAddress), Slice(firmware, kBcnAddress));
    EXPECT_EQ(form->Tuning().StringGrid2->item(r + 1, c + 1)->text(), "");
    form->ToolButton(2)->click();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
}

// The ECU stops answering mid-tuning: the tuning pauses (no sample, no
// write) and says so, goes on by itself when the answers come back, and
// stays paused, not "Идет обучение", once the link is given up.
TEST_F(Tuning, PausesWhileTheEcuDoesNotAnswerAndGoesOnByItself) {
    // No BCN rewrite in the way: a table write on a silent line would hold
    // the worker until the link is given up.
    std::unique_ptr<app::TForm1> form;
    std::pair<int, int> cell;
    ASSERT_NO_FATAL_FAILURE(TuneTheWorstCell(form, cell));
    auto& tables = form->Tuning().Tables();
    const QString paused = "Обучение приостановлено: нет связи";
    auto writes = [&] {
        int n = 0;
        for (const auto& q : simulator->Requests()) n += !q.data.empty() && q.data[0] == 0x3D;
        return n;
    };

    for (const bool giveUp : {false, true}) {
        SCOPED_TRACE(giveUp);
        sim::Faults gone;
        gone.noEcho = 1.0;  // nothing comes back: no error, just silence
        simulator->SetFaults(gone);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Part<QLabel>(*form, "Label6")->text() == paused; }, 3000))
            << form->LogLines().join("\n").toStdString();
        EXPECT_EQ(Part<QLabel>(*form, "Label6")->palette().color(QPalette::Window),
                  QColor(255, 255, 0));
        const int samples = tables.AnalisCount;
        const int written = writes();
        if (giveUp) {
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return form->EcuWorker().IsComConnected == 0; }, 5000));
            QTest::qWait(1500);  // a BCN tick with the link gone
            EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), paused);
            EXPECT_EQ(writes(), written);
            EXPECT_EQ(tables.AnalisCount, samples);
            break;
        }
        QTest::qWait(300);
        EXPECT_EQ(writes(), written);
        EXPECT_EQ(tables.AnalisCount, samples);
        simulator->SetFaults({});
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return Part<QLabel>(*form, "Label6")->text() == "Идет обучение"; }, 3000))
            << form->LogLines().join("\n").toStdString();
        EXPECT_NE(Part<QLabel>(*form, "Label6")->palette().color(QPalette::Window),
                  QColor(255, 255, 0));
        EXPECT_TRUE(QTest::qWaitFor([&] { return tables.AnalisCount > samples; }, 10000));
    }
    form->ToolButton(2)->click();
}

// The link drops while tuning and comes back by itself: the window shows the
// tuning going on again, with its label and only the stop button of the two.
TEST_F(Tuning, AfterAnAutomaticReconnectTheWindowShowsTheTuning) {
    WriteConfig("120000", "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n",
                "Переподключаться=да\r\n");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
    form->ToolButton(10)->click();
    ASSERT_EQ(Part<QLabel>(*form, "Label6")->text(), "Идет обучение");

    simulator.reset();  // the links vanish, as an adapter pulled out
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return form->LogLines().contains("Связь с ECU потеряна: переподключение каждые 3 с");
        },
        5000))
        << form->LogLines().join("\n").toStdString();
    StartSimulator(Options());
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->LogLines().contains("Связь с ECU восстановлена"); }, 20000))
        << form->LogLines().join("\n").toStdString();
    QTest::qWait(1500);  // a while of polls and timer ticks after the restore
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Идет обучение");
    EXPECT_TRUE(form->Tuning().Tables().TuningActive);
    EXPECT_FALSE(form->ToolButton(10)->isEnabled());
    EXPECT_TRUE(form->ToolButton(11)->isEnabled());
    EXPECT_FALSE(form->ToolButton(1)->isEnabled());
    EXPECT_TRUE(form->ToolButton(2)->isEnabled());
    form->ToolButton(11)->click();
    form->ToolButton(2)->click();
}
