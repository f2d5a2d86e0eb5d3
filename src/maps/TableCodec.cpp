#include "maps/TableCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/NumberText.h"
#include "platform/TextCodec.h"

namespace korvane::maps {

namespace {

std::string Quote(std::string_view s) {
    return "«" + std::string(s) + "»";
}

// Reads the keys of one element and words the errors the user sees.
class Keys {
  public:
    explicit Keys(const AttributeList& attrs) : attrs_(attrs) {}

    std::string Text(std::string_view key) const { return attrs_.Value(key); }

    // A number; on failure the error names the element, the key and the value.
    std::optional<long double> Number(std::string_view key, std::string& error) const {
        const std::string text = attrs_.Value(key);
        if (auto v = ParseNumber(text)) return v;
        error = Prefix() + (attrs_.Has(key) ? "параметр " + Quote(key) + " = " + Quote(text) +
                                                  " не является числом."
                                            : "нет параметра " + Quote(key) + ".");
        return std::nullopt;
    }
    std::string ZeroDivide(std::string_view key) const {
        return Prefix() + "деление на ноль: " + Quote(key) + " = " + Quote(Text(key)) + ".";
    }
    std::string Prefix() const { return "Элемент " + Quote(attrs_.Element()) + ": "; }

  private:
    const AttributeList& attrs_;
};

struct Layout {
    uint16_t address = 0;
    int length = 0;  // bytes of the table
};

// The address of a table and the bytes it spans, refused when the address
// is not 0000XXXX or the table would pass the end of the image.
std::optional<uint16_t> CheckAddress(const Keys& keys, std::string& error) {
    const std::string text = keys.Text("address");
    if (auto a = ParseTableAddress(text)) return a;
    error = keys.Prefix() + "адрес " + Quote(text) +
            " не годится: нужны восемь шестнадцатеричных цифр 0–9, A–F, из них первые четыре 0 "
            "(например 00004A10). Таблица не читается и не записывается.";
    return std::nullopt;
}

bool CheckSpan(const Keys& keys, uint16_t address, int64_t length, std::string& error) {
    if (static_cast<int64_t>(address) + length <= static_cast<int64_t>(kImageSize)) return true;
    error = keys.Prefix() + "таблица по адресу " + Quote(keys.Text("address")) + " длиной " +
            std::to_string(length) +
            " байт выходит за конец образа прошивки (FFFF). Таблица не читается и не "
            "записывается.";
    return false;
}

// The point count of a curve: at least two points, at most what one write
// carries.
std::optional<int> CurvePoints(const Keys& keys, std::string& error) {
    const std::string key = "Число_точек_по_оси_X";
    const std::string text = keys.Text(key);
    const auto n = platform::ParseInteger(text);
    if (!n) {
        error = keys.Prefix() + "параметр " + Quote(key) + " = " + Quote(text) +
                " не является целым числом.";
        return std::nullopt;
    }
    if (*n < 2) {
        error = keys.Prefix() + "в кривой должно быть не меньше двух точек (" + Quote(key) + " = " +
                Quote(text) + ").";
        return std::nullopt;
    }
    if (*n > kMaxCurveBlocks * kCurveBlock) {
        error = keys.Prefix() + "кривая из " + text +
                " точек длиннее, чем записывается за один раз (" + std::to_string(kMaxCurveBlocks) +
                " блоков по " + std::to_string(kCurveBlock) +
                " байт). Таблица не читается и не записывается.";
        return std::nullopt;
    }
    return static_cast<int>(*n);
}

int SingleWidth(const std::string& type) {
    return (type == "2" || type == "3") ? 2 : 1;
}

std::pair<int64_t, int64_t> SingleRange(const std::string& type) {
    if (type == "1") return {-128, 127};
    if (type == "2") return {0, 65535};
    if (type == "3") return {-32768, 32767};
    return {0, 255};
}

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

std::string Format(long double v, char sep) {
    return platform::FormatGeneral(static_cast<double>(v), sep);
}

void ShowSingle(const Keys& keys, uint16_t a, ConstImageBytes image, char sep, TableDisplay& d) {
    const std::string type = keys.Text("Тип_тарировки");
    int64_t r = image[a];
    if (type == "1") {
        r = static_cast<int8_t>(image[a]);
    } else if (type == "2" || type == "3") {
        r = image[a] + 256 * image[a + 1];
        if (type == "3" && r >= 32768) r -= 65536;
    }
    d.kind = TableKind::Single;
    d.editMax = keys.Text("MAX");
    d.editMin = keys.Text("MIN");
    const auto o = keys.Number("Смещение_значения", d.error);
    if (!o) return;
    const auto s = keys.Number("Шаг", d.error);
    if (!s) return;
    const auto dv = keys.Number("Делитель_шага", d.error);
    if (!dv) return;
    const auto m = keys.Number("Смещение", d.error);
    if (!m) return;
    if (*dv == 0) {
        d.error = keys.ZeroDivide("Делитель_шага");
        return;
    }
    const float v = ToFloat((r + *o) * *s / *dv - *m);
    const std::string inverse = keys.Text("Обратный_мультипликативный");
    if (inverse == "0") {
        d.editPoint = Format(v, sep);
        return;
    }
    const auto k = keys.Number("Обратный_мультипликативный", d.error);
    if (!k) return;
    if (v == 0) {
        d.error = keys.Prefix() + "значение 0 нельзя показать в обратной форме " +
                  Quote("Обратный_мультипликативный") + " = " + Quote(inverse) + ".";
        return;
    }
    d.editPoint = Format(*k / static_cast<long double>(v), sep);
}

void ShowCurve(const Keys& keys, uint16_t a, ConstImageBytes image, char sep, TableDisplay& d) {
    d.kind = TableKind::Curve;
    const auto last = keys.Number("Последняя_точка_по_оси_X", d.error);
    if (!last) return;
    const auto first = keys.Number("Первая_точка_по_оси_X", d.error);
    if (!first) return;
    const auto n = CurvePoints(keys, d.error);
    if (!n || !CheckSpan(keys, a, *n, d.error)) return;
    const float lastX = ToFloat(*last), firstX = ToFloat(*first);
    d.columns = *n + 1;
    const float step = ToFloat((static_cast<long double>(lastX) - firstX) / (*n - 1));
    d.xCaption = keys.Text("Ось_X");
    d.yCaption = keys.Text("Ось_Y");
    const bool byIndex = !keys.Text("Ось_x_по_таблице").empty();
    const bool isSigned = keys.Text("Тип_тарировки") == "1" && !byIndex;
    float x = firstX;
    for (int i = 0; i < *n; ++i) {
        const uint8_t b = image[static_cast<size_t>(a) + static_cast<size_t>(i)];
        const int r = isSigned ? static_cast<int8_t>(b) : b;
        d.headers.push_back(byIndex ? std::to_string(i) : Format(x, sep));
        const auto oy = keys.Number("Смещение_по_оси_Y", d.error);
        if (!oy) return;
        const auto sy = keys.Number("Шаг_по_Y", d.error);
        if (!sy) return;
        const auto dy = keys.Number("Делитель_шага_по_Y", d.error);
        if (!dy) return;
        if (*dy == 0) {
            d.error = keys.ZeroDivide("Делитель_шага_по_Y");
            return;
        }
        // A value beyond what a double holds would show as "INF" and could
        // neither be drawn nor written back: the description is unusable.
        const long double value = (r - *oy) * *sy / *dy;
        if (!(std::fabs(value) <= std::numeric_limits<double>::max())) {
            d.error = keys.Prefix() + "значение точки " + std::to_string(i + 1) +
                      " не помещается в число: проверьте " + Quote("Смещение_по_оси_Y") + ", " +
                      Quote("Шаг_по_Y") + " и " + Quote("Делитель_шага_по_Y") + ".";
            return;
        }
        const std::string text = Format(value, sep);
        d.values.push_back(text);
        x = ToFloat(static_cast<long double>(x) + step);
    }
    // The chart shows what the grid shows.
    for (const auto& text : d.values) d.points.push_back(static_cast<double>(*ParseNumber(text)));
    d.chartFilled = true;
    d.yTitle = keys.Text("Ось_y");
    d.xTitle = keys.Text("Ось_x");
}

}  // namespace

bool SameKey(std::string_view a, std::string_view b) {
    return platform::SameKeyText(a, b);
}

const std::string* AttributeList::Find(std::string_view key) const {
    for (const auto& [name, value] : rows_)
        if (SameKey(name, key)) return &value;
    return nullptr;
}

TableDisplay ShowTable(const AttributeList& attrs, ConstImageBytes image, char sep) {
    TableDisplay d;
    const Keys keys(attrs);
    const std::string graf = keys.Text("graf");
    if (graf != "1D" && graf != "2D") return d;
    const auto a = CheckAddress(keys, d.error);
    if (!a) return d;
    if (graf == "1D") {
        if (CheckSpan(keys, *a, SingleWidth(keys.Text("Тип_тарировки")), d.error))
            ShowSingle(keys, *a, image, sep, d);
    } else {
        ShowCurve(keys, *a, image, sep, d);
    }
    return d;
}

namespace {

// The thinnest range, absolutely and relative to the values' size: a thinner
// one shows no difference in its labels, and one near the smallest doubles
// overflows the chart's pixels-per-unit scale.
constexpr double kMinChartHeight = 1e-9;
constexpr double kMinChartRelativeHeight = 1e-9;

}  // namespace

std::pair<double, double> ChartRange(const std::vector<double>& points) {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (const double v : points) {
        if (std::isnan(v)) continue;
        const double held = std::clamp(v, -kChartLimit, kChartLimit);
        lo = std::min(lo, held);
        hi = std::max(hi, held);
    }
    if (lo > hi) return {-5.0, 5.0};
    const double size = std::max(std::abs(lo), std::abs(hi));
    const double minHeight = std::max(kMinChartHeight, size * kMinChartRelativeHeight);
    if (lo == hi) {
        const double widen = std::max(5.0, minHeight);
        return {lo - widen, hi + widen};
    }
    if (hi - lo < minHeight) {
        const double middle = lo / 2 + hi / 2;
        return {middle - minHeight / 2, middle + minHeight / 2};
    }
    return {lo, hi};
}

std::pair<double, double> ChartAxisRange(const std::vector<double>& points) {
    const auto [lo, hi] = ChartRange(points);
    const double pad = (hi - lo) * 0.05;
    return {lo - pad, hi + pad};
}

double ChartDragValue(double mapped, double previous) {
    if (std::isnan(mapped)) return previous;
    return std::clamp(mapped, -kChartLimit, kChartLimit);
}

namespace {

// Nearest integer (ties to even) of a value bounded just outside [lo, hi],
// so a huge value cannot overflow the conversion and still reads as out of
// range.
int64_t RoundBounded(long double exact, int64_t lo, int64_t hi) {
    return platform::RoundHalfEven(std::clamp<long double>(exact, lo - 1.0L, hi + 1.0L));
}

bool EncodeSingle(const Keys& keys, const ValueBoxes& boxes, TableWrite& w, std::string& error) {
    // The value box keeps to the limit boxes first.
    std::string pointText = boxes.editPoint;
    auto box = [&](const std::string& text, const char* caption) -> std::optional<long double> {
        if (auto v = ParseNumber(text)) return v;
        error = keys.Prefix() + caption + " " + Quote(text) +
                " не является числом. Ничего не записано.";
        return std::nullopt;
    };
    auto point = box(pointText, "текущее значение");
    if (!point) return false;
    const auto max = box(boxes.editMax, "максимальное значение");
    if (!max) return false;
    if (*point > *max) {
        pointText = boxes.editMax;
        point = max;
    }
    const auto min = box(boxes.editMin, "минимальное значение");
    if (!min) return false;
    if (*point < *min) {
        pointText = boxes.editMin;
        point = min;
    }
    if (pointText != boxes.editPoint) w.editPoint = pointText;

    long double value = *point;
    const std::string inverse = keys.Text("Обратный_мультипликативный");
    if (inverse != "0") {
        const auto k = keys.Number("Обратный_мультипликативный", error);
        if (!k) return false;
        if (*point == 0) {
            error = keys.Prefix() + "значение 0 нельзя записать в обратной форме " +
                    Quote("Обратный_мультипликативный") + " = " + Quote(inverse) + ".";
            return false;
        }
        value = *k / *point;
    }
    const float v = ToFloat(value);
    const auto d = keys.Number("Делитель_шага", error);
    if (!d) return false;
    const auto m = keys.Number("Смещение", error);
    if (!m) return false;
    const auto s = keys.Number("Шаг", error);
    if (!s) return false;
    const auto o = keys.Number("Смещение_значения", error);
    if (!o) return false;
    if (*s == 0) {
        error = keys.ZeroDivide("Шаг");
        return false;
    }
    // The exact inverse of the display v = (raw + o) × s / d − m.
    const long double exact = (v + *m) * *d / *s - *o;
    const std::string type = keys.Text("Тип_тарировки");
    const auto [lo, hi] = SingleRange(type);
    const int64_t rounded = RoundBounded(exact, lo, hi);
    const int64_t raw = std::clamp(rounded, lo, hi);
    if (raw != rounded)
        w.notices.push_back(keys.Prefix() + "значение " + pointText +
                            " не помещается в ячейку; записано ближайшее допустимое (" +
                            std::to_string(raw) + " в единицах прошивки).");
    w.width = SingleWidth(type);
    w.raw = raw;
    const auto bits = static_cast<uint32_t>(static_cast<int32_t>(raw));
    w.bytes.push_back(static_cast<uint8_t>(bits & 0xFF));
    if (w.width == 2) w.bytes.push_back(static_cast<uint8_t>((bits >> 8) & 0xFF));
    return true;
}

bool EncodeCurve(const Keys& keys, const std::vector<std::string>& cells, TableWrite& w,
                 std::string& error) {
    const auto n = CurvePoints(keys, error);
    if (!n) return false;
    if (!CheckSpan(keys, w.address, *n, error)) return false;
    const int blocks = (*n + kCurveBlock - 1) / kCurveBlock;
    if (static_cast<int64_t>(w.address) + int64_t{blocks} * kCurveBlock >
        static_cast<int64_t>(kImageSize)) {
        error = keys.Prefix() + "кривая по адресу " + Quote(keys.Text("address")) +
                " записывается блоками по 64 байта, и последний блок вышел бы за конец образа "
                "прошивки. Ничего не записано.";
        return false;
    }
    if (cells.size() < static_cast<size_t>(*n)) {
        error = keys.Prefix() + "показано " + std::to_string(cells.size()) + " точек из " +
                std::to_string(*n) + "; выберите таблицу снова. Ничего не записано.";
        return false;
    }
    const bool byIndex = !keys.Text("Ось_x_по_таблице").empty();
    const bool isSigned = keys.Text("Тип_тарировки") == "1" && !byIndex;
    const int64_t lo = isSigned ? -128 : 0, hi = isSigned ? 127 : 255;
    w.lenText = keys.Text("Число_точек_по_оси_X");
    for (int i = 0; i < *n; ++i) {
        const std::string& text = cells[static_cast<size_t>(i)];
        const auto y = ParseNumber(text);
        if (!y) {
            error = keys.Prefix() + "значение точки " + std::to_string(i + 1) + " " + Quote(text) +
                    " не является числом. Ничего не записано.";
            return false;
        }
        const auto oy = keys.Number("Смещение_по_оси_Y", error);
        if (!oy) return false;
        const auto sy = keys.Number("Шаг_по_Y", error);
        if (!sy) return false;
        const auto dy = keys.Number("Делитель_шага_по_Y", error);
        if (!dy) return false;
        if (*sy == 0) {
            error = keys.ZeroDivide("Шаг_по_Y");
            return false;
        }
        const long double exact = *y * *dy / *sy + *oy;
        const int64_t rounded = RoundBounded(exact, lo, hi);
        const int64_t raw = std::clamp(rounded, lo, hi);
        if (raw != rounded)
            w.notices.push_back(keys.Prefix() + "точка " + std::to_string(i + 1) + " = " + text +
                                " не помещается в ячейку; записано ближайшее допустимое (" +
                                std::to_string(raw) + " в единицах прошивки).");
        const auto byte = static_cast<uint8_t>(raw & 0xFF);
        w.bytes.push_back(byte);
        w.dataText += std::to_string(byte);
    }
    return true;
}

}  // namespace

PreparedWrite PrepareTableWrite(const AttributeList& attrs, const ValueBoxes& boxes,
                                const std::vector<std::string>& curveValues) {
    PreparedWrite p;
    const Keys keys(attrs);
    const std::string graf = keys.Text("graf");
    if (graf != "1D" && graf != "2D") return p;
    const auto a = CheckAddress(keys, p.error);
    if (!a) return p;
    TableWrite w;
    w.address = *a;
    w.adrf = Hex2(*a >> 8);
    w.adrs = Hex2(*a & 0xFF);
    if (graf == "1D") {
        w.kind = TableKind::Single;
        if (!CheckSpan(keys, *a, SingleWidth(keys.Text("Тип_тарировки")), p.error)) return p;
        if (!EncodeSingle(keys, boxes, w, p.error)) return p;
    } else {
        w.kind = TableKind::Curve;
        if (!EncodeCurve(keys, curveValues, w, p.error)) return p;
    }
    p.write = std::move(w);
    return p;
}

void StoreInImage(const TableWrite& write, ImageBytes image) {
    for (size_t i = 0; i < write.bytes.size(); ++i) {
        const size_t at = static_cast<size_t>(write.address) + i;
        if (at < image.size()) image[at] = write.bytes[i];
    }
}

}  // namespace korvane::maps

