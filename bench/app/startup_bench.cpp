// Start-up cost: CPU time from process start to a shown main window (the
// first figure, what a user waits for), then the window's construction alone
// repeated under Google Benchmark.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/MainForm.h"

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

korvane::app::RecordingDialogs dialogs;

korvane::app::FormEnvironment Env() {
    korvane::app::FormEnvironment env;
    env.dialogs = &dialogs;
    env.workDir = std::filesystem::temp_directory_path().string();
    return env;
}

void BM_MainWindowConstruction(benchmark::State& state) {
    for (auto _ : state) {
        korvane::app::TForm1 form(Env());
        form.show();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_MainWindowConstruction)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Without a display the window is drawn offscreen.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    {
        korvane::app::TForm1 form(Env());
        form.show();
        QApplication::processEvents();
        std::printf("CPU time from process start to a shown window: %.3f s\n", CpuSeconds());
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
