#include <gtest/gtest.h>

#include <vector>

#include "maps/TableCodec.h"
#include "maps/WriteBack.h"

using namespace korvane;
using namespace korvane::maps;
TEST(CurveLogLine, RunsEverythingTogether) {
    EXPECT_EQ(CurveLogLine({"5C", "00", "16", "1281281281281271271261251241231221211201191181170"}),
              "Меняю...5C00длина:16Дата:1281281281281271271261251241231221211201191181170кол:1");
    EXPECT_EQ(CurveLogLine({"10", "00", "65", "1"}), "Меняю...1000длина:65Дата:1кол:2");
}

TEST(WritePath, PreparedCurveStoresItsPointsAndNamesThemInItsLine) {
    // From the grid's texts to the image: only the curve's own bytes change.
    std::vector<uint8_t> image(kImageSize, 0xAA);
    const AttributeList attrs("Коррекция", {{"graf", "2D"},
                                            {"address", "00005C00"},
                                            {"Число_точек_по_оси_X", "3"},
                                            {"Смещение_по_оси_Y", "0"},
                                            {"Шаг_по_Y", "1"},
                                            {"Делитель_шага_по_Y", "128"}});
    const PreparedWrite p = PrepareTableWrite(attrs, {}, {"1", "1,5", "0,5"});
    ASSERT_TRUE(p.error.empty()) << p.error;
    EXPECT_EQ(p.write.address, 0x5C00);
    EXPECT_EQ(p.write.bytes, (std::vector<uint8_t>{128, 192, 64}));
    StoreInImage(p.write, ImageBytes(image.data(), kImageSize));
    const PendingCurveWrite pending{p.write.adrf, p.write.adrs, p.write.lenText, p.write.dataText};
    EXPECT_EQ(CurveLogLine(pending), "Меняю...5C00длина:3Дата:12819264кол:1");
    EXPECT_EQ(image[0x5BFF], 0xAA);
    EXPECT_EQ(image[0x5C02], 64);
    EXPECT_EQ(image[0x5C03], 0xAA);
}
