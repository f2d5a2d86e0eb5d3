#include "maps/Map3dEditor.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/NumberText.h"

namespace korvane::maps {

void EditHistory::Push(EditStep step) {
    undo_.push_back(std::move(step));
    redo_.clear();
}

std::string EditHistory::Undo(const StoreBytes& store) {
    if (undo_.empty()) return {};
    EditStep step = std::move(undo_.back());
    undo_.pop_back();
    for (auto it = step.ranges.rbegin(); it != step.ranges.rend(); ++it)
        store(it->address, it->before);
    std::string caption = step.caption;
    redo_.push_back(std::move(step));
    return caption;
}

std::string EditHistory::Redo(const StoreBytes& store) {
    if (redo_.empty()) return {};
    EditStep step = std::move(redo_.back());
    redo_.pop_back();
    for (const EditRange& r : step.ranges) store(r.address, r.after);
    std::string caption = step.caption;
    undo_.push_back(std::move(step));
    return caption;
}

void EditHistory::Clear() {
    undo_.clear();
    redo_.clear();
}

std::vector<std::pair<size_t, size_t>> MergeRuns(std::vector<size_t> offsets) {
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t o : offsets) {
        if (!runs.empty() && runs.back().first + runs.back().second == o)
            ++runs.back().second;
        else
            runs.push_back({o, 1});
    }
    return runs;
}

std::vector<std::vector<std::string>> SplitTabText(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> cells;
        size_t c = 0;
        for (;;) {
            const size_t tab = line.find('\t', c);
            cells.push_back(line.substr(c, tab == std::string::npos ? std::string::npos : tab - c));
            if (tab == std::string::npos) break;
            c = tab + 1;
        }
        rows.push_back(std::move(cells));
        start = end + 1;
    }
    return rows;
}

Map3dEditor::Map3dEditor(Map3d map, std::function<ConstImageBytes()> image, StoreBytes store,
                         EditHistory& history, char decimalSeparator)
    : map_(std::move(map)),
      image_(std::move(image)),
      store_(std::move(store)),
      history_(history),
      sep_(decimalSeparator) {}

void Map3dEditor::Select(int xa, int ya, int xb, int yb) {
    auto hold = [](int v, int n) { return std::clamp(v, 0, n - 1); };
    const int nx = Layout().nx, ny = Layout().ny;
    sel_ = {hold(std::min(xa, xb), nx), hold(std::min(ya, yb), ny), hold(std::max(xa, xb), nx),
            hold(std::max(ya, yb), ny)};
}

std::string Map3dEditor::Format(double value) const {
    return platform::FormatGeneral(value, sep_);
}

std::string Map3dEditor::Text(int x, int y) const {
    return Format(Value(x, y));
}

std::string Map3dEditor::Prefix() const {
    return "«" + Layout().name + "»: ";
}

EditResult Map3dEditor::Commit(const std::string& caption, const std::vector<Change>& changes,
                               int held) {
    EditResult result;
    const ConstImageBytes image = image_();
    std::map<size_t, uint8_t> after;
    for (const Change& c : changes) {
        const size_t at = Layout().Offset(c.x, c.y);
        const uint8_t b = Map3dLayout::ByteOf(c.raw);
        if (image[at] != b) after[at] = b;
    }
    if (held > 0)
        result.log.push_back(Prefix() + caption + ": ячеек удержано в пределах " +
                             Format(map_.Value(map_.LowestRaw())) + " … " +
                             Format(map_.Value(map_.HighestRaw())) + ": " + std::to_string(held) +
                             ".");
    result.changed = static_cast<int>(after.size());
    if (after.empty()) return result;
    std::vector<size_t> offsets;
    for (const auto& [at, b] : after) offsets.push_back(at);
    EditStep step{Prefix() + caption, {}};
    for (const auto& [start, length] : MergeRuns(std::move(offsets))) {
        EditRange r;
        r.address = static_cast<uint16_t>(start);
        for (size_t k = start; k < start + length; ++k) {
            r.before.push_back(image[k]);
            r.after.push_back(after[k]);
        }
        step.ranges.push_back(std::move(r));
    }
    for (const EditRange& r : step.ranges) store_(r.address, r.after);
    history_.Push(std::move(step));
    return result;
}

