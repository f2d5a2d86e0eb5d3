#include "sim/Firmware.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/TextCodec.h"
#include "sim/EngineModel.h"
#include "sim/Simulator.h"

namespace korvane::sim {

namespace {

double Position(double value, const std::array<int, kGridSize>& labels) {
    if (value <= labels[0]) return 0.0;
    for (int i = 1; i < kGridSize; ++i)
        if (value <= labels[i])
            return (i - 1) + (value - labels[i - 1]) / (labels[i] - labels[i - 1]);
    return kGridSize - 1;
}

uint8_t Byte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

struct Writer {
    std::vector<uint8_t>& image;
    void Put(uint16_t at, uint8_t b) { image[at] = b; }
};

// Calibration values that the demo map names.
constexpr uint16_t kIdleSpeed = 0x5A10;       // rpm / 10
constexpr uint16_t kFanOn = 0x5A11;           // °C + 40
constexpr uint16_t kRevLimit = 0x5A12;        // rpm, 16 bits, low byte first
constexpr uint16_t kOctane = 0x5A14;          // degrees × 2, signed
constexpr uint16_t kInjectorFlow = 0x5A16;    // 30000 / (g/min)
constexpr uint16_t kInjectionPhase = 0x5A18;  // degrees, signed 16 bits, low byte first
constexpr uint16_t kColdCorrection = 0x5C00;  // 16 points, raw / 128, −40 .. 110 °C
constexpr uint16_t kDwell = 0x5C40;           // 16 points, ms × 20, 6 .. 21 V
constexpr uint16_t kIdleIgnition = 0x5C80;    // 16 points, degrees × 2 signed, 400 .. 2200 rpm
constexpr uint16_t kIdleTarget = 0x5CC0;      // 16 points, rpm / 10, −40 .. 110 °C
// Maps over two axes of their own, evenly spaced, so the live point shows.
constexpr uint16_t kPhaseMap = 0x5D00;  // 16 × 11, rows: 600 .. 6600 rpm × 0 .. 100 %, deg / 3
constexpr int kPhaseColumns = 16, kPhaseRows = 11;
constexpr uint16_t kWarmIgnition = 0x5E00;  // 8 × 8, rows: 800 .. 6400 rpm × −40 .. 100 °C,
                                            // degrees × 2 signed
constexpr int kWarmSize = 8;

}  // namespace

uint8_t RpmGridEntry(int m) {
    return Byte(std::floor(16.0 * Position(m * static_cast<double>(kRpmStep), Grid::RpmLabels())));
}

uint8_t ThrottleGridEntry(int m) {
    return Byte(std::floor(16.0 * Position(std::min(m, 100), Grid::ThrottleLabels())));
}

std::vector<uint8_t> MakeSyntheticFirmware(uint32_t seed) {
    std::vector<uint8_t> image(kImageSize, 0xFF);
    // Code area: filler drawn from the seed; it only has to look like data
    // and must hold the grid signature exactly once.
    uint32_t lcg = 0x1234567u ^ seed;
    for (int i = 0; i < 0x4000; ++i) {
        lcg = lcg * 1664525u + 1013904223u;
        image[i] = static_cast<uint8_t>(lcg >> 24);
    }
    for (size_t i = 0; i + 3 < 0x4000; ++i)
        if (image[i] == 0x90 && image[i + 1] == 0x61 && image[i + 2] == 0x3C &&
            image[i + 3] == 0xE5)
            image[i + 3] = 0x00;
    const uint8_t signature[] = {0x90, 0x61, 0x3C, 0xE5, 0x55};  // 0x55: 40 rpm per step
    std::copy(std::begin(signature), std::end(signature), image.begin() + kSignatureAt);

    for (int m = 0; m < 256; ++m) image[kRpmGridMap + m] = RpmGridEntry(m);
    // The throttle map ends at 100 %; the second BCN copy follows it.
    for (int m = 0; m <= 100; ++m) image[kThrottleGridMap + m] = ThrottleGridEntry(m);

    // The BCN tables hold the engine's air charge with a few per cent of
    // smooth error, so the learning has something to find as well.
    const FuelErrorField bcnError(seed ^ 0xB0C0u);
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) {
            const int k = Grid::CellIndex(c, r);
            const double bcn = AirChargeAt(c, r) * (1.0 + (bcnError.At(c, r) - 1.0) * 0.3);
            image[kBcnTable + k] = Byte(bcn * 3.0 / 8.0);
            image[kBcnCopy + k] = image[kBcnTable + k];
            image[kCorrectionTable + k] = 128;
            image[kIgnitionTable + k] = Byte(IgnitionAt(c, r) * 2.0);
        }

