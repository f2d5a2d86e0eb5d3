#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/TextCodec.h"

using namespace korvane::platform;

namespace {

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("korvane_codec_") + std::to_string(::getpid()) + "_" + name))
        .string();
}

struct RoundTripCase {
    const char* name;
    std::string bytes;
    TextEncoding encoding;
};
void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

// "Ecu Com=COM1", "Писать логи=да" in each encoding, byte for byte.
const std::string kCp1251 =
    "Ecu Com=COM1\r\n\xCF\xE8\xF1\xE0\xF2\xFC \xEB\xEE\xE3\xE8=\xE4\xE0\r\n";
const std::string kUtf8 = "Ecu Com=COM1\r\nПисать логи=да\r\n";

std::string Utf16(const std::string& utf8, bool le) {
    std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
    // The test text is ASCII plus Cyrillic in U+0400..U+04FF only.
    for (size_t i = 0; i < utf8.size();) {
        unsigned c = static_cast<unsigned char>(utf8[i]);
        unsigned cp = c;
        if (c >= 0xC0) {
            cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
            i += 2;
        } else {
            ++i;
        }
        char hi = static_cast<char>(cp >> 8), lo = static_cast<char>(cp & 0xFF);
        out += le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

}  // namespace

class TextRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(TextRoundTrip, ReadsAndWritesBackByteForByte) {
    const auto& c = GetParam();
    auto r = DecodeText(c.bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.file.encoding, c.encoding);
    ASSERT_EQ(r.file.lines.size(), 2u);
    EXPECT_EQ(r.file.lines[0], "Ecu Com=COM1");
    EXPECT_EQ(r.file.lines[1], "Писать логи=да");

    const std::string path = TempPath(c.name);
    std::string error;
    ASSERT_TRUE(WriteTextFile(path, r.file, error)) << error;
    std::string back;
    ASSERT_TRUE(ReadBinaryFile(path, back, error));
    EXPECT_EQ(back, c.bytes);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, TextRoundTrip,
    ::testing::Values(RoundTripCase{"cp1251", kCp1251, TextEncoding::Cp1251},
                      RoundTripCase{"utf8", kUtf8, TextEncoding::Utf8},
                      RoundTripCase{"utf8bom", "\xEF\xBB\xBF" + kUtf8, TextEncoding::Utf8Bom},
                      RoundTripCase{"utf16le", Utf16(kUtf8, true), TextEncoding::Utf16LE},
                      RoundTripCase{"utf16be", Utf16(kUtf8, false), TextEncoding::Utf16BE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextCodec, LineEndsOfAnyKindAndNoTrailingEmptyLine) {
    auto r = DecodeText("a=1\nb=2\r\nc=3\rd=4");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.file.lines, (std::vector<std::string>{"a=1", "b=2", "c=3", "d=4"}));
    EXPECT_EQ(r.file.encoding, TextEncoding::Cp1251);  // plain ASCII stays single-byte
    auto empty = DecodeText("");
    ASSERT_TRUE(empty.ok);
    EXPECT_TRUE(empty.file.lines.empty());
    auto blank = DecodeText("a\r\n\r\nb\r\n");
    EXPECT_EQ(blank.file.lines, (std::vector<std::string>{"a", "", "b"}));
}

TEST(TextCodec, CharacterWithoutCp1251FormIsRefusedAndFileKept) {
    const std::string path = TempPath("refuse");
    std::string error;
    TextFile old{{"a=1"}, TextEncoding::Cp1251};
    ASSERT_TRUE(WriteTextFile(path, old, error));
    TextFile bad{{"a=1", "ключ=漢"}, TextEncoding::Cp1251};
    EXPECT_FALSE(WriteTextFile(path, bad, error));
    EXPECT_NE(error.find("2"), std::string::npos);
    std::string back;
    ASSERT_TRUE(ReadBinaryFile(path, back, error));
    EXPECT_EQ(back, "a=1\r\n");
    std::filesystem::remove(path);
}

TEST(TextCodec, MissingFileAndUnwritableFolderGiveTheSystemReason) {
    auto r = ReadTextFile("/nonexistent-korvane/config.ini");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    std::string error;
    EXPECT_FALSE(WriteTextFile("/nonexistent-korvane/config.ini", TextFile{{"a"}}, error));
    EXPECT_FALSE(error.empty());
}
