// The result pane's list view, pure logic: column widths from the titles
// and the texts, and the lines as they show with a horizontal scroll.
#pragma once

#include <string>
#include <vector>

#include "console/host_core.h"

namespace fdx::tui {

constexpr int kColumnGap = 2;     // spaces between two columns
constexpr int kMaxColumnWidth = 96;  // longer texts are cut with an ellipsis
constexpr int kMinLeadingWidth = 10; // a leading column never gives way below this

struct ListLayout {
    std::vector<int> widths;  // one per column
    int total = 0;            // columns and gaps together
};

// Each column is as wide as its title or its longest text (at least 3, at
// most kMaxColumnWidth). When everything fits in `available`, the last
// column takes the rest of the width; when not, the leading columns shrink
// to two fifths of it (never below kMinLeadingWidth) so that the last one
// starts on screen. A list without columns shows its
// rows' first texts in one untitled column.
ListLayout LayoutColumns(const std::vector<ResultColumnView>& columns, const std::vector<ResultRowView>& rows,
                         int available);

// One line of the list (the cells laid out by `layout`), starting at display
// column `scroll`, exactly `available` columns wide.
std::wstring FormatListLine(const std::vector<std::u16string>& cells, const ListLayout& layout, int scroll,
                            int available, bool ascii);
// The title line.
std::wstring FormatListHeader(const std::vector<ResultColumnView>& columns, const ListLayout& layout, int scroll,
                              int available, bool ascii);

// The largest useful horizontal scroll.
int MaxListScroll(const ListLayout& layout, int available);

}  // namespace fdx::tui
