// One tuning step per frame, as the engine timer runs it: the search over
// all 256 cells, stationarity, sampling and, every so often, a processing
// with neighbour prediction and the single-cell hand-over. The counter
// "allocs" is the number of heap allocations per frame.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "tuning/TuningCore.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace korvane::tuning;

namespace {

// A window that takes the texts as a real one would, without painting.
class SinkView : public TuningView {
  public:
    int ComboBox1Index() const override { return 0; }
    void SelectFirstView() override {}
    int RadioGroup1Index() const override { return 0; }
    void SetGridCell(int, int, std::string_view t) override { chars += t.size(); }
    void SetCurrentCell(int c, int r) override { chars += static_cast<size_t>(c + r); }
    void SetLabel5(std::string_view t) override { chars += t.size(); }
    void SetLabel7(std::string_view t) override { chars += t.size(); }
    void SetStatusPanel5(std::string_view t) override { chars += t.size(); }
    void grafxx() override { ++chars; }
    size_t chars = 0;
};

class AlwaysEmpty : public EcuMailbox {
  public:
    bool LinkUp() const override { return true; }
    CellWrite PostRemake(std::array<uint8_t, 2>, uint8_t v) override {
        last = v;
        return CellWrite::Written;
    }
    uint8_t last = 0;
};

constexpr GridLabels kRows{570,  690,  810,  930,  1050, 1170, 1290, 1410,
                           1530, 1650, 1770, 1890, 2010, 2130, 2250, 7560};
constexpr GridLabels kColumns{0, 7, 13, 20, 27, 33, 40, 47, 53, 60, 67, 73, 80, 87, 93, 100};

struct Rig {
    std::map<std::string, std::string> settings{
        {"Стационарность по RPM", "100"},     {"Стационарность по %", "100"},
        {"Стационарность по циклам", "4"},    {"Количество циклов для обработки", "7"},
        {"Весовой коэф. коррекции(%)", "70"}, {"Коэф. обучения соседних РТ", "30"},
    };
    SinkView view;
    AlwaysEmpty mailbox;
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 128);
    TuningCore core{[this](const std::string& key) {
                        auto it = settings.find(key);
                        return it == settings.end() ? std::string() : it->second;
                    },
                    [](const std::string&) {}, view, mailbox};
    Rig(bool tuning) {
        core.addtabl(std::span<const uint8_t, kImageSize>(image), kRows, kColumns);
        core.Tables().TuningActive = tuning;
        core.Tables().NeighbourLearning = true;
        core.Tables().MinTuneThrottle = 2;
    }
};

// Frames that stay in one cell for `dwell` frames, then move on across the
// grid, with a mixture that is a little rich: the cells are processed again
// and again.
void Run(benchmark::State& state, bool tuning, int dwell) {
    Rig rig(tuning);
    korvane::live::LiveValues v;
    v.Afr = 14.7;
    v.AfrLc1 = 15.2;
    v.CyclicAirFlow = 120;
    auto image = std::span<uint8_t, kImageSize>(rig.image);
    long frame = 0;
    // Warm up: the first conversions of the settings are cached.
    rig.core.calculations(v, false, image);
    const long before = g_allocations.load();
    for (auto _ : state) {
        const long cell = (frame / dwell) % 256;
        v.Rpm = kRows[static_cast<size_t>(cell % 16)];
        v.ThrottlePos = kColumns[static_cast<size_t>(cell / 16)] + 3;
        v.AfrLc1 = 15.2 + 0.01 * static_cast<double>(frame % 5);
        rig.core.calculations(v, false, image);
        ++frame;
    }
    state.counters["allocs"] = benchmark::Counter(
        static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
    state.counters["processed"] = benchmark::Counter(
        static_cast<double>(rig.core.Tables().PRecCount), benchmark::Counter::kAvgIterations);
    benchmark::DoNotOptimize(rig.view.chars);
}

// Not tuning: find the cell, move the red cell, update the trend.
void BM_calculations_NotTuning(benchmark::State& s) {
    Run(s, false, 20);
}
// Tuning, dwelling 25 frames per cell: entering, settling, 8 samples, a
// processing, 8 settling frames, more samples.
void BM_calculations_Tuning(benchmark::State& s) {
    Run(s, true, 25);
}
// Tuning with a work point that never stays: every frame enters a cell.
void BM_calculations_TuningMoving(benchmark::State& s) {
    Run(s, true, 1);
}

BENCHMARK(BM_calculations_NotTuning);
BENCHMARK(BM_calculations_Tuning);
BENCHMARK(BM_calculations_TuningMoving);

}  // namespace

BENCHMARK_MAIN();
