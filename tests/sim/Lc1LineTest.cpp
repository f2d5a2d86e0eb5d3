// The simulated LC-1 on its pseudo-terminal: warm-up, readings, faults.
#include <gtest/gtest.h>

#include "sim/SimTestUtil.h"

namespace korvane::sim::test {
namespace {

struct Packet {
    uint8_t b[6];
    int Function() const { return (b[2] >> 2) & 7; }
    int Word() const { return (b[4] & 0x7F) * 128 + (b[5] & 0x7F); }
    int Multiplier() const { return ((b[2] & 1) << 7) | (b[3] & 0x7F); }
};

// Packets in the stream; the stream must consist of whole packets only.
std::vector<Packet> Packets(const Bytes& stream) {
    std::vector<Packet> out;
    size_t i = 0;
    while (i < stream.size() && stream[i] != 0xB2) ++i;  // joined mid-packet
    for (; i + 6 <= stream.size(); i += 6) {
        EXPECT_EQ(stream[i], 0xB2);
        EXPECT_EQ(stream[i + 1], 0x82);
        Packet p;
        std::copy(stream.begin() + static_cast<long>(i), stream.begin() + static_cast<long>(i + 6),
                  p.b);
        out.push_back(p);
    }
    return out;
}

std::unique_ptr<Simulator> StartLc1(Options o) {
    o.fast = true;
    auto sim = std::make_unique<Simulator>(o);
    std::string error;
    EXPECT_TRUE(sim->Start(&error)) << error;
    return sim;
}

TEST(SimLc1, WarmsUpThenSendsReadings) {
    Options o;
    o.scenario = "idle";
    o.mixture = Mixture::PerCell;  // the cell's own mixture wherever the idle noise puts it
    auto sim = StartLc1(o);
    Line line(sim->Lc1Path(), 19200);
    const auto packets = Packets(line.ReadFor(1300));  // 40 warm-up packets take 0.8 s
    ASSERT_GT(packets.size(), 45u);
    size_t i = 0;
    int lastTemperature = -1;
    for (; i < packets.size() && packets[i].Function() == 4; ++i) {
        EXPECT_EQ(packets[i].b[2], 0x53);
        EXPECT_GE(packets[i].Word(), lastTemperature);
        EXPECT_LE(packets[i].Word(), 1000);
        lastTemperature = packets[i].Word();
    }
    EXPECT_GT(i, 30u);
    EXPECT_EQ(lastTemperature, 1000);
    ASSERT_LT(i, packets.size());
    const auto [column, row] = sim->CurrentCell();
    const double lambda = sim->TrueLambdaAtCell(column, row);
    for (; i < packets.size(); ++i) {
        const Packet& p = packets[i];
        EXPECT_EQ(p.b[2], 0x43);
        EXPECT_EQ(p.b[3], 0x13);
        EXPECT_EQ(p.Multiplier(), 147);
        EXPECT_NEAR((p.Word() + 500) / 1000.0, lambda, 0.004);
    }
}

TEST(SimLc1, FixedLambdaGivesTheWord) {
    Options o;
    o.lc1WarmUp = false;
    auto sim = StartLc1(o);
    sim->SetLc1Lambda(1.0);
    Line line(sim->Lc1Path(), 19200);
    auto packets = Packets(line.ReadFor(200));
    ASSERT_GE(packets.size(), 3u);
    for (const auto& p : packets) EXPECT_EQ(ToHex(Bytes(p.b, p.b + 6)), "B2 82 43 13 03 74");
    sim->SetLc1Lambda(0.85);
    line.ReadFor(60);
    packets = Packets(line.ReadFor(100));
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.back().Word(), 350);
}

TEST(SimLc1, Faults) {
    Options o;
    o.lc1WarmUp = false;
    o.faults.lc1Silence = 1;
    auto sim = StartLc1(o);
    Line line(sim->Lc1Path(), 19200);
    EXPECT_TRUE(line.ReadFor(200).empty());

    Faults f;
    f.lc1Error = 1;
    sim->SetFaults(f);
    const auto packets = Packets(line.ReadFor(300));
    ASSERT_GE(packets.size(), 6u);
    int codes = 0, broken = 0;
    for (const auto& p : packets) {
        // Error reports and garbled readings, each with a word no lambda
        // can have (the program judges the word alone).
        EXPECT_GE(p.Word(), 1540) << ToHex(Bytes(p.b, p.b + 6));
        const bool code = p.Function() != 0;
        const bool bad = p.Function() == 0;
        codes += code;
        broken += bad;
    }
    EXPECT_GT(codes, 0);
    EXPECT_GT(broken, 0);
}

TEST(SimLc1, ReopenedPortFindsNoStaleBytes) {
    Options o;
    o.lc1WarmUp = false;
    auto sim = StartLc1(o);
    {
        Line line(sim->Lc1Path(), 19200);
        EXPECT_FALSE(line.ReadFor(100).empty());
    }
    SleepMs(400);  // 20 packets' time with nobody listening
    const auto t0 = std::chrono::steady_clock::now();
    Line line(sim->Lc1Path(), 19200);
    SleepMs(5);
    const int waiting = line.Port().BytesWaiting();
    const auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    // At most what was sent since the opening (a packet per 20 ms).
    EXPECT_LE(waiting, 6 * (1 + static_cast<int>(ms / 20)));
    EXPECT_FALSE(Packets(line.ReadFor(100)).empty());
}

}  // namespace
}  // namespace korvane::sim::test
