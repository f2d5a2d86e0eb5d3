// The engine model: scenarios, the hidden fuel error and its promise that
// the ideal correction brings a cell's mixture to lambda 1.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "sim/EngineModel.h"
#include "sim/SimTestUtil.h"

namespace korvane::sim::test {
namespace {

TEST(SimEngineModel, HeldCellNeverLeavesItsBands) {
    const EngineModel model(Scenario::Idle, 7);
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) {
            std::set<int> rpms;
            for (double t = 0; t < 20; t += 0.05) {
                const EngineState s = model.HeldAt(c, r, t);
                ASSERT_EQ(Grid::ColumnOf(s.throttle), c) << "cell " << c << "," << r << " t " << t;
                ASSERT_EQ(Grid::RowOf(s.Rpm()), r) << "cell " << c << "," << r << " t " << t;
                rpms.insert(s.rpmByte);
            }
            EXPECT_GT(rpms.size(), 1u) << "no noise in cell " << c << "," << r;
        }
}

TEST(SimEngineModel, ScenariosAreDeterministicPerSeed) {
    const EngineModel a(Scenario::Drive, 3), b(Scenario::Drive, 3), other(Scenario::Drive, 4);
    int differs = 0;
    for (double t = 0; t < 300; t += 0.37) {
        const EngineState x = a.At(t), y = b.At(t), z = other.At(t);
        ASSERT_EQ(x.rpmByte, y.rpmByte);
        ASSERT_EQ(x.throttle, y.throttle);
        differs += x.column != z.column || x.row != z.row;
    }
    EXPECT_GT(differs, 100);
}

TEST(SimEngineModel, DriveDwellsInCellsAndMovesOn) {
    const EngineModel model(Scenario::Drive, 1);
    std::set<int> cells;
    double steadyTime = 0, run = 0;
    int last = -1;
    const double step = 0.05, end = 600;
    for (double t = 0; t < end; t += step) {
        const EngineState s = model.At(t);
        const int k = Grid::CellIndex(s.column, s.row);
        cells.insert(k);
        if (k == last) {
            run += step;
        } else {
            if (run >= 2.0) steadyTime += run;
            run = 0;
        }
        last = k;
    }
    EXPECT_GT(cells.size(), 25u);
    EXPECT_GT(steadyTime, 0.7 * end);  // mostly steady: something to learn from
    EXPECT_EQ(model.At(0).column, 0);  // starts at idle
    EXPECT_EQ(model.At(0).row, 2);
}

TEST(SimEngineModel, SweepVisitsEveryCell) {
    const EngineModel model(Scenario::Sweep, 1);
    std::set<int> cells;
    for (double t = 1.0; t < 256 * 3.0; t += 3.0) {
        const EngineState s = model.At(t);
        cells.insert(Grid::CellIndex(s.column, s.row));
    }
    EXPECT_EQ(cells.size(), 256u);
}

TEST(SimEngineModel, FuelErrorIsASmoothFieldFromTheSeed) {
    const FuelErrorField f(1), same(1), other(2);
    double low = 10, high = 0, worstStep = 0;
    int differs = 0;
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) {
            low = std::min(low, f.At(c, r));
            high = std::max(high, f.At(c, r));
            EXPECT_EQ(f.At(c, r), same.At(c, r));
            differs += std::fabs(f.At(c, r) - other.At(c, r)) > 1e-3;
            if (c > 0) worstStep = std::max(worstStep, std::fabs(f.At(c, r) - f.At(c - 1, r)));
            if (r > 0) worstStep = std::max(worstStep, std::fabs(f.At(c, r) - f.At(c, r - 1)));
        }
    EXPECT_GE(low, 0.85 - 1e-9);
    EXPECT_LE(high, 1.15 + 1e-9);
    EXPECT_GT(high - low, 0.15);  // a real error to learn, not a flat field
    EXPECT_LT(worstStep, 0.1);
    EXPECT_GT(differs, 200);
}

// The latest LC-1 reading made after this call began.
double MeasuredLambda(Line& lc1) {
    lc1.Drain();
    SleepMs(30);  // a packet made just before may still have been on its way
    lc1.Drain();
    Bytes s = lc1.ReadFor(100);
    for (int i = 0; i < 40 && s.size() < 12; ++i) {
        const Bytes more = lc1.ReadFor(50);
        s.insert(s.end(), more.begin(), more.end());
    }
    for (size_t i = s.size(); i-- > 0;)
        if (s[i] == 0xB2 && i + 6 <= s.size() && s[i + 1] == 0x82 && s[i + 2] == 0x43)
            return ((s[i + 4] & 0x7F) * 128 + (s[i + 5] & 0x7F) + 500) / 1000.0;
    ADD_FAILURE() << "no LC-1 reading";
    return 0;
}

TEST(SimEngineModel, IdealCorrectionBringsTheCellToLambdaOne) {
    Options o;
    o.fast = true;
    o.lc1WarmUp = false;
    o.seed = 11;
    o.mixture = Mixture::PerCell;  // one byte decides the whole cell
    Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    Line ecu(sim.EcuPath(), 10400);
    Line lc1(sim.Lc1Path(), 19200);
    const std::pair<int, int> cells[] = {{0, 2}, {5, 7}, {12, 13}, {15, 0}};
    for (const auto& [c, r] : cells) {
        SCOPED_TRACE(testing::Message() << "cell " << c << "," << r);
        sim.HoldCell(c, r);
        const int k = c * 16 + r;
        const uint16_t address = static_cast<uint16_t>(0x7CF7 + k);
        const double f = sim.TrueLambdaAtCell(c, r) * sim.Ram()[address] / 128.0;
        // Before: the cell runs with its fuel error, as the LC-1 shows it.
        EXPECT_NEAR(MeasuredLambda(lc1), f, 0.01 * f);
        // Write the ideal correction with WriteMemoryByAddress, by hand.
        const uint8_t ideal = static_cast<uint8_t>(std::lround(f * 128));
        Bytes frame = {0x86,
                       0x10,
                       0xF1,
                       0x3D,
                       0x00,
                       static_cast<uint8_t>(address >> 8),
                       static_cast<uint8_t>(address & 0xFF),
                       0x01,
                       ideal};
        unsigned sum = 0;
        for (uint8_t b : frame) sum += b;
        frame.push_back(static_cast<uint8_t>(sum));
        EXPECT_EQ(ecu.Exchange(frame), Concat(frame, Hex("81 F1 10 7D FF")));
        // The ECU still reports 14.7; the LC-1 now measures lambda 1.
        const Bytes diag = ecu.Exchange(Hex("82 10 F1 21 0F B3"));
        ASSERT_EQ(diag.size(), 6u + 58);
        EXPECT_EQ(diag[6 + 6 + 9], 128);
        const double afrEcu = 14.7 * (diag[6 + 6 + 9] + 128) / 256.0;
        const double measured = MeasuredLambda(lc1) * 14.7 / afrEcu;
        EXPECT_NEAR(measured, 1.0, 0.01);
        EXPECT_NEAR(sim.TrueLambdaAtCell(c, r), 1.0, 0.005);
        // The narrow-band loop's correction follows the mixture as well.
        EXPECT_NEAR((diag[6 + 6 + 18] + 128) / 256.0, 1.0, 0.01);
    }
}

}  // namespace
}  // namespace korvane::sim::test
