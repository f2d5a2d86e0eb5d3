// The log apart from its widget: runs of one kind fold into a counted line,
// what the user did or must see stands alone, and the journal file holds
// every line in order.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/EventLog.h"

using namespace korvane::app;

namespace {

// One failed poll on a noisy line, as the exchange logs it.
void FailedPoll(LogRuns& log, int number, int64_t ms) {
    log.Append("ECU: << ОШИБКА Неправильный ответ блока!", ms);
    log.Append("Запрос - 0x21 0x0F; Ответ - null; (0x61 0x0F)", ms);
    log.Append("Ошибка №" + std::to_string(number), ms);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempDir {
    std::string path;
    TempDir() {
        static int serial = 0;
        const auto dir = std::filesystem::temp_directory_path() /
                         ("korvane-eventlog-" + std::to_string(std::random_device{}()) + "-" +
                          std::to_string(serial++));
        std::filesystem::create_directories(dir);
        path = dir.string();
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

}  // namespace

TEST(LogRuns, ExchangeErrorsFoldIntoOneCountedLineAndEveryLineIsKept) {
    LogRuns log;
    log.Append("Korvane started...", 0);
    FailedPoll(log, 1, 1000);
    // One error is shown as logged, all three lines.
    EXPECT_EQ(
        log.ShownLines(),
        (std::vector<std::string>{"Korvane started...", "ECU: << ОШИБКА Неправильный ответ блока!",
                                  "Запрос - 0x21 0x0F; Ответ - null; (0x61 0x0F)", "Ошибка №1"}));
    for (int n = 2; n <= 37; ++n) FailedPoll(log, n, 1000 + (n - 1) * 333);
    ASSERT_EQ(log.EntryCount(), 2u);
    EXPECT_EQ(log.EntryAt(1).text, "Ошибка обмена ×37 за 12 с");
    EXPECT_EQ(log.EntryAt(1).style, LogStyle::Folded);
    EXPECT_EQ(log.Lines().size(), 1u + 37 * 3);
    EXPECT_EQ(log.Lines().back(), "Ошибка №37");

    // A notice ends the run and stands on its own; the next errors start a
    // new run.
    EXPECT_TRUE(
        log.Append("Поправка возвращена к загруженной прошивке (ячеек изменено: 3)", 20000));
    FailedPoll(log, 38, 21000);
    FailedPoll(log, 39, 21500);
    EXPECT_EQ(log.ShownLines(),
              (std::vector<std::string>{"Korvane started...", "Ошибка обмена ×37 за 12 с",
                                        "Поправка возвращена к загруженной прошивке (ячеек "
                                        "изменено: 3)",
                                        "Ошибка обмена ×2 за 1 с"}));
}

TEST(LogRuns, LinesThatDifferOnlyInTheirNumbersFoldUnderTheLastOne) {
    LogRuns log;
    for (int n = 1; n <= 51; ++n)
        log.Append("LAMBDA:<< Ошибка связи!(" + std::to_string(n) + "/" + std::to_string(n) + ")",
                   n * 100);
    ASSERT_EQ(log.EntryCount(), 1u);
    EXPECT_EQ(log.EntryAt(0).text, "LAMBDA:<< Ошибка связи!(51/51) ×51 за 5 с");
    // A different text is a different kind, even with the same numbers.
    log.Append("LAMBDA:<< Ошибка данных3", 6000);
    EXPECT_EQ(log.EntryCount(), 2u);
    // Addresses in hexadecimal are numbers too.
    log.Append("ECU: >> Read RAM 0x1A 0x00", 7000);
    log.Append("ECU: >> Read RAM 0x1B 0xF0", 7000);
    EXPECT_EQ(log.EntryAt(2).text, "ECU: >> Read RAM 0x1B 0xF0 ×2");
}

TEST(LogRuns, CellWritesOfTheTuningFoldAcrossTheirTwoLines) {
    LogRuns log;
    for (int n = 0; n < 5; ++n) {
        log.Append("Записываю поправку", n * 1000);
        log.Append("ECU: >>WriteMemory", n * 1000 + 50);
    }
    ASSERT_EQ(log.EntryCount(), 1u);
    EXPECT_EQ(log.EntryAt(0).text, "Запись ячейки ×5 за 4 с");
}

TEST(LogRuns, NoticesAndProblemsNeverFold) {
    LogRuns log;
    log.Append("Настройки сохранены", 0);
    log.Append("Настройки сохранены", 10);
    log.Append("ECU: << Связь с ECU не установлена", 20);
    log.Append("ECU: << Связь с ECU не установлена", 30);
    EXPECT_EQ(log.EntryCount(), 4u);
    EXPECT_EQ(log.EntryAt(0).style, LogStyle::Notice);
    EXPECT_EQ(log.EntryAt(3).style, LogStyle::Problem);
}

TEST(LogRuns, StyleOfLines) {
    const std::pair<const char*, LogStyle> cases[] = {
        {"Korvane started...", LogStyle::Notice},
        {"Настройки сохранены", LogStyle::Notice},
        {"Снимок экрана сохранён: /tmp/a/pic/screenshot_0.jpg", LogStyle::Notice},
        {"Прошивка загружена /home/u/orig.bin", LogStyle::Notice},
        {"ERROR: >> Ошибка при выборе скорости порта!", LogStyle::Problem},
        {"ОШИБКА: В вашей системе нет COM портов!", LogStyle::Problem},
        {"ECU не отвечает", LogStyle::Problem},
        {"ECU: << 12 ошибок подряд: связь разорвана", LogStyle::Problem},
        {"Не являются числами: «Таймаут1»", LogStyle::Problem},
        // An exchange error is a member of its run, not a problem of its own.
        {"ECU: << ОШИБКА Неправильный ответ блока!", LogStyle::Plain},
        {"ECU: >> Starting Communication", LogStyle::Plain},
    };
    for (const auto& [line, style] : cases) EXPECT_EQ(StyleOfLine(line), style) << line;
}

TEST(LogRuns, AReplacedProgressLineChangesTheShownEntryAndTheKeptLine) {
    LogRuns log;
    log.Append("ECU: >> Read ECU RAM - 0x00 0x00", 0);
    log.ReplaceLast("ECU: >> Read ECU RAM - 0x00 0x60");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"ECU: >> Read ECU RAM - 0x00 0x60"}));
    EXPECT_EQ(log.ShownLines(), log.Lines());
}

