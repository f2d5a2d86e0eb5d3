// The whole-table changes: what reaches the image (and so the ECU's RAM),
// the worker's mailbox and the log, what waits for the ECU's confirmation,
// and how the rewrite timers behave.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "tuning/WriteBack.h"

using namespace korvane::tuning;

namespace {

struct FakeTimer final : TimerControl {
    bool active = false;
    int interval = 0;
    bool Active() const override { return active; }
    void Start() override { active = true; }
    void Stop() override { active = false; }
    int Interval() const override { return interval; }
    void SetInterval(int ms) override { interval = ms; }
};

struct Post {
    std::string word;
    uint16_t address = 0;
    std::vector<uint8_t> bytes;
    std::optional<uint8_t> lengthByte;
    bool engineRunning = false;  // at the moment of the post
};

// Stands in for the worker: holds a word until the test (or a wait) frees it.
struct RecordingEcu final : EcuWriter {
    bool linkUp = true;
    std::string pending;
    std::vector<Post> posts;
    const FakeTimer* engine = nullptr;
    bool LinkUp() const override { return linkUp; }
    std::string Pending() const override { return pending; }
    bool PostIfEmpty(const std::string& word, uint16_t address, std::span<const uint8_t> bytes,
                     std::optional<uint8_t> lengthByte) override {
        if (!pending.empty()) return false;
        posts.push_back({word,
                         address,
                         {bytes.begin(), bytes.end()},
                         lengthByte,
                         engine != nullptr && engine->active});
        pending = word;
        return true;
    }
};

struct RecordingHost final : WriteBackHost {
    std::vector<std::string> log;
    std::vector<int> waits;
    std::vector<std::pair<int, int>> rewritten;
    std::function<void()> onWait;  // what happens in the world while the window waits
    void Wait(int ms) override {
        waits.push_back(ms);
        if (onWait) onWait();
    }
    void Log(const std::string& line) override { log.push_back(line); }
    void CellRewritten(int c, int r) override { rewritten.emplace_back(c, r); }
};

// One change of the image, as the store was told of it.
struct Stored {
    uint16_t address = 0;
    std::vector<uint8_t> bytes;
};

struct Rig {
    std::unique_ptr<TuningTables> tables = std::make_unique<TuningTables>();
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
    std::vector<Stored> stores;
    RecordingEcu ecu;
    RecordingHost host;
    FakeTimer engine, timer4, timer6;
    WriteBack wb{*tables,
                 ImageSpan(image.data(), kImageSize),
                 [this](uint16_t address, std::span<const uint8_t> bytes) {
                     std::copy(bytes.begin(), bytes.end(), image.begin() + address);
                     stores.push_back({address, {bytes.begin(), bytes.end()}});
                 },
                 ecu,
                 host,
                 WriteBackTimers{engine, timer4, timer6}};

    explicit Rig(int bcnInterval = 120000, int neighbourInterval = 60000) {
        ecu.engine = &engine;
        wb.SetIntervals(bcnInterval, neighbourInterval);
        engine.active = true;
        tables->TuningActive = true;
        for (auto& column : tables->WorkPointCells)
            for (auto& cell : column) cell.Correction = 1.0f;
        for (int c = 0; c < kGridSize; ++c)
            for (int r = 0; r < kGridSize; ++r) {
                tables->NeighbourCorrections[c][r] = 1.0f;
                tables->BcnTable[c][r] = {100.0f, 100.0f};
            }
        // The tables come from an image with a sound correction table.
        std::fill_n(image.begin() + kCorrectionAddress, kCellCount, uint8_t{128});
        tables->SourceImage = CheckCorrectionTable(CorrectionTable());
    }
    std::span<const uint8_t, kCellCount> CorrectionTable() const {
        return std::span<const uint8_t, kCellCount>(image.data() + kCorrectionAddress, kCellCount);
    }
    int Bcn(int k) const { return image[kBcnAddress + k]; }
    int BcnCopy(int k) const { return image[kBcnCopyAddress + k]; }
};

}  // namespace

