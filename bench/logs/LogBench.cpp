// Opening, drawing and analysing an hour of recorded driving: 16 lines a
// second for an hour (57 600 lines, about 15 MB) parsed from memory and read
// from a file (per MB), the full-width redraw of the time plot with four
// channels (all of it in view, and zoomed to a minute), the XY view, and the
// analysis of the whole log.
//
//   logs_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../QtBenchMain.h"
#include "firmware/FirmwareImage.h"
#include "live/LiveLogs.h"
#include "logs/LogAnalysis.h"
#include "logs/LogReader.h"
#include "logs/ui/LogPlot.h"
#include "logs/ui/LogXYView.h"
#include "platform/NumberText.h"
#include "sim/Simulator.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

constexpr int kHourLines = 16 * 3600;

// An hour of lines as a running engine fills them: every figure moves, many
// with the long fractions the grid shows.
const std::string& HourLog() {
    static const std::string text = [] {
        std::vector<std::string> lines = {live::XlsHeaderLine()};
        lines.reserve(kHourLines + 1);
        live::ShownRowTexts rows;
        for (int i = 0; i < kHourLines; ++i) {
            const double t = i / 16.0;
            for (int r = 1; r <= live::kLoggedRows; ++r)
                rows[r] = platform::FormatGeneral(
                    std::round((r * 37 + 100 * std::sin(t / (r + 3))) * 1000) / 1000, ',');
            rows[12].clear();
            rows[3] = platform::FormatGeneral(14.7 + 0.1 * std::sin(t), ',');
            rows[4] = platform::FormatGeneral(14.7 * (1 + 0.05 * std::sin(t / 7)), ',');
            rows[5] = platform::FormatGeneral(1 + 0.05 * std::sin(t / 7) + 1e-9 * i, ',');
            rows[6] = platform::FormatGeneral(std::round(50 + 45 * std::sin(t / 30)), ',');
            rows[7] = platform::FormatGeneral(std::round(3000 + 2500 * std::sin(t / 45)), ',');
            rows[36] = platform::FormatGeneral(150 + 100 * std::sin(t / 30), ',');
            lines.push_back(live::XlsDataLine(rows));
        }
        std::string bytes, error;
        live::EncodeLogLines(lines, bytes, error);
        return bytes;
    }();
    return text;
}

const logs::LogData& HourData() {
    static const logs::LogData data = logs::ParseLog(HourLog(), "hour").data;
    return data;
}

void BM_ParseHour(benchmark::State& state) {
    const std::string& text = HourLog();
    for (auto _ : state) {
        auto r = logs::ParseLog(text, "hour");
        if (!r.ok || r.data.Lines() != kHourLines) state.SkipWithError("not read whole");
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.counters["MB"] = double(text.size()) / (1 << 20);
}
BENCHMARK(BM_ParseHour)->Unit(benchmark::kMillisecond);

void BM_ReadHourFile(benchmark::State& state) {
    char tmpl[] = "/tmp/korvane-logs-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(tmpl);
    const fs::path file = dir / "лог.xls";
    std::ofstream(file, std::ios::binary) << HourLog();
    for (auto _ : state) {
        auto r = logs::ReadLog(file);
        if (!r.ok) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(HourLog().size()));
    fs::remove_all(dir);
}
BENCHMARK(BM_ReadHourFile)->Unit(benchmark::kMillisecond);

// The plot drawn into an image 1600 pixels wide: all of the hour, or one
// minute of it (as after zooming in and panning).
void BM_PlotRedraw(benchmark::State& state) {
    const auto& d = HourData();
    logs::ui::LogPlot plot;
    plot.resize(1600, 400);
    plot.SetLines(d.Lines(), 1 / 16.0);
    plot.SetSeries({{"rpm", d.Column(6), Qt::red},
                    {"throttle", d.Column(5), Qt::blue},
                    {"lc1", d.Column(3), Qt::darkGreen},
                    {"afr", d.Column(2), Qt::magenta}});
    if (state.range(0) > 0) plot.SetView(20000, 20000 + 16 * 60);
    QImage image(plot.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        plot.render(&image);
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_PlotRedraw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_XYRebuildAndDraw(benchmark::State& state) {
    const auto& d = HourData();
    logs::ui::LogXYView xy;
    xy.resize(1100, 400);
    const auto fw = sim::MakeSyntheticFirmware(1);
    std::array<uint8_t, firmware::kImageSize> image{};
    std::copy(fw.begin(), fw.end(), image.begin());
    const auto labels = firmware::Namesstringgrid(image);
    QImage target(xy.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        xy.SetData({"x", d.Column(5)}, {"y", d.Column(6)}, {"c", d.Column(4)}, false);
        xy.SetGrid(logs::ui::WorkPointGrid{labels.rows, labels.cols}, true);
        xy.render(&target);
        benchmark::DoNotOptimize(target.bits());
    }
}
BENCHMARK(BM_XYRebuildAndDraw)->Unit(benchmark::kMillisecond);

void BM_AnalyzeHour(benchmark::State& state) {
    const auto fw = sim::MakeSyntheticFirmware(1);
    std::array<uint8_t, tuning::kImageSize> image{};
    std::copy(fw.begin(), fw.end(), image.begin());
    const auto setting = [](const std::string& key) -> std::string {
        if (key == "Стационарность по циклам") return "4";
        if (key == "Количество циклов для обработки") return "7";
        if (key == "Весовой коэф. коррекции(%)") return "70";
        if (key == "Не настраивать ниже %") return "2";
        if (key == "Коэф. обучения соседних РТ") return "";
        return "100";
    };
    for (auto _ : state) {
        auto a = logs::AnalyzeLog(HourData(), image, setting);
        if (!a.ok) state.SkipWithError(a.error.c_str());
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_AnalyzeHour)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return korvane::bench::RunWidgetBenchmarks(argc, argv);
}
