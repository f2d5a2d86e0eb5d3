// A program killed at any moment of a save leaves each of its files either
// as it was before the save or as the save meant it, never torn: the files
// are written to a temporary name and renamed. A child process runs the
// program's own save code in a loop and is killed at random moments.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "app/SettingsStore.h"
#include "firmware/FirmwareImage.h"
#include "platform/TextCodec.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "korvane-kill-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// "" when the file is one complete version, otherwise what is wrong.
std::string CheckConfig(const std::string& bytes) {
    const auto decoded = korvane::platform::DecodeText(bytes);
    if (!decoded.ok) return "does not decode: " + decoded.error;
    // The saving child's lines: the built-in ones and 3000 more.
    korvane::app::SettingsStore keys;
    for (int k = 0; k < 3000; ++k) keys.AppendLine("Строка " + std::to_string(k) + "=");
    const auto& lines = decoded.file.lines;
    if (lines.size() != keys.Count()) return "has " + std::to_string(lines.size()) + " lines";
    const std::string first = lines[0].substr(lines[0].find('=') + 1);
    const size_t digits = first.find_first_not_of("0123456789");
    if (digits == 0 || first.empty()) return "value " + first;
    const unsigned n = static_cast<unsigned>(std::stoul(first.substr(0, digits)));
    std::string expected = std::to_string(n);
    for (unsigned k = 0; k < n % 50; ++k) expected += "Ж";
    if (first != expected) return "value " + first;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] != keys.KeyAt(i) + "=" + expected) return "line " + lines[i];
    // Byte for byte what the save writes, final line end included.
    std::string encoded, error;
    korvane::platform::EncodeText(decoded.file, encoded, error);
    if (encoded != bytes) return "bytes differ from a whole save";
    return {};
}

std::string CheckImage(const std::string& bytes) {
    if (bytes.size() != korvane::firmware::kImageSize)
        return "has " + std::to_string(bytes.size()) + " bytes";
    for (char b : bytes)
        if (b != bytes[0]) return "mixes two versions";
    return {};
}

struct Kind {
    const char* name;
    const char* file;
    std::function<std::string(const std::string&)> check;
};

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

class KillWhileSaving : public ::testing::TestWithParam<Kind> {};

TEST_P(KillWhileSaving, LeavesOneCompleteVersion) {
    const Kind& kind = GetParam();
    std::mt19937 random(20261210);
    for (int round = 0; round < 25; ++round) {
        Folder dir;
        const fs::path file = dir.path / kind.file;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl(KORVANE_SAVE_LOOP, KORVANE_SAVE_LOOP, kind.name, dir.path.c_str(), nullptr);
            ::_exit(127);
        }
        // Once the first save is there, kill it at some moment of a later one.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(file) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving program ended by itself: " << status;

        ASSERT_TRUE(fs::exists(file)) << "round " << round;
        const std::string problem = kind.check(ReadAll(file));
        EXPECT_EQ(problem, "") << kind.file << ", round " << round;
        // A temporary file of the interrupted save may stay behind; it never
        // takes the file's own name.
        for (const auto& entry : fs::directory_iterator(dir.path)) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.rfind(kind.file, 0), 0u) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, KillWhileSaving,
                         ::testing::Values(Kind{"config", "config.ini", CheckConfig},
                                           Kind{"image", "j5ls.bin", CheckImage}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
