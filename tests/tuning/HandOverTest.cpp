// The learning step's single cell through the image to the real ECU worker:
// the byte reaches the ECU as one WriteMemoryByAddress.
#include <gtest/gtest.h>

#include <algorithm>

#include "TuningTestSupport.h"
#include "ecu/ECUThread.h"
#include "platform/UiBridge.h"
#include "tests/ecu/EcuTestSupport.h"
#include "tuning/ImageMailbox.h"

namespace korvane::tuning::test {
namespace {

using ecu::Bytes;
using ecu::test::H;
using ecu::test::WithSum;

class HandOver : public ::testing::Test {
  protected:
    HandOver() {
        ecu.On(H("81 10 F1 81 03"), H("83 F1 10 C1 6B 8F 3F"));
        ecu.On(H("83 10 F1 10 81 39 4E"), H("82 F1 10 50 81 54"));
        ecu.On(H("82 10 F1 3E 01 C2"), H("81 F1 10 7E 00"));
        ecu.On(H("84 10 F1 30 0F 06 01 CB"), H("84 F1 10 70 0F 06 01 0B"));
        ecu.On(H("81 10 F1 20 A2"), H("81 F1 10 60 E2"));
        ecu.On(H("81 10 F1 82 04"), H("81 F1 10 C2 44"));
        Bytes frame = H("80 F1 10 35 61 0F");
        frame.resize(57, 0x11);
        ecu.On(H("82 10 F1 21 0F B3"), WithSum(frame));
        // Memory: writes confirmed, reads (the RAM switch reads a few
        // bytes) answered with zeros.
        ecu.OnAny([](const Bytes& f) {
            const bool longFrame = f.size() > 5 && f[0] == 0x80;
            if (f.size() > 4 && f[longFrame ? 4 : 3] == 0x3D) return H("81 F1 10 7D FF");
            if (f.size() == 9 && f[3] == 0x23) {
                Bytes a{static_cast<uint8_t>(0x80 + f[7] + 1), 0xF1, 0x10, 0x63};
                a.resize(a.size() + f[7], 0);
                return WithSum(a);
            }
            return Bytes{};
        });
        w.PortName = "/dev/kline";
        w.PortSpeed = "57600";
        w.PortTimeOut = 20;
        w.PortReadTimeOut = 150;
    }
    std::vector<Bytes> WriteFrames() const {
        std::vector<Bytes> out;
        for (const Bytes& f : ecu.Frames())
            if (f.size() > 4 && f[3] == 0x3D) out.push_back(f);
        return out;
    }

    platform::FakeClock clock;
    platform::FakeSerialPort port{&clock};
    ecu::test::ScriptedEcu ecu{port};
    ecu::test::RecordingView log;
    platform::DirectUiBridge bridge;
    ecu::TECUThread w{bridge, log,
                      [this] { return std::make_unique<platform::ForwardingSerialPort>(port); },
                      clock};
    // The window's part: the image changes, and while a session stands the
    // worker is told.
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
    ImageMailbox mailbox{
        [this] { return w.Status().LinkUp(); },
        [this](uint16_t address, std::span<const uint8_t> bytes) {
            std::copy(bytes.begin(), bytes.end(), image.begin() + address);
            w.Post(ecu::EcuCommand::ImageChanged(address, Bytes(bytes.begin(), bytes.end())));
        }};
};

TEST_F(HandOver, TheCellsByteIsWrittenAtItsRamAddressAndConfirmed) {
    EXPECT_FALSE(mailbox.LinkUp());
    w.Post(ecu::test::OpenAsSet(w));
    w.Pass();
    ASSERT_EQ(w.IsDiagnostic, 1) << ::testing::PrintToString(log.Lines());
    EXPECT_TRUE(mailbox.LinkUp());
    ecu.ClearFrames();

    EXPECT_EQ(mailbox.PostRemake({0x7D, 0x00}, 132), CellWrite::Queued);
    EXPECT_EQ(image[0x7D00], 132);
    w.Pass();  // the worker learns of the change
    w.Pass();  // a good poll, then the write
    EXPECT_EQ(WriteFrames(), (std::vector<Bytes>{WithSum(H("86 10 F1 3D 00 7D 00 01 84"))}));
    const auto reports = log.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, ecu::CommandKind::remake);
    EXPECT_TRUE(reports[0].confirmed);
    EXPECT_EQ(w.Status().owedBytes, 0u);
}

// Cells learned while a table is owed are not lost: everything owed goes
// after the next good poll, the cell in one request, the table in blocks.
// Once the session is closed nothing owed goes any more.
TEST_F(HandOver, CellsAndTablesOwedTogetherAllReachTheEcu) {
    w.Post(ecu::test::OpenAsSet(w));
    w.Pass();
    ASSERT_TRUE(mailbox.LinkUp());
    ecu.ClearFrames();
    ASSERT_NE(w.Post(ecu::EcuCommand::ImageChanged(0x75EF, Bytes(256, 7))), 0u);
    EXPECT_EQ(mailbox.PostRemake({0x7D, 0x2B}, 140), CellWrite::Queued);
    w.Pass();
    w.Pass();
    w.Pass();
    const auto frames = ecu.Frames();
    size_t tableBlocks = 0;
    for (const Bytes& f : frames)
        if (f.size() > 5 && f[0] == 0x80 && f[4] == 0x3D) ++tableBlocks;
    EXPECT_EQ(tableBlocks, 4u);
    EXPECT_EQ(WriteFrames(), (std::vector<Bytes>{WithSum(H("86 10 F1 3D 00 7D 2B 01 8C"))}));
    EXPECT_EQ(w.Status().owedBytes, 0u);

    w.Post(ecu::EcuCommand::Close());
    w.Pass();
    EXPECT_EQ(mailbox.PostRemake({0x7D, 0x2C}, 141), CellWrite::Queued);
    w.Pass();
    w.Pass();
    EXPECT_EQ(WriteFrames().size(), 1u);
}

}  // namespace
}  // namespace korvane::tuning::test
