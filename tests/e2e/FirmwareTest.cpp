// The firmware image with the real window, the real workers and the
// simulator: the default image at connect, a file chosen in the dialog, a
// read out of the ECU, and the copies that land in the session folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/MainForm.h"
#include "app/Session.h"
#include "ecu/ECUThread.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ui/FirmwareActions.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/e2e/WindowFixture.h"
#include "tests/support/FormParts.h"

using namespace korvane;
namespace fs = std::filesystem;
using korvane::test::Part;

namespace {

using Bytes = std::vector<uint8_t>;

using korvane::test::ImageBytes;
using korvane::test::ReadAll;
using korvane::test::WriteAll;

// A file of n bytes unlike the synthetic image.
Bytes Pattern(std::size_t n, uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + seed);
    return b;
}

// The simulator runs in-process, unless a test starts the program.
class Firmware : public korvane::test::WindowTest {
  protected:
    pid_t simPid = -1;

    void TearDown() override {
        if (simPid > 0) {
            ::kill(simPid, SIGKILL);
            ::waitpid(simPid, nullptr, 0);
        }
        WindowTest::TearDown();
    }

    void StartSimulator() { WindowTest::StartSimulator(SimulatorOptions()); }

    // The korvane-sim program, saving its memory into dump on SIGTERM.
    void StartSimulatorProgram(const fs::path& dump) {
        simPid = ::fork();
        ASSERT_GE(simPid, 0);
        if (simPid == 0) {
            std::freopen("/dev/null", "w", stdout);
            const std::string ecu = (dir / "ecu").string(), lc1 = (dir / "lc1").string();
            ::execl(KORVANE_SIM_PROGRAM, KORVANE_SIM_PROGRAM, "--ecu", ecu.c_str(), "--lc1",
                    lc1.c_str(), "--fast", "--scenario", "idle", "--dump-ram", dump.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !fs::exists(dir / "ecu"); ++i) QTest::qWait(10);
        ASSERT_TRUE(fs::exists(dir / "ecu"));
    }
    void StopSimulatorProgram() {
        ::kill(simPid, SIGTERM);
        int status = 0;
        ::waitpid(simPid, &status, 0);
        simPid = -1;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    void WriteConfig(const std::string& loadDefault, const std::string& defaultName = "j5ls.bin",
                     const std::string& readPause = "200") {
        const std::string text =
            "Ecu Com=" + (dir / "ecu").string() +
            "\r\nСкорость ECU COM=38400\r\nТаймаут1=0\r\nБыстрый обмен=да\r\nТаймаут2=" +
            readPause + "\r\nLC-1 Com=" + (dir / "lc1").string() +
            "\r\nНе настраивать ниже %=2\r\nПисать логи=нет\r\n"
            "Интервал коррекции БЦН(мс)=120000\r\nВремя перезаписи прошивки(мс)=100\r\n"
            "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n"
            "Датчик кислорода=УДК\r\nПрошивка по умолчанию=" +
            defaultName + "\r\nЗагрузить прошивку по умолчанию=" + loadDefault + "\r\n";
        WriteConfigText(text);
    }

    static bool Connect(app::TForm1& form) {
        form.ToolButton(1)->click();
        const bool ok = WaitUntilLive(form);
        if (!ok) ADD_FAILURE() << form.LogLines().join("\n").toStdString();
        return ok;
    }

    // The whole line, or (whole = false) a line that starts with it.
    static bool Logged(app::TForm1& form, const QString& line, bool whole = true) {
        const QStringList lines = form.LogLines();
        if (whole) return lines.contains(line);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const QString& l) { return l.startsWith(line); });
    }

    // Waits until the file holds exactly these bytes (the next save tick).
    static bool SavedAs(const fs::path& file, const Bytes& want) {
        return QTest::qWaitFor([&] { return ReadAll(file) == want; }, 3000);
    }
};

void ExpectGridShowsLabelsOf(app::TForm1& form) {
    const firmware::GridLabels labels = firmware::Namesstringgrid(form.Image().Bytes());
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(Part<QTableWidget>(form, "StringGrid2")->item(i + 1, 0)->text(),
                  QString::number(labels.rows[i]))
            << i;
        EXPECT_EQ(Part<QTableWidget>(form, "StringGrid2")->item(0, i + 1)->text(),
                  QString::number(labels.cols[i]))
            << i;
    }
    EXPECT_EQ(form.Image().RpmStep, labels.rpmStep);
}

}  // namespace