    image[kControlByte] = 0;
    const char identity[8] = {'K', 'V', 'S', 'I', 'M', '-', '0', '1'};
    std::copy(std::begin(identity), std::end(identity), image.begin() + kIdentityAt);

    image[kIdleSpeed] = 84;
    image[kFanOn] = 100 + 40;
    image[kRevLimit] = 6400 & 0xFF;
    image[kRevLimit + 1] = 6400 >> 8;
    image[kOctane] = 0;
    image[kInjectorFlow] = 150;  // 200 g/min
    const int16_t phase = -90;
    image[kInjectionPhase] = static_cast<uint8_t>(static_cast<uint16_t>(phase) & 0xFF);
    image[kInjectionPhase + 1] = static_cast<uint8_t>(static_cast<uint16_t>(phase) >> 8);
    for (int i = 0; i < 16; ++i) {
        const double t = -40.0 + 10.0 * i;
        image[kColdCorrection + i] = Byte(128.0 * (1.0 + 0.6 * std::max(0.0, 80.0 - t) / 120.0));
        const double volts = 6.0 + i;
        image[kDwell + i] = Byte(20.0 * (2.0 + 8.0 * (21.0 - volts) / 15.0));
        const double rpm = 400.0 + 120.0 * i;
        const double advance = 16.0 - 20.0 * (rpm - 400.0) / 1800.0;  // retard above idle
        image[kIdleIgnition + i] =
            static_cast<uint8_t>(static_cast<int8_t>(std::lround(advance * 2.0)));
        image[kIdleTarget + i] = Byte((840.0 + 560.0 * std::max(0.0, 80.0 - t) / 120.0) / 10.0);
    }
    for (int y = 0; y < kPhaseRows; ++y)
        for (int x = 0; x < kPhaseColumns; ++x) {
            // End of injection later with speed, earlier with load.
            const double rpm = 600.0 + 400.0 * x, throttle = 10.0 * y;
            const double phase = 300.0 + 60.0 * (rpm - 600.0) / 6000.0 - 0.4 * throttle;
            image[kPhaseMap + y * kPhaseColumns + x] = Byte(phase / 3.0);
        }
    for (int y = 0; y < kWarmSize; ++y)
        for (int x = 0; x < kWarmSize; ++x) {
            // More advance while cold, less at high speed.
            const double coolant = -40.0 + 20.0 * y, rpm = 800.0 + 800.0 * x;
            const double deg = std::max(0.0, 60.0 - coolant) / 12.0 - (rpm - 800.0) / 2800.0;
            image[kWarmIgnition + y * kWarmSize + x] =
                static_cast<uint8_t>(static_cast<int8_t>(std::lround(deg * 2.0)));
        }
    return image;
}

const std::vector<DemoTable>& DemoTables() {
    static const std::vector<DemoTable> tables = {
        {"Холостой_ход/Обороты_ХХ", false, kIdleSpeed, 0},
        {"Холостой_ход/Желаемые_обороты_ХХ_по_ТОЖ", true, kIdleTarget, 16},
        {"Холостой_ход/УОЗ_ХХ_по_оборотам", true, kIdleIgnition, 16},
        {"Топливо/Коррекция_по_ТОЖ", true, kColdCorrection, 16},
        {"Топливо/Производительность_форсунки", false, kInjectorFlow, 0},
        {"Топливо/Поправка_столбец_0", true, kCorrectionTable, 16},
        {"Топливо/Сдвиг_фазы_впрыска", false, kInjectionPhase, 0},
        {"Зажигание/Время_накопления", true, kDwell, 16},
        {"Зажигание/Октан_корректор", false, kOctane, 0},
        {"Разное/Отсечка_по_оборотам", false, kRevLimit, 0},
        {"Разное/Включение_вентилятора", false, kFanOn, 0},
        {"Зажигание/УОЗ_основной", false, kIgnitionTable, kGridSize, kGridSize},
        {"Зажигание/Коррекция_УОЗ_по_ТОЖ", false, kWarmIgnition, kWarmSize, kWarmSize},
        {"Топливо/БЦН", false, kBcnTable, kGridSize, kGridSize},
        {"Топливо/Поправка", false, kCorrectionTable, kGridSize, kGridSize},
        {"Топливо/Фаза_впрыска_по_оборотам_и_дросселю", false, kPhaseMap, kPhaseColumns,
         kPhaseRows},
    };
    return tables;
}

