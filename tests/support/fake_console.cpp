#include "tests/support/fake_console.h"

#include <algorithm>

#include "platform/ui.h"

namespace {

std::atomic<long> g_nLiveConsoles{0};

std::u16string CopyText(LPCOLESTR text) { return text != nullptr ? std::u16string(text) : std::u16string(); }

}  // namespace

com_ptr<CFakeConsole> CFakeConsole::Create() { return com_ptr<CFakeConsole>::attach(new CFakeConsole()); }

long CFakeConsole::LiveCount() { return g_nLiveConsoles.load(); }

CFakeConsole::CFakeConsole()
{
    ++g_nLiveConsoles;
    ScopeItem root;
    root.handle = kRootHandle;
    root.cChildren = 1;
    m_scope.emplace(kRootHandle, root);
    m_scopeOrder.push_back(kRootHandle);
}

CFakeConsole::~CFakeConsole() { --g_nLiveConsoles; }

HSCOPEITEM CFakeConsole::AddStaticItem(LPARAM lParam, HSCOPEITEM parent, int cChildren)
{
    ScopeItem item;
    item.handle = m_nextScope++;
    item.parent = parent;
    item.lParam = lParam;
    item.cChildren = cChildren;
    m_scope.emplace(item.handle, item);
    m_scopeOrder.push_back(item.handle);
    return item.handle;
}

// --- IUnknown ---------------------------------------------------------------

HRESULT CFakeConsole::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (m_failQuery.count(GuidToAnsi(riid)) != 0) return E_NOINTERFACE;
    if (riid == IID_IUnknown || riid == IID_IConsole)
        *ppv = static_cast<IConsole*>(this);
    else if (riid == IID_IConsoleNameSpace || riid == IID_IConsoleNameSpace2)
        *ppv = static_cast<IConsoleNameSpace2*>(this);
    else if (riid == IID_IConsoleVerb)
        *ppv = static_cast<IConsoleVerb*>(this);
    else if (riid == IID_IHeaderCtrl)
        *ppv = static_cast<IHeaderCtrl*>(this);
    else if (riid == IID_IResultData)
        *ppv = static_cast<IResultData*>(this);
    else if (riid == IID_IContextMenuCallback)
        *ppv = static_cast<IContextMenuCallback*>(this);
    else if (riid == IID_IImageList)
        *ppv = static_cast<IImageList*>(&m_resultImages);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CFakeConsole::AddRef() { return ++m_nRefs; }

ULONG CFakeConsole::Release()
{
    const ULONG left = --m_nRefs;
    if (left == 0) delete this;
    return left;
}

HRESULT CFakeConsole::CImageList::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IImageList) {
        *ppv = static_cast<IImageList*>(this);
        AddRef();
        return S_OK;
    }
    return m_owner.QueryInterface(riid, ppv);
}

HRESULT CFakeConsole::CImageList::ImageListSetIcon(LONG_PTR* pIcon, long nLoc) { return pIcon != nullptr ? S_OK : E_POINTER; }

HRESULT CFakeConsole::CImageList::ImageListSetStrip(LONG_PTR* pBMapSm, LONG_PTR* pBMapLg, long nStartLoc, COLORREF cMask)
{
    if (pBMapSm == nullptr || pBMapLg == nullptr) return E_POINTER;
    m_owner.m_imageStrips.push_back({m_kind, pBMapSm, pBMapLg, nStartLoc, cMask});
    return S_OK;
}

// --- IConsole ---------------------------------------------------------------

HRESULT CFakeConsole::SetHeader(IHeaderCtrl* header) { return S_OK; }
HRESULT CFakeConsole::SetToolbar(IUnknown* toolbar) { return S_OK; }

HRESULT CFakeConsole::QueryResultView(IUnknown** unknown)
{
    if (unknown == nullptr) return E_POINTER;
    *unknown = static_cast<IConsole*>(this);
    AddRef();
    return S_OK;
}

HRESULT CFakeConsole::QueryScopeImageList(IImageList** imageList)
{
    if (imageList == nullptr) return E_POINTER;
    *imageList = &m_scopeImages;
    AddRef();
    return S_OK;
}