// Connect with the default image: it is loaded once, shown on the grid's
// axes and copied into the session folder, where every change reaches.
TEST_F(Firmware, DefaultImageIsLoadedAtConnectAndCopiedIntoTheSessionFolder) {
    StartSimulator();
    const Bytes file = sim::MakeSyntheticFirmware();
    WriteAll(dir / "demo.bin", file);
    WriteConfig("да", "demo.bin");
    auto form = Open();
    ASSERT_TRUE(Connect(*form));
    EXPECT_TRUE(Logged(*form, "Прошивка загруженаdemo.bin"));
    EXPECT_EQ(ImageBytes(*form), file);
    EXPECT_TRUE(form->Image().FirmwareLoaded);
    EXPECT_TRUE(form->ToolButton(10)->isEnabled());
    ExpectGridShowsLabelsOf(*form);
    EXPECT_EQ(Part<QTableWidget>(*form, "StringGrid2")->item(16, 0)->text(),
              "8000");  // the image's step is 40 rpm
    const fs::path copy = fs::path(form->DateDir()) / "demo.bin";
    ASSERT_TRUE(SavedAs(copy, file));

    // An edit of the image reaches the copy at the next tick.
    form->Image().Bytes()[0x7CF7] ^= 0x5A;
    EXPECT_TRUE(SavedAs(copy, ImageBytes(*form)));

    // The folder taken away and a file in its place: one line says so
    // however many ticks fail, and the copies resume (the folder made again)
    // once the place is free.
    fs::remove_all(form->DateDir());
    WriteAll(form->DateDir(), {});
    QTest::qWait(450);
    const QStringList failures = form->LogLines().filter("Не удаётся сохранить прошивку");
    ASSERT_EQ(failures.size(), 1) << failures.join("|").toStdString();
    EXPECT_TRUE(failures[0].contains(QString::fromStdString(copy.string())));
    EXPECT_TRUE(Part<QTimer>(*form, "Timer2")->isActive());
    fs::remove(form->DateDir());
    EXPECT_TRUE(SavedAs(copy, ImageBytes(*form)));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    // A second connect keeps the image it has, even if the file changed.
    form->ToolButton(2)->click();
    WriteAll(dir / "demo.bin", Pattern(firmware::kImageSize, 9));
    const Bytes before = ImageBytes(*form);
    ASSERT_TRUE(Connect(*form));
    EXPECT_EQ(form->LogLines().count("Прошивка загружена"), 1);
    EXPECT_EQ(ImageBytes(*form), before);
    form->ToolButton(2)->click();
}

TEST_F(Firmware, MissingDefaultImageStopsTheConnectNamingTheFile) {
    StartSimulator();
    WriteConfig("да", "absent.bin");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QString::fromStdString((dir / "absent.bin").string())))
        << dialogs.errors[0].toStdString();
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    EXPECT_FALSE(form->ToolButton(2)->isEnabled());
    EXPECT_TRUE(form->EcuWorker().Idle());
    EXPECT_FALSE(form->Image().FirmwareLoaded);
}

TEST_F(Firmware, WithoutDefaultImageNothingIsLoadedOrSaved) {
    StartSimulator();
    WriteConfig("нет");
    auto form = Open();
    ASSERT_TRUE(Connect(*form));
    EXPECT_TRUE(Logged(*form, "Прошивка не загружена"));
    EXPECT_FALSE(form->ToolButton(10)->isEnabled());
    QTest::qWait(300);
    EXPECT_FALSE(fs::exists(fs::path(form->DateDir()) / "j5ls.bin"));
    form->ToolButton(2)->click();
}