namespace {

std::string Hex8(uint16_t address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(address));
    return buf;
}

std::string Single(const std::string& name, uint16_t address, const char* type, const char* offset,
                   const char* step, const char* divider, const char* shift, const char* inverse,
                   const char* max, const char* min) {
    std::string s = "    <" + name + " graf=\"1D\" address=\"" + Hex8(address) + "\"";
    if (type) s += std::string(" Тип_тарировки=\"") + type + "\"";
    s += std::string(" Смещение_значения=\"") + offset + "\" Шаг=\"" + step +
         "\" Делитель_шага=\"" + divider + "\" Смещение=\"" + shift +
         "\" Обратный_мультипликативный=\"" + inverse + "\" MAX=\"" + max + "\" MIN=\"" + min +
         "\"/>\r\n";
    return s;
}

std::string Curve(const std::string& name, uint16_t address, const char* type, const char* first,
                  const char* last, bool byIndex, const char* xCaption, const char* yCaption,
                  const char* offsetY, const char* stepY, const char* dividerY) {
    std::string s = "    <" + name + " graf=\"2D\" address=\"" + Hex8(address) + "\"";
    if (type) s += std::string(" Тип_тарировки=\"") + type + "\"";
    s += std::string(" Число_точек_по_оси_X=\"16\" Первая_точка_по_оси_X=\"") + first +
         "\" Последняя_точка_по_оси_X=\"" + last + "\"";
    if (byIndex) s += " Ось_x_по_таблице=\"1\"";
    s += std::string(" Ось_X=\"") + xCaption + "\" Ось_Y=\"" + yCaption +
         "\" Смещение_по_оси_Y=\"" + offsetY + "\" Шаг_по_Y=\"" + stepY +
         "\" Делитель_шага_по_Y=\"" + dividerY + "\"/>\r\n";
    return s;
}

// A map over two axes. `x`, `y`: first and last axis value, or nullptr for
// an axis by index; `params`: the live values of the axes, or nullptr.
struct MapAxes {
    const char* first;
    const char* last;
    const char* caption;
    const char* parameter;
};
std::string Map(const std::string& name, uint16_t address, int columns, int rows, const char* order,
                const char* type, const MapAxes& x, const MapAxes& y, const char* zCaption,
                const char* step, const char* divider, const char* min, const char* max) {
    std::string s = "    <" + name + " graf=\"3D\" address=\"" + Hex8(address) + "\"";
    s += " Число_точек_по_оси_X=\"" + std::to_string(columns) + "\" Число_точек_по_оси_Y=\"" +
         std::to_string(rows) + "\"";
    for (const auto& [axis, a] : {std::pair{"X", &x}, std::pair{"Y", &y}}) {
        s += std::string(" Первая_точка_по_оси_") + axis + "=\"" + (a->first ? a->first : "0") +
             "\" Последняя_точка_по_оси_" + axis + "=\"" + (a->last ? a->last : "0") + "\"";
        if (!a->first)
            s += std::string(" Ось_") + (axis[0] == 'X' ? "x" : "y") + "_по_таблице=\"1\"";
        s += std::string(" Ось_") + axis + "=\"" + a->caption + "\"";
        if (a->parameter) s += std::string(" Параметр_") + axis + "=\"" + a->parameter + "\"";
    }
    s += std::string(" Порядок_ячеек=\"") + order + "\"";
    if (type) s += std::string(" Тип_тарировки=\"") + type + "\"";
    s += std::string(" Ось_Z=\"") + zCaption + "\" Смещение_значения=\"0\" Шаг=\"" + step +
         "\" Делитель_шага=\"" + divider + "\" Смещение=\"0\" MIN=\"" + min + "\" MAX=\"" + max +
         "\"/>\r\n";
    return s;
}

}  // namespace

