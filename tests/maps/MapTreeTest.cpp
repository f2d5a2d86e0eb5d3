#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "maps/MapDocument.h"
#include "platform/TextCodec.h"
#include "sim/Firmware.h"

using namespace korvane::maps;
namespace fs = std::filesystem;

namespace {

// Every item as "caption:data", children indented below their parent.
std::vector<std::string> Outline(const MapTree& tree) {
    std::vector<std::string> out;
    for (const auto& item : tree.items) {
        std::string indent;
        for (int p = item.parent; p >= 0; p = tree.items[static_cast<size_t>(p)].parent)
            indent += "  ";
        out.push_back(indent + item.caption + ":" + std::to_string(item.data));
    }
    return out;
}

int ItemByPath(const MapTree& tree, const std::vector<int>& path) {
    for (size_t i = 0; i < tree.items.size(); ++i)
        if (tree.NodePath(static_cast<int>(i)) == path) return static_cast<int>(i);
    return -1;
}

const char* kMap =
    "<?xml version=\"1.0\"?>\n"
    "<!-- demo -->\n"
    "<Карта>\n"
    "  <Группа>\n"
    "    <A graf=\"1D\"/>\n"
    "    between\n"
    "    <B graf=\"2D\"/>\n"
    "  </Группа>\n"
    "  <C><![CDATA[raw]]><?note x?></C>\n"
    "</Карта>\n";

TEST(MapTree, ShowsEveryNodeButTextWithIndexesThatCountText) {
    MapDocument doc;
    ASSERT_TRUE(doc.LoadBytes(kMap).ok);
    MapTree tree;
    EXPECT_EQ(tree.RebuildTree(doc.Document(), {}), -1);
    // Breadth-first: the root level first, then each level in order. The
    // blank text between elements is no node; "between" is one.
    EXPECT_EQ(Outline(tree), (std::vector<std::string>{"xml:0", "#comment:1", "Карта:2",
                                                       "  Группа:0", "  C:1", "    A:0", "    B:2",
                                                       "    #cdata-section:0", "    note:1"}));
    // The list holds the document and every node reached, text included.
    EXPECT_EQ(tree.XDocNodesList.size(), 1u + 3 + 2 + 3 + 2);
    EXPECT_EQ(tree.XDocNodesList[0].TreeNode, -1);
    const int b = ItemByPath(tree, {2, 0, 2});
    ASSERT_GE(b, 0);
    EXPECT_EQ(tree.items[static_cast<size_t>(b)].caption, "B");
    const pugi::xml_node node = NodeByPath(doc.Document(), {2, 0, 2});
    EXPECT_STREQ(node.name(), "B");
    EXPECT_GE(tree.CurrentNodeListIndex(node), 0);
    EXPECT_EQ(tree.CurrentNodeListIndex(pugi::xml_node()), -1);
}

TEST(MapTree, NodeByPathGivesNoneForAnyBadPath) {
    MapDocument doc;
    ASSERT_TRUE(doc.LoadBytes(kMap).ok);
    EXPECT_STREQ(NodeByPath(doc.Document(), {2, 0, 1}).value(), "\n    between\n    ");
    for (const auto& path :
         std::vector<std::vector<int>>{{}, {3}, {2, 5}, {2, 0, 3}, {-1}, {2, -1}})
        EXPECT_FALSE(NodeByPath(doc.Document(), path)) << ::testing::PrintToString(path);
    MapTree tree;
    EXPECT_TRUE(tree.NodePath(-1).empty());
}

TEST(MapTree, ReselectsTheSamePathAfterAReload) {
    MapDocument doc;
    ASSERT_TRUE(doc.LoadBytes(kMap).ok);
    MapTree tree;
    tree.RebuildTree(doc.Document(), {});
    const std::vector<int> path = tree.NodePath(ItemByPath(tree, {2, 0, 2}));

    // Same file again: the item showing B is selected again.
    ASSERT_TRUE(doc.LoadBytes(kMap).ok);
    int again = tree.RebuildTree(doc.Document(), NodeByPath(doc.Document(), path));
    ASSERT_GE(again, 0);
    EXPECT_EQ(tree.items[static_cast<size_t>(again)].caption, "B");

    // A changed file keeps the selection only where the path still leads to
    // an item: an element added after B keeps it, one added before A moves
    // the text "between" to B's place, and a text node has no item.
    std::string grown = kMap;
    grown.replace(grown.find("  </Группа>"), 0, "<New/>");
    ASSERT_TRUE(doc.LoadBytes(grown).ok);
    again = tree.RebuildTree(doc.Document(), NodeByPath(doc.Document(), path));
    ASSERT_GE(again, 0);
    EXPECT_EQ(tree.items[static_cast<size_t>(again)].caption, "B");
    std::string shifted = kMap;
    shifted.replace(shifted.find("<A graf"), 0, "<New/>");
    ASSERT_TRUE(doc.LoadBytes(shifted).ok);
    EXPECT_EQ(tree.RebuildTree(doc.Document(), NodeByPath(doc.Document(), path)), -1);
    ASSERT_TRUE(doc.LoadBytes("<Карта><Группа/></Карта>").ok);
    EXPECT_EQ(tree.RebuildTree(doc.Document(), NodeByPath(doc.Document(), path)), -1);
}

class TempDir : public ::testing::Test {
  protected:
    fs::path dir;
    void SetUp() override {
        static int n = 0;
        dir = fs::temp_directory_path() /
              ("korvane_maps_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        const auto path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

using MapFile = TempDir;

TEST_F(MapFile, BadFilesGiveTheReasonAndLeaveTheDocumentAsItWas) {
    MapDocument doc;
    ASSERT_TRUE(doc.LoadBytes(kMap).ok);
    std::string deep;
    for (int i = 0; i < 150; ++i) deep += "<a>";
    for (int i = 0; i < 150; ++i) deep += "</a>";
    const struct {
        std::string path;
        const char* reasonPart;
    } cases[] = {
        {(dir / "missing.xml").string(), "No such file"},
        {"", "не задан"},
        {Write("text.xml", "just text\nno markup"), "No document element found (строка 3"},
        {Write("broken.xml", "<a>\n  <b attr=\"1\">\n</a>"), "строка 3, позиция 3"},
        {Write("empty.xml", ""), "No document element"},
        {Write("big.xml", std::string(kMaxMapFileBytes + 1, ' ')), "слишком велик"},
        {Write("deep.xml", deep), "вложенность"},
    };
    for (const auto& c : cases) {
        const LoadResult r = doc.LoadFile(c.path);
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_NE(r.error.find(c.reasonPart), std::string::npos) << c.path << ": " << r.error;
        EXPECT_STREQ(doc.Document().document_element().name(), "Карта") << c.path;
    }
}

TEST_F(MapFile, ReadsTheSimulatorsCp1251DemoMap) {
    const std::string bytes =
        korvane::sim::MakeDemoMapCp1251(korvane::sim::MakeSyntheticFirmware(1));
    MapDocument doc;
    const LoadResult r = doc.LoadFile(Write("demo.xml", bytes));
    ASSERT_TRUE(r.ok) << r.error;
    MapTree tree;
    tree.RebuildTree(doc.Document(), {});
    // Every table the map promises is in the tree under its Cyrillic name.
    for (const auto& table : korvane::sim::DemoTables()) {
        const std::string name =
            std::string(table.path).substr(std::string(table.path).find('/') + 1);
        bool found = false;
        for (const auto& item : tree.items) found = found || item.caption == name;
        EXPECT_TRUE(found) << name;
    }
}

}  // namespace
