// The synchroniser against a model ECU: whatever the line does to the
// writes, the ECU ends up holding the image over the ranges looked after,
// except where it refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ecu/RamSync.h"

using namespace korvane;
using namespace korvane::ecu;

namespace {

constexpr uint16_t kCorrection = 0x7CF7;
constexpr uint16_t kBcn = 0x75EF;
constexpr uint16_t kIgnition = 0x6DC8;
constexpr uint16_t kCurve = 0x5000;

// A model session: the image, the ECU's RAM, and the synchroniser between.
struct Model {
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize);
    std::vector<uint8_t> ecu = std::vector<uint8_t>(kImageSize);
    RamSync sync;
    int requests = 0;
    std::vector<CommandKind> kinds;

    Model() {
        for (size_t i = 0; i < kImageSize; ++i) image[i] = ecu[i] = static_cast<uint8_t>(i * 13);
    }
    std::vector<RamRange> Tables() const {
        std::vector<RamRange> out;
        for (const RamTable& t : kRamTables)
            out.push_back({t.address, Bytes(image.begin() + t.address,
                                            image.begin() + t.address + kRamTableBytes)});
        return out;
    }
    void Begin() { sync.Begin(Tables()); }
    // A writer stores into the image; the synchroniser is told.
    void Store(uint16_t address, size_t n, uint8_t add) {
        for (size_t i = 0; i < n; ++i)
            image[address + i] = static_cast<uint8_t>(image[address + i] + add);
        sync.Want(address, {image.data() + address, n});
    }
    void ReadBack() {
        for (auto [a, n] : sync.ReadBackRanges(0x60)) sync.ReadBack(a, {ecu.data() + a, n});
    }
    // One round of writes. Answers, one per request in order ('c' when the
    // string runs out): c confirmed, s silence (the line is gone), r
    // refused, n confirmed but the image changed that block meanwhile.
    void Write(const std::string& answers = "") {
        size_t k = 0;
        for (const SyncWrite& w : sync.Plan()) {
            kinds.push_back(w.kind);
            for (const SyncBlock& b : w.blocks) {
                ++requests;
                const char a = k < answers.size() ? answers[k] : 'c';
                ++k;
                if (a == 's') continue;
                if (a == 'r') {
                    sync.Refused(b, 0x31);
                    continue;
                }
                if (a == 'n') Store(b.address, 1, 0x40);
                std::copy(b.bytes.begin(), b.bytes.end(), ecu.begin() + b.address);
                sync.Confirmed(b);
            }
        }
    }
    // Bytes of the looked-after ranges where the ECU differs from the image.
    size_t Differing(uint16_t address, size_t n) const {
        size_t d = 0;
        for (size_t i = address; i < address + n; ++i) d += ecu[i] != image[i];
        return d;
    }
};

