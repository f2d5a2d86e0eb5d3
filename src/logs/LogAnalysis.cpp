#include "logs/LogAnalysis.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "firmware/FirmwareImage.h"
#include "live/LiveTexts.h"
#include "platform/NumberText.h"
#include "platform/TextCodec.h"
#include "tuning/TuningControls.h"
#include "tuning/TuningCore.h"

namespace korvane::logs {

namespace {

using tuning::kGridSize;

// The same dead band as the live learning step.
constexpr double kDeadLow = 0.993;
constexpr double kDeadHigh = 1.007;
constexpr double kMaxBcn = 680.0;  // 255 × 8 / 3, the largest BCN byte

// Without a link the tuning writes nothing anywhere; its processings still
// run, so the settling after each one skips the same frames as live.
class NoLink : public tuning::EcuMailbox {
  public:
    bool LinkUp() const override { return false; }
    tuning::CellWrite PostRemake(std::array<uint8_t, 2>, uint8_t) override {
        return tuning::CellWrite::Dropped;
    }
};

uint8_t ByteOf(long double value) {
    return static_cast<uint8_t>(std::clamp<int64_t>(platform::RoundHalfEven(value), 0, 255));
}

std::optional<int64_t> Integer(const tuning::SettingLookup& setting, const std::string& key,
                               std::string& error) {
    const std::string text = setting(key);
    const auto v = platform::ParseInteger(text);
    if (!v) error = "Параметр «" + key + "»: значение «" + text + "» не является целым числом.";
    return v;
}

}  // namespace

LogAnalysis AnalyzeLog(const LogData& log, std::span<const uint8_t, tuning::kImageSize> image,
                       const tuning::SettingLookup& setting) {
    LogAnalysis a;
    static const char* const kNeeded[] = {
        "Скорость вращения двигателя", "Положение дроссельной заслонки",
        "Соотношение воздух/топливо", "AFR LC-1", "Цикловой расход воздуха"};
    for (const char* caption : kNeeded) {
        if (log.ColumnOf(caption) < 0) {
            a.error = std::string("В логе нет столбца «") + caption + "».";
            return a;
        }
    }
    const auto minThrottle = Integer(setting, "Не настраивать ниже %", a.error);
    if (!minThrottle) return a;
    const auto toProcess = Integer(setting, "Количество циклов для обработки", a.error);
    if (!toProcess) return a;
    // As the learning step holds it: a processing needs one sample more and
    // a cell's list takes sixteen.
    a.minSamples =
        static_cast<int>(std::clamp<int64_t>(*toProcess, 1, tuning::kAirChargeSlots - 1));

    // The filters, limits and locks of the live tuning, refused as the
    // connect refuses them.
    const auto controls =
        tuning::ReadControlSettings([&setting](const char* key) { return setting(key); });
    if (!controls.error.empty()) {
        a.error = controls.error;
        return a;
    }
    const auto locks = tuning::ParseLockList(setting(tuning::kLockedCellsKey));
    if (!locks.problem.empty()) a.log.push_back(locks.problem);
    const auto& filters = controls.settings.filters;
    if (!log.SecondsPerLine && (filters.maxThrottleRate || filters.maxRpmRate))
        a.log.push_back(std::string("Время строк лога не известно: «") +
                        tuning::kMaxThrottleRateKey + "» и «" + tuning::kMaxRpmRateKey +
                        "» не применяются.");

    const firmware::GridLabels labels = firmware::Namesstringgrid(image);
    a.rowLabels = labels.rows;
    a.columnLabels = labels.cols;

    tuning::UnseenTuningView view;
    NoLink link;
    tuning::TuningCore core(
        setting, [&a](const std::string& line) { a.log.push_back(line); }, view, link, '.');
    core.addtabl(image, labels.rows, labels.cols);
    core.NewConnection();
    core.SetControls(controls.settings);
    tuning::TuningTables& t = core.Tables();
    t.Locked = locks.locks;
    t.MinTuneThrottle =
        static_cast<int32_t>(std::clamp<int64_t>(*minThrottle, INT32_MIN, INT32_MAX));
    t.TuningActive = true;

    // Column i of the TAB file is grid row i + 1; the CSV has the hit count
    // where the work point would be.
    std::vector<int> rowOf(log.Columns());
    for (int col = 0; col < log.Columns(); ++col)
        rowOf[col] = (col == 0 && log.Kind() == LogKind::Csv) ? 0 : col + 1;
    const int rpmCol = log.ColumnOf("Скорость вращения двигателя");
    const int throttleCol = log.ColumnOf("Положение дроссельной заслонки");
    const int lc1Col = log.ColumnOf("AFR LC-1");

    std::vector<double> ratioSum(tuning::kCellCount), airSum(tuning::kCellCount);
    std::array<uint8_t, tuning::kImageSize> scratch{};
    std::copy(image.begin(), image.end(), scratch.begin());
    live::LiveValues values;
    for (size_t line = 0; line < log.Lines(); ++line) {
        // A live frame keeps what the next one does not bring; an empty cell
        // of the log does the same.
        for (int col = 0; col < log.Columns(); ++col) {
            const float v = log.Value(line, col);
            if (rowOf[col] > 0 && !std::isnan(v)) live::SetRowValue(values, rowOf[col], v);
        }
        if (std::isnan(log.Value(line, rpmCol)) || std::isnan(log.Value(line, throttleCol)))
            continue;
        ++a.framesUsed;
        // A sample lands in the cell the work point is in already; when it
        // completes the list, the processing in the same step empties it,
        // so its slot is known from before the step.
        const int32_t before = t.AnalisCount;
        const tuning::GridCell cell = t.CurrentCell;
        const bool inGrid = cell.col > 0 && cell.row > 0;
        const int held =
            inGrid ? static_cast<int>(t.WorkPointCells[cell.col - 1][cell.row - 1].SampleCount) : 0;
        const double seconds =
            log.SecondsPerLine ? static_cast<double>(line) * *log.SecondsPerLine : std::nan("");
        // An empty "AFR LC-1": the reading was not taken live (warm-up, an
        // error, no frame); the line counts for the work point but, as in
        // the live tuning, gives no sample.
        const bool mixtureTaken = !std::isnan(log.Value(line, lc1Col));
        core.calculations(values, false, scratch, mixtureTaken, seconds);
        if (t.AnalisCount == before || !inGrid || !(t.CurrentCell == cell)) continue;
        const int c = cell.col - 1;
        const int r = cell.row - 1;
        const int n = t.SampleIndex >= 1 ? t.SampleIndex : held + 1;
        if (n < 1 || n > tuning::kAirChargeSlots) continue;
        const int k = tuning::CellIndex(c, r);
        ratioSum[k] += t.WorkPointCells[c][r].Samples[n - 1];
        airSum[k] += t.AirChargeSamples[c][r][n - 1];
        ++a.cells[k].samples;
    }

    a.image.assign(image.begin(), image.end());
    for (int c = 0; c < kGridSize; ++c) {
        for (int r = 0; r < kGridSize; ++r) {
            const int k = tuning::CellIndex(c, r);
            CellSuggestion& s = a.cells[k];
            const uint8_t corrByte = image[tuning::kCorrectionAddress + k];
            const uint8_t bcnByte = image[tuning::kBcnAddress + k];
            s.oldCorrection = s.newCorrection = corrByte / 128.0;
            s.oldBcn = s.newBcn = bcnByte * 8.0 / 3;
            if (s.samples == 0) continue;
            s.ratio = ratioSum[k] / s.samples;
            s.airCharge = airSum[k] / s.samples;
            s.enough = s.samples >= a.minSamples;
            if (!s.enough) continue;
            a.samplesUsed += s.samples;

            uint8_t newCorr = corrByte;
            if (!(kDeadLow <= s.ratio && s.ratio <= kDeadHigh) && std::isfinite(s.ratio)) {
                const float limited = tuning::LimitCorrection(
                    static_cast<float>(s.oldCorrection),
                    static_cast<float>(s.oldCorrection * s.ratio), controls.settings.limits);
                const double wanted = std::clamp<double>(limited, tuning::kOuterCorrectionLow,
                                                         tuning::kOuterCorrectionHigh);
                newCorr = ByteOf(static_cast<long double>(wanted) * 128);
            }
            uint8_t newBcn = bcnByte;
            if (std::isfinite(s.airCharge) && s.airCharge > 0)
                newBcn = ByteOf(static_cast<long double>(std::min(s.airCharge, kMaxBcn)) * 3 / 8);
            s.newCorrection = newCorr / 128.0;
            s.newBcn = newBcn * 8.0 / 3;
            a.image[tuning::kCorrectionAddress + k] = newCorr;
            a.image[tuning::kBcnAddress + k] = newBcn;
            a.image[tuning::kBcnCopyAddress + k] = newBcn;
            s.correctionChanged = newCorr != corrByte;
            s.bcnChanged = newBcn != bcnByte;
            a.bcnChanged += s.bcnChanged;
            if (!s.correctionChanged) continue;
            ++a.correctionsChanged;
            if (a.largestChangeCell < 0 ||
                std::fabs(s.ChangePercent()) > std::fabs(a.largestChangePercent)) {
                a.largestChangeCell = k;
                a.largestChangePercent = s.ChangePercent();
            }
        }
    }
    a.ok = true;
    return a;
}

std::string ChangedCellsText(const LogAnalysis& a) {
    return "Ячеек с изменённой поправкой: " + std::to_string(a.correctionsChanged) +
           ", с изменённым БЦН: " + std::to_string(a.bcnChanged);
}

namespace {

std::string Fixed(double v, int decimals) {
    return platform::FormatFixed(v, decimals, '.');
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

int RunAnalyzeCommand(const std::vector<std::string>& args, const tuning::SettingLookup& setting,
                      std::string& out, std::string& err) {
    std::string logPath, imagePath, outPath;
    bool outGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size() && !outGiven) {
            outPath = args[++i];
            outGiven = true;
        } else if (logPath.empty() && !args[i].empty() && args[i] != "-o") {
            logPath = args[i];
        } else if (imagePath.empty() && !args[i].empty() && args[i] != "-o") {
            imagePath = args[i];
        } else {
            logPath.clear();
            break;
        }
    }
    if (logPath.empty() || imagePath.empty() || outPath.empty()) {
        err = "Использование: korvane analyze ЛОГ ПРОШИВКА -o НОВАЯ.bin\n";
        return 2;
    }
    if (outPath == imagePath || SameFile(outPath, imagePath)) {
        err =
            "«" + outPath + "»: это исходная прошивка; новая записывается только в другой файл.\n";
        return 1;
    }
    const LogReadResult log = ReadLog(logPath);
    if (!log.ok) {
        err = log.error + "\n";
        return 1;
    }
    std::string bytes, error;
    if (!platform::ReadBinaryFile(imagePath, bytes, error)) {
        err = "«" + imagePath + "»: " + error + ".\n";
        return 1;
    }
    if (bytes.size() != tuning::kImageSize) {
        err = "«" + imagePath + "»: " + std::to_string(bytes.size()) +
              " байт, а прошивка занимает 65536.\n";
        return 1;
    }
    std::array<uint8_t, tuning::kImageSize> image{};
    std::copy(bytes.begin(), bytes.end(), image.begin());
    const LogAnalysis a = AnalyzeLog(log.data, image, setting);
    for (const auto& note : log.data.Notes) err += "«" + logPath + "»: " + note + ".\n";
    for (const auto& line : a.log) err += line + "\n";
    if (!a.ok) {
        err += a.error + "\n";
        return 1;
    }
    if (!platform::WriteFileAtomically(outPath, std::string(a.image.begin(), a.image.end()),
                                       error)) {
        err += "«" + outPath + "»: " + error + ".\n";
        return 1;
    }
    int enough = 0, short_ = 0;
    for (const auto& c : a.cells) {
        enough += c.enough;
        short_ += c.samples > 0 && !c.enough;
    }
    out = "Строк лога: " + std::to_string(log.data.Lines()) +
          ", выборок использовано: " + std::to_string(a.samplesUsed) + "\n";
    out += "Ячеек с выборками: " + std::to_string(enough) +
           ", с недостаточными: " + std::to_string(short_) + " (минимум " +
           std::to_string(a.minSamples) + ")\n";
    out += ChangedCellsText(a) + "\n";
    if (a.largestChangeCell >= 0) {
        const int c = a.largestChangeCell / kGridSize;
        const int r = a.largestChangeCell % kGridSize;
        out +=
            "Наибольшее изменение поправки: " + std::string(a.largestChangePercent > 0 ? "+" : "") +
            Fixed(a.largestChangePercent, 1) + " % (" + std::to_string(a.rowLabels[r]) +
            " об/мин, " + std::to_string(a.columnLabels[c]) + " %)\n";
    }
    out += "Записано: " + outPath + "\n";
    return 0;
}

}  // namespace korvane::logs
