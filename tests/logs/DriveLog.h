#pragma once
// A drive of the simulated engine recorded as the live logs record it, for
// the tests that read logs back.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <limits>
#include <string>

#include "live/LiveLogs.h"
#include "live/LiveTick.h"
#include "sim/EngineRun.h"

namespace korvane::drive {

namespace fs = std::filesystem;
using DriveImage = std::array<uint8_t, 0x10000>;

// A drive of the simulated engine recorded as the live logs record it: the
// program's frame decoding, the grid's texts and the log writer. From
// `lc1SilentFrom` seconds on the LC-1 sends nothing (its port stays open).
inline fs::path RecordDrive(const fs::path& dir, const DriveImage& memory, int minutes,
                            sim::Mixture mixture,
                            double lc1SilentFrom = std::numeric_limits<double>::infinity()) {
    const uint32_t seed = 1;
    sim::EngineRun engine(sim::Scenario::Drive, seed, mixture, 250);
    live::LiveDecoder decoder;
    live::LiveLogs logs([](const std::string& line) { ADD_FAILURE() << line; });
    fs::create_directories(dir);
    logs.Start(dir);
    live::ShownRowTexts shown;
    const double period = 1 / 16.0;  // a log line per poll, as at 57600 baud
    const double lc1Period = 0.08192;
    double lc1Next = 0;
    uint64_t lc1Index = 0;
    live::LambdaSnapshot lc{1, 0, 0, 0};
    int32_t numlog = 0;
    for (double t = 0; t < minutes * 60.0; t += period) {
        while (lc1Next <= t) {
            engine.AdvanceTo(lc1Next, memory);
            lc = lc1Next < lc1SilentFrom
                     ? live::LambdaSnapshot{1, 1, 0,
                                            14.7 * sim::Lc1Measured(engine.SensorLambda(), seed,
                                                                    lc1Index)}
                     : live::LambdaSnapshot{1, 0, 0, lc.afr};
            lc1Next = double(++lc1Index) * lc1Period;
        }
        engine.AdvanceTo(t, memory);
        const auto tick =
            decoder.Tick(engine.FrameAt(t, memory), ++numlog, live::OxygenSensor::Lc1, lc);
        const auto texts = live::ComposeGridTexts(decoder.Values(), tick, ',');
        for (int r = 1; r < live::kGridRows; ++r)
            if (texts[r]) shown[r] = *texts[r];
        // As the window logs it: a reading it did not accept is not taken.
        EXPECT_TRUE(logs.AppendLine(shown, numlog, dir,
                                    tick.frameDecoded && live::AcceptLambdaReading(lc)));
    }
    logs.Stop();
    return dir / live::kXlsLogName;
}

}  // namespace korvane::drive
