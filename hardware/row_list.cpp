#include "hardware/row_list.h"

#include <algorithm>
#include <memory>

#include "hardware/property_item.h"
#include "res/module_strings.h"
#include "res/resource_ids.h"

namespace {

constexpr int kColumnWidth = 150;

// Room for one more entry, growing geometrically as push_back would.
void MakeRoom(RowList& list)
{
    if (list.size() == list.capacity()) list.reserve(std::max<std::size_t>(8, 2 * list.capacity()));
}

}  // namespace

void AppendRow(RowList& names, RowList& values, std::u16string name, std::u16string value)
{
    MakeRoom(names);
    MakeRoom(values);
    names.push_back(std::move(name));
    values.push_back(std::move(value));
}

HRESULT ShowRowList(IConsole* console, CConsoleNode& owner, const RowList& names, const RowList& values,
                    CConsoleNode::Children& items)
{
    std::vector<std::u16string> titles;
    LoadStringList(IDS_ROW_COLUMNS, titles);  // "Name", "Value"
    titles.resize(2);
    if (console == nullptr) return S_FALSE;

    com_ptr<IHeaderCtrl> header;
    com_ptr<IResultData> resultData;
    if (FAILED(console->QueryInterface(IID_IHeaderCtrl, header.put_void())) || !header) return S_FALSE;
    if (FAILED(console->QueryInterface(IID_IResultData, resultData.put_void())) || !resultData) return S_FALSE;

    if (FAILED(header->InsertColumn(0, OleText(titles[0]), LVCFMT_LEFT, kColumnWidth))) return S_FALSE;
    if (FAILED(header->InsertColumn(1, OleText(titles[1]), LVCFMT_LEFT, kColumnWidth))) return S_FALSE;

    if (FAILED(resultData->DeleteAllRsltItems())) return S_FALSE;
    items.clear();
    items.reserve(names.size());  // so that keeping an inserted line never fails

    static const std::u16string kEmpty;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto item = std::make_unique<CPropertyItem>(names[i], i < values.size() ? values[i] : kEmpty, &owner);
        RESULTDATAITEM line{};
        line.mask = RDI_STR | RDI_IMAGE | RDI_PARAM;
        line.str = MMC_CALLBACK;
        line.nImage = item->GetImageIndex();
        line.nCol = 0;
        line.lParam = item->GetCookie();
        if (FAILED(resultData->InsertItem(&line))) return S_FALSE;
        items.push_back(std::move(item));
    }
    return S_OK;
}
