// The step's own number texts read exactly like the platform's.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/NumberText.h"
#include "tuning/TuningTexts.h"

namespace korvane::tuning {
namespace {

TEST(TuningTexts, FixedAndGeneralMatchThePlatformForms) {
    const double values[] = {0,         -0.0,       1,          1.0078125,  1.035f,  0.9995,
                             2.675,     -2.675,     0.0005,     -0.0004,    0.00049, 120,
                             101.33333, 999.9996,   1e-9,       12345678.5, 1.95f,   0.05f,
                             -1.25,     99.95,      3.0,        1e14 + 0.5, 680,     0.125,
                             7.0625,    1234.56789, -0.0000001, 1e20,       -3e15,   1.0 / 3};
    NumberText text;
    for (const double v : values) {
        for (int decimals = 0; decimals <= 3; ++decimals)
            for (const char sep : {',', '.'})
                EXPECT_EQ(text.Fixed(v, decimals, sep), platform::FormatFixed(v, decimals, sep))
                    << v << " " << decimals;
        EXPECT_EQ(text.General(v, ','), platform::FormatGeneral(v, ',')) << v;
    }
    EXPECT_EQ(text.General(NAN, ','), platform::FormatGeneral(NAN, ','));
    EXPECT_EQ(text.Fixed(INFINITY, 3, ','), platform::FormatFixed(INFINITY, 3, ','));
}

TEST(TuningTexts, StatusLine) {
    StatusLineText line;
    EXPECT_EQ(line.Format(2, 15, 120, 4000), "GBCRec//PRec/Analis//All:2//15/120//4000");
    EXPECT_EQ(line.Format(INT32_MIN, 0, INT32_MAX, -1),
              "GBCRec//PRec/Analis//All:-2147483648//0/2147483647//-1");
}

}  // namespace
}  // namespace korvane::tuning
