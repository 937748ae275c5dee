// The result pane's list view: column widths, alignment, sideways scroll.
#include <gtest/gtest.h>

#include "console/tui/tui_list.h"
#include "console/tui/tui_text.h"

using namespace fdx::tui;

namespace {

std::vector<ResultColumnView> NameValue() { return {{u"Name", 150, 0}, {u"Value", 150, 0}}; }

ResultRowView Row(std::u16string name, std::u16string value) { return ResultRowView{{std::move(name), std::move(value)}, 3}; }

}  // namespace

TEST(TuiList, ColumnsAreAsWideAsTheirLongestTextAndTheLastFillsTheRest)
{
    const std::vector<ResultRowView> rows = {Row(u"product", u"QEMU Virtual CPU"), Row(u"size", u"2 GHz")};
    const ListLayout layout = LayoutColumns(NameValue(), rows, 60);
    ASSERT_EQ(layout.widths.size(), 2u);
    EXPECT_EQ(layout.widths[0], 7);  // "product"
    EXPECT_EQ(layout.widths[0] + kColumnGap + layout.widths[1], 60);
    EXPECT_EQ(layout.total, 60);

    // Values line up under their title, also scrolled sideways.
    const ListLayout narrow = LayoutColumns(NameValue(), {Row(u"id", u"cpu"), Row(u"capacity", u"4 GHz")}, 50);
    const std::size_t column = FormatListHeader(NameValue(), narrow, 0, 50, false).find(L"Value");
    ASSERT_NE(column, std::wstring::npos);
    EXPECT_EQ(FormatListLine({u"id", u"cpu"}, narrow, 0, 50, false).find(L"cpu"), column);
    EXPECT_EQ(FormatListLine({u"capacity", u"4 GHz"}, narrow, 0, 50, false).find(L"4 GHz"), column);
    EXPECT_EQ(FormatListLine({u"capacity", u"4 GHz"}, narrow, 4, 50, false).find(L"4 GHz"), column - 4);

    // A list without columns still shows its rows.
    const std::vector<ResultRowView> bare = {ResultRowView{{u"general"}, 3}};
    const ListLayout single = LayoutColumns({}, bare, 30);
    ASSERT_EQ(single.widths.size(), 1u);
    EXPECT_EQ(FormatListLine(bare[0].cells, single, 0, 30, false).substr(0, 7), L"general");
}

TEST(TuiList, TooWideListsKeepTheirNaturalWidthScrollAndCutWithAnEllipsis)
{
    const std::u16string longValue(150, u'x');
    const std::vector<ResultRowView> rows = {Row(u"description", longValue)};
    const ListLayout layout = LayoutColumns(NameValue(), rows, 40);
    EXPECT_EQ(layout.widths[0], 11);
    EXPECT_EQ(layout.widths[1], kMaxColumnWidth);
    EXPECT_EQ(MaxListScroll(layout, 40), layout.total - 40);
    EXPECT_EQ(MaxListScroll(LayoutColumns(NameValue(), {}, 40), 40), 0);

    // Cut with an ellipsis at the end of the scroll; whole with room to spare.
    const std::vector<ResultRowView> serial = {Row(u"serial", std::u16string(200, u'7'))};
    const ListLayout at80 = LayoutColumns(NameValue(), serial, 80);
    EXPECT_EQ(FormatListLine(serial[0].cells, at80, MaxListScroll(at80, 80), 80, false).back(), L'\u2026');
    EXPECT_EQ(FormatListLine(serial[0].cells, at80, MaxListScroll(at80, 80), 80, true).back(), L'~');
    const ListLayout wide = LayoutColumns(NameValue(), serial, 400);
    EXPECT_EQ(FormatListLine(serial[0].cells, wide, 0, 400, false).find(L'\u2026'), std::wstring::npos);
}

TEST(TuiList, LongNamesGiveWaySoThatValuesStartOnScreen)
{
    const std::vector<ResultRowView> rows = {Row(u"mathematical co-processor with a very long capability name", u"fpu"),
                                             Row(u"vendor", u"Advanced Micro Devices [AMD]")};
    for (int width : {30, 60, 80}) {
        const ListLayout layout = LayoutColumns(NameValue(), rows, width);
        EXPECT_LE(layout.widths[0] + kColumnGap, width * 2 / 5 + kColumnGap + kMinLeadingWidth) << width;
        EXPECT_LT(layout.widths[0] + kColumnGap, width) << "the value column starts on screen";
        const std::wstring line = FormatListLine(rows[0].cells, layout, 0, width, false);
        EXPECT_NE(line.find(L"fpu"), std::wstring::npos) << width;
        EXPECT_NE(line.find(L'\u2026'), std::wstring::npos) << "the cut name is marked";
    }
}

TEST(TuiList, EveryLineIsExactlyThePaneWideAtEveryScroll)
{
    const std::vector<ResultRowView> rows = {Row(u"vendor", u"Intel Corp."), Row(u"\u4E2D\u6587", u"wide"),
                                             ResultRowView{{u"only a name"}, -1}};
    for (int width : {1, 10, 25, 80})
        for (int scroll = 0; scroll < 40; scroll += 3) {
            const ListLayout layout = LayoutColumns(NameValue(), rows, width);
            EXPECT_EQ(TextColumns(FormatListHeader(NameValue(), layout, scroll, width, false)), width);
            for (const auto& row : rows)
                EXPECT_EQ(TextColumns(FormatListLine(row.cells, layout, scroll, width, false)), width)
                    << width << "/" << scroll;
        }
}