template <typename F>
EditResult Map3dEditor::ForEachSelected(const std::string& caption, F newValue) {
    std::vector<Change> changes;
    int held = 0;
    for (int y = sel_.y0; y <= sel_.y1; ++y)
        for (int x = sel_.x0; x <= sel_.x1; ++x) {
            const Encoded e = map_.Encode(newValue(x, y));
            held += e.held;
            changes.push_back({x, y, e.raw});
        }
    return Commit(caption, changes, held);
}

EditResult Map3dEditor::SetValue(double value) {
    return ForEachSelected("= " + Format(value), [&](int, int) { return value; });
}

EditResult Map3dEditor::AddValue(double value) {
    return ForEachSelected("+ " + Format(value), [&](int x, int y) { return Value(x, y) + value; });
}

EditResult Map3dEditor::ScalePercent(double percent) {
    return ForEachSelected("× " + Format(percent) + " %",
                           [&](int x, int y) { return Value(x, y) * (1.0 + percent / 100.0); });
}

EditResult Map3dEditor::Step(bool up, bool big) {
    const int span = map_.HighestRaw() - map_.LowestRaw();
    const int amount = big ? std::max(1, span / 10) : 1;
    // A negative step turns the raw order round.
    const bool rising = map_.Value(Layout().RawLow() + 1) >= map_.Value(Layout().RawLow());
    const int delta = (up == rising) ? amount : -amount;
    std::vector<Change> changes;
    int held = 0;
    for (int y = sel_.y0; y <= sel_.y1; ++y)
        for (int x = sel_.x0; x <= sel_.x1; ++x) {
            const Encoded e = map_.Hold(Raw(x, y) + delta);
            held += e.held;
            changes.push_back({x, y, e.raw});
        }
    return Commit(std::string(up ? "+" : "−") + std::to_string(amount) + " шаг", changes, held);
}

EditResult Map3dEditor::InterpolateRows() {
    const CellRect s = sel_;
    if (s.Width() < 2) return {};
    return ForEachSelected("интерполяция по строкам", [&](int x, int y) {
        const double a = Value(s.x0, y), b = Value(s.x1, y);
        return a + (b - a) * (x - s.x0) / (s.x1 - s.x0);
    });
}

EditResult Map3dEditor::InterpolateColumns() {
    const CellRect s = sel_;
    if (s.Height() < 2) return {};
    return ForEachSelected("интерполяция по столбцам", [&](int x, int y) {
        const double a = Value(x, s.y0), b = Value(x, s.y1);
        return a + (b - a) * (y - s.y0) / (s.y1 - s.y0);
    });
}

EditResult Map3dEditor::InterpolateArea() {
    const CellRect s = sel_;
    if (s.Width() < 2 && s.Height() < 2) return {};
    const double q00 = Value(s.x0, s.y0), q10 = Value(s.x1, s.y0);
    const double q01 = Value(s.x0, s.y1), q11 = Value(s.x1, s.y1);
    return ForEachSelected("интерполяция по области", [&](int x, int y) {
        const double u = s.Width() < 2 ? 0.0 : static_cast<double>(x - s.x0) / (s.x1 - s.x0);
        const double v = s.Height() < 2 ? 0.0 : static_cast<double>(y - s.y0) / (s.y1 - s.y0);
        return q00 * (1 - u) * (1 - v) + q10 * u * (1 - v) + q01 * (1 - u) * v + q11 * u * v;
    });
}

EditResult Map3dEditor::Smooth() {
    // Every cell moves from the old values, so the order of the cells does
    // not matter.
    const int nx = Layout().nx, ny = Layout().ny;
    std::vector<double> old(static_cast<size_t>(nx * ny));
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) old[static_cast<size_t>(y * nx + x)] = Value(x, y);
    return ForEachSelected("сглаживание", [&](int x, int y) {
        double sum = 0;
        int n = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int xx = x + dx, yy = y + dy;
                if ((dx == 0 && dy == 0) || xx < 0 || yy < 0 || xx >= nx || yy >= ny) continue;
                sum += old[static_cast<size_t>(yy * nx + xx)];
                ++n;
            }
        const double self = old[static_cast<size_t>(y * nx + x)];
        return n == 0 ? self : (self + sum / n) / 2.0;
    });
}

EditResult Map3dEditor::TakeFrom(ConstImageBytes other) {
    std::vector<Change> changes;
    int held = 0;
    for (int y = sel_.y0; y <= sel_.y1; ++y)
        for (int x = sel_.x0; x <= sel_.x1; ++x) {
            const Encoded e = map_.Hold(Layout().RawOf(other[Layout().Offset(x, y)]));
            held += e.held;
            changes.push_back({x, y, e.raw});
        }
    return Commit("взято из образа", changes, held);
}

