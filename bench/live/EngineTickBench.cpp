// One engine-timer tick as the window runs it: take the frame, decode it,
// merge the LC-1 ratio, refresh the dashboard, the grid, the trend and the
// value list, and paint the panel in front.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <vector>

#include "live/FrameDecoder.h"
#include "live/LiveTick.h"
#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "live/ui/LiveValueList.h"
#include "live/ui/TrendView.h"

using namespace korvane::live;

namespace {

// The window's panels: the dashboard and the grid share the right-hand area,
// the trend and the value list are seen in map mode. Only the panel in
// front paints; all of them take the tick's values. With none shown the
// figure is the decoding and the views' text updates alone.
enum Front { kDashboard, kGrid, kMapMode, kNoneShown };

struct Window {
    QWidget top;
    DashboardView dashboard{&top};
    DiagnosticsView diagnostics{&top};
    TrendView trend{&top};
    LiveValueList list{&top};
    explicit Window(Front front) {
        top.resize(964, 523);
        trend.move(1, 32);
        list.setGeometry(718, 250, 230, 230);
        dashboard.move(718, 32);
        diagnostics.move(718, 32);
        dashboard.setVisible(front == kDashboard);
        diagnostics.setVisible(front == kGrid);
        trend.setVisible(front == kMapMode);
        list.setVisible(front == kMapMode);
        top.show();
        QApplication::processEvents();
    }
};

std::vector<uint8_t> FrameFor(int i) {
    std::vector<uint8_t> f(kDiagnosticFrameSize);
    for (size_t k = 0; k < f.size(); ++k) f[k] = static_cast<uint8_t>(k * 7 + i * 13);
    return f;
}

// Every tick brings a new poll whose every value differs from the last: the
// worst case, as the ECU's frames change at most once per poll.
void BM_EngineTick(benchmark::State& state) {
    const auto front = static_cast<Front>(state.range(0));
    Window window(front);
    LiveDecoder decoder;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 64; ++i) frames.push_back(FrameFor(i));
    int32_t numlog = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> frame = frames[numlog % frames.size()];  // the tick's copy
        ++numlog;
        const TickOutcome t =
            decoder.Tick(frame, numlog, OxygenSensor::Lc1, {1, 1, 0, 13.0 + (numlog % 20) * 0.1});
        if (t.frameDecoded) {
            window.dashboard.Update(decoder.Values(), OxygenSensor::Lc1, ',');
            window.diagnostics.Update(decoder.Values(), t, ',');
        }
        // The tuning step's trend update, once per new poll.
        if (t.newPoll) {
            window.trend.Update(decoder.Values(), OxygenSensor::Lc1);
            window.list.Update(decoder.Values(), OxygenSensor::Lc1, ',');
        }
        // Let the panel in front paint what changed, as the event loop would.
        QApplication::processEvents();
    }
}

void BM_DecodeOnly(benchmark::State& state) {
    LiveDecoder decoder;
    const auto frame = FrameFor(1);
    int32_t numlog = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decoder.Tick(frame, ++numlog, OxygenSensor::Lc1, {1, 1, 0, 14}));
    }
}

BENCHMARK(BM_EngineTick)
    ->ArgName("front")
    ->Arg(kDashboard)
    ->Arg(kGrid)
    ->Arg(kMapMode)
    ->Arg(kNoneShown)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
