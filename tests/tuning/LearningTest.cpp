// Sampling, processing, neighbour prediction, the single-cell hand-over and
// the status texts of the learning step.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>

#include "TuningTestSupport.h"
#include "live/FrameDecoder.h"
#include "live/LiveTick.h"
#include "platform/NumberText.h"

namespace korvane::tuning::test {
namespace {

// Cell (3, 4): throttle 20 %, 1050 rpm, k = 52.
constexpr int kC = 3, kR = 4, kK = 52;

class Learning : public TuningFixture {
  protected:
    void SetUp() override {
        narrowBand = true;  // the sample is the frame's coefficient, exactly
        FillTables();
        StartTuning();
    }
    WorkPointCell& Cell(int c = kC, int r = kR) { return t.WorkPointCells[c][r]; }
    // Settles in the cell and feeds stationary frames with `ratio`.
    void Samples(double ratio, int n, int c = kC, int r = kR, double air = 100) {
        if (t.CurrentCell != GridCell{r + 1, c + 1}) Settle(c, r);
        FrameInCell(c, r, ratio, air, n);
    }
};

TEST_F(Learning, TheEighthSampleProcessesTheCellThenEightFramesSettle) {
    Samples(1.05, 7);
    EXPECT_EQ(Cell().SampleCount, 7);
    EXPECT_EQ(Cell().RewriteCount, 0);
    EXPECT_EQ(t.AnalisCount, 7);
    Samples(1.05, 1);
    EXPECT_EQ(Cell().RewriteCount, 1);
    EXPECT_EQ(Cell().SampleCount, 0);
    EXPECT_EQ(t.SampleIndex, -8);
    EXPECT_EQ(view.Cell(0, 0), "ОК1");

    FrameInCell(kC, kR, 1.2, 100, 8);  // settling: nothing stored
    EXPECT_EQ(t.AnalisCount, 8);
    EXPECT_EQ(t.SampleIndex, 0);
    FrameInCell(kC, kR, 1.2);
    EXPECT_EQ(t.AnalisCount, 9);
    EXPECT_EQ(Cell().SampleCount, 1);
    EXPECT_EQ(Cell().Samples[0], 1.2f);
}

struct ProcessCase {
    const char* name;
    float correction;             // before
    double sample;                // every one of the eight
    float expected;               // after
    std::optional<uint8_t> byte;  // written, or nothing
};
void PrintTo(const ProcessCase& c, std::ostream* os) {
    *os << c.name;
}

class Processing : public Learning, public ::testing::WithParamInterface<ProcessCase> {};

TEST_P(Processing, MovesTheCorrectionAndHandsTheByteOver) {
    const ProcessCase& p = GetParam();
    Cell().Correction = p.correction;
    Samples(p.sample, 8);
    EXPECT_EQ(Cell().Correction, p.expected);
    EXPECT_EQ(Cell().Ratio, static_cast<float>(p.sample));
    EXPECT_EQ(Cell().RewriteCount, 1);
    EXPECT_EQ(view.Cell(0, 0), "ОК1");
    if (p.byte) {
        EXPECT_EQ(imageBytes[kCorrectionAddress + kK], *p.byte);
        EXPECT_EQ(mailbox.posts, (std::vector<Remake>{{{0x7D, 0x2B}, *p.byte}}));
        EXPECT_EQ(t.PRecCount, 1);
        EXPECT_EQ(view.label7, platform::FormatFixed(static_cast<float>(p.sample), 3, ','));
    } else {
        EXPECT_EQ(imageBytes[kCorrectionAddress + kK], 128);
        EXPECT_TRUE(mailbox.posts.empty());
        EXPECT_EQ(t.PRecCount, 0);
        EXPECT_EQ(view.label7, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tuning, Processing,
    ::testing::Values(
        // 1 + 0.05 × 0.7, and 1.035 × 128 = 132.48.
        ProcessCase{"Rich105WeightedStep", 1.0f, 1.05, 1.035f, 132},
        ProcessCase{"Lean090WeightedStep", 1.0f, 0.90, 0.93f, 119},
        ProcessCase{"SmallStepUp", 1.0f, 1.015, 1.009f, 129},
        ProcessCase{"SmallStepDown", 1.0f, 0.985, 0.991f, 127},
        ProcessCase{"DeadBandAbove", 1.0f, 1.005, 1.0f, std::nullopt},
        ProcessCase{"DeadBandBelow", 1.0f, 0.995, 1.0f, std::nullopt},
        ProcessCase{"DeadBandTopEdge", 1.0f, 1.007, 1.0f, std::nullopt},
        // The 32-bit sample of 0.993 lies just below 0.993: small step.
        ProcessCase{"SampleJustBelowDeadBand", 1.0f, 0.993, 0.991f, 127},
        ProcessCase{"SmallStepTopEdge", 1.0f, 1.02, 1.009f, 129},
        ProcessCase{"UpperLimit", 1.94f, 1.10, 1.95f, 250},
        ProcessCase{"LowerLimit", 0.26f, 0.5, 0.25f, 32},
        // × 128 lands on a half: to the even byte either way.
        ProcessCase{"HalfRoundsDownToEven", 0.99490625f, 1.015, 1.00390625f, 128},
        ProcessCase{"HalfRoundsUpToEven", 1.00271875f, 1.015, 1.01171875f, 130}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Learning, StatusLineAndLabelsAfterAProcessing) {
    Samples(1.05, 8);
    // 5 settling frames + 8 samples, one processing.
    EXPECT_EQ(view.status, "GBCRec//PRec/Analis//All:0//1/8//13");
    EXPECT_EQ(view.label5, "1,035");
    EXPECT_EQ(view.label7, "1,050");
    t.GbcRecCount = 2;
    t.PRecCount = 15;
    t.AnalisCount = 120;
    t.AllCount = 3999;
    FrameInCell(kC, kR);
    EXPECT_EQ(view.status, "GBCRec//PRec/Analis//All:2//15/120//4000");
}

TEST_F(Learning, TheThirdProcessingReadsOk3) {
    for (int i = 0; i < 3; ++i) {
        Samples(1.05, 8);
        FrameInCell(kC, kR, 1.0, 100, 8);  // settle
    }
    EXPECT_EQ(view.Cell(0, 0), "ОК3");
    EXPECT_EQ(Cell().RewriteCount, 3);
}

TEST_F(Learning, TheGridCellShowsTheChosenQuantityBeforeTheSample) {
    const struct {
        int combo;
        const char* text;
    } cases[] = {{0, "0//0"}, {1, "1,000"}, {2, "3,000"}, {3, "120,0"}, {4, "<unset>"}};
    for (const auto& c : cases) {
        view.cells.clear();
        view.combo = c.combo;
        t.CurrentCell = {};
        FillTables();
        view.combo = c.combo;
        Samples(1.0, 1);
        EXPECT_EQ(view.Cell(kC + 1, kR + 1), c.text) << c.combo;
    }
    view.combo = 0;
    FrameInCell(kC, kR);
    EXPECT_EQ(view.Cell(kC + 1, kR + 1), "0//1");
}

TEST_F(Learning, LearnedAirChargeIsTheAverageAndKeptWithinOneByte) {
    const struct {
        double air;
        float learned;
    } cases[] = {{103.5, 103.5f}, {681, 681.0f}, {700, 680.0f}};
    for (const auto& c : cases) {
        FillTables();
        t.CurrentCell = {};
        Samples(1.05, 4, kC, kR, c.air - 1);
        Samples(1.05, 4, kC, kR, c.air + 1);
        EXPECT_EQ(t.BcnTable[kC][kR].Learned, c.learned) << c.air;
        EXPECT_EQ(t.BcnTable[kC][kR].Current, 120.0f);
    }
}

TEST_F(Learning, ACellContinuesItsSamplesAfterALeave) {
    Samples(1.1, 5);
    Samples(1.0, 2, 7, 7);  // elsewhere
    Samples(0.9, 1);
    EXPECT_EQ(Cell().SampleCount, 6);
    EXPECT_EQ(Cell().Samples[5], 0.9f);
    EXPECT_EQ(Cell(7, 7).SampleCount, 2);
}

TEST_F(Learning, SingleCellAddressIsHighByteFirst) {
    const struct {
        int c, r;
        std::array<uint8_t, 2> address;
    } cases[] = {{0, 0, {0x7C, 0xF7}}, {0, 9, {0x7D, 0x00}}, {15, 15, {0x7D, 0xF6}}};
    t.MinTuneThrottle = 0;  // column 0 is throttle 0
    for (const auto& c : cases) {
        mailbox.posts.clear();
        Samples(1.05, 8, c.c, c.r);
        ASSERT_EQ(mailbox.posts.size(), 1u);
        EXPECT_EQ(mailbox.posts[0].address, c.address);
        EXPECT_EQ(imageBytes[kCorrectionAddress + c.c * 16 + c.r], 132);
    }
}

TEST_F(Learning, ABusyWorkerQueuesTheWriteAndItCountsOnlyOnceWritten) {
    mailbox.busy = true;
    Samples(1.05, 8);
    EXPECT_EQ(mailbox.posts, (std::vector<Remake>{{{0x7D, 0x2B}, 132}}));
    EXPECT_EQ(imageBytes[kCorrectionAddress + kK], 132);
    EXPECT_EQ(t.PRecCount, 0);
    core.CellWriteDone(false);
    EXPECT_EQ(t.PRecCount, 0);
    core.CellWriteDone(true);
    EXPECT_EQ(t.PRecCount, 1);
}

TEST_F(Learning, WithoutALinkTheCellLearnsButNothingIsWritten) {
    mailbox.link = false;
    Samples(1.05, 8);
    EXPECT_EQ(Cell().Correction, 1.035f);
    EXPECT_EQ(Cell().RewriteCount, 1);
    EXPECT_EQ(imageBytes[kCorrectionAddress + kK], 128);
    EXPECT_TRUE(mailbox.posts.empty());
    EXPECT_EQ(t.PRecCount, 0);
    EXPECT_EQ(view.label7, "");
}

// Neighbour prediction.
class Neighbours : public Learning {
  protected:
    void SetUp() override {
        Learning::SetUp();
        t.NeighbourLearning = true;
        settings["Коэф. обучения соседних РТ"] = "50";
    }
};

TEST_F(Neighbours, OnlyCellsInsideTheGridAndOffTargetArePredicted) {
    // Corner cell (15, 0): (15, 1) never processed, (14, 0) on target.
    Cell(14, 0).Ratio = 1.03f;
    Samples(1.05, 8, 15, 0);
    const float corrected = Cell(15, 0).Correction;
    EXPECT_EQ(t.NeighbourCorrections[15][0], corrected);
    // ((R - 1) × 0.5 + 1) × 1.0 with R the averaged 32-bit sample.
    const float predicted = static_cast<float>((static_cast<long double>(1.05f) - 1) * 0.5L + 1);
    EXPECT_EQ(t.NeighbourCorrections[15][1], predicted);
    EXPECT_EQ(t.NeighbourCorrections[14][0], 1.0f);
    int changed = 0;
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r)
            changed += t.NeighbourCorrections[c][r] != t.WorkPointCells[c][r].Correction;
    EXPECT_EQ(changed, 1);
}

TEST_F(Neighbours, RatioLimitsOfTheNeighbourBand) {
    const struct {
        float ratio;
        bool predicted;
    } cases[] = {{3.0f, true}, {1.03f, false}, {0.96f, false}, {1.06f, true}, {0.94f, true}};
    for (const auto& c : cases) {
        FillTables();
        t.CurrentCell = {};
        Cell(kC, kR - 1).Ratio = c.ratio;
        Samples(0.9, 8);
        EXPECT_EQ(t.NeighbourCorrections[kC][kR - 1] != 1.0f, c.predicted) << c.ratio;
        EXPECT_NE(t.NeighbourCorrections[kC][kR + 1], 1.0f);
        EXPECT_NE(t.NeighbourCorrections[kC - 1][kR], 1.0f);
        EXPECT_NE(t.NeighbourCorrections[kC + 1][kR], 1.0f);
    }
}

TEST_F(Neighbours, OffLeavesThePredictionsAsFilled) {
    t.NeighbourLearning = false;
    Samples(1.05, 8);
    EXPECT_EQ(Cell().Correction, 1.035f);
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) ASSERT_EQ(t.NeighbourCorrections[c][r], 1.0f);
}

TEST_F(Neighbours, ALearnedCellIsNotTakenBackByItsStalePredictionWhileTheLinkIsDown) {
    mailbox.link = false;
    Samples(1.05, 8);
    EXPECT_EQ(t.NeighbourCorrections[kC][kR], 1.035f);
    EXPECT_EQ(t.NeighbourCorrections[kC][kR + 1], 1.0f);  // predictions need the link
}

TEST_F(Neighbours, EmptyWeightMeansNoPrediction) {
    settings["Коэф. обучения соседних РТ"] = "";
    Samples(1.05, 8);
    EXPECT_EQ(Cell().Correction, 1.035f);
    EXPECT_EQ(t.NeighbourCorrections[kC][kR + 1], 1.0f);
    EXPECT_TRUE(log.empty());
}

// Settings that do not convert or do not fit.
TEST_F(Learning, AWeightThatIsNoNumberStopsTheStepAndIsLoggedOnce) {
    settings["Весовой коэф. коррекции(%)"] = "семьдесят";
    FrameInCell(kC, kR, 1.0, 100, 3);
    EXPECT_EQ(t.StationaryHitCount, 0);
    EXPECT_EQ(t.AllCount, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"Параметр «Весовой коэф. коррекции(%)»: значение "
                                             "«семьдесят» не является числом."}));
    settings["Весовой коэф. коррекции(%)"] = "70,5";
    FrameInCell(kC, kR);
    EXPECT_EQ(t.StationaryHitCount, 1);
    core.NewConnection();
    settings["Весовой коэф. коррекции(%)"] = "";
    FrameInCell(kC, kR, 1.0, 100, 2);
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(Learning, AStationarityCountThatIsNoNumberStopsAfterCounting) {
    Settle(kC, kR);
    settings["Стационарность по циклам"] = "4.5";
    FrameInCell(kC, kR, 1.0, 100, 2);
    EXPECT_EQ(t.StableCycles, 6);
    EXPECT_EQ(t.AnalisCount, 0);
    EXPECT_EQ(t.AllCount, 5);
    EXPECT_EQ(log, (std::vector<std::string>{"Параметр «Стационарность по циклам»: значение "
                                             "«4.5» не является целым числом."}));
}

TEST_F(Learning, AnUnreadableProcessingCountNeverOverrunsTheLists) {
    settings["Количество циклов для обработки"] = "x";
    Samples(1.05, 40);
    EXPECT_EQ(Cell().SampleCount, 16);
    EXPECT_EQ(t.AnalisCount, 16);
    EXPECT_EQ(Cell().RewriteCount, 0);
    EXPECT_EQ(log.size(), 1u);
    settings["Количество циклов для обработки"] = "7";
    FrameInCell(kC, kR, 1.05);
    EXPECT_EQ(Cell().RewriteCount, 1);
    EXPECT_EQ(Cell().Correction, 1.035f);
}

TEST_F(Learning, ProcessingCountIsHeldWithinWhatTheListsHold) {
    const struct {
        const char* setting;
        int samplesToProcess;
        const char* line;
    } cases[] = {
        {"20", 16,
         "Параметр «Количество циклов для обработки»: значение 20 вне пределов 1..15, "
         "используется 15."},
        {"0", 2,
         "Параметр «Количество циклов для обработки»: значение 0 вне пределов 1..15, "
         "используется 1."},
        {"15", 16, nullptr},
        {"1", 2, nullptr},
    };
    for (const auto& c : cases) {
        FillTables();
        t.CurrentCell = {};
        log.clear();
        core.NewConnection();
        settings["Количество циклов для обработки"] = c.setting;
        Samples(1.05, c.samplesToProcess - 1);
        EXPECT_EQ(Cell().RewriteCount, 0) << c.setting;
        FrameInCell(kC, kR, 1.05);
        EXPECT_EQ(Cell().RewriteCount, 1) << c.setting;
        if (c.line)
            EXPECT_EQ(log, std::vector<std::string>{c.line});
        else
            EXPECT_TRUE(log.empty());
    }
}

TEST_F(Neighbours, ANeighbourWeightThatIsNoNumberChangesNothing) {
    settings["Коэф. обучения соседних РТ"] = "пол";
    Samples(1.05, 12);
    EXPECT_EQ(Cell().Correction, 1.0f);
    EXPECT_EQ(Cell().RewriteCount, 0);
    EXPECT_EQ(Cell().Ratio, 3.0f);
    EXPECT_TRUE(mailbox.posts.empty());
    EXPECT_EQ(log.size(), 1u);
}

// Where the samples come from.
TEST_F(Learning, WidebandSampleIsTheLc1RatioOverTheEcusAndNeedsAReading) {
    narrowBand = false;
    Settle(kC, kR);
    live::LiveValues v;
    v.Rpm = 1050;
    v.ThrottlePos = 20;
    v.Afr = 14.7;
    v.CyclicAirFlow = 90;
    v.InjTimeCorrection = 0.7;
    v.AfrLc1 = 0;  // no reading accepted yet
    core.calculations(v, false, Image());
    EXPECT_EQ(t.AnalisCount, 0);
    v.AfrLc1 = 15.435;
    core.calculations(v, false, Image(), /*mixtureUsable=*/false);
    EXPECT_EQ(t.AnalisCount, 0);
    core.calculations(v, false, Image());
    EXPECT_EQ(t.AnalisCount, 1);
    EXPECT_EQ(Cell().Samples[0], static_cast<float>(15.435 / 14.7));
    EXPECT_EQ(t.AirChargeSamples[kC][kR][0], 90.0f);
    EXPECT_EQ(t.StableCycles, 7);
}

TEST_F(Learning, NoSampleComesFromAFrameTheDecoderRefused) {
    narrowBand = false;
    auto frame = [](uint8_t afr, uint8_t rpm, uint8_t air, size_t size) {
        std::vector<uint8_t> f(size, 0);
        f[9] = afr;   // 14.7 at 128
        f[11] = 20;   // throttle
        f[12] = rpm;  // × 40
        f[47] = air;  // CyclicAirFlow × 6, low byte
        return f;
    };
    live::LiveDecoder decoder;
    const live::LambdaSnapshot lc{1, 1, 0, 15.0};
    auto tick = [&](const std::vector<uint8_t>& f, int32_t numlog) {
        const auto out = decoder.Tick(f, numlog, live::OxygenSensor::Lc1, lc);
        if (out.newPoll) core.calculations(decoder.Values(), decoder.NarrowBandMode, Image());
    };
    int32_t numlog = 0;
    for (int i = 0; i < 6; ++i) tick(frame(128, 26, 60, 51), ++numlog);  // 1040 rpm, air 10
    ASSERT_EQ(t.AnalisCount, 1);
    // A short and a long frame with other values: the last good values serve.
    tick(frame(0, 26, 240, 50), ++numlog);
    tick(frame(0, 26, 240, 52), ++numlog);
    ASSERT_EQ(t.AnalisCount, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Cell().Samples[static_cast<size_t>(i)], static_cast<float>(15.0 / 14.7)) << i;
        EXPECT_EQ(t.AirChargeSamples[kC][kR][static_cast<size_t>(i)], 10.0f) << i;
    }
}

}  // namespace
}  // namespace korvane::tuning::test
