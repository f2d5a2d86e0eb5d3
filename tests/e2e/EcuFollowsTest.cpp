// The ECU's RAM follows the window's image, against the simulator with the
// real window: through a cut line, an ECU restart, a close and another
// image, and a range the ECU refuses.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "WindowFixture.h"
#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "live/ui/StatusBarView.h"
#include "sim/Simulator.h"
#include "tuning/TuningTables.h"
#include "tuning/ui/TuningPanel.h"

using namespace korvane;
using korvane::tuning::kBcnAddress;
using korvane::tuning::kCorrectionAddress;
using korvane::tuning::kIgnitionAddress;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

class EcuFollows : public korvane::test::WindowTest {
  protected:
    Bytes firmware = sim::MakeSyntheticFirmware();
    std::atomic<bool> cutArmed{false};
    std::atomic<bool> cutDone{false};
    Clock::time_point lineBack{};

    void SetUp() override {
        WindowTest::SetUp();
        WriteImage("demo.bin", firmware);
    }
    void WriteImage(const char* name, const Bytes& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    // The LC-1 reads the engine's true mixture; the first BCN write after
    // arming cuts the line for 4 s in its middle.
    void Start(sim::Faults faults = {}) {
        sim::Options o = SimulatorOptions();
        o.lc1WarmUp = false;
        o.faults = faults;
        o.onRamWrite = [this](uint16_t address, size_t) {
            if (address >= kBcnAddress && address < kBcnAddress + 256 && cutArmed.exchange(false)) {
                simulator->CutLine(std::chrono::milliseconds(4000));
                lineBack = Clock::now() + std::chrono::milliseconds(4000);
                cutDone = true;
            }
        };
        StartSimulator(o);
        ASSERT_FALSE(HasFatalFailure());
        simulator->SetLc1Lambda(0);
    }
    void WriteConfig(const std::string& extra = "", bool logs = false, bool defaultImage = true) {
        WriteConfigText("Ecu Com=" + (dir / "ecu").string() +
                        "\r\nСкорость ECU COM=38400\r\nТаймаут1=0\r\nТаймаут2=200\r\n"
                        "Быстрый обмен=да\r\nLC-1 Com=" +
                        (dir / "lc1").string() +
                        "\r\nСтационарность по RPM=100\r\nСтационарность по %=100\r\n"
                        "Стационарность по циклам=4\r\nНе настраивать ниже %=2\r\n"
                        "Количество циклов для обработки=7\r\nВесовой коэф. коррекции(%)=70\r\n"
                        "Писать логи=" +
                        std::string(logs ? "да" : "нет") +
                        "\r\nИнтервал коррекции БЦН(мс)=1000\r\n"
                        "Время перезаписи прошивки(мс)=300\r\nКоэф. обучения соседних РТ=\r\n"
                        "Интервал обучения соседних РТ=\r\nДатчик кислорода=ШДК LC-1\r\n"
                        "Загрузить прошивку по умолчанию=" +
                        std::string(defaultImage ? "да" : "нет") +
                        "\r\nПрошивка по умолчанию=demo.bin\r\n" + extra);
    }
    // The learnable cell furthest from lambda 1, held.
    void HoldWorstCell() {
        const auto [c, r] = WorstCell();
        simulator->HoldCell(c, r);
    }
    // The three tables of the ECU's RAM equal the window's image.
    bool TablesEqual(app::TForm1& form) const {
        const Bytes ram = simulator->Ram();
        const auto img = form.Image().Bytes();
        for (uint16_t at : {kCorrectionAddress, kBcnAddress, kIgnitionAddress})
            if (!std::equal(img.begin() + at, img.begin() + at + 256, ram.begin() + at))
                return false;
        return true;
    }
    // Tuning on a session that stands, until something was learned into
    // the ECU: a BCN table and a cell.
    void ConnectAndTune(app::TForm1& form) {
        form.ToolButton(1)->click();
        ASSERT_TRUE(WaitUntilLive(form, 20000)) << form.LogLines().join("\n").toStdString();
        form.ToolButton(10)->click();
        auto& tables = form.Tuning().Tables();
        ASSERT_TRUE(QTest::qWaitFor([&] { return tables.PRecCount >= 1; }, 30000));
    }
    // The simulator up, the engine held in the worst cell, the window
    // connected and tuning until something was learned into the ECU.
    // extra: further lines of "config.ini". A fatal failure when not.
    void TuneTheWorstCell(std::unique_ptr<app::TForm1>& form, const std::string& extra = "") {
        Start();
        ASSERT_FALSE(HasFatalFailure());
        WriteConfig(extra);
        HoldWorstCell();
        form = Open();
        ConnectAndTune(*form);
    }
    // Answered write requests, as {address, bytes}.
    std::vector<std::pair<uint16_t, Bytes>> Writes() const {
        std::vector<std::pair<uint16_t, Bytes>> out;
        for (const auto& r : simulator->Requests())
            if (r.answered && r.data.size() > 5 && r.data[0] == 0x3D)
                out.emplace_back(static_cast<uint16_t>(r.data[2] << 8 | r.data[3]),
                                 Bytes(r.data.begin() + 5, r.data.end()));
        return out;
    }
};

}  // namespace