// A ".bir" chosen in the dialog is loaded like a ".bin"; the copies keep the
// default name in a new folder. Cancelling or a file that cannot be read
// change nothing and the live view goes on.
TEST_F(Firmware, FileChosenInTheDialogReplacesTheImage) {
    StartSimulator();
    WriteConfig("нет");
    auto form = Open();
    ASSERT_TRUE(Connect(*form));
    const std::string connectDir = form->DateDir();
    const Bytes bir = Pattern(firmware::kImageSize, 3);
    WriteAll(dir / "engineering.bir", bir);
    Part<QTableWidget>(*form, "StringGrid2")->item(5, 5)->setText("1.5");

    QTest::qWait(1100);  // a new second, so a new session folder
    dialogs.fileAnswers << QString::fromStdString((dir / "engineering.bir").string());
    form->ToolButton(7)->click();
    ASSERT_EQ(dialogs.fileFilters.size(), 1);
    EXPECT_EQ(dialogs.fileFilters[0], "Обычные прошивки|*.bin|Прошивки инженерника|*.bir");
    EXPECT_TRUE(Logged(*form, QStringLiteral("Прошивка загружена ") +
                                  QString::fromStdString((dir / "engineering.bir").string())));
    EXPECT_EQ(ImageBytes(*form), bir);
    EXPECT_TRUE(form->Image().FirmwareLoaded);
    EXPECT_NE(form->DateDir(), connectDir);
    EXPECT_EQ(Part<QTableWidget>(*form, "StringGrid2")->item(5, 5)->text(), "0");
    ExpectGridShowsLabelsOf(*form);
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(Part<QTimer>(*form, "Timer2")->isActive());
    EXPECT_TRUE(SavedAs(fs::path(form->DateDir()) / "j5ls.bin", bir));
    EXPECT_FALSE(fs::exists(fs::path(form->DateDir()) / "engineering.bir"));

    // Cancelled, then a folder chosen: the image stays, the timers run again.
    const std::string loadDir = form->DateDir();
    form->ToolButton(7)->click();
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(Part<QTimer>(*form, "Timer2")->isActive());
    dialogs.fileAnswers << QString::fromStdString(dir.string());
    form->ToolButton(7)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QString::fromStdString(dir.string())));
    EXPECT_EQ(ImageBytes(*form), bir);
    EXPECT_EQ(form->DateDir(), loadDir);
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(Part<QTimer>(*form, "Timer2")->isActive());

    // A short file is no image: refused with its size, the image kept.
    WriteAll(dir / "short.bin", Bytes(1000, 0xEE));
    dialogs.fileAnswers << QString::fromStdString((dir / "short.bin").string());
    form->ToolButton(7)->click();
    ASSERT_EQ(dialogs.errors.size(), 2);
    EXPECT_TRUE(dialogs.errors[1].contains("размер 1000 байт")) << dialogs.errors[1].toStdString();
    EXPECT_EQ(ImageBytes(*form), bir);
    form->ToolButton(2)->click();
}

// No session folder can be made for a loaded file: one message says so, the
// image is loaded all the same, no copy goes into the previous folder, and
// the copy is made in the new folder once its place is free.
TEST_F(Firmware, FileLoadWithoutAWorkingFolder) {
    StartSimulator();
    WriteConfig("нет");
    auto form = Open();
    ASSERT_TRUE(Connect(*form));
    const std::string connectDir = form->DateDir();
    // Still the second of the connect: its folder would be taken as it is.
    auto nameAt = [](std::time_t t) {
        std::tm local{};
        localtime_r(&t, &local);
        return app::DateDirName(local);
    };
    if (nameAt(std::time(nullptr)) == fs::path(connectDir).filename().string()) QTest::qWait(1100);
    // Files where the next few seconds' folders would go.
    const std::time_t now = std::time(nullptr);
    for (int s = 0; s < 8; ++s) {
        const fs::path blocker = dir / nameAt(now + s);
        if (!fs::exists(blocker)) WriteAll(blocker, {});
    }
    const Bytes file = Pattern(firmware::kImageSize, 7);
    WriteAll(dir / "new.bin", file);
    dialogs.fileAnswers << QString::fromStdString((dir / "new.bin").string());
    form->ToolButton(7)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith("Не удаётся создать папку"))
        << dialogs.errors[0].toStdString();
    EXPECT_EQ(ImageBytes(*form), file);
    EXPECT_TRUE(form->Image().FirmwareLoaded);
    const fs::path pending = form->DateDir();
    EXPECT_NE(pending, fs::path(connectDir));
    EXPECT_TRUE(fs::is_regular_file(pending)) << "the blocker is still in its place";
    EXPECT_TRUE(Part<QTimer>(*form, "Timer2")->isActive());
    QTest::qWait(1200);
    // Said once, however many saves fail meanwhile.
    const QStringList failed =
        form->LogLines().filter(QStringLiteral("Не удаётся сохранить прошивку"));
    EXPECT_EQ(failed.size(), 1) << failed.join("|").toStdString();
    EXPECT_FALSE(fs::exists(fs::path(connectDir) / "j5ls.bin"));

    fs::remove(pending);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(pending / "j5ls.bin"); }, 5000));
    EXPECT_EQ(ReadAll(pending / "j5ls.bin"), file);
    form->ToolButton(2)->click();
}

