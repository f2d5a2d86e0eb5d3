#include <gtest/gtest.h>

#include <vector>

#include "live/LinkHealth.h"
#include "live/StatusCells.h"

using namespace korvane::live;

namespace {

struct CellsCase {
    const char* name;
    LinkFlags flags;
    Rgb a, b;
    const char* bText;
    std::optional<Rgb> c;
    const char* cText;
    bool engineMayRun;
};
void PrintTo(const CellsCase& c, std::ostream* os) {
    *os << c.name;
}

class StatusCellsTable : public ::testing::TestWithParam<CellsCase> {};

TEST_P(StatusCellsTable, ColoursAndTextsFollowTheFlags) {
    const CellsCase& k = GetParam();
    const StatusCells cells = ComposeStatusCells(k.flags, "/dev/ttyUSB0");
    EXPECT_EQ(cells.ecuPort.fill, k.a);
    EXPECT_EQ(cells.ecuPort.text, "/dev/ttyUSB0");
    EXPECT_EQ(cells.ecuSession.fill, k.b);
    EXPECT_EQ(cells.ecuSession.text, k.bText);
    ASSERT_EQ(cells.lambda.has_value(), k.c.has_value());
    if (k.c) {
        EXPECT_EQ(cells.lambda->fill, *k.c);
        EXPECT_EQ(cells.lambda->text, k.cText);
    }
    EXPECT_EQ(EngineTimerMayRun(k.flags), k.engineMayRun);
}

const std::string kLc1 = "/dev/ttyUSB1";

INSTANTIATE_TEST_SUITE_P(
    Links, StatusCellsTable,
    ::testing::Values(
        CellsCase{"AllClosed", {0, 0, 0, 0, 0, kLc1}, kYellow, kYellow, "OFFLINE", {}, "", false},
        CellsCase{
            "PortOpenNoSession", {1, 0, 0, 0, 0, kLc1}, kGreen, kYellow, "OFFLINE", {}, "", true},
        CellsCase{"Online", {1, 1, 0, 0, 0, kLc1}, kGreen, kGreen, "ONLINE", {}, "", true},
        // A session flag left over after the port closed still shows what it says.
        CellsCase{"SessionFlagWithoutPort",
                  {0, 1, 0, 0, 0, kLc1},
                  kYellow,
                  kGreen,
                  "ONLINE",
                  {},
                  "",
                  false},
        CellsCase{"Lc1Waiting",
                  {1, 1, 1, 0, 0, kLc1},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1 /dev/ttyUSB1",
                  true},
        CellsCase{"Lc1Good",
                  {1, 1, 1, 1, 0, kLc1},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kGreen,
                  "LC-1 /dev/ttyUSB1",
                  true},
        CellsCase{
            "Lc1Error", {1, 1, 1, 1, 1, kLc1}, kGreen, kGreen, "ONLINE", kRed, "LC-1 ERR", true},
        // An error flag without packets is not an error to show yet.
        CellsCase{"Lc1ErrorNotConnected",
                  {1, 1, 1, 0, 1, kLc1},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1 /dev/ttyUSB1",
                  true},
        // Warming up is a state of its own, even if an error flag was left.
        CellsCase{"Lc1WarmingUp",
                  {1, 1, 1, 1, 0, kLc1, 0, 45},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1: прогрев 45%",
                  true},
        CellsCase{"Lc1WarmUpStarts",
                  {1, 1, 1, 1, 1, kLc1, 0, 0},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1: прогрев 0%",
                  true},
        CellsCase{"Lc1WarmUpWithoutPackets",
                  {1, 1, 1, 0, 0, kLc1, 0, 80},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1 /dev/ttyUSB1",
                  true},
        CellsCase{
            "Lc1ClosedHidesCell", {1, 1, 0, 1, 1, kLc1}, kGreen, kGreen, "ONLINE", {}, "", true},
        // A session that stands but brings no frames is not online.
        CellsCase{
            "NoAnswer", {1, 1, 0, 0, 0, kLc1, 1}, kGreen, kYellow, "НЕТ ОТВЕТА", {}, "", true},
        CellsCase{"NoAnswerAfterSessionEnd",
                  {1, 0, 0, 0, 0, kLc1, 1},
                  kGreen,
                  kYellow,
                  "OFFLINE",
                  {},
                  "",
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

// No valid frame for 1 s and for 5 polls, whichever takes longer; the first
// valid frame brings the link back.
TEST(LinkHealth, GoesStaleAfterASecondAndFivePollsAndComesBackWithAFrame) {
    struct Step {
        int64_t ms;
        int32_t numlog;
        bool frame;
        LinkHealth::Change change;
        bool stale;
    };
    using C = LinkHealth::Change;
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"fast polls: the second decides",
         {{500, 10, false, C::None, false},
          {999, 20, false, C::None, false},
          {1000, 20, false, C::WentStale, true},
          {1050, 21, false, C::None, true},
          {1100, 22, true, C::CameBack, false},
          {2099, 40, false, C::None, false},
          {2100, 40, false, C::WentStale, true}}},
        {"slow polls: the fifth poll decides",
         {{1500, 2, false, C::None, false},
          {4000, 4, false, C::None, false},
          {5000, 5, false, C::WentStale, true}}},
        {"frames keep it live",
         {{900, 5, true, C::None, false},
          {1800, 10, true, C::None, false},
          {2700, 15, true, C::None, false}}},
    };
    for (const auto& c : cases) {
        LinkHealth h;
        h.Reset(0, 0);
        for (const auto& s : c.steps) {
            EXPECT_EQ(h.Observe(s.ms, s.numlog, s.frame), s.change) << c.name << " at " << s.ms;
            EXPECT_EQ(h.Stale(), s.stale) << c.name << " at " << s.ms;
        }
    }
    LinkHealth h;
    h.Reset(0, 0);
    h.Observe(2000, 10, false);
    ASSERT_TRUE(h.Stale());
    h.Reset(3000, 10);  // a new session starts live
    EXPECT_FALSE(h.Stale());
}

TEST(StatusCellsGeometry, CellsSitOnTheFirstThreePanels) {
    const StatusCells cells = ComposeStatusCells({1, 1, 1, 1, 0, "x"}, "COM1");
    EXPECT_EQ(cells.ecuPort.rect, (CellRect{0, 2, 28, 17}));
    EXPECT_EQ(cells.ecuSession.rect, (CellRect{28, 2, 56, 17}));
    EXPECT_EQ(cells.lambda->rect, (CellRect{58, 2, 84, 16}));
    EXPECT_EQ(std::pair(cells.ecuPort.textX, cells.ecuPort.textY), std::pair(5, 2));
    EXPECT_EQ(std::pair(cells.ecuSession.textX, cells.ecuSession.textY), std::pair(33, 2));
    EXPECT_EQ(std::pair(cells.lambda->textX, cells.lambda->textY), std::pair(57, 1));
}

}  // namespace
