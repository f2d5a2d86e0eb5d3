// Map descriptions as any bytes: the loader takes them or says why not and
// keeps the document it had; the tree of what it took has every parent
// before its children and every item's path leads back to a node of the
// same name; showing and writing back any element's table stays inside
// the image.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "maps/Map3dEditor.h"
#include "maps/MapDocument.h"
#include "maps/MapNumbers.h"
#include "maps/TableCodec.h"

using namespace korvane;
using namespace korvane::maps;

namespace {

// The image the tables are read from: any pattern will do.
const std::array<uint8_t, kImageSize>& Image() {
    static const auto image = [] {
        auto bytes = std::make_unique<std::array<uint8_t, kImageSize>>();
        for (size_t i = 0; i < bytes->size(); ++i) (*bytes)[i] = static_cast<uint8_t>(i * 13 + 5);
        return bytes;
    }();
    return *image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A first document that a refused load must leave in place.
    MapDocument doc;
    FUZZ_CHECK(doc.LoadBytes("<root><keep/></root>").ok);
    const LoadResult loaded = doc.LoadBytes(std::string(reinterpret_cast<const char*>(data), size));
    if (!loaded.ok) {
        FUZZ_CHECK(!loaded.error.empty());
        FUZZ_CHECK(std::string(doc.Document().first_child().name()) == "root");
        FUZZ_CHECK(doc.Document().first_child().first_child().name() == std::string("keep"));
        return 0;
    }

    MapTree tree;
    // Select again a node half way through the document, as after a load.
    pugi::xml_node middle = doc.Document().first_child();
    for (size_t i = 0; i < size % 7 && middle; ++i)
        middle = middle.first_child() ? middle.first_child() : middle.next_sibling();
    const int reselect = tree.RebuildTree(doc.Document(), middle);
    FUZZ_CHECK(reselect >= -1 && reselect < static_cast<int>(tree.items.size()));
    for (size_t i = 0; i < tree.items.size(); ++i) {
        const TreeItem& item = tree.items[i];
        FUZZ_CHECK(item.parent >= -1 && item.parent < static_cast<int>(i));
        FUZZ_CHECK(item.caption != "#text");
        const pugi::xml_node node = NodeByPath(doc.Document(), tree.NodePath(static_cast<int>(i)));
        FUZZ_CHECK(node && NodeName(node) == item.caption);
    }
    FUZZ_CHECK(tree.XDocNodesList.size() >= tree.items.size() + 1);
    for (const TNodeRec& rec : tree.XDocNodesList)
        FUZZ_CHECK(rec.TreeNode >= -1 && rec.TreeNode < static_cast<int>(tree.items.size()));

    // Every element's table as the editor would show it and write it back.
    size_t shown = 0;
    for (const TNodeRec& rec : tree.XDocNodesList) {
        if (rec.XMLNode.type() != pugi::node_element || ++shown > 200) continue;
        FUZZ_CHECK(tree.CurrentNodeListIndex(rec.XMLNode) >= 0);
        const AttributeList attrs(NodeName(rec.XMLNode), NodeAttributes(rec.XMLNode));
        if (IsMap3d(attrs)) {
            // A two-axis map that reads lies inside the image and holds
            // every cell within its limits after an edit.
            const Map3dRead m = ReadMap3d(attrs);
            FUZZ_CHECK(m.map.has_value() != !m.error.empty());
            if (!m.map) continue;
            const Map3dLayout& l = m.map->Layout();
            FUZZ_CHECK(l.address + static_cast<size_t>(l.Cells()) <= kImageSize);
            auto copy = std::make_unique<std::array<uint8_t, kImageSize>>(Image());
            EditHistory history;
            Map3dEditor editor(
                *m.map, [&] { return ConstImageBytes(*copy); },
                [&](uint16_t at, std::span<const uint8_t> bytes) {
                    FUZZ_CHECK(at + bytes.size() <= static_cast<size_t>(l.address) + l.Cells());
                    std::copy(bytes.begin(), bytes.end(), copy->begin() + at);
                },
                history, ',');
            editor.SelectAll();
            editor.ScalePercent(37);
            editor.Smooth();
            for (int y = 0; y < l.ny; ++y)
                for (int x = 0; x < l.nx; ++x) FUZZ_CHECK(m.map->Allowed(editor.Raw(x, y)));
            history.Undo([&](uint16_t at, std::span<const uint8_t> bytes) {
                std::copy(bytes.begin(), bytes.end(), copy->begin() + at);
            });
            continue;
        }
        const TableDisplay d = ShowTable(attrs, ConstImageBytes(Image()), ',');
        if (d.chartFilled) FUZZ_CHECK(d.points.size() == d.values.size());
        const ValueBoxes boxes{d.editPoint.value_or(""), d.editMax.value_or(""),
                               d.editMin.value_or("")};
        const PreparedWrite p = PrepareTableWrite(attrs, boxes, d.values);
        if (!p.error.empty() || p.write.kind == TableKind::None) continue;
        FUZZ_CHECK(p.write.address + p.write.bytes.size() <= kImageSize);
        auto copy = std::make_unique<std::array<uint8_t, kImageSize>>(Image());
        StoreInImage(p.write, ImageBytes(*copy));
    }
    return 0;
}
