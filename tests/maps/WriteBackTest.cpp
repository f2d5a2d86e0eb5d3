#include <gtest/gtest.h>

#include <vector>

#include "ecu/ECUThread.h"
#include "maps/TableCodec.h"
#include "maps/WriteBack.h"
#include "platform/UiBridge.h"

using namespace korvane;
using namespace korvane::maps;

namespace {

class NoLog final : public ecu::LogView {
  public:
    void AppendLine(const std::string&) override {}
    void ReplaceLastLine(const std::string&) override {}
    void SetProgress(int, int) override {}
};

// The worker's mailbox as the window sees it; its thread is not started, so
// whatever is posted stays there to be read.
class Mailbox : public ::testing::Test {
  protected:
    platform::DirectUiBridge bridge;
    NoLog log;
    ecu::TECUThread worker{bridge, log};
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);

    void SetUp() override {
        worker.IsComConnected = 1;
        worker.IsECUConnected = 1;
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    ConstImageBytes Image() const { return ConstImageBytes(image.data(), kImageSize); }
};

TEST_F(Mailbox, ValueGoesLowByteFirstWithItsCount) {
    const struct {
        const char* len;
        const char* data;
        std::vector<int32_t> slots;
    } cases[] = {
        {"2", "-1000", {0x18, 0xFC}},
        {"01", "150", {150}},
        {"1", "-1", {0xFF}},
        {"2", "64536", {0x18, 0xFC}},
    };
    for (const auto& c : cases) {
        worker.Command.Clear();
        const HandOverResult r = HandOverValue(worker, "4A", "10", c.len, c.data);
        ASSERT_EQ(r.state, HandOver::Done) << r.error;
        EXPECT_EQ(worker.Command.Word(), "correct1DF");
        EXPECT_EQ(worker.numdata, static_cast<int32_t>(c.slots.size()));
        EXPECT_EQ(worker.numdatastr, c.slots.size());
        EXPECT_EQ(worker.adressdata, (std::array<uint8_t, 2>{0x4A, 0x10}));
        for (size_t k = 0; k < c.slots.size(); ++k) EXPECT_EQ(worker.data[k], c.slots[k]) << c.data;
    }
}

TEST_F(Mailbox, NothingIsPostedWhenBusyDisconnectedOrBad) {
    worker.Command.Post("remake");
    worker.numdata = 77;
    EXPECT_EQ(HandOverValue(worker, "4A", "10", "1", "5").state, HandOver::Busy);
    EXPECT_EQ(worker.Command.Word(), "remake");
    EXPECT_EQ(worker.numdata, 77);  // the worker's parameters are left alone
    const PendingCurveWrite curve{"5C", "00", "16", ""};
    EXPECT_EQ(HandOverCurve(worker, curve, Image()).state, HandOver::Busy);

    worker.Command.Clear();
    worker.IsECUConnected = 0;
    EXPECT_EQ(HandOverValue(worker, "4A", "10", "1", "5").state, HandOver::NotConnected);
    EXPECT_EQ(HandOverCurve(worker, curve, Image()).state, HandOver::NotConnected);
    EXPECT_TRUE(worker.Command.Empty());

    worker.IsECUConnected = 1;
    for (auto [adrf, adrs, len, data] : {std::array<const char*, 4>{"4A", "10", "1", "x"},
                                         {"4a", "10", "1", "5"},
                                         {"4A", "1", "1", "5"},
                                         {"4A", "10", "0", "5"},
                                         {"4A", "10", "5", "5"},
                                         {"FF", "FF", "2", "5"}}) {
        EXPECT_EQ(HandOverValue(worker, adrf, adrs, len, data).state, HandOver::Refused)
            << adrf << adrs << " " << len << " " << data;
        EXPECT_TRUE(worker.Command.Empty());
    }
}

TEST_F(Mailbox, CurveGoesAsWholeBlocksOfTheImage) {
    const struct {
        const char* len;
        int blocks;
    } cases[] = {{"16", 1}, {"64", 1}, {"65", 2}, {"960", 15}};
    for (const auto& c : cases) {
        worker.Command.Clear();
        worker.data2.fill(-1);
        const HandOverResult r = HandOverCurve(worker, {"5C", "00", c.len, ""}, Image());
        ASSERT_EQ(r.state, HandOver::Done) << r.error;
        EXPECT_EQ(worker.Command.Word(), "correct23DF");
        EXPECT_EQ(worker.plusrw, c.blocks);
        EXPECT_EQ(worker.adressdata, (std::array<uint8_t, 2>{0x5C, 0x00}));
        const size_t n = static_cast<size_t>(c.blocks) * 64;
        for (size_t k = 0; k < n; ++k) ASSERT_EQ(worker.data2[k], image[0x5C00 + k]) << k;
        EXPECT_EQ(worker.data2[n], -1);  // nothing beyond the last block
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
        EXPECT_TRUE(worker.Command.Empty());
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
    platform::DirectUiBridge bridge;
    NoLog log;
    ecu::TECUThread worker{bridge, log};
    worker.IsComConnected = 1;
    worker.IsECUConnected = 1;
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
    EXPECT_EQ(worker.data2[0], 128);
    EXPECT_EQ(worker.data2[1], 192);
    EXPECT_EQ(worker.data2[2], 64);
    EXPECT_EQ(worker.data2[3], 0xAA);
}

}  // namespace
