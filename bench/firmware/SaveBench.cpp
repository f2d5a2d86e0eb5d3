// The cost of the periodic image copy: a save of a changed image (temporary
// file, flush to disk, rename) and the check that skips an unchanged one.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "firmware/FirmwareImage.h"
#include "firmware/ImageSaver.h"

using namespace korvane::firmware;
namespace fs = std::filesystem;

namespace {

// The folder to save into: the working folder's file system is what counts,
// so the current directory by default, or KORVANE_BENCH_DIR.
struct Folder {
    fs::path path;
    Folder() {
        const char* base = std::getenv("KORVANE_BENCH_DIR");
        path = fs::path(base ? base : ".") / ("korvane_save_bench_" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void BM_SaveChanged(benchmark::State& state) {
    Folder folder;
    auto image = std::make_unique<FirmwareImage>();
    ImageSaver saver;
    uint8_t n = 0;
    for (auto _ : state) {
        // One correction byte changed per tick, as while tuning.
        image->Bytes()[0x7CF7] = ++n;
        const SaveOutcome out = saver.Save(image->Bytes(), folder.path.string(), "j5ls.bin");
        if (out.kind != SaveOutcome::kSaved) {
            state.SkipWithError(("save failed: " + out.error).c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageSize));
}
BENCHMARK(BM_SaveChanged)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveUnchanged(benchmark::State& state) {
    Folder folder;
    auto image = std::make_unique<FirmwareImage>();
    ImageSaver saver;
    saver.Save(image->Bytes(), folder.path.string(), "j5ls.bin");
    for (auto _ : state) {
        const SaveOutcome out = saver.Save(image->Bytes(), folder.path.string(), "j5ls.bin");
        if (out.kind != SaveOutcome::kUnchanged) {
            state.SkipWithError("the unchanged image was written again");
            return;
        }
    }
}
BENCHMARK(BM_SaveUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