TEST(TableBytes, ValuesBecomeTheirBytesAndStayWithinOne) {
    struct Case {
        const char* what;
        uint8_t (*convert)(float);
        float value;
        int byte;
    } cases[] = {
        {"BCN 120", BcnByte, 120.0f, 45},
        {"BCN 100.1 (37.5375)", BcnByte, 100.1f, 38},
        {"BCN half to even (4 -> 1.5)", BcnByte, 4.0f, 2},
        {"BCN above the byte", BcnByte, 1000.0f, 255},
        {"BCN negative", BcnByte, -8.0f, 0},
        {"correction 1.0", CorrectionByte, 1.0f, 128},
        {"correction 1.035", CorrectionByte, 1.035f, 132},
        {"correction at its upper limit", CorrectionByte, 1.95f, 250},
        {"correction at its lower limit", CorrectionByte, 0.25f, 32},
        {"correction beyond a byte", CorrectionByte, 2.5f, 255},
        {"ignition 20", IgnitionByte, 20.0f, 40},
        {"ignition half to even", IgnitionByte, 10.25f, 20},
        {"ignition 127.5", IgnitionByte, 127.5f, 255},
        {"ignition above 127.5", IgnitionByte, 140.0f, 255},
        {"ignition negative", IgnitionByte, -3.0f, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.convert(c.value), c.byte) << c.what;
}

// One BCN tick from a given state.
struct BcnTickCase {
    const char* name;
    int changedCells;  // cells whose Learned moves to 120
    bool linkUp = true;
    bool engineRunning = true;
    bool tuning = true;
    // Expected:
    const char* line = nullptr;  // the one log line, or none
    bool stored = false;
};

void PrintTo(const BcnTickCase& c, std::ostream* os) {
    *os << c.name;
}

class BcnTick : public ::testing::TestWithParam<BcnTickCase> {};

// A tick puts what was learned into the image (the ECU's RAM follows); it
// counts nothing itself: GBCRec counts the ECU's confirmations.
TEST_P(BcnTick, StoresWhatChanged) {
    const BcnTickCase& p = GetParam();
    Rig rig;
    rig.timer4.interval = 120000;
    rig.timer4.active = true;
    rig.ecu.linkUp = p.linkUp;
    rig.engine.active = p.engineRunning;
    rig.tables->TuningActive = p.tuning;
    const int cells[] = {0, 17, 255};
    for (int i = 0; i < p.changedCells; ++i)
        rig.tables->BcnTable[cells[i] / 16][cells[i] % 16].Learned = 120.0f;

    rig.wb.Timer4Timer();

    EXPECT_TRUE(rig.timer4.active) << "Timer4 runs on after every tick";
    EXPECT_EQ(rig.timer4.interval, 120000);
    if (p.line)
        EXPECT_EQ(rig.host.log, std::vector<std::string>{p.line});
    else
        EXPECT_TRUE(rig.host.log.empty());
    EXPECT_TRUE(rig.ecu.posts.empty()) << "no writer posts a write of its own";
    EXPECT_EQ(rig.tables->GbcRecCount, 0);
    ASSERT_EQ(rig.stores.size(), p.stored ? 1u : 0u);
    const bool guardsHeld = p.linkUp && p.engineRunning && p.tuning;
    for (int i = 0; i < p.changedCells; ++i) {
        const auto& cell = rig.tables->BcnTable[cells[i] / 16][cells[i] % 16];
        EXPECT_EQ(cell.Current, guardsHeld ? 120.0f : 100.0f);
    }
    if (p.stored) {
        EXPECT_EQ(rig.stores[0].address, kBcnAddress);
        ASSERT_EQ(rig.stores[0].bytes.size(), 256u);
        EXPECT_EQ(rig.Bcn(1), 38);  // 100 × 3 / 8 = 37.5, to even
        for (int i = 0; i < p.changedCells; ++i) {
            EXPECT_EQ(rig.Bcn(cells[i]), 45);
            EXPECT_EQ(rig.BcnCopy(cells[i]), 45);
        }
        EXPECT_EQ(rig.BcnCopy(1), 38);
    } else {
        EXPECT_EQ(rig.Bcn(cells[0]), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BcnTick,
    ::testing::Values(BcnTickCase{.name = "NothingLearned", .changedCells = 0},
                      BcnTickCase{.name = "OneCellLearned",
                                  .changedCells = 1,
                                  .line = "Перезаписываю GBC(Новых= 1)",
                                  .stored = true},
                      BcnTickCase{.name = "ThreeCellsLearned",
                                  .changedCells = 3,
                                  .line = "Перезаписываю GBC(Новых= 3)",
                                  .stored = true},
                      BcnTickCase{.name = "LinkDown", .changedCells = 1, .linkUp = false},
                      BcnTickCase{
                          .name = "EngineTimerStopped", .changedCells = 1, .engineRunning = false},
                      BcnTickCase{.name = "NotTuning", .changedCells = 1, .tuning = false}),
    [](const auto& info) { return std::string(info.param.name); });

// GBCRec and «Вернуть поправку»'s lines follow what the ECU confirmed, not
// the tick or the click.
TEST(Confirmations, CountsAndLinesFollowTheEcu) {
    using korvane::ecu::CommandKind;
    using korvane::ecu::SyncReport;
    Rig rig;
    rig.tables->BcnTable[3][4].Learned = 120.0f;
    rig.wb.Timer4Timer();
    EXPECT_EQ(rig.tables->GbcRecCount, 0);
    rig.wb.Synced(SyncReport{CommandKind::remakegbc, kBcnAddress, 128, false, false, 0});
    EXPECT_EQ(rig.tables->GbcRecCount, 0) << "given up between blocks";
    rig.wb.Synced(SyncReport{CommandKind::remakegbc, kBcnAddress + 128, 128, true, false, 0});
    EXPECT_EQ(rig.tables->GbcRecCount, 1);
    rig.wb.Synced(SyncReport{CommandKind::remakepopr, kCorrectionAddress, 64, true, false, 0});
    EXPECT_EQ(rig.tables->GbcRecCount, 1);

    rig.tables->LoadedCorrection.fill(128);
    rig.tables->LoadedBcn.fill(45);
    rig.image[kCorrectionAddress + 9] = 140;
    rig.host.log.clear();
    ASSERT_EQ(rig.wb.RestoreLoaded(), 2);
    EXPECT_TRUE(rig.host.log.empty());
    rig.wb.Synced(SyncReport{CommandKind::remake, kCorrectionAddress + 9, 1, false, true, 0x31});
    EXPECT_TRUE(rig.host.log.empty()) << "refused: not back in the ECU";
    rig.wb.Synced(SyncReport{CommandKind::remake, kCorrectionAddress + 9, 1, true, false, 0});
    rig.wb.Synced(SyncReport{CommandKind::remakegbc, kBcnAddress, 256, true, false, 0});
    rig.wb.Synced(SyncReport{CommandKind::remakegbc, kBcnAddress, 256, true, false, 0});
    EXPECT_EQ(rig.host.log, (std::vector<std::string>{
                                "Поправка возвращена к загруженной прошивке (ячеек изменено: 1)",
                                "БЦН возвращен к загруженной прошивке (ячеек изменено: 255)"}));
}

TEST(CorrectionPlausibility, EveryByteWithinAQuarterAndOnePointNineFive) {
    struct Case {
        const char* what;
        int cell;      // -1: none changed
        uint8_t byte;  // the byte put there; the rest are 128
        bool plausible;
    } cases[] = {
        {"all 1.0", -1, 128, true},
        {"0.25 exactly", 7, 32, true},
        {"just below 0.25", 7, 31, false},
        {"1.95 rounded down", 200, 249, true},
        {"1.95 as written", 200, 250, true},
        {"just above 1.95", 200, 251, false},
        {"zero in the last cell", 255, 0, false},
        {"a full byte", 0, 255, false},
    };
    for (const Case& c : cases) {
        TableBytes table;
        table.fill(128);
        if (c.cell >= 0) table[c.cell] = c.byte;
        const CorrectionCheck check = CheckCorrectionTable(table);
        EXPECT_EQ(check.Plausible(), c.plausible) << c.what;
        EXPECT_EQ(CorrectionProblem(check).empty(), c.plausible) << c.what;
        if (!c.plausible) {
            EXPECT_EQ(check.outside, 1) << c.what;
            EXPECT_EQ(check.firstCell, c.cell) << c.what;
            EXPECT_NE(CorrectionProblem(check).find(" " + std::to_string(c.byte) + " в строке"),
                      std::string::npos)
                << CorrectionProblem(check);
        }
    }
    TableBytes zeros{};
    EXPECT_EQ(CheckCorrectionTable(zeros).outside, 256);
    EXPECT_FALSE(CorrectionCheck{}.Plausible()) << "tables never taken from an image";
}

// Every whole-table write refuses tables of an implausible image: nothing
// reaches the image (nor so the ECU), one line says why, and the next tick
// does not repeat it.
TEST(CorrectionPlausibility, NoWholeTableWriteFromAnImplausibleImage) {
    struct Case {
        const char* what;
        std::function<void(Rig&)> write;
        const char* line;
    } cases[] = {
        {"correction table", [](Rig& rig) { rig.stores.resize(rig.wb.pishupopr().size()); },
         "Поправка не записана: "},
        {"BCN rewrite", [](Rig& rig) { rig.wb.Timer4Timer(); }, "GBC не записано: "},
        {"neighbour rewrite", [](Rig& rig) { rig.wb.Timer6Timer(); }, "РТ не записаны: "},
        {"restore", [](Rig& rig) { rig.wb.RestoreLoaded(); }, "Поправка не возвращена: "},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.image[kCorrectionAddress + CellIndex(3, 5)] = 0;  // one empty cell
        rig.tables->SourceImage = CheckCorrectionTable(rig.CorrectionTable());
        rig.tables->BcnTable[1][1].Learned = 120.0f;
        rig.tables->NeighbourCorrections[1][1] = 1.1f;
        const std::vector<uint8_t> before = rig.image;

        c.write(rig);
        c.write(rig);

        EXPECT_TRUE(rig.ecu.posts.empty()) << c.what;
        EXPECT_TRUE(rig.stores.empty()) << c.what;
        EXPECT_EQ(rig.image, before) << c.what;
        const auto refusals =
            std::count_if(rig.host.log.begin(), rig.host.log.end(),
                          [&](const std::string& l) { return l.rfind(c.line, 0) == 0; });
        // The rewrites say it once; a write the user or the connect asks for, each time.
        const bool asked =
            std::string(c.what) == "correction table" || std::string(c.what) == "restore";
        EXPECT_EQ(refusals, asked ? 2 : 1) << c.what;
        const auto line =
            std::find_if(rig.host.log.begin(), rig.host.log.end(),
                         [&](const std::string& l) { return l.rfind(c.line, 0) == 0; });
        ASSERT_NE(line, rig.host.log.end()) << c.what;
        EXPECT_NE(line->find("0 в строке 6, столбце 4"), std::string::npos) << *line;
        EXPECT_TRUE(rig.engine.active) << c.what;

        // The same write goes through once the tables come from a sound image.
        rig.image[kCorrectionAddress + CellIndex(3, 5)] = 128;
        rig.tables->SourceImage = CheckCorrectionTable(rig.CorrectionTable());
        c.write(rig);
        EXPECT_FALSE(rig.stores.empty()) << c.what;
    }
}

TEST(NeighbourRewrite, ThreeCellsTakeTheirPredictionAndTheTableIsStored) {
    Rig rig;
    rig.timer6.interval = 60000;
    rig.timer6.active = true;
    const std::pair<int, int> cells[] = {{0, 0}, {5, 9}, {15, 15}};
    for (auto [c, r] : cells) {
        rig.tables->NeighbourCorrections[c][r] = 1.1f;
        rig.tables->WorkPointCells[c][r].SampleCount = 4;
        rig.tables->WorkPointCells[c][r].RewriteCount = 2;
    }
    rig.tables->WorkPointCells[1][1].SampleCount = 3;  // untouched cell keeps its samples

    rig.wb.Timer6Timer();

    EXPECT_EQ(rig.host.log, std::vector<std::string>{"Перезаписываю соседнии РТ= (3)"});
    ASSERT_EQ(rig.stores.size(), 1u);
    const Stored& post = rig.stores[0];
    EXPECT_EQ(post.address, kCorrectionAddress);
    EXPECT_TRUE(rig.engine.active);
    ASSERT_EQ(post.bytes.size(), 256u);
    for (int k = 0; k < 256; ++k) {
        const bool changed = k == 0 || k == CellIndex(5, 9) || k == 255;
        EXPECT_EQ(post.bytes[k], changed ? 141 : 128) << k;  // 1.1 × 128 = 140.8
        EXPECT_EQ(rig.image[kCorrectionAddress + k], post.bytes[k]) << k;
    }
    for (auto [c, r] : cells) {
        EXPECT_EQ(rig.tables->WorkPointCells[c][r].Correction, 1.1f);
        EXPECT_EQ(rig.tables->WorkPointCells[c][r].SampleCount, 0);
        EXPECT_EQ(rig.tables->WorkPointCells[c][r].RewriteCount, 3);
    }
    EXPECT_EQ(rig.tables->WorkPointCells[1][1].SampleCount, 3);
    EXPECT_EQ(rig.host.rewritten, (std::vector<std::pair<int, int>>{{0, 0}, {5, 9}, {15, 15}}));
    EXPECT_TRUE(rig.timer6.active);
    EXPECT_EQ(rig.timer6.interval, 60000);
}

TEST(NeighbourRewrite, PredictionsBeyondTheCorrectionLimitsAreHeldAtThem) {
    Rig rig;
    rig.tables->NeighbourCorrections[4][4] = 2.6f;
    rig.tables->NeighbourCorrections[4][5] = 0.01f;
    rig.wb.Timer6Timer();
    ASSERT_EQ(rig.stores.size(), 1u);
    EXPECT_EQ(rig.stores[0].bytes[CellIndex(4, 4)], 250);
    EXPECT_EQ(rig.stores[0].bytes[CellIndex(4, 5)], 32);  // 0.25, the lowest a table check accepts
    EXPECT_EQ(rig.tables->WorkPointCells[4][4].Correction, 1.95f);
    // Held values count as taken over: the next tick finds nothing new.
    rig.wb.Timer6Timer();
    EXPECT_EQ(rig.stores.size(), 1u);
}

TEST(NeighbourRewrite, NothingHappensWithoutLinkOrTuning) {
    for (int variant = 0; variant < 3; ++variant) {
        Rig rig;
        rig.tables->NeighbourCorrections[1][2] = 1.2f;
        if (variant == 0) rig.ecu.linkUp = false;
        if (variant == 1) rig.engine.active = false;
        if (variant == 2) rig.tables->TuningActive = false;
        rig.wb.Timer6Timer();
        EXPECT_TRUE(rig.stores.empty()) << variant;
        EXPECT_TRUE(rig.host.log.empty()) << variant;
        EXPECT_EQ(rig.tables->WorkPointCells[1][2].Correction, 1.0f) << variant;
        EXPECT_TRUE(rig.timer6.active) << variant;
    }
}

// The tables a session starts from: the image's, each whole, and nothing
// written by the call itself (the session reads them back first).
TEST(SessionTables, TheImagesThreeTablesOrWhatIsPlausibleOfThem) {
    Rig rig;
    for (int k = 0; k < 256; ++k) {
        rig.image[kCorrectionAddress + k] = static_cast<uint8_t>(kPlausibleCorrectionLow + k % 200);
        rig.image[kBcnAddress + k] = static_cast<uint8_t>(k);
        rig.image[kIgnitionAddress + k] = static_cast<uint8_t>(255 - k);
    }
    auto tables = rig.wb.pishupopr();
    ASSERT_EQ(tables.size(), 3u);
    EXPECT_EQ(tables[0].address, kCorrectionAddress);
    EXPECT_EQ(tables[1].address, kBcnAddress);
    EXPECT_EQ(tables[2].address, kIgnitionAddress);
    for (const auto& t : tables)
        EXPECT_TRUE(std::equal(t.bytes.begin(), t.bytes.end(), rig.image.begin() + t.address));
    EXPECT_EQ(rig.host.log, std::vector<std::string>{"Записываю поправку"});
    EXPECT_TRUE(rig.ecu.posts.empty());
    EXPECT_TRUE(rig.stores.empty());

    // A correction table that would starve the engine stays out, with a line.
    rig.host.log.clear();
    rig.image[kCorrectionAddress + 40] = 0;
    tables = rig.wb.pishupopr();
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0].address, kBcnAddress);
    ASSERT_EQ(rig.host.log.size(), 1u);
    EXPECT_EQ(rig.host.log[0].rfind("Поправка не записана: ", 0), 0u);
}

TEST(TuningStart, WritesTheControlByteThroughAValueWrite) {
    Rig rig;
    rig.wb.WriteTuningStartByte();
    ASSERT_EQ(rig.ecu.posts.size(), 1u);
    const Post& post = rig.ecu.posts[0];
    EXPECT_EQ(post.word, "correct1DF");
    EXPECT_EQ(post.address, 0x608A);
    EXPECT_EQ(post.bytes, std::vector<uint8_t>{150});
    EXPECT_EQ(post.lengthByte, std::optional<uint8_t>(1));
    EXPECT_FALSE(post.engineRunning);
    EXPECT_EQ(rig.host.waits, (std::vector<int>{200, 200}));
    EXPECT_TRUE(rig.engine.active);

    Rig offline;
    offline.ecu.linkUp = false;
    offline.wb.WriteTuningStartByte();
    EXPECT_TRUE(offline.ecu.posts.empty());
    EXPECT_EQ(offline.host.waits, std::vector<int>{200});
    EXPECT_TRUE(offline.engine.active);
}

TEST(TuningStart, NeighbourLearningFollowsItsCoefficientAndInterval) {
    struct Case {
        const char* text;
        int interval;
        bool converts;
        bool learning;
    } cases[] = {
        {"", 60000, true, false},          // shipped blank: off
        {"0", 60000, true, false},         // "Коэф." 0: Timer6 stops
        {"30", 60000, true, true},         //
        {"12,5", 60000, true, true},       // either decimal separator
        {"30", 0, true, false},            // no interval: nothing would bring the predictions over
        {"тридцать", 60000, false, true},  // refused: the state before stays
    };
    for (const auto& c : cases) {
        Rig rig(120000, c.interval);
        rig.tables->NeighbourLearning = true;
        rig.timer6.active = true;
        EXPECT_EQ(rig.wb.StartRewriteTimers(c.text), c.converts) << c.text;
        EXPECT_EQ(rig.tables->NeighbourLearning, c.learning) << c.text;
        EXPECT_EQ(rig.timer6.active, c.learning) << c.text;
        EXPECT_EQ(rig.timer4.active, c.converts) << c.text;
    }
}

TEST(TuningStop, StopsBothRewritesAndKeepsTheTables) {
    Rig rig;
    rig.timer4.active = rig.timer6.active = true;
    rig.tables->BcnTable[1][1].Learned = 130.0f;
    rig.wb.StopTuning();
    EXPECT_FALSE(rig.tables->TuningActive);
    EXPECT_FALSE(rig.timer4.active);
    EXPECT_FALSE(rig.timer6.active);
    EXPECT_EQ(rig.tables->BcnTable[1][1].Learned, 130.0f);
}

TEST(PartLoadIgnition, InnerColumnsFollowTheAirChargeBetweenTheOuterOnes) {
    Rig rig;
    auto& t = *rig.tables;
    const int r = 6;
    t.IgnitionTable[0][r] = 10;
    t.IgnitionTable[15][r] = 30;
    t.BcnTable[0][r].Current = 100;
    t.BcnTable[15][r].Current = 300;
    t.BcnTable[7][r].Current = 200;
    t.BcnTable[8][r].Current = 100;
    t.BcnTable[9][r].Current = 1500;  // would give 150°, held at 127.5
    const auto imageBefore = rig.image;
    rig.wb.PartLoadIgnition();
    EXPECT_EQ(t.IgnitionTable[7][r], 20.0f);
    EXPECT_EQ(t.IgnitionTable[8][r], 10.0f);
    EXPECT_EQ(t.IgnitionTable[9][r], 127.5f);
    EXPECT_EQ(t.IgnitionTable[0][r], 10.0f);
    EXPECT_EQ(t.IgnitionTable[15][r], 30.0f);
    // A preview: neither the image nor (through it) the running engine get
    // the table before the user confirms it.
    EXPECT_TRUE(rig.stores.empty());
    EXPECT_EQ(rig.image, imageBefore);

    rig.wb.WriteIgnition();
    EXPECT_EQ(rig.image[kIgnitionAddress + CellIndex(7, r)], 40);
    EXPECT_EQ(rig.image[kIgnitionAddress + CellIndex(9, r)], 255);
    EXPECT_EQ(rig.image[kIgnitionAddress + CellIndex(15, r)], 60);
}

TEST(PartLoadIgnition, RowsWithEqualOuterAirChargeKeepTheirValuesWithOneLine) {
    Rig rig;  // every BCN value 100: no row has a slope
    auto& t = *rig.tables;
    for (int c = 0; c < 16; ++c) t.IgnitionTable[c][3] = static_cast<float>(c);
    t.BcnTable[15][0].Current = 200;  // row 0 has one
    t.IgnitionTable[15][0] = 20;
    rig.wb.PartLoadIgnition();
    for (int c = 0; c < 16; ++c) EXPECT_EQ(t.IgnitionTable[c][3], static_cast<float>(c));
    EXPECT_EQ(t.IgnitionTable[1][0], 0.0f);  // B = B0 in row 0
    ASSERT_EQ(rig.host.log.size(), 1u);
    EXPECT_EQ(rig.host.log[0],
              "УОЗ на ЧН: строки 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 не "
              "пересчитаны: БЦН в крайних столбцах одинаков");
}

// The write stores the tables' ignition into the image either way; the
// line that says it goes to the ECU only with a link.
TEST(IgnitionWrite, StoresTheTablesIgnitionWithItsLineOnlyWithALink) {
    for (const bool linkUp : {false, true}) {
        Rig rig;
        rig.tables->IgnitionTable[3][4] = 20.0f;
        rig.ecu.linkUp = linkUp;
        rig.wb.WriteIgnition();
        EXPECT_EQ(rig.host.log, linkUp ? std::vector<std::string>{"Записываем УОЗ на ЧН"}
                                       : std::vector<std::string>{})
            << linkUp;
        ASSERT_EQ(rig.stores.size(), 1u) << linkUp;
        EXPECT_EQ(rig.stores[0].address, kIgnitionAddress);
        EXPECT_EQ(rig.image[kIgnitionAddress + CellIndex(3, 4)], 40) << linkUp;
        EXPECT_TRUE(rig.ecu.posts.empty());
    }
}

#include "tests/support/RecordingEcu.h"
#include "tuning/WorkerEcu.h"

TEST(WorkerHandOver, PostsTypedCommandsAndNeverReplacesOneStillPending) {
    korvane::test::RecordingEcu worker;
    WorkerEcu ecu(worker);
    worker.LinkUp(false);
    EXPECT_FALSE(ecu.LinkUp());
    worker.LinkUp(true);
    EXPECT_TRUE(ecu.LinkUp());

    TableBytes table{};
    for (int k = 0; k < 256; ++k) table[k] = static_cast<uint8_t>(k ^ 0x5A);
    ASSERT_TRUE(ecu.PostIfEmpty("remakegbc", kBcnAddress, table));
    EXPECT_EQ(ecu.Pending(), "remakegbc");

    const uint8_t value[] = {150};
    EXPECT_FALSE(ecu.PostIfEmpty("correct1DF", kTuningByteAddress, value, uint8_t{1}));
    auto posted = worker.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, korvane::ecu::CommandKind::remakegbc);
    EXPECT_EQ(posted[0].bytes, korvane::ecu::Bytes(table.begin(), table.end()));

    ASSERT_TRUE(ecu.PostIfEmpty("correct1DF", kTuningByteAddress, value, uint8_t{1}));
    posted = worker.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, korvane::ecu::CommandKind::correct1DF);
    EXPECT_EQ(posted[0].address, 0x608A);
    EXPECT_EQ(posted[0].lengthByte, 1);
    EXPECT_EQ(posted[0].bytes, korvane::ecu::Bytes{150});

    const std::vector<uint8_t> tooLong(257, 1);
    EXPECT_FALSE(ecu.PostIfEmpty("remakeuoz", kIgnitionAddress, tooLong));
    EXPECT_TRUE(worker.Take().empty());
}

