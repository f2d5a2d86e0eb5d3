// One engine-timer tick as the window runs it: take the frame, decode it,
// merge the LC-1 ratio, refresh the dashboard, the grid, the trend and the
// value list, and paint the panel in front. In map mode the map editor's
// curve chart is shown below the trend, as when a curve is open.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <vector>

#include "live/FrameDecoder.h"
#include "live/LiveTick.h"
#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "live/ui/LiveValueList.h"
#include "live/ui/TrendView.h"
#include "maps/ui/CurveChart.h"
#include "maps/ui/Map3dView.h"

using namespace korvane::live;

namespace {

// The window's panels: the dashboard and the grid share the right-hand area,
// the trend and the value list are seen in map mode. Only the panel in
// front paints; all of them take the tick's values. With none shown the
// figure is the decoding and the views' text updates alone. kMap3d is map
// mode with a two-axis map picked: its grid and surface cover the trend and
// the live point moves on them every tick.
enum Front { kDashboard, kGrid, kMapMode, kNoneShown, kMap3d };

// A 16 × 11 map over engine speed and throttle, as the demo map has one.
korvane::maps::Map3dRead BenchMap() {
    return korvane::maps::ReadMap3d(
        korvane::maps::AttributeList("Фаза", {{"graf", "3D"},
                                              {"address", "00005D00"},
                                              {"Число_точек_по_оси_X", "16"},
                                              {"Число_точек_по_оси_Y", "11"},
                                              {"Первая_точка_по_оси_X", "600"},
                                              {"Последняя_точка_по_оси_X", "6600"},
                                              {"Первая_точка_по_оси_Y", "0"},
                                              {"Последняя_точка_по_оси_Y", "100"},
                                              {"Параметр_X", "Скорость вращения двигателя"},
                                              {"Параметр_Y", "Положение дроссельной заслонки"},
                                              {"Смещение_значения", "0"},
                                              {"Шаг", "3"},
                                              {"Делитель_шага", "1"},
                                              {"Смещение", "0"}}));
}

struct Window {
    QWidget top;
    DashboardView dashboard{&top};
    DiagnosticsView diagnostics{&top};
    TrendView trend{&top};
    LiveValueList list{&top};
    std::vector<uint8_t> image = std::vector<uint8_t>(korvane::kImageSize, 0);
    korvane::maps::EditHistory history;
    korvane::maps::Map3dView map3d{MapHost(), &top};
    korvane::maps::Map3dView::Host MapHost() {
        korvane::maps::Map3dView::Host h;
        h.image = [this] {
            return korvane::maps::ConstImageBytes(image.data(), korvane::kImageSize);
        };
        h.store = [](uint16_t, std::span<const uint8_t>) {};
        h.log = [](const QString&) {};
        h.history = &history;
        h.decimalSeparator = ',';
        return h;
    }
    korvane::maps::CurveChart curve{&top};
    explicit Window(Front front) {
        top.resize(964, 523);
        trend.move(1, 32);
        list.setGeometry(718, 250, 230, 230);
        curve.setGeometry(1, 262, 709, 222);
        std::vector<double> points;
        QStringList labels;
        for (int i = 0; i < 16; ++i) {
            points.push_back(1.9 - 0.06 * i);
            labels << QString::number(-40 + 10 * i);
        }
        curve.SetPoints(points, labels);
        curve.SetAxisTitles(QStringLiteral("Температура"), QStringLiteral("Коэффициент"));
        dashboard.move(718, 32);
        diagnostics.move(718, 32);
        dashboard.setVisible(front == kDashboard);
        diagnostics.setVisible(front == kGrid);
        trend.setVisible(front == kMapMode);
        list.setVisible(front == kMapMode || front == kMap3d);
        for (size_t k = 0; k < image.size(); ++k) image[k] = static_cast<uint8_t>(k * 37 % 251);
        map3d.setGeometry(1, 32, 715, 476);
        map3d.ShowMap(BenchMap());
        map3d.setVisible(front == kMap3d);
        map3d.raise();
        curve.setVisible(front == kMapMode);
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
class TickLoop {
  public:
    explicit TickLoop(Front front) : window_(front) {
        for (int i = 0; i < 64; ++i) frames_.push_back(FrameFor(i));
    }
    void Step() {
        const std::vector<uint8_t> frame = frames_[numlog_ % frames_.size()];  // the tick's copy
        ++numlog_;
        const TickOutcome t = decoder_.Tick(frame, numlog_, OxygenSensor::Lc1,
                                            {1, 1, 0, 13.0 + (numlog_ % 20) * 0.1});
        if (t.frameDecoded) {
            window_.dashboard.Update(decoder_.Values(), OxygenSensor::Lc1, ',');
            window_.diagnostics.Update(decoder_.Values(), t, ',');
        }
        // The tuning step's trend update, once per new poll.
        if (t.newPoll) {
            window_.trend.Update(decoder_.Values(), OxygenSensor::Lc1);
            window_.list.Update(decoder_.Values(), OxygenSensor::Lc1, ',');
            if (window_.map3d.isVisible()) window_.map3d.ShowLive(decoder_.Values());
        }
        // Let the panel in front paint what changed, as the event loop would.
        QApplication::processEvents();
    }

  private:
    Window window_;
    LiveDecoder decoder_;
    std::vector<std::vector<uint8_t>> frames_;
    int32_t numlog_ = 0;
};

void BM_EngineTick(benchmark::State& state) {
    TickLoop loop(static_cast<Front>(state.range(0)));
    for (auto _ : state) loop.Step();
}

// Ticks counted by an instruction counter (callgrind's toggle on this
// function): a figure that does not move with the machine's load.
[[gnu::noinline]] void CountedTicks(TickLoop& loop, int ticks) {
    for (int i = 0; i < ticks; ++i) loop.Step();
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
    ->Arg(kMap3d)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

// `--ticks=N --front=0..4`: N ticks after a warm-up that fills the trend,
// outside the benchmark's own timing loop, for an instruction count:
//   valgrind --tool=callgrind --collect-atstart=no
//       --toggle-collect='*CountedTicks*' live_bench --ticks=200 --front=2
// Instructions per tick are the total over N.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int ticks = 0, front = kDashboard;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith("--ticks=")) ticks = arg.mid(8).toInt();
        if (arg.startsWith("--front=")) front = arg.mid(8).toInt();
    }
    if (ticks > 0) {
        TickLoop loop(static_cast<Front>(front));
        CountedTicks(loop, 0);  // keep the symbol whatever the optimiser does
        for (int i = 0; i < 100; ++i) loop.Step();
        CountedTicks(loop, ticks);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