HRESULT CFakeConsole::QueryResultImageList(IImageList** imageList)
{
    if (imageList == nullptr) return E_POINTER;
    *imageList = &m_resultImages;
    AddRef();
    return S_OK;
}

HRESULT CFakeConsole::UpdateAllViews(IDataObject* data, LPARAM arg, LONG_PTR hint)
{
    ++m_nUpdateAllViews;
    return S_OK;
}

HRESULT CFakeConsole::MessageBox(LPCOLESTR text, LPCOLESTR title, UINT style, int* result)
{
    m_messages.push_back({CopyText(text), CopyText(title), style});
    if (result != nullptr) *result = IDOK;
    return S_OK;
}

HRESULT CFakeConsole::QueryConsoleVerb(IConsoleVerb** verb)
{
    if (verb == nullptr) return E_POINTER;
    *verb = nullptr;
    if (m_bFailVerb) return E_FAIL;
    *verb = static_cast<IConsoleVerb*>(this);
    AddRef();
    return S_OK;
}

HRESULT CFakeConsole::SelectScopeItem(HSCOPEITEM hScopeItem)
{
    if (!HasScopeItem(hScopeItem)) return E_INVALIDARG;
    m_selectRequests.push_back(hScopeItem);
    return S_OK;
}

HRESULT CFakeConsole::GetMainWindow(HWND* window)
{
    if (window == nullptr) return E_POINTER;
    *window = nullptr;
    return S_OK;
}

HRESULT CFakeConsole::NewWindow(HSCOPEITEM hScopeItem, DWORD options) { return E_NOTIMPL; }

// --- IConsoleNameSpace2 -----------------------------------------------------

const CFakeConsole::ScopeItem* CFakeConsole::FindScopeItem(HSCOPEITEM handle) const
{
    const auto it = m_scope.find(handle);
    return it != m_scope.end() ? &it->second : nullptr;
}

std::vector<HSCOPEITEM> CFakeConsole::ChildHandles(HSCOPEITEM parent) const
{
    std::vector<HSCOPEITEM> handles;
    for (HSCOPEITEM handle : m_scopeOrder)
        if (handle != kRootHandle && m_scope.at(handle).parent == parent) handles.push_back(handle);
    return handles;
}

std::vector<CFakeConsole::ScopeItem> CFakeConsole::ScopeChildren(HSCOPEITEM parent) const
{
    std::vector<ScopeItem> children;
    for (HSCOPEITEM handle : ChildHandles(parent)) children.push_back(m_scope.at(handle));
    return children;
}

HSCOPEITEM CFakeConsole::FindScopeItemByParam(LPARAM lParam) const
{
    for (HSCOPEITEM handle : m_scopeOrder)
        if (handle != kRootHandle && m_scope.at(handle).lParam == lParam) return handle;
    return 0;
}

HRESULT CFakeConsole::InsertItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    const std::size_t call = m_nScopeInsertCalls++;
    if (m_failScopeInsertAt && *m_failScopeInsertAt == call) return E_FAIL;
    // Only the parent form (no SDI_PREVIOUS/NEXT/FIRST) is used by the snap-in.
    if ((item->mask & (SDI_PREVIOUS | SDI_NEXT | SDI_FIRST)) != 0) return E_INVALIDARG;
    if (!HasScopeItem(item->relativeID)) return E_INVALIDARG;

    ScopeItem record;
    record.handle = m_nextScope++;
    record.parent = item->relativeID;
    record.mask = item->mask;
    if ((item->mask & SDI_STR) != 0) {
        record.textByCallback = item->displayname == MMC_CALLBACK;
        if (!record.textByCallback) record.displayName = CopyText(item->displayname);
    }
    if ((item->mask & SDI_IMAGE) != 0) record.nImage = item->nImage;
    if ((item->mask & SDI_OPENIMAGE) != 0) record.nOpenImage = item->nOpenImage;
    if ((item->mask & SDI_CHILDREN) != 0) record.cChildren = item->cChildren;
    if ((item->mask & SDI_PARAM) != 0) record.lParam = item->lParam;

    m_scope.emplace(record.handle, record);
    m_scopeOrder.push_back(record.handle);
    m_scopeInsertions.push_back(record);
    item->ID = record.handle;
    return S_OK;
}

