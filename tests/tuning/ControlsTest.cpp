// The tuner's controls: the lock list, the filters, the limits, the reading
// of their settings and the change texts; then how the learning step obeys
// them.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <ostream>
#include <vector>

#include "TuningTestSupport.h"
#include "tuning/TuningControls.h"

namespace korvane::tuning::test {
namespace {

// --- Lock list ---------------------------------------------------------------

struct LockCase {
    const char* name;
    const char* text;
    std::vector<int> locked;
    const char* format;  // FormatLockList of the result
    bool problem;
    const char* rewritten;  // the same with the unreadable entries kept
};
void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}
class LockList : public ::testing::TestWithParam<LockCase> {};

TEST_P(LockList, LoadsWhatIsValidAndNamesTheRest) {
    const LockCase& c = GetParam();
    const LockListParse p = ParseLockList(c.text);
    std::vector<int> locked;
    for (int k = 0; k < kCellCount; ++k)
        if (p.locks[static_cast<size_t>(k)]) locked.push_back(k);
    EXPECT_EQ(locked, c.locked);
    EXPECT_EQ(FormatLockList(p.locks), c.format);
    EXPECT_EQ(FormatLockList(p.locks, p.unreadable), c.rewritten);
    EXPECT_EQ(!p.problem.empty(), c.problem) << p.problem;
    if (c.problem) {
        EXPECT_NE(p.problem.find("Заблокированные ячейки"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tuning, LockList,
    ::testing::Values(
        LockCase{"Empty", "", {}, "", false, ""},
        LockCase{"Spaces", "  3 17   255 0 ", {0, 3, 17, 255}, "0 3 17 255", false, "0 3 17 255"},
        LockCase{"TabsAndCommas", "5\t6,7;8", {5, 6, 7, 8}, "5 6 7 8", false, "5 6 7 8"},
        LockCase{"Text", "12 abc 13", {12, 13}, "12 13", true, "12 13 abc"},
        LockCase{"OutOfRange",
                 "256 -1 4 99999999999999999999",
                 {4},
                 "4",
                 true,
                 "4 256 -1 99999999999999999999"},
        LockCase{"Fraction", "4.5 6", {6}, "6", true, "6 4.5"},
        LockCase{"Duplicate", "9 9 10", {9, 10}, "9 10", true, "9 10"},
        LockCase{"AllBad", "x y", {}, "", true, "x y"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LockListProblem, NamesBadEntriesAndRepeatsInOneLine) {
    const auto p = ParseLockList("1 x 1 300");
    EXPECT_EQ(p.problem,
              "Параметр «Заблокированные ячейки»: пропущены неверные номера ячеек (x 300) и "
              "повторы (1); допустимы номера 0..255 через пробел.");
}

// --- Filters -----------------------------------------------------------------

struct FilterFrame {
    double seconds, coolant, throttle, rpm;
    FilterHold expected;
};
struct FilterCase {
    const char* name;
    FilterSettings settings;
    std::vector<FilterFrame> frames;
};
void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.name;
}
class Filter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(Filter, HoldsWhileColdAndForASecondAfterATransient) {
    const FilterCase& c = GetParam();
    LearningFilter filter(c.settings);
    for (size_t i = 0; i < c.frames.size(); ++i) {
        const FilterFrame& f = c.frames[i];
        live::LiveValues v;
        v.CoolantTemp = f.coolant;
        v.ThrottlePos = f.throttle;
        v.Rpm = f.rpm;
        EXPECT_EQ(filter.Check(v, f.seconds), f.expected) << "frame " << i;
    }
}

constexpr FilterSettings kDefaults{60.0, 20.0, 1000.0};
constexpr auto kNone = FilterHold::None;
constexpr auto kCold = FilterHold::Coolant;
constexpr auto kTps = FilterHold::Throttle;
constexpr auto kRpm = FilterHold::Rpm;

// Frame times are a quarter of a second apart (exact in binary).
INSTANTIATE_TEST_SUITE_P(
    Tuning, Filter,
    ::testing::Values(
        FilterCase{
            "SteadyWarmEnginePasses",
            kDefaults,
            {{0.0, 90, 20, 2000, kNone}, {0.25, 90, 21, 2100, kNone}, {0.5, 90, 20, 2000, kNone}}},
        // 59.9 is below; exactly 60 is warm enough.
        FilterCase{"CoolantAtTheLimit",
                   kDefaults,
                   {{0.0, 59.9, 20, 2000, kCold}, {0.25, 60, 20, 2000, kNone}}},
        FilterCase{"ThrottleFasterThanTheLimitHoldsOneSecondAfter",
                   kDefaults,
                   {{0.0, 90, 20, 2000, kNone},
                    {0.25, 90, 26, 2000, kTps},  // 24 %/s
                    {0.5, 90, 26, 2000, kTps},
                    {1.25, 90, 26, 2000, kTps},  // 1 s after the transient frame
                    {1.5, 90, 26, 2000, kNone}}},
        // 5 % in 0.25 s is exactly 20 %/s: allowed.
        FilterCase{"ThrottleAtTheLimitPasses",
                   kDefaults,
                   {{0.0, 90, 20, 2000, kNone}, {0.25, 90, 25, 2000, kNone}}},
        FilterCase{"ClosingTheThrottleCountsToo",
                   kDefaults,
                   {{0.0, 90, 40, 2000, kNone}, {0.25, 90, 10, 2000, kTps}}},
        FilterCase{"EngineSpeedFasterThanTheLimit",
                   kDefaults,
                   {{0.0, 90, 20, 2000, kNone},
                    {0.25, 90, 20, 2300, kRpm},  // 1200 rpm/s
                    {1.25, 90, 20, 2300, kRpm},
                    {1.5, 90, 20, 2300, kNone}}},
        FilterCase{"ANewTransientExtendsTheHold",
                   kDefaults,
                   {{0.0, 90, 20, 2000, kNone},
                    {0.25, 90, 30, 2000, kTps},
                    {1.0, 90, 50, 2000, kTps},  // 26.7 %/s: held to 2.0
                    {2.0, 90, 50, 2000, kTps},
                    {2.25, 90, 50, 2000, kNone}}},
        // Quick polls: one step of the last digit is no transient...
        FilterCase{"QuickPollsWithALastDigitStep",
                   kDefaults,
                   {{0.0, 90, 20, 2000, kNone},
                    {0.0625, 90, 21, 2040, kNone},
                    {0.125, 90, 20, 2000, kNone},
                    {0.1875, 90, 21, 2040, kNone}}},
        // ... but a steady ramp over them is (32 %/s over the span).
        FilterCase{"ARampOverQuickPolls",
                   kDefaults,
                   {{0.0, 90, 20, 2000, kNone},
                    {0.0625, 90, 22, 2000, kNone},
                    {0.125, 90, 24, 2000, kNone},
                    {0.1875, 90, 26, 2000, kNone},
                    {0.25, 90, 28, 2000, kTps}}},
        // A long gap between frames: the rate over it is small.
        FilterCase{"AGapMakesASlowRate",
                   kDefaults,
                   {{0.0, 90, 20, 2000, kNone}, {5.0, 90, 60, 5000, kNone}}},
        // Time that does not rise cannot give a rate; the frame after it
        // is measured against the last frame with a rising time.
        FilterCase{"TimeThatDoesNotRise",
                   kDefaults,
                   {{1.0, 90, 20, 2000, kNone},
                    {1.0, 90, 80, 2000, kNone},
                    {0.5, 90, 80, 2000, kNone},
                    {1.25, 90, 21, 2000, kNone}}},
        FilterCase{
            "NoTimeAtAllJudgesOnlyTheCoolant",
            kDefaults,
            {{NAN, 90, 20, 2000, kNone}, {NAN, 90, 90, 8000, kNone}, {NAN, 40, 90, 8000, kCold}}},
        FilterCase{
            "ColdWinsOverATransient",
            kDefaults,
            {{0.0, 30, 20, 2000, kCold}, {0.25, 30, 60, 2000, kCold}, {0.5, 61, 60, 2000, kTps}}},
        FilterCase{"FiltersOffPassEverything",
                   FilterSettings{},
                   {{0.0, -40, 0, 800, kNone}, {0.25, -40, 100, 6000, kNone}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FilterText, SaysWhatHoldsTheLearning) {
    EXPECT_EQ(FilterHoldText(kCold, kDefaults), "ТОЖ<60");
    EXPECT_EQ(FilterHoldText(kTps, kDefaults), "ДЗ>20%/с");
    EXPECT_EQ(FilterHoldText(kRpm, kDefaults), "Обороты>1000/с");
    EXPECT_EQ(FilterHoldText(kNone, kDefaults), "");
    EXPECT_EQ(FilterHoldText(kCold, FilterSettings{62.5, {}, {}}), "ТОЖ<62.5");
}

// --- Limits ------------------------------------------------------------------

struct LimitCase {
    const char* name;
    float old, wanted, expected;
};
void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}
class Limits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limits, HoldTheStepAndTheRange) {
    const LimitCase& c = GetParam();
    const CorrectionLimits limits{10.0, 0.7, 1.3};
    EXPECT_EQ(LimitCorrection(c.old, c.wanted, limits), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tuning, Limits,
    ::testing::Values(LimitCase{"WithinBothUntouched", 1.0f, 1.098f, 1.098f},
                      LimitCase{"StepUpHeld", 1.0f, 1.25f, 1.1f},
                      LimitCase{"StepDownHeld", 1.0f, 0.8f, 0.9f},
                      LimitCase{"StepIsAShareOfTheOldValue", 1.2f, 1.0f, 1.08f},
                      LimitCase{"HeldAtTheTop", 1.25f, 1.33f, 1.3f},
                      LimitCase{"HeldAtTheBottom", 0.72f, 0.67f, 0.7f},
                      LimitCase{"BeyondTheTopStaysWhereItIs", 1.5f, 1.55f, 1.5f},
                      LimitCase{"BeyondTheTopMayComeBack", 1.5f, 1.4f, 1.4f},
                      LimitCase{"BeyondTheBottomMayComeBackOneStep", 0.5f, 0.6f, 0.55f}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LimitsOff, AnyStepWithinTheOuterBoundsIsTakenBitForBit) {
    const CorrectionLimits off{};
    for (const float wanted : {0.25f, 0.3f, 1.0000001f, 1.9f, 1.95f})
        EXPECT_EQ(LimitCorrection(1.0f, wanted, off), wanted);
}

// --- Settings ----------------------------------------------------------------

struct SettingsCase {
    const char* name;
    const char *coolant, *throttle, *rpm, *step, *limits;
    const char* refusedKey;  // nullptr: accepted
};
void PrintTo(const SettingsCase& c, std::ostream* os) {
    *os << c.name;
}
class ControlSettingsText : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(ControlSettingsText, AcceptsNumbersAndRefusesTheRestAtConnect) {
    const SettingsCase& c = GetParam();
    const auto r = ReadControlSettingsFrom(c.coolant, c.throttle, c.rpm, c.step, c.limits);
    if (c.refusedKey) {
        EXPECT_NE(r.error.find(std::string("«") + c.refusedKey + "»"), std::string::npos)
            << r.error;
    } else {
        EXPECT_EQ(r.error, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tuning, ControlSettingsText,
    ::testing::Values(
        SettingsCase{"Defaults", "60", "20", "1000", "10", "0.7 1.3", nullptr},
        SettingsCase{"AllEmptyIsAllOff", "", "", "", "", "", nullptr},
        SettingsCase{"CommaDecimals", "55,5", "12,5", "800", "7,5", "0,8 1,2", nullptr},
        SettingsCase{"NegativeCoolantIsAWinterLimit", "-10", "20", "1000", "10", "0.7 1.3",
                     nullptr},
        SettingsCase{"CoolantNoNumber", "тепло", "20", "1000", "10", "0.7 1.3",
                     "Мин. ТОЖ для обучения"},
        SettingsCase{"NegativeRate", "60", "-5", "1000", "10", "0.7 1.3",
                     "Макс. скорость дросселя %/с"},
        SettingsCase{"RpmRateNoNumber", "60", "20", "1000 об", "10", "0.7 1.3",
                     "Макс. скорость оборотов об/с"},
        SettingsCase{"ZeroStep", "60", "20", "1000", "0", "0.7 1.3", "Макс. шаг поправки %"},
        SettingsCase{"OneLimit", "60", "20", "1000", "10", "0.7", "Пределы поправки"},
        SettingsCase{"ThreeLimits", "60", "20", "1000", "10", "0.7 1.0 1.3", "Пределы поправки"},
        SettingsCase{"LowNotBelowHigh", "60", "20", "1000", "10", "1.3 0.7", "Пределы поправки"},
        SettingsCase{"EqualLimits", "60", "20", "1000", "10", "1 1", "Пределы поправки"},
        SettingsCase{"LimitsBeyondTheOuterBounds", "60", "20", "1000", "10", "0.01 1.3",
                     "Пределы поправки"},
        SettingsCase{"LimitText", "60", "20", "1000", "10", "a b", "Пределы поправки"},
        // The range the table check before a write accepts, and no wider.
        SettingsCase{"TheWholeRange", "60", "20", "1000", "10", "0.25 1.95", nullptr},
        SettingsCase{"BelowAQuarter", "60", "20", "1000", "10", "0.05 1.3", "Пределы поправки"},
        SettingsCase{"AboveTheTop", "60", "20", "1000", "10", "0.7 1.96", "Пределы поправки"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ControlSettingsRead, TheLimitsMessageGivesTheRange) {
    const auto r = ReadControlSettingsFrom("60", "20", "1000", "10", "0.1 1.9");
    EXPECT_EQ(r.error,
              "Параметр «Пределы поправки»: значение «0.1 1.9» должно быть двумя числами через "
              "пробел, меньшее первым, в пределах 0.25–1.95.");
}

TEST(ControlSettingsRead, GivesTheNumbers) {
    const auto r = ReadControlSettingsFrom("60", "20", "1000", "10", " 0,7  1.3 ");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.settings.filters.minCoolant, 60.0);
    EXPECT_EQ(r.settings.filters.maxThrottleRate, 20.0);
    EXPECT_EQ(r.settings.filters.maxRpmRate, 1000.0);
    EXPECT_EQ(r.settings.limits.maxStepPercent, 10.0);
    EXPECT_EQ(r.settings.limits.low, 0.7);
    EXPECT_EQ(r.settings.limits.high, 1.3);
}

// --- The change view ---------------------------------------------------------

TEST(ChangeView, TextAndColourAgainstTheLoadedByte) {
    const struct {
        float correction;
        uint8_t loaded;
        const char* text;
        Rgb colour;
    } cases[] = {
        {1.0f, 128, "", {}},
        {1.002f, 128, "", {}},  // still byte 128
        {1.07f, 128, "+7,0", {255, 188, 188}},
        {0.965f, 128, "-3,5", {222, 222, 255}},
        {1.5f, 128, "+50,0", {255, 64, 64}},  // full colour from 20 %
        {1.0f, 120, "+6,7", {255, 191, 191}},
        {0.5f, 0, "+∞", {255, 64, 64}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChangeText(c.correction, c.loaded, ','), c.text) << c.correction;
        const Rgb got = ChangeColour(c.correction, c.loaded);
        EXPECT_EQ(got, c.colour) << c.correction << ": " << int(got.r) << "," << int(got.g) << ","
                                 << int(got.b);
    }
}

// --- The learning step under the controls ------------------------------------

// Cell (3, 4): throttle 20 %, 1050 rpm, k = 52; cell (2, 5), k = 37.
constexpr int kC = 3, kR = 4, kK = 52, kOtherK = 37;

class Controlled : public TuningFixture {
  protected:
    double now = 0;
    double coolant = 90;

    void SetUp() override {
        narrowBand = true;
        settings["Мин. ТОЖ для обучения"] = "60";
        settings["Макс. скорость дросселя %/с"] = "20";
        settings["Макс. скорость оборотов об/с"] = "1000";
        settings["Макс. шаг поправки %"] = "10";
        settings["Пределы поправки"] = "0.7 1.3";
        ApplySettings();
        FillTables();
        StartTuning();
    }
    void ApplySettings() {
        const auto r = ReadControlSettings([this](const char* key) { return settings[key]; });
        ASSERT_EQ(r.error, "");
        core.SetControls(r.settings);
    }
    // A frame a quarter of a second after the last one.
    void Timed(int c, int r, double ratio = 1.0, double throttle = NAN, int times = 1) {
        for (int i = 0; i < times; ++i) {
            live::LiveValues v;
            v.Rpm = RpmOfRow(r);
            v.ThrottlePos = std::isnan(throttle) ? ThrottleOfColumn(c) : throttle;
            v.CoolantTemp = coolant;
            v.Afr = 14.7;
            v.AfrLc1 = ratio * 14.7;
            v.InjTimeCorrection = ratio;
            v.CyclicAirFlow = 100;
            now += 0.25;
            core.calculations(v, narrowBand, Image(), true, now);
        }
    }
    WorkPointCell& Cell(int c = kC, int r = kR) { return t.WorkPointCells[c][r]; }
};

TEST_F(Controlled, ACellWithinTheLimitsLearnsTheSameByteAsWithoutThem) {
    // 0.93 × 128 = 119.04 and 1.035 × 128 = 132.48, with or without the
    // controls.
    for (const auto& [ratio, byte] : {std::pair{0.90, 119}, std::pair{1.05, 132}}) {
        FillTables();
        t.CurrentCell = {};
        Timed(kC, kR, ratio, NAN, 5 + 8);
        EXPECT_EQ(imageBytes[kCorrectionAddress + kK], byte) << ratio;
    }
}

TEST_F(Controlled, LimitsHoldALargeStepAndTheRange) {
    const struct {
        float correction;
        double ratio;
        float expected;
        uint8_t byte;
    } cases[] = {
        {1.0f, 1.30, 1.1f, 141},   // wants 1.21: one step of 10 %
        {1.25f, 1.10, 1.3f, 166},  // wants 1.3375: the top
        {0.72f, 0.90, 0.7f, 90},   // wants 0.6696: the bottom
        {1.4f, 1.05, 1.4f, 179},   // beyond the top already: stays
    };
    for (const auto& c : cases) {
        FillTables();
        t.CurrentCell = {};
        Cell().Correction = c.correction;
        Timed(kC, kR, c.ratio, NAN, 5 + 8);
        EXPECT_EQ(Cell().Correction, c.expected) << c.ratio;
        EXPECT_EQ(imageBytes[kCorrectionAddress + kK], c.byte) << c.ratio;
    }
}

TEST_F(Controlled, AColdEngineTakesNoSampleAndSaysWhy) {
    coolant = 50;
    Timed(kC, kR, 1.05, NAN, 20);
    EXPECT_EQ(t.AnalisCount, 0);
    EXPECT_EQ(Cell().SampleCount, 0);
    EXPECT_EQ(view.status, "GBCRec//PRec/Analis//All:0//0/0//20 ТОЖ<60");
    EXPECT_EQ(core.LastHold(), FilterHold::Coolant);
    // Warm: the stationary count starts afresh, as on entering the cell.
    coolant = 60;
    Timed(kC, kR, 1.05, NAN, 4);
    EXPECT_EQ(t.AnalisCount, 0);
    Timed(kC, kR, 1.05);
    EXPECT_EQ(t.AnalisCount, 1);
    EXPECT_EQ(view.status, "GBCRec//PRec/Analis//All:0//0/1//25");
}

TEST_F(Controlled, AThrottleTransientResetsTheCountAndHoldsASecond) {
    Timed(kC, kR, 1.05, 20, 5 + 3);
    EXPECT_EQ(Cell().SampleCount, 3);
    // 20 → 23 % in 0.25 s is 12 %/s: fine; 23 → 17 % is 24 %/s. The cell is
    // 16.5 .. 23.5 %, so the work point never leaves it.
    Timed(kC, kR, 1.05, 23);
    EXPECT_EQ(Cell().SampleCount, 4);
    Timed(kC, kR, 1.05, 17);
    EXPECT_EQ(t.StableCycles, 0);
    EXPECT_EQ(view.status.substr(view.status.rfind(' ') + 1), "ДЗ>20%/с");
    Timed(kC, kR, 1.05, 17, 4);  // the second after it
    EXPECT_EQ(Cell().SampleCount, 4);
    Timed(kC, kR, 1.05, 17, 4);  // stationary again
    EXPECT_EQ(Cell().SampleCount, 4);
    Timed(kC, kR, 1.05, 17);
    EXPECT_EQ(Cell().SampleCount, 5);
}

TEST_F(Controlled, ALockedCellIsNeverSampledNorProcessedNorPredicted) {
    settings["Коэф. обучения соседних РТ"] = "50";
    t.NeighbourLearning = true;
    t.Locked[kK] = true;
    t.Locked[kOtherK] = true;
    Timed(kC, kR, 1.1, NAN, 40);
    EXPECT_EQ(Cell().SampleCount, 0);
    EXPECT_EQ(Cell().RewriteCount, 0);
    EXPECT_EQ(Cell().Correction, 1.0f);
    EXPECT_TRUE(mailbox.posts.empty());
    EXPECT_EQ(imageBytes[kCorrectionAddress + kK], 128);

    // The cell below learns; its locked neighbour gets no prediction, the
    // free one does.
    Timed(kC, kR + 1, 1.1, NAN, 5 + 8);
    EXPECT_EQ(Cell(kC, kR + 1).RewriteCount, 1);
    EXPECT_EQ(t.NeighbourCorrections[kC][kR], 1.0f);
    EXPECT_EQ(t.NeighbourCorrections[kC - 1][kR + 1], 1.0f);
    EXPECT_NE(t.NeighbourCorrections[kC][kR + 2], 1.0f);

    // Unlocked, it learns like any other.
    t.Locked[kK] = false;
    Timed(kC, kR, 1.1, NAN, 5 + 8);
    EXPECT_EQ(Cell().RewriteCount, 1);
}

TEST_F(Controlled, NeighbourPredictionsObeyTheLimits) {
    settings["Коэф. обучения соседних РТ"] = "100";
    t.NeighbourLearning = true;
    t.WorkPointCells[kC][kR + 1].Correction = 1.25f;
    Timed(kC, kR, 1.3, NAN, 5 + 8);
    // × 1.3 wanted; the step gives 1.1 and 1.375, the top 1.3.
    EXPECT_EQ(t.NeighbourCorrections[kC][kR - 1], 1.1f);
    EXPECT_EQ(t.NeighbourCorrections[kC][kR + 1], 1.3f);
}

TEST_F(Controlled, TheChangeViewShowsALearnedCell) {
    view.combo = kChangeViewItem;
    Timed(kC, kR, 1.05, NAN, 5 + 8);
    EXPECT_EQ(view.Cell(kC + 1, kR + 1), "+3,5");
    EXPECT_EQ(t.LoadedCorrection[kK], 128);
}

}  // namespace
}  // namespace korvane::tuning::test
