#include "console/console_object.h"

#define FDX_SITE_OR_FAIL()                      \
    do {                                        \
        if (m_pSite == nullptr) return E_UNEXPECTED; \
    } while (false)

HRESULT CConsoleObject::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IConsole) return HandOut(static_cast<IConsole*>(this), ppv);
    if (riid == IID_IConsoleNameSpace || riid == IID_IConsoleNameSpace2)
        return HandOut(static_cast<IConsoleNameSpace2*>(this), ppv);
    if (riid == IID_IHeaderCtrl) return HandOut(static_cast<IHeaderCtrl*>(this), ppv);
    if (riid == IID_IResultData) return HandOut(static_cast<IResultData*>(this), ppv);
    return E_NOINTERFACE;
}

// --- IConsole -----------------------------------------------------------------

HRESULT CConsoleObject::SetHeader(IHeaderCtrl*) { return S_OK; }

HRESULT CConsoleObject::SetToolbar(ConsoleToolbar) { return S_OK; }

HRESULT CConsoleObject::QueryResultView(IUnknown** unknown)
{
    if (unknown != nullptr) *unknown = nullptr;
    return E_NOTIMPL;
}

HRESULT CConsoleObject::QueryScopeImageList(IImageList** imageList)
{
    if (imageList == nullptr) return E_POINTER;
    *imageList = nullptr;
    FDX_SITE_OR_FAIL();
    return m_pSite->ScopeImageList(imageList);
}

HRESULT CConsoleObject::QueryResultImageList(IImageList** imageList)
{
    if (imageList == nullptr) return E_POINTER;
    *imageList = nullptr;
    FDX_SITE_OR_FAIL();
    return m_pSite->ResultImageList(imageList);
}

HRESULT CConsoleObject::UpdateAllViews(IDataObject*, LPARAM, LONG_PTR) { return S_OK; }

HRESULT CConsoleObject::MessageBox(LPCOLESTR text, LPCOLESTR title, UINT style, int* result)
{
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        const int answer = m_pSite->MessageBoxFromSnapin(text, title, style);
        if (result != nullptr) *result = answer;
        return answer != 0 ? S_OK : E_FAIL;
    });
}

HRESULT CConsoleObject::QueryConsoleVerb(IConsoleVerb** verb)
{
    if (verb == nullptr) return E_POINTER;
    *verb = nullptr;
    FDX_SITE_OR_FAIL();
    return m_pSite->ConsoleVerb(verb);
}

HRESULT CConsoleObject::SelectScopeItem(HSCOPEITEM hScopeItem)
{
    FDX_SITE_OR_FAIL();
    return m_pSite->SelectFromSnapin(hScopeItem);
}

HRESULT CConsoleObject::GetMainWindow(HWND* window)
{
    if (window == nullptr) return E_POINTER;
    *window = nullptr;
    FDX_SITE_OR_FAIL();
    *window = m_pSite->MainWindow();
    return S_OK;
}

HRESULT CConsoleObject::NewWindow(HSCOPEITEM, DWORD) { return E_NOTIMPL; }

// --- IConsoleNameSpace2 ---------------------------------------------------------

HRESULT CConsoleObject::InsertItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_FAILED(m_pSite->ScopeTree().Insert(*item));
        m_pSite->ScopeInserted(item->ID);
        return S_OK;
    });
}

HRESULT CConsoleObject::DeleteItem(HSCOPEITEM hItem, long fDeleteThis)
{
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        if (m_pSite->ScopeTree().Find(hItem) == nullptr) return E_INVALIDARG;
        const std::vector<HSCOPEITEM> removed = m_pSite->ScopeTree().Delete(hItem, fDeleteThis != 0);
        m_pSite->ScopeDeleted(removed);
        if (fDeleteThis == 0) m_pSite->ScopeChanged(hItem);
        return S_OK;
    });
}

HRESULT CConsoleObject::SetItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_FAILED(m_pSite->ScopeTree().SetItem(*item));
        m_pSite->ScopeChanged(item->ID);
        return S_OK;
    });
}

