#include "sim/EngineModel.h"

#include <algorithm>
#include <cmath>

namespace korvane::sim {

namespace {

constexpr std::array<int, kGridSize> kRpmLabels = {600,  720,  840,  1000, 1200, 1400, 1600, 1840,
                                                   2080, 2400, 2800, 3200, 3600, 4200, 5000, 8000};
constexpr std::array<int, kGridSize> kThrottleLabels = {0,  3,  6,  9,  12, 16, 20, 25,
                                                        30, 36, 42, 50, 60, 70, 85, 100};
constexpr double kPi = 3.14159265358979323846;

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double Uniform(uint64_t& state) {
    return static_cast<double>(SplitMix(state) >> 11) * 0x1.0p-53;
}

uint8_t ClampByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

void PutWord(std::array<uint8_t, 51>& f, int at, double v) {
    const long w = std::clamp(std::lround(v), 0L, 65535L);
    f[at] = static_cast<uint8_t>(w & 0xFF);
    f[at + 1] = static_cast<uint8_t>(w >> 8);
}

}  // namespace

const std::array<int, kGridSize>& Grid::RpmLabels() {
    return kRpmLabels;
}
const std::array<int, kGridSize>& Grid::ThrottleLabels() {
    return kThrottleLabels;
}

double Grid::RowLow(int row) {
    return row == 0 ? -1.0 : (kRpmLabels[row - 1] + kRpmLabels[row]) / 2.0;
}
double Grid::RowHigh(int row) {
    return row == kGridSize - 1 ? 10200.0 : RowLow(row + 1);
}
double Grid::ColumnLow(int column) {
    return column == 0 ? -1.0 : (kThrottleLabels[column - 1] + kThrottleLabels[column]) / 2.0;
}
double Grid::ColumnHigh(int column) {
    return column == kGridSize - 1 ? 101.0 : ColumnLow(column + 1);
}

int Grid::RowOf(double rpm) {
    for (int r = 0; r < kGridSize; ++r)
        if (RowLow(r) < rpm && rpm <= RowHigh(r)) return r;
    return -1;
}

int Grid::ColumnOf(double throttle) {
    for (int c = 0; c < kGridSize; ++c)
        if (ColumnLow(c) < throttle && throttle <= ColumnHigh(c)) return c;
    return -1;
}

double AirChargeAt(int column, int row) {
    const double t = kThrottleLabels[column];
    const double rpm = std::min(kRpmLabels[row], 6000);
    return 85.0 + 395.0 * (1.0 - std::exp(-t / 25.0)) * (0.8 + 0.2 * std::sin(kPi * rpm / 6000.0));
}

double IgnitionAt(int column, int row) {
    const double rpmN = std::clamp((kRpmLabels[row] - 600.0) / 3600.0, 0.0, 1.0);
    const double loadN = (AirChargeAt(column, row) - 85.0) / 395.0;
    return std::clamp(10.0 + 26.0 * rpmN - 10.0 * loadN, 4.0, 40.0);
}

FuelErrorField::FuelErrorField(uint32_t seed) {
    uint64_t state = 0x51A7F00DULL ^ (static_cast<uint64_t>(seed) << 20);
    struct Wave {
        double a, w, v, p;
    };
    std::array<Wave, 4> waves{};
    for (auto& wave : waves) {
        wave.a = 0.3 + 0.7 * Uniform(state);
        wave.w = 0.5 + 3.0 * Uniform(state);
        wave.v = 0.5 + 3.0 * Uniform(state);
        wave.p = 2 * kPi * Uniform(state);
    }
    std::array<double, kGridSize * kGridSize> raw{};
    double peak = 0;
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) {
            const double x = c / 15.0, y = r / 15.0;
            double s = 0;
            for (const auto& wave : waves)
                s += wave.a * std::sin(wave.w * x * kPi + wave.v * y * kPi + wave.p);
            raw[Grid::CellIndex(c, r)] = s;
            peak = std::max(peak, std::fabs(s));
        }
    for (size_t k = 0; k < raw.size(); ++k) f_[k] = 1.0 + 0.15 * (peak > 0 ? raw[k] / peak : 0.0);
}

