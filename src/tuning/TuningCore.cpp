#include "tuning/TuningCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/NumberText.h"

namespace korvane::tuning {

namespace {

const std::string kKeys[] = {
    "Стационарность по RPM",           "Стационарность по %",        "Стационарность по циклам",
    "Количество циклов для обработки", "Весовой коэф. коррекции(%)", "Коэф. обучения соседних РТ",
};

constexpr float kTopRpm = 10200;
constexpr float kTopThrottle = 101;
constexpr float kBottom = -1;

// Dead band, small-step band and the small step itself; compared in 80 bits.
constexpr long double kDeadLow = 0.993L;
constexpr long double kDeadHigh = 1.007L;
constexpr long double kSmallLow = 0.98L;
constexpr long double kSmallHigh = 1.02L;
constexpr long double kSmallStep = 0.009L;
constexpr long double kCorrectionMax = 1.95L;
constexpr long double kCorrectionMin = 0.25L;
constexpr long double kNeighbourLow = 0.95L;
constexpr long double kNeighbourHigh = 1.05L;
// Stationary frames skipped after a processing, while the mixture settles.
constexpr int32_t kSettlingFrames = 8;
// The largest BCN value whose byte (value × 3 / 8) still fits: 255 × 8 / 3.
constexpr float kMaxLearnedBcn = 680.0f;

std::array<float, kGridSize + 1> Bounds(const GridLabels& labels, float top) {
    std::array<float, kGridSize + 1> b{};
    b[0] = kBottom;
    for (int i = 1; i < kGridSize; ++i)
        b[i] = static_cast<float>((static_cast<long double>(labels[i - 1]) + labels[i]) / 2);
    b[kGridSize] = top;
    return b;
}

}  // namespace

TuningCore::TuningCore(SettingLookup setting, LogSink log, TuningView& view, EcuMailbox& mailbox,
                       char decimalSeparator)
    : setting_(std::move(setting)),
      log_(std::move(log)),
      view_(view),
      mailbox_(mailbox),
      separator_(decimalSeparator),
      tables_(std::make_unique<TuningTables>()) {
    SetGridLabels(GridLabels{}, GridLabels{});
}

void TuningCore::SetGridLabels(const GridLabels& rowLabels, const GridLabels& columnLabels) {
    rowBounds_ = Bounds(rowLabels, kTopRpm);
    colBounds_ = Bounds(columnLabels, kTopThrottle);
}

void TuningCore::addtabl(std::span<const uint8_t, kImageSize> image, const GridLabels& rowLabels,
                         const GridLabels& columnLabels) {
    TuningTables& t = *tables_;
    t.SourceImage = CheckCorrectionTable(image.subspan<kCorrectionAddress, kCellCount>());
    for (int c = 0; c < kGridSize; ++c) {
        for (int r = 0; r < kGridSize; ++r) {
            const int k = CellIndex(c, r);
            WorkPointCell& cell = t.WorkPointCells[c][r];
            cell.Correction = static_cast<float>(image[kCorrectionAddress + k] / 128.0L);
            t.NeighbourCorrections[c][r] = cell.Correction;
            const float bcn = static_cast<float>(image[kBcnAddress + k] * 8.0L / 3);
            t.BcnTable[c][r] = {bcn, bcn};
            t.IgnitionTable[c][r] = static_cast<float>(image[kIgnitionAddress + k] / 2.0L);
            cell.SampleCount = 0;
            cell.Ratio = 3.0f;
            cell.RewriteCount = 0;
            t.LoadedCorrection[k] = image[kCorrectionAddress + k];
            t.LoadedBcn[k] = image[kBcnAddress + k];
        }
    }
    view_.SelectFirstView();
    SetGridLabels(rowLabels, columnLabels);
}

void TuningCore::TakeTablesFrom(std::span<const uint8_t, kImageSize> image) {
    TuningTables& t = *tables_;
    t.SourceImage = CheckCorrectionTable(image.subspan<kCorrectionAddress, kCellCount>());
    for (int c = 0; c < kGridSize; ++c) {
        for (int r = 0; r < kGridSize; ++r) {
            const int k = CellIndex(c, r);
            const float correction = static_cast<float>(image[kCorrectionAddress + k] / 128.0L);
            t.WorkPointCells[c][r].Correction = correction;
            t.NeighbourCorrections[c][r] = correction;
            const float bcn = static_cast<float>(image[kBcnAddress + k] * 8.0L / 3);
            t.BcnTable[c][r] = {bcn, bcn};
            t.IgnitionTable[c][r] = static_cast<float>(image[kIgnitionAddress + k] / 2.0L);
        }
    }
}

void TuningCore::Narrow(const std::array<float, kGridSize + 1>& bounds, int32_t percent,
                        Bands& bands) {
    const long double q = (100 - percent) / 100.0L;
    for (int i = 0; i < kGridSize; ++i) {
        const long double low = bounds[i];
        const long double high = bounds[i + 1];
        const long double w = high - low;
        bands[i] = {low + q * w / 2, high - q * w / 2};
    }
}

void TuningCore::SetControls(const ControlSettings& controls) {
    filter_.SetSettings(controls.filters);
    filter_.Reset();
    limits_ = controls.limits;
}

void TuningCore::calculations(const live::LiveValues& values, bool NarrowBandMode,
                              std::span<uint8_t, kImageSize> image, bool mixtureUsable,
                              double seconds) {
    hold_ = filter_.Check(values, seconds);
    const auto weight = DecimalSetting(kCorrectionWeight);
    if (!weight) return;
    weight_ = *weight / 100;

    // Outside 0..100 the bands would overlap (one frame in several cells) or
    // leave the grid, so the settings are held within it.
    const auto rpmPercent = ClampedSetting(kRpmStationarity, 0, 100);
    if (!rpmPercent) return;
    Bands rows;
    Narrow(rowBounds_, *rpmPercent, rows);
    Bands cols;
    bool colsReady = false;

    const long double rpm = values.Rpm;
    const long double throttle = values.ThrottlePos;
    for (int r = 0; r < kGridSize; ++r) {
        if (!(rows[r].low < rpm && rpm <= rows[r].high)) continue;
        for (int c = 0; c < kGridSize; ++c) {
            if (!colsReady) {
                const auto throttlePercent = ClampedSetting(kThrottleStationarity, 0, 100);
                if (!throttlePercent) return;
                Narrow(colBounds_, *throttlePercent, cols);
                colsReady = true;
            }
            if (!(cols[c].low < throttle && throttle <= cols[c].high)) continue;
            if (!Hit(c, r, values, NarrowBandMode, image, mixtureUsable)) return;
        }
    }
}

bool TuningCore::Hit(int c, int r, const live::LiveValues& v, bool narrowBand,
                     std::span<uint8_t, kImageSize> image, bool mixtureUsable) {
    TuningTables& t = *tables_;
    ++t.StationaryHitCount;
    view_.SetCurrentCell(c + 1, r + 1);
    if (!t.TuningActive || view_.RadioGroup1Index() != 0) {
        view_.grafxx();
        return true;
    }
    if (t.MinTuneThrottle > v.ThrottlePos) {
        StatusLine();
        return true;
    }
    const GridCell here{r + 1, c + 1};
    if (t.Locked[CellIndex(c, r)] || hold_ != FilterHold::None) {
        // As if the work point had just entered the cell: the stationary
        // count starts again once the cell is free and the filters pass.
        t.CurrentCell = here;
        t.StableCycles = 0;
        t.SampleIndex = 0;
        StatusLine();
        return true;
    }
    if (here == t.CurrentCell) {
        ++t.StableCycles;
        const auto cycles = IntegerSetting(kStationaryCycles);
        if (!cycles) return false;
        if (t.StableCycles > *cycles)
            StationaryFrame(c, r, v, narrowBand, mixtureUsable);
        else
            view_.SetGridCell(0, 0, {});
        // A processing needs one sample more than this and the air-charge
        // list holds 16; below 1 there would be nothing to average.
        const auto toProcess = ClampedSetting(kCyclesToProcess, 1, kAirChargeSlots - 1);
        if (!toProcess) return false;
        if (*toProcess < t.SampleIndex && !Process(c, r, image)) return false;
    } else {
        t.CurrentCell = here;
        t.StableCycles = 0;
        t.SampleIndex = 0;
    }
    StatusLine();
    return true;
}

void TuningCore::StationaryFrame(int c, int r, const live::LiveValues& v, bool narrowBand,
                                 bool mixtureUsable) {
    TuningTables& t = *tables_;
    WorkPointCell& cell = t.WorkPointCells[c][r];
    const float sample = static_cast<float>(narrowBand ? v.InjTimeCorrection : v.AfrLc1 / v.Afr);
    // No frame decoded yet (Afr 0) or no LC-1 reading accepted yet (AfrLc1
    // 0): such a ratio says nothing about the mixture.
    const bool sampleOk = mixtureUsable && std::isfinite(sample) && sample > 0;

    bool take = false;
    if (t.SampleIndex >= 0) {
        // The cell continues its list across visits.
        t.SampleIndex = static_cast<int32_t>(platform::RoundHalfEven(cell.SampleCount));
        // A full list (only while the processing count cannot be read) takes
        // nothing more until it is processed.
        if (sampleOk && t.SampleIndex < kAirChargeSlots) {
            ++t.SampleIndex;
            take = true;
        }
    } else {
        ++t.SampleIndex;  // settling after a processing
    }
    ShowCell(c, r);
    if (take) {
        cell.SampleCount = static_cast<float>(t.SampleIndex);
        cell.Samples[t.SampleIndex - 1] = sample;
        t.AirChargeSamples[c][r][t.SampleIndex - 1] = static_cast<float>(v.CyclicAirFlow);
        ++t.AnalisCount;
    }
    view_.SetLabel5(number_.Fixed(cell.Correction, 3, separator_));
}

void TuningCore::ShowCell(int c, int r) {
    const TuningTables& t = *tables_;
    const WorkPointCell& cell = t.WorkPointCells[c][r];
    switch (view_.ComboBox1Index()) {
        case 0: {
            char* p = cellText_.data();
            auto put = [&](std::string_view s) {
                std::memcpy(p, s.data(), s.size());
                p += s.size();
            };
            put(number_.General(cell.RewriteCount, separator_));
            put("//");
            put(number_.General(cell.SampleCount, separator_));
            view_.SetGridCell(c + 1, r + 1,
                              {cellText_.data(), static_cast<size_t>(p - cellText_.data())});
            break;
        }
        case 1:
            view_.SetGridCell(c + 1, r + 1, number_.Fixed(cell.Correction, 3, separator_));
            break;
        case 2:
            view_.SetGridCell(c + 1, r + 1, number_.Fixed(cell.Ratio, 3, separator_));
            break;
        case 3:
            view_.SetGridCell(c + 1, r + 1, number_.Fixed(t.BcnTable[c][r].Current, 1, separator_));
            break;
        case kChangeViewItem:
            view_.SetGridCell(
                c + 1, r + 1,
                ChangeText(cell.Correction, t.LoadedCorrection[CellIndex(c, r)], separator_));
            break;
        default:
            break;
    }
}

bool TuningCore::Process(int c, int r, std::span<uint8_t, kImageSize> image) {
    TuningTables& t = *tables_;
    WorkPointCell& cell = t.WorkPointCells[c][r];

    // The neighbour weight is read before anything changes: a value that
    // does not convert stops the processing as a whole, so the next frame
    // does not move the correction a second time on the same samples.
    std::optional<double> neighbourWeight;
    if (t.NeighbourLearning) {
        // Empty (as shipped) means no neighbour learning.
        neighbourWeight = DecimalSetting(kNeighbourWeight, 0.0);
        if (!neighbourWeight) return false;
    }

    const int n = std::min(t.SampleIndex, kAirChargeSlots);
    double ratioSum = 0;
    double airSum = 0;
    for (int i = 0; i < n; ++i) {
        ratioSum += cell.Samples[i];
        airSum += t.AirChargeSamples[c][r][i];
    }
    double R = ratioSum / n;
    const double A = airSum / n;

    cell.Ratio = static_cast<float>(R);
    float learned = static_cast<float>(A);
    // A BCN byte holds at most 255.
    if (platform::RoundHalfEven(static_cast<long double>(learned) * 3 / 8) > kMaxLearnedBcnByte)
        learned = kMaxLearnedBcn;
    t.BcnTable[c][r].Learned = learned;

    const long double x = R;
    if ((kDeadLow <= x && x < 1) || (1 < x && x <= kDeadHigh)) R = 1;

    float& correction = cell.Correction;
    if (R != 1) {
        const long double old = correction;
        if (kSmallLow <= x && x < 1)
            correction = static_cast<float>(old - kSmallStep);
        else if (1 < x && x <= kSmallHigh)
            correction = static_cast<float>(old + kSmallStep);
        else
            correction = static_cast<float>(((x - 1) * weight_ + 1) * old);
        correction = LimitCorrection(static_cast<float>(old), correction, limits_);
    }
    if (correction > kCorrectionMax) correction = 1.95f;
    if (correction < kCorrectionMin) correction = 0.25f;

    if (R != 1) {
        const bool link = mailbox_.LinkUp();
        if (link) {
            view_.SetLabel5(number_.Fixed(correction, 3, separator_));
            view_.SetLabel7(number_.Fixed(R, 3, separator_));
        }
        if (t.NeighbourLearning) {
            // Kept in step with the cell also while the link is down: the
            // neighbour rewrite takes these values over, and a stale one
            // would undo what the cell has just learned.
            t.NeighbourCorrections[c][r] = correction;
            if (link) {
                const long double kN = *neighbourWeight / 100;
                auto predict = [&](int nc, int nr) {
                    if (t.Locked[CellIndex(nc, nr)]) return;
                    const long double ratio = t.WorkPointCells[nc][nr].Ratio;
                    const float now = t.WorkPointCells[nc][nr].Correction;
                    if (ratio > kNeighbourHigh || ratio < kNeighbourLow)
                        t.NeighbourCorrections[nc][nr] = LimitCorrection(
                            now, static_cast<float>(((x - 1) * kN + 1) * now), limits_);
                };
                if (r > 0) predict(c, r - 1);
                if (r < kGridSize - 1) predict(c, r + 1);
                if (c > 0) predict(c - 1, r);
                if (c < kGridSize - 1) predict(c + 1, r);
            }
        }
        if (link) {
            const int address = kCorrectionAddress + CellIndex(c, r);
            const auto b = static_cast<uint8_t>(
                platform::RoundHalfEven(static_cast<long double>(correction) * 128));
            // A cell learned from an implausible image is not sent: the
            // whole-table writes refuse that image and say so. Counted once
            // the byte is in the ECU's RAM, not when asked for. The mailbox
            // sees the image before the byte lands, so it can tell a change.
            if (t.SourceImage.Plausible()) {
                const CellWrite write = mailbox_.PostRemake(
                    {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF)}, b);
                if (write == CellWrite::Written) ++t.PRecCount;
            }
            image[address] = b;
        }
    }

