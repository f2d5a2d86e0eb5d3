#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "live/LiveLogs.h"
#include "platform/TextCodec.h"

using namespace korvane::live;
namespace fs = std::filesystem;

namespace {

// The captions of grid rows 1..37 as the log headers carry them.
const char* const kXlsHeaderUtf8 =
    "Рабочая точка RPM_GBC_3D\tТемпература охлаждающей жидкости\tСоотношение воздух/топливо\t"
    "AFR LC-1\tКоэффициент коррекции\tПоложение дроссельной заслонки\t"
    "Скорость вращения двигателя\tСкорость вращения двигателя на ХХ\tВремя цикла\t"
    "Желаемое положение РХХ\tТекущее положение РХХ\tКоэф. коррекции времени впрыска\t"
    "Фаза впрыска\tУгол опережения зажигания\tКоррекция УОЗ цилиндра 1\t"
    "Коррекция УОЗ цилиндра 2\tКоррекция УОЗ цилиндра 3\tКоррекция УОЗ цилиндра\tАЦП ДД\t"
    "АЦП ДМРВ\tАЦП напряжения бортсети\tАЦП RCO\tАЦП ДПДЗ\tАЦП ДТОЖ\tАЦП ДТВ\t"
    "Изменение АЦП ДК\tОктан корректор\tСкорость автомобиля\tЖелаемые обороты ХХ\t"
    "Температура воздуха\tАЦП ДК\tКоэф. коррекции GTC при обогащении\t"
    "Коэф. коррекции GTC при обеднении\tДлительность импульса впрыска\t"
    "Массовый расход воздуха\tЦикловой расход воздуха\tЧасовой расход топлива";

std::string CsvHeaderUtf8() {
    std::string s = kXlsHeaderUtf8;
    for (char& c : s)
        if (c == '\t') c = ',';
    return s;
}

// The file a whole rewrite gives: every line in CP1251 with CR LF.
std::string FileOf(const std::vector<std::string>& utf8Lines) {
    std::string text;
    for (const auto& l : utf8Lines) text += l + "\r\n";
    std::string bytes;
    EXPECT_TRUE(korvane::platform::Utf8ToCp1251(text, bytes));
    return bytes;
}

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/korvane-logs-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// A grid as a Russian locale shows it: decimal commas, row 12 empty.
ShownRowTexts RussianRows() {
    ShownRowTexts r;
    for (int row = 1; row <= 37; ++row) r[row] = std::to_string(row * 10);
    r[3] = "14,7";
    r[5] = "0,987755102040816";
    r[7] = "800";
    r[12] = "";
    r[14] = "-12,5";
    r[34] = "8,008";
    r[37] = "1,5E20";
    return r;
}

// The grid of `line` for the append tests: every line differs.
ShownRowTexts RowsFor(int line) {
    ShownRowTexts r;
    for (int row = 1; row <= 37; ++row) r[row] = std::to_string(line * 37 + row);
    r[3] = std::to_string(line % 20) + ",7";
    r[12] = "";
    return r;
}

struct Logs {
    std::vector<std::string> lines;
    LiveLogs logs{[this](const std::string& l) { lines.push_back(l); }};
};

TEST(LiveLogHeaders, ConnectWritesTheTwoHeaderFilesInCp1251) {
    TempDir dir;
    Logs l;
    l.logs.Start(dir.path());
    EXPECT_TRUE(l.logs.Enabled());

    const std::string xls = Read(dir.path() / "лог.xls");
    EXPECT_EQ(xls, FileOf({kXlsHeaderUtf8}));
    // "Рабочая" in CP1251, no byte-order mark in front; CR LF after the line.
    EXPECT_EQ(xls.substr(0, 7), "\xD0\xE0\xE1\xEE\xF7\xE0\xFF");
    EXPECT_EQ(xls.substr(xls.size() - 2), "\r\n");
    EXPECT_EQ(Read(dir.path() / "лог2.csv"), FileOf({CsvHeaderUtf8()}));
    // The data CSV comes with the first line.
    EXPECT_FALSE(fs::exists(dir.path() / "лог2-CSV.csv"));
    EXPECT_TRUE(l.lines.empty());
}

struct LineCase {
    const char* name;
    ShownRowTexts rows;
    int32_t hits;
    std::string xls;
    std::string csv;
    bool mixtureTaken = true;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class LiveLogLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(LiveLogLines, OneLineInEachFile) {
    const LineCase& k = GetParam();
    TempDir dir;
    Logs l;
    l.logs.Start(dir.path());
    ASSERT_TRUE(l.logs.AppendLine(k.rows, k.hits, dir.path(), k.mixtureTaken));

    EXPECT_EQ(Read(dir.path() / "лог.xls"), FileOf({kXlsHeaderUtf8, k.xls}));
    EXPECT_EQ(Read(dir.path() / "лог2-CSV.csv"), FileOf({CsvHeaderUtf8(), k.csv}));
    EXPECT_EQ(Read(dir.path() / "лог2.csv"), FileOf({CsvHeaderUtf8()}));
    EXPECT_EQ(l.logs.XlsLog().back(), k.xls);
    EXPECT_EQ(l.logs.CsvLog().back(), k.csv);
}

ShownRowTexts PointRows() {
    ShownRowTexts r = RussianRows();
    for (auto& t : r)
        for (char& c : t)
            if (c == ',') c = '.';
    return r;
}

ShownRowTexts EmptyRows() {
    return {};
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LiveLogLines,
    ::testing::Values(
        LineCase{"CommaLocale", RussianRows(), 0,
                 "10\t20\t14,7\t40\t0,987755102040816\t60\t800\t80\t90\t100\t110\t\t130\t-12,5\t"
                 "150\t160\t170\t180\t190\t200\t210\t220\t230\t240\t250\t260\t270\t280\t290\t"
                 "300\t310\t320\t330\t8,008\t350\t360\t1,5E20",
                 "0,20,14.7,40,0.987755102040816,60,800,80,90,100,110,,130,-12.5,150,160,170,"
                 "180,190,200,210,220,230,240,250,260,270,280,290,300,310,320,330,8.008,350,"
                 "360,1.5E20"},
        LineCase{"PointLocaleAndHitCount", PointRows(), 1234,
                 "10\t20\t14.7\t40\t0.987755102040816\t60\t800\t80\t90\t100\t110\t\t130\t-12.5\t"
                 "150\t160\t170\t180\t190\t200\t210\t220\t230\t240\t250\t260\t270\t280\t290\t"
                 "300\t310\t320\t330\t8.008\t350\t360\t1.5E20",
                 "1234,20,14.7,40,0.987755102040816,60,800,80,90,100,110,,130,-12.5,150,160,"
                 "170,180,190,200,210,220,230,240,250,260,270,280,290,300,310,320,330,8.008,"
                 "350,360,1.5E20"},
        // The LC-1 reading was refused: the grid still shows the last one
        // accepted (40), the log says no reading was taken.
        LineCase{"MixtureNotTaken", RussianRows(), 5,
                 "10\t20\t14,7\t\t0,987755102040816\t60\t800\t80\t90\t100\t110\t\t130\t-12,5\t"
                 "150\t160\t170\t180\t190\t200\t210\t220\t230\t240\t250\t260\t270\t280\t290\t"
                 "300\t310\t320\t330\t8,008\t350\t360\t1,5E20",
                 "5,20,14.7,,0.987755102040816,60,800,80,90,100,110,,130,-12.5,150,160,170,"
                 "180,190,200,210,220,230,240,250,260,270,280,290,300,310,320,330,8.008,350,"
                 "360,1.5E20",
                 false},
        // Before the first frame the grid is empty.
        LineCase{"EmptyGrid", EmptyRows(), 7, std::string(36, '\t'), "7" + std::string(36, ',')}),
    [](const auto& info) { return std::string(info.param.name); });

// The appended files must equal, byte for byte, what rewriting the whole
// lists would give, at every line.
TEST(LiveLogAppend, FilesEqualTheWholeListsAtEveryLine) {
    TempDir dir;
    Logs l;
    l.logs.Start(dir.path());
    std::vector<std::string> xls{kXlsHeaderUtf8}, csv{CsvHeaderUtf8()};
    for (int i = 1; i <= 300; ++i) {
        const ShownRowTexts rows = RowsFor(i);
        ASSERT_TRUE(l.logs.AppendLine(rows, i / 10, dir.path()));
        xls.push_back(XlsDataLine(rows));
        csv.push_back(CsvDataLine(rows, i / 10));
        if (i <= 3 || i % 50 == 0) {
            ASSERT_EQ(Read(dir.path() / "лог.xls"), FileOf(xls)) << "line " << i;
            ASSERT_EQ(Read(dir.path() / "лог2-CSV.csv"), FileOf(csv)) << "line " << i;
        }
    }
    EXPECT_EQ(l.logs.XlsLog(), xls);
    EXPECT_EQ(l.logs.CsvLog(), csv);
    std::string bytes, error;
    ASSERT_TRUE(EncodeLogLines(l.logs.XlsLog(), bytes, error));
    EXPECT_EQ(bytes, FileOf(xls));
    EXPECT_TRUE(l.lines.empty());
}

// Someone else's hand on a file (an editor saving over it, a cut) must not
// make the next line land on the wrong bytes.
TEST(LiveLogAppend, FileChangedOnDiskIsRewrittenWhole) {
    TempDir dir;
    Logs l;
    l.logs.Start(dir.path());
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(l.logs.AppendLine(RowsFor(i), 0, dir.path()));

    const fs::path xls = dir.path() / "лог.xls";
    const fs::path csv = dir.path() / "лог2-CSV.csv";
    fs::resize_file(xls, 10);  // cut in place
    fs::remove(csv);           // replaced by another file
    std::ofstream(csv, std::ios::binary) << "edited";

    ASSERT_TRUE(l.logs.AppendLine(RowsFor(4), 0, dir.path()));
    std::string bytes, error;
    ASSERT_TRUE(EncodeLogLines(l.logs.XlsLog(), bytes, error));
    EXPECT_EQ(Read(xls), bytes);
    ASSERT_TRUE(EncodeLogLines(l.logs.CsvLog(), bytes, error));
    EXPECT_EQ(Read(csv), bytes);
    EXPECT_EQ(l.logs.XlsLog().size(), 5u);
}

TEST(LiveLogFolders, NewFolderGetsTheWholeListsOldFolderStaysAsItWas) {
    TempDir a, b;
    Logs l;
    l.logs.Start(a.path());
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(l.logs.AppendLine(RowsFor(i), i, a.path()));
    const std::string oldXls = Read(a.path() / "лог.xls");
    const std::string oldCsv = Read(a.path() / "лог2-CSV.csv");
    const std::string oldHeader = Read(a.path() / "лог2.csv");

    for (int i = 4; i <= 6; ++i) ASSERT_TRUE(l.logs.AppendLine(RowsFor(i), i, b.path()));

    std::string bytes, error;
    ASSERT_TRUE(EncodeLogLines(l.logs.XlsLog(), bytes, error));
    EXPECT_EQ(Read(b.path() / "лог.xls"), bytes);
    ASSERT_TRUE(EncodeLogLines(l.logs.CsvLog(), bytes, error));
    EXPECT_EQ(Read(b.path() / "лог2-CSV.csv"), bytes);
    EXPECT_EQ(l.logs.XlsLog().size(), 7u);
    // "лог2.csv" belongs to the connect's folder only.
    EXPECT_FALSE(fs::exists(b.path() / "лог2.csv"));

    EXPECT_EQ(Read(a.path() / "лог.xls"), oldXls);
    EXPECT_EQ(Read(a.path() / "лог2-CSV.csv"), oldCsv);
    EXPECT_EQ(Read(a.path() / "лог2.csv"), oldHeader);
    EXPECT_EQ(std::count(oldXls.begin(), oldXls.end(), '\n'), 4);
    EXPECT_TRUE(l.lines.empty());
}

// How a write can fail, and how the fault is cleared again.
struct FailureCase {
    const char* name;
    // Makes writing into `dir` fail; called after `good` lines went in.
    void (*breakIt)(const fs::path& dir);
    void (*mendIt)(const fs::path& dir);
    int good;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class LiveLogFailures : public ::testing::TestWithParam<FailureCase> {};

// A failing file is reported once with its path and reason, keeps every line
// in memory, and the first write that succeeds again completes it.
TEST_P(LiveLogFailures, ReportedOnceThenCompletedByTheNextGoodWrite) {
    const FailureCase& k = GetParam();
    TempDir tmp;
    const fs::path dir = tmp.path() / "сеанс";
    fs::create_directory(dir);
    Logs l;
    l.logs.Start(dir);
    for (int i = 1; i <= k.good; ++i) ASSERT_TRUE(l.logs.AppendLine(RowsFor(i), 0, dir));

    k.breakIt(dir);
    for (int i = k.good + 1; i <= k.good + 4; ++i)
        EXPECT_FALSE(l.logs.AppendLine(RowsFor(i), 0, dir)) << i;
    ASSERT_FALSE(l.lines.empty());
    EXPECT_LE(l.lines.size(), 2u) << "one line per file at most";
    for (const auto& line : l.lines) {
        EXPECT_NE(line.find((dir / "лог").string()), std::string::npos) << line;
        EXPECT_NE(line.find("Не удаётся записать"), std::string::npos) << line;
    }
    const size_t reported = l.lines.size();

    k.mendIt(dir);
    ASSERT_TRUE(l.logs.AppendLine(RowsFor(99), 3, dir));
    EXPECT_EQ(l.logs.XlsLog().size(), static_cast<size_t>(k.good + 4 + 2));
    std::string bytes, error;
    ASSERT_TRUE(EncodeLogLines(l.logs.XlsLog(), bytes, error));
    EXPECT_EQ(Read(dir / "лог.xls"), bytes);
    ASSERT_TRUE(EncodeLogLines(l.logs.CsvLog(), bytes, error));
    EXPECT_EQ(Read(dir / "лог2-CSV.csv"), bytes);
    // The fault is over: each reported file says so once.
    EXPECT_EQ(l.lines.size(), 2 * reported);
    // No temporary file is left behind.
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename();
        EXPECT_TRUE(name == "лог.xls" || name == "лог2-CSV.csv" || name == "лог2.csv") << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LiveLogFailures,
    ::testing::Values(  // Gone, and a file where it was: it cannot be made again until
                        // the file goes; then it is made by the next line.
        FailureCase{"FolderGoneAndBlockedMidConnection",
                    [](const fs::path& d) {
                        fs::remove_all(d);
                        std::ofstream(d) << "x";
                    },
                    [](const fs::path& d) { fs::remove(d); }, 2},
        // A directory where the file should be: the file cannot be replaced.
        FailureCase{"FileCannotBeReplaced",
                    [](const fs::path& d) {
                        fs::remove(d / "лог.xls");
                        fs::create_directory(d / "лог.xls");
                        std::ofstream(d / "лог.xls" / "x") << "x";
                    },
                    [](const fs::path& d) { fs::remove_all(d / "лог.xls"); }, 2},
        FailureCase{"ReadOnlyFile",
                    [](const fs::path& d) {
                        // Cut as well, so the next line has to rewrite it.
                        fs::resize_file(d / "лог2-CSV.csv", 5);
                        fs::permissions(d / "лог2-CSV.csv", fs::perms::owner_read);
                    },
                    [](const fs::path& d) {
                        fs::permissions(d / "лог2-CSV.csv",
                                        fs::perms::owner_read | fs::perms::owner_write);
                    },
                    2},
        // A file size limit for this process acts like a full disk: the next
        // line goes in only in part (the write then fails with EFBIG).
        FailureCase{"DiskFullHalfWayThroughALine",
                    [](const fs::path& d) {
                        ::signal(SIGXFSZ, SIG_IGN);
                        const auto size = std::min(fs::file_size(d / "лог.xls"),
                                                   fs::file_size(d / "лог2-CSV.csv"));
                        rlimit lim{};
                        ::getrlimit(RLIMIT_FSIZE, &lim);
                        lim.rlim_cur = size + 40;
                        ::setrlimit(RLIMIT_FSIZE, &lim);
                    },
                    [](const fs::path&) {
                        rlimit lim{};
                        ::getrlimit(RLIMIT_FSIZE, &lim);
                        lim.rlim_cur = lim.rlim_max;
                        ::setrlimit(RLIMIT_FSIZE, &lim);
                    },
                    3}),
    [](const auto& info) { return std::string(info.param.name); });

// The session folder could not be made at connect (here a file stands in
// its place, as a read-only or full disk would refuse it): every line tries
// to make it again, and the first that can writes everything since connect.
TEST(LiveLogFailures, FolderThatCannotBeMadeAtConnectIsMadeAndCaughtUpLater) {
    TempDir tmp;
    const fs::path dir = tmp.path() / "later";
    std::ofstream(dir) << "x";
    Logs l;
    l.logs.Start(dir);
    ASSERT_EQ(l.lines.size(), 2u);  // "лог.xls" and "лог2.csv"
    EXPECT_NE(l.lines[0].find("лог.xls"), std::string::npos);
    EXPECT_NE(l.lines[1].find("лог2.csv"), std::string::npos);
    EXPECT_FALSE(l.logs.AppendLine(RowsFor(1), 0, dir));
    EXPECT_EQ(l.lines.size(), 3u);  // and "лог2-CSV.csv" once

    fs::remove(dir);  // the place is free now; nobody makes the folder by hand
    ASSERT_TRUE(l.logs.AppendLine(RowsFor(2), 0, dir));
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(Read(dir / "лог2.csv"), FileOf({CsvHeaderUtf8()}));
    std::string bytes, error;
    ASSERT_TRUE(EncodeLogLines(l.logs.XlsLog(), bytes, error));
    EXPECT_EQ(Read(dir / "лог.xls"), bytes);
    EXPECT_EQ(l.logs.XlsLog().size(), 3u);
}

TEST(LiveLogFailures, NoSessionFolderWritesNothingAnywhere) {
    ASSERT_FALSE(fs::exists("/лог.xls"));
    Logs l;
    l.logs.Start("");
    EXPECT_FALSE(l.logs.AppendLine(RowsFor(1), 0, ""));
    EXPECT_FALSE(l.logs.AppendLine(RowsFor(2), 0, ""));
    EXPECT_EQ(l.lines.size(), 3u);
    EXPECT_FALSE(fs::exists("/лог.xls"));
    EXPECT_FALSE(fs::exists("/лог2-CSV.csv"));
    EXPECT_EQ(l.logs.XlsLog().size(), 3u);
}

TEST(LiveLogLifecycle, StopKeepsTheListsAndAppendsNothingUntilTheNextStart) {
    TempDir a, b;
    Logs l;
    // Never started (logging off): no lines, no files.
    EXPECT_FALSE(l.logs.AppendLine(RowsFor(1), 0, a.path()));
    EXPECT_TRUE(fs::is_empty(a.path()));
    EXPECT_TRUE(l.logs.XlsLog().empty());

    l.logs.Start(a.path());
    ASSERT_TRUE(l.logs.AppendLine(RowsFor(1), 0, a.path()));
    l.logs.Stop();
    EXPECT_FALSE(l.logs.Enabled());
    const std::string xls = Read(a.path() / "лог.xls");
    EXPECT_FALSE(l.logs.AppendLine(RowsFor(2), 0, a.path()));
    EXPECT_EQ(l.logs.XlsLog().size(), 2u);
    EXPECT_EQ(Read(a.path() / "лог.xls"), xls);

    // A reconnect starts afresh in its own folder.
    l.logs.Start(b.path());
    ASSERT_TRUE(l.logs.AppendLine(RowsFor(3), 0, b.path()));
    EXPECT_EQ(l.logs.XlsLog().size(), 2u);
    EXPECT_EQ(Read(b.path() / "лог.xls"), FileOf({kXlsHeaderUtf8, XlsDataLine(RowsFor(3))}));
    EXPECT_EQ(Read(a.path() / "лог.xls"), xls);
}

}  // namespace
