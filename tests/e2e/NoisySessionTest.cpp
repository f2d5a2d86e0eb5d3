// The real window against the korvane-sim program on a noisy line: 5 % of
// the ECU's answers lost and 5 % with a broken checksum, as a cheap adapter
// next to an ignition coil gives. Connects succeed, a tuning session keeps
// its one ECU session, and everything the tuning wrote is in the ECU's RAM
// when the simulator saves it on exit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/e2e/WindowFixture.h"
#include "tests/support/FormParts.h"
#include "tuning/TuningTables.h"
#include "tuning/WriteBack.h"
#include "tuning/ui/TuningPanel.h"

using namespace korvane;
namespace fs = std::filesystem;
using korvane::test::Part;

namespace {

using Bytes = std::vector<uint8_t>;

using korvane::test::ReadAll;

Bytes Slice(const Bytes& bytes, size_t at, size_t n) {
    return {bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n)};
}

class NoisySession : public korvane::test::WindowTest {
  protected:
    pid_t simPid = -1;

    void SetUp() override {
        WindowTest::SetUp();
        const Bytes firmware = sim::MakeSyntheticFirmware();
        std::ofstream(dir / "demo.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(firmware.data()),
                   static_cast<std::streamsize>(firmware.size()));
        WriteConfig();
        StartSimulatorProgram();
    }
    void TearDown() override {
        if (simPid > 0) {
            ::kill(simPid, SIGKILL);
            ::waitpid(simPid, nullptr, 0);
        }
        WindowTest::TearDown();
    }

    // The car as the program would meet it: the ECU's own pause before it
    // answers and the wire time of every byte, the drive scenario, and the
    // noisy line; its memory goes into ram.bin on SIGTERM.
    void StartSimulatorProgram() {
        simPid = ::fork();
        ASSERT_GE(simPid, 0);
        if (simPid == 0) {
            std::freopen("/dev/null", "w", stdout);
            const std::string ecu = (dir / "ecu").string(), lc1 = (dir / "lc1").string(),
                              dump = (dir / "ram.bin").string();
            ::execl(KORVANE_SIM_PROGRAM, KORVANE_SIM_PROGRAM, "--ecu", ecu.c_str(), "--lc1",
                    lc1.c_str(), "--faults", "silence=0.05,nochecksum=0.05", "--dump-ram",
                    dump.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !(fs::exists(dir / "ecu") && fs::exists(dir / "lc1")); ++i)
            QTest::qWait(10);
        ASSERT_TRUE(fs::exists(dir / "ecu"));
    }
    Bytes StopSimulatorProgram() {
        ::kill(simPid, SIGTERM);
        int status = 0;
        ::waitpid(simPid, &status, 0);
        simPid = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return ReadAll(dir / "ram.bin");
    }

    // The pauses of the shipped settings, the fast exchange on.
    void WriteConfig() {
        const std::string text =
            "Ecu Com=" + (dir / "ecu").string() +
            "\r\nСкорость ECU COM=38400\r\nТаймаут1=20\r\nТаймаут2=150\r\nБыстрый обмен=да\r\n"
            "LC-1 Com=" +
            (dir / "lc1").string() +
            "\r\nСтационарность по RPM=100\r\nСтационарность по %=100\r\n"
            "Стационарность по циклам=4\r\nНе настраивать ниже %=2\r\n"
            "Количество циклов для обработки=7\r\nВесовой коэф. коррекции(%)=70\r\n"
            "Писать логи=нет\r\nИнтервал коррекции БЦН(мс)=30000\r\n"
            "Время перезаписи прошивки(мс)=1000\r\n"
            "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n"
            "Датчик кислорода=ШДК LC-1\r\nЗагрузить прошивку по умолчанию=да\r\n"
            "Прошивка по умолчанию=demo.bin\r\n";
        WriteConfigText(text);
    }

    static int Count(app::TForm1& form, const QString& head) {
        int n = 0;
        for (const QString& line : form.LogLines()) n += line.startsWith(head);
        return n;
    }
    static std::string Log(app::TForm1& form) { return form.LogLines().join("\n").toStdString(); }
};

}  // namespace

TEST_F(NoisySession, TenConnectsInARowSucceed) {
    auto form = Open();
    for (int i = 1; i <= 10; ++i) {
        SCOPED_TRACE(i);
        form->ToolButton(1)->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 20000))
            << Log(*form);
        ASSERT_EQ(Count(*form, "ECU: << Связь с ECU не установлена"), 0) << Log(*form);
        form->ToolButton(2)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().IsComConnected == 0; }, 5000));
    }
    // Every connect started the ECU's session at its first attempt or a
    // clean second one; none of them gave up.
    EXPECT_EQ(Count(*form, "ECU: >> Long Diagnostic"), 1);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
}

