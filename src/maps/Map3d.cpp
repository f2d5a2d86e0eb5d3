#include "maps/Map3d.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/NumberText.h"

namespace korvane::maps {

namespace {

std::string Quote(std::string_view s) {
    return "«" + std::string(s) + "»";
}

class Reader {
  public:
    explicit Reader(const AttributeList& attrs) : a_(attrs) {}
    std::string Prefix() const { return "Элемент " + Quote(a_.Element()) + ": "; }
    std::string Text(std::string_view key) const { return a_.Value(key); }
    bool Has(std::string_view key) const { return a_.Has(key); }

    std::optional<long double> Number(std::string_view key) {
        const std::string text = a_.Value(key);
        if (auto v = ParseNumber(text)) return v;
        Fail(Has(key) ? "параметр " + Quote(key) + " = " + Quote(text) + " не является числом."
                      : "нет параметра " + Quote(key) + ".");
        return std::nullopt;
    }
    std::optional<double> Limit(std::string_view key) {
        if (!Has(key)) return std::nullopt;
        const auto v = Number(key);
        return v ? std::optional<double>(static_cast<double>(*v)) : std::nullopt;
    }
    std::optional<int> Count(std::string_view key) {
        const std::string text = a_.Value(key);
        const auto n = platform::ParseInteger(text);
        if (!n) {
            Fail(Has(key)
                     ? "параметр " + Quote(key) + " = " + Quote(text) + " не является целым числом."
                     : "нет параметра " + Quote(key) + ".");
            return std::nullopt;
        }
        if (*n < kMin3dPoints || *n > kMax3dPoints) {
            Fail("параметр " + Quote(key) + " = " + Quote(text) + " вне пределов " +
                 std::to_string(kMin3dPoints) + "…" + std::to_string(kMax3dPoints) + ".");
            return std::nullopt;
        }
        return static_cast<int>(*n);
    }
    void Fail(const std::string& why) {
        if (error.empty()) error = Prefix() + why + " Таблица не читается и не записывается.";
    }
    std::string error;

