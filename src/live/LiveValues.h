#pragma once

namespace korvane::live {

// The engine values decoded from the ECU's 51-byte diagnostic frame, one per
// row of the diagnostics grid, plus the last accepted LC-1 air/fuel ratio.
// They persist between frames: nothing blanks stale values.
struct LiveValues {
    double WorkPointRpmGbc = 0;    // row 1
    double CoolantTemp = 0;        // row 2
    double Afr = 0;                // row 3, never 0 once a frame was decoded
    double ThrottlePos = 0;        // row 6
    double Rpm = 0;                // row 7
    double IdleRpm = 0;            // row 8
    double CycleTime = 0;          // row 9
    double IacDesiredPos = 0;      // row 10
    double IacPos = 0;             // row 11
    double InjTimeCorrection = 0;  // row 5 with a narrow-band sensor
    double InjPhase = 0;           // row 13
    double IgnAdvance = 0;         // row 14
    double IgnCorrCyl1 = 0;        // rows 15..18
    double IgnCorrCyl2 = 0;
    double IgnCorrCyl3 = 0;
    double IgnCorrCyl4 = 0;
    double AdcKnock = 0;  // rows 19..26
    double AdcMaf = 0;
    double AdcBattery = 0;
    double AdcRco = 0;
    double AdcTps = 0;
    double AdcCoolant = 0;
    double AdcIntakeAir = 0;
    double AdcO2Delta = 0;
    double OctaneCorrector = 0;  // row 27
    double VehicleSpeed = 0;     // row 28
    double IdleRpmDesired = 0;   // row 29
    double IntakeAirTemp = 0;    // row 30
    double AdcO2 = 0;            // row 31
    double GtcCorrRich = 0;      // row 32
    double GtcCorrLean = 0;      // row 33
    double InjPulseWidth = 0;    // row 34
    double MassAirFlow = 0;      // row 35
    double CyclicAirFlow = 0;    // row 36
    double FuelPerHour = 0;      // row 37

    double AfrLc1 = 0;  // row 4; kept until the next accepted reading

    friend bool operator==(const LiveValues&, const LiveValues&) = default;
};

}  // namespace korvane::live
