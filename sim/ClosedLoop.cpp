#include "sim/ClosedLoop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <span>

#include "firmware/FirmwareImage.h"
#include "lambda/LAMBDAThread.h"
#include "live/LiveTick.h"
#include "platform/NumberText.h"
#include "sim/Firmware.h"
#include "sim/Lc1.h"
#include "tuning/TuningCore.h"

namespace korvane::sim {

namespace {

constexpr double kLc1Period = 0.08192;  // seconds between the controller's packets

// The ECU worker's mailbox: a posted byte waits until the loop lets the
// worker write it into the engine's memory.
class EngineMailbox : public tuning::EcuMailbox {
  public:
    bool LinkUp() const override { return true; }
    // One byte at a time, as with a worker that writes it at once; while one
    // waits the next is not sent.
    tuning::CellWrite PostRemake(std::array<uint8_t, 2> adressdata, uint8_t v) override {
        if (pending) return tuning::CellWrite::Dropped;
        pending = true;
        address = static_cast<uint16_t>(adressdata[0] << 8 | adressdata[1]);
        value = v;
        return tuning::CellWrite::Written;
    }
    bool pending = false;
    uint16_t address = 0;
    uint8_t value = 0;
};

// The settings as shipped, as far as the learning step reads them.
std::map<std::string, std::string> Settings(const std::map<std::string, std::string>& over) {
    std::map<std::string, std::string> s = {
        {"Стационарность по RPM", "100"},         {"Стационарность по %", "100"},
        {"Стационарность по циклам", "4"},        {"Не настраивать ниже %", "2"},
        {"Количество циклов для обработки", "7"}, {"Весовой коэф. коррекции(%)", "70"},
        {"Коэф. обучения соседних РТ", ""},
    };
    for (const auto& [key, value] : over) s[key] = value;
    return s;
}

std::vector<double> CentreErrors(const EngineRun& engine, std::span<const uint8_t> memory) {
    std::vector<double> e(kGridSize * kGridSize);
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r)
            e[Grid::CellIndex(c, r)] = std::fabs(engine.CellMixture(c, r, memory) - 1.0);
    return e;
}

}  // namespace

