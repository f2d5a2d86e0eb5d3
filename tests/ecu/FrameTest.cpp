#include <gtest/gtest.h>

#include "EcuTestSupport.h"
#include "ecu/Frame.h"

using namespace korvane::ecu;
using korvane::ecu::test::H;

TEST(HexText, UpperCaseDigitsWithoutSeparatorsAndNullWhenEmpty) {
    EXPECT_EQ(HexText(H("3E 01")), "0x3E01");
    EXPECT_EQ(HexText(H("00 60")), "0x0060");
    EXPECT_EQ(HexText(H("7f 3e 11 ab")), "0x7F3E11AB");
    EXPECT_EQ(HexText(Bytes{}), "null");
}

TEST(BuildFrame, FixedRequestsGoOutByteForByte) {
    struct Case {
        const char* payload;
        const char* frame;
    } cases[] = {
        {"81", "81 10 F1 81 03"},
        {"10 81 0A", "83 10 F1 10 81 0A 1F"},
        {"10 81 26", "83 10 F1 10 81 26 3B"},
        {"10 81 39", "83 10 F1 10 81 39 4E"},
        {"3E 01", "82 10 F1 3E 01 C2"},
        {"30 0F 06 01", "84 10 F1 30 0F 06 01 CB"},
        {"23 00 F3 00 08", "85 10 F1 23 00 F3 00 08 A4"},
        {"21 0F", "82 10 F1 21 0F B3"},
        {"23 00 00 00 60", "85 10 F1 23 00 00 00 60 09"},
        {"20", "81 10 F1 20 A2"},
        {"82", "81 10 F1 82 04"},
        // 16 bytes is the last short form, 17 the first long one.
        {"01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01",
         "90 10 F1 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 A1"},
        {"01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01",
         "80 10 F1 11 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 A3"},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildFrame(H(c.payload)), H(c.frame)) << c.payload;
}

TEST(BuildFrame, SixtyFourByteWriteUsesTheLongFormWithItsLengthByte) {
    Bytes payload = H("3D 00 61 F0 40");
    payload.resize(69, 0x00);
    const Bytes frame = BuildFrame(payload);
    ASSERT_EQ(frame.size(), 74u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 9), H("80 10 F1 45 3D 00 61 F0 40"));
    EXPECT_EQ(frame.back(), 0x94);
}

TEST(BuildFrame, NothingForPayloadsNoFrameCanCarry) {
    EXPECT_TRUE(BuildFrame(Bytes{}).empty());
    EXPECT_TRUE(BuildFrame(Bytes(256, 0x01)).empty());
    EXPECT_EQ(BuildFrame(Bytes(255, 0x00)).size(), 260u);
}

TEST(ParseFrame, ValidatesLengthAndChecksum) {
    struct Case {
        const char* bytes;
        bool valid;
        const char* data;
        size_t size;
    } cases[] = {
        {"83 F1 10 C1 6B 8F 3F", true, "C1 6B 8F", 7},
        {"81 F1 10 7E 00", true, "7E", 5},                 // checksum wraps past 0x100
        {"80 F1 10 03 C1 6B 8F 3F", true, "C1 6B 8F", 8},  // length from the fourth byte
        {"81 F1 10 7E 00 55 66", true, "7E", 5},           // bytes after the frame stay unread
        {"80 F1 10 00 81", true, "", 5},
        {"83 F1 10 C1 6B 8F 40", false, "", 0},  // bad checksum
        {"83 F1 10 C1 6B 8F", false, "", 0},     // checksum missing
        {"85 10 F1 23 00", false, "", 0},        // cut short
        {"80 F1 10", false, "", 0},              // long form without its length byte
        {"80 F1 10 61 63 00", false, "", 0},
        {"81 F1", false, "", 0},
        {"", false, "", 0},
    };
    for (const auto& c : cases) {
        const auto frame = ParseFrame(H(c.bytes));
        ASSERT_EQ(frame.has_value(), c.valid) << c.bytes;
        if (!frame) continue;
        EXPECT_EQ(frame->data, H(c.data)) << c.bytes;
        EXPECT_EQ(frame->size, c.size) << c.bytes;
    }
}

TEST(ParseFrame, FullDiagnosticAnswer) {
    Bytes answer = H("80 F1 10 35 61 0F");
    for (int i = 0; i < 51; ++i) answer.push_back(static_cast<uint8_t>(i * 5));
    answer = korvane::ecu::test::WithSum(answer);
    ASSERT_EQ(answer.size(), 58u);
    const auto frame = ParseFrame(answer);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->data.size(), 53u);
    EXPECT_EQ(frame->data[2], 0);
    EXPECT_EQ(frame->data[52], 250);
}
