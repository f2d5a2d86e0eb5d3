#include "live/Trend.h"

#include "live/LiveTexts.h"
#include "platform/NumberText.h"

namespace korvane::live {

namespace {

// The number a figure's text reads back as; 0 when it holds none.
double ShownNumber(const std::string& text) {
    return platform::ParseDecimal(text).value_or(0.0);
}

double Lc1OrAfr(const LiveValues& v, OxygenSensor sensor) {
    return sensor == OxygenSensor::Lc1 ? v.AfrLc1 : v.Afr;
}

}  // namespace

double TrendItemValue(int item, const LiveValues& v, OxygenSensor sensor) {
    switch (item) {
        case 0:
            return v.IgnAdvance;
        case 1:
            return v.IacPos;
        case 2:
            return v.FuelPerHour;
        case 3:
            return v.InjPulseWidth;
        case 4:
            return ShownNumber(ComposeDashboardTexts(v, sensor, '.').coef);
        case 5:
            return Lc1OrAfr(v, sensor);
        case 6:
            return v.MassAirFlow;
        case 7:
            return v.CyclicAirFlow;
        case 8:
            return ShownNumber(ComposeDashboardTexts(v, sensor, '.').battery);
        case 9:
            return v.Rpm;
        default:
            return 0;
    }
}

bool TrendHistory::Push(double left, double right) {
    left_[count_] = left;
    right_[count_] = right;
    if (count_ < kShown) {
        shownLeft_.push_back(left);
        shownRight_.push_back(right);
        ++count_;
        return false;
    }
    shownLeft_.assign(left_.begin(), left_.begin() + kShown);
    shownRight_.assign(right_.begin(), right_.begin() + kShown);
    for (int k = 0; k < kShown; ++k) {
        left_[k] = left_[k + 1];
        right_[k] = right_[k + 1];
    }
    return true;
}

std::array<std::string, 10> ComposeValueList(const LiveValues& v, OxygenSensor sensor, char sep) {
    using platform::FormatGeneral;
    const DashboardTexts shown = ComposeDashboardTexts(v, sensor, sep);
    return {FormatGeneral(v.Rpm, sep),
            FormatGeneral(v.IgnAdvance, sep),
            FormatGeneral(v.IacPos, sep),
            FormatGeneral(v.FuelPerHour, sep),
            FormatGeneral(v.InjPulseWidth, sep),
            shown.coef,
            FormatGeneral(Lc1OrAfr(v, sensor), sep),
            FormatGeneral(v.MassAirFlow, sep),
            FormatGeneral(v.CyclicAirFlow, sep),
            shown.battery};
}

}  // namespace korvane::live
