#include "console/tui/tui_tree.h"

#include <algorithm>

#include "console/tui/tui_text.h"

namespace fdx::tui {

namespace {

void AddLines(const ITreeSource& source, HSCOPEITEM item, HSCOPEITEM parent, int depth, std::vector<TreeLine>& out,
              int guard)
{
    const ScopeItemView view = source.ItemView(item);
    TreeLine line;
    line.handle = item;
    line.parent = parent;
    line.depth = depth;
    line.name = view.name;
    line.image = view.expanded && view.openImage >= 0 ? view.openImage : view.image;
    std::vector<HSCOPEITEM> children;
    if (view.expanded) children = source.ChildItems(item);
    if (view.expanded && (!children.empty() || view.expandable)) {
        line.mark = children.empty() ? ExpandMark::None : ExpandMark::Expanded;
    } else if (view.expandable) {
        line.mark = ExpandMark::Collapsed;
    }
    out.push_back(std::move(line));
    if (guard <= 0) return;  // a source that loops must not hang the console
    for (HSCOPEITEM child : children) AddLines(source, child, item, depth + 1, out, guard - 1);
}

}  // namespace

std::vector<TreeLine> LayoutTree(const ITreeSource& source)
{
    std::vector<TreeLine> lines;
    for (HSCOPEITEM top : source.TopItems()) AddLines(source, top, 0, 0, lines, 64);
    return lines;
}

std::wstring ImageGlyph(int image, bool ascii)
{
    // Unicode: squares that read as folder, rack server and chip.
    static const wchar_t* const kUnicode[] = {L"\u25A1", L"\u25A3", L"\u25A4", L"\u25A5", L"\u25A6", L"\u2022"};
    static const wchar_t* const kAscii[] = {L"G", L"G", L"S", L"S", L"h", L"*"};
    if (image < 0) image = 2;
    if (image > 5) image = 5;
    return ascii ? kAscii[image] : kUnicode[image];
}

int MarkColumn(const TreeLine& line) { return 2 * line.depth; }

std::wstring FormatTreeLine(const TreeLine& line, bool ascii)
{
    std::wstring text(static_cast<std::size_t>(MarkColumn(line)), L' ');
    switch (line.mark) {
    case ExpandMark::Collapsed: text += L'+'; break;
    case ExpandMark::Expanded: text += L'-'; break;
    case ExpandMark::None: text += L' '; break;
    }
    text += L' ';
    text += ImageGlyph(line.image, ascii);
    text += L' ';
    text += ToTerminal(line.name);
    return text;
}

int FindLine(const std::vector<TreeLine>& lines, HSCOPEITEM handle)
{
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].handle == handle) return static_cast<int>(i);
    return -1;
}

int ParentLine(const std::vector<TreeLine>& lines, int index)
{
    if (index < 0 || index >= static_cast<int>(lines.size())) return -1;
    const int depth = lines[static_cast<std::size_t>(index)].depth;
    for (int i = index - 1; i >= 0; --i)
        if (lines[static_cast<std::size_t>(i)].depth < depth) return i;
    return -1;
}

int FollowSelection(const std::vector<TreeLine>& lines, HSCOPEITEM previous, const std::vector<HSCOPEITEM>& ancestors,
                    int oldIndex)
{
    if (lines.empty()) return -1;
    if (int i = FindLine(lines, previous); i >= 0) return i;
    for (HSCOPEITEM a : ancestors)
        if (int i = FindLine(lines, a); i >= 0) return i;
    return std::clamp(oldIndex, 0, static_cast<int>(lines.size()) - 1);
}

int ScrollToShow(int selected, int top, int height, int count)
{
    if (height <= 0 || count <= 0) return 0;
    if (selected >= 0) {
        if (selected < top) top = selected;
        if (selected >= top + height) top = selected - height + 1;
    }
    return std::clamp(top, 0, std::max(0, count - height));
}

ScreenLayout LayoutScreen(int rows, int columns)
{
    ScreenLayout layout;
    layout.bodyTop = 1;
    layout.bodyRows = std::max(rows - 2, 0);
    layout.statusRow = std::max(rows - 1, 0);
    // A third of the width for the tree, within reason, and never so much
    // that the result pane vanishes.
    layout.treeColumns = std::clamp(columns / 3, 24, 48);
    layout.treeColumns = std::min(layout.treeColumns, std::max(columns - 11, columns / 2));
    layout.treeColumns = std::max(layout.treeColumns, 0);
    layout.resultLeft = std::min(layout.treeColumns + 1, columns);
    layout.resultColumns = std::max(columns - layout.resultLeft, 0);
    return layout;
}

}  // namespace fdx::tui