// The line goes for 4 s in the middle of a BCN write; the window reconnects
// by itself, and the session start brings the ECU's tables back to the
// image, whatever was lost on the way.
TEST_F(EcuFollows, ACutInTheMiddleOfABcnWriteIsMadeUpAfterTheLineReturns) {
    std::unique_ptr<app::TForm1> form;
    ASSERT_NO_FATAL_FAILURE(TuneTheWorstCell(form, "Переподключаться=да\r\n"));
    cutArmed = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return cutDone.load(); }, 30000))
        << form->LogLines().join("\n").toStdString();
    QTest::qWait(4000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return TablesEqual(*form); }, 10000))
        << form->LogLines().join("\n").toStdString();
    EXPECT_LT(Clock::now() - lineBack, std::chrono::seconds(10));
    // GBCRec counts the BCN writes the ECU confirmed whole: never more than
    // the runs of BCN writes it received.
    int runs = 0;
    bool inRun = false;
    for (const auto& r : simulator->Requests()) {
        const bool bcn = r.data.size() > 5 && r.data[0] == 0x3D &&
                         (r.data[2] << 8 | r.data[3]) >= kBcnAddress &&
                         (r.data[2] << 8 | r.data[3]) < kBcnAddress + 256;
        if (bcn && r.answered && !inRun) ++runs;
        inRun = bcn;
    }
    const int counted = form->Tuning().Tables().GbcRecCount;
    EXPECT_GE(counted, 1);
    EXPECT_LE(counted, runs);
    form->ToolButton(11)->click();
    form->ToolButton(2)->click();
}

// The ECU restarts with its RAM at the flash values: the learned tables are
// back in it within 10 s.
TEST_F(EcuFollows, AnEcuThatLostItsRamGetsTheLearnedTablesBack) {
    std::unique_ptr<app::TForm1> form;
    ASSERT_NO_FATAL_FAILURE(TuneTheWorstCell(form, "Переподключаться=да\r\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return TablesEqual(*form); }, 10000));
    // The learning made the image differ from the flash.
    const auto img = form->Image().Bytes();
    ASSERT_FALSE(std::equal(img.begin() + kCorrectionAddress,
                            img.begin() + kCorrectionAddress + 256,
                            firmware.begin() + kCorrectionAddress));
    form->ToolButton(11)->click();  // the tables stand still from here

    simulator->RestartEcu();
    const auto restarted = Clock::now();
    ASSERT_FALSE(TablesEqual(*form));
    ASSERT_TRUE(QTest::qWaitFor([&] { return TablesEqual(*form); }, 10000))
        << form->LogLines().join("\n").toStdString();
    EXPECT_LT(Clock::now() - restarted, std::chrono::seconds(10));
    form->ToolButton(2)->click();
}

// Connect, tune, disconnect, another image at the desk, connect: the ECU
// gets that image's tables and no byte of the first session's.
TEST_F(EcuFollows, NothingOfOneSessionReachesTheNext) {
    std::unique_ptr<app::TForm1> form;
    ASSERT_NO_FATAL_FAILURE(TuneTheWorstCell(form));
    form->ToolButton(11)->click();
    form->ToolButton(2)->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->EcuWorker().Status().IsComConnected == 0; }, 5000));

    Bytes other = firmware;
    for (int k = 0; k < 256; ++k) {
        other[kCorrectionAddress + k] = static_cast<uint8_t>(other[kCorrectionAddress + k] + 2);
        other[kBcnAddress + k] = static_cast<uint8_t>(other[kBcnAddress + k] + 1);
    }
    WriteImage("other.bin", other);
    dialogs.fileAnswers << QString::fromStdString((dir / "other.bin").string());
    form->ToolButton(7)->click();
    ASSERT_EQ(korvane::test::ImageBytes(*form), other);
    simulator->ClearRequests();

    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return TablesEqual(*form); }, 10000));
    QTest::qWait(1500);
    const auto writes = Writes();
    EXPECT_FALSE(writes.empty());
    for (const auto& [address, bytes] : writes)
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), other.begin() + address))
            << "a write at " << address << " carries bytes that are not the second image's";
    form->ToolButton(2)->click();
}

