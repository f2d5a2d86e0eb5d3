#include <gtest/gtest.h>

#include "EcuTestSupport.h"
#include "ecu/PendingWrites.h"

using namespace korvane::ecu;
using korvane::ecu::test::H;
using Block = PendingWrites::Block;

namespace {

struct Write {
    uint16_t address;
    const char* bytes;
    bool confirmed;
};
struct PendingCase {
    const char* name;
    std::vector<Write> writes;
    std::vector<Block> kept;
};
void PrintTo(const PendingCase& c, std::ostream* os) {
    *os << c.name;
}

class Pending : public ::testing::TestWithParam<PendingCase> {};

}  // namespace

TEST_P(Pending, KeepsTheNewestBytesOfWhatWasNotConfirmed) {
    PendingWrites pending;
    for (const Write& w : GetParam().writes) pending.Wrote(w.address, H(w.bytes), w.confirmed);
    EXPECT_EQ(pending.Blocks(), GetParam().kept);
    EXPECT_EQ(pending.Empty(), GetParam().kept.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Pending,
    ::testing::Values(
        PendingCase{"ConfirmedIsNotKept", {{0x7CF7, "80", true}}, {}},
        PendingCase{"UnconfirmedIsKept", {{0x7CF7, "80", false}}, {{0x7CF7, H("80")}}},
        PendingCase{"ConfirmedLaterIsDone", {{0x7CF7, "80", false}, {0x7CF7, "81", true}}, {}},
        PendingCase{"FailedAgainKeepsTheNewestBytesOnce",
                    {{0x7CF7, "80", false}, {0x7D00, "10", false}, {0x7CF7, "82", false}},
                    {{0x7CF7, H("82")}, {0x7D00, H("10")}}},
        // A whole block confirmed over a kept cell: the old cell value must
        // not come back over it later.
        PendingCase{"BlockConfirmedOverAKeptCell",
                    {{0x7CF8, "80", false}, {0x7CF7, "01 02 03 04", true}},
                    {}},
        PendingCase{"CellConfirmedInsideAKeptBlock",
                    {{0x7CF7, "01 02 03 04", false}, {0x7CF8, "99", true}},
                    {{0x7CF7, H("01 99 03 04")}}},
        PendingCase{"BlockConfirmedOverPartOfAKeptBlock",
                    {{0x7CF7, "01 02 03 04", false}, {0x7CF9, "A0 A1 A2 A3", true}},
                    {{0x7CF7, H("01 02 A0 A1")}}},
        PendingCase{"UnconfirmedBlockOverAKeptCellHoldsItsByte",
                    {{0x7CF8, "80", false}, {0x7CF7, "01 02 03 04", false}},
                    {{0x7CF7, H("01 02 03 04")}}},
        PendingCase{"NeighboursStayApart",
                    {{0x7CF7, "01 02", false}, {0x7CF9, "03", false}, {0x7CF6, "00", true}},
                    {{0x7CF7, H("01 02")}, {0x7CF9, H("03")}}},
        PendingCase{"TopOfMemory", {{0xFFFF, "01", false}, {0xFFFE, "02 03", true}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });
