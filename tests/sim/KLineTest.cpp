// The simulator's own frame codec: lengths, checksums, both answer forms.
#include <gtest/gtest.h>

#include "sim/KLine.h"
#include "sim/SimTestUtil.h"

namespace korvane::sim::test {
namespace {

TEST(SimKLine, FrameLengthFromTheHeader) {
    const struct {
        const char* bytes;
        size_t length;
    } cases[] = {
        {"81 10 F1 81", 5},   // short form
        {"85", 9},            // known from the format byte alone
        {"80 10 F1", 0},      // long form: needs its length byte
        {"80 10 F1 45", 74},  // a 64-byte write
        {"02", 4},            // no address bytes
        {"00", 0},           {"00 03", 6}, {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const Bytes b = Hex(c.bytes);
        EXPECT_EQ(kline::FrameLength(b.data(), b.size()), c.length);
    }
}

TEST(SimKLine, DecodeChecksAddressesAndChecksum) {
    const struct {
        const char* frame;
        bool forEcu;
    } cases[] = {
        {"82 10 F1 3E 01 C2", true},  {"82 10 F1 3E 01 C3", false}, {"82 11 F1 3E 01 C3", false},
        {"82 10 F0 3E 01 C1", false}, {"C2 10 F1 3E 01 02", false}, {"02 3E 01 41", true},
        {"80 10 F1 01 3E C0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame);
        const Bytes b = Hex(c.frame);
        EXPECT_EQ(kline::IsRequestForEcu(kline::Decode(b.data(), b.size())), c.forEcu);
    }
    const Bytes b = Hex("80 10 F1 01 3E C0");
    EXPECT_EQ(kline::Decode(b.data(), b.size()).data, Hex("3E"));
}

TEST(SimKLine, AnswersUseTheShortFormUpTo16Bytes) {
    EXPECT_EQ(ToHex(kline::EncodeAnswer(Hex("C1 6B 8F"))), "83 F1 10 C1 6B 8F 3F");
    EXPECT_EQ(ToHex(kline::EncodeAnswer(Hex("7E"))), "81 F1 10 7E 00");
    const Bytes sixteen(16, 0x01);
    EXPECT_EQ(kline::EncodeAnswer(sixteen)[0], 0x90);
    const Bytes seventeen(17, 0x01);
    const Bytes long17 = kline::EncodeAnswer(seventeen);
    EXPECT_EQ(ToHex(Bytes(long17.begin(), long17.begin() + 4)), "80 F1 10 11");
    EXPECT_EQ(long17.size(), 4u + 17 + 1);
    EXPECT_EQ(long17.back(), static_cast<uint8_t>(0x80 + 0xF1 + 0x10 + 0x11 + 17));
}

}  // namespace
}  // namespace korvane::sim::test
