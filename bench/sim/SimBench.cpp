// What the simulator costs per answered request: its service code alone, and
// its thread's CPU time for a whole exchange over a pseudo-terminal.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "platform/SerialPort.h"
#include "sim/Ecu.h"
#include "sim/EngineModel.h"
#include "sim/Firmware.h"
#include "sim/KLine.h"
#include "sim/Simulator.h"

using namespace korvane;

namespace {

void BM_ServiceDiagnosticFrame(benchmark::State& state) {
    auto memory = sim::MakeSyntheticFirmware();
    const sim::EngineModel model(sim::Scenario::Drive, 1);
    const std::vector<uint8_t> request = {0x82, 0x10, 0xF1, 0x21, 0x0F, 0xB3};
    double t = 0;
    for (auto _ : state) {
        const auto frame = sim::kline::Decode(request.data(), request.size());
        const auto answer = sim::AnswerRequest(frame.data, memory, [&] {
            return sim::BuildDiagnosticFrame(model.At(t), sim::FrameInputs{}, 1);
        });
        auto out = sim::kline::EncodeAnswer(answer.data);
        benchmark::DoNotOptimize(out);
        t += 0.01;
    }
}
BENCHMARK(BM_ServiceDiagnosticFrame);

void BM_ServiceRead96(benchmark::State& state) {
    auto memory = sim::MakeSyntheticFirmware();
    const std::vector<uint8_t> request = {0x85, 0x10, 0xF1, 0x23, 0x00, 0x00, 0x00, 0x60, 0x09};
    for (auto _ : state) {
        const auto frame = sim::kline::Decode(request.data(), request.size());
        const auto answer =
            sim::AnswerRequest(frame.data, memory, [] { return std::array<uint8_t, 51>{}; });
        auto out = sim::kline::EncodeAnswer(answer.data);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_ServiceRead96);

// A whole exchange as the program makes it; the counter sim_cpu_us is the
// simulator thread's CPU time per answered request.
void BM_PtyExchange(benchmark::State& state, std::vector<uint8_t> request, size_t answerBytes) {
    sim::Options options;
    options.fast = true;
    options.lc1WarmUp = false;
    sim::Simulator simulator(options);
    if (!simulator.Start()) {
        state.SkipWithError("simulator did not start");
        return;
    }
    auto port = platform::MakePosixSerialPort();
    if (!port->Open(simulator.EcuPath()) || !port->SetSpeed(10400)) {
        state.SkipWithError("port did not open");
        return;
    }
    const size_t expected = request.size() + answerBytes;
    const double cpu0 = simulator.ThreadCpuSeconds();
    int64_t answered = 0;
    for (auto _ : state) {
        for (uint8_t b : request) port->WriteByte(b);
        size_t got = 0;
        uint8_t byte = 0;
        while (got < expected && port->ReadByte(byte, 1000) == 1) ++got;
        if (got != expected) {
            state.SkipWithError("short answer");
            break;
        }
        ++answered;
    }
    const double cpu = simulator.ThreadCpuSeconds() - cpu0;
    state.counters["sim_cpu_us"] = answered ? cpu / static_cast<double>(answered) * 1e6 : 0;
    state.SetItemsProcessed(answered);
}
BENCHMARK_CAPTURE(BM_PtyExchange, diagnostic,
                  std::vector<uint8_t>{0x82, 0x10, 0xF1, 0x21, 0x0F, 0xB3}, 58)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PtyExchange, read96,
                  std::vector<uint8_t>{0x85, 0x10, 0xF1, 0x23, 0x00, 0x00, 0x00, 0x60, 0x09}, 102)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