bool ParseMixture(const std::string& text, Mixture& out) {
    if (text == "interpolated")
        out = Mixture::Interpolated;
    else if (text == "cell")
        out = Mixture::PerCell;
    else
        return false;
    return true;
}

GridPosition EcuGridPosition(std::span<const uint8_t> memory, int rpmByte, int throttle) {
    constexpr int kLast = (kGridSize - 1) * 16;
    GridPosition p;
    // The throttle map has an entry per % up to 100; the speed map one per
    // 40 rpm, the whole byte range. A foreign image may hold anything there.
    p.row16 = std::min<int>(memory[kRpmGridMap + std::clamp(rpmByte, 0, 255)], kLast);
    p.column16 = std::min<int>(memory[kThrottleGridMap + std::clamp(throttle, 0, 100)], kLast);
    return p;
}

namespace {

// Bilinear between the four centres around a grid position.
template <typename At>
double Interpolate(const GridPosition& p, At at) {
    const int c0 = p.column16 >> 4, r0 = p.row16 >> 4;
    const int c1 = std::min(c0 + 1, kGridSize - 1), r1 = std::min(r0 + 1, kGridSize - 1);
    const double fc = (p.column16 & 15) / 16.0, fr = (p.row16 & 15) / 16.0;
    const double low = at(c0, r0) * (1 - fc) + at(c1, r0) * fc;
    const double high = at(c0, r1) * (1 - fc) + at(c1, r1) * fc;
    return low * (1 - fr) + high * fr;
}

// Raw correction byte of a cell; 0 would be no fuel at all, so at least 1.
double CorrectionOf(std::span<const uint8_t> memory, int column, int row) {
    return std::max<int>(1, memory[kCorrectionTable + Grid::CellIndex(column, row)]) / 128.0;
}

}  // namespace

double MixtureAt(const EngineState& s, const FuelErrorField& fuel, std::span<const uint8_t> memory,
                 Mixture mixture) {
    if (mixture == Mixture::PerCell) return CellCentreMixture(s.column, s.row, fuel, memory);
    const GridPosition p = EcuGridPosition(memory, s.rpmByte, s.throttle);
    const double f = Interpolate(p, [&](int c, int r) { return fuel.At(c, r); });
    const double correction =
        Interpolate(p, [&](int c, int r) { return CorrectionOf(memory, c, r); });
    return f / correction;
}

double CellCentreMixture(int column, int row, const FuelErrorField& fuel,
                         std::span<const uint8_t> memory) {
    if (column < 0 || column >= kGridSize || row < 0 || row >= kGridSize) return 0;
    return fuel.At(column, row) / CorrectionOf(memory, column, row);
}

bool ParseScenario(const std::string& text, Scenario& out) {
    if (text == "idle")
        out = Scenario::Idle;
    else if (text == "sweep")
        out = Scenario::Sweep;
    else if (text == "drive")
        out = Scenario::Drive;
    else
        return false;
    return true;
}

double Noise(uint32_t seed, uint32_t channel, uint64_t step) {
    uint64_t state =
        (static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(channel) << 56) ^ step;
    SplitMix(state);
    return 2.0 * Uniform(state) - 1.0;
}

namespace {
constexpr int kIdleColumn = 0;
constexpr int kIdleRow = 2;
constexpr double kRampSeconds = 0.4;  // time to move from one cell to the next
constexpr double kNoiseStep = 0.15;   // the noise changes this often
}  // namespace