struct Case {
    const char* name;
    std::function<void(Model&)> run;
    int requests;      // write requests the ECU received
    size_t owed;       // bytes still owed at the end
    size_t refused;    // refusals recorded
    size_t differing;  // ECU bytes not equal to the image over the three tables + curve
};
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Sync : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(Sync, TheEcuFollowsTheImage) {
    const Case& c = GetParam();
    Model m;
    c.run(m);
    EXPECT_EQ(m.requests, c.requests);
    EXPECT_EQ(m.sync.OwedBytes(), c.owed);
    EXPECT_EQ(m.sync.Refusals().size(), c.refused);
    EXPECT_EQ(m.Differing(kCorrection, 256) + m.Differing(kBcn, 256) + m.Differing(kIgnition, 256) +
                  m.Differing(kCurve, 100),
              c.differing);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Sync,
    ::testing::Values(Case{"AReadBackThatMatchesWritesNothing",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Write();
                           },
                           0, 0, 0, 0},
                      Case{"AReadBackWritesOnlyTheBlocksThatDiffer",
                           [](Model& m) {
                               m.ecu[kBcn + 70] ^= 1;          // BCN block 2
                               m.ecu[kIgnition] ^= 1;          // ignition block 1
                               m.ecu[kCorrection + 200] ^= 1;  // one correction cell
                               m.Begin();
                               m.ReadBack();
                               m.Write();
                           },
                           3, 0, 0, 0},
                      Case{"WithoutAReadBackEverythingKeptIsWritten",
                           [](Model& m) {
                               m.Begin();
                               m.Write();
                           },
                           12, 0, 0, 0},
                      Case{"OneLearnedCellIsOneRequest",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kCorrection + 17, 1, 1);
                               m.Write();
                           },
                           1, 0, 0, 0},
                      Case{"TheSameValueAgainOwesNothing",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kCorrection + 17, 1, 0);
                               m.Write();
                           },
                           0, 0, 0, 0},
                      // The line goes after the second of four BCN blocks: the rest stays
                      // owed and only the rest goes at the next round.
                      Case{"AGiveUpBetweenBlocksLeavesTheRestOwed",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kBcn, 256, 3);
                               m.Write("ccss");
                           },
                           4, 128, 0, 128},
                      Case{"TheRestGoesAtTheNextRound",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kBcn, 256, 3);
                               m.Write("ccss");
                               m.Write();
                           },
                           6, 0, 0, 0},
                      // The image changed a block while it was on the line: the old bytes
                      // are confirmed in the ECU, the new ones still owed and sent next.
                      Case{"ANewerChangeInFlightStaysOwed",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kIgnition, 64, 1);
                               m.Write("n");
                           },
                           1, 1, 0, 1},
                      Case{"ANewerChangeInFlightGoesNext",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kIgnition, 64, 1);
                               m.Write("n");
                               m.Write();
                           },
                           2, 0, 0, 0},
                      // A refusal is final: not sent again, also not after a new change
                      // to the same bytes, while everything else still goes.
                      Case{"ARefusedRangeIsNotRetried",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kCurve, 100, 1);
                               m.Store(kCorrection, 1, 1);
                               m.Write("cr");  // the cell, then the first curve block
                               m.Store(kCurve, 10, 1);
                               m.Write();
                               m.Write();
                           },
                           3, 0, 1, 64},
                      // A close forgets: a new session owes nothing of the old one, and
                      // writes only what its own read-back finds.
                      Case{"ACloseForgetsWhatWasOwed",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kBcn, 256, 3);
                               m.Write("ssss");
                               m.sync.Forget();
                               m.Store(kCorrection, 1, 1);  // at the desk: nothing to follow
                               m.Write();
                           },
                           4, 0, 0, 257},
                      Case{"AReopenStartsFromTheImageAndTheReadBack",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kBcn, 256, 3);
                               m.Write("ssss");
                               m.sync.Forget();
                               m.Store(kCorrection, 1, 1);
                               m.Begin();
                               m.ReadBack();
                               m.Write();
                           },
                           4 + 1 + 4, 0, 0, 0},
                      // A range outside the tables, never known before: only its own
                      // bytes go, never what the image holds around them.
                      Case{"AValueOutsideTheTablesIsItsOwnRequest",
                           [](Model& m) {
                               m.Begin();
                               m.ReadBack();
                               m.Store(kCurve + 3, 2, 9);
                               m.Write();
                           },
                           1, 0, 0, 0}));

TEST(RamSync, PlansKeepTheCommandWordsAndTheirShapes) {
    Model m;
    m.Begin();
    m.ReadBack();
    m.Store(kCorrection + 5, 1, 1);    // one cell
    m.Store(kCorrection + 130, 3, 1);  // three cells in one block
    m.Store(kBcn + 1, 1, 1);
    m.Store(kCurve, 130, 1);
    m.Store(0x608A, 1, 1);
    const auto plan = m.sync.Plan();
    ASSERT_EQ(plan.size(), 5u);
    EXPECT_EQ(plan[0], (SyncWrite{CommandKind::remake,
                                  {{kCorrection + 5, Bytes{m.image[kCorrection + 5]}}}}));
    ASSERT_EQ(plan[1].kind, CommandKind::remakepopr);
    ASSERT_EQ(plan[1].blocks.size(), 1u);
    EXPECT_EQ(plan[1].blocks[0].address, kCorrection + 128);
    EXPECT_EQ(plan[1].blocks[0].bytes.size(), 64u);
    EXPECT_EQ(plan[2].kind, CommandKind::remakegbc);
    EXPECT_EQ(plan[2].blocks[0].address, kBcn);
    ASSERT_EQ(plan[3].kind, CommandKind::correct23DF);
    ASSERT_EQ(plan[3].blocks.size(), 3u);
    EXPECT_EQ(plan[3].blocks[2].bytes.size(), 2u);
    EXPECT_EQ(plan[4], (SyncWrite{CommandKind::correct1DF, {{0x608A, Bytes{m.image[0x608A]}}}}));
}

// A table the session never took over is written byte for byte: its
// unknown neighbours are not filled in with whatever the synchroniser holds.
TEST(RamSync, AnUnknownTableIsNotWrittenWhole) {
    RamSync sync;
    sync.Begin({});
    const uint8_t two[] = {1, 2};
    sync.Want(kBcn + 10, two);
    const auto plan = sync.Plan();
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0], (SyncWrite{CommandKind::remakegbc, {{kBcn + 10, Bytes{1, 2}}}}));
}
