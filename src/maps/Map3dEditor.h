#pragma once
// Editing a two-axis map on the image: a rectangular selection and the
// operations a tuner runs on it, each an undoable change of the image's
// bytes. The editor never writes the image itself: it hands every changed
// byte range to `store` (the image's own edit call), so whoever follows the
// image learns of it. No widgets here.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "maps/Map3d.h"

namespace korvane::maps {

// Writes bytes into the image at an address.
using StoreBytes = std::function<void(uint16_t address, std::span<const uint8_t> bytes)>;

// One undoable change: the byte ranges it changed, before and after.
struct EditRange {
    uint16_t address = 0;
    std::vector<uint8_t> before, after;
};
struct EditStep {
    std::string caption;  // what the user did, for the log
    std::vector<EditRange> ranges;
};

// Undo and redo over every table of the map editor while an image is open.
class EditHistory {
  public:
    void Push(EditStep step);
    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }
    // Puts the bytes back through `store`; the caption of the step undone or
    // redone, or empty when there was none.
    std::string Undo(const StoreBytes& store);
    std::string Redo(const StoreBytes& store);
    // Another image was loaded: the steps no longer describe it.
    void Clear();
    size_t UndoDepth() const { return undo_.size(); }

  private:
    std::vector<EditStep> undo_, redo_;
};

// Columns x0..x1 and rows y0..y1, inclusive, x0 ≤ x1 and y0 ≤ y1.
struct CellRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int Width() const { return x1 - x0 + 1; }
    int Height() const { return y1 - y0 + 1; }
    bool Contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    bool operator==(const CellRect&) const = default;
};

// What an operation did, for the log.
struct EditResult {
    int changed = 0;               // cells whose byte changed
    std::vector<std::string> log;  // lines for the log: cells held, paste trimmed, bad input
    bool refused = false;          // nothing was changed because the input was bad
};

class Map3dEditor {
  public:
    // `image` is read at every call (the image can change between calls).
    Map3dEditor(Map3d map, std::function<ConstImageBytes()> image, StoreBytes store,
                EditHistory& history, char decimalSeparator);

    const Map3d& Map() const { return map_; }
    const Map3dLayout& Layout() const { return map_.Layout(); }

    const CellRect& Selection() const { return sel_; }
    // Held within the table; corners in any order.
    void Select(int xa, int ya, int xb, int yb);
    void SelectAll() { Select(0, 0, Layout().nx - 1, Layout().ny - 1); }

    int Raw(int x, int y) const { return map_.RawAt(image_(), x, y); }
    double Value(int x, int y) const { return map_.ValueAt(image_(), x, y); }
    std::string Text(int x, int y) const;
    std::string Format(double value) const;

    // The selection's operations.
    EditResult SetValue(double value);
    EditResult AddValue(double value);
    EditResult ScalePercent(double percent);
    // `big`: a tenth of the allowed range instead of one raw step; `up`
    // raises the value shown, whatever the sign of the step.
    EditResult Step(bool up, bool big);
    EditResult InterpolateRows();     // each row between its first and last cell
    EditResult InterpolateColumns();  // each column between its top and bottom cell
    EditResult InterpolateArea();     // bilinear from the four corners
    EditResult Smooth();              // each cell halfway to the mean of its neighbours
    // The cells of `other` (another 64 KiB image) at the same places.
    EditResult TakeFrom(ConstImageBytes other);

    // TAB between columns, a line per row, values as shown.
    std::string Copy() const;
    // At the selection's top-left corner; within the selection when it is
    // more than one cell, else within the table.
    EditResult Paste(const std::string& text);

  private:
    struct Change {
        int x, y, raw;
    };
    // Held values and the commit of the changes as one undoable step.
    EditResult Commit(const std::string& caption, const std::vector<Change>& changes, int held);
    template <typename F>
    EditResult ForEachSelected(const std::string& caption, F newValue);
    std::string Prefix() const;

    Map3d map_;
    std::function<ConstImageBytes()> image_;
    StoreBytes store_;
    EditHistory& history_;
    char sep_;
    CellRect sel_;
};

// The byte ranges of `bytes` (offsets from `base`) merged into runs.
std::vector<std::pair<size_t, size_t>> MergeRuns(std::vector<size_t> offsets);

// Rows of TAB-separated cells (CR LF or LF line ends; a trailing line end
// adds no row).
std::vector<std::vector<std::string>> SplitTabText(const std::string& text);

// Whether any byte of a table (1D, 2D or 3D element) differs between two
// images; false for elements that are no table or do not read.
bool TableDiffers(const AttributeList& attrs, ConstImageBytes a, ConstImageBytes b);

}  // namespace korvane::maps