TEST(LockedCells, KeepTheirImageBytesThroughBothRewrites) {
    Rig rig;
    rig.timer6.interval = 60000;
    const int locked = CellIndex(5, 9), free = CellIndex(5, 10);
    rig.tables->Locked[static_cast<size_t>(locked)] = true;
    rig.image[kCorrectionAddress + locked] = 100;
    rig.image[kBcnAddress + locked] = 33;
    // Both cells carry a pending change: the free one is written, the locked
    // one keeps what the image (and so the ECU) holds.
    for (int k : {locked, free}) {
        rig.tables->NeighbourCorrections[k / 16][k % 16] = 1.1f;
        rig.tables->BcnTable[k / 16][k % 16].Learned = 200.0f;
    }

    rig.wb.Timer6Timer();
    ASSERT_EQ(rig.stores.size(), 1u);
    EXPECT_EQ(rig.host.log.back(), "Перезаписываю соседнии РТ= (1)");
    EXPECT_EQ(rig.stores[0].bytes[locked], 100);
    EXPECT_EQ(rig.stores[0].bytes[free], 141);
    EXPECT_EQ(rig.image[kCorrectionAddress + locked], 100);
    EXPECT_EQ(rig.tables->WorkPointCells[5][9].RewriteCount, 0);
    EXPECT_EQ(rig.host.rewritten, (std::vector<std::pair<int, int>>{{5, 10}}));

    rig.wb.Timer4Timer();
    ASSERT_EQ(rig.stores.size(), 2u);
    EXPECT_EQ(rig.host.log.back(), "Перезаписываю GBC(Новых= 1)");
    EXPECT_EQ(rig.stores[1].bytes[locked], 33);
    EXPECT_EQ(rig.stores[1].bytes[free], 75);  // 200 × 3 / 8
    EXPECT_EQ(rig.Bcn(locked), 33);
    EXPECT_EQ(rig.BcnCopy(locked), 33);
}