EngineModel::EngineModel(Scenario scenario, uint32_t seed) : seed_(seed) {
    double t = 0;
    auto add = [&](int c, int r, double dwell) {
        segments_.push_back({c, r, t, dwell});
        t += dwell;
    };
    switch (scenario) {
        case Scenario::Idle:
            add(kIdleColumn, kIdleRow, 1e12);
            break;
        case Scenario::Sweep:
            for (int r = 0; r < kGridSize; ++r)
                for (int i = 0; i < kGridSize; ++i) add(r % 2 == 0 ? i : kGridSize - 1 - i, r, 3.0);
            break;
        case Scenario::Drive: {
            uint64_t state = 0xD21BE5ULL ^ (static_cast<uint64_t>(seed) << 24);
            int c = kIdleColumn, r = kIdleRow;
            add(c, r, 4.0);
            for (int i = 0; i < 2000; ++i) {
                if (Uniform(state) < 0.08) {
                    c = kIdleColumn;
                    r = kIdleRow;
                } else {
                    // Mostly small steps, a little more often up than down,
                    // staying below the top speed bands in everyday driving.
                    c = std::clamp(c + static_cast<int>(std::floor(Uniform(state) * 4.0)) - 1, 0,
                                   14);
                    r = std::clamp(r + static_cast<int>(std::floor(Uniform(state) * 5.0)) - 2, 1,
                                   13);
                }
                add(c, r, 2.5 + 3.5 * Uniform(state));
            }
            break;
        }
    }
    total_ = t;
}

EngineState EngineModel::Place(int column, int row, double seconds, double fromRpm,
                               double fromThrottle, double blend) const {
    const double centreRpm = kRpmLabels[row];
    const double centreThrottle = kThrottleLabels[column];
    EngineState s;
    s.seconds = seconds;
    if (blend < 1.0) {
        s.rpmByte = static_cast<int>(std::lround((fromRpm + (centreRpm - fromRpm) * blend) / 40.0));
        s.throttle =
            static_cast<int>(std::lround(fromThrottle + (centreThrottle - fromThrottle) * blend));
    } else {
        // Noise that never leaves the cell: the largest step either way
        // whose value still lies inside the band.
        const uint64_t step = static_cast<uint64_t>(seconds / kNoiseStep);
        const int rpmByte = static_cast<int>(centreRpm / 40.0);
        int up = 0, down = 0;
        while (up < 2 && (rpmByte + up + 1) * 40.0 <= Grid::RowHigh(row)) ++up;
        while (down < 2 && (rpmByte - down - 1) * 40.0 > Grid::RowLow(row)) ++down;
        const double n1 = Noise(seed_, 1, step);
        s.rpmByte = rpmByte + static_cast<int>(std::lround(n1 >= 0 ? n1 * up : n1 * down));
        const int throttle = static_cast<int>(centreThrottle);
        // A closed throttle stays closed.
        const int tUp =
            (throttle > 0 && throttle + 1 <= Grid::ColumnHigh(column) && throttle < 100) ? 1 : 0;
        const int tDown = (throttle - 1 > Grid::ColumnLow(column) && throttle > 0) ? 1 : 0;
        const double n2 = Noise(seed_, 2, step);
        s.throttle = throttle + static_cast<int>(std::lround(n2 >= 0 ? n2 * tUp : n2 * tDown));
    }
    s.rpmByte = std::clamp(s.rpmByte, 0, 255);
    s.throttle = std::clamp(s.throttle, 0, 100);
    s.row = std::max(0, Grid::RowOf(s.Rpm()));
    s.column = std::max(0, Grid::ColumnOf(s.throttle));
    return s;
}

EngineState EngineModel::HeldAt(int column, int row, double seconds) const {
    return Place(column, row, seconds, 0, 0, 1.0);
}

EngineState EngineModel::At(double seconds) const {
    if (seconds < 0) seconds = 0;
    const double t = total_ > 0 ? std::fmod(seconds, total_) : 0;
    auto it = std::upper_bound(segments_.begin(), segments_.end(), t,
                               [](double v, const Segment& s) { return v < s.start; });
    const size_t i = it == segments_.begin() ? 0 : static_cast<size_t>(it - segments_.begin()) - 1;
    const Segment& seg = segments_[i];
    const Segment& prev = segments_[i == 0 ? segments_.size() - 1 : i - 1];
    const double into = t - seg.start;
    const double blend = (i == 0 && seconds < total_) || segments_.size() == 1
                             ? 1.0
                             : std::min(1.0, into / kRampSeconds);
    return Place(seg.column, seg.row, seconds, kRpmLabels[prev.row], kThrottleLabels[prev.column],
                 blend);
}

