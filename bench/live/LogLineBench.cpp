// The cost of one live log line (both lists and both files brought up to
// date) early in a connection and after an hour of it, and, for comparison,
// rewriting both files whole at that length.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "live/LiveLogs.h"

using namespace korvane::live;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        char tmpl[] = "/tmp/korvane-log-bench-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// Grids as a running engine gives them: every line differs.
std::vector<ShownRowTexts> Grids() {
    std::vector<ShownRowTexts> grids(64);
    for (int i = 0; i < 64; ++i) {
        for (int row = 1; row <= kLoggedRows; ++row)
            grids[i][row] = std::to_string((i * 131 + row * 17) % 4000);
        grids[i][3] = std::to_string(12 + i % 8) + "," + std::to_string(i % 10);
        grids[i][5] = "0,98" + std::to_string(7000000000000 + i * 7919);
        grids[i][12].clear();
        grids[i][21] = "13," + std::to_string(i % 10);
        grids[i][34] = "8,0" + std::to_string(i % 100);
    }
    return grids;
}

// The lines written before the measurement go to disk first, so the system
// writing them back does not land in the figures of the longer logs only.
void Settle(const fs::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::syncfs(fd);
    ::close(fd);
}

// Lines already in the logs, then the cost of each further line. The count
// of measured lines is fixed, so the lengths measured stay near the one
// named (100 .. 2 100 and 20 000 .. 22 000 lines).
void BM_LogLine(benchmark::State& state) {
    TempDir dir;
    const auto grids = Grids();
    LiveLogs logs([](const std::string&) {});
    logs.Start(dir.path);
    const int before = static_cast<int>(state.range(0));
    for (int i = 0; i < before; ++i) logs.AppendLine(grids[i % 64], i / 100, dir.path);
    Settle(dir.path);
    int i = before;
    for (auto _ : state) {
        if (!logs.AppendLine(grids[i % 64], i / 100, dir.path)) state.SkipWithError("write failed");
        ++i;
    }
}

// Both whole lists encoded and written over both files, as a rewrite per
// line would do.
void BM_WholeRewrite(benchmark::State& state) {
    TempDir dir;
    const auto grids = Grids();
    LiveLogs logs([](const std::string&) {});
    logs.Start(dir.path);
    for (int i = 0; i < state.range(0); ++i) logs.AppendLine(grids[i % 64], i / 100, dir.path);
    Settle(dir.path);
    auto rewrite = [](const std::vector<std::string>& lines, const fs::path& path) {
        std::string bytes, error;
        if (!EncodeLogLines(lines, bytes, error)) return false;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        const bool ok =
            ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        return ::close(fd) == 0 && ok;
    };
    for (auto _ : state) {
        if (!rewrite(logs.XlsLog(), dir.path / "whole.xls") ||
            !rewrite(logs.CsvLog(), dir.path / "whole.csv"))
            state.SkipWithError("write failed");
    }
}

BENCHMARK(BM_LogLine)
    ->ArgName("lines")
    ->Arg(100)
    ->Arg(20000)
    ->Iterations(2000)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeRewrite)->ArgName("lines")->Arg(20000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