std::size_t CFakeConsole::RemoveSubtree(HSCOPEITEM handle, bool itemToo)
{
    std::size_t removed = 0;
    for (HSCOPEITEM child : ChildHandles(handle)) removed += RemoveSubtree(child, true);
    if (itemToo && handle != kRootHandle) {
        m_scope.erase(handle);
        m_scopeOrder.erase(std::find(m_scopeOrder.begin(), m_scopeOrder.end(), handle));
        ++removed;
    }
    return removed;
}

HRESULT CFakeConsole::DeleteItem(HSCOPEITEM hItem, long fDeleteThis)
{
    if (!HasScopeItem(hItem)) return E_INVALIDARG;
    const bool itemToo = fDeleteThis != 0;
    const std::size_t removed = RemoveSubtree(hItem, itemToo);
    m_scopeDeletions.push_back({hItem, itemToo, removed});
    return S_OK;
}

HRESULT CFakeConsole::SetItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    const auto it = m_scope.find(item->ID);
    if (it == m_scope.end()) return E_INVALIDARG;
    ScopeItem& record = it->second;
    if ((item->mask & SDI_STR) != 0) {
        record.textByCallback = item->displayname == MMC_CALLBACK;
        record.displayName = record.textByCallback ? std::u16string() : CopyText(item->displayname);
    }
    if ((item->mask & SDI_IMAGE) != 0) record.nImage = item->nImage;
    if ((item->mask & SDI_OPENIMAGE) != 0) record.nOpenImage = item->nOpenImage;
    if ((item->mask & SDI_CHILDREN) != 0) record.cChildren = item->cChildren;
    if ((item->mask & SDI_PARAM) != 0) record.lParam = item->lParam;
    return S_OK;
}

HRESULT CFakeConsole::GetItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    const ScopeItem* record = FindScopeItem(item->ID);
    if (record == nullptr) return E_INVALIDARG;
    if ((item->mask & SDI_IMAGE) != 0) item->nImage = record->nImage;
    if ((item->mask & SDI_OPENIMAGE) != 0) item->nOpenImage = record->nOpenImage;
    if ((item->mask & SDI_CHILDREN) != 0) item->cChildren = record->cChildren;
    if ((item->mask & SDI_PARAM) != 0) item->lParam = record->lParam;
    if ((item->mask & SDI_STR) != 0) item->displayname = nullptr;  // text stays with the console
    return S_OK;
}

HRESULT CFakeConsole::GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie)
{
    if (child == nullptr || cookie == nullptr) return E_POINTER;
    *child = 0;
    *cookie = 0;
    if (!HasScopeItem(item)) return E_INVALIDARG;
    const auto children = ChildHandles(item);
    if (children.empty()) return S_FALSE;
    *child = children.front();
    *cookie = m_scope.at(*child).lParam;
    return S_OK;
}

HRESULT CFakeConsole::GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie)
{
    if (next == nullptr || cookie == nullptr) return E_POINTER;
    *next = 0;
    *cookie = 0;
    const ScopeItem* record = FindScopeItem(item);
    if (record == nullptr || item == kRootHandle) return E_INVALIDARG;
    const auto siblings = ChildHandles(record->parent);
    const auto it = std::find(siblings.begin(), siblings.end(), item);
    if (it == siblings.end() || it + 1 == siblings.end()) return S_FALSE;
    *next = *(it + 1);
    *cookie = m_scope.at(*next).lParam;
    return S_OK;
}

HRESULT CFakeConsole::GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie)
{
    if (parent == nullptr || cookie == nullptr) return E_POINTER;
    *parent = 0;
    *cookie = 0;
    const ScopeItem* record = FindScopeItem(item);
    if (record == nullptr || item == kRootHandle) return E_INVALIDARG;
    *parent = record->parent;
    *cookie = m_scope.at(record->parent).lParam;
    return S_OK;
}

