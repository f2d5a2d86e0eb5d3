// Loading image files and taking over a read: what lands in the image and
// what stays as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "firmware/FirmwareImage.h"

namespace korvane::firmware {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kOld = 0xA5;

uint8_t FileByte(std::size_t i) {
    return static_cast<uint8_t>(i * 7 + 3);
}

class TempDir {
  public:
    TempDir() {
        static int n = 0;
        path_ = fs::temp_directory_path() /
                ("korvane_fw_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, ec);
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name, std::size_t size) const {
        const fs::path p = path_ / name;
        std::ofstream out(p, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(FileByte(i)));
        return p.string();
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

void FillOld(FirmwareImage& image) {
    for (auto& b : image.Bytes()) b = kOld;
}

struct SizeCase {
    const char* name;
    const char* file;
    std::size_t size;
};
void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadBySize : public ::testing::TestWithParam<SizeCase> {};

// Only a file of exactly the image's size loads, whatever the extension; any
// other size is refused with that size in the reason and the image keeps
// every byte it had.
TEST_P(LoadBySize, OnlyAWholeImageLoads) {
    TempDir dir;
    const SizeCase c = GetParam();
    const std::string path = dir.File(c.file, c.size);
    FirmwareImage image;
    FillOld(image);
    const LoadResult r = image.LoadFile(path);
    const bool whole = c.size == kImageSize;
    EXPECT_EQ(r.ok, whole) << r.error;
    if (!whole) {
        EXPECT_NE(r.error.find("размер " + std::to_string(c.size) + " байт"), std::string::npos)
            << r.error;
        EXPECT_NE(r.error.find("65536"), std::string::npos) << r.error;
    }
    EXPECT_EQ(r.bytesRead, whole ? kImageSize : 0u);
    const auto bytes = image.Bytes();
    for (std::size_t i = 0; i < kImageSize; ++i)
        ASSERT_EQ(bytes[i], whole ? FileByte(i) : kOld) << "offset " << i;
    EXPECT_FALSE(image.FirmwareLoaded) << "the caller decides when the image counts as loaded";
}

INSTANTIATE_TEST_SUITE_P(Files, LoadBySize,
                         ::testing::Values(SizeCase{"Empty", "empty.bin", 0},
                                           SizeCase{"Short", "short.bin", 1000},
                                           SizeCase{"OneLess", "less.bin", kImageSize - 1},
                                           SizeCase{"Exact", "exact.bin", kImageSize},
                                           SizeCase{"Engineering", "exact.bir", kImageSize},
                                           SizeCase{"OneMore", "more.bin", kImageSize + 1},
                                           SizeCase{"Long", "long.bin", 70000}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that cannot be read names the system's reason and leaves the image
// exactly as it was.
TEST(LoadFailure, ReasonGivenAndImageUntouched) {
    TempDir dir;
    const std::string plain = dir.File("plain.bin", 10);
    struct Case {
        std::string path;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {(dir.Path() / "missing.bin").string(), "нет такого файла"},
        {dir.Path().string(), "это папка"},
        {plain + "/inner.bin", "не является папкой"},
        {"", "нет такого файла"},
        {"/dev/zero", "не обычный файл"},
    };
    for (const Case& c : cases) {
        FirmwareImage image;
        FillOld(image);
        const LoadResult r = image.LoadFile(c.path);
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << c.path << ": " << r.error;
        EXPECT_EQ(r.bytesRead, 0u);
        for (uint8_t b : image.Bytes()) ASSERT_EQ(b, kOld) << c.path;
    }
}

TEST(LoadFailure, UnreadableFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
    TempDir dir;
    const std::string path = dir.File("locked.bin", 100);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    FirmwareImage image;
    FillOld(image);
    const LoadResult r = image.LoadFile(path);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("нет прав доступа"), std::string::npos) << r.error;
    for (uint8_t b : image.Bytes()) ASSERT_EQ(b, kOld);
}

// The read's hand-over: at most the image's size, from offset 0.
TEST(Fill, CopiesFromTheStartAndNeverBeyondTheImage) {
    struct Case {
        std::size_t size;
        std::size_t copied;
    };
    for (const Case c : {Case{0, 0}, Case{96, 96}, Case{kImageSize, kImageSize},
                         Case{kImageSize + 100, kImageSize}}) {
        FirmwareImage image;
        FillOld(image);
        std::vector<uint8_t> data(c.size);
        for (std::size_t i = 0; i < c.size; ++i) data[i] = FileByte(i);
        EXPECT_EQ(image.Fill(data), c.copied);
        const auto bytes = image.Bytes();
        for (std::size_t i = 0; i < kImageSize; ++i)
            ASSERT_EQ(bytes[i], i < c.copied ? FileByte(i) : kOld) << c.size << " at " << i;
    }
}

// An edit marks the image changed and names its range once; an edit that
// changes nothing, or one that would reach past the image, does neither.
TEST(Store, MarksChangedAndNamesOnlyRealChanges) {
    FirmwareImage image;
    std::vector<std::pair<std::size_t, std::size_t>> told;
    image.SetChangeListener([&](std::size_t a, std::size_t n) { told.emplace_back(a, n); });
    const std::vector<uint8_t> two{7, 9};
    EXPECT_TRUE(image.Store(0x100, two));
    EXPECT_TRUE(image.Modified());
    EXPECT_EQ(image.Bytes()[0x101], 9);
    image.SetModified(false);
    EXPECT_TRUE(image.Store(0x100, two));  // the same bytes again
    EXPECT_FALSE(image.Modified());
    EXPECT_TRUE(image.Store(kImageSize - 2, two));  // ends exactly at the last byte
    EXPECT_FALSE(image.Store(kImageSize - 1, two));
    EXPECT_FALSE(image.Store(kImageSize + 1, std::span<const uint8_t>{}));
    EXPECT_EQ(image.Bytes()[kImageSize - 1], 9);
    const std::vector<std::pair<std::size_t, std::size_t>> expected{{0x100, 2},
                                                                    {kImageSize - 2, 2}};
    EXPECT_EQ(told, expected);
}

}  // namespace
}  // namespace korvane::firmware
