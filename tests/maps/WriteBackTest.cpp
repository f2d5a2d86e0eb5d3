#include <gtest/gtest.h>

#include <vector>

#include "maps/TableCodec.h"
#include "maps/WriteBack.h"
#include "tests/support/RecordingEcu.h"

using namespace korvane;
using namespace korvane::maps;
using ecu::Bytes;
using ecu::CommandKind;

namespace {

// The worker as the window sees it: whatever is posted stays there to be
// read.
class Mailbox : public ::testing::Test {
  protected:
    test::RecordingEcu worker;
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);

    void SetUp() override {
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    ConstImageBytes Image() const { return ConstImageBytes(image.data(), kImageSize); }
};

TEST_F(Mailbox, ValueGoesLowByteFirstWithItsCount) {
    const struct {
        const char* len;
        const char* data;
        Bytes slots;
    } cases[] = {
        {"2", "-1000", {0x18, 0xFC}},
        {"01", "150", {150}},
        {"1", "-1", {0xFF}},
        {"2", "64536", {0x18, 0xFC}},
    };
    for (const auto& c : cases) {
        const HandOverResult r = HandOverValue(worker, "4A", "10", c.len, c.data);
        ASSERT_EQ(r.state, HandOver::Done) << r.error;
        const auto posted = worker.Take();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].kind, CommandKind::correct1DF);
        EXPECT_EQ(posted[0].lengthByte, c.slots.size());
        EXPECT_EQ(posted[0].address, 0x4A10);
        EXPECT_EQ(posted[0].bytes, c.slots) << c.data;
    }
}

TEST_F(Mailbox, NothingIsPostedWhenBusyDisconnectedOrBad) {
    worker.Post(ecu::EcuCommand::WriteCell(0x1000, 77));
    EXPECT_EQ(HandOverValue(worker, "4A", "10", "1", "5").state, HandOver::Busy);
    const PendingCurveWrite curve{"5C", "00", "16", ""};
    EXPECT_EQ(HandOverCurve(worker, curve, Image()).state, HandOver::Busy);
    // The worker's own command is left alone.
    const auto posted = worker.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].bytes, Bytes{77});

    worker.status.IsECUConnected = 0;
    EXPECT_EQ(HandOverValue(worker, "4A", "10", "1", "5").state, HandOver::NotConnected);
    EXPECT_EQ(HandOverCurve(worker, curve, Image()).state, HandOver::NotConnected);
    EXPECT_TRUE(worker.Take().empty());

    worker.status.IsECUConnected = 1;
    for (auto [adrf, adrs, len, data] : {std::array<const char*, 4>{"4A", "10", "1", "x"},
                                         {"4a", "10", "1", "5"},
                                         {"4A", "1", "1", "5"},
                                         {"4A", "10", "0", "5"},
                                         {"4A", "10", "5", "5"},
                                         {"FF", "FF", "2", "5"}}) {
        EXPECT_EQ(HandOverValue(worker, adrf, adrs, len, data).state, HandOver::Refused)
            << adrf << adrs << " " << len << " " << data;
        EXPECT_TRUE(worker.Take().empty());
    }
}

TEST_F(Mailbox, CurveGoesAsWholeBlocksOfTheImage) {
    const struct {
        const char* len;
        int blocks;
    } cases[] = {{"16", 1}, {"64", 1}, {"65", 2}, {"960", 15}};
    for (const auto& c : cases) {
        const HandOverResult r = HandOverCurve(worker, {"5C", "00", c.len, ""}, Image());
        ASSERT_EQ(r.state, HandOver::Done) << r.error;
        const auto posted = worker.Take();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].kind, CommandKind::correct23DF);
        EXPECT_EQ(posted[0].address, 0x5C00);
        // Whole blocks, nothing beyond the last one.
        const size_t n = static_cast<size_t>(c.blocks) * 64;
        EXPECT_EQ(posted[0].bytes, Bytes(image.begin() + 0x5C00, image.begin() + 0x5C00 + n));
    }
}

TEST_F(Mailbox, CurveThatWouldPassTheImageOrTheMailboxIsRefused) {
    for (const PendingCurveWrite& p :
         {PendingCurveWrite{"FF", "C8", "16", ""}, PendingCurveWrite{"10", "00", "961", ""},
          PendingCurveWrite{"5C", "00", "0", ""}, PendingCurveWrite{"5C", "00", "x", ""},
          PendingCurveWrite{"5c", "00", "16", ""}}) {
        const HandOverResult r = HandOverCurve(worker, p, Image());
        EXPECT_EQ(r.state, HandOver::Refused) << p.adrf << p.adrs << " " << p.len;
        EXPECT_FALSE(r.error.empty());
        EXPECT_TRUE(worker.Take().empty());
    }
}

TEST(CurveLogLine, RunsEverythingTogether) {
    EXPECT_EQ(CurveLogLine({"5C", "00", "16", "1281281281281271271261251241231221211201191181170"}),
              "Меняю...5C00длина:16Дата:1281281281281271271261251241231221211201191181170кол:1");
    EXPECT_EQ(CurveLogLine({"10", "00", "65", "1"}), "Меняю...1000длина:65Дата:1кол:2");
}

TEST(WritePath, PreparedCurveHandsOverTheStoredBytes) {
    // From the grid's texts to the worker's block: the image carries the new
    // bytes and the block carries the image.
    test::RecordingEcu worker;
    std::vector<uint8_t> image(kImageSize, 0xAA);
    const AttributeList attrs("Коррекция", {{"graf", "2D"},
                                            {"address", "00005C00"},
                                            {"Число_точек_по_оси_X", "3"},
                                            {"Смещение_по_оси_Y", "0"},
                                            {"Шаг_по_Y", "1"},
                                            {"Делитель_шага_по_Y", "128"}});
    const PreparedWrite p = PrepareTableWrite(attrs, {}, {"1", "1,5", "0,5"});
    ASSERT_TRUE(p.error.empty()) << p.error;
    StoreInImage(p.write, ImageBytes(image.data(), kImageSize));
    const PendingCurveWrite pending{p.write.adrf, p.write.adrs, p.write.lenText, p.write.dataText};
    EXPECT_EQ(CurveLogLine(pending), "Меняю...5C00длина:3Дата:12819264кол:1");
    ASSERT_EQ(HandOverCurve(worker, pending, ConstImageBytes(image.data(), kImageSize)).state,
              HandOver::Done);
    const auto posted = worker.Take();
    ASSERT_EQ(posted.size(), 1u);
    ASSERT_EQ(posted[0].bytes.size(), 64u);
    EXPECT_EQ(posted[0].bytes[0], 128);
    EXPECT_EQ(posted[0].bytes[1], 192);
    EXPECT_EQ(posted[0].bytes[2], 64);
    EXPECT_EQ(posted[0].bytes[3], 0xAA);
}

}  // namespace