HRESULT CFakeConsole::Expand(HSCOPEITEM hItem)
{
    if (!HasScopeItem(hItem)) return E_INVALIDARG;
    m_expandRequests.push_back(hItem);
    return S_OK;
}

HRESULT CFakeConsole::AddExtension(HSCOPEITEM hItem, const CLSID* extension) { return E_NOTIMPL; }

// --- IConsoleVerb -----------------------------------------------------------

bool CFakeConsole::VerbState(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const
{
    const auto it = m_verbStates.find({verb, state});
    return it != m_verbStates.end() && it->second != FALSE;
}

bool CFakeConsole::WasVerbSet(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const
{
    return m_verbStates.count({verb, state}) != 0;
}

HRESULT CFakeConsole::GetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL* pState)
{
    if (pState == nullptr) return E_POINTER;
    *pState = VerbState(eCmdID, nState) ? TRUE : FALSE;
    return S_OK;
}

HRESULT CFakeConsole::SetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL bState)
{
    m_verbStates[{eCmdID, nState}] = bState;
    ++m_nVerbSets;
    return S_OK;
}

HRESULT CFakeConsole::SetDefaultVerb(MMC_CONSOLE_VERB eCmdID)
{
    m_defaultVerb = eCmdID;
    return S_OK;
}

HRESULT CFakeConsole::GetDefaultVerb(MMC_CONSOLE_VERB* peCmdID)
{
    if (peCmdID == nullptr) return E_POINTER;
    *peCmdID = m_defaultVerb;
    return S_OK;
}

// --- IHeaderCtrl ------------------------------------------------------------

std::vector<CFakeConsole::Column> CFakeConsole::Columns() const
{
    std::vector<Column> columns;
    for (const auto& [index, column] : m_columns) columns.push_back(column);
    return columns;
}

HRESULT CFakeConsole::InsertColumn(int nCol, LPCOLESTR title, int nFormat, int nWidth)
{
    const std::size_t call = m_nColumnInsertCalls++;
    if (m_failColumnInsertAt && *m_failColumnInsertAt == call) return E_FAIL;
    if (nCol < 0 || title == nullptr) return E_INVALIDARG;
    Column column{nCol, CopyText(title), nFormat, nWidth};
    m_columns[nCol] = column;
    m_columnInsertions.push_back(column);
    return S_OK;
}

HRESULT CFakeConsole::DeleteColumn(int nCol) { return m_columns.erase(nCol) != 0 ? S_OK : E_INVALIDARG; }

HRESULT CFakeConsole::SetColumnText(int nCol, LPCOLESTR title)
{
    const auto it = m_columns.find(nCol);
    if (it == m_columns.end()) return E_INVALIDARG;
    it->second.title = CopyText(title);
    return S_OK;
}

