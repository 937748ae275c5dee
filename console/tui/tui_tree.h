// The scope tree pane's pure logic: which lines show, how each one reads
// (indent, expand mark, node glyph, name), and how the selection and the
// scroll position follow changes. Nothing here touches the terminal.
#pragma once

#include <string>
#include <vector>

#include "console/host_core.h"

namespace fdx::tui {

// The part of the host core the tree pane reads (the face reads the core
// itself through it; tests use a fake).
class ITreeSource {
public:
    virtual ~ITreeSource() = default;
    virtual std::vector<HSCOPEITEM> TopItems() const = 0;
    virtual std::vector<HSCOPEITEM> ChildItems(HSCOPEITEM item) const = 0;
    virtual ScopeItemView ItemView(HSCOPEITEM item) const = 0;
};

enum class ExpandMark { None, Collapsed, Expanded };

struct TreeLine {
    HSCOPEITEM handle = 0;
    HSCOPEITEM parent = 0;
    int depth = 0;
    ExpandMark mark = ExpandMark::None;
    int image = -1;  // the image shown: the open image while expanded
    std::u16string name;
};

// The visible lines in display order: every top item, and below each
// expanded item its children.
std::vector<TreeLine> LayoutTree(const ITreeSource& source);

// The glyph of a node image (0 group, 1 open group, 2 server, 3 open server
// or list line, 4 hardware, 5 spare; -1, a static node, shows as a server).
// One column wide in both sets.
std::wstring ImageGlyph(int image, bool ascii);

// Column where a line's expand mark is drawn (two columns per level).
int MarkColumn(const TreeLine& line);
// The whole text of a line: indent, mark, glyph, name.
std::wstring FormatTreeLine(const TreeLine& line, bool ascii);

// Index of the line for `handle`, or -1.
int FindLine(const std::vector<TreeLine>& lines, HSCOPEITEM handle);
// Index of the line of `lines[index]`'s parent, or -1 for a top line.
int ParentLine(const std::vector<TreeLine>& lines, int index);
// The line to select after the tree changed: the same item when it is still
// shown, else the nearest shown ancestor in `ancestors` (nearest first),
// else the line at the old index (clamped), else -1 for an empty tree.
int FollowSelection(const std::vector<TreeLine>& lines, HSCOPEITEM previous,
                    const std::vector<HSCOPEITEM>& ancestors, int oldIndex);

// The first shown line after scrolling so that `selected` is visible in a
// window of `height` lines that started at `top`, never past the end.
int ScrollToShow(int selected, int top, int height, int count);

// Where the panes go on a screen of `rows` × `columns`: a title row, the
// tree on the left, a separator column, the result pane, a status row.
struct ScreenLayout {
    int bodyTop = 1;
    int bodyRows = 0;
    int treeColumns = 0;
    int resultLeft = 0;
    int resultColumns = 0;
    int statusRow = 0;
};
ScreenLayout LayoutScreen(int rows, int columns);

}  // namespace fdx::tui
