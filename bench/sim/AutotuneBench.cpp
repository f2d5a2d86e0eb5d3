// The closed-loop tuning run: the tuning core on the simulated engine for N
// minutes of driving, once per LC-1 delay, as a table. How well and how
// fast the visited cells reach lambda 1, and what the sensor's delay costs;
// then the same drive from a cold start with transients, with the learning's
// filters at their defaults and off.
//
//   autotune_bench [--minutes N] [--seed N] [--mixture interpolated|cell]
//                  [--delays MS,MS,...] [--noisy P]
//
// The last row runs the first delay again on a noisy line: a share P
// (default 0.05) of the answers lost and as many with a broken checksum.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../BenchArgs.h"
#include "sim/ClosedLoop.h"

using namespace korvane::sim;
using namespace korvane::bench;

namespace {

int Usage() {
    std::fputs(
        "usage: autotune_bench [--minutes N] [--seed N] [--mixture interpolated|cell]"
        " [--delays MS,MS,...] [--noisy P]\n",
        stderr);
    return 2;
}

// Cells brought within 2 % and the median time spent in them until then.
std::pair<size_t, double> Converged(const ClosedLoopResult& r) {
    std::vector<double> needed;
    for (const double s : r.convergedAfter)
        if (s > 0) needed.push_back(s);
    return {needed.size(), Median(needed)};
}

// The same drive with the ECU's enrichments: a cold start from 20 °C and
// acceleration enrichment / deceleration leaning, once with the learning's
// filters at their defaults and once without them. The limits stay at their
// defaults in both.
void TransientsAndColdStart(const ClosedLoopOptions& base, const std::vector<int>& delays) {
    std::printf(
        "\nTransients and a cold start from 20 °C (warm-up enrichment up to 20 %% fading by\n"
        "65 °C; every %% of throttle opening 0.6 %% richer, fading in 0.5 s), limits at their\n"
        "defaults (step 10 %%, 0.7 .. 1.3). spoiled: samples whose measured mixture was more\n"
        "than 2 %% off the table's (sensor delay, enrichment). converged: cells brought within\n"
        "2 %% to stay, and the median time spent in them until then.\n\n");
    std::printf("%10s  %-8s  %8s  %9s  %-25s  %-16s  %-16s  %-14s\n", "LC-1 delay", "filters",
                "samples", "spoiled %", "within 2 % first/last/5", "median |l-1| %",
                "worst |l-1| %", "converged");
    for (const int delay : delays)
        for (const bool filters : {true, false}) {
            ClosedLoopOptions o = base;
            o.lc1DelayMs = delay;
            o.conditions = {true, true};
            o.settings["Макс. шаг поправки %"] = "10";
            o.settings["Пределы поправки"] = "0.7 1.3";
            if (filters) {
                o.settings["Мин. ТОЖ для обучения"] = "60";
                o.settings["Макс. скорость дросселя %/с"] = "20";
                o.settings["Макс. скорость оборотов об/с"] = "1000";
            }
            const ClosedLoopResult r = RunClosedLoop(o);
            std::vector<double> startLong;
            for (size_t k = 0; k < r.stats.size(); ++k)
                if (r.stats[k].seconds >= kLongVisitSeconds)
                    startLong.push_back(r.startCentreError[k]);
            const auto [cells, median] = Converged(r);
            std::printf(
                "%7d ms  %-8s  %8d  %9.1f  %7.1f %7.1f %7.1f  %5.2f -> %5.2f  %5.2f -> %5.2f  "
                "%4zu, %5.1f s\n",
                delay, filters ? "default" : "off", r.samples,
                r.samples > 0 ? 100.0 * r.spoiledSamples / r.samples : 0.0,
                100 * r.withinShareFirst, 100 * r.withinShareLast, 100 * r.withinShareLastFive,
                100 * Median(startLong), 100 * r.medianLongCellError,
                startLong.empty() ? 0.0
                                  : 100 * *std::max_element(startLong.begin(), startLong.end()),
                100 * r.worstLongCellError, cells, median);
        }
}

}  // namespace