HRESULT CFakeConsole::GetColumnText(int nCol, LPOLESTR* title)
{
    if (title == nullptr) return E_POINTER;
    *title = nullptr;
    const auto it = m_columns.find(nCol);
    if (it == m_columns.end()) return E_INVALIDARG;
    *title = CoTaskMemDup(it->second.title);
    return *title != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CFakeConsole::SetColumnWidth(int nCol, int nWidth)
{
    const auto it = m_columns.find(nCol);
    if (it == m_columns.end()) return E_INVALIDARG;
    it->second.width = nWidth;
    return S_OK;
}

HRESULT CFakeConsole::GetColumnWidth(int nCol, int* pWidth)
{
    if (pWidth == nullptr) return E_POINTER;
    const auto it = m_columns.find(nCol);
    if (it == m_columns.end()) return E_INVALIDARG;
    *pWidth = it->second.width;
    return S_OK;
}

// --- IResultData ------------------------------------------------------------

void CFakeConsole::ClearResultPane()
{
    m_columns.clear();
    m_columnInsertions.clear();
    m_resultItems.clear();
    m_nDeleteAll = 0;
}

HRESULT CFakeConsole::InsertItem(LPRESULTDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    const std::size_t call = m_nResultInsertCalls++;
    if (m_failResultInsertAt && *m_failResultInsertAt == call) return E_FAIL;
    ResultItem record;
    record.itemID = m_nextResult++;
    record.mask = item->mask;
    if ((item->mask & RDI_STR) != 0) {
        record.textByCallback = item->str == MMC_CALLBACK;
        if (!record.textByCallback) record.text = CopyText(item->str);
    }
    if ((item->mask & RDI_IMAGE) != 0) record.nImage = item->nImage;
    if ((item->mask & RDI_PARAM) != 0) record.lParam = item->lParam;
    record.nCol = item->nCol;
    m_resultItems.push_back(record);
    item->itemID = record.itemID;
    return S_OK;
}

HRESULT CFakeConsole::DeleteItem(HRESULTITEM itemID, int nCol)
{
    const auto it = std::find_if(m_resultItems.begin(), m_resultItems.end(),
                                 [&](const ResultItem& r) { return r.itemID == itemID; });
    if (it == m_resultItems.end()) return E_INVALIDARG;
    m_resultItems.erase(it);
    return S_OK;
}

HRESULT CFakeConsole::FindItemByLParam(LPARAM lParam, HRESULTITEM* itemID)
{
    if (itemID == nullptr) return E_POINTER;
    *itemID = 0;
    for (const ResultItem& r : m_resultItems) {
        if (r.lParam == lParam) {
            *itemID = r.itemID;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT CFakeConsole::DeleteAllRsltItems()
{
    if (m_bFailDeleteAll) return E_FAIL;
    m_resultItems.clear();
    ++m_nDeleteAll;
    return S_OK;
}

HRESULT CFakeConsole::SetItem(LPRESULTDATAITEM item) { return item != nullptr ? S_OK : E_POINTER; }
HRESULT CFakeConsole::GetItem(LPRESULTDATAITEM item) { return item != nullptr ? S_OK : E_POINTER; }
HRESULT CFakeConsole::GetNextItem(LPRESULTDATAITEM item) { return item != nullptr ? S_FALSE : E_POINTER; }
HRESULT CFakeConsole::ModifyItemState(int nIndex, HRESULTITEM itemID, UINT uAdd, UINT uRemove) { return S_OK; }
HRESULT CFakeConsole::ModifyViewStyle(long add, long remove) { return S_OK; }

HRESULT CFakeConsole::SetViewMode(long mode)
{
    m_nViewMode = mode;
    return S_OK;
}

HRESULT CFakeConsole::GetViewMode(long* mode)
{
    if (mode == nullptr) return E_POINTER;
    *mode = m_nViewMode;
    return S_OK;
}

HRESULT CFakeConsole::UpdateItem(HRESULTITEM itemID) { return S_OK; }
HRESULT CFakeConsole::Sort(int nColumn, DWORD dwSortOptions, LPARAM lUserParam) { return S_OK; }
HRESULT CFakeConsole::SetDescBarText(LPOLESTR text) { return S_OK; }
HRESULT CFakeConsole::SetItemCount(int nItemCount, DWORD dwOptions) { return S_OK; }

// --- IContextMenuCallback ---------------------------------------------------

HRESULT CFakeConsole::AddItem(CONTEXTMENUITEM* item)
{
    if (item == nullptr) return E_POINTER;
    const std::size_t call = m_nAddItemCalls++;
    if (m_failMenuAt && *m_failMenuAt == call) return E_FAIL;
    MenuItem record;
    if (item->strName != nullptr) record.name = std::u16string(item->strName);
    if (item->strStatusBarText != nullptr) record.statusText = std::u16string(item->strStatusBarText);
    record.commandId = item->lCommandID;
    record.insertionPoint = item->lInsertionPointID;
    record.flags = item->fFlags;
    record.specialFlags = item->fSpecialFlags;
    m_menuItems.push_back(record);
    return S_OK;
}
