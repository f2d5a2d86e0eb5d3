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
#include <vector>

#include "app/SettingsStore.h"
#include "firmware/FirmwareImage.h"
#include "live/LiveLogs.h"
#include "platform/TextCodec.h"
#include "tests/reliability/SaveLoop.h"

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

// A live log: its header and lines 1..k of the child, each whole, CR LF
// after every one; a kill may come between two lines, never within one.
std::string CheckLog(const std::string& bytes, const std::string& header,
                     const std::function<std::string(int)>& line) {
    if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0)
        return "does not end with a whole line";
    std::vector<std::string> lines;
    for (size_t at = 0; at < bytes.size();) {
        const size_t end = bytes.find("\r\n", at);
        lines.push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    std::string expected;
    std::string error;
    korvane::live::EncodeLogLines({header}, expected, error);
    if (lines[0] + "\r\n" != expected) return "header " + lines[0];
    for (size_t k = 1; k < lines.size(); ++k) {
        korvane::live::EncodeLogLines({line(static_cast<int>(k))}, expected, error);
        if (lines[k] + "\r\n" != expected)
            return "line " + std::to_string(k) + " of " + std::to_string(lines.size()) + ": " +
                   lines[k];
    }
    return {};
}

std::string CheckXlsLog(const std::string& bytes) {
    return CheckLog(bytes, korvane::live::XlsHeaderLine(), [](int n) {
        return korvane::live::XlsDataLine(korvane::reliability::LogRowsFor(n));
    });
}

std::string CheckCsvLog(const std::string& bytes) {
    return CheckLog(bytes, korvane::live::CsvHeaderLine(), [](int n) {
        return korvane::live::CsvDataLine(korvane::reliability::LogRowsFor(n), n);
    });
}

struct Kind {
    const char* name;
    const char* child;  // what the saving child writes
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
            ::execl(KORVANE_SAVE_LOOP, KORVANE_SAVE_LOOP, kind.child, dir.path.c_str(), nullptr);
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
    }
}

INSTANTIATE_TEST_SUITE_P(Files, KillWhileSaving,
                         ::testing::Values(Kind{"config", "config", "config.ini", CheckConfig},
                                           Kind{"image", "image", "j5ls.bin", CheckImage},
                                           Kind{"xls_log", "logs", "лог.xls", CheckXlsLog},
                                           Kind{"csv_log", "logs", "лог2-CSV.csv", CheckCsvLog}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
