#include "maps/MapDocument.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/TextCodec.h"

namespace korvane::maps {

namespace {

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi;

// Line and column (both from 1, column in characters) of a byte offset in
// UTF-8 text.
std::pair<size_t, size_t> LineColumn(const std::string& text, size_t offset) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
}

std::string Position(const std::string& text, ptrdiff_t offset) {
    const auto [line, column] = LineColumn(text, offset < 0 ? 0 : static_cast<size_t>(offset));
    return "строка " + std::to_string(line) + ", позиция " + std::to_string(column);
}

// The first node deeper than the limit, found without recursion.
pugi::xml_node TooDeep(const pugi::xml_document& doc) {
    std::vector<std::pair<pugi::xml_node, int>> stack{{doc, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (depth + 1 > kMaxMapDepth) return child;
            stack.emplace_back(child, depth + 1);
        }
    }
    return {};
}

}  // namespace

std::string NodeName(pugi::xml_node node) {
    switch (node.type()) {
        case pugi::node_pcdata:
            return "#text";
        case pugi::node_cdata:
            return "#cdata-section";
        case pugi::node_comment:
            return "#comment";
        case pugi::node_document:
            return "#document";
        case pugi::node_declaration:
            return "xml";
        default:
            return node.name();
    }
}

std::vector<std::pair<std::string, std::string>> NodeAttributes(pugi::xml_node node) {
    std::vector<std::pair<std::string, std::string>> out;
    for (pugi::xml_attribute a : node.attributes()) out.emplace_back(a.name(), a.value());
    return out;
}

MapDocument::MapDocument() : doc_(std::make_unique<pugi::xml_document>()) {}

LoadResult MapDocument::LoadFile(const std::string& path) {
    LoadResult r;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        r.error = path.empty() ? "файл карты не задан" : std::strerror(errno);
        return r;
    }
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::streamoff>(in.tellg());
    if (size < 0) {
        r.error = "файл не читается";
        return r;
    }
    if (static_cast<unsigned long long>(size) > kMaxMapFileBytes) {
        r.error = "файл слишком велик для описания карты (" + std::to_string(size) +
                  " байт, допустимо не больше " + std::to_string(kMaxMapFileBytes) + ")";
        return r;
    }
    in.seekg(0);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!in.read(bytes.data(), size)) {
        r.error = "ошибка чтения";
        return r;
    }
    return LoadBytes(bytes);
}

LoadResult MapDocument::LoadBytes(const std::string& bytes) {
    LoadResult r;
    if (bytes.size() > kMaxMapFileBytes) {
        r.error = "файл слишком велик для описания карты";
        return r;
    }
    const platform::TextReadResult decoded = platform::DecodeText(bytes);
    if (!decoded.ok) {
        r.error = decoded.error;
        return r;
    }
    // The parser folds line ends anyway; one LF per line keeps positions
    // simple to tell.
    std::string text;
    for (const auto& line : decoded.file.lines) {
        text += line;
        text += '\n';
    }
    auto doc = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result parsed =
        doc->load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
    if (!parsed) {
        r.error = std::string(parsed.description()) + " (" + Position(text, parsed.offset) + ")";
        return r;
    }
    if (const pugi::xml_node deep = TooDeep(*doc)) {
        r.error = "вложенность глубже " + std::to_string(kMaxMapDepth) + " уровней (" +
                  Position(text, deep.offset_debug()) + ")";
        return r;
    }
    doc_ = std::move(doc);
    r.ok = true;
    return r;
}

std::vector<int> MapTree::NodePath(int item) const {
    std::vector<int> path;
    while (item >= 0 && static_cast<size_t>(item) < items.size()) {
        path.insert(path.begin(), items[static_cast<size_t>(item)].data);
        item = items[static_cast<size_t>(item)].parent;
    }
    return path;
}

int MapTree::RebuildTree(const pugi::xml_document& doc, pugi::xml_node current) {
    items.clear();
    ClearNodeList();
    XDocNodesList.push_back({-1, doc});
    int reselect = -1;
    // The list grows while it is walked: breadth-first over the whole document.
    for (size_t r = 0; r < XDocNodesList.size(); ++r) {
        const TNodeRec rec = XDocNodesList[r];
        // A text node has no item of its own: nothing to select again.
        if (current && rec.XMLNode == current && current.type() != pugi::node_pcdata)
            reselect = rec.TreeNode;
        int index = 0;
        int added = -1;
        for (pugi::xml_node child = rec.XMLNode.first_child(); child;
             child = child.next_sibling(), ++index) {
            if (child.type() != pugi::node_pcdata) {
                items.push_back({rec.TreeNode, NodeName(child), index});
                added = static_cast<int>(items.size()) - 1;
            }
            // A text node's record carries the item added last, as a walk of
            // the tree view would.
            XDocNodesList.push_back({added, child});
        }
    }
    return reselect;
}

int MapTree::CurrentNodeListIndex(pugi::xml_node node) const {
    for (size_t i = 0; i < XDocNodesList.size(); ++i)
        if (XDocNodesList[i].XMLNode == node) return static_cast<int>(i);
    return -1;
}

pugi::xml_node NodeByPath(const pugi::xml_document& doc, const std::vector<int>& path) {
    if (path.empty()) return {};
    pugi::xml_node node = doc;
    for (int index : path) {
        if (index < 0) return {};
        pugi::xml_node child = node.first_child();
        for (int i = 0; i < index && child; ++i) child = child.next_sibling();
        if (!child) return {};
        node = child;
    }
    return node;
}

}  // namespace korvane::maps