TEST_F(NoisySession, TwoMinutesOfTuningKeepOneSessionAndEveryWriteReachesTheEcu) {
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 20000))
        << Log(*form);
    const int starts = Count(*form, "ECU: >> Starting Communication");
    form->ToolButton(10)->click();
    ASSERT_EQ(Part<QLabel>(*form, "Label6")->text(), "Идет обучение");

    // Two minutes of driving: the session never drops and never restarts.
    auto& ecu = form->EcuWorker();
    QElapsedTimer clock;
    clock.start();
    bool alwaysUp = true;
    while (clock.elapsed() < 120000) {
        QTest::qWait(100);
        alwaysUp = alwaysUp && ecu.IsECUConnected == 1 && ecu.IsComConnected == 1;
    }
    EXPECT_TRUE(alwaysUp) << Log(*form);
    EXPECT_EQ(Count(*form, "ECU: >> Starting Communication"), starts);
    EXPECT_EQ(Count(*form, "ECU: << Связь"), 0) << Log(*form);
    // The line was noisy, and the session lived with it.
    EXPECT_GT(ecu.error, 0);
    EXPECT_GT(Count(*form, "ECU: >> Повтор запроса "), 0);

    auto& tables = form->Tuning().Tables();
    EXPECT_GT(tables.PRecCount, 0) << "samples " << tables.AnalisCount;
    form->ToolButton(11)->click();
    // Writes still on their way, and kept ones, go out with the next polls.
    QTest::qWait(3000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ecu.Idle(); }, 5000));
    QTest::qWait(1500);
    const auto image = form->Image().Bytes();
    const Bytes believed(image.begin(), image.end());
    form->ToolButton(2)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ecu.IsComConnected == 0; }, 5000));

    const Bytes ram = StopSimulatorProgram();
    ASSERT_EQ(ram.size(), 65536u);
    const Bytes firmware = sim::MakeSyntheticFirmware();
    // What the tuning learned differs from the firmware, and the ECU holds
    // every byte of it.
    EXPECT_NE(Slice(believed, tuning::kCorrectionAddress, 256),
              Slice(firmware, tuning::kCorrectionAddress, 256));
    EXPECT_EQ(Slice(ram, tuning::kCorrectionAddress, 256),
              Slice(believed, tuning::kCorrectionAddress, 256));
    EXPECT_EQ(Slice(ram, tuning::kBcnAddress, 256), Slice(believed, tuning::kBcnAddress, 256));
    EXPECT_EQ(ram[tuning::kTuningByteAddress], tuning::kTuningByteValue);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
}

// The panel folds the noisy line's errors into counted lines; the session
// folder's journal holds every line, unfolded and in order, the panel's own
// lines among them.
TEST_F(NoisySession, TheJournalHoldsEveryLineThePanelFolded) {
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 20000))
        << Log(*form);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().error >= 6; }, 30000));
    form->ToolButton(2)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().IsComConnected == 0; }, 5000));
    QTest::qWait(300);

    const QString path = form->JournalPath();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(fs::path(path.toStdString()).parent_path(), fs::path(form->DateDir()));
    std::string bytes;
    std::string error;
    ASSERT_TRUE(platform::ReadBinaryFile(path.toStdString(), bytes, error)) << error;
    QStringList journal =
        QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).split(QStringLiteral("\r\n"));
    ASSERT_EQ(journal.takeLast(), "");  // every line ends with CR LF
    EXPECT_EQ(journal, form->LogLines());
    EXPECT_EQ(journal.first(), "Korvane started...");

    const QStringList shown = form->ShownLogLines();
    EXPECT_LT(shown.size(), journal.size());
    int folded = 0;
    qsizetype at = 0;
    for (const QString& line : shown) {
        if (line.contains(QStringLiteral(" ×"))) {
            ++folded;
            continue;
        }
        // Each line shown as it is stands in the journal, after the one
        // before it.
        const qsizetype found = journal.indexOf(line, at);
        ASSERT_GE(found, 0) << line.toStdString();
        at = found + 1;
    }
    EXPECT_GT(folded, 0) << shown.join("\n").toStdString();
    EXPECT_TRUE(shown.filter(QStringLiteral("Ошибка обмена ×")).size() > 0)
        << shown.join("\n").toStdString();
}
