// The synthetic image and the demo map agree with the engine model and with
// the way the program reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <pugixml.hpp>

#include "platform/TextCodec.h"
#include "sim/EngineModel.h"
#include "sim/Firmware.h"
#include "sim/SimTestUtil.h"

namespace korvane::sim::test {
namespace {

// The grid headers as the program derives them from the image: written
// from the description of that derivation, not from the generator.
int RpmStepOf(const std::vector<uint8_t>& image) {
    int step = 0;
    for (size_t i = 0; i + 4 < image.size() && i <= 0xFFFB; ++i)
        if (image[i] == 0x90 && image[i + 1] == 0x61 && image[i + 2] == 0x3C &&
            image[i + 3] == 0xE5) {
            if (image[i + 4] == 0x54) step = 30;
            if (image[i + 4] == 0x55) step = 40;
        }
    return step;
}

std::array<int, 16> RowLabels(const std::vector<uint8_t>& image, int step) {
    std::array<int, 16> L{};
    const uint8_t* T = image.data() + 0x613C;
    int acc = 0, k = 1;
    for (int j = 1; j <= 256; ++j) {
        const double v = T[j - 1] / 16.0;
        if (k == v) {
            if (k < 16) L[k] = acc;
            ++k;
        } else {
            if (v == 0) L[0] = acc;
            if (T[j - 1] > 16 && k > v && j < 256 && k < T[j] / 16.0) {
                if (k < 16) L[k] = acc + step;
                ++k;
            }
        }
        acc += step;
    }
    L[15] = step == 40 ? 8000 : 7560;
    return L;
}

std::array<int, 16> ColumnLabels(const std::vector<uint8_t>& image) {
    std::array<int, 16> L{};
    const uint8_t* T = image.data() + 0x7208;
    int acc = 0, k = 1;
    for (int j = 1; j <= 256; ++j) {
        const double v = T[j - 1] / 16.0;
        if (k == v) {
            if (k < 16) L[k] = acc;
            ++k;
        } else if (T[j - 1] > 16 && k > v && j < 256 && k < T[j] / 16.0) {
            if (k < 16) L[k] = acc;
            ++k;
        }
        acc += 1;
    }
    L[0] = 0;
    L[15] = 100;
    return L;
}

TEST(SimFirmware, GridHeadersMatchTheEngineModel) {
    for (uint32_t seed : {1u, 2u, 99u}) {
        SCOPED_TRACE(seed);
        const auto image = MakeSyntheticFirmware(seed);
        ASSERT_EQ(image.size(), 65536u);
        ASSERT_EQ(RpmStepOf(image), 40);
        EXPECT_EQ(RowLabels(image, 40), Grid::RpmLabels());
        EXPECT_EQ(ColumnLabels(image), Grid::ThrottleLabels());
        EXPECT_EQ(
            std::vector<uint8_t>(image.begin() + kSignatureAt, image.begin() + kSignatureAt + 5),
            Hex("90 61 3C E5 55"));
    }
}

TEST(SimFirmware, TablesWhereTheProgramLooks) {
    const auto image = MakeSyntheticFirmware(5);
    for (int c = 0; c < 16; ++c)
        for (int r = 0; r < 16; ++r) {
            const int k = c * 16 + r;
            EXPECT_EQ(image[0x7CF7 + k], 128);
            EXPECT_EQ(image[0x75EF + k], image[0x726D + k]);
            // The BCN holds the engine's air charge within a few per cent.
            EXPECT_NEAR(image[0x75EF + k] * 8.0 / 3.0, AirChargeAt(c, r),
                        0.06 * AirChargeAt(c, r) + 2);
            EXPECT_EQ(image[0x6DC8 + k], std::lround(IgnitionAt(c, r) * 2));
            EXPECT_LT(image[0x6DC8 + k], 128);  // a positive advance in the diagnostic frame
        }
    EXPECT_EQ(MakeSyntheticFirmware(5), image);
}

TEST(SimFirmware, DemoMapDescribesTablesInsideTheImage) {
    const auto image = MakeSyntheticFirmware();
    const std::string cp1251 = MakeDemoMapCp1251(image);
    std::string utf8;
    ASSERT_TRUE(platform::Cp1251ToUtf8(cp1251, utf8));
    EXPECT_NE(utf8, cp1251);  // Cyrillic names really are single-byte
    pugi::xml_document doc;
    ASSERT_TRUE(
        doc.load_buffer(utf8.data(), utf8.size(), pugi::parse_default | pugi::parse_declaration));

    std::map<std::string, pugi::xml_node> tables;
    std::function<void(pugi::xml_node, std::string)> walk = [&](pugi::xml_node n,
                                                                std::string path) {
        for (pugi::xml_node child : n.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string p = path.empty() ? child.name() : path + "/" + child.name();
            if (child.attribute("graf")) tables[p] = child;
            walk(child, p);
        }
    };
    walk(doc.document_element(), "");
    ASSERT_EQ(tables.size(), DemoTables().size());
    int curves = 0, singles = 0, maps = 0;
    for (const auto& t : DemoTables()) {
        SCOPED_TRACE(t.path);
        ASSERT_TRUE(tables.count(t.path));
        const pugi::xml_node n = tables[t.path];
        const std::string address = n.attribute("address").value();
        ASSERT_EQ(address.size(), 8u);
        EXPECT_EQ(address.substr(0, 4), "0000");
        EXPECT_EQ(std::stoul(address, nullptr, 16), t.address);
        for (char ch : address) EXPECT_TRUE(std::isdigit(ch) || (ch >= 'A' && ch <= 'F'));
        EXPECT_EQ(std::string(n.attribute("graf").value()),
                  t.rows > 0 ? "3D" : (t.curve ? "2D" : "1D"));
        const char* keys1D[] = {"Смещение_значения",
                                "Шаг",
                                "Делитель_шага",
                                "Смещение",
                                "Обратный_мультипликативный",
                                "MAX",
                                "MIN"};
        const char* keys2D[] = {"Число_точек_по_оси_X",
                                "Первая_точка_по_оси_X",
                                "Последняя_точка_по_оси_X",
                                "Смещение_по_оси_Y",
                                "Шаг_по_Y",
                                "Делитель_шага_по_Y"};
        // Either decimal separator, as the map editor reads them.
        auto number = [&](const char* key) {
            std::string text = n.attribute(key).value();
            std::replace(text.begin(), text.end(), ',', '.');
            return std::stod(text);
        };
        if (t.rows > 0) {
            ++maps;
            EXPECT_EQ(n.attribute("Число_точек_по_оси_X").as_int(), t.points);
            EXPECT_EQ(n.attribute("Число_точек_по_оси_Y").as_int(), t.rows);
            ASSERT_LE(t.address + t.points * t.rows, 65536);
            // Every cell's value lies within the map's limits.
            const bool isSigned = std::string(n.attribute("Тип_тарировки").value()) == "1";
            for (int k = 0; k < t.points * t.rows; ++k) {
                const uint8_t b = image[t.address + k];
                const double raw = isSigned ? static_cast<int8_t>(b) : b;
                const double v =
                    (raw + number("Смещение_значения")) * number("Шаг") / number("Делитель_шага") -
                    number("Смещение");
                EXPECT_GE(v, number("MIN")) << k;
                EXPECT_LE(v, number("MAX")) << k;
            }
        } else if (t.curve) {
            ++curves;
            for (const char* key : keys2D) {
                ASSERT_TRUE(n.attribute(key)) << key;
                std::stod(n.attribute(key).value());  // whole numbers: read under any locale
            }
            EXPECT_EQ(n.attribute("Число_точек_по_оси_X").as_int(), t.points);
            // A curve is written in 64-byte blocks: all of them inside the image.
            EXPECT_LE(t.address + 64u * ((t.points + 63) / 64), 65536u);
        } else {
            ++singles;
            for (const char* key : keys1D) ASSERT_TRUE(n.attribute(key)) << key;
            EXPECT_NE(n.attribute("Делитель_шага").as_double(), 0.0);
            // The value the image holds lies within the element's limits.
            const std::string type = n.attribute("Тип_тарировки").value();
            double raw = image[t.address];
            if (type == "1") raw = static_cast<int8_t>(image[t.address]);
            if (type == "2" || type == "3") raw = image[t.address] + 256 * image[t.address + 1];
            if (type == "3" && raw >= 32768) raw -= 65536;
            double v = (raw + n.attribute("Смещение_значения").as_double()) *
                           n.attribute("Шаг").as_double() /
                           n.attribute("Делитель_шага").as_double() -
                       n.attribute("Смещение").as_double();
            const double inverse = n.attribute("Обратный_мультипликативный").as_double();
            if (inverse != 0) v = inverse / v;
            EXPECT_GE(v, n.attribute("MIN").as_double());
            EXPECT_LE(v, n.attribute("MAX").as_double());
        }
    }
    EXPECT_GE(curves, 3);
    EXPECT_GE(singles, 3);
    EXPECT_GE(maps, 3);
}

}  // namespace
}  // namespace korvane::sim::test