// A range the ECU refuses: written once, logged with the ECU's code, shown
// in the status bar, not tried again; the session goes on.
TEST_F(EcuFollows, ARefusedRangeIsWrittenOnceLoggedShownAndTheRestGoesOn) {
    sim::Faults refuse;
    refuse.refuseFrom = kCorrectionAddress + 128;
    refuse.refuseTo = kCorrectionAddress + 191;
    Start(refuse);
    ASSERT_FALSE(HasFatalFailure());
    // The image differs from the ECU in two correction blocks, one refused.
    Bytes image = firmware;
    image[kCorrectionAddress + 10] = static_cast<uint8_t>(image[kCorrectionAddress + 10] + 1);
    image[kCorrectionAddress + 11] = static_cast<uint8_t>(image[kCorrectionAddress + 11] + 1);
    image[kCorrectionAddress + 130] = static_cast<uint8_t>(image[kCorrectionAddress + 130] + 1);
    image[kCorrectionAddress + 131] = static_cast<uint8_t>(image[kCorrectionAddress + 131] + 1);
    WriteImage("demo.bin", image);
    WriteConfig();
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
    auto refusedTries = [&] {
        int n = 0;
        for (const auto& r : simulator->Requests())
            if (r.data.size() > 5 && r.data[0] == 0x3D &&
                (r.data[2] << 8 | r.data[3]) == kCorrectionAddress + 128)
                ++n;
        return n;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return refusedTries() == 1; }, 5000));
    const int polls = form->EcuWorker().Status().numlog;
    QTest::qWait(3000);
    EXPECT_EQ(refusedTries(), 1);
    EXPECT_GT(form->EcuWorker().Status().numlog, polls + 5) << "polling goes on";
    EXPECT_TRUE(form->EcuWorker().Status().LinkUp());
    // The other block went in.
    const Bytes ram = simulator->Ram();
    EXPECT_EQ(ram[kCorrectionAddress + 10], image[kCorrectionAddress + 10]);
    EXPECT_NE(ram[kCorrectionAddress + 130], image[kCorrectionAddress + 130]);
    const QStringList refusals =
        form->LogLines().filter(QString::fromUtf8("ОШИБКА Запись отклонена ECU!"));
    ASSERT_EQ(refusals.size(), 1) << form->LogLines().join("\n").toStdString();
    EXPECT_TRUE(refusals[0].contains("код - 0x31")) << refusals[0].toStdString();
    QTest::qWait(600);  // the status timer shows it
    const auto* bar = form->findChild<live::StatusBarView*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->PanelText(4).startsWith(QString::fromUtf8("ECU отказал")))
        << bar->PanelText(4).toStdString();
    form->ToolButton(2)->click();
}

// Connected with no image, then one loaded: its tables reach the ECU.
TEST_F(EcuFollows, AnImageLoadedIntoASessionWithoutOneReachesTheEcu) {
    Start();
    ASSERT_FALSE(HasFatalFailure());
    WriteConfig("", false, false);
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
    ASSERT_FALSE(form->Image().FirmwareLoaded);

    Bytes other = firmware;
    for (uint16_t at : {kCorrectionAddress, kBcnAddress, kIgnitionAddress})
        for (int k = 0; k < 256; ++k) other[at + k] = static_cast<uint8_t>(other[at + k] + 1);
    WriteImage("other.bin", other);
    dialogs.fileAnswers << QString::fromStdString((dir / "other.bin").string());
    form->ToolButton(7)->click();
    ASSERT_EQ(korvane::test::ImageBytes(*form), other);
    EXPECT_TRUE(QTest::qWaitFor([&] { return TablesEqual(*form); }, 10000))
        << form->LogLines().join("\n").toStdString();
    form->ToolButton(2)->click();
}

