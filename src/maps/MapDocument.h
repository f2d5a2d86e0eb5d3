#pragma once
// The map description document and the tree the user picks tables from.
#include <cstddef>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <utility>
#include <vector>

namespace korvane::maps {

// Files beyond these are no map description; refusing them keeps the
// window responsive and the tree widget within its means.
constexpr size_t kMaxMapFileBytes = 8u << 20;
constexpr int kMaxMapDepth = 100;

// The name a tree item shows: element and processing-instruction names,
// "xml" for the declaration, "#text", "#comment", "#cdata-section".
std::string NodeName(pugi::xml_node node);

// A node's attributes, name and text, in document order.
std::vector<std::pair<std::string, std::string>> NodeAttributes(pugi::xml_node node);

struct LoadResult {
    bool ok = false;
    std::string error;  // the reason, with line and column where the parser gives one
};

// One per window; created empty. A load that fails leaves the document as
// it was.
class MapDocument {
  public:
    MapDocument();
    LoadResult LoadFile(const std::string& path);
    // The whole file's bytes: UTF-8 or UTF-16 with a byte-order mark, UTF-8
    // without one when valid, CP1251 otherwise (the usual for these files).
    LoadResult LoadBytes(const std::string& bytes);
    const pugi::xml_document& Document() const { return *doc_; }

  private:
    std::unique_ptr<pugi::xml_document> doc_;
};

// XDocNodesList entry: a node reached by the tree builder and its tree item
// (-1: none, the document itself).
struct TNodeRec {
    int TreeNode = -1;
    pugi::xml_node XMLNode;
};

// A tree item: caption, item data (the node's index among all children of
// its parent, text nodes counted) and its parent item (-1: root level).
struct TreeItem {
    int parent = -1;
    std::string caption;
    int data = 0;
};

// The items of the map tree and the list of nodes behind them. The view
// creates one widget item per TreeItem, in order (a parent always comes
// before its children).
class MapTree {
  public:
    std::vector<TreeItem> items;
    std::vector<TNodeRec> XDocNodesList;

    void ClearNodeList() { XDocNodesList.clear(); }
    // The item's data from the root level down to the item; empty for -1.
    std::vector<int> NodePath(int item) const;
    // Rebuilds items and list breadth-first from the document; returns the
    // item that shows `current` (to select again) or -1.
    int RebuildTree(const pugi::xml_document& doc, pugi::xml_node current);
    // Where `node` stands in XDocNodesList, or -1.
    int CurrentNodeListIndex(pugi::xml_node node) const;
};

// The document's child at path[0], then that node's child at path[1], ...;
// none for an empty path or any index out of range.
pugi::xml_node NodeByPath(const pugi::xml_document& doc, const std::vector<int>& path);

}  // namespace korvane::maps