double CoolantAt(double seconds, bool coldStart) {
    const double t = std::max(0.0, seconds);
    if (coldStart) return 20.0 + 70.0 * (1.0 - std::exp(-t / 150.0));
    return 85.0 + 5.0 * (1.0 - std::exp(-t / 90.0));
}

double WarmUpEnrichment(double coolant) {
    return 1.0 - 0.2 * std::clamp((65.0 - coolant) / 45.0, 0.0, 1.0);
}

std::array<uint8_t, 51> BuildDiagnosticFrame(const EngineState& s, const FrameInputs& in,
                                             uint32_t seed) {
    std::array<uint8_t, 51> f{};
    const uint64_t step = static_cast<uint64_t>(s.seconds / kNoiseStep);
    const double rpm = std::max(1.0, s.Rpm());
    const double air = AirChargeAt(s.column, s.row) * (1.0 + 0.01 * Noise(seed, 3, step));
    const double coolant = CoolantAt(s.seconds, in.coldStart);
    const double correction = in.correctionRaw / 128.0;

    // Work point by engine speed: the speed grid map's entry.
    const double rpmPos = [&] {
        const auto& L = kRpmLabels;
        if (rpm <= L[0]) return 0.0;
        for (int r = 1; r < kGridSize; ++r)
            if (rpm <= L[r]) return (r - 1) + (rpm - L[r - 1]) / (L[r] - L[r - 1]);
        return 15.0;
    }();
    f[7] = ClampByte(std::floor(rpmPos * 16.0));
    f[8] = ClampByte(coolant + 40.0);
    f[9] = ClampByte(in.afrEcu * 256.0 / kStoichAfr - 128.0);
    f[11] = static_cast<uint8_t>(s.throttle);
    f[12] = static_cast<uint8_t>(s.rpmByte);
    f[13] = 21;  // idle speed 840
    PutWord(f, 14, 15e6 / rpm);
    const bool idle = s.throttle == 0;
    f[16] = ClampByte(idle ? 32 : 20 + s.throttle / 2.0);
    f[17] = ClampByte(f[16] + std::lround(2 * Noise(seed, 4, step)));
    // A narrow-band closed loop settles on the factor that brings the
    // mixture to stoichiometric, dithering by a step around it.
    f[18] = ClampByte(in.lambda * 256.0 - 128.0 + std::lround(Noise(seed, 5, step)));
    f[19] = 100;
    f[20] = in.ignitionRaw;
    f[25] = ClampByte(20 + s.rpmByte / 8.0 + 3 * Noise(seed, 6, step));
    const double maf = air * rpm * 1.2e-4;  // kg/h, four cylinders
    f[26] = ClampByte(20 + maf * 0.5);
    f[27] = ClampByte(178 + Noise(seed, 7, step));  // 14.1 V
    f[28] = 128;
    f[29] = ClampByte(25 + s.throttle * 2.0);
    f[30] = ClampByte(230 - coolant * 1.5);
    f[31] = 150;
    f[32] = 10;
    f[35] = ClampByte(s.rpmByte > 25 && !idle ? rpm / 40.0 : 0);
    f[36] = 85;
    f[37] = 25 + 40;
    f[38] = ClampByte((in.lambda < 1.0 ? 160 : 30) + 5 * Noise(seed, 8, step));
    PutWord(f, 39, 256);
    PutWord(f, 41, 256);
    const double pulseMs = 0.9 + air / kStoichAfr * correction / 2.6;
    PutWord(f, 43, pulseMs * 125.0);
    PutWord(f, 45, maf * 10.0);
    PutWord(f, 47, air * 6.0);
    PutWord(f, 49, maf / (kStoichAfr * in.lambda) / 0.74 * 50.0);
    return f;
}

}  // namespace korvane::sim
