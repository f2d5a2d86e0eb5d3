// Exchange cost, polling rate and firmware read rate of the ECU link
// against korvane-sim on a pseudo-terminal.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ecu/ECUThread.h"
#include "ecu/EcuLink.h"
#include "platform/Clock.h"
#include "sim/Simulator.h"

using namespace korvane;
using namespace korvane::ecu;

namespace {

class NullView final : public LogView {
public:
    void AppendLine(const std::string&) override {}
    void ReplaceLastLine(const std::string&) override {}
    void SetProgress(int, int) override {}
};

// Transfer time of n bytes at the line speed: ten bits each.
double WireMs(size_t bytes, int baud) { return 10.0 * 1000.0 * static_cast<double>(bytes) / baud; }

// One diagnostic exchange against the simulator in fast mode. The budget is
// the two pauses, the request's time on a real wire and 2 ms.
void BM_Exchange(benchmark::State& state) {
    const int pauseBefore = static_cast<int>(state.range(0));
    const int pauseAfter = static_cast<int>(state.range(1));
    sim::Options options;
    options.fast = true;
    options.scenario = "idle";
    sim::Simulator sim(options);
    if (!sim.Start()) {
        state.SkipWithError("simulator did not start");
        return;
    }
    NullView view;
    platform::DirectUiBridge bridge;
    UiLog log(bridge, view);
    EcuLinkFields fields;
    fields.PortName = sim.EcuPath();
    fields.PortSpeed = "57600";
    fields.PortTimeOut = 0;
    fields.PortReadTimeOut = 5;
    EcuLink link(fields, log, [] { return platform::MakePosixSerialPort(); },
                 platform::SystemClock::Instance());
    if (!link.OpenPort() || !link.StartSession()) {
        state.SkipWithError("no session");
        return;
    }
    fields.PortTimeOut = pauseBefore;
    fields.PortReadTimeOut = pauseAfter;
    int failures = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!link.SendRequest({0x21, 0x0F})) ++failures;
    }
    const double spentMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const double perExchangeMs = spentMs / static_cast<double>(state.iterations());
    const double budgetMs = pauseBefore + pauseAfter + WireMs(6, 57600) + 2.0;
    state.counters["budget_ms"] = budgetMs;
    state.counters["exchange_ms"] = perExchangeMs;
    state.counters["of_budget"] = perExchangeMs / budgetMs;  // must stay at or below 1
    state.counters["failures"] = failures;
}
BENCHMARK(BM_Exchange)->Args({0, 5})->Args({5, 10})->Args({20, 150})->Unit(benchmark::kMillisecond)
    ->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
