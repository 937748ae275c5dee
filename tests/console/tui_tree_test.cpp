// The scope tree pane's lines, marks, glyphs and selection.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "console/tui/tui_text.h"
#include "console/tui/tui_tree.h"

using namespace fdx::tui;

namespace {

// A scope tree kept in maps, shaped like the console's.
class CFakeTree : public ITreeSource {
public:
    HSCOPEITEM Add(HSCOPEITEM parent, std::u16string name, int image, bool expandable = true)
    {
        const HSCOPEITEM h = ++m_next;
        ScopeItemView v;
        v.handle = h;
        v.parent = parent;
        v.name = std::move(name);
        v.image = image;
        v.openImage = image >= 0 ? image + 1 : -1;
        v.expandable = expandable;
        v.isStatic = parent == 0;
        m_items[h] = v;
        if (parent == 0) m_top.push_back(h);
        else m_children[parent].push_back(h);
        return h;
    }
    void SetExpanded(HSCOPEITEM h, bool expanded) { m_items[h].expanded = expanded; }
    void SetExpandable(HSCOPEITEM h, bool expandable) { m_items[h].expandable = expandable; }
    void Remove(HSCOPEITEM h)
    {
        const HSCOPEITEM parent = m_items[h].parent;
        auto& siblings = parent == 0 ? m_top : m_children[parent];
        std::erase(siblings, h);
        m_items.erase(h);
    }
    // Makes an item its own child: a broken source.
    void Loop(HSCOPEITEM h) { m_children[h].push_back(h); }

    std::vector<HSCOPEITEM> TopItems() const override { return m_top; }
    std::vector<HSCOPEITEM> ChildItems(HSCOPEITEM item) const override
    {
        auto it = m_children.find(item);
        return it == m_children.end() ? std::vector<HSCOPEITEM>{} : it->second;
    }
    ScopeItemView ItemView(HSCOPEITEM item) const override { return m_items.at(item); }

private:
    HSCOPEITEM m_next = 100;
    std::map<HSCOPEITEM, ScopeItemView> m_items;
    std::map<HSCOPEITEM, std::vector<HSCOPEITEM>> m_children;
    std::vector<HSCOPEITEM> m_top;
};

struct Inventory {
    CFakeTree tree;
    HSCOPEITEM root = tree.Add(0, u"My Linux Servers", -1);
    HSCOPEITEM lab = tree.Add(root, u"Lab", 0);
    HSCOPEITEM office = tree.Add(root, u"Office", 0);
    HSCOPEITEM srv = tree.Add(lab, u"srv", 2);
    HSCOPEITEM cpu = tree.Add(srv, u"cpu:0", 4, false);
};

}  // namespace

// Lines of the expanded branches, in order, with their depth, parent line,
// mark and (open) image.
TEST(TuiTree, ExpandedBranchesShowTheirLinesMarksImagesAndParents)
{
    Inventory inv;
    auto lines = LayoutTree(inv.tree);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].mark, ExpandMark::Collapsed);

    inv.tree.SetExpanded(inv.root, true);
    // An expanded group without hosts loses its mark, as in the console.
    inv.tree.SetExpanded(inv.office, true);
    lines = LayoutTree(inv.tree);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].handle, inv.lab);
    EXPECT_EQ(lines[1].depth, 1);
    EXPECT_EQ(lines[1].parent, inv.root);
    EXPECT_EQ(lines[0].mark, ExpandMark::Expanded);
    EXPECT_EQ(lines[FindLine(lines, inv.office)].mark, ExpandMark::None);
    EXPECT_EQ(lines[FindLine(lines, inv.lab)].mark, ExpandMark::Collapsed);

    inv.tree.SetExpanded(inv.office, false);
    inv.tree.SetExpanded(inv.lab, true);
    lines = LayoutTree(inv.tree);
    EXPECT_EQ(lines[FindLine(lines, inv.lab)].image, 1);
    EXPECT_EQ(lines[FindLine(lines, inv.office)].image, 0);
    EXPECT_EQ(lines[FindLine(lines, inv.srv)].image, 2);
    EXPECT_EQ(lines[FindLine(lines, inv.root)].image, -1);
    EXPECT_EQ(ParentLine(lines, FindLine(lines, inv.srv)), FindLine(lines, inv.lab));
    EXPECT_EQ(ParentLine(lines, FindLine(lines, inv.office)), FindLine(lines, inv.root));
    EXPECT_EQ(ParentLine(lines, 0), -1);
    EXPECT_EQ(ParentLine(lines, 99), -1);
    EXPECT_EQ(FindLine(lines, 12345), -1);

    inv.tree.SetExpanded(inv.srv, true);
    lines = LayoutTree(inv.tree);
    std::vector<HSCOPEITEM> order;
    for (const auto& l : lines) order.push_back(l.handle);
    EXPECT_EQ(order, (std::vector<HSCOPEITEM>{inv.root, inv.lab, inv.srv, inv.cpu, inv.office}));
    EXPECT_EQ(lines[3].depth, 3);
    // A node that is known to have no children never shows one.
    EXPECT_EQ(lines[FindLine(lines, inv.cpu)].mark, ExpandMark::None);
}

