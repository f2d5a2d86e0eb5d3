#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "live/LiveLogs.h"
#include "live/LiveTick.h"
#include "logs/LogAnalysis.h"
#include "platform/NumberText.h"
#include "platform/TextCodec.h"
#include "sim/EngineRun.h"
#include "sim/Simulator.h"
#include "tests/logs/DriveLog.h"

using namespace korvane;
using namespace korvane::logs;
using korvane::drive::RecordDrive;
namespace fs = std::filesystem;

namespace {

using Image = std::array<uint8_t, tuning::kImageSize>;

// The tuning settings as shipped.
std::map<std::string, std::string> Shipped() {
    return {{"Стационарность по RPM", "100"},         {"Стационарность по %", "100"},
            {"Стационарность по циклам", "4"},        {"Не настраивать ниже %", "2"},
            {"Количество циклов для обработки", "7"}, {"Весовой коэф. коррекции(%)", "70"},
            {"Коэф. обучения соседних РТ", ""}};
}

tuning::SettingLookup Lookup(const std::map<std::string, std::string>& s) {
    return [s](const std::string& key) {
        const auto it = s.find(key);
        return it == s.end() ? std::string() : it->second;
    };
}

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/korvane-analysis-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

Image SyntheticImage() {
    const auto fw = sim::MakeSyntheticFirmware(1);
    Image image{};
    std::copy(fw.begin(), fw.end(), image.begin());
    return image;
}

// One logged frame: engine speed, throttle, the ECU's AFR, the LC-1's AFR
// and the air charge; everything else a fixed figure.
struct Frame {
    double rpm, throttle, afr, afrLc1, air;
    double coolant = 90;
};

LogData LogOf(const std::vector<Frame>& frames, std::optional<double> secondsPerLine = {}) {
    std::vector<std::string> lines = {live::XlsHeaderLine()};
    for (const Frame& f : frames) {
        live::ShownRowTexts rows;
        for (int r = 1; r <= live::kLoggedRows; ++r) rows[r] = "1";
        rows[12] = "";
        rows[2] = platform::FormatGeneral(f.coolant, ',');
        rows[3] = platform::FormatGeneral(f.afr, ',');
        // NaN: the reading was not taken (the cell stays empty).
        rows[4] = std::isnan(f.afrLc1) ? "" : platform::FormatGeneral(f.afrLc1, ',');
        rows[6] = platform::FormatGeneral(f.throttle, ',');
        rows[7] = platform::FormatGeneral(f.rpm, ',');
        rows[36] = platform::FormatGeneral(f.air, ',');
        lines.push_back(live::XlsDataLine(rows));
    }
    std::string bytes, error;
    EXPECT_TRUE(live::EncodeLogLines(lines, bytes, error)) << error;
    auto r = ParseLog(bytes, "лог.xls");
    EXPECT_TRUE(r.ok) << r.error;
    r.data.SecondsPerLine = secondsPerLine;
    return std::move(r.data);
}

// `count` frames at the centre of cell (column, row) with the given ratio.
void Stay(std::vector<Frame>& frames, const firmware::GridLabels& l, int column, int row, int count,
          double ratio, double air = 200) {
    for (int i = 0; i < count; ++i)
        frames.push_back({double(l.rows[row]), double(l.cols[column]), 14.7, 14.7 * ratio, air});
}

TEST(LogAnalysis, SuggestsCorrectionAndBcnOnlyWhereEnoughSamples) {
    const Image image = SyntheticImage();
    const Image original = image;
    const auto labels = firmware::Namesstringgrid(image);
    std::vector<Frame> frames;
    Stay(frames, labels, 5, 6, 60, 1.10, 300);  // lean, long
    Stay(frames, labels, 6, 6, 60, 0.90, 150);  // rich, long
    Stay(frames, labels, 7, 6, 60, 1.004);      // within the dead band
    Stay(frames, labels, 8, 6, 60, 3.0);        // far lean: held by the limit
    Stay(frames, labels, 9, 6, 9, 1.2);         // too short to learn
    const auto a = AnalyzeLog(LogOf(frames), image, Lookup(Shipped()));
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(image, original);
    EXPECT_EQ(a.minSamples, 7);

    struct Expect {
        int column;
        double ratio;
        double correctionFactor;  // new / old correction, before rounding to a byte
        double bcn;
        bool enough;
    };
    for (const Expect& e : {Expect{5, 1.10, 1.10, 300, true}, Expect{6, 0.90, 0.90, 150, true},
                            Expect{7, 1.004, 1.0, 200, true}, Expect{9, 1.2, 1.0, -1, false}}) {
        const int k = tuning::CellIndex(e.column, 6);
        const CellSuggestion& s = a.cells[k];
        SCOPED_TRACE(e.column);
        EXPECT_EQ(s.enough, e.enough);
        EXPECT_GT(s.samples, 0);
        EXPECT_NEAR(s.ratio, e.ratio, 1e-5);
        const uint8_t oldByte = image[tuning::kCorrectionAddress + k];
        const uint8_t wantByte = static_cast<uint8_t>(
            platform::RoundHalfEven(static_cast<long double>(oldByte) * e.correctionFactor));
        EXPECT_EQ(a.image[tuning::kCorrectionAddress + k], wantByte);
        const uint8_t wantBcn = e.bcn < 0
                                    ? image[tuning::kBcnAddress + k]
                                    : static_cast<uint8_t>(platform::RoundHalfEven(e.bcn * 3 / 8));
        EXPECT_EQ(a.image[tuning::kBcnAddress + k], wantBcn);
        EXPECT_EQ(a.image[tuning::kBcnCopyAddress + k], wantBcn);
    }
    // The limit of the live learning holds the far lean cell.
    const int far = tuning::CellIndex(8, 6);
    EXPECT_EQ(a.image[tuning::kCorrectionAddress + far], 250);  // 1.95 × 128, rounded
    EXPECT_EQ(a.largestChangeCell, far);
    // Everything but the learned cells' bytes is the image as it was.
    Image masked{};
    std::copy(a.image.begin(), a.image.end(), masked.begin());
    for (int c : {5, 6, 7, 8})
        for (uint16_t base :
             {tuning::kCorrectionAddress, tuning::kBcnAddress, tuning::kBcnCopyAddress})
            masked[base + tuning::CellIndex(c, 6)] = image[base + tuning::CellIndex(c, 6)];
    EXPECT_EQ(masked, image);
    EXPECT_EQ(a.samplesUsed, a.cells[tuning::CellIndex(5, 6)].samples * 4);
    // What is counted as changed is the bytes that changed, corrections and
    // BCN apart: the dead-band cell keeps its correction whatever its BCN.
    int corrections = 0, bcn = 0;
    for (int k = 0; k < tuning::kCellCount; ++k) {
        const bool corr =
            a.image[tuning::kCorrectionAddress + k] != image[tuning::kCorrectionAddress + k];
        const bool air = a.image[tuning::kBcnAddress + k] != image[tuning::kBcnAddress + k];
        EXPECT_EQ(a.cells[k].correctionChanged, corr) << k;
        EXPECT_EQ(a.cells[k].bcnChanged, air) << k;
        corrections += corr;
        bcn += air;
    }
    EXPECT_EQ(a.correctionsChanged, corrections);
    EXPECT_EQ(a.bcnChanged, bcn);
    EXPECT_FALSE(a.cells[tuning::CellIndex(7, 6)].correctionChanged);
    EXPECT_EQ(ChangedCellsText(a), "Ячеек с изменённой поправкой: " + std::to_string(corrections) +
                                       ", с изменённым БЦН: " + std::to_string(bcn));
}

TEST(LogAnalysis, SamplesOnlyTheFramesTheLiveTuningWouldTake) {
    const Image image = SyntheticImage();
    const auto labels = firmware::Namesstringgrid(image);
    struct Case {
        const char* name;
        std::map<std::string, std::string> settings;
        std::vector<Frame> frames;
        int samples;  // in cell (5, 6)
        std::optional<double> secondsPerLine = {};
    };
    auto base = [&](int n, double ratio) {
        std::vector<Frame> f;
        Stay(f, labels, 5, 6, n, ratio);
        return f;
    };
    auto set = [](const char* key, const char* value) {
        auto s = Shipped();
        s[key] = value;
        return s;
    };
    std::vector<Frame> bounce;  // leaving the cell every fourth frame: never stationary
    for (int i = 0; i < 20; ++i) {
        Stay(bounce, labels, 5, 6, 4, 1.1);
        Stay(bounce, labels, 6, 6, 1, 1.1);
    }
    std::vector<Frame> swing;
    for (int i = 0; i < 13; ++i)
        swing.push_back(
            {labels.rows[6] - 20.0 * (i % 2), double(labels.cols[5]), 14.7, 16.17, 200});
    // The LC-1 stops giving readings once the cell has settled: the last
    // accepted value is not in the log, so it is not pooled either.
    std::vector<Frame> gap = base(5, 1.1);
    Stay(gap, labels, 5, 6, 8, std::nan(""));
    Stay(gap, labels, 5, 6, 3, 1.1);
    std::vector<Case> cases = {
        // Entering frame, 4 frames to settle, then 8 samples, a processing and
        // 8 frames of settling before the next ones.
        {"Stationary", Shipped(), base(5 + 8 + 8 + 3, 1.1), 8 + 3},
        {"MoreCyclesToSettle", set("Стационарность по циклам", "10"), base(11 + 4, 1.1), 4},
        {"BelowMinimumThrottle", set("Не настраивать ниже %", "101"), base(60, 1.1), 0},
        {"NeverStationary", Shipped(), bounce, 0},
        {"NoLc1Reading", Shipped(), base(60, 0.0), 0},
        {"ReadingsNotTaken", Shipped(), base(60, std::nan("")), 0},
        {"ReadingsNotTakenForAWhile", Shipped(), gap, 3},
        {"ColdEngine", set("Мин. ТОЖ для обучения", "95"), base(60, 1.1), 0},
        {"WarmEnough", set("Мин. ТОЖ для обучения", "85"), base(5 + 8, 1.1), 8},
        {"LockedCell", set("Заблокированные ячейки", "86"), base(60, 1.1), 0},  // 5 × 16 + 6
        // Engine speed swinging 20 rpm a line inside the cell: 100 rpm/s
        // at least (the filter's shortest span is 0.2 s) holds every frame,
        // when the line rate is known.
        {"RpmRateWithTime", set("Макс. скорость оборотов об/с", "50"), swing, 0, 1 / 16.0},
        {"RpmRateWithoutTime", set("Макс. скорость оборотов об/с", "50"), swing, 8},
    };
    for (const Case& c : cases) {
        const auto a = AnalyzeLog(LogOf(c.frames, c.secondsPerLine), image, Lookup(c.settings));
        ASSERT_TRUE(a.ok) << c.name << ": " << a.error;
        EXPECT_EQ(a.cells[tuning::CellIndex(5, 6)].samples, c.samples) << c.name;
    }
}

TEST(LogAnalysis, TheLiveTuningsLimitsHoldTheSuggestion) {
    const Image image = SyntheticImage();
    const auto labels = firmware::Namesstringgrid(image);
    std::vector<Frame> frames;
    Stay(frames, labels, 5, 6, 60, 1.10);
    Stay(frames, labels, 6, 6, 60, 0.50);
    struct Case {
        const char* key;
        const char* value;
        double lean, rich;  // the corrections of the two cells, as factors or values
        bool factors;
    };
    for (const Case& c : {Case{"Макс. шаг поправки %", "5", 1.05, 0.95, true},
                          Case{"Пределы поправки", "0,9 1,02", 1.02, 0.9, false}}) {
        auto settings = Shipped();
        settings[c.key] = c.value;
        const auto a = AnalyzeLog(LogOf(frames), image, Lookup(settings));
        ASSERT_TRUE(a.ok) << a.error;
        const int lean = tuning::CellIndex(5, 6), rich = tuning::CellIndex(6, 6);
        const double oldLean = image[tuning::kCorrectionAddress + lean] / 128.0;
        const double oldRich = image[tuning::kCorrectionAddress + rich] / 128.0;
        EXPECT_NEAR(a.cells[lean].newCorrection, c.factors ? oldLean * c.lean : c.lean, 0.5 / 128)
            << c.key;
        EXPECT_NEAR(a.cells[rich].newCorrection, c.factors ? oldRich * c.rich : c.rich, 0.5 / 128)
            << c.key;
    }
}

TEST(LogAnalysis, BadSettingsGiveAMessage) {
    const Image image = SyntheticImage();
    for (const auto& [key, value] :
         std::map<std::string, std::string>{{"Количество циклов для обработки", "семь"},
                                            {"Не настраивать ниже %", ""},
                                            {"Пределы поправки", "1,5 0,5"},
                                            {"Мин. ТОЖ для обучения", "тёплый"}}) {
        auto s = Shipped();
        s[key] = value;
        const auto bad = AnalyzeLog(LogOf({}), image, Lookup(s));
        EXPECT_FALSE(bad.ok) << key;
        EXPECT_NE(bad.error.find(key), std::string::npos) << bad.error;
    }
}

// The engine runs one mixture per cell here: with the ECU's interpolation a
// cell's mixture also follows its neighbours' new corrections, which a single
// analysis cannot foresee (a second drive and analysis take that up).
TEST(LogAnalysis, TheSuggestedImageBringsTheSampledCellsToLambdaOne) {
    TempDir tmp;
    const Image image = SyntheticImage();
    const auto first = ReadLog(RecordDrive(tmp.Path() / "first", image, 12, sim::Mixture::PerCell));
    ASSERT_TRUE(first.ok) << first.error;
    const auto a = AnalyzeLog(first.data, image, Lookup(Shipped()));
    ASSERT_TRUE(a.ok) << a.error;

    Image suggested{};
    std::copy(a.image.begin(), a.image.end(), suggested.begin());
    const auto second =
        ReadLog(RecordDrive(tmp.Path() / "second", suggested, 12, sim::Mixture::PerCell));
    ASSERT_TRUE(second.ok) << second.error;
    const auto b = AnalyzeLog(second.data, suggested, Lookup(Shipped()));
    ASSERT_TRUE(b.ok) << b.error;

    sim::EngineRun engine(sim::Scenario::Drive, 1, sim::Mixture::PerCell, 0);
    int learned = 0, wasOff = 0;
    for (int k = 0; k < tuning::kCellCount; ++k) {
        if (!a.cells[k].enough) continue;
        ++learned;
        const int c = k / tuning::kGridSize, r = k % tuning::kGridSize;
        wasOff += std::fabs(a.cells[k].ratio - 1) > 0.02;
        EXPECT_LE(std::fabs(engine.CellMixture(c, r, suggested) - 1), 0.02) << c << "/" << r;
        if (b.cells[k].enough) {
            EXPECT_LE(std::fabs(b.cells[k].ratio - 1), 0.02) << c << "/" << r;
        }
    }
    EXPECT_GE(learned, 10);
    EXPECT_GE(wasOff, 5);  // the drive did run lean or rich there
}

// The LC-1 falls silent half way through a recorded drive: the second half
// still moves the work point but gives no sample, so the analysis is that
// of the first half alone (the frozen last reading is pooled nowhere).
TEST(LogAnalysis, ARecordedStretchWithoutLc1ReadingsGivesNoSamples) {
    TempDir tmp;
    const Image image = SyntheticImage();
    const auto silent =
        ReadLog(RecordDrive(tmp.Path() / "silent", image, 6, sim::Mixture::PerCell, 180));
    const auto half = ReadLog(RecordDrive(tmp.Path() / "half", image, 3, sim::Mixture::PerCell));
    ASSERT_TRUE(silent.ok) << silent.error;
    ASSERT_TRUE(half.ok) << half.error;
    ASSERT_GT(silent.data.Lines(), half.data.Lines() + 2000);
    const int lc1 = silent.data.ColumnOf("AFR LC-1");
    EXPECT_TRUE(std::isnan(silent.data.Value(silent.data.Lines() - 1, lc1)));

    const auto a = AnalyzeLog(silent.data, image, Lookup(Shipped()));
    const auto b = AnalyzeLog(half.data, image, Lookup(Shipped()));
    ASSERT_TRUE(a.ok && b.ok) << a.error << b.error;
    EXPECT_GT(a.framesUsed, b.framesUsed);
    EXPECT_GT(b.samplesUsed, 0);
    for (int k = 0; k < tuning::kCellCount; ++k)
        EXPECT_EQ(a.cells[k].samples, b.cells[k].samples) << k;
    EXPECT_EQ(a.image, b.image);
}

TEST(AnalyzeCommand, WritesANewImageAndRefusesBadInput) {
    TempDir tmp;
    const Image image = SyntheticImage();
    const fs::path imagePath = tmp.Path() / "ecu.bin";
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), image.size());
    const fs::path shortImage = tmp.Path() / "short.bin";
    std::ofstream(shortImage, std::ios::binary) << "abc";
    const auto labels = firmware::Namesstringgrid(image);
    std::vector<Frame> frames;
    Stay(frames, labels, 5, 6, 60, 1.10, 300);
    std::vector<std::string> lines = {live::XlsHeaderLine()};
    const fs::path logPath = tmp.Path() / "лог.xls";
    {
        // The frames above written as a file.
        std::string bytes;
        const LogData d = LogOf(frames);
        std::vector<std::string> text = {live::XlsHeaderLine()};
        for (size_t i = 0; i < d.Lines(); ++i) {
            live::ShownRowTexts rows;
            for (int col = 0; col < 37; ++col)
                rows[col + 1] = std::isnan(d.Value(i, col))
                                    ? ""
                                    : platform::FormatGeneral(d.Value(i, col), ',');
            text.push_back(live::XlsDataLine(rows));
        }
        std::string error;
        ASSERT_TRUE(live::EncodeLogLines(text, bytes, error));
        std::ofstream(logPath, std::ios::binary) << bytes;
    }
    const fs::path out = tmp.Path() / "new.bin";
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;  // in err
    };
    const std::vector<Case> cases = {
        {{logPath, imagePath}, 2, "Использование"},
        {{logPath, imagePath, "-o"}, 2, "Использование"},
        {{logPath, imagePath, "-o", out, "extra"}, 2, "Использование"},
        {{logPath, imagePath, "-o", imagePath}, 1, "исходная прошивка"},
        {{logPath, imagePath, "-o", (tmp.Path() / "." / "ecu.bin").string()},
         1,
         "исходная прошивка"},
        {{(tmp.Path() / "none.xls").string(), imagePath, "-o", out}, 1, "none.xls"},
        {{imagePath, imagePath.string() + "x", "-o", out}, 1, "ecu.bin»"},
        {{logPath, shortImage, "-o", out}, 1, "3 байт"},
        {{logPath, tmp.Path() / "none.bin", "-o", out}, 1, "none.bin"},
    };
    for (const Case& c : cases) {
        std::string o, e;
        EXPECT_EQ(RunAnalyzeCommand(c.args, Lookup(Shipped()), o, e), c.code) << e;
        EXPECT_NE(e.find(c.message), std::string::npos) << e;
        EXPECT_FALSE(fs::exists(out));
    }
    std::string o, e;
    ASSERT_EQ(RunAnalyzeCommand({"-o", out, logPath, imagePath}, Lookup(Shipped()), o, e), 0) << e;
    EXPECT_NE(o.find("Ячеек с изменённой поправкой: 1, с изменённым БЦН: 1\n"), std::string::npos)
        << o;
    EXPECT_NE(o.find("Наибольшее изменение поправки: +"), std::string::npos) << o;
    ASSERT_EQ(fs::file_size(out), tuning::kImageSize);
    std::ifstream in(out, std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), {});
    const int k = tuning::kCorrectionAddress + tuning::CellIndex(5, 6);
    EXPECT_NE(static_cast<uint8_t>(written[k]), image[k]);
    std::ifstream again(imagePath, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}),
              std::string(image.begin(), image.end()));
}

}  // namespace
