#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "live/FrameDecoder.h"
#include "live/LiveTexts.h"
#include "live/LiveTick.h"

using namespace korvane::live;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const std::map<size_t, uint8_t>& set, size_t size = kDiagnosticFrameSize) {
    Bytes f(size, 0);
    for (auto [i, b] : set)
        if (i < size) f[i] = b;
    return f;
}

// One row of the frame layout as the grid shows it: the bytes set on an
// otherwise zero frame and the text of the row (comma separator). With a
// narrow-band sensor row 5 carries the ECU's injection-time correction.
struct RowCase {
    const char* name;
    std::map<size_t, uint8_t> bytes;
    int row;
    const char* text;
};
void PrintTo(const RowCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(FrameRows, ByteDecodesIntoItsRow) {
    const RowCase& k = GetParam();
    LiveDecoder decoder;
    const TickOutcome tick =
        decoder.Tick(Frame(k.bytes), 1, OxygenSensor::NarrowBand, LambdaSnapshot{});
    ASSERT_TRUE(tick.frameDecoded);
    const GridTexts texts = ComposeGridTexts(decoder.Values(), tick, ',');
    ASSERT_TRUE(texts[k.row].has_value());
    EXPECT_EQ(*texts[k.row], k.text);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, FrameRows,
    ::testing::Values(
        RowCase{"WorkPoint", {{7, 255}}, 1, "255"}, RowCase{"CoolantLowest", {{8, 0}}, 2, "-40"},
        RowCase{"Coolant", {{8, 135}}, 2, "95"}, RowCase{"AfrByte0", {{9, 0}}, 3, "7,35"},
        RowCase{"AfrByte128", {{9, 128}}, 3, "14,7"}, RowCase{"AfrByte255", {{9, 255}}, 3, "21,99"},
        // 1102.5 and 1837.5 hundredths: halves go to the even neighbour.
        RowCase{"AfrTieDown", {{9, 64}}, 3, "11,02"}, RowCase{"AfrTieUp", {{9, 192}}, 3, "18,38"},
        RowCase{"Correction0", {{18, 0}}, 5, "0,5"},
        RowCase{"Correction255", {{18, 255}}, 5, "1,49609375"},
        RowCase{"Throttle", {{11, 100}}, 6, "100"}, RowCase{"Rpm", {{12, 255}}, 7, "10200"},
        RowCase{"IdleRpm", {{13, 20}}, 8, "800"},
        RowCase{"CycleTimeLowFirst", {{14, 0x10}, {15, 0x27}}, 9, "10000"},
        RowCase{"IacDesired", {{16, 40}}, 10, "40"}, RowCase{"Iac", {{17, 38}}, 11, "38"},
        RowCase{"InjPhase", {{19, 100}}, 13, "300"}, RowCase{"Ign20", {{20, 20}}, 14, "10"},
        RowCase{"Ign127", {{20, 127}}, 14, "63,5"}, RowCase{"Ign128", {{20, 128}}, 14, "-64"},
        RowCase{"Ign254", {{20, 254}}, 14, "-127"}, RowCase{"Ign255", {{20, 255}}, 14, "-127,5"},
        RowCase{"IgnCyl1", {{21, 5}}, 15, "2,5"}, RowCase{"IgnCyl2", {{22, 6}}, 16, "3"},
        RowCase{"IgnCyl3", {{23, 7}}, 17, "3,5"}, RowCase{"IgnCyl4", {{24, 255}}, 18, "127,5"},
        RowCase{"AdcKnock", {{25, 11}}, 19, "11"}, RowCase{"AdcMaf", {{26, 12}}, 20, "12"},
        RowCase{"Battery0", {{27, 0}}, 21, "5,2"}, RowCase{"Battery200", {{27, 200}}, 21, "15,2"},
        RowCase{"Battery3", {{27, 3}}, 21, "5,35"}, RowCase{"AdcRco", {{28, 13}}, 22, "13"},
        RowCase{"AdcTps", {{29, 14}}, 23, "14"}, RowCase{"AdcCoolant", {{30, 15}}, 24, "15"},
        RowCase{"AdcIntakeAir", {{31, 16}}, 25, "16"}, RowCase{"AdcO2Delta", {{32, 17}}, 26, "17"},
        RowCase{"Octane", {{34, 18}}, 27, "18"}, RowCase{"Speed", {{35, 19}}, 28, "19"},
        RowCase{"IdleRpmDesired", {{36, 85}}, 29, "850"},
        RowCase{"IntakeAir", {{37, 20}}, 30, "-20"}, RowCase{"AdcO2", {{38, 21}}, 31, "21"},
        RowCase{"GtcRich", {{39, 0x80}, {40, 0x01}}, 32, "1,5"},
        RowCase{"GtcLean", {{41, 0x00}, {42, 0x01}}, 33, "1"},
        RowCase{"InjPulse", {{43, 0xE8}, {44, 0x03}}, 34, "8"},
        RowCase{"MassAir", {{45, 0x20}, {46, 0x01}}, 35, "28,8"},
        RowCase{"CyclicAir", {{47, 0x90}, {48, 0x01}}, 36, "66,6666666666667"},
        RowCase{"FuelPerHourMax", {{49, 0xFF}, {50, 0xFF}}, 37, "1310,7"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameDecoding, UnusedBytesAndRow12StayOutOfTheGrid) {
    LiveDecoder plain, noisy;
    Bytes all = Frame({});
    for (size_t i : {0, 1, 2, 3, 4, 5, 6, 10, 33}) all[i] = 0xA5;
    plain.Tick(Frame({}), 1, OxygenSensor::NarrowBand, {});
    const TickOutcome tick = noisy.Tick(all, 1, OxygenSensor::NarrowBand, {});
    EXPECT_EQ(noisy.Values(), plain.Values());
    const GridTexts texts = ComposeGridTexts(noisy.Values(), tick, ',');
    EXPECT_FALSE(texts[0].has_value());
    for (int row = 1; row < kGridRows; ++row) EXPECT_EQ(texts[row].has_value(), row != 12) << row;
}

TEST(FrameDecoding, WrongLengthChangesNothingButThePollStillCounts) {
    LiveDecoder decoder;
    decoder.Tick(Frame({{12, 20}, {9, 128}}), 1, OxygenSensor::Lc1, {1, 1, 0, 14.0});
    const LiveValues before = decoder.Values();
    int32_t numlog = 1;
    for (size_t size : {size_t{0}, size_t{1}, size_t{50}, size_t{52}, size_t{255}}) {
        const TickOutcome tick = decoder.Tick(Frame({{12, 99}, {9, 0}}, size), ++numlog,
                                              OxygenSensor::Lc1, {1, 1, 0, 15.0});
        EXPECT_FALSE(tick.frameDecoded) << size;
        EXPECT_TRUE(tick.newPoll) << size;
        EXPECT_FALSE(tick.correctionRow.has_value()) << size;
        EXPECT_FALSE(tick.lc1Taken) << size;
        EXPECT_EQ(decoder.Values(), before) << size;
        for (const auto& text : ComposeGridTexts(decoder.Values(), tick, ','))
            EXPECT_FALSE(text.has_value()) << size;
    }
    EXPECT_EQ(decoder.Polls().FreshTickCount(), 6);
}

// The LC-1 reading is taken only from a healthy link and strictly inside
// 9 < AFR < 20; a refused one keeps the last accepted ratio and row 5.
struct LambdaCase {
    const char* name;
    LambdaSnapshot lc;
    bool taken;
};
void PrintTo(const LambdaCase& c, std::ostream* os) {
    *os << c.name;
}

class LambdaWindow : public ::testing::TestWithParam<LambdaCase> {};

TEST_P(LambdaWindow, MergesOnlyAcceptedReadings) {
    const LambdaCase& k = GetParam();
    LiveDecoder decoder;
    const Bytes frame = Frame({{9, 128}});  // Afr 14.7
    decoder.Tick(frame, 1, OxygenSensor::Lc1, {1, 1, 0, 14.0});
    const TickOutcome tick = decoder.Tick(frame, 2, OxygenSensor::Lc1, k.lc);
    EXPECT_EQ(tick.afrLc1Before, 14.0);
    EXPECT_EQ(decoder.Values().AfrLc1, k.taken ? k.lc.afr : 14.0);
    EXPECT_EQ(tick.correctionRow.has_value(), k.taken);
    EXPECT_EQ(tick.lc1Taken, k.taken);
    if (k.taken) {
        EXPECT_EQ(*tick.correctionRow, k.lc.afr / 14.7);
    }
    EXPECT_FALSE(decoder.NarrowBandMode);
}

INSTANTIATE_TEST_SUITE_P(Readings, LambdaWindow,
                         ::testing::Values(LambdaCase{"Exactly9", {1, 1, 0, 9.0}, false},
                                           LambdaCase{"Just9", {1, 1, 0, 9.01}, true},
                                           LambdaCase{"Just20", {1, 1, 0, 19.99}, true},
                                           LambdaCase{"Exactly20", {1, 1, 0, 20.0}, false},
                                           LambdaCase{"Rich", {1, 1, 0, 7.35}, false},
                                           LambdaCase{"PortClosed", {0, 1, 0, 13.0}, false},
                                           LambdaCase{"NoPackets", {1, 0, 0, 13.0}, false},
                                           LambdaCase{"DataError", {1, 1, 1, 13.0}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameDecoding, GridRow4ShowsTheRatioAcceptedUpToTheLastTick) {
    LiveDecoder decoder;
    const Bytes frame = Frame({{9, 128}});
    TickOutcome tick = decoder.Tick(frame, 1, OxygenSensor::Lc1, {1, 1, 0, 13.5});
    EXPECT_EQ(*ComposeGridTexts(decoder.Values(), tick, ',')[4], "0");
    tick = decoder.Tick(frame, 2, OxygenSensor::Lc1, {1, 1, 0, 14.5});
    EXPECT_EQ(*ComposeGridTexts(decoder.Values(), tick, ',')[4], "13,5");
    EXPECT_EQ(decoder.Values().AfrLc1, 14.5);
}

TEST(FrameDecoding, NarrowBandNeverConsultsTheLc1) {
    LiveDecoder decoder;
    EXPECT_TRUE(decoder.Tick(Frame({{9, 128}}), 1, OxygenSensor::Lc1, {1, 1, 0, 13.5}).lc1Taken);
    EXPECT_FALSE(decoder.NarrowBandMode);

    // Switched to narrow band and reconnected in the same run: the held LC-1
    // ratio is still shown but is no sample for the log.
    decoder.ResetForConnect();
    const TickOutcome tick =
        decoder.Tick(Frame({{9, 128}, {18, 128}}), 2, OxygenSensor::NarrowBand, {1, 1, 0, 15.0});
    EXPECT_TRUE(decoder.NarrowBandMode);
    EXPECT_FALSE(tick.lc1Taken);
    EXPECT_EQ(decoder.Values().AfrLc1, 13.5);
    const GridTexts grid = ComposeGridTexts(decoder.Values(), tick, ',');
    EXPECT_EQ(*grid[4], "13,5");
    EXPECT_EQ(*grid[5], "1");
    const DashboardTexts dash =
        ComposeDashboardTexts(decoder.Values(), OxygenSensor::NarrowBand, ',');
    EXPECT_EQ(dash.afrLc1, "УДК");
    EXPECT_EQ(dash.coef, "1,000");

    // The decoder never clears the flag; a bad frame does not set it; connect does.
    decoder.Tick(Frame({}), 3, OxygenSensor::Lc1, {});
    EXPECT_TRUE(decoder.NarrowBandMode);
    decoder.ResetForConnect();
    decoder.Tick(Frame({}, 50), 1, OxygenSensor::NarrowBand, {});
    EXPECT_FALSE(decoder.NarrowBandMode);
}

TEST(FrameDecoding, OxygenSensorSettingMatchesExactly) {
    EXPECT_EQ(OxygenSensorFromSetting("ШДК LC-1"), OxygenSensor::Lc1);
    for (const char* other : {"УДК", "", "шдк lc-1", "ШДК LC-1 ", "LC-1"})
        EXPECT_EQ(OxygenSensorFromSetting(other), OxygenSensor::NarrowBand) << other;
}

TEST(DashboardFigures, FormatsAndTheLc1BeforeItsFirstReading) {
    LiveDecoder decoder;
    decoder.Tick(Frame({{9, 128}, {12, 20}, {27, 200}, {43, 0xE8}, {44, 0x03}, {20, 254}}), 1,
                 OxygenSensor::Lc1, {1, 1, 1, 14.0});
    DashboardTexts t = ComposeDashboardTexts(decoder.Values(), OxygenSensor::Lc1, ',');
    EXPECT_EQ(t.afrLc1, "0,00");
    EXPECT_EQ(t.coef, "0,000");
    EXPECT_EQ(t.rpm, "800");
    EXPECT_EQ(t.battery, "15,2");
    EXPECT_EQ(t.injection, "8");
    EXPECT_EQ(t.ignition, "-127");
    EXPECT_EQ(t.afr, "14,7");
    EXPECT_EQ(t.coolant, "-40");

    decoder.Tick(Frame({{9, 128}}), 2, OxygenSensor::Lc1, {1, 1, 0, 14.0});
    t = ComposeDashboardTexts(decoder.Values(), OxygenSensor::Lc1, '.');
    EXPECT_EQ(t.afrLc1, "14.00");
    EXPECT_EQ(t.coef, "0.952");
}

TEST(PollTracking, OneTickHandlesAllPollsSinceTheLast) {
    struct Step {
        int32_t numlog;
        bool fresh;
        int32_t seen, freshTicks;
    };
    PollTracker polls;
    const Step steps[] = {{0, false, 0, 0}, {1, true, 1, 1},   {1, false, 1, 1}, {4, true, 4, 2},
                          {3, false, 4, 2}, {-5, false, 4, 2}, {5, true, 5, 3}};
    for (const Step& s : steps) {
        EXPECT_EQ(polls.Observe(s.numlog), s.fresh) << s.numlog;
        EXPECT_EQ(polls.SeenPollCount(), s.seen) << s.numlog;
        EXPECT_EQ(polls.FreshTickCount(), s.freshTicks) << s.numlog;
    }
    // Connect resets both; the worker's counter restarts at 0, and its first
    // poll counts again.
    polls.Reset();
    EXPECT_FALSE(polls.Observe(0));
    EXPECT_TRUE(polls.Observe(1));
    EXPECT_EQ(polls.FreshTickCount(), 1);
}

}  // namespace