// The whole memory read out of the ECU: progress, hand-over, the copy named
// "ECUram.bin" equal to what the simulator holds.
TEST_F(Firmware, ReadFromTheEcuLandsAsEcuRamInANewFolder) {
    const fs::path dump = dir / "dump.bin";
    StartSimulatorProgram(dump);
    // One answer that comes too late ends a read (the default pause leaves
    // room for a busy machine).
    WriteConfig("нет");
    auto form = Open();
    std::string connectDir;
    bool read = false;
    for (int attempt = 0; attempt < 3 && !read; ++attempt) {
        // After a failed read the user connects again.
        if (attempt > 0) form->ToolButton(2)->click();
        ASSERT_TRUE(Connect(*form));
        connectDir = form->DateDir();
        QTest::qWait(1000);  // a new second, so a new session folder
        form->ToolButton(8)->click();
        EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Считаю прошивку");
        EXPECT_TRUE(Part<QProgressBar>(*form, "StatusProgressBar")->isVisible());
        EXPECT_TRUE(form->Firmware().Reading());
        EXPECT_FALSE(Part<QTimer>(*form, "engineTimer")->isActive());
        EXPECT_FALSE(Part<QTimer>(*form, "Timer2")->isActive());
        // Any failed exchange ends the read.
        auto errors = [&] { return form->LogLines().filter("Ошибка №").size(); };
        const auto errorsBefore = errors();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                read = Logged(*form, "Прошивка считана из ECU");
                return read || errors() > errorsBefore;
            },
            180000))  // a loaded machine slows the read down a lot
            << Part<QProgressBar>(*form, "StatusProgressBar")->value() << "\n"
            << form->LogLines().mid(form->LogLines().size() - 12).join("\n").toStdString();
    }
    ASSERT_TRUE(read);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "Прошивка сохранена"); }, 2000));
    EXPECT_EQ(Part<QProgressBar>(*form, "StatusProgressBar")->maximum(), 682);
    EXPECT_FALSE(Part<QProgressBar>(*form, "StatusProgressBar")->isVisible());
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Диагностика");
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_TRUE(form->ToolButton(10)->isEnabled());
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(Part<QTimer>(*form, "Timer2")->isActive());
    EXPECT_FALSE(form->Firmware().Reading());
    EXPECT_EQ(form->Image().FirmwareFileName, "ECUram.bin");
    EXPECT_NE(form->DateDir(), connectDir);
    ExpectGridShowsLabelsOf(*form);
    const fs::path copy = fs::path(form->DateDir()) / "ECUram.bin";
    const Bytes saved = ReadAll(copy);
    form->ToolButton(2)->click();
    QTest::qWait(600);
    ASSERT_NO_FATAL_FAILURE(StopSimulatorProgram());
    const Bytes memory = ReadAll(dump);
    ASSERT_EQ(memory.size(), firmware::kImageSize);
    EXPECT_EQ(saved, memory);
    EXPECT_EQ(ImageBytes(*form), memory);

    // The next connect goes back to the default name.
    StartSimulatorProgram(dump);
    ASSERT_TRUE(Connect(*form)) << form->LogLines().join("\n").toStdString();
    EXPECT_EQ(form->Image().FirmwareFileName, "j5ls.bin");
    EXPECT_TRUE(SavedAs(fs::path(form->DateDir()) / "j5ls.bin", memory));
    form->ToolButton(2)->click();
}