TEST(LogJournal, LinesWaitForAFolderThenTheFileHoldsEveryLineInOrder) {
    TempDir dir;
    LogJournal journal;
    EXPECT_TRUE(journal.Append("Korvane started..."));
    EXPECT_TRUE(journal.Append("ECU: >> Starting Communication"));
    EXPECT_EQ(journal.Waiting(), 2u);
    journal.SetFolder(dir.path + "/11.12.26-10.00.00");
    EXPECT_EQ(journal.Waiting(), 0u);
    EXPECT_TRUE(journal.Append("Ошибка №1"));
    // The progress line replaces itself in the file too.
    EXPECT_TRUE(journal.Append("ECU: >> Read ECU RAM - 0x00 0x00"));
    EXPECT_TRUE(journal.ReplaceLast("ECU: >> Read ECU RAM - 0x00 0x60"));
    EXPECT_EQ(ReadAll(journal.Path()),
              "Korvane started...\r\nECU: >> Starting Communication\r\nОшибка №1\r\n"
              "ECU: >> Read ECU RAM - 0x00 0x60\r\n");
}

TEST(LogJournal, AFolderThatCannotBeWrittenKeepsTheLinesForTheNextOne) {
    TempDir dir;
    const std::string blocker = dir.path + "/file";
    std::ofstream(blocker) << "x";
    LogJournal journal;
    journal.SetFolder(blocker + "/session");  // under a plain file: never made
    EXPECT_FALSE(journal.Append("Связь с ECU не установлена"));
    EXPECT_FALSE(journal.LastError().empty());
    EXPECT_FALSE(journal.ReplaceLast("ECU: << Связь с ECU не установлена"));
    EXPECT_EQ(journal.Waiting(), 1u);
    journal.SetFolder(dir.path + "/session");
    EXPECT_TRUE(journal.Append("Настройки сохранены"));
    EXPECT_EQ(ReadAll(journal.Path()),
              "ECU: << Связь с ECU не установлена\r\nНастройки сохранены\r\n");
}