// A byte outside the tables, changed in the image during a session: another
// image loaded sends that image's byte there, and after an ECU restart (its
// RAM back at the flash) the reconnect brings it back.
TEST_F(EcuFollows, WhatTheSessionFollowedOutsideTheTablesOutlivesALoadAndARestart) {
    Start();
    ASSERT_FALSE(HasFatalFailure());
    WriteConfig("Переподключаться=да\r\n");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000)) << form->LogLines().join("\n").toStdString();
    constexpr uint16_t kAt = 0x6000;
    const uint8_t edited = static_cast<uint8_t>(firmware[kAt] ^ 0x5A);
    const uint8_t edit[] = {edited};
    ASSERT_TRUE(form->Image().Store(kAt, edit));
    ASSERT_TRUE(QTest::qWaitFor([&] { return simulator->Ram()[kAt] == edited; }, 5000))
        << form->LogLines().join("\n").toStdString();

    Bytes other = firmware;
    other[kAt] = static_cast<uint8_t>(firmware[kAt] ^ 0xA5);
    WriteImage("other.bin", other);
    dialogs.fileAnswers << QString::fromStdString((dir / "other.bin").string());
    form->ToolButton(7)->click();
    ASSERT_EQ(korvane::test::ImageBytes(*form), other);
    ASSERT_TRUE(QTest::qWaitFor([&] { return simulator->Ram()[kAt] == other[kAt]; }, 5000))
        << form->LogLines().join("\n").toStdString();

    simulator->RestartEcu();
    ASSERT_EQ(simulator->Ram()[kAt], firmware[kAt]);
    // An edit while the window reconnects is not lost either.
    ASSERT_TRUE(QTest::qWaitFor([&] { return StateText(*form) == "Переподключение..."; }, 10000))
        << form->LogLines().join("\n").toStdString();
    const uint8_t later[] = {static_cast<uint8_t>(firmware[kAt + 1] ^ 0x33)};
    ASSERT_TRUE(form->Image().Store(kAt + 1, later));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const Bytes ram = simulator->Ram();
            return ram[kAt] == other[kAt] && ram[kAt + 1] == later[0];
        },
        15000))
        << form->LogLines().join("\n").toStdString();
    form->ToolButton(2)->click();
}

// The ECU off; connect and disconnect three times within 2 s, then connect
// and the ECU on: the opens given up complete nothing, one session comes up
// and stays, and the engine timer, the logs and the tuning run.
TEST_F(EcuFollows, ConnectsAbandonedWhileTheEcuIsOffCompleteNothing) {
    sim::Faults off;
    off.silence = 1.0;
    Start(off);
    ASSERT_FALSE(HasFatalFailure());
    WriteConfig("", true);
    auto form = Open();
    for (int i = 0; i < 3; ++i) {
        form->ToolButton(1)->click();
        QTest::qWait(300);
        form->ToolButton(2)->click();
        QTest::qWait(300);
    }
    form->ToolButton(1)->click();
    simulator->SetFaults({});
    ASSERT_TRUE(WaitUntilLive(*form, 30000)) << form->LogLines().join("\n").toStdString();
    QTest::qWait(3000);  // a stale failure would end it here
    EXPECT_EQ(StateText(*form), "Диагностика") << form->LogLines().join("\n").toStdString();
    EXPECT_TRUE(form->EcuWorker().Status().LinkUp());
    EXPECT_TRUE(korvane::test::Part<QTimer>(*form, "engineTimer")->isActive());
    const auto log = std::filesystem::path(form->DateDir()) / "лог.xls";
    ASSERT_TRUE(std::filesystem::exists(log));
    const auto size = std::filesystem::file_size(log);
    QTest::qWait(500);
    EXPECT_GT(std::filesystem::file_size(log), size);
    form->ToolButton(10)->click();
    EXPECT_EQ(StateText(*form), "Идет обучение");
    form->ToolButton(11)->click();
    form->ToolButton(2)->click();
}