TEST(RestoreLoaded, PutsTheLoadedTablesInTheImageAndTheTables) {
    Rig rig;
    for (int k = 0; k < kCellCount; ++k) {
        rig.tables->LoadedCorrection[static_cast<size_t>(k)] = 128;
        rig.tables->LoadedBcn[static_cast<size_t>(k)] = 45;
        rig.image[kCorrectionAddress + k] = k == 7 ? 140 : 128;
        rig.image[kBcnAddress + k] = k < 3 ? 50 : 45;
    }
    rig.tables->WorkPointCells[0][7] = {3, 140 / 128.0f, 1.05f, 2, {}};
    rig.tables->NeighbourCorrections[0][7] = 1.2f;
    rig.tables->BcnTable[0][1] = {133.3f, 140.0f};

    EXPECT_EQ(rig.wb.RestoreLoaded(), 2);

    ASSERT_EQ(rig.stores.size(), 2u);
    EXPECT_EQ(rig.stores[0].address, kCorrectionAddress);
    EXPECT_EQ(rig.stores[1].address, kBcnAddress);
    EXPECT_TRUE(rig.ecu.posts.empty());
    EXPECT_TRUE(rig.engine.active);
    for (int k = 0; k < kCellCount; ++k) {
        ASSERT_EQ(rig.image[kCorrectionAddress + k], 128) << k;
        ASSERT_EQ(rig.Bcn(k), 45) << k;
        ASSERT_EQ(rig.BcnCopy(k), 45) << k;
    }
    const WorkPointCell& cell = rig.tables->WorkPointCells[0][7];
    EXPECT_EQ(cell.Correction, 1.0f);
    EXPECT_EQ(cell.RewriteCount, 0);
    EXPECT_EQ(cell.SampleCount, 0);
    EXPECT_EQ(cell.Ratio, 3.0f);
    EXPECT_EQ(rig.tables->NeighbourCorrections[0][7], 1.0f);
    EXPECT_EQ(rig.tables->BcnTable[0][1].Current, 120.0f);
    EXPECT_EQ(rig.tables->BcnTable[0][1].Learned, 120.0f);

    // Without a session nothing changes.
    Rig offline;
    offline.ecu.linkUp = false;
    offline.tables->LoadedCorrection.fill(128);
    EXPECT_EQ(offline.wb.RestoreLoaded(), 0);
    EXPECT_TRUE(offline.stores.empty());
}
