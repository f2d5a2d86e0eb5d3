#pragma once
// Decoding a table of the firmware image for display, and encoding edited
// values back into raw bytes, by the keys of the table's element.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "maps/MapNumbers.h"

namespace korvane::maps {

// The selected element's attributes in document order. Keys are found
// without regard to letter case, the first matching attribute serving.
class AttributeList {
  public:
    AttributeList() = default;
    AttributeList(std::string element, std::vector<std::pair<std::string, std::string>> rows)
        : element_(std::move(element)), rows_(std::move(rows)) {}

    const std::string& Element() const { return element_; }
    const std::vector<std::pair<std::string, std::string>>& Rows() const { return rows_; }
    bool Has(std::string_view key) const { return Find(key) != nullptr; }
    // Empty text when absent.
    std::string Value(std::string_view key) const {
        const auto* v = Find(key);
        return v ? *v : std::string();
    }

  private:
    const std::string* Find(std::string_view key) const;
    std::string element_;
    std::vector<std::pair<std::string, std::string>> rows_;
};

// Case-insensitive comparison of keys, Cyrillic included.
bool SameKey(std::string_view a, std::string_view b);

enum class TableKind { None, Single, Curve };

// What the table display fills. The fields that are set were reached; after
// an error the display stops and what was filled before stays.
struct TableDisplay {
    TableKind kind = TableKind::None;  // None: nothing changes
    std::string error;                 // a message for the user, or empty

    // Single value: the limit boxes (as written) and the value box.
    std::optional<std::string> editMax, editMin, editPoint;

    // Curve: grid columns (N + 1), row captions, the header and value text
    // of each point reached, then the chart's points and axis titles.
    std::optional<int> columns;
    std::optional<std::string> xCaption, yCaption;
    std::vector<std::string> headers, values;
    bool chartFilled = false;
    std::vector<double> points;  // the numbers of the value cells
    std::optional<std::string> xTitle, yTitle;
};

// Shows the table of the element: nothing for no "graf" or one other than
// "1D"/"2D"; a refused description ("address" not 0000XXXX, a table beyond
// the image, a curve longer than one write can carry) reads no byte.
TableDisplay ShowTable(const AttributeList& attrs, ConstImageBytes image, char decimalSeparator);

// The vertical range of a curve chart: the values' minimum and maximum,
// widened by 5 each way when they are equal. Always finite and of a height
// the chart can divide by: values beyond ±kChartLimit count as at it, NaN
// not at all, and a range too thin for its values' size (equal values of
// 1e300, two neighbouring denormals) is widened about its middle.
std::pair<double, double> ChartRange(const std::vector<double>& points);
// The chart's vertical axis: ChartRange with 5 % room above and below, so
// the outer points can be grabbed.
std::pair<double, double> ChartAxisRange(const std::vector<double>& points);
// A dragged point's new value from where the mouse is: held to ±kChartLimit,
// and the old value when the position gives no number.
double ChartDragValue(double mapped, double previous);
// A quarter of the largest double: a range within ±kChartLimit, widened and
// padded, still has a finite height.
inline constexpr double kChartLimit = std::numeric_limits<double>::max() / 4;

// The value boxes of a single value, as the user left them.
struct ValueBoxes {
    std::string editPoint, editMax, editMin;
};

// A table write ready to be stored and handed over.
struct TableWrite {
    TableKind kind = TableKind::None;  // None: nothing to store or hand over
    uint16_t address = 0;
    std::string adrf, adrs;      // high and low address byte, two hex digits each
    std::vector<uint8_t> bytes;  // for the image, from `address` on
    // Single value: the value box after the limits (set when it changed),
    // the width (1 or 2) and the raw value.
    std::optional<std::string> editPoint;
    int width = 0;
    int64_t raw = 0;
    // Curve: the point count as the description writes it and the bytes as
    // decimal text run together (for the log).
    std::string lenText, dataText;
    // Values that did not fit their raw type and were clamped, for the user.
    std::vector<std::string> notices;
};

struct PreparedWrite {
    TableWrite write;
    std::string error;  // non-empty: nothing is to be stored or handed over
};

// Encodes the shown table: a single value from its boxes (limits, inverse
// form, scale, nearest integer with ties to even), a curve from the value
// cells of its grid. Refuses what ShowTable refuses, and a curve whose last
// 64-byte block would pass the end of the image.
PreparedWrite PrepareTableWrite(const AttributeList& attrs, const ValueBoxes& boxes,
                                const std::vector<std::string>& curveValues);

// Puts the write's bytes into the image.
void StoreInImage(const TableWrite& write, ImageBytes image);

// After a write is stored: what the table shows now (the value actually
// written, after the limits and the raw type's step) and one log line per
// value that differs from what the user typed, naming the value typed and
// the value written. `shown` is ShowTable on the image after StoreInImage.
std::vector<std::string> WriteAdjustments(const AttributeList& attrs, const ValueBoxes& typed,
                                          const std::vector<std::string>& typedCurve,
                                          const TableDisplay& shown);

// Largest curve one write carries: 15 blocks of 64 bytes.
constexpr int kCurveBlock = 64;
constexpr int kMaxCurveBlocks = 15;

}  // namespace korvane::maps
