#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

using namespace korvane::platform;
namespace fs = std::filesystem;

namespace {

fs::path FreshDir(const char* name) {
    const fs::path dir = fs::temp_directory_path() /
                         (std::string("korvane_atomic_") + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void SetAge(const fs::path& p, int seconds) {
    const timespec t{std::time(nullptr) - seconds, 0};
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << p;
}

// A process id that belongs to no running process: a child that has exited
// and been reaped.
long GonePid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

enum class Kind { File, Folder, Link, ForeignFile };
struct Beside {
    std::string name;
    Kind kind;
    int ageSeconds;
    bool removed;
};

}  // namespace

TEST(AtomicFile, TempNamesAreRecognisedOnlyForTheirOwnTarget) {
    long pid = 0;
    const std::string name = TempFileName("j5.bin", 4242, 7);
    EXPECT_EQ(name, ".j5.bin.korvane-4242-7.tmp");
    ASSERT_TRUE(IsTempFileOf(name, "j5.bin", pid));
    EXPECT_EQ(pid, 4242);
    for (const char* other :
         {"j5.bin.korvane-4242-7.tmp", ".j5.bin.korvane-4242.tmp", ".j5.bin.korvane--7.tmp",
          ".j5.bin.korvane-4242-.tmp", ".j5.bin.korvane-42x2-7.tmp", ".j5.bin.korvane-4242-7",
          ".j5.bin.korvane-4242-7.tmp~", ".j6.bin.korvane-4242-7.tmp",
          ".xj5.bin.korvane-4242-7.tmp", ".j5.bin.backup", ".j5.bin.aZ09xY", "j5.bin.aZ09xY"})
        EXPECT_FALSE(IsTempFileOf(other, "j5.bin", pid)) << other;
    EXPECT_FALSE(IsTempFileOf(".korvane-1-1.tmp", "", pid));
}

// The folder a tuner keeps: stock images, backups, variants of the settings.
// A save of "X" removes only leftovers of its own saves of "X" that no
// running save can still be writing; every other file keeps its bytes.
TEST(AtomicFile, SavingTouchesNothingButOurOwnLeftovers) {
    const fs::path dir = FreshDir("beside");
    const long gone = GonePid();
    const long alive = ::getppid();
    const bool asRoot = ::geteuid() == 0;
    const Beside kBeside[] = {
        // The user's files, however old and whatever they are called.
        {"X.backup", Kind::File, 24 * 3600, false},
        {"X.stock1", Kind::File, 24 * 3600, false},
        {"X.winter", Kind::File, 24 * 3600, false},
        {"X.orig", Kind::File, 24 * 3600, false},
        {"X.aZ09xY", Kind::File, 24 * 3600, false},
        {"config.ini.backup", Kind::File, 24 * 3600, false},
        {".X.backup", Kind::File, 24 * 3600, false},
        // Ours: removed only once old, whether its process looks gone or not
        // (one in another PID namespace or on another host looks gone while
        // it is still writing).
        {TempFileName("X", gone, 3), Kind::File, 2 * kStaleTempSeconds, true},
        {TempFileName("X", gone, 4), Kind::File, 0, false},
        {TempFileName("X", gone, 8), Kind::File, kStaleTempSeconds - 10, false},
        {TempFileName("X", alive, 1), Kind::File, 5, false},
        {TempFileName("X", alive, 2), Kind::File, 2 * kStaleTempSeconds, true},
        // Of another target, or not a plain file of ours: never touched.
        {TempFileName("Y", gone, 1), Kind::File, 24 * 3600, false},
        {TempFileName("X", gone, 5), Kind::Folder, 24 * 3600, false},
        {TempFileName("X", gone, 6), Kind::Link, 24 * 3600, false},
        {TempFileName("X", gone, 7), Kind::ForeignFile, 24 * 3600, false},
    };
    const fs::path victim = dir / "victim.bin";
    std::ofstream(victim) << "keep";
    for (const Beside& b : kBeside) {
        if (b.kind == Kind::ForeignFile && !asRoot) continue;
        const fs::path p = dir / b.name;
        switch (b.kind) {
            case Kind::File:
            case Kind::ForeignFile:
                std::ofstream(p) << "bytes of " << b.name;
                // Another owner's file can only be made by root.
                if (b.kind == Kind::ForeignFile && asRoot) {
                    ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
                }
                break;
            case Kind::Folder:
                fs::create_directory(p);
                std::ofstream(p / "inside") << "x";
                break;
            case Kind::Link:
                fs::create_symlink(victim, p);
                break;
        }
        SetAge(p, b.ageSeconds);
    }

    std::string error;
    for (int save = 0; save < 2; ++save) {
        ASSERT_TRUE(WriteFileAtomically((dir / "X").string(), "new " + std::to_string(save), error))
            << error;
        EXPECT_EQ(Read(dir / "X"), "new " + std::to_string(save));
    }
    for (const Beside& b : kBeside) {
        const fs::path p = dir / b.name;
        if (b.kind == Kind::ForeignFile && !asRoot) continue;
        EXPECT_EQ(!fs::exists(fs::symlink_status(p)), b.removed) << b.name;
        if (!b.removed && b.kind != Kind::Folder && b.kind != Kind::Link) {
            EXPECT_EQ(Read(p), "bytes of " + b.name) << b.name;
        }
    }
    EXPECT_EQ(Read(victim), "keep");
    EXPECT_TRUE(fs::exists(dir / TempFileName("X", gone, 5) / "inside"));
    // The saves themselves left nothing behind.
    size_t count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++count;
    size_t kept = 2;  // X, victim.bin
    for (const Beside& b : kBeside) kept += !b.removed && (asRoot || b.kind != Kind::ForeignFile);
    EXPECT_EQ(count, kept);
    fs::remove_all(dir);
}

TEST(AtomicFile, ASaveThroughALinkReplacesItsTargetAndKeepsTheMode) {
    const fs::path dir = FreshDir("link");
    fs::create_directories(dir / "real");
    std::ofstream(dir / "real" / "j5.bin") << "old";
    fs::permissions(dir / "real" / "j5.bin", fs::perms(0640));
    fs::create_symlink("real/j5.bin", dir / "j5.bin");
    const long gone = GonePid();
    for (const fs::path& p :
         {dir / "real" / TempFileName("j5.bin", gone, 1), dir / TempFileName("j5.bin", gone, 1)}) {
        std::ofstream(p) << "half";
        SetAge(p, 2 * kStaleTempSeconds);
    }
    std::string error;
    ASSERT_TRUE(WriteFileAtomically((dir / "j5.bin").string(), "image", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "j5.bin"));
    EXPECT_EQ(Read(dir / "real" / "j5.bin"), "image");
    EXPECT_EQ(fs::status(dir / "real" / "j5.bin").permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_FALSE(fs::exists(dir / "real" / TempFileName("j5.bin", gone, 1)));
    // The link's own name never had temporary files made beside it.
    EXPECT_TRUE(fs::exists(dir / TempFileName("j5.bin", gone, 1)));
    fs::remove_all(dir);
}

TEST(AtomicFile, AFailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    const fs::path dir = FreshDir("refused");
    std::ofstream(dir / "ro.bin") << "old";
    fs::permissions(dir / "ro.bin", fs::perms(0444));
    fs::create_directory(dir / "folder.bin");
    std::string error;
    if (::geteuid() != 0) {
        EXPECT_FALSE(WriteFileAtomically((dir / "ro.bin").string(), "new", error));
        EXPECT_EQ(error, SystemReason(EACCES));
    }
    EXPECT_EQ(Read(dir / "ro.bin"), "old");
    EXPECT_FALSE(WriteFileAtomically((dir / "folder.bin").string(), "new", error));
    EXPECT_EQ(error, SystemReason(EISDIR));
    EXPECT_FALSE(WriteFileAtomically((dir / "missing" / "x.bin").string(), "new", error));
    EXPECT_EQ(error, SystemReason(ENOENT));
    size_t count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++count;
    EXPECT_EQ(count, 2u);
    fs::remove_all(dir);
}

TEST(AtomicFile, KeptOpenTheNewFileTakesAppendedBytes) {
    const fs::path dir = FreshDir("append");
    std::string error;
    const int fd = WriteFileAtomicallyKeepOpen((dir / "log.csv").string(), "head\r\n", error);
    ASSERT_GE(fd, 0) << error;
    ASSERT_EQ(::write(fd, "line\r\n", 6), 6);
    ::close(fd);
    EXPECT_EQ(Read(dir / "log.csv"), "head\r\nline\r\n");
    fs::remove_all(dir);
}

// A new file is made with the umask applied, as any program's would be; a
// file that is there keeps its own mode whatever the umask.
TEST(AtomicFile, ANewFileFollowsTheUmaskAndAnOldOneKeepsItsMode) {
    const fs::path dir = FreshDir("umask");
    struct Case {
        mode_t umask;
        fs::perms created;
    };
    const Case kCases[] = {{022, fs::perms(0644)},
                           {027, fs::perms(0640)},
                           {077, fs::perms(0600)},
                           {002, fs::perms(0664)}};
    std::ofstream(dir / "old") << "x";
    const mode_t before = ::umask(022);
    for (const Case& c : kCases) {
        ::umask(c.umask);
        std::string error;
        const fs::path whole = dir / ("whole" + std::to_string(c.umask));
        EXPECT_TRUE(WriteFileAtomically(whole.string(), "x", error)) << error;
        const fs::path log = dir / ("log" + std::to_string(c.umask));
        const int fd = WriteFileAtomicallyKeepOpen(log.string(), "x", error);
        EXPECT_GE(fd, 0) << error;
        if (fd >= 0) ::close(fd);
        fs::permissions(dir / "old", fs::perms(0604));
        EXPECT_TRUE(WriteFileAtomically((dir / "old").string(), "y", error)) << error;
        for (const fs::path& p : {whole, log})
            EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, c.created)
                << p << " umask " << std::oct << c.umask;
        EXPECT_EQ(fs::status(dir / "old").permissions() & fs::perms::all, fs::perms(0604))
            << std::oct << c.umask;
    }
    ::umask(before);
    fs::remove_all(dir);
}

// The disk filling up (here: the file size limit) after the temporary file
// is made: the old file stays as it was, the temporary file goes and the
// reason is told.
TEST(AtomicFile, AWriteThatFailsMidwayLeavesTheOldFileWhole) {
    const fs::path dir = FreshDir("efbig");
    const std::string old(3000, 'o');
    std::ofstream(dir / "j5.bin", std::ios::binary) << old;
    fs::permissions(dir / "j5.bin", fs::perms(0640));
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{1024, limit.rlim_max};
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    std::string error;
    bool saved = true;
    int fd = -2;
    if (::setrlimit(RLIMIT_FSIZE, &small) == 0) {
        saved = WriteFileAtomically((dir / "j5.bin").string(), std::string(4096, 'n'), error);
        fd = WriteFileAtomicallyKeepOpen((dir / "new.csv").string(), std::string(4096, 'n'), error);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::signal(SIGXFSZ, previous);
    ASSERT_NE(fd, -2) << "the file size limit could not be set";
    EXPECT_FALSE(saved);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(error, SystemReason(EFBIG));
    EXPECT_EQ(Read(dir / "j5.bin"), old);
    EXPECT_EQ(fs::status(dir / "j5.bin").permissions() & fs::perms::all, fs::perms(0640));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"j5.bin"});
    fs::remove_all(dir);
}
