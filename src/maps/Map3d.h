#pragma once
// A map over two axes ("graf" = "3D"): X × Y one-byte cells of the image,
// read from the keys of its element. The layout knows where each cell lies,
// how a raw byte turns into the value shown and back, and which raw bytes
// the cell may hold (raw type and MIN/MAX).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "maps/MapNumbers.h"
#include "maps/TableCodec.h"

namespace korvane::maps {

// "строки": the X index runs fastest; "столбцы": the Y index runs fastest.
enum class CellOrder { Rows, Columns };

constexpr int kMin3dPoints = 2;
constexpr int kMax3dPoints = 64;

struct Map3dLayout {
    std::string name;  // the element's name, for messages
    uint16_t address = 0;
    int nx = 0, ny = 0;  // columns (X) and rows (Y)
    CellOrder order = CellOrder::Rows;
    bool isSigned = false;
    double xFirst = 0, xLast = 0, yFirst = 0, yLast = 0;
    bool xByIndex = false, yByIndex = false;
    long double valueOffset = 0, step = 1, divider = 1, shift = 0;
    std::optional<double> min, max;
    std::string xCaption, yCaption, zCaption;
    std::string xParameter, yParameter;  // captions of live values, or empty

    int Cells() const { return nx * ny; }
    // Image offset of cell (x, y).
    size_t Offset(int x, int y) const {
        const int k = order == CellOrder::Rows ? y * nx + x : x * ny + y;
        return static_cast<size_t>(address) + static_cast<size_t>(k);
    }
    int RawOf(uint8_t byte) const { return isSigned ? static_cast<int8_t>(byte) : byte; }
    static uint8_t ByteOf(int raw) { return static_cast<uint8_t>(raw & 0xFF); }
    int RawLow() const { return isSigned ? -128 : 0; }
    int RawHigh() const { return isSigned ? 127 : 255; }
    // The value shown for a raw cell: (raw + offset) × step / divider − shift.
    double Value(int raw) const;
    // Axis value of column i / row j (evenly spaced from first to last).
    double XAt(int i) const;
    double YAt(int j) const;
};

// The raw value nearest to `value` that the cell may hold; `held` when the
// nearest raw value lay outside the raw type or MIN/MAX.
struct Encoded {
    int raw = 0;
    bool held = false;
};

// A layout with its allowed raw values worked out once.
class Map3d {
  public:
    explicit Map3d(Map3dLayout layout);
    const Map3dLayout& Layout() const { return l_; }
    double Value(int raw) const { return values_[static_cast<size_t>(raw - l_.RawLow())]; }
    bool Allowed(int raw) const { return allowed_[static_cast<size_t>(raw - l_.RawLow())]; }
    // False when MIN/MAX leave no raw value at all.
    bool AnyAllowed() const { return lowest_ <= highest_; }
    Encoded Encode(double value) const;
    // The nearest allowed raw value to a raw value (ties to the lower).
    Encoded Hold(int raw) const;
    // Lowest and highest allowed raw value.
    int LowestRaw() const { return lowest_; }
    int HighestRaw() const { return highest_; }
    int RawAt(ConstImageBytes image, int x, int y) const {
        return l_.RawOf(image[l_.Offset(x, y)]);
    }
    double ValueAt(ConstImageBytes image, int x, int y) const { return Value(RawAt(image, x, y)); }

  private:
    Map3dLayout l_;
    std::array<double, 256> values_{};
    std::array<bool, 256> allowed_{};
    int lowest_ = 0, highest_ = -1;
};

struct Map3dRead {
    std::optional<Map3d> map;
    std::string error;  // why the table cannot be shown or written
};

bool IsMap3d(const AttributeList& attrs);
// Reads the keys of a "3D" element; every problem gives the reason, naming
// the key, and no map.
Map3dRead ReadMap3d(const AttributeList& attrs);

}  // namespace korvane::maps
