#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "plot/PlotRaster.h"

using namespace korvane::plot;

namespace {

constexpr uint32_t kPaper = 0, kInk = 7;

// A 20 × 12 picture whose clip leaves a frame of 2 pixels on every side:
// nothing may ever land in the frame.
class Raster : public ::testing::Test {
  protected:
    static constexpr int kW = 20, kH = 12;
    std::vector<uint32_t> pixels = std::vector<uint32_t>(kW * kH, kPaper);
    PixelRect clip{2, 2, kW - 2, kH - 2};

    void Draw(std::vector<Pixel> points, int width) {
        DrawThickPolyline({pixels.data(), kW}, clip, points, width, kInk);
    }
    bool Ink(int x, int y) const { return pixels[size_t(y * kW + x)] == kInk; }
    int InkInColumn(int x) const {
        int n = 0;
        for (int y = 0; y < kH; ++y) n += Ink(x, y);
        return n;
    }
    int InkInRow(int y) const {
        int n = 0;
        for (int x = 0; x < kW; ++x) n += Ink(x, y);
        return n;
    }
    bool FrameClean() const {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if ((x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) &&
                    Ink(x, y))
                    return false;
        return true;
    }
    std::string Picture() const {
        std::string s;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) s += Ink(x, y) ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

TEST_F(Raster, AFlatLineIsWidthPixelsHighInEveryColumn) {
    Draw({{4, 6}, {15, 6}}, 3);
    // The nib is centred on the points: one more column at either end.
    for (int x = 3; x <= 16; ++x) {
        EXPECT_EQ(InkInColumn(x), 3) << x << "\n" << Picture();
        EXPECT_TRUE(Ink(x, 5) && Ink(x, 6) && Ink(x, 7)) << x;
    }
    EXPECT_EQ(InkInColumn(2), 0);
    EXPECT_EQ(InkInColumn(17), 0);
}

TEST_F(Raster, ASteepLineIsWidthPixelsWideInEveryRowAndCornersClose) {
    Draw({{5, 3}, {7, 8}, {15, 8}}, 2);
    for (int y = 3; y <= 8; ++y) EXPECT_GE(InkInRow(y), 2) << y << "\n" << Picture();
    // The corner at (7, 8) is filled where the steep part meets the flat one.
    EXPECT_TRUE(Ink(7, 8) && Ink(8, 8) && Ink(7, 9)) << Picture();
    EXPECT_TRUE(FrameClean()) << Picture();
}

// The spans handed back hold every pixel written, and nothing else.
TEST_F(Raster, TouchedSpansCoverExactlyTheInk) {
    std::vector<ColumnSpan> touched(kW);
    DrawThickPolyline({pixels.data(), kW}, clip, std::vector<Pixel>{{3, 9}, {6, 3}, {17, 5}}, 2,
                      kInk, touched);
    for (int x = 0; x < kW; ++x) {
        const ColumnSpan c = touched[size_t(x)];
        int top = kH, bottom = 0;
        for (int y = 0; y < kH; ++y)
            if (Ink(x, y)) top = std::min(top, y), bottom = std::max(bottom, y + 1);
        if (top >= bottom) {
            EXPECT_TRUE(c.Empty()) << x;
        } else {
            EXPECT_EQ(c.top, top) << x << "\n" << Picture();
            EXPECT_EQ(c.bottom, bottom) << x;
        }
    }
}

TEST_F(Raster, NothingOutsideTheClipWhateverThePoints) {
    constexpr double kBig = 1e300, kNaN = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<Pixel> points;
        int width;
    } cases[] = {
        {"across the whole picture", {{-5, -5}, {30, 20}}, 4},
        {"far beyond, both ways", {{-kBig, 6}, {kBig, 6}}, 3},
        {"steep past the ends", {{10, -kBig}, {10, kBig}}, 5},
        {"not a number in the middle", {{3, 3}, {kNaN, 5}, {16, 9}}, 2},
        {"infinite", {{3, 3}, {std::numeric_limits<double>::infinity(), 5}}, 2},
        {"one point", {{2, 2}}, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(pixels.begin(), pixels.end(), kPaper);
        Draw(c.points, c.width);
        EXPECT_TRUE(FrameClean()) << Picture();
    }
    // The very long flat line still shows across the clip.
    std::fill(pixels.begin(), pixels.end(), kPaper);
    Draw({{-kBig, 6}, {kBig, 6}}, 3);
    for (int x = clip.left; x < clip.right; ++x) EXPECT_EQ(InkInColumn(x), 3) << x;
    // A missing point leaves out its two segments, not the others.
    std::fill(pixels.begin(), pixels.end(), kPaper);
    Draw({{3, 3}, {kNaN, 5}, {10, 5}, {16, 5}}, 1);
    EXPECT_TRUE(Ink(13, 5));
    EXPECT_FALSE(Ink(6, 4) || Ink(6, 3));
}

}  // namespace
