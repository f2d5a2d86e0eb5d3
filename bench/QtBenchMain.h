#pragma once
// main() of a Google Benchmark program that draws widgets: offscreen unless
// told otherwise, with the benchmark library's own options
// (--benchmark_filter=...).
#include <benchmark/benchmark.h>

#include <QApplication>

namespace korvane::bench {

inline int RunWidgetBenchmarks(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace korvane::bench