int main(int argc, char** argv) {
    ClosedLoopOptions base;
    base.minutes = 20;
    std::vector<int> delays = {0, 250};
    double noisy = 0.05;
    const bool parsed = ParseOptions(argc, argv, [&](const std::string& a, const char* v) {
        int n = 0;
        if (a == "--minutes" && ParseInt(v, 1, 24 * 60, n)) {
            base.minutes = n;
        } else if (a == "--seed" && ParseInt(v, 0, 1 << 30, n)) {
            base.seed = static_cast<uint32_t>(n);
        } else if (a == "--mixture" && ParseMixture(v, base.mixture)) {
        } else if (a == "--noisy") {
            char* end = nullptr;
            noisy = std::strtod(v, &end);
            return *v && !*end && noisy >= 0 && noisy <= 0.5;
        } else if (a == "--delays") {
            delays.clear();
            for (const std::string& item : SplitList(v)) {
                if (!ParseInt(item.c_str(), 0, EngineRun::kMaxLc1DelayMs, n)) return false;
                delays.push_back(n);
            }
            return !delays.empty();
        } else {
            return false;
        }
        return true;
    });
    if (!parsed) return Usage();

    std::printf(
        "Closed-loop autotuning: drive scenario, seed %u, %d simulated minutes, %.1f frames/s,\n"
        "%s mixture, shipped tuning settings (weight 70 %%, 7 samples, 4 cycles, no neighbours).\n"
        "within 2 %%: share of the driving time with |lambda - 1| <= 2 %%, in the first minute,\n"
        "the last minute and the last five minutes.\n"
        "Cells visited for 30 s or more: |lambda - 1| at their centres, start -> end; learned:\n"
        "the worst of them among the cells the tuning processed (idle cells lie below\n"
        "\"Не настраивать ниже %%\" and are never learned).\n\n",
        static_cast<unsigned>(base.seed), base.minutes, base.framesPerSecond,
        base.mixture == Mixture::PerCell ? "per-cell" : "interpolated");
    std::printf("%10s  %-7s  %7s  %-25s  %9s  %-16s  %-16s  %7s  %7s  %6s\n", "LC-1 delay", "line",
                "visited", "within 2 % first/last/5", "cells>30s", "median |l-1| %",
                "worst |l-1| %", "learned", "samples", "writes");

    // Each delay on a clean line, then the first one on a noisy line.
    struct Row {
        int delay;
        double fault;
    };
    std::vector<Row> rows;
    for (const int delay : delays) rows.push_back({delay, 0});
    if (noisy > 0) rows.push_back({delays.front(), noisy});
    std::vector<ClosedLoopResult> results;
    std::vector<std::string> noisyLines;
    for (const Row& row : rows) {
        const int delay = row.delay;
        ClosedLoopOptions o = base;
        o.lc1DelayMs = delay;
        o.silence = row.fault;
        o.noChecksum = row.fault;
        ClosedLoopResult r = RunClosedLoop(o);
        char line[16];
        if (row.fault > 0)
            std::snprintf(line, sizeof line, "%.0f%%+%.0f%%", 100 * row.fault, 100 * row.fault);
        else
            std::snprintf(line, sizeof line, "clean");
        std::vector<double> startLong;
        for (size_t k = 0; k < r.stats.size(); ++k)
            if (r.stats[k].seconds >= kLongVisitSeconds) startLong.push_back(r.startCentreError[k]);
        const double startWorst =
            startLong.empty() ? 0 : *std::max_element(startLong.begin(), startLong.end());
        if (row.fault > 0) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "noisy line (%.0f %% of the answers lost, %.0f %% with a broken "
                          "checksum): %d polls without a frame, %d write repeats, %d writes kept "
                          "and written after the next good poll",
                          100 * row.fault, 100 * row.fault, r.pollsLost, r.writeRepeats,
                          r.writesKept);
            noisyLines.push_back(text);
        }
        std::printf(
            "%7d ms  %-7s  %7d  %7.1f %7.1f %7.1f    %9d  %5.2f -> %5.2f  %5.2f -> %5.2f  %7.2f  "
            "%7d  %6d\n",
            delay, line, r.cellsVisited, 100 * r.withinShareFirst, 100 * r.withinShareLast,
            100 * r.withinShareLastFive, r.longCells, 100 * Median(startLong),
            100 * r.medianLongCellError, 100 * startWorst, 100 * r.worstLongCellError,
            100 * r.worstLearnedLongCellError, r.samples, r.remakes);
        results.push_back(std::move(r));
    }

    for (const auto& text : noisyLines) std::printf("%s\n", text.c_str());
    std::printf(
        "\nPer minute: share of the minute's driving time within 2 %%; cells visited for\n"
        "30 s so far whose centre is within 2 %% / all of them.\n");
    std::printf("%6s", "minute");
    for (const Row& row : rows) std::printf("  %12d ms%s", row.delay, row.fault > 0 ? " N" : "  ");
    std::printf("\n");
    for (int m = 0; m < base.minutes; ++m) {
        std::printf("%6d", m + 1);
        for (const auto& r : results) {
            const ClosedLoopMinute& x = r.minutes[static_cast<size_t>(m)];
            std::printf("  %6.1f %% %3d/%-3d", 100 * x.withinShare, x.longCellsWithin, x.longCells);
        }
        std::printf("\n");
    }
    for (size_t i = 0; i < results.size(); ++i) {
        const ClosedLoopResult& r = results[i];
        std::printf("\nLC-1 delay %d ms%s, cells visited for 30 s or more:\n", rows[i].delay,
                    rows[i].fault > 0 ? ", noisy line" : "");
        std::printf("%6s %6s %8s %10s %10s %10s %14s\n", "rpm", "thr %", "time s", "start %",
                    "end %", "processed", "within after s");
        std::vector<double> needed, neededFar;  // far: started more than 5 % off
        for (int row = 0; row < kGridSize; ++row)
            for (int c = 0; c < kGridSize; ++c) {
                const size_t k = static_cast<size_t>(Grid::CellIndex(c, row));
                if (r.convergedAfter[k] > 0) needed.push_back(r.convergedAfter[k]);
                if (r.convergedAfter[k] > 0 && r.startCentreError[k] > 0.05)
                    neededFar.push_back(r.convergedAfter[k]);
                if (r.stats[k].seconds < kLongVisitSeconds) continue;
                std::printf("%6d %6d %8.1f %10.2f %10.2f %10d", Grid::RpmLabels()[row],
                            Grid::ThrottleLabels()[c], r.stats[k].seconds,
                            100 * r.startCentreError[k], 100 * r.endCentreError[k], r.processed[k]);
                if (r.convergedAfter[k] >= 0)
                    std::printf(" %14.1f\n", r.convergedAfter[k]);
                else
                    std::printf(" %14s\n", "-");
            }
        std::sort(needed.begin(), needed.end());
        if (!needed.empty())
            std::printf(
                "%zu cells brought within 2 %%; time spent in the cell until then: median "
                "%.1f s, longest %.1f s\n",
                needed.size(), Median(needed), needed.back());
        std::sort(neededFar.begin(), neededFar.end());
        if (!neededFar.empty())
            std::printf("of them %zu started more than 5 %% off: median %.1f s, longest %.1f s\n",
                        neededFar.size(), Median(neededFar), neededFar.back());
        for (const auto& line : r.log) std::printf("tuning log: %s\n", line.c_str());
    }

    TransientsAndColdStart(base, delays);
    return 0;
}
