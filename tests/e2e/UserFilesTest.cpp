// A tuner keeps stock images, backups and variants of the settings beside
// the working files. Every kind of save the program makes (the settings,
// "Сохранить прошивку как…", the session's image copy, the live logs, the
// analysis window and `korvane analyze -o`) leaves them byte for byte as
// they were; the only thing it removes is a leftover temporary file of its
// own from a save that was killed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "firmware/FirmwareImage.h"
#include "live/LiveLogs.h"
#include "logs/LogAnalysis.h"
#include "logs/LogReader.h"
#include "logs/ui/AnalysisView.h"
#include "platform/AtomicFile.h"
#include "tests/e2e/WindowFixture.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

using korvane::test::ReadAll;
using Bytes = std::vector<uint8_t>;

// A process id no running process has: a child that has exited and been
// reaped, as a killed save's process would be.
long GonePid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

class UserFiles : public korvane::test::WindowTest {
  protected:
    long gone = GonePid();
    std::map<fs::path, Bytes> keep;  // the user's files and their bytes
    std::vector<fs::path> ours;      // our leftovers, to be gone

    // Beside `target`: the user's variants of it (the old temporary-file
    // pattern "<name>.<six letters>" among them) and an old leftover of ours.
    void Plant(const fs::path& target) {
        const std::string name = target.filename().string();
        for (const char* suffix : {".backup", ".stock1", ".winter", ".orig", ".aZ09xY"}) {
            const fs::path p = target.parent_path() / (name + suffix);
            const std::string text = "the user's " + p.filename().string();
            korvane::test::WriteAll(p, Bytes(text.begin(), text.end()));
            keep[p] = ReadAll(p);
        }
        const fs::path leftover = target.parent_path() / platform::TempFileName(name, gone, 1);
        korvane::test::WriteAll(leftover, Bytes{'h', 'a', 'l', 'f'});
        // Only an old one is a leftover: a young one may still be written.
        fs::last_write_time(leftover, fs::file_time_type::clock::now() -
                                          std::chrono::seconds(2 * platform::kStaleTempSeconds));
        ours.push_back(leftover);
    }

    void ExpectOnlyOurLeftoversGone() {
        for (const auto& [path, bytes] : keep) EXPECT_EQ(ReadAll(path), bytes) << path;
        for (const fs::path& p : ours) EXPECT_FALSE(fs::exists(p)) << p;
    }
};

TEST_F(UserFiles, EveryKindOfSaveRemovesOnlyOurOwnLeftovers) {
    StartDemoSession();
    if (HasFatalFailure()) return;
    for (const char* target : {"config.ini", "saved.bin", "new.bin", "window.bin"})
        Plant(dir / target);
    keep[dir / "demo.bin"] = ReadAll(dir / "demo.bin");

    // The settings.
    auto form = Open();
    form->findChild<QPushButton*>(QStringLiteral("Сохранить"))->click();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    // A session: its image copy in the session folder, rewritten after an
    // edit of the image.
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000))
        << form->LogLines().join("|").toStdString() << dialogs.errors.join("|").toStdString();
    const fs::path session = form->DateDir();
    ASSERT_FALSE(session.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(session / "demo.bin"); }, 5000));
    Plant(session / "demo.bin");
    const uint8_t edited = static_cast<uint8_t>(form->Image().Bytes()[0x5A10] + 1);
    form->Image().Store(0x5A10, edited);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return ReadAll(session / "demo.bin")[0x5A10] == edited; }, 5000));

    // "Сохранить прошивку как…".
    dialogs.fileAnswers << QString::fromStdString((dir / "saved.bin").string());
    form->findChild<QAction*>(QStringLiteral("SaveImageAs"))->trigger();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    EXPECT_EQ(ReadAll(dir / "saved.bin"), korvane::test::ImageBytes(*form));
    form->ToolButton(2)->click();
    form.reset();

    // The live logs, as a session writes them.
    const fs::path logs = dir / "logs";
    fs::create_directories(logs);
    for (const char* name : {live::kXlsLogName, live::kCsvHeaderName, live::kCsvLogName})
        Plant(logs / name);
    live::LiveLogs writer([](const std::string& line) { ADD_FAILURE() << line; });
    writer.Start(logs.string());
    live::ShownRowTexts rows;
    for (int r = 1; r <= live::kLoggedRows; ++r) rows[r] = r == 12 ? "" : "1";
    ASSERT_TRUE(writer.AppendLine(rows, 1, logs.string()));
    writer.Stop();

    // The analysis, in the window and on the command line.
    const auto settings = [](const std::string& key) {
        if (key == "Не настраивать ниже %") return std::string("2");
        if (key == "Количество циклов для обработки") return std::string("7");
        return std::string();
    };
    const std::string logPath = (logs / live::kXlsLogName).string();
    const std::string image = (dir / "demo.bin").string();
    std::string out, err;
    ASSERT_EQ(logs::RunAnalyzeCommand({logPath, image, "-o", (dir / "new.bin").string()}, settings,
                                      out, err),
              0)
        << err;
    const auto log = logs::ReadLog(logPath);
    ASSERT_TRUE(log.ok) << log.error;
    firmware::FirmwareImage loaded;
    ASSERT_TRUE(loaded.LoadFile(image));
    logs::ui::AnalysisView view(logs::AnalyzeLog(log.data, loaded.Bytes(), settings),
                                QString::fromStdString(logPath), QString::fromStdString(image), {});
    EXPECT_EQ(view.SaveTo(QString::fromStdString((dir / "window.bin").string())), std::nullopt);

    ExpectOnlyOurLeftoversGone();
    EXPECT_EQ(ours.size(), 8u);
}

}  // namespace