namespace korvane::maps {

std::vector<std::string> WriteAdjustments(const AttributeList& attrs, const ValueBoxes& typed,
                                          const std::vector<std::string>& typedCurve,
                                          const TableDisplay& shown) {
    std::vector<std::string> lines;
    const std::string prefix = "«" + attrs.Element() + "»: ";
    auto same = [](const std::string& a, const std::string& b) {
        const auto x = ParseNumber(a), y = ParseNumber(b);
        return x && y && *x == *y;
    };
    if (shown.kind == TableKind::Single && shown.editPoint) {
        const std::string& written = *shown.editPoint;
        if (same(typed.editPoint, written)) return lines;
        const auto value = ParseNumber(typed.editPoint);
        const auto max = ParseNumber(typed.editMax), min = ParseNumber(typed.editMin);
        std::string why = "округлено до шага прошивки";
        if (value && max && *value > *max)
            why = "ограничено максимумом " + typed.editMax;
        else if (value && min && *value < *min)
            why = "ограничено минимумом " + typed.editMin;
        lines.push_back(prefix + "значение " + typed.editPoint + " " + why + ", записано " +
                        written);
    } else if (shown.kind == TableKind::Curve) {
        int changed = 0;
        std::string first;
        for (size_t i = 0; i < shown.values.size() && i < typedCurve.size(); ++i) {
            if (same(typedCurve[i], shown.values[i])) continue;
            if (changed++ == 0)
                first = "точка " + std::to_string(i + 1) + ": " + typedCurve[i] + " -> " +
                        shown.values[i];
        }
        if (changed > 0)
            lines.push_back(prefix + "записано с округлением до шага прошивки, точек: " +
                            std::to_string(changed) + " (" + first + ")");
    }
    return lines;
}

}  // namespace korvane::maps