HRESULT CConsoleObject::GetItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    return m_pSite->ScopeTree().GetItem(*item);
}

HRESULT CConsoleObject::GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie)
{
    if (child == nullptr || cookie == nullptr) return E_POINTER;
    *child = 0;
    *cookie = 0;
    FDX_SITE_OR_FAIL();
    const CScopeItem* parent = m_pSite->ScopeTree().Find(item);
    if (parent == nullptr) return E_INVALIDARG;
    if (parent->children.empty()) return S_FALSE;
    *child = parent->children.front();
    *cookie = m_pSite->ScopeTree().Find(*child)->lParam;
    return S_OK;
}

HRESULT CConsoleObject::GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie)
{
    if (next == nullptr || cookie == nullptr) return E_POINTER;
    *next = 0;
    *cookie = 0;
    FDX_SITE_OR_FAIL();
    if (m_pSite->ScopeTree().Find(item) == nullptr) return E_INVALIDARG;
    *next = m_pSite->ScopeTree().NextSibling(item);
    if (*next == 0) return S_FALSE;
    *cookie = m_pSite->ScopeTree().Find(*next)->lParam;
    return S_OK;
}

HRESULT CConsoleObject::GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie)
{
    if (parent == nullptr || cookie == nullptr) return E_POINTER;
    *parent = 0;
    *cookie = 0;
    FDX_SITE_OR_FAIL();
    const CScopeItem* found = m_pSite->ScopeTree().Find(item);
    if (found == nullptr) return E_INVALIDARG;
    if (found->parent == 0) return S_FALSE;
    *parent = found->parent;
    *cookie = m_pSite->ScopeTree().Find(found->parent)->lParam;
    return S_OK;
}

HRESULT CConsoleObject::Expand(HSCOPEITEM hItem)
{
    FDX_SITE_OR_FAIL();
    return m_pSite->ExpandFromSnapin(hItem);
}

HRESULT CConsoleObject::AddExtension(HSCOPEITEM, ConsoleExtension) { return E_NOTIMPL; }

// --- IHeaderCtrl ----------------------------------------------------------------

HRESULT CConsoleObject::InsertColumn(int nCol, LPCOLESTR title, int nFormat, int nWidth)
{
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_FAILED(m_pSite->ResultPane().InsertColumn(nCol, title, nFormat, nWidth));
        m_pSite->ResultChanged();
        return S_OK;
    });
}

HRESULT CConsoleObject::DeleteColumn(int nCol)
{
    FDX_SITE_OR_FAIL();
    const HRESULT hr = m_pSite->ResultPane().DeleteColumn(nCol);
    if (SUCCEEDED(hr)) m_pSite->ResultChanged();
    return hr;
}

HRESULT CConsoleObject::SetColumnText(int nCol, LPCOLESTR title)
{
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_FAILED(m_pSite->ResultPane().SetColumnText(nCol, title));
        m_pSite->ResultChanged();
        return S_OK;
    });
}

HRESULT CConsoleObject::GetColumnText(int nCol, LPOLESTR* title)
{
    if (title == nullptr) return E_POINTER;
    *title = nullptr;
    FDX_SITE_OR_FAIL();
    const CResultColumn* column = m_pSite->ResultPane().Column(nCol);
    if (column == nullptr) return E_INVALIDARG;
    *title = CoTaskMemDup(column->title);
    return *title != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CConsoleObject::SetColumnWidth(int nCol, int nWidth)
{
    FDX_SITE_OR_FAIL();
    const HRESULT hr = m_pSite->ResultPane().SetColumnWidth(nCol, nWidth);
    if (SUCCEEDED(hr)) m_pSite->ResultChanged();
    return hr;
}

HRESULT CConsoleObject::GetColumnWidth(int nCol, int* pWidth)
{
    if (pWidth == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    const CResultColumn* column = m_pSite->ResultPane().Column(nCol);
    if (column == nullptr) return E_INVALIDARG;
    *pWidth = column->width;
    return S_OK;
}

// --- IResultData ----------------------------------------------------------------

HRESULT CConsoleObject::InsertItem(LPRESULTDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_FAILED(m_pSite->ResultPane().InsertItem(*item));
        m_pSite->ResultChanged();
        return S_OK;
    });
}

