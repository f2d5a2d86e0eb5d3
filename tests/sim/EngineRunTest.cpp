// The running engine: the mixture as the ECU's table interpolation makes it,
// the LC-1 sensor trailing the mixture, and the time kept per visited cell.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sim/EngineRun.h"
#include "sim/Firmware.h"
#include "sim/SimTestUtil.h"

namespace korvane::sim::test {
namespace {

EngineState At(int rpm, int throttle) {
    EngineState s;
    s.rpmByte = rpm / 40;
    s.throttle = throttle;
    s.row = Grid::RowOf(s.Rpm());
    s.column = Grid::ColumnOf(throttle);
    return s;
}

// Cell (5, 7) is 16 % at 1840 rpm; its neighbour (5, 8) is at 2080 rpm,
// (6, 7) at 20 %. Only (5, 7) has a correction other than 1.
TEST(SimMixture, InterpolatedBetweenCellCentres) {
    std::vector<uint8_t> memory = MakeSyntheticFirmware(1);
    memory[kCorrectionTable + Grid::CellIndex(5, 7)] = 160;  // 1.25
    const FuelErrorField fuel(1);
    const double f57 = fuel.At(5, 7), f58 = fuel.At(5, 8), f67 = fuel.At(6, 7), f68 = fuel.At(6, 8);
    struct Case {
        const char* name;
        int rpm, throttle;
        Mixture mixture;
        double expected;
    };
    const Case cases[] = {
        {"centre", 1840, 16, Mixture::Interpolated, f57 / 1.25},
        {"neighbour's centre", 2080, 16, Mixture::Interpolated, f58},
        {"halfway up the speed axis", 1960, 16, Mixture::Interpolated, (f57 + f58) / 2 / 1.125},
        {"quarter of the way along the throttle axis", 1840, 17, Mixture::Interpolated,
         (0.75 * f57 + 0.25 * f67) / (0.75 * 1.25 + 0.25)},
        {"between four centres", 1960, 18, Mixture::Interpolated,
         (f57 + f58 + f67 + f68) / 4 / (1 + 0.25 / 4)},
        {"per cell, halfway up", 1960, 16, Mixture::PerCell, f57 / 1.25},
        {"per cell, neighbour", 2080, 16, Mixture::PerCell, f58},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(MixtureAt(At(c.rpm, c.throttle), fuel, memory, c.mixture), c.expected, 1e-12);
    }
    EXPECT_NEAR(CellCentreMixture(5, 7, fuel, memory), f57 / 1.25, 1e-12);
}

// An image from elsewhere may hold anything in the grid maps; the work point
// then stays on the grid, and a zero correction byte counts as the smallest.
TEST(SimMixture, ForeignGridMapsAndZeroBytesStayOnTheGrid) {
    std::vector<uint8_t> memory(kImageSize, 0xFF);
    const FuelErrorField fuel(3);
    const GridPosition p = EcuGridPosition(memory, 255, 100);
    EXPECT_EQ(p.row16, 240);
    EXPECT_EQ(p.column16, 240);
    EXPECT_NEAR(MixtureAt(At(10200, 100), fuel, memory, Mixture::Interpolated),
                fuel.At(15, 15) / (255 / 128.0), 1e-12);
    std::fill(memory.begin() + kCorrectionTable, memory.begin() + kCorrectionTable + 256, 0);
    EXPECT_NEAR(MixtureAt(At(600, 0), fuel, memory, Mixture::Interpolated), fuel.At(15, 15) * 128,
                1e-9);
}

// A step in the mixture reaches the sensor after the gas transport (three
// fifths of the delay) and then closes with the sensor's first-order lag.
TEST(SimLc1Sensor, TrailsTheMixtureByTransportAndLag) {
    for (const int delayMs : {0, 250, 1000}) {
        SCOPED_TRACE(testing::Message() << "delay " << delayMs << " ms");
        std::vector<uint8_t> memory = MakeSyntheticFirmware(1);
        EngineRun engine(Scenario::Idle, 1, Mixture::PerCell, delayMs);
        engine.Hold(5, 7);
        engine.AdvanceTo(3.0, memory);
        const double before = engine.CellMixture(5, 7, memory);
        ASSERT_NEAR(engine.SensorLambda(), before, 1e-12);
        memory[kCorrectionTable + Grid::CellIndex(5, 7)] = 150;
        const double after = engine.CellMixture(5, 7, memory);
        const double transport = 0.6 * delayMs / 1000.0, lag = 0.4 * delayMs / 1000.0;
        const double t0 = engine.Now();
        if (delayMs > 0) {
            engine.AdvanceTo(t0 + transport - EngineRun::kStep, memory);
            EXPECT_NEAR(engine.SensorLambda(), before, 1e-12) << "before the gas arrives";
            engine.AdvanceTo(t0 + transport + lag + 1e-9, memory);
            const double share = (engine.SensorLambda() - before) / (after - before);
            EXPECT_NEAR(share, 1 - std::exp(-1.0), 0.03) << "one time constant in";
        }
        engine.AdvanceTo(t0 + transport + 6 * lag + EngineRun::kStep + 1e-9, memory);
        EXPECT_NEAR(engine.SensorLambda(), after, 0.005 * std::fabs(after - before) + 1e-12);
    }
}

TEST(SimEngineRun, KeepsTheTimeAndMixtureOfEachVisitedCell) {
    const std::vector<uint8_t> memory = MakeSyntheticFirmware(2);
    EngineRun held(Scenario::Drive, 2, Mixture::PerCell, 0);
    held.Hold(3, 4);
    held.AdvanceTo(10.0, memory);
    const CellStats& s = held.Stats()[Grid::CellIndex(3, 4)];
    const double error = std::fabs(held.CellMixture(3, 4, memory) - 1);
    EXPECT_NEAR(s.seconds, 10.0, 1e-6);
    EXPECT_NEAR(s.errorSeconds, 10.0 * error, 1e-6);
    EXPECT_NEAR(s.withinSeconds, error <= EngineRun::kWithin ? 10.0 : 0.0, 1e-6);

    // Driving: all the time lands in some cell, and the statistics do not
    // depend on how often the engine is looked at.
    EngineRun coarse(Scenario::Drive, 2, Mixture::Interpolated, 250);
    EngineRun fine(Scenario::Drive, 2, Mixture::Interpolated, 250);
    coarse.AdvanceTo(300.0, memory);
    for (double t = 0; t <= 300.0; t += 0.0917) fine.AdvanceTo(t, memory);
    fine.AdvanceTo(300.0, memory);
    double total = 0;
    int visited = 0;
    for (size_t k = 0; k < coarse.Stats().size(); ++k) {
        total += coarse.Stats()[k].seconds;
        visited += coarse.Stats()[k].seconds > 0;
        EXPECT_EQ(coarse.Stats()[k].seconds, fine.Stats()[k].seconds) << "cell " << k;
        EXPECT_EQ(coarse.Stats()[k].errorSeconds, fine.Stats()[k].errorSeconds) << "cell " << k;
    }
    EXPECT_NEAR(total, 300.0, 1e-6);
    EXPECT_GT(visited, 10);
    EXPECT_EQ(coarse.SensorLambda(), fine.SensorLambda());
}

// A cold start: the coolant in the frame climbs from 20 °C and the sensor
// sees the ECU's warm-up enrichment on top of the table's mixture, fading
// out by 65 °C; the table's own mixture (and the statistics) stay as they are.
TEST(SimEngineRun, ColdStartWarmsUpWithEnrichment) {
    const std::vector<uint8_t> memory = MakeSyntheticFirmware(1);
    const struct {
        double seconds, coolant, factor;
    } cases[] = {{0.01, 20.0, 0.8}, {127.2, 60.0, 0.978}, {300.0, 80.5, 1.0}};
    EngineRun cold(Scenario::Idle, 1, Mixture::PerCell, 0);
    cold.SetConditions({true, false});
    cold.Hold(5, 7);
    for (const auto& c : cases) {
        cold.AdvanceTo(c.seconds, memory);
        const auto frame = cold.FrameAt(cold.Now(), memory);
        EXPECT_NEAR(frame[8] - 40, c.coolant, 0.6) << c.seconds;
        EXPECT_NEAR(cold.SensorLambda() / cold.CellMixture(5, 7, memory), c.factor, 0.002)
            << c.seconds;
    }
    EXPECT_NEAR(cold.Stats()[Grid::CellIndex(5, 7)].errorSeconds,
                300.0 * std::fabs(cold.CellMixture(5, 7, memory) - 1), 1e-6);

    // A warm engine is warm from the start.
    EngineRun warm(Scenario::Idle, 1, Mixture::PerCell, 0);
    warm.Hold(5, 7);
    warm.AdvanceTo(0.01, memory);
    EXPECT_GE(warm.FrameAt(0.01, memory)[8] - 40, 85);
    EXPECT_NEAR(warm.SensorLambda(), warm.CellMixture(5, 7, memory), 1e-12);
}

// Opening the throttle enriches for a moment, closing it leans.
TEST(SimEngineRun, TransientsEnrichThenFade) {
    const std::vector<uint8_t> memory = MakeSyntheticFirmware(1);
    EngineRun engine(Scenario::Drive, 1, Mixture::Interpolated, 0);
    engine.SetConditions({false, true});
    double richest = 0, leanest = 0;
    for (double t = 0.01; t < 300; t += EngineRun::kStep) {
        engine.AdvanceTo(t, memory);
        // The sensor (no delay) shows the last step's mixture.
        const double ratio =
            engine.SensorLambda() /
            engine.MixtureOf(engine.StateAt(engine.Now() - EngineRun::kStep), memory);
        richest = std::max(richest, 1 - ratio);
        leanest = std::max(leanest, ratio - 1);
    }
    EXPECT_GT(richest, 0.05);
    EXPECT_GT(leanest, 0.05);
    // Held still, the transient has faded.
    engine.Hold(5, 7);
    engine.AdvanceTo(310, memory);
    EXPECT_NEAR(engine.SensorLambda() / engine.CellMixture(5, 7, memory), 1.0, 0.01);
}

TEST(SimEngineRun, ReportListsVisitedCells) {
    CellStatsTable stats{};
    stats[Grid::CellIndex(5, 7)] = {20.0, 0.5, 15.0};
    stats[Grid::CellIndex(0, 2)] = {5.0, 0.0, 5.0};
    const std::string text =
        VisitedCellsReport(stats, [](int c, int r) { return c == 5 && r == 7 ? 1.031 : 0.99; });
    EXPECT_NE(text.find(" 1840     16      20.0     2.50     3.10\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  840      0       5.0     0.00     1.00\n"), std::string::npos) << text;
    EXPECT_LT(text.find("  840"), text.find(" 1840"));  // by engine speed
    EXPECT_NE(text.find("2 cells visited in 25.0 s; within 2 % of lambda 1 for 80.0 % of that"),
              std::string::npos)
        << text;
}

// Over the LC-1's line: with a delay, a new correction shows in the readings
// only after the gas has reached the sensor.
TEST(SimLc1Sensor, DelayedReadingsOnTheLine) {
    Options o;
    o.fast = true;
    o.lc1WarmUp = false;
    o.mixture = Mixture::PerCell;
    o.lc1DelayMs = 1000;  // 600 ms of transport
    Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    sim.HoldCell(5, 7);
    Line lc1(sim.Lc1Path(), 19200);
    SleepMs(2500);  // the held cell's mixture has reached the sensor
    const uint16_t address = kCorrectionTable + Grid::CellIndex(5, 7);
    const double before = sim.TrueLambdaAtCell(5, 7);
    lc1.Drain();
    sim.WriteRam(address, {200});
    const double after = sim.TrueLambdaAtCell(5, 7);
    ASSERT_GT(before - after, 0.2);
    auto lambdas = [](const Bytes& s) {
        std::vector<double> out;
        for (size_t i = 0; i + 6 <= s.size(); ++i)
            if (s[i] == 0xB2 && s[i + 1] == 0x82)
                out.push_back(((s[i + 4] & 0x7F) * 128 + (s[i + 5] & 0x7F) + 500) / 1000.0);
        return out;
    };
    const auto early = lambdas(lc1.ReadFor(200));
    ASSERT_FALSE(early.empty());
    for (double l : early) EXPECT_NEAR(l, before, 0.01 * before);
    bool arrived = false;
    for (int i = 0; i < 40 && !arrived; ++i)
        for (double l : lambdas(lc1.ReadFor(100))) arrived = arrived || std::fabs(l - after) < 0.01;
    EXPECT_TRUE(arrived);
    const std::string report = sim.Report();
    EXPECT_NE(report.find(" 1840     16"), std::string::npos) << report;
}

TEST(SimLc1Sensor, DelayOutsideItsRangeIsRefused) {
    for (const int ms : {-1, EngineRun::kMaxLc1DelayMs + 1}) {
        Options o;
        o.lc1DelayMs = ms;
        Simulator sim(o);
        std::string error;
        EXPECT_FALSE(sim.Start(&error));
        EXPECT_NE(error.find("LC-1 delay"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace korvane::sim::test
