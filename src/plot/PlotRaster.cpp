#include "plot/PlotRaster.h"

#include <algorithm>
#include <cmath>

namespace korvane::plot {

namespace {

// Nearest integer of a value already held within ±2^29: a float to int
// conversion truncates, which is the floor for the positive sum.
inline int Round(double v) {
    constexpr double kShift = 1 << 30;
    return static_cast<int>(v + (kShift + 0.5)) - (1 << 30);
}

// Holds a coordinate known to be finite a little outside [lo, hi], so that
// no later sum can overflow.
inline double Held(double v, int lo, int hi) {
    return std::clamp(v, double(lo) - 2, double(hi) + 2);
}

void Fill(PixelBuffer b, PixelRect clip, int x0, int y0, int x1, int y1, uint32_t colour,
          std::span<ColumnSpan> touched) {
    x0 = std::max(x0, clip.left);
    y0 = std::max(y0, clip.top);
    x1 = std::min(x1, clip.right);
    y1 = std::min(y1, clip.bottom);
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = b.bits + size_t(y) * b.stride;
        std::fill(row + x0, row + x1, colour);
    }
    if (!touched.empty())
        for (int x = x0; x < x1; ++x) touched[size_t(x)].Add(y0, y1);
}

}  // namespace

void DrawThickPolyline(PixelBuffer buffer, PixelRect clip, std::span<const Pixel> points, int width,
                       uint32_t colour, std::span<ColumnSpan> touched) {
    if (!buffer.bits || width < 1 || clip.left >= clip.right || clip.top >= clip.bottom) return;
    if (touched.size() < size_t(clip.right)) touched = {};
    const double half = (width - 1) / 2.0;
    for (size_t i = 0; i < points.size(); ++i) {
        const Pixel a = points[i];
        if (!std::isfinite(a.x) || !std::isfinite(a.y)) continue;
        const int x = Round(Held(a.x - half, clip.left - width, clip.right));
        const int y = Round(Held(a.y - half, clip.top - width, clip.bottom));
        Fill(buffer, clip, x, y, x + width, y + width, colour, touched);
        if (i + 1 == points.size()) break;
        const Pixel b = points[i + 1];
        if (!std::isfinite(b.x) || !std::isfinite(b.y)) continue;
        const double dx = b.x - a.x, dy = b.y - a.y;
        if (std::abs(dx) >= std::abs(dy)) {
            // Flat: a column of `width` pixels per x, over the clip only.
            if (dx == 0) continue;
            const int from =
                std::max(Round(Held(std::min(a.x, b.x), clip.left, clip.right)), clip.left);
            const int to =
                std::min(Round(Held(std::max(a.x, b.x), clip.left, clip.right)), clip.right - 1);
            const double slope = dy / dx;
            double top = a.y + (from - a.x) * slope - half;
            for (int px = from; px <= to; ++px, top += slope) {
                const int y0 = Round(Held(top, clip.top - width, clip.bottom));
                const int first = std::max(y0, clip.top), last = std::min(y0 + width, clip.bottom);
                uint32_t* p = buffer.bits + size_t(std::max(first, 0)) * buffer.stride + px;
                for (int py = first; py < last; ++py, p += buffer.stride) *p = colour;
                if (!touched.empty()) touched[size_t(px)].Add(first, last);
            }
        } else {
            // Steep: a row of `width` pixels per y.
            const int from =
                std::max(Round(Held(std::min(a.y, b.y), clip.top, clip.bottom)), clip.top);
            const int to =
                std::min(Round(Held(std::max(a.y, b.y), clip.top, clip.bottom)), clip.bottom - 1);
            const double slope = dx / dy;
            double left = a.x + (from - a.y) * slope - half;
            for (int py = from; py <= to; ++py, left += slope) {
                const int x0 = Round(Held(left, clip.left - width, clip.right));
                const int first = std::max(x0, clip.left), last = std::min(x0 + width, clip.right);
                uint32_t* row = buffer.bits + size_t(py) * buffer.stride;
                for (int px = first; px < last; ++px) row[px] = colour;
                if (!touched.empty())
                    for (int px = first; px < last; ++px) touched[size_t(px)].Add(py, py + 1);
            }
        }
    }
}

}  // namespace korvane::plot