  private:
    const AttributeList& a_;
};

}  // namespace

double Map3dLayout::Value(int raw) const {
    return static_cast<double>((raw + valueOffset) * step / divider - shift);
}

double Map3dLayout::XAt(int i) const {
    if (xByIndex) return i;
    return xFirst + (xLast - xFirst) * i / (nx - 1);
}

double Map3dLayout::YAt(int j) const {
    if (yByIndex) return j;
    return yFirst + (yLast - yFirst) * j / (ny - 1);
}

Map3d::Map3d(Map3dLayout layout) : l_(std::move(layout)) {
    for (int raw = l_.RawLow(); raw <= l_.RawHigh(); ++raw) {
        const size_t k = static_cast<size_t>(raw - l_.RawLow());
        values_[k] = l_.Value(raw);
        // A tiny tolerance: a limit written as the shown value of a raw step
        // (0.1 from 1/10) must let that step in.
        const double v = values_[k];
        const double eps = 1e-9 * std::max(1.0, std::fabs(v));
        allowed_[k] = (!l_.min || v >= *l_.min - eps) && (!l_.max || v <= *l_.max + eps);
        if (allowed_[k]) {
            if (lowest_ > highest_) lowest_ = raw;
            highest_ = raw;
        }
    }
    if (lowest_ > highest_) lowest_ = 0, highest_ = -1;
}

Encoded Map3d::Hold(int raw) const {
    if (raw >= l_.RawLow() && raw <= l_.RawHigh() && Allowed(raw)) return {raw, false};
    int best = lowest_;
    int bestDistance = std::numeric_limits<int>::max();
    for (int r = lowest_; r <= highest_; ++r) {
        if (!Allowed(r)) continue;
        const int d = std::abs(r - raw);
        if (d < bestDistance) best = r, bestDistance = d;
    }
    return {best, true};
}

Encoded Map3d::Encode(double value) const {
    if (std::isnan(value)) return {lowest_, true};
    // The exact inverse of the shown value, rounded to the nearest raw step.
    const long double exact = (value + l_.shift) * l_.divider / l_.step - l_.valueOffset;
    const long double bounded =
        std::clamp<long double>(exact, l_.RawLow() - 1.0L, l_.RawHigh() + 1.0L);
    const auto raw = static_cast<int>(platform::RoundHalfEven(bounded));
    return Hold(raw);
}

bool IsMap3d(const AttributeList& attrs) {
    return attrs.Value("graf") == "3D";
}

Map3dRead ReadMap3d(const AttributeList& attrs) {
    Reader r(attrs);
    Map3dLayout l;
    l.name = attrs.Element();
    const std::string addressText = r.Text("address");
    const auto address = ParseTableAddress(addressText);
    if (!address) {
        r.Fail("адрес " + Quote(addressText) +
               " не годится: нужны восемь шестнадцатеричных цифр 0–9, A–F, из них первые четыре 0 "
               "(например 00004A10).");
        return {std::nullopt, r.error};
    }
    l.address = *address;
    const auto nx = r.Count("Число_точек_по_оси_X");
    const auto ny = r.Count("Число_точек_по_оси_Y");
    const auto xFirst = r.Number("Первая_точка_по_оси_X");
    const auto xLast = r.Number("Последняя_точка_по_оси_X");
    const auto yFirst = r.Number("Первая_точка_по_оси_Y");
    const auto yLast = r.Number("Последняя_точка_по_оси_Y");
    const auto offset = r.Number("Смещение_значения");
    const auto step = r.Number("Шаг");
    const auto divider = r.Number("Делитель_шага");
    const auto shift = r.Number("Смещение");
    l.min = r.Limit("MIN");
    l.max = r.Limit("MAX");
    if (!r.error.empty()) return {std::nullopt, r.error};
    if (*step == 0) r.Fail("деление на ноль: " + Quote("Шаг") + " = " + Quote(r.Text("Шаг")) + ".");
    if (*divider == 0)
        r.Fail("деление на ноль: " + Quote("Делитель_шага") + " = " +
               Quote(r.Text("Делитель_шага")) + ".");
    const std::string order = r.Text("Порядок_ячеек");
    if (order == "столбцы")
        l.order = CellOrder::Columns;
    else if (!order.empty() && order != "строки")
        r.Fail("параметр " + Quote("Порядок_ячеек") + " = " + Quote(order) +
               " не годится: нужно «строки» или «столбцы».");
    if (!r.error.empty()) return {std::nullopt, r.error};
    l.nx = *nx;
    l.ny = *ny;
    const int64_t end = int64_t{l.address} + int64_t{l.nx} * l.ny;
    if (end > static_cast<int64_t>(kImageSize)) {
        r.Fail("таблица по адресу " + Quote(addressText) + " из " + std::to_string(l.nx * l.ny) +
               " ячеек выходит за конец образа прошивки (FFFF).");
        return {std::nullopt, r.error};
    }
    l.xFirst = static_cast<double>(*xFirst);
    l.xLast = static_cast<double>(*xLast);
    l.yFirst = static_cast<double>(*yFirst);
    l.yLast = static_cast<double>(*yLast);
    l.xByIndex = !r.Text("Ось_x_по_таблице").empty();
    l.yByIndex = !r.Text("Ось_y_по_таблице").empty();
    l.isSigned = r.Text("Тип_тарировки") == "1";
    l.valueOffset = *offset;
    l.step = *step;
    l.divider = *divider;
    l.shift = *shift;
    l.xCaption = r.Text("Ось_X");
    l.yCaption = r.Text("Ось_Y");
    l.zCaption = r.Text("Ось_Z");
    l.xParameter = r.Text("Параметр_X");
    l.yParameter = r.Text("Параметр_Y");
    Map3d map(std::move(l));
    for (int raw = map.Layout().RawLow(); raw <= map.Layout().RawHigh(); ++raw)
        if (!std::isfinite(map.Value(raw))) {
            r.Fail("значения ячеек не помещаются в число: проверьте " + Quote("Шаг") + ", " +
                   Quote("Делитель_шага") + " и смещения.");
            return {std::nullopt, r.error};
        }
    if (!map.AnyAllowed()) {
        r.Fail("между " + Quote("MIN") + " и " + Quote("MAX") + " нет ни одного значения ячейки.");
        return {std::nullopt, r.error};
    }
    return {std::move(map), {}};
}

}  // namespace korvane::maps
