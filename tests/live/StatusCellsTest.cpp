#include <gtest/gtest.h>

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
                  {1, 1, 1, 1, 0, kLc1, 45},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1: прогрев 45%",
                  true},
        CellsCase{"Lc1WarmUpStarts",
                  {1, 1, 1, 1, 1, kLc1, 0},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1: прогрев 0%",
                  true},
        CellsCase{"Lc1WarmUpWithoutPackets",
                  {1, 1, 1, 0, 0, kLc1, 80},
                  kGreen,
                  kGreen,
                  "ONLINE",
                  kYellow,
                  "LC-1 /dev/ttyUSB1",
                  true},
        CellsCase{
            "Lc1ClosedHidesCell", {1, 1, 0, 1, 1, kLc1}, kGreen, kGreen, "ONLINE", {}, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

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
