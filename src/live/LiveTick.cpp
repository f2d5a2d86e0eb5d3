#include "live/LiveTick.h"

#include "live/FrameDecoder.h"

namespace korvane::live {

OxygenSensor OxygenSensorFromSetting(const std::string& text) {
    return text == "ШДК LC-1" ? OxygenSensor::Lc1 : OxygenSensor::NarrowBand;
}

bool AcceptLambdaReading(const LambdaSnapshot& lc) {
    return lc.isComConnected == 1 && lc.isLambdaConnected == 1 && lc.isLambdaError == 0 &&
           lc.afr > 9 && lc.afr < 20;
}

bool PollTracker::Observe(int32_t numlog) {
    if (numlog <= 0 || numlog <= seenPollCount_) return false;
    ++freshTickCount_;
    seenPollCount_ = numlog;
    return true;
}

double CorrectionCoef(const LiveValues& v, OxygenSensor sensor) {
    if (sensor == OxygenSensor::NarrowBand) return v.InjTimeCorrection;
    return v.Afr > 0 ? v.AfrLc1 / v.Afr : 0;
}

TickOutcome LiveDecoder::Tick(std::span<const uint8_t> frame, int32_t numlog, OxygenSensor sensor,
                              const LambdaSnapshot& lc) {
    TickOutcome out;
    out.afrLc1Before = values_.AfrLc1;
    if (DecodeFrame(frame, values_)) {
        out.frameDecoded = true;
        if (sensor == OxygenSensor::Lc1) {
            if (AcceptLambdaReading(lc)) {
                values_.AfrLc1 = lc.afr;
                out.lc1Taken = true;
                out.correctionRow = values_.AfrLc1 / values_.Afr;
            }
        } else {
            out.correctionRow = values_.InjTimeCorrection;
            NarrowBandMode = true;
        }
    }
    // A poll whose answer was refused still counts: the tuning and the logs
    // then work on the last good values.
    out.newPoll = polls_.Observe(numlog);
    return out;
}

}  // namespace korvane::live