std::string Map3dEditor::Copy() const {
    std::string out;
    for (int y = sel_.y0; y <= sel_.y1; ++y) {
        for (int x = sel_.x0; x <= sel_.x1; ++x) {
            if (x > sel_.x0) out += '\t';
            out += Text(x, y);
        }
        out += '\n';
    }
    return out;
}

EditResult Map3dEditor::Paste(const std::string& text) {
    const auto rows = SplitTabText(text);
    EditResult result;
    if (rows.empty()) return result;
    size_t width = 0;
    for (const auto& r : rows) width = std::max(width, r.size());
    // Every cell must read before anything changes.
    std::vector<std::vector<double>> values(rows.size());
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c) {
            std::string cell = rows[r][c];
            while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\r')) cell.pop_back();
            while (!cell.empty() && cell.front() == ' ') cell.erase(cell.begin());
            const auto v = ParseNumber(cell);
            if (!v) {
                result.refused = true;
                result.log.push_back(Prefix() + "вставка: строка " + std::to_string(r + 1) +
                                     ", столбец " + std::to_string(c + 1) + " «" + rows[r][c] +
                                     "» не является числом. Ничего не изменено.");
                return result;
            }
            values[r].push_back(static_cast<double>(*v));
        }
    const bool single = sel_.Width() == 1 && sel_.Height() == 1;
    const int right = single ? Layout().nx - 1 : sel_.x1;
    const int bottom = single ? Layout().ny - 1 : sel_.y1;
    std::vector<Change> changes;
    int held = 0, placed = 0, total = 0;
    for (size_t r = 0; r < values.size(); ++r)
        for (size_t c = 0; c < values[r].size(); ++c) {
            ++total;
            const int x = sel_.x0 + static_cast<int>(c), y = sel_.y0 + static_cast<int>(r);
            if (x > right || y > bottom) continue;
            const Encoded e = map_.Encode(values[r][c]);
            held += e.held;
            changes.push_back({x, y, e.raw});
            ++placed;
        }
    const bool ragged =
        std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.size() != width; });
    const bool shapeDiffers = !single && (static_cast<int>(rows.size()) != sel_.Height() ||
                                          static_cast<int>(width) != sel_.Width());
    result = Commit("вставка", changes, held);
    if (placed < total || ragged || shapeDiffers)
        result.log.push_back(Prefix() + "вставка: блок " + std::to_string(rows.size()) + "×" +
                             std::to_string(width) + " не совпадает с местом (" +
                             std::to_string(single ? bottom - sel_.y0 + 1 : sel_.Height()) + "×" +
                             std::to_string(single ? right - sel_.x0 + 1 : sel_.Width()) +
                             "); вставлено ячеек: " + std::to_string(placed) + " из " +
                             std::to_string(total) + ".");
    return result;
}

namespace {

std::optional<std::pair<size_t, size_t>> TableSpan(const AttributeList& attrs) {
    const std::string graf = attrs.Value("graf");
    const auto address = ParseTableAddress(attrs.Value("address"));
    if (!address) return std::nullopt;
    size_t length = 0;
    if (graf == "1D") {
        const std::string type = attrs.Value("Тип_тарировки");
        length = (type == "2" || type == "3") ? 2 : 1;
    } else if (graf == "2D") {
        const auto n = platform::ParseInteger(attrs.Value("Число_точек_по_оси_X"));
        if (!n || *n < 1) return std::nullopt;
        length = static_cast<size_t>(*n);
    } else if (graf == "3D") {
        const auto m = ReadMap3d(attrs);
        if (!m.map) return std::nullopt;
        length = static_cast<size_t>(m.map->Layout().Cells());
    } else {
        return std::nullopt;
    }
    if (*address + length > kImageSize) return std::nullopt;
    return std::pair<size_t, size_t>{*address, length};
}

}  // namespace

bool TableDiffers(const AttributeList& attrs, ConstImageBytes a, ConstImageBytes b) {
    const auto span = TableSpan(attrs);
    if (!span) return false;
    return !std::equal(a.begin() + static_cast<std::ptrdiff_t>(span->first),
                       a.begin() + static_cast<std::ptrdiff_t>(span->first + span->second),
                       b.begin() + static_cast<std::ptrdiff_t>(span->first));
}

}  // namespace korvane::maps
