#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "live/LiveLogs.h"
#include "logs/LogReader.h"
#include "platform/NumberText.h"
#include "platform/TextCodec.h"

using namespace korvane;
using namespace korvane::logs;
namespace fs = std::filesystem;

namespace {

// Row r of line i holds r * 10 + i + 0.25 (row 12 is never filled, as live).
double Expected(int row, int line) {
    return row * 10 + line + 0.25;
}

live::ShownRowTexts RowsOf(int line, char sep) {
    live::ShownRowTexts rows;
    for (int r = 1; r <= live::kLoggedRows; ++r)
        if (r != 12) rows[r] = platform::FormatGeneral(Expected(r, line), sep);
    return rows;
}

enum class Enc { Cp1251, Utf8, Utf8Bom };

// A log as the live logs write it, in the given encoding and line ends.
std::string MakeLog(LogKind kind, Enc enc, char sep, int lines, const std::string& eol = "\r\n") {
    std::string header = kind == LogKind::Xls ? live::XlsHeaderLine() : live::CsvHeaderLine();
    if (enc == Enc::Cp1251) {
        std::string cp;
        EXPECT_TRUE(platform::Utf8ToCp1251(header, cp));
        header = cp;
    } else if (enc == Enc::Utf8Bom) {
        header = "\xEF\xBB\xBF" + header;
    }
    std::string text = header + eol;
    for (int i = 0; i < lines; ++i) {
        const auto rows = RowsOf(i, sep);
        text +=
            (kind == LogKind::Xls ? live::XlsDataLine(rows) : live::CsvDataLine(rows, 100 + i)) +
            eol;
    }
    return text;
}

struct FormatCase {
    const char* name;
    LogKind kind;
    Enc enc;
    char sep;
    const char* eol;
};

class LogFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LogFormats, EveryValueReadsBackInItsColumn) {
    const auto& p = GetParam();
    const auto r = ParseLog(MakeLog(p.kind, p.enc, p.sep, 5, p.eol), "лог");
    ASSERT_TRUE(r.ok) << r.error;
    const LogData& d = r.data;
    EXPECT_EQ(d.Kind(), p.kind);
    ASSERT_EQ(d.Columns(), 37);
    ASSERT_EQ(d.Lines(), 5u);
    EXPECT_TRUE(d.Notes.empty());
    EXPECT_EQ(d.Captions()[3], "AFR LC-1");
    EXPECT_EQ(d.ColumnOf("Скорость вращения двигателя"), 6);
    for (int line = 0; line < 5; ++line) {
        for (int col = 0; col < 37; ++col) {
            const int row = col + 1;
            const float v = d.Value(line, col);
            if (row == 12)
                EXPECT_TRUE(std::isnan(v)) << line << "/" << col;
            else if (row == 1 && p.kind == LogKind::Csv)
                EXPECT_EQ(v, 100 + line);  // the hit count
            else
                EXPECT_FLOAT_EQ(v, Expected(row, line)) << line << "/" << col;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    , LogFormats,
    ::testing::Values(FormatCase{"XlsCp1251Comma", LogKind::Xls, Enc::Cp1251, ',', "\r\n"},
                      FormatCase{"XlsCp1251Point", LogKind::Xls, Enc::Cp1251, '.', "\r\n"},
                      FormatCase{"XlsUtf8Comma", LogKind::Xls, Enc::Utf8, ',', "\r\n"},
                      FormatCase{"XlsUtf8BomPointLf", LogKind::Xls, Enc::Utf8Bom, '.', "\n"},
                      FormatCase{"CsvCp1251", LogKind::Csv, Enc::Cp1251, ',', "\r\n"},
                      FormatCase{"CsvUtf8FromPointLocale", LogKind::Csv, Enc::Utf8, '.', "\r\n"},
                      FormatCase{"CsvUtf8BomLf", LogKind::Csv, Enc::Utf8Bom, ',', "\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogReader, ACutLastLineIsLeftOutWithANote) {
    for (LogKind kind : {LogKind::Xls, LogKind::Csv}) {
        std::string text = MakeLog(kind, Enc::Cp1251, ',', 4);
        text +=
            (kind == LogKind::Xls ? live::XlsDataLine(RowsOf(4, ',')) : "104,3.5,14").substr(0, 30);
        const auto r = ParseLog(text, "лог");
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.data.Lines(), 4u);
        ASSERT_EQ(r.data.Notes.size(), 1u);
        EXPECT_NE(r.data.Notes[0].find("строка 6"), std::string::npos) << r.data.Notes[0];
        EXPECT_FLOAT_EQ(r.data.Value(3, 6), Expected(7, 3));
    }
    // A header alone (the CSV header file) is an empty log, not an error.
    const auto header = ParseLog(live::CsvHeaderLine(), "лог2.csv");
    ASSERT_TRUE(header.ok) << header.error;
    EXPECT_EQ(header.data.Lines(), 0u);
}

struct BadCase {
    const char* name;
    std::string bytes;
    const char* message;  // a part of the one message
};

std::string WithLine(std::string text, size_t line, const std::string& replacement) {
    size_t at = 0;
    for (size_t i = 1; i < line; ++i) at = text.find('\n', at) + 1;
    const size_t end = text.find('\n', at);
    return text.replace(at, end - at, replacement + "\r");
}

std::string HeaderWith(const std::string& from, const std::string& to) {
    std::string h = live::XlsHeaderLine();
    h.replace(h.find(from), from.size(), to);
    return h;
}

// kGood with one value of its second data line replaced.
std::string WithValue(LogKind kind, int row, const std::string& value) {
    auto rows = RowsOf(1, kind == LogKind::Xls ? ',' : '.');
    rows[row] = value;
    const std::string log = MakeLog(kind, Enc::Cp1251, kind == LogKind::Xls ? ',' : '.', 4);
    return WithLine(log, 3,
                    kind == LogKind::Xls ? live::XlsDataLine(rows) : live::CsvDataLine(rows, 101));
}

class BadLogs : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadLogs, OneMessageNamesTheFileAndTheLine) {
    const auto r = ParseLog(GetParam().bytes, "/tmp/drive.xls");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("«/tmp/drive.xls»", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(GetParam().message), std::string::npos) << r.error;
    EXPECT_EQ(r.data.Lines(), 0u);
}

const std::string kGood = MakeLog(LogKind::Xls, Enc::Utf8, ',', 4);

INSTANTIATE_TEST_SUITE_P(
    , BadLogs,
    ::testing::Values(
        BadCase{"Empty", "", "файл пуст"},
        BadCase{"OtherCaption", WithLine(kGood, 1, HeaderWith("AFR LC-1", "AFR")),
                "строка 1: заголовок не лога: столбец 4 «AFR» вместо «AFR LC-1»"},
        BadCase{"MissingColumn", WithLine(kGood, 1, HeaderWith("\tАЦП ДД", "")),
                "строка 1: заголовок не лога: 36 столбцов вместо 37"},
        BadCase{"ForeignSpreadsheet", "time;rpm;afr\r\n1;800;14.7\r\n", "строка 1: заголовок"},
        BadCase{"Binary",
                std::string("\x7F"
                            "ELF\x02\x01\x01\0\0\0\0",
                            12) +
                    "\n",
                "строка 1: двоичные"},
        BadCase{"ShortDataLine", WithLine(kGood, 3, "1\t2\t3"), "строка 3: 3 столбцов вместо 37"},
        BadCase{"LongDataLine", WithLine(kGood, 4, live::XlsDataLine(RowsOf(0, ',')) + "\t7"),
                "строка 4: 38 столбцов вместо 37"},
        BadCase{"NotANumber",
                WithLine(kGood, 2,
                         [] {
                             auto rows = RowsOf(0, ',');
                             rows[7] = "12ab";
                             return live::XlsDataLine(rows);
                         }()),
                "строка 2: столбец 7 («Скорость вращения двигателя»): «12ab» не число"},
        BadCase{"CommaInCsvNumber",
                MakeLog(LogKind::Csv, Enc::Utf8, '.', 2) +
                    [] {
                        auto rows = RowsOf(2, '.');
                        rows[6] = "1,5,6";
                        return live::CsvDataLine(rows, 1);
                    }() +
                    "\r\n",
                "строка 4: 38 столбцов"},
        BadCase{"EndlessLine", std::string(100000, 'x'), "строка 1: строка слишком длинная"},
        // Readings no sensor gives and no float holds.
        BadCase{"BeyondTheFloatRange", WithValue(LogKind::Xls, 4, "1e39"),
                "строка 3: столбец 4 («AFR LC-1»): «1e39» вне пределов числа"},
        BadCase{"BeyondTheDoubleRange", WithValue(LogKind::Csv, 7, "-1e400"),
                "строка 3: столбец 7 («Скорость вращения двигателя»): «-1e400» вне пределов"},
        BadCase{"Infinity", WithValue(LogKind::Xls, 3, "inf"), "«inf» не число"},
        BadCase{"NegativeInfinityInCsv", WithValue(LogKind::Csv, 4, "-INFINITY"),
                "«-INFINITY» не число"},
        BadCase{"NaN", WithValue(LogKind::Xls, 4, "nan"),
                "строка 3: столбец 4 («AFR LC-1»): «nan» не число"},
        BadCase{"NaNInCsv", WithValue(LogKind::Csv, 2, "NaN"), "«NaN» не число"}),
    [](const auto& info) { return std::string(info.param.name); });

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/korvane-logs-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

void Write(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

TEST(LogFile, ReadInPiecesGivesWhatTheWholeTextGives) {
    TempDir dir;
    // Several read pieces, with lines across their borders.
    const std::string text = MakeLog(LogKind::Xls, Enc::Cp1251, ',', 12000);
    ASSERT_GT(text.size(), 2u << 20);
    Write(dir.Path() / "лог.xls", text);
    std::vector<double> progress;
    const auto r = ReadLog(dir.Path() / "лог.xls", [&](double f) {
        progress.push_back(f);
        return true;
    });
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.data.Lines(), 12000u);
    const auto whole = ParseLog(text, "x");
    for (int col = 0; col < 37; ++col)
        for (size_t line = 0; line < 12000; line += 997)
            if (col != 11) {
                EXPECT_EQ(r.data.Value(line, col), whole.data.Value(line, col));
            }
    ASSERT_GE(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    EXPECT_FALSE(r.data.SecondsPerLine);  // the folder is no session folder

    // A cancelled read gives no log.
    const auto cancelled = ReadLog(dir.Path() / "лог.xls", [](double) { return false; });
    EXPECT_FALSE(cancelled.ok);
    EXPECT_NE(cancelled.error.find("прервано"), std::string::npos);
}

TEST(LogFile, SecondsPerLineFromTheSessionFolderAndTheFileTime) {
    TempDir dir;
    const fs::path session = dir.Path() / "11.12.26-10.00.00";
    fs::create_directory(session);
    const fs::path file = session / "лог2-CSV.csv";
    Write(file, MakeLog(LogKind::Csv, Enc::Cp1251, ',', 600));
    const auto start = SessionFolderTime("11.12.26-10.00.00");
    ASSERT_TRUE(start);
    struct Case {
        int64_t secondsAfterStart;
        std::optional<double> perLine;
    };
    for (const Case& c : {Case{100, 100.0 / 600}, Case{0, std::nullopt}, Case{-50, std::nullopt},
                          Case{86400 * 30, std::nullopt}}) {
        struct timeval times[2] = {{*start + c.secondsAfterStart, 0},
                                   {*start + c.secondsAfterStart, 0}};
        ASSERT_EQ(::utimes(file.c_str(), times), 0);
        const auto r = ReadLog(file);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.data.SecondsPerLine.has_value(), c.perLine.has_value()) << c.secondsAfterStart;
        if (c.perLine && r.data.SecondsPerLine) {
            EXPECT_NEAR(*r.data.SecondsPerLine, *c.perLine, 1e-9);
        }
    }
    for (const char* name : {"11.12.26-10.00", "31.13.26-10.00.00", "1a.12.26-10.00.00", "лог"})
        EXPECT_FALSE(SessionFolderTime(name)) << name;
}

TEST(LogFile, MissingHugeAndNonRegularFilesAreRefusedWithTheirName) {
    TempDir dir;
    const fs::path huge = dir.Path() / "huge.xls";
    { std::ofstream(huge) << ""; }
    fs::resize_file(huge, kMaxLogBytes + 1);  // sparse: costs no disk
    for (const fs::path& p : {huge, dir.Path() / "none.xls", dir.Path()}) {
        const auto r = ReadLog(p);
        EXPECT_FALSE(r.ok) << p;
        EXPECT_EQ(r.error.rfind("«" + p.string() + "»", 0), 0u) << r.error;
    }
    EXPECT_NE(ReadLog(huge).error.find("слишком большой"), std::string::npos);
}

}  // namespace
