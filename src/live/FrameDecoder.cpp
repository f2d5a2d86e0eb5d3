#include "live/FrameDecoder.h"

#include "platform/NumberText.h"

namespace korvane::live {

namespace {

double Word(std::span<const uint8_t> f, size_t low) {
    return static_cast<double>(f[low] + 256 * f[low + 1]);
}

}  // namespace

double AfrFromByte(uint8_t b) {
    // Extended precision, left to right, so the halves fall where the ECU's
    // own tools put them.
    const long double hundredths = 14.7L * (b + 128) * 100 / 256;
    return static_cast<double>(platform::RoundHalfEven(hundredths)) / 100.0;
}

double IgnAdvanceFromByte(uint8_t b) {
    return b <= 127 ? b / 2.0 : 0 - b / 2.0;
}

bool DecodeFrame(std::span<const uint8_t> f, LiveValues& v) {
    if (f.size() != kDiagnosticFrameSize) return false;
    v.WorkPointRpmGbc = f[7];
    v.CoolantTemp = f[8] - 40.0;
    v.Afr = AfrFromByte(f[9]);
    v.ThrottlePos = f[11];
    v.Rpm = 40.0 * f[12];
    v.IdleRpm = 40.0 * f[13];
    v.CycleTime = Word(f, 14);
    v.IacDesiredPos = f[16];
    v.IacPos = f[17];
    v.InjTimeCorrection = (f[18] + 128) / 256.0;
    v.InjPhase = 3.0 * f[19];
    v.IgnAdvance = IgnAdvanceFromByte(f[20]);
    v.IgnCorrCyl1 = f[21] / 2.0;
    v.IgnCorrCyl2 = f[22] / 2.0;
    v.IgnCorrCyl3 = f[23] / 2.0;
    v.IgnCorrCyl4 = f[24] / 2.0;
    v.AdcKnock = f[25];
    v.AdcMaf = f[26];
    v.AdcBattery = 0.05 * f[27] + 5.2;
    v.AdcRco = f[28];
    v.AdcTps = f[29];
    v.AdcCoolant = f[30];
    v.AdcIntakeAir = f[31];
    v.AdcO2Delta = f[32];
    v.OctaneCorrector = f[34];
    v.VehicleSpeed = f[35];
    v.IdleRpmDesired = 10.0 * f[36];
    v.IntakeAirTemp = f[37] - 40.0;
    v.AdcO2 = f[38];
    v.GtcCorrRich = Word(f, 39) / 256;
    v.GtcCorrLean = Word(f, 41) / 256;
    v.InjPulseWidth = Word(f, 43) / 125;
    v.MassAirFlow = Word(f, 45) / 10;
    v.CyclicAirFlow = Word(f, 47) / 6;
    v.FuelPerHour = Word(f, 49) / 50;
    return true;
}

}  // namespace korvane::live
