// A short closed-loop tuning run: the program's tuning core on the simulated
// engine for a few minutes of driving. The cells it dwells in long enough to
// be processed a few times must end up at lambda 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "sim/ClosedLoop.h"
#include "sim/Firmware.h"

namespace korvane::sim::test {
namespace {

struct Case {
    const char* name;
    Mixture mixture;
    int lc1DelayMs;
    uint32_t seed;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ClosedLoop : public testing::TestWithParam<Case> {};

std::string CellTable(const ClosedLoopResult& r) {
    std::string s = "  rpm thr %  time s  start %   end %  processed\n";
    char line[96];
    for (int k = 0; k < kGridSize * kGridSize; ++k) {
        if (r.stats[k].seconds <= 0) continue;
        std::snprintf(line, sizeof line, "%5d %5d %7.1f %8.2f %7.2f %10d\n",
                      Grid::RpmLabels()[k % kGridSize], Grid::ThrottleLabels()[k / kGridSize],
                      r.stats[k].seconds, 100 * r.startCentreError[k], 100 * r.endCentreError[k],
                      r.processed[k]);
        s += line;
    }
    return s;
}

TEST_P(ClosedLoop, DwelledCellsReachLambdaOne) {
    const Case& c = GetParam();
    ClosedLoopOptions o;
    o.minutes = 3;
    o.seed = c.seed;
    o.mixture = c.mixture;
    o.lc1DelayMs = c.lc1DelayMs;
    const ClosedLoopResult r = RunClosedLoop(o);
    SCOPED_TRACE(CellTable(r));

    EXPECT_TRUE(r.log.empty()) << r.log.front();  // the shipped settings convert
    ASSERT_GT(r.remakes, 10);
    int dwelled = 0;
    for (int k = 0; k < kGridSize * kGridSize; ++k) {
        const uint16_t at = static_cast<uint16_t>(kCorrectionTable + k);
        // The program's image and the ECU agree on every correction byte,
        // and a cell the tuning never processed is left as it was.
        EXPECT_EQ(r.image[at], r.memory[at]) << "cell " << k;
        if (r.processed[k] == 0) {
            EXPECT_EQ(r.memory[at], 128) << "cell " << k;
        }
        if (r.processed[k] >= 3) {
            ++dwelled;
            EXPECT_LE(r.endCentreError[k], EngineRun::kWithin) << "cell " << k;
        }
    }
    EXPECT_GE(dwelled, 2);
    EXPECT_GT(r.withinShareLast, r.withinShareFirst + 0.2);
}

// A cold start with acceleration enrichment: the filters keep most of the
// samples the enrichments and the sensor's delay spoil out of the tables,
// and the cells the tuning dwells in still end at lambda 1.
TEST(ClosedLoopFilters, KeepSpoiledSamplesOutOfAColdStartWithTransients) {
    auto run = [](bool filters) {
        ClosedLoopOptions o;
        o.minutes = 20;
        o.seed = 1;
        o.lc1DelayMs = 250;
        o.conditions = {true, true};
        o.settings["Макс. шаг поправки %"] = "10";
        o.settings["Пределы поправки"] = "0.7 1.3";
        if (filters) {
            o.settings["Мин. ТОЖ для обучения"] = "60";
            o.settings["Макс. скорость дросселя %/с"] = "20";
            o.settings["Макс. скорость оборотов об/с"] = "1000";
        }
        return RunClosedLoop(o);
    };
    const ClosedLoopResult on = run(true), off = run(false);
    ASSERT_GT(on.samples, 500);
    ASSERT_GT(off.samples, 500);
    EXPECT_TRUE(on.log.empty()) << on.log.front();
    const double spoiledOn = static_cast<double>(on.spoiledSamples) / on.samples;
    const double spoiledOff = static_cast<double>(off.spoiledSamples) / off.samples;
    EXPECT_LT(spoiledOn, 0.6 * spoiledOff) << spoiledOn << " vs " << spoiledOff;
    // Among the cells both runs processed several times, the filtered run
    // ends as close to lambda 1 as the unfiltered one (its learning only
    // starts once the engine is warm).
    SCOPED_TRACE(CellTable(on));
    std::vector<double> endOn, endOff;
    for (int k = 0; k < kGridSize * kGridSize; ++k)
        if (on.processed[k] >= 4 && off.processed[k] >= 4) {
            endOn.push_back(on.endCentreError[k]);
            endOff.push_back(off.endCentreError[k]);
        }
    ASSERT_GE(endOn.size(), 3u);
    std::sort(endOn.begin(), endOn.end());
    std::sort(endOff.begin(), endOff.end());
    const size_t mid = endOn.size() / 2;
    EXPECT_LE(endOn[mid], EngineRun::kWithin);
    EXPECT_LE(endOn[mid], endOff[mid] + 0.005) << endOn[mid] << " vs " << endOff[mid];
}

// The program reads the same grid from the synthetic image as the engine
// runs on, so a cell the tuning learns is the cell the engine was in.
TEST(ClosedLoopGrid, ProgramLabelsAreTheEnginesGrid) {
    const auto image = MakeSyntheticFirmware(1);
    const firmware::GridLabels labels =
        firmware::Namesstringgrid(std::span<const uint8_t, firmware::kImageSize>(image));
    for (int i = 0; i < kGridSize; ++i) {
        EXPECT_EQ(labels.rows[i], Grid::RpmLabels()[i]) << "row " << i;
        EXPECT_EQ(labels.cols[i], Grid::ThrottleLabels()[i]) << "column " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drive, ClosedLoop,
    testing::Values(Case{"PerCellNoDelay", Mixture::PerCell, 0, 1},
                    Case{"InterpolatedNoDelay", Mixture::Interpolated, 0, 2},
                    Case{"InterpolatedDelay250", Mixture::Interpolated, 250, 2}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvane::sim::test
