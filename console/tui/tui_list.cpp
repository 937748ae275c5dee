#include "console/tui/tui_list.h"

#include <algorithm>

#include "console/tui/tui_text.h"

namespace fdx::tui {

namespace {

std::wstring JoinCells(const std::vector<std::wstring>& cells, const ListLayout& layout, bool ascii)
{
    std::wstring line;
    for (std::size_t i = 0; i < layout.widths.size(); ++i) {
        if (i > 0) line.append(static_cast<std::size_t>(kColumnGap), L' ');
        const std::wstring cell = i < cells.size() ? cells[i] : std::wstring();
        line += PadColumns(cell, layout.widths[i], true, ascii);
    }
    return line;
}

std::wstring Window(const std::wstring& line, int scroll, int available)
{
    return PadColumns(SkipColumns(line, std::max(scroll, 0)), std::max(available, 0), false);
}

}  // namespace

ListLayout LayoutColumns(const std::vector<ResultColumnView>& columns, const std::vector<ResultRowView>& rows,
                         int available)
{
    ListLayout layout;
    const std::size_t count = std::max<std::size_t>(columns.size(), 1);
    layout.widths.assign(count, 3);
    for (std::size_t i = 0; i < columns.size(); ++i)
        layout.widths[i] = std::max(layout.widths[i], TextColumns(ToTerminal(columns[i].title)));
    for (const ResultRowView& row : rows)
        for (std::size_t i = 0; i < count && i < row.cells.size(); ++i)
            layout.widths[i] = std::max(layout.widths[i], TextColumns(ToTerminal(row.cells[i])));
    for (int& w : layout.widths) w = std::min(w, kMaxColumnWidth);
    const int gaps = kColumnGap * static_cast<int>(count - 1);
    auto sum = [&layout, gaps] {
        int total = gaps;
        for (int w : layout.widths) total += w;
        return total;
    };
    // Too wide: the leading columns (names) give way first, so that the last
    // one (the values) starts on screen; sideways scrolling shows the rest.
    if (count > 1 && sum() > available) {
        const int cap = std::max(kMinLeadingWidth, (available - gaps) * 2 / 5 / static_cast<int>(count - 1));
        for (std::size_t i = 0; i + 1 < count; ++i) layout.widths[i] = std::min(layout.widths[i], cap);
    }
    layout.total = sum();
    if (layout.total < available) {
        layout.widths.back() += available - layout.total;
        layout.total = available;
    }
    return layout;
}

std::wstring FormatListLine(const std::vector<std::u16string>& cells, const ListLayout& layout, int scroll,
                            int available, bool ascii)
{
    std::vector<std::wstring> texts;
    texts.reserve(cells.size());
    for (const auto& c : cells) texts.push_back(ToTerminal(c));
    return Window(JoinCells(texts, layout, ascii), scroll, available);
}

std::wstring FormatListHeader(const std::vector<ResultColumnView>& columns, const ListLayout& layout, int scroll,
                              int available, bool ascii)
{
    std::vector<std::wstring> texts;
    texts.reserve(columns.size());
    for (const auto& c : columns) texts.push_back(ToTerminal(c.title));
    return Window(JoinCells(texts, layout, ascii), scroll, available);
}

int MaxListScroll(const ListLayout& layout, int available) { return std::max(0, layout.total - available); }

}  // namespace fdx::tui
