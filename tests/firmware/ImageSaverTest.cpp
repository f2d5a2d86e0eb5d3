// The periodic image copy: where it goes, that it replaces the file whole,
// what is skipped and what a failure leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "firmware/ImageSaver.h"

namespace korvane::firmware {
namespace {

namespace fs = std::filesystem;

struct Folder {
    fs::path path;
    Folder() {
        static int n = 0;
        path = fs::temp_directory_path() /
               ("korvane_save_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string Str() const { return path.string(); }
};

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool HoldsImage(const fs::path& p, const FirmwareImage& image) {
    const auto bytes = ReadAll(p);
    const auto want = image.Bytes();
    return bytes.size() == kImageSize && std::equal(bytes.begin(), bytes.end(), want.begin());
}

ino_t Inode(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::unique_ptr<FirmwareImage> Pattern(uint8_t seed) {
    auto image = std::make_unique<FirmwareImage>();
    auto bytes = image->Bytes();
    for (std::size_t i = 0; i < kImageSize; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
    return image;
}

// Whatever the name holds, the copy stays inside the working folder.
TEST(TargetPath, OnlyTheNamePartCountsInsideTheFolder) {
    struct Case {
        const char* dir;
        const char* name;
        const char* want;
    };
    const Case cases[] = {
        {"/w/d", "j5ls.bin", "/w/d/j5ls.bin"},
        {"/w/d", "ECUram.bin", "/w/d/ECUram.bin"},
        {"/w/d", "/home/u/images/j5ls.bin", "/w/d/j5ls.bin"},
        {"/w/d", "../../etc/x.bin", "/w/d/x.bin"},
        {"/w/d", "sub/x.bir", "/w/d/x.bir"},
        {"/w/d", "", ""},
        {"/w/d", "/", ""},
        {"/w/d", "images/", ""},
        {"/w/d", "..", ""},
        {"/w/d", ".", ""},
        {"", "j5ls.bin", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImageSaver::TargetPath(c.dir, c.name), c.want) << c.dir << " + " << c.name;
}

TEST(Save, WritesTheWholeImageAndSkipsWhatIsAlreadyThere) {
    Folder first, second;
    ImageSaver saver;
    auto image = Pattern(1);
    const fs::path file = first.path / "j5ls.bin";

    SaveOutcome out = saver.Save(image->Bytes(), first.Str(), "j5ls.bin");
    ASSERT_EQ(out.kind, SaveOutcome::kSaved) << out.error;
    EXPECT_EQ(out.path, file.string());
    EXPECT_TRUE(HoldsImage(file, *image));
    EXPECT_EQ(std::distance(fs::directory_iterator(first.path), fs::directory_iterator()), 1)
        << "no temporary file stays behind";

    // Same bytes, same place: the file is left alone (a rewrite would be a
    // new file under the name).
    const ino_t before = Inode(file);
    EXPECT_EQ(saver.Save(image->Bytes(), first.Str(), "j5ls.bin").kind, SaveOutcome::kUnchanged);
    EXPECT_EQ(Inode(file), before);

    // One byte changed: written again.
    image->Bytes()[kImageSize - 1] ^= 0xFF;
    EXPECT_EQ(saver.Save(image->Bytes(), first.Str(), "j5ls.bin").kind, SaveOutcome::kSaved);
    EXPECT_TRUE(HoldsImage(file, *image));

    // A new folder: written there, the old copy stays as it was.
    const auto oldCopy = ReadAll(file);
    auto other = Pattern(2);
    EXPECT_EQ(saver.Save(other->Bytes(), second.Str(), "j5ls.bin").kind, SaveOutcome::kSaved);
    EXPECT_TRUE(HoldsImage(second.path / "j5ls.bin", *other));
    EXPECT_EQ(ReadAll(file), oldCopy);

    // Another name in the same folder is another file.
    EXPECT_EQ(saver.Save(other->Bytes(), second.Str(), "ECUram.bin").kind, SaveOutcome::kSaved);
    EXPECT_TRUE(HoldsImage(second.path / "ECUram.bin", *other));
}

TEST(Save, AFileRemovedByHandIsWrittenAgain) {
    Folder dir;
    ImageSaver saver;
    auto image = Pattern(3);
    ASSERT_EQ(saver.Save(image->Bytes(), dir.Str(), "j5ls.bin").kind, SaveOutcome::kSaved);
    fs::remove(dir.path / "j5ls.bin");
    EXPECT_EQ(saver.Save(image->Bytes(), dir.Str(), "j5ls.bin").kind, SaveOutcome::kSaved);
    EXPECT_TRUE(HoldsImage(dir.path / "j5ls.bin", *image));
}

TEST(Save, NoPlaceWritesNothing) {
    Folder dir;
    ImageSaver saver;
    auto image = Pattern(4);
    EXPECT_EQ(saver.Save(image->Bytes(), "", "j5ls.bin").kind, SaveOutcome::kNoPlace);
    EXPECT_EQ(saver.Save(image->Bytes(), dir.Str(), "").kind, SaveOutcome::kNoPlace);
    EXPECT_TRUE(fs::is_empty(dir.path));
}

// A save the system refuses keeps the last good copy whole and gives the
// reason; the next attempt succeeds once the cause is gone.
TEST(Save, AFailureKeepsTheOldCopyAndTheNextTryWorks) {
    Folder dir;
    ImageSaver saver;
    auto image = Pattern(5);
    const fs::path file = dir.path / "j5ls.bin";
    ASSERT_EQ(saver.Save(image->Bytes(), dir.Str(), "j5ls.bin").kind, SaveOutcome::kSaved);
    const auto good = ReadAll(file);

    // The copy made read-only by the user: it is not replaced.
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    image->Bytes()[0] ^= 0xFF;
    const SaveOutcome out = saver.Save(image->Bytes(), dir.Str(), "j5ls.bin");
    EXPECT_EQ(out.kind, SaveOutcome::kFailed);
    EXPECT_EQ(out.path, file.string());
    EXPECT_NE(out.error.find("нет прав доступа"), std::string::npos) << out.error;
    EXPECT_EQ(ReadAll(file), good);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1)
        << "no temporary file stays behind";

    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(saver.Save(image->Bytes(), dir.Str(), "j5ls.bin").kind, SaveOutcome::kSaved);
    EXPECT_TRUE(HoldsImage(file, *image));

    // A session folder that cannot be made (a file in its place) fails;
    // once the place is free the next save makes the folder itself.
    const fs::path later = dir.path / "later";
    std::ofstream(later) << "x";
    const SaveOutcome blocked = saver.Save(image->Bytes(), later.string(), "j5ls.bin");
    EXPECT_EQ(blocked.kind, SaveOutcome::kFailed);
    EXPECT_NE(blocked.error.find("не является папкой"), std::string::npos) << blocked.error;
    fs::remove(later);
    EXPECT_EQ(saver.Save(image->Bytes(), later.string(), "j5ls.bin").kind, SaveOutcome::kSaved);
    EXPECT_TRUE(HoldsImage(later / "j5ls.bin", *image));
}

// A process killed while it saves over and over leaves either no file yet
// or one complete image, never a short or mixed one.
TEST(Save, AKilledProgramLeavesTheLastCompleteImage) {
    std::mt19937 random(12345);
    for (int round = 0; round < 12; ++round) {
        Folder dir;
        const fs::path file = dir.path / "j5ls.bin";
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl(KORVANE_SAVE_CHILD, KORVANE_SAVE_CHILD, dir.path.c_str(), nullptr);
            ::_exit(127);
        }
        // Let it get going, then kill it at some moment within its saves.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(file) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving program ended by itself: " << status;

        ASSERT_TRUE(fs::exists(file)) << "round " << round;
        const auto bytes = ReadAll(file);
        ASSERT_EQ(bytes.size(), kImageSize) << "round " << round;
        // Each image the child writes is one byte value throughout.
        for (uint8_t b : bytes) ASSERT_EQ(b, bytes[0]) << "round " << round << ": a mixed image";
    }
}

// "Save as" never replaces the file the image came from unless the user
// agreed, whichever name the dialog hands over for it; other targets are
// written whole or, on failure, left as they were.
TEST(SaveAs, TheOpenedFileIsReplacedOnlyWhenAgreed) {
    Folder dir;
    const auto opened = Pattern(1);
    const auto edited = Pattern(2);
    const fs::path source = dir.path / "ecu.bin";
    ASSERT_EQ(ImageSaver().Save(opened->Bytes(), dir.Str(), "ecu.bin").kind, SaveOutcome::kSaved);
    fs::create_directories(dir.path / "sub");
    fs::create_symlink(source, dir.path / "link.bin");
    fs::create_hard_link(source, dir.path / "hard.bin");

    struct Case {
        const char* name;
        fs::path target;
        SaveAsOutcome::Kind kind;
    } cases[] = {
        {"same path", source, SaveAsOutcome::kAskFirst},
        {"other spelling", dir.path / "sub" / ".." / "." / "ecu.bin", SaveAsOutcome::kAskFirst},
        {"symbolic link", dir.path / "link.bin", SaveAsOutcome::kAskFirst},
        {"hard link", dir.path / "hard.bin", SaveAsOutcome::kAskFirst},
        {"missing folder", dir.path / "none" / "new.bin", SaveAsOutcome::kFailed},
        {"a folder", dir.path / "sub", SaveAsOutcome::kFailed},
        {"new file", dir.path / "sub" / "new.bin", SaveAsOutcome::kSaved},
    };
    for (const Case& c : cases) {
        const SaveAsOutcome out =
            SaveImageAs(edited->Bytes(), c.target.string(), source.string(), false);
        EXPECT_EQ(out.kind, c.kind) << c.name << ": " << out.error;
        EXPECT_EQ(out.error.empty(), c.kind != SaveAsOutcome::kFailed) << c.name;
        EXPECT_TRUE(HoldsImage(source, *opened)) << c.name;
    }
    EXPECT_TRUE(HoldsImage(dir.path / "sub" / "new.bin", *edited));
    EXPECT_FALSE(fs::exists(dir.path / "none"));
    EXPECT_TRUE(fs::is_directory(dir.path / "sub"));

    // Agreed: the opened file (through its link) takes the edited image and
    // stays a file behind the link.
    const SaveAsOutcome agreed =
        SaveImageAs(edited->Bytes(), (dir.path / "link.bin").string(), source.string(), true);
    ASSERT_EQ(agreed.kind, SaveAsOutcome::kSaved) << agreed.error;
    EXPECT_TRUE(HoldsImage(source, *edited));
    EXPECT_TRUE(fs::is_symlink(dir.path / "link.bin"));

    // An opened file removed since is still protected by its name; an image
    // that came from no file (read out of the ECU) protects nothing.
    fs::remove(source);
    EXPECT_EQ(SaveImageAs(opened->Bytes(), source.string(), source.string(), false).kind,
              SaveAsOutcome::kAskFirst);
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(SaveImageAs(opened->Bytes(), source.string(), "", false).kind, SaveAsOutcome::kSaved);
    EXPECT_TRUE(HoldsImage(source, *opened));
}

}  // namespace
}  // namespace korvane::firmware