// An ECU that falls silent half way, or a simulator that goes away: the read
// ends within seconds with its reason, the window goes back to what it
// showed before, nothing is saved, and the link watch says the ECU is gone.
enum class Gone { Silent, Killed };
void PrintTo(Gone g, std::ostream* os) {
    *os << (g == Gone::Silent ? "Silent" : "Killed");
}
class ReadBreaksOff : public Firmware, public ::testing::WithParamInterface<Gone> {};

TEST_P(ReadBreaksOff, EndsWithinSecondsAndLeavesTheWindowAsBefore) {
    const fs::path dump = dir / "dump.bin";
    if (GetParam() == Gone::Silent)
        StartSimulator();
    else
        StartSimulatorProgram(dump);
    WriteConfig("нет");
    auto form = Open();
    ASSERT_TRUE(Connect(*form));
    form->ToolButton(8)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QProgressBar>(*form, "StatusProgressBar")->value() >= 20; }, 20000));
    if (GetParam() == Gone::Silent) {
        sim::Faults silent;
        silent.silence = 1.0;
        simulator->SetFaults(silent);
    } else {
        ::kill(simPid, SIGKILL);
        ::waitpid(simPid, nullptr, 0);
        simPid = -1;
    }
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Logged(*form, "Чтение прошивки прервано: ", false); }, 5000))
        << form->LogLines().mid(form->LogLines().size() - 8).join("\n").toStdString();
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_FALSE(form->Firmware().Reading());
    EXPECT_FALSE(Part<QProgressBar>(*form, "StatusProgressBar")->isVisible());
    EXPECT_FALSE(form->Image().FirmwareLoaded);
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Диагностика");
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(Part<QTimer>(*form, "Timer2")->isActive());
    EXPECT_FALSE(fs::exists(fs::path(form->DateDir()) / "ECUram.bin"));
    // The watch goes on: the figures are no longer shown as live.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "ECU не отвечает"); }, 5000))
        << form->LogLines().mid(form->LogLines().size() - 8).join("\n").toStdString();
    form->ToolButton(2)->click();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Выключено");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->EcuWorker().Status().IsComConnected == 0; }, 10000));

    // With no link a read is refused and nothing is left waiting.
    form->Firmware().ToolButton8Click();
    EXPECT_TRUE(Logged(*form, "Нет связи с ECU, прошивка не считана"));
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Выключено");
    EXPECT_TRUE(form->EcuWorker().Idle());
}

INSTANTIATE_TEST_SUITE_P(Firmware, ReadBreaksOff, ::testing::Values(Gone::Silent, Gone::Killed),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

// A read asked for while the worker still writes a table of the tuning
// waits for the table and then runs: the table is neither replaced nor cut.
TEST_F(Firmware, ReadQueuesBehindATableWrite) {
    StartSimulator();
    WriteConfig("нет");
    auto form = Open();
    ASSERT_TRUE(Connect(*form));
    simulator->ClearRequests();
    ecu::Bytes table(256);
    for (int k = 0; k < 256; ++k) table[k] = static_cast<uint8_t>(100 + k / 4);
    ASSERT_NE(
        form->EcuWorker().Post(ecu::EcuCommand::WriteTable(ecu::CommandKind::remakepopr, table)),
        0u);
    form->ToolButton(8)->click();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Считаю прошивку");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "Прошивка считана из ECU"); }, 120000))
        << form->LogLines().mid(form->LogLines().size() - 8).join("\n").toStdString();
    const auto requests = simulator->Requests();
    std::vector<uint8_t> services;
    for (const auto& r : requests)
        if (!r.data.empty() && (r.data[0] == 0x3D || r.data[0] == 0x23))
            services.push_back(r.data[0]);
    ASSERT_GE(services.size(), 4u + 683u);
    EXPECT_EQ(std::vector<uint8_t>(services.begin(), services.begin() + 4),
              std::vector<uint8_t>(4, 0x3D));
    EXPECT_EQ(std::count(services.begin(), services.end(), 0x3D), 4);
    const auto image = form->Image().Bytes();
    for (int k = 0; k < 256; ++k) ASSERT_EQ(image[0x7CF7 + k], 100 + k / 4) << k;
    form->ToolButton(2)->click();
}