HRESULT CConsoleObject::DeleteItem(HRESULTITEM itemID, int)
{
    FDX_SITE_OR_FAIL();
    const HRESULT hr = m_pSite->ResultPane().DeleteItem(itemID);
    if (SUCCEEDED(hr)) m_pSite->ResultChanged();
    return hr;
}

HRESULT CConsoleObject::FindItemByLParam(LPARAM lParam, HRESULTITEM* itemID)
{
    if (itemID == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    return m_pSite->ResultPane().FindByParam(lParam, *itemID);
}

HRESULT CConsoleObject::DeleteAllRsltItems()
{
    FDX_SITE_OR_FAIL();
    m_pSite->ResultPane().DeleteAll();
    m_pSite->ResultChanged();
    return S_OK;
}

HRESULT CConsoleObject::SetItem(LPRESULTDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    return ComBoundary([&]() -> HRESULT {
        CResultItem* found = m_pSite->ResultPane().Find(item->itemID);
        if (found == nullptr) return E_INVALIDARG;
        if (item->mask & RDI_STR) {
            found->textByCallback = item->str == MMC_CALLBACK;
            found->text = SnapinText(item->str);
        }
        if (item->mask & RDI_IMAGE) found->nImage = item->nImage;
        if (item->mask & RDI_PARAM) found->lParam = item->lParam;
        m_pSite->ResultChanged();
        return S_OK;
    });
}

HRESULT CConsoleObject::GetItem(LPRESULTDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    CResultItem* found = m_pSite->ResultPane().Find(item->itemID);
    if (found == nullptr) return E_INVALIDARG;
    if (item->mask & RDI_STR) item->str = MMC_CALLBACK;
    if (item->mask & RDI_IMAGE) item->nImage = found->nImage;
    if (item->mask & RDI_PARAM) item->lParam = found->lParam;
    item->bScopeItem = found->bScopeItem ? TRUE : FALSE;
    return S_OK;
}

HRESULT CConsoleObject::GetNextItem(LPRESULTDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    FDX_SITE_OR_FAIL();
    // Walks the list by index: nIndex -1 asks for the first item.
    const auto& items = m_pSite->ResultPane().Items();
    const long next = static_cast<long>(item->nIndex) + 1;
    if (next < 0 || static_cast<std::size_t>(next) >= items.size()) {
        item->nIndex = -1;
        return S_FALSE;
    }
    const CResultItem& found = items[static_cast<std::size_t>(next)];
    item->nIndex = static_cast<int>(next);
    item->itemID = found.itemID;
    item->lParam = found.lParam;
    item->nImage = found.nImage;
    item->bScopeItem = found.bScopeItem ? TRUE : FALSE;
    return S_OK;
}

HRESULT CConsoleObject::ModifyItemState(int, HRESULTITEM, UINT, UINT) { return S_OK; }

HRESULT CConsoleObject::ModifyViewStyle(ConsoleViewStyle, ConsoleViewStyle) { return S_OK; }

HRESULT CConsoleObject::SetViewMode(long mode)
{
    m_nViewMode = mode;
    return S_OK;
}

HRESULT CConsoleObject::GetViewMode(long* mode)
{
    if (mode == nullptr) return E_POINTER;
    *mode = m_nViewMode;
    return S_OK;
}

HRESULT CConsoleObject::UpdateItem(HRESULTITEM itemID)
{
    FDX_SITE_OR_FAIL();
    if (m_pSite->ResultPane().Find(itemID) == nullptr) return E_INVALIDARG;
    m_pSite->ResultChanged();
    return S_OK;
}

HRESULT CConsoleObject::Sort(int, DWORD, LPARAM) { return S_OK; }

HRESULT CConsoleObject::SetDescBarText(LPOLESTR) { return S_OK; }

HRESULT CConsoleObject::SetItemCount(int, DWORD) { return S_OK; }
