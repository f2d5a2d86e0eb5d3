#include "live/LiveTexts.h"

#include "platform/NumberText.h"

namespace korvane::live {

using platform::FormatFixed;
using platform::FormatGeneral;

namespace {

constexpr std::array<std::string_view, kCaptionCount> kCaptions{
    "Рабочая точка RPM_GBC_3D",
    "Температура охлаждающей жидкости",
    "Соотношение воздух/топливо",
    "AFR LC-1",
    "Коэффициент коррекции",
    "Положение дроссельной заслонки",
    "Скорость вращения двигателя",
    "Скорость вращения двигателя на ХХ",
    "Время цикла",
    "Желаемое положение РХХ",
    "Текущее положение РХХ",
    "Коэф. коррекции времени впрыска",
    "Фаза впрыска",
    "Угол опережения зажигания",
    "Коррекция УОЗ цилиндра 1",
    "Коррекция УОЗ цилиндра 2",
    "Коррекция УОЗ цилиндра 3",
    "Коррекция УОЗ цилиндра",
    "АЦП ДД",
    "АЦП ДМРВ",
    "АЦП напряжения бортсети",
    "АЦП RCO",
    "АЦП ДПДЗ",
    "АЦП ДТОЖ",
    "АЦП ДТВ",
    "Изменение АЦП ДК",
    "Октан корректор",
    "Скорость автомобиля",
    "Желаемые обороты ХХ",
    "Температура воздуха",
    "АЦП ДК",
    "Коэф. коррекции GTC при обогащении",
    "Коэф. коррекции GTC при обеднении",
    "Длительность импульса впрыска",
    "Массовый расход воздуха",
    "Цикловой расход воздуха",
    "Часовой расход топлива",
    "Путевой расход",
};

using Field = double LiveValues::*;
// Rows 4, 5 and 12 are not plain frame values.
constexpr std::array<Field, kGridRows> kRowFields{
    nullptr,
    &LiveValues::WorkPointRpmGbc,
    &LiveValues::CoolantTemp,
    &LiveValues::Afr,
    nullptr,
    nullptr,
    &LiveValues::ThrottlePos,
    &LiveValues::Rpm,
    &LiveValues::IdleRpm,
    &LiveValues::CycleTime,
    &LiveValues::IacDesiredPos,
    &LiveValues::IacPos,
    nullptr,
    &LiveValues::InjPhase,
    &LiveValues::IgnAdvance,
    &LiveValues::IgnCorrCyl1,
    &LiveValues::IgnCorrCyl2,
    &LiveValues::IgnCorrCyl3,
    &LiveValues::IgnCorrCyl4,
    &LiveValues::AdcKnock,
    &LiveValues::AdcMaf,
    &LiveValues::AdcBattery,
    &LiveValues::AdcRco,
    &LiveValues::AdcTps,
    &LiveValues::AdcCoolant,
    &LiveValues::AdcIntakeAir,
    &LiveValues::AdcO2Delta,
    &LiveValues::OctaneCorrector,
    &LiveValues::VehicleSpeed,
    &LiveValues::IdleRpmDesired,
    &LiveValues::IntakeAirTemp,
    &LiveValues::AdcO2,
    &LiveValues::GtcCorrRich,
    &LiveValues::GtcCorrLean,
    &LiveValues::InjPulseWidth,
    &LiveValues::MassAirFlow,
    &LiveValues::CyclicAirFlow,
    &LiveValues::FuelPerHour,
};

constexpr int kAfrLc1Row = 4;
constexpr int kCorrectionRow = 5;

}  // namespace

std::string_view DiagnosticCaption(int row) {
    if (row < 1 || row > kCaptionCount) return {};
    return kCaptions[row - 1];
}

std::optional<double> RowValue(const LiveValues& v, int row) {
    if (row < 1 || row >= kGridRows || kRowFields[row] == nullptr) return std::nullopt;
    return v.*kRowFields[row];
}

bool SetRowValue(LiveValues& v, int row, double value) {
    if (row == kAfrLc1Row) {
        v.AfrLc1 = value;
    } else if (row == kCorrectionRow) {
        v.InjTimeCorrection = value;
    } else if (row >= 1 && row < kGridRows && kRowFields[row] != nullptr) {
        v.*kRowFields[row] = value;
    } else {
        return false;
    }
    return true;
}

GridTexts ComposeGridTexts(const LiveValues& v, const TickOutcome& tick, char sep) {
    GridTexts texts;
    if (!tick.frameDecoded) return texts;
    for (int row = 1; row < kGridRows; ++row)
        if (auto value = RowValue(v, row)) texts[row] = FormatGeneral(*value, sep);
    texts[kAfrLc1Row] = FormatGeneral(tick.afrLc1Before, sep);
    if (tick.correctionRow) texts[kCorrectionRow] = FormatGeneral(*tick.correctionRow, sep);
    return texts;
}

DashboardTexts ComposeDashboardTexts(const LiveValues& v, OxygenSensor sensor, char sep) {
    DashboardTexts t;
    t.rpm = FormatGeneral(v.Rpm, sep);
    t.coolant = FormatGeneral(v.CoolantTemp, sep);
    t.throttle = FormatGeneral(v.ThrottlePos, sep);
    t.battery = FormatGeneral(v.AdcBattery, sep);
    t.coef = FormatFixed(CorrectionCoef(v, sensor), 3, sep);
    t.ignition = FormatGeneral(v.IgnAdvance, sep);
    t.afrLc1 = sensor == OxygenSensor::Lc1 ? FormatFixed(v.AfrLc1, 2, sep) : "УДК";
    t.injection = FormatGeneral(v.InjPulseWidth, sep);
    t.afr = FormatGeneral(v.Afr, sep);
    t.iac = FormatGeneral(v.IacPos, sep);
    t.airMass = FormatGeneral(v.MassAirFlow, sep);
    return t;
}

std::string RateText(int32_t newPolls, int32_t newFreshTicks, int intervalMs, char sep) {
    // A zero interval never ticks; guard it anyway rather than divide by it.
    auto perSecond = [intervalMs](int32_t count) {
        return intervalMs > 0 ? count * 1000.0 / intervalMs : 0.0;
    };
    return "FROM ECU:" + FormatFixed(perSecond(newPolls), 2, sep) +
           "//Calc:" + FormatFixed(perSecond(newFreshTicks), 2, sep);
}

std::string RateDisplay::Tick(int32_t numlog, int32_t freshTickCount, int intervalMs, char sep) {
    std::string text = RateText(numlog - lastPolls_, freshTickCount - lastFresh_, intervalMs, sep);
    lastPolls_ = numlog;
    lastFresh_ = freshTickCount;
    return text;
}

}  // namespace korvane::live
