// The table fill, the band limits, the cell search and the tracking of the
// work point from frame to frame.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <ostream>

#include "TuningTestSupport.h"

namespace korvane::tuning::test {
namespace {

using WorkPoint = TuningFixture;

TEST_F(WorkPoint, TableFillTakesTheImageBytesAndStartsEveryCellAfresh) {
    // Distinct bytes per cell so a wrong index or order shows.
    for (int k = 0; k < kCellCount; ++k) {
        imageBytes[kCorrectionAddress + k] = static_cast<uint8_t>(k);
        imageBytes[kBcnAddress + k] = static_cast<uint8_t>(255 - k);
        imageBytes[kIgnitionAddress + k] = static_cast<uint8_t>(k * 7);
    }
    t.WorkPointCells[3][4] = {5, 1.5f, 1.02f, 6, {}};
    t.CurrentCell = {5, 4};
    t.StableCycles = 9;
    t.SampleIndex = -3;
    core.addtabl(Image(), kRowLabels, kColumnLabels);

    for (int c = 0; c < kGridSize; ++c) {
        for (int r = 0; r < kGridSize; ++r) {
            const int k = c * 16 + r;
            const WorkPointCell& cell = t.WorkPointCells[c][r];
            EXPECT_EQ(cell.Correction, k / 128.0f) << k;
            EXPECT_EQ(t.NeighbourCorrections[c][r], cell.Correction) << k;
            EXPECT_EQ(t.BcnTable[c][r].Current, static_cast<float>((255 - k) * 8.0L / 3)) << k;
            EXPECT_EQ(t.BcnTable[c][r].Learned, t.BcnTable[c][r].Current) << k;
            EXPECT_EQ(t.IgnitionTable[c][r], static_cast<uint8_t>(k * 7) / 2.0f) << k;
            EXPECT_EQ(cell.Ratio, 3.0f);
            EXPECT_EQ(cell.RewriteCount, 0);
            EXPECT_EQ(cell.SampleCount, 0);
        }
    }
    // Examples: BCN byte 45 reads 120, a correction byte of 128 reads 1.
    imageBytes[kBcnAddress] = 45;
    imageBytes[kCorrectionAddress] = 128;
    core.addtabl(Image(), kRowLabels, kColumnLabels);
    EXPECT_EQ(t.BcnTable[0][0].Current, 120.0f);
    EXPECT_EQ(t.WorkPointCells[0][0].Correction, 1.0f);
    // The tracking is not the table fill's.
    EXPECT_EQ(t.CurrentCell, (GridCell{5, 4}));
    EXPECT_EQ(t.StableCycles, 9);
    EXPECT_EQ(t.SampleIndex, -3);
    EXPECT_EQ(view.firstViewSelections, 2);
}

TEST_F(WorkPoint, BandLimitsAreTheMidpointsBetweenMinusOneAndTheOuterLimits) {
    core.SetGridLabels(kRowLabels, kColumnLabels);
    EXPECT_EQ(core.RowBounds()[0], -1.0f);
    EXPECT_EQ(core.RowBounds()[1], 630.0f);
    EXPECT_EQ(core.RowBounds()[15], 4905.0f);
    EXPECT_EQ(core.RowBounds()[16], 10200.0f);
    EXPECT_EQ(core.ColBounds()[0], -1.0f);
    EXPECT_EQ(core.ColBounds()[1], 3.5f);
    EXPECT_EQ(core.ColBounds()[15], 96.5f);
    EXPECT_EQ(core.ColBounds()[16], 101.0f);
}

struct BandCase {
    const char* name;
    double rpm, throttle;
    const char* rpmPercent;
    const char* throttlePercent;
    std::optional<std::pair<int, int>> cell;  // (c, r), or no hit
};
void PrintTo(const BandCase& c, std::ostream* os) {
    *os << c.name;
}

class BandEdges : public TuningFixture, public ::testing::WithParamInterface<BandCase> {};

TEST_P(BandEdges, FindTheCellOrNone) {
    const BandCase& p = GetParam();
    core.SetGridLabels(kRowLabels, kColumnLabels);
    settings["Стационарность по RPM"] = p.rpmPercent;
    settings["Стационарность по %"] = p.throttlePercent;
    Frame(p.rpm, p.throttle);
    if (p.cell) {
        EXPECT_EQ(t.StationaryHitCount, 1);
        EXPECT_EQ(view.current, std::make_pair(p.cell->first + 1, p.cell->second + 1));
        EXPECT_EQ(view.grafxxCalls, 1);
    } else {
        EXPECT_EQ(t.StationaryHitCount, 0);
        EXPECT_EQ(view.current, std::make_pair(-1, -1));
        EXPECT_EQ(view.grafxxCalls, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tuning, BandEdges,
    ::testing::Values(
        BandCase{"MidpointRpmIsLowerRow", 630, 20, "100", "100", std::pair{3, 0}},
        BandCase{"JustAboveMidpointIsUpperRow", 630.001, 20, "100", "100", std::pair{3, 1}},
        BandCase{"MidpointThrottleIsLowerColumn", 1050, 3.5, "100", "100", std::pair{0, 4}},
        BandCase{"MinusOneIsOutside", -1, 20, "100", "100", std::nullopt},
        BandCase{"ZeroRpmIsRowZero", 0, 0, "100", "100", std::pair{0, 0}},
        BandCase{"TopRpm10200", 10200, 20, "100", "100", std::pair{3, 15}},
        BandCase{"AboveTopRpm", 10200.5, 20, "100", "100", std::nullopt},
        BandCase{"TopThrottle101", 1050, 101, "100", "100", std::pair{15, 4}},
        BandCase{"AboveTopThrottle", 1050, 101.5, "100", "100", std::nullopt},
        // S = 50: row 1 spans 630..750, its central half 660..720.
        BandCase{"HalfBandLowerEdgeOut", 660, 7, "50", "100", std::nullopt},
        BandCase{"HalfBandLowerEdgeIn", 660.01, 7, "50", "100", std::pair{1, 1}},
        BandCase{"HalfBandUpperEdgeIn", 720, 7, "50", "100", std::pair{1, 1}},
        BandCase{"HalfBandUpperEdgeOut", 720.01, 7, "50", "100", std::nullopt},
        BandCase{"HalfThrottleBandOut", 690, 9, "100", "50", std::nullopt},
        BandCase{"HalfThrottleBandIn", 690, 8, "100", "50", std::pair{1, 1}},
        BandCase{"ZeroAcceptsNothing", 690, 7, "0", "100", std::nullopt},
        BandCase{"ZeroThrottleAcceptsNothing", 690, 7, "100", "0", std::nullopt},
        // Held within 0..100: wider would put one frame into two cells,
        // negative outside the grid.
        BandCase{"AboveHundredActsAsHundred", 630, 3.5, "150", "250", std::pair{0, 0}},
        BandCase{"NegativeActsAsZero", 690, 7, "-20", "100", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WorkPoint, WithDefaultsEveryWorkPointFallsIntoExactlyOneCell) {
    core.SetGridLabels(kRowLabels, kColumnLabels);
    int frames = 0;
    for (double rpm = -0.5; rpm <= 10200; rpm += 7.25) {
        for (double throttle = -0.75; throttle <= 101; throttle += 0.5) {
            const int before = t.StationaryHitCount;
            Frame(rpm, throttle);
            ASSERT_EQ(t.StationaryHitCount, before + 1) << rpm << " " << throttle;
            ++frames;
        }
    }
    EXPECT_EQ(view.grafxxCalls, frames);
}

TEST_F(WorkPoint, OutOfRangeStationaritySettingsAreHeldAndLoggedOncePerConnection) {
    core.SetGridLabels(kRowLabels, kColumnLabels);
    settings["Стационарность по RPM"] = "150";
    Frame(1050, 20);
    Frame(1050, 20);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0],
              "Параметр «Стационарность по RPM»: значение 150 вне пределов 0..100, "
              "используется 100.");
    core.NewConnection();
    Frame(1050, 20);
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(t.StationaryHitCount, 3);
}

// Tracking and stationarity while tuning.
class Tracking : public TuningFixture {
  protected:
    void SetUp() override {
        FillTables();
        StartTuning();
    }
};

TEST_F(Tracking, TheSixthFrameInACellIsTheFirstStationaryOne) {
    for (int frame = 1; frame <= 5; ++frame) {
        FrameInCell(3, 4);
        EXPECT_EQ(t.AnalisCount, 0) << frame;
        EXPECT_EQ(t.StableCycles, frame - 1);
    }
    EXPECT_EQ(t.CurrentCell, (GridCell{5, 4}));
    EXPECT_EQ(view.Cell(0, 0), "");  // cleared by the frames not yet stationary
    FrameInCell(3, 4);
    EXPECT_EQ(t.AnalisCount, 1);
    EXPECT_EQ(t.SampleIndex, 1);
    EXPECT_EQ(t.AllCount, 6);
    // Tuning frames do not update the trend.
    EXPECT_EQ(view.grafxxCalls, 0);
}

TEST_F(Tracking, GapsBetweenNarrowedBandsAndFramesOutsideTheGridKeepTheCount) {
    settings["Стационарность по RPM"] = "50";
    FrameInCell(3, 4, 1.0, 100, 3);  // StableCycles 2
    const int hits = t.StationaryHitCount;
    Frame(1000, 20);   // between rows 3 and 4, outside both central halves
    Frame(10300, 20);  // above the grid
    EXPECT_EQ(t.StationaryHitCount, hits);
    EXPECT_EQ(t.AllCount, 3);
    FrameInCell(3, 4);
    EXPECT_EQ(t.StableCycles, 3);
}

TEST_F(Tracking, FramesBelowTheThrottleFloorOnlyCountSteps) {
    StartTuning(25);
    FrameInCell(3, 4, 1.0, 100, 8);  // throttle 20 < 25
    EXPECT_EQ(t.CurrentCell, (GridCell{0, 0}));
    EXPECT_EQ(t.AllCount, 8);
    EXPECT_EQ(t.AnalisCount, 0);
    EXPECT_EQ(t.StationaryHitCount, 8);
    EXPECT_EQ(view.status, "GBCRec//PRec/Analis//All:0//0/0//8");
}

TEST_F(Tracking, StoppingAndStartingContinuesTheCellsCount) {
    FrameInCell(3, 4, 1.0, 100, 3);
    t.TuningActive = false;
    FrameInCell(3, 4, 1.0, 100, 4);
    FrameInCell(5, 6, 1.0, 100, 2);  // elsewhere while stopped: not tracked
    EXPECT_EQ(view.grafxxCalls, 6);
    EXPECT_EQ(t.StableCycles, 2);
    EXPECT_EQ(t.AllCount, 3);
    t.TuningActive = true;
    FrameInCell(3, 4, 1.0, 100, 2);  // 4th and 5th frame of the cell
    EXPECT_EQ(t.AnalisCount, 0);
    FrameInCell(3, 4);
    EXPECT_EQ(t.AnalisCount, 1);
}

TEST_F(Tracking, AnotherModeOfRadioGroupOnlyShowsTheWorkPoint) {
    view.radio = 1;
    FrameInCell(3, 4, 1.0, 100, 10);
    EXPECT_EQ(t.CurrentCell, (GridCell{0, 0}));
    EXPECT_EQ(t.AllCount, 0);
    EXPECT_EQ(view.grafxxCalls, 10);
    EXPECT_EQ(view.current, std::make_pair(4, 5));
}

TEST_F(Tracking, EnteringAnotherCellRestartsTheCountAndEndsSettling) {
    Settle(3, 4);
    FrameInCell(3, 4, 1.05, 100, 8);  // processed
    EXPECT_EQ(t.SampleIndex, -8);
    FrameInCell(3, 5);
    EXPECT_EQ(t.CurrentCell, (GridCell{6, 4}));
    EXPECT_EQ(t.StableCycles, 0);
    EXPECT_EQ(t.SampleIndex, 0);
}

}  // namespace
}  // namespace korvane::tuning::test