TEST(TuiTree, LineTextHasIndentMarkOneColumnGlyphAndName)
{
    TreeLine line;
    line.depth = 2;
    line.mark = ExpandMark::Collapsed;
    line.image = 0;
    line.name = u"Lab";
    EXPECT_EQ(FormatTreeLine(line, true), L"    + G Lab");
    EXPECT_EQ(MarkColumn(line), 4);
    EXPECT_EQ(FormatTreeLine(line, true)[static_cast<std::size_t>(MarkColumn(line))], L'+');
    line.mark = ExpandMark::Expanded;
    EXPECT_EQ(FormatTreeLine(line, false).substr(4, 2), L"- ");
    line.name = u"evil\x1B]0;x\x07";
    EXPECT_EQ(FormatTreeLine(line, true).find(L'\x1B'), std::wstring::npos);

    // Glyphs are one column and tell kinds apart.
    for (bool ascii : {false, true}) {
        std::set<std::wstring> kinds;
        for (int image = -1; image <= 7; ++image) {
            const std::wstring g = ImageGlyph(image, ascii);
            EXPECT_EQ(TextColumns(g), 1) << image;
            if (ascii) {
                for (wchar_t c : g) EXPECT_LT(c, 0x80);
            }
        }
        kinds.insert(ImageGlyph(0, ascii));
        kinds.insert(ImageGlyph(2, ascii));
        kinds.insert(ImageGlyph(4, ascii));
        EXPECT_EQ(kinds.size(), 3u) << "group, server and hardware look different";
        EXPECT_EQ(ImageGlyph(-1, ascii), ImageGlyph(2, ascii));
    }
}

TEST(TuiTree, ALoopingSourceDoesNotHang)
{
    CFakeTree tree;
    const HSCOPEITEM a = tree.Add(0, u"a", -1);
    tree.SetExpanded(a, true);
    tree.Loop(a);
    const auto lines = LayoutTree(tree);
    EXPECT_GT(lines.size(), 1u);
    EXPECT_LT(lines.size(), 100u);
}

TEST(TuiTree, SelectionFollowsTheItemThenItsAncestorsThenItsPlace)
{
    Inventory inv;
    inv.tree.SetExpanded(inv.root, true);
    inv.tree.SetExpanded(inv.lab, true);
    auto lines = LayoutTree(inv.tree);
    // Still shown: the same item, wherever it moved.
    EXPECT_EQ(FollowSelection(lines, inv.office, {}, 0), FindLine(lines, inv.office));
    // Hidden by a collapse: its nearest shown ancestor.
    inv.tree.SetExpanded(inv.lab, false);
    lines = LayoutTree(inv.tree);
    EXPECT_EQ(FollowSelection(lines, inv.srv, {inv.lab, inv.root}, 2), FindLine(lines, inv.lab));
    // Deleted with its whole branch: the old place, clamped.
    inv.tree.Remove(inv.office);
    lines = LayoutTree(inv.tree);
    EXPECT_EQ(FollowSelection(lines, 999, {}, 7), static_cast<int>(lines.size()) - 1);
    EXPECT_EQ(FollowSelection({}, inv.root, {}, 0), -1);
}

TEST(TuiTree, ScrollKeepsTheSelectionVisibleAndPanesFitEveryWidth)
{
    EXPECT_EQ(ScrollToShow(0, 0, 10, 50), 0);
    EXPECT_EQ(ScrollToShow(15, 0, 10, 50), 6);
    EXPECT_EQ(ScrollToShow(3, 6, 10, 50), 3);
    EXPECT_EQ(ScrollToShow(49, 0, 10, 50), 40);
    EXPECT_EQ(ScrollToShow(2, 30, 10, 5), 0);  // the tree shrank
    EXPECT_EQ(ScrollToShow(5, 3, 0, 50), 0);
    for (int count = 0; count < 30; ++count)
        for (int selected = 0; selected < count; ++selected) {
            const int top = ScrollToShow(selected, 17, 7, count);
            EXPECT_LE(top, selected);
            EXPECT_GT(top + 7, selected);
        }
    // The screen's panes fit every width.
    for (int columns = 0; columns <= 300; ++columns)
        for (int rows : {0, 1, 3, 24, 60}) {
            const ScreenLayout l = LayoutScreen(rows, columns);
            EXPECT_GE(l.treeColumns, 0);
            EXPECT_LE(l.resultLeft + l.resultColumns, std::max(columns, 0)) << columns;
            EXPECT_LE(l.treeColumns, columns);
            EXPECT_GE(l.bodyRows, 0);
            if (columns >= 40) {
                EXPECT_GE(l.treeColumns, 20) << columns;
                EXPECT_GE(l.resultColumns, 10) << columns;
            }
        }
}