std::string MakeDemoMapCp1251(const std::vector<uint8_t>& firmware) {
    (void)firmware;  // the tables lie at fixed places of every synthetic image
    std::string x;
    x += "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n";
    x += "<!-- Демонстрационная карта korvane-sim: все таблицы синтетические -->\r\n";
    x += "<Демо_прошивка>\r\n";
    x += "  <Холостой_ход>\r\n";
    x += Single("Обороты_ХХ", kIdleSpeed, nullptr, "0", "10", "1", "0", "0", "1500", "600");
    x += Curve("Желаемые_обороты_ХХ_по_ТОЖ", kIdleTarget, nullptr, "-40", "110", false,
               "Температура", "Обороты", "0", "10", "1");
    x += Curve("УОЗ_ХХ_по_оборотам", kIdleIgnition, "1", "400", "2200", false, "Обороты", "Градусы",
               "0", "1", "2");
    x += "  </Холостой_ход>\r\n";
    x += "  <Топливо>\r\n";
    x += Curve("Коррекция_по_ТОЖ", kColdCorrection, nullptr, "-40", "110", false, "Температура",
               "Коэффициент", "0", "1", "128");
    x += Single("Производительность_форсунки", kInjectorFlow, nullptr, "0", "1", "1", "0", "30000",
                "300", "100");
    x += Single("Сдвиг_фазы_впрыска", kInjectionPhase, "3", "0", "1", "1", "0", "0", "360", "-360");
    x += Curve("Поправка_столбец_0", kCorrectionTable, nullptr, "0", "15", true, "Строка",
               "Поправка", "0", "1", "128");
    // The tuning tables are stored column by column (the throttle column
    // runs slowest); their axes come from the grid maps, so they show by index.
    const MapAxes throttleIndex{nullptr, nullptr, "Дроссель, №", nullptr};
    const MapAxes rpmIndex{nullptr, nullptr, "Обороты, №", nullptr};
    x += Map("БЦН", kBcnTable, kGridSize, kGridSize, "столбцы", nullptr, throttleIndex, rpmIndex,
             "мг/цикл", "8", "3", "0", "680");
    x += Map("Поправка", kCorrectionTable, kGridSize, kGridSize, "столбцы", nullptr, throttleIndex,
             rpmIndex, "Коэффициент", "1", "128", "0,25", "1,95");
    x += Map("Фаза_впрыска_по_оборотам_и_дросселю", kPhaseMap, kPhaseColumns, kPhaseRows, "строки",
             nullptr, {"600", "6600", "Обороты", "Скорость вращения двигателя"},
             {"0", "100", "Дроссель, %", "Положение дроссельной заслонки"}, "Градусы", "3", "1",
             "0", "720");
    x += "  </Топливо>\r\n";
    x += "  <Зажигание>\r\n";
    x += Curve("Время_накопления", kDwell, nullptr, "6", "21", false, "Напряжение", "мс", "0", "1",
               "20");
    x += Single("Октан_корректор", kOctane, "1", "0", "1", "2", "0", "0", "10", "-10");
    x += Map("УОЗ_основной", kIgnitionTable, kGridSize, kGridSize, "столбцы", nullptr,
             throttleIndex, rpmIndex, "Градусы", "1", "2", "0", "60");
    x += Map("Коррекция_УОЗ_по_ТОЖ", kWarmIgnition, kWarmSize, kWarmSize, "строки", "1",
             {"800", "6400", "Обороты", "Скорость вращения двигателя"},
             {"-40", "100", "ТОЖ, °C", "Температура охлаждающей жидкости"}, "Градусы", "1", "2",
             "-10", "10");
    x += "  </Зажигание>\r\n";
    x += "  <Разное>\r\n";
    x += Single("Отсечка_по_оборотам", kRevLimit, "2", "0", "1", "1", "0", "0", "8000", "4000");
    x += Single("Включение_вентилятора", kFanOn, nullptr, "0", "1", "1", "40", "0", "110", "80");
    x += "  </Разное>\r\n";
    x += "</Демо_прошивка>\r\n";
    std::string out;
    platform::Utf8ToCp1251(x, out);
    return out;
}

}  // namespace korvane::sim