    cell.SampleCount = 0;
    cell.RewriteCount += 1;
    {
        char* p = cellText_.data();
        static constexpr std::string_view kOk = "ОК";
        std::memcpy(p, kOk.data(), kOk.size());
        p += kOk.size();
        const auto count = number_.General(cell.RewriteCount, separator_);
        std::memcpy(p, count.data(), count.size());
        p += count.size();
        view_.SetGridCell(0, 0, {cellText_.data(), static_cast<size_t>(p - cellText_.data())});
    }
    if (view_.ComboBox1Index() == kChangeViewItem) ShowCell(c, r);
    t.SampleIndex = -kSettlingFrames;
    return true;
}

void TuningCore::StatusLine() {
    TuningTables& t = *tables_;
    ++t.AllCount;
    const std::string_view line =
        statusLine_.Format(t.GbcRecCount, t.PRecCount, t.AnalisCount, t.AllCount);
    if (hold_ == FilterHold::None) {
        view_.SetStatusPanel5(line);
        return;
    }
    // Why the learning waits, after the counters.
    view_.SetStatusPanel5(std::string(line) + " " + FilterHoldText(hold_, filter_.Settings()));
}

void TuningCore::Report(Setting s, Problem p, const std::string& line) {
    const uint32_t bit = 1u << (s * 2 + p);
    if (reported_ & bit) return;
    reported_ |= bit;
    if (log_) log_(line);
}