ClosedLoopResult RunClosedLoop(const ClosedLoopOptions& o) {
    ClosedLoopResult result;
    const int minutes = std::max(1, o.minutes);
    const double end = 60.0 * minutes;
    const double period = 1.0 / o.framesPerSecond;

    // The ECU's memory and the program's image start as the same firmware.
    std::vector<uint8_t> memory = MakeSyntheticFirmware(o.seed);
    std::array<uint8_t, tuning::kImageSize> image{};
    std::copy(memory.begin(), memory.end(), image.begin());
    EngineRun engine(o.scenario, o.seed, o.mixture,
                     std::clamp(o.lc1DelayMs, 0, EngineRun::kMaxLc1DelayMs));
    engine.SetConditions(o.conditions);
    result.startCentreError = CentreErrors(engine, memory);
    result.convergedAfter.assign(kGridSize * kGridSize, -1);
    for (size_t k = 0; k < result.convergedAfter.size(); ++k)
        if (result.startCentreError[k] <= EngineRun::kWithin) result.convergedAfter[k] = 0;

    const auto settings = Settings(o.settings);
    tuning::UnseenTuningView view;
    EngineMailbox mailbox;
    tuning::TuningCore core(
        [&settings](const std::string& key) {
            const auto it = settings.find(key);
            return it == settings.end() ? std::string() : it->second;
        },
        [&result](const std::string& line) { result.log.push_back(line); }, view, mailbox, '.');
    const firmware::GridLabels labels =
        firmware::Namesstringgrid(std::span<const uint8_t, firmware::kImageSize>(image));
    core.addtabl(image, labels.rows, labels.cols);
    core.NewConnection();
    const auto controls = tuning::ReadControlSettings([&settings](const char* key) {
        const auto it = settings.find(key);
        return it == settings.end() ? std::string() : it->second;
    });
    if (!controls.error.empty()) result.log.push_back(controls.error);
    core.SetControls(controls.settings);
    tuning::TuningTables& tables = core.Tables();
    const auto minThrottle = settings.find("Не настраивать ниже %");
    tables.MinTuneThrottle =
        minThrottle == settings.end()
            ? 0
            : static_cast<int32_t>(std::clamp<int64_t>(
                  platform::ParseInteger(minThrottle->second).value_or(0), 0, 100));
    tables.TuningActive = true;

    live::LiveDecoder decoder;
    live::LambdaSnapshot lc{1, 0, 0, 0};  // port open, no packet yet
    uint64_t lc1Index = 0;
    double lc1Next = 0;
    int minute = 0;
    CellStatsTable atMinuteStart{};

    // Runs the engine up to `when`, with the controller's packets and the
    // minute boundaries on the way, each at its own time.
    auto advance = [&](double when) {
        for (;;) {
            const double boundary = 60.0 * (minute + 1);
            const double next = std::min(lc1Next, boundary);
            if (next > when) break;
            engine.AdvanceTo(next, memory);
            if (next == lc1Next) {
                const double lambda = Lc1Measured(engine.SensorLambda(), o.seed, lc1Index);
                const auto packet = lc1::Packet(lc1::kLambda, lc1::LambdaWord(lambda));
                const double afr = std::strtod(
                    lambda::DecodeAfr(std::span(packet).subspan(2, 4)).c_str(), nullptr);
                lc = {1, 1, afr == 0 ? 1 : 0, afr};
                lc1Next = static_cast<double>(++lc1Index) * kLc1Period;
            } else if (minute < minutes) {
                ClosedLoopMinute m;
                double total = 0, within = 0;
                const auto centre = CentreErrors(engine, memory);
                for (size_t k = 0; k < atMinuteStart.size(); ++k) {
                    const CellStats& now = engine.Stats()[k];
                    total += now.seconds - atMinuteStart[k].seconds;
                    within += now.withinSeconds - atMinuteStart[k].withinSeconds;
                    if (now.seconds >= kLongVisitSeconds) {
                        ++m.longCells;
                        m.longCellsWithin += centre[k] <= EngineRun::kWithin;
                    }
                }
                m.withinShare = total > 0 ? within / total : 0;
                m.seconds = total;
                m.withinSeconds = within;
                result.minutes.push_back(m);
                atMinuteStart = engine.Stats();
                ++minute;
            } else {
                break;
            }
        }
        engine.AdvanceTo(when, memory);
    };

    std::mt19937_64 line(0x5EEDULL ^ o.seed);
    std::uniform_real_distribution<double> roll(0.0, 1.0);
    // One exchange over the line: false when its answer was lost or spoiled.
    auto answered = [&] {
        const bool lost = o.silence > 0 && roll(line) < o.silence;
        const bool spoiled = o.noChecksum > 0 && roll(line) < o.noChecksum;
        return !lost && !spoiled;
    };
    struct Kept {
        uint16_t address;
        uint8_t value;
    };
    std::vector<Kept> kept;  // writes that failed three times

    int32_t numlog = 0;
    for (double t = 0; t < end;) {
        advance(t);
        const bool polled = answered();
        ++numlog;
        if (polled) {
            const auto frame = engine.FrameAt(t, memory);
            decoder.Tick(frame, numlog, live::OxygenSensor::Lc1, lc);
            const int samplesBefore = tables.AnalisCount;
            core.calculations(decoder.Values(), decoder.NarrowBandMode, image, true, t);
            if (tables.AnalisCount != samplesBefore) {
                const live::LiveValues& v = decoder.Values();
                const double table = engine.MixtureOf(engine.StateAt(t), memory);
                if (std::fabs(v.AfrLc1 / v.Afr / table - 1) > EngineRun::kWithin)
                    ++result.spoiledSamples;
            }
            ++result.frames;
        } else {
            ++result.pollsLost;
        }
        t += period;
        // After a good poll the kept writes go out again, each a try in
        // place of a poll; a newer value for the same cell replaced it.
        if (polled && !kept.empty()) {
            std::vector<Kept> still;
            for (const Kept& w : kept) {
                advance(t);
                t += period;
                if (answered())
                    memory[w.address] = w.value;
                else
                    still.push_back(w);
            }
            kept = std::move(still);
        }
        if (mailbox.pending) {
            // The worker writes the byte instead of its next poll, and
            // repeats it while no confirmation comes.
            advance(t);
            bool done = false;
            for (int attempt = 0; attempt < 3 && !done; ++attempt) {
                if (attempt > 0) {
                    ++result.writeRepeats;
                    t += period;
                    advance(t);
                }
                done = answered();
            }
            std::erase_if(kept, [&](const Kept& w) { return w.address == mailbox.address; });
            if (done) {
                memory[mailbox.address] = mailbox.value;
            } else {
                kept.push_back({mailbox.address, mailbox.value});
                ++result.writesKept;
            }
            mailbox.pending = false;
            ++result.remakes;
            const int k = mailbox.address - kCorrectionTable;
            if (k >= 0 && k < kGridSize * kGridSize) {
                const double error =
                    std::fabs(engine.CellMixture(k / kGridSize, k % kGridSize, memory) - 1);
                if (error > EngineRun::kWithin)
                    result.convergedAfter[k] = -1;
                else if (result.convergedAfter[k] < 0)
                    result.convergedAfter[k] = engine.Stats()[k].seconds;
            }
            t += period;
        }
    }
    advance(end);

    result.samples = tables.AnalisCount;
    result.processings = tables.PRecCount;
    result.stats = engine.Stats();
    result.endCentreError = CentreErrors(engine, memory);
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r)
            result.processed.push_back(static_cast<int>(tables.WorkPointCells[c][r].RewriteCount));
    std::vector<double> longErrors;
    for (size_t k = 0; k < result.stats.size(); ++k) {
        if (result.stats[k].seconds > 0) ++result.cellsVisited;
        if (result.stats[k].seconds < kLongVisitSeconds) continue;
        longErrors.push_back(result.endCentreError[k]);
        if (result.processed[k] > 0)
            result.worstLearnedLongCellError =
                std::max(result.worstLearnedLongCellError, result.endCentreError[k]);
    }
    result.longCells = static_cast<int>(longErrors.size());
    if (!longErrors.empty()) {
        std::sort(longErrors.begin(), longErrors.end());
        const size_t n = longErrors.size();
        result.medianLongCellError =
            n % 2 ? longErrors[n / 2] : (longErrors[n / 2 - 1] + longErrors[n / 2]) / 2;
        result.worstLongCellError = longErrors.back();
    }
    if (!result.minutes.empty()) {
        result.withinShareFirst = result.minutes.front().withinShare;
        result.withinShareLast = result.minutes.back().withinShare;
        double seconds = 0, within = 0;
        for (size_t i = result.minutes.size() - std::min<size_t>(5, result.minutes.size());
             i < result.minutes.size(); ++i) {
            seconds += result.minutes[i].seconds;
            within += result.minutes[i].withinSeconds;
        }
        result.withinShareLastFive = seconds > 0 ? within / seconds : 0;
    }
    result.memory = std::move(memory);
    result.image.assign(image.begin(), image.end());
    return result;
}

}  // namespace korvane::sim
