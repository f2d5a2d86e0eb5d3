#pragma once
// Plain (not smoothed) thick lines written straight into 32-bit pixels.
// A plot that redraws its lines on every engine update spends most of its
// time in the painter's wide-pen outline and fill; the pixels of a square
// nib are a few writes per column.
#include <cstddef>
#include <cstdint>
#include <span>

#include "plot/PlotMath.h"

namespace korvane::plot {

// The pixels that may be written: [left, right) × [top, bottom).
struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// 32-bit pixels, `stride` of them from one row to the next.
struct PixelBuffer {
    uint32_t* bits = nullptr;
    size_t stride = 0;
};

// The rows [top, bottom) of one pixel column that were written; empty
// while top >= bottom.
struct ColumnSpan {
    int top = 0, bottom = 0;
    bool Empty() const { return top >= bottom; }
    void Add(int from, int to) {
        if (from >= to) return;
        if (Empty()) {
            top = from;
            bottom = to;
        } else {
            top = top < from ? top : from;
            bottom = bottom > to ? bottom : to;
        }
    }
};

// Draws the polyline through `points` with a square nib `width` pixels
// wide: across each flat segment (more wide than high) `width` pixels per
// column, along each steep one `width` per row, and a full square at every
// point so the corners close. Only pixels within `clip` are written;
// segments with a non-finite end are left out. When `touched` is given
// (one per column of the buffer, at least clip.right of them) each written
// column's span grows to hold what was written, so the caller can put back
// exactly those pixels before the next drawing.
void DrawThickPolyline(PixelBuffer buffer, PixelRect clip, std::span<const Pixel> points, int width,
                       uint32_t colour, std::span<ColumnSpan> touched = {});

}  // namespace korvane::plot