std::optional<int32_t> TuningCore::IntegerSetting(Setting s) {
    const std::string text = setting_(kKeys[s]);
    const auto v = platform::ParseInteger(text);
    if (v && *v >= INT32_MIN && *v <= INT32_MAX) return static_cast<int32_t>(*v);
    Report(s, kNotANumber,
           "Параметр «" + kKeys[s] + "»: значение «" + text + "» не является целым числом.");
    return std::nullopt;
}

std::optional<int32_t> TuningCore::ClampedSetting(Setting s, int32_t low, int32_t high) {
    const auto v = IntegerSetting(s);
    if (!v || (*v >= low && *v <= high)) return v;
    const int32_t used = std::clamp(*v, low, high);
    Report(s, kOutOfRange,
           "Параметр «" + kKeys[s] + "»: значение " + std::to_string(*v) + " вне пределов " +
               std::to_string(low) + ".." + std::to_string(high) + ", используется " +
               std::to_string(used) + ".");
    return used;
}

std::optional<double> TuningCore::DecimalSetting(Setting s, std::optional<double> whenEmpty) {
    const std::string text = setting_(kKeys[s]);
    if (text.empty() && whenEmpty) return whenEmpty;
    if (decimalValue_[s] && text == decimalText_[s]) return decimalValue_[s];
    const auto v = platform::ParseDecimal(text);
    if (!v) {
        Report(s, kNotANumber,
               "Параметр «" + kKeys[s] + "»: значение «" + text + "» не является числом.");
        return std::nullopt;
    }
    decimalText_[s] = text;
    decimalValue_[s] = v;
    return v;
}

}  // namespace korvane::tuning
