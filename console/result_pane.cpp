#include "console/result_pane.h"

#include <algorithm>

#include "console/scope_tree.h"

namespace {
constexpr int kMaxColumns = 64;
}

void CResultPane::Reset()
{
    m_columns.clear();
    m_items.clear();
}

HRESULT CResultPane::InsertColumn(int index, LPCOLESTR title, int format, int width)
{
    if (index < 0 || index >= kMaxColumns) return E_INVALIDARG;
    // Inserting at an index in use replaces that column: a snap-in rebuilds
    // its header at every show.
    m_columns[index] = CResultColumn{index, SnapinText(title), format, width};
    return S_OK;
}

HRESULT CResultPane::DeleteColumn(int index) { return m_columns.erase(index) != 0 ? S_OK : E_INVALIDARG; }

HRESULT CResultPane::SetColumnText(int index, LPCOLESTR title)
{
    const auto it = m_columns.find(index);
    if (it == m_columns.end()) return E_INVALIDARG;
    it->second.title = SnapinText(title);
    return S_OK;
}

HRESULT CResultPane::SetColumnWidth(int index, int width)
{
    const auto it = m_columns.find(index);
    if (it == m_columns.end()) return E_INVALIDARG;
    it->second.width = width;
    return S_OK;
}

const CResultColumn* CResultPane::Column(int index) const
{
    const auto it = m_columns.find(index);
    return it == m_columns.end() ? nullptr : &it->second;
}

std::vector<CResultColumn> CResultPane::Columns() const
{
    std::vector<CResultColumn> columns;
    for (const auto& [index, column] : m_columns) columns.push_back(column);
    return columns;
}

HRESULT CResultPane::InsertItem(RESULTDATAITEM& data)
{
    CResultItem item;
    item.itemID = m_nextId++;
    item.mask = data.mask;
    item.bScopeItem = data.bScopeItem != FALSE;
    if (data.mask & RDI_STR) {
        item.textByCallback = data.str == MMC_CALLBACK;
        item.text = SnapinText(data.str);
    }
    if (data.mask & RDI_IMAGE) item.nImage = data.nImage;
    if (data.mask & RDI_PARAM) item.lParam = data.lParam;
    std::size_t at = m_items.size();
    if ((data.mask & RDI_INDEX) && data.nIndex >= 0 && static_cast<std::size_t>(data.nIndex) < at)
        at = static_cast<std::size_t>(data.nIndex);
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
    data.itemID = m_items[at].itemID;
    return S_OK;
}

HRESULT CResultPane::DeleteItem(HRESULTITEM itemID)
{
    const auto removed = std::erase_if(m_items, [itemID](const CResultItem& item) { return item.itemID == itemID; });
    return removed != 0 ? S_OK : E_INVALIDARG;
}

HRESULT CResultPane::DeleteAll()
{
    m_items.clear();
    return S_OK;
}

HRESULT CResultPane::FindByParam(LPARAM lParam, HRESULTITEM& itemID) const
{
    for (const CResultItem& item : m_items) {
        if (item.lParam == lParam) {
            itemID = item.itemID;
            return S_OK;
        }
    }
    itemID = 0;
    return S_FALSE;
}

CResultItem* CResultPane::Find(HRESULTITEM itemID)
{
    for (CResultItem& item : m_items)
        if (item.itemID == itemID) return &item;
    return nullptr;
}
