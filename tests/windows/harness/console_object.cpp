#include "console_object.h"

#include <cwchar>

#include "console_guids.h"
#include "session.h"

#define SESSION_OR_FAIL()                              \
    do {                                               \
        if (m_session == nullptr) return E_UNEXPECTED; \
    } while (false)

namespace {

// Longest column title or description kept.
constexpr std::size_t kMaxText = 4096;
constexpr int kMaxColumns = 64;

std::wstring Bounded(LPCWSTR text)
{
    if (text == nullptr || text == kTextCallback) return {};
    return std::wstring(text, wcsnlen(text, kMaxText));
}

LPOLESTR TaskCopy(const std::wstring& text)
{
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (copy != nullptr) std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

ConsoleObject::ConsoleObject(ConsoleSession& session, ScopeItems& scope, ResultList& result, ComPtr<ConsoleVerb> verb,
                             ComPtr<ImageList> scopeImages, ComPtr<ImageList> resultImages, HWND mainWindow)
    : m_session(&session),
      m_scope(scope),
      m_result(result),
      m_verb(std::move(verb)),
      m_scopeImages(std::move(scopeImages)),
      m_resultImages(std::move(resultImages)),
      m_mainWindow(mainWindow)
{
}

HRESULT ConsoleObject::QueryInterface(REFIID iid, void** out)
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IConsole || iid == IID_IConsole2)
        return HandOut(static_cast<IConsole2*>(this), out);
    if (iid == IID_IConsoleNameSpace || iid == IID_IConsoleNameSpace2)
        return HandOut(static_cast<IConsoleNameSpace2*>(this), out);
    if (iid == IID_IHeaderCtrl) return HandOut(static_cast<IHeaderCtrl*>(this), out);
    if (iid == IID_IResultData) return HandOut(static_cast<IResultData*>(this), out);
    return E_NOINTERFACE;
}

// --- IConsole ---------------------------------------------------------------

HRESULT ConsoleObject::SetHeader(IHeaderCtrl*) { return S_OK; }

HRESULT ConsoleObject::SetToolbar(IToolbar*) { return S_OK; }

HRESULT ConsoleObject::QueryResultView(IUnknown** unknown)
{
    if (unknown != nullptr) *unknown = nullptr;
    return E_NOTIMPL;
}

HRESULT ConsoleObject::QueryScopeImageList(IImageList** images)
{
    if (images == nullptr) return E_POINTER;
    return m_scopeImages->QueryInterface(IID_IImageList, reinterpret_cast<void**>(images));
}

HRESULT ConsoleObject::QueryResultImageList(IImageList** images)
{
    if (images == nullptr) return E_POINTER;
    return m_resultImages->QueryInterface(IID_IImageList, reinterpret_cast<void**>(images));
}

HRESULT ConsoleObject::UpdateAllViews(IDataObject*, LPARAM, LONG_PTR) { return S_OK; }

HRESULT ConsoleObject::MessageBox(LPCWSTR text, LPCWSTR title, UINT style, int* result)
{
    // The real message box: the console's user (the script) answers it.
    const int answer = ::MessageBoxW(m_mainWindow, text != nullptr ? text : L"", title != nullptr ? title : L"", style);
    if (result != nullptr) *result = answer;
    return answer != 0 ? S_OK : E_FAIL;
}

HRESULT ConsoleObject::QueryConsoleVerb(IConsoleVerb** verb)
{
    if (verb == nullptr) return E_POINTER;
    return m_verb->QueryInterface(IID_IConsoleVerb, reinterpret_cast<void**>(verb));
}

HRESULT ConsoleObject::SelectScopeItem(HSCOPEITEM item)
{
    SESSION_OR_FAIL();
    return m_session->SelectFromSnapin(item);
}

HRESULT ConsoleObject::GetMainWindow(HWND* window)
{
    if (window == nullptr) return E_POINTER;
    *window = m_mainWindow;
    return S_OK;
}

HRESULT ConsoleObject::NewWindow(HSCOPEITEM, ULONG) { return E_NOTIMPL; }

HRESULT ConsoleObject::Expand(HSCOPEITEM item, BOOL expand)
{
    SESSION_OR_FAIL();
    if (!expand) return m_scope.Find(item) != nullptr ? S_OK : E_INVALIDARG;
    return m_session->ExpandFromSnapin(item);
}

HRESULT ConsoleObject::SetStatusText(LPOLESTR text)
{
    m_statusText = Bounded(text);
    return S_OK;
}

// --- IConsoleNameSpace2 -----------------------------------------------------

HRESULT ConsoleObject::InsertItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    SESSION_OR_FAIL();
    return m_scope.Insert(*item);
}

HRESULT ConsoleObject::DeleteItem(HSCOPEITEM item, LONG deleteThis)
{
    SESSION_OR_FAIL();
    return m_scope.Delete(item, deleteThis != 0);
}

HRESULT ConsoleObject::SetItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    SESSION_OR_FAIL();
    return m_scope.Set(*item);
}

HRESULT ConsoleObject::GetItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    SESSION_OR_FAIL();
    return m_scope.Get(*item);
}

HRESULT ConsoleObject::GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie)
{
    if (child == nullptr || cookie == nullptr) return E_POINTER;
    *child = 0;
    *cookie = 0;
    SESSION_OR_FAIL();
    const ScopeItem* parent = m_scope.Find(item);
    if (parent == nullptr) return E_INVALIDARG;
    if (parent->children.empty()) return S_FALSE;
    *child = parent->children.front();
    *cookie = m_scope.Find(*child)->lParam;
    return S_OK;
}

HRESULT ConsoleObject::GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie)
{
    if (next == nullptr || cookie == nullptr) return E_POINTER;
    *next = 0;
    *cookie = 0;
    SESSION_OR_FAIL();
    if (m_scope.Find(item) == nullptr) return E_INVALIDARG;
    *next = m_scope.NextSibling(item);
    if (*next == 0) return S_FALSE;
    *cookie = m_scope.Find(*next)->lParam;
    return S_OK;
}

HRESULT ConsoleObject::GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie)
{
    if (parent == nullptr || cookie == nullptr) return E_POINTER;
    *parent = 0;
    *cookie = 0;
    SESSION_OR_FAIL();
    const ScopeItem* found = m_scope.Find(item);
    if (found == nullptr) return E_INVALIDARG;
    if (found->parent == 0) return S_FALSE;
    *parent = found->parent;
    *cookie = found->parent == m_scope.Root() ? 0 : m_scope.Find(found->parent)->lParam;
    return S_OK;
}

HRESULT ConsoleObject::Expand(HSCOPEITEM item)
{
    SESSION_OR_FAIL();
    return m_session->ExpandFromSnapin(item);
}

HRESULT ConsoleObject::AddExtension(HSCOPEITEM, LPCLSID) { return E_NOTIMPL; }

// --- IHeaderCtrl ------------------------------------------------------------

HRESULT ConsoleObject::InsertColumn(int column, LPCWSTR title, int format, int width)
{
    if (column < 0 || column >= kMaxColumns) return E_INVALIDARG;
    // A column at an index in use is replaced: a view rebuilds its header at
    // every show.
    m_result.columns[column] = ResultColumn{Bounded(title), format, width};
    return S_OK;
}

HRESULT ConsoleObject::DeleteColumn(int column) { return m_result.columns.erase(column) != 0 ? S_OK : E_INVALIDARG; }

HRESULT ConsoleObject::SetColumnText(int column, LPCWSTR title)
{
    const auto it = m_result.columns.find(column);
    if (it == m_result.columns.end()) return E_INVALIDARG;
    it->second.title = Bounded(title);
    return S_OK;
}

HRESULT ConsoleObject::GetColumnText(int column, LPOLESTR* title)
{
    if (title == nullptr) return E_POINTER;
    *title = nullptr;
    const auto it = m_result.columns.find(column);
    if (it == m_result.columns.end()) return E_INVALIDARG;
    *title = TaskCopy(it->second.title);
    return *title != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConsoleObject::SetColumnWidth(int column, int width)
{
    const auto it = m_result.columns.find(column);
    if (it == m_result.columns.end()) return E_INVALIDARG;
    it->second.width = width;
    return S_OK;
}

HRESULT ConsoleObject::GetColumnWidth(int column, int* width)
{
    if (width == nullptr) return E_POINTER;
    const auto it = m_result.columns.find(column);
    if (it == m_result.columns.end()) return E_INVALIDARG;
    *width = it->second.width;
    return S_OK;
}

// --- IResultData ------------------------------------------------------------

HRESULT ConsoleObject::InsertItem(LPRESULTDATAITEM data)
{
    if (data == nullptr) return E_POINTER;
    SESSION_OR_FAIL();
    ResultItem item;
    item.id = m_result.nextId++;
    item.scopeItem = data->bScopeItem != FALSE;
    if (data->mask & RDI_STR) {
        item.textByCallback = data->str == kTextCallback;
        if (!item.textByCallback) item.text = Bounded(data->str);
    }
    if (data->mask & RDI_IMAGE) item.image = data->nImage;
    if (data->mask & RDI_PARAM) item.lParam = data->lParam;
    std::size_t at = m_result.items.size();
    if ((data->mask & RDI_INDEX) && data->nIndex >= 0 && static_cast<std::size_t>(data->nIndex) < at)
        at = static_cast<std::size_t>(data->nIndex);
    data->itemID = item.id;
    m_result.items.insert(m_result.items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
    return S_OK;
}

HRESULT ConsoleObject::DeleteItem(HRESULTITEM id, int)
{
    const auto removed = std::erase_if(m_result.items, [id](const ResultItem& item) { return item.id == id; });
    return removed != 0 ? S_OK : E_INVALIDARG;
}

HRESULT ConsoleObject::FindItemByLParam(LPARAM lParam, HRESULTITEM* id)
{
    if (id == nullptr) return E_POINTER;
    for (const ResultItem& item : m_result.items) {
        if (item.lParam == lParam) {
            *id = item.id;
            return S_OK;
        }
    }
    *id = 0;
    return S_FALSE;
}

HRESULT ConsoleObject::DeleteAllRsltItems()
{
    m_result.items.clear();
    return S_OK;
}

HRESULT ConsoleObject::SetItem(LPRESULTDATAITEM data)
{
    if (data == nullptr) return E_POINTER;
    ResultItem* item = m_result.Find(data->itemID);
    if (item == nullptr) return E_INVALIDARG;
    if (data->mask & RDI_STR) {
        item->textByCallback = data->str == kTextCallback;
        item->text = item->textByCallback ? std::wstring() : Bounded(data->str);
    }
    if (data->mask & RDI_IMAGE) item->image = data->nImage;
    if (data->mask & RDI_PARAM) item->lParam = data->lParam;
    return S_OK;
}

HRESULT ConsoleObject::GetItem(LPRESULTDATAITEM data)
{
    if (data == nullptr) return E_POINTER;
    const ResultItem* item = m_result.Find(data->itemID);
    if (item == nullptr) return E_INVALIDARG;
    if (data->mask & RDI_STR) data->str = kTextCallback;
    if (data->mask & RDI_IMAGE) data->nImage = item->image;
    if (data->mask & RDI_PARAM) data->lParam = item->lParam;
    data->bScopeItem = item->scopeItem ? TRUE : FALSE;
    return S_OK;
}

HRESULT ConsoleObject::GetNextItem(LPRESULTDATAITEM data)
{
    if (data == nullptr) return E_POINTER;
    // Walks the list by index: -1 asks for the first item.
    const long next = static_cast<long>(data->nIndex) + 1;
    if (next < 0 || static_cast<std::size_t>(next) >= m_result.items.size()) {
        data->nIndex = -1;
        return S_FALSE;
    }
    const ResultItem& item = m_result.items[static_cast<std::size_t>(next)];
    data->nIndex = static_cast<int>(next);
    data->itemID = item.id;
    data->lParam = item.lParam;
    data->nImage = item.image;
    data->bScopeItem = item.scopeItem ? TRUE : FALSE;
    return S_OK;
}

HRESULT ConsoleObject::ModifyItemState(int, HRESULTITEM, UINT, UINT) { return S_OK; }

HRESULT ConsoleObject::ModifyViewStyle(MMC_RESULT_VIEW_STYLE, MMC_RESULT_VIEW_STYLE) { return S_OK; }

HRESULT ConsoleObject::SetViewMode(LONG mode)
{
    m_viewMode = mode;
    return S_OK;
}

HRESULT ConsoleObject::GetViewMode(LONG* mode)
{
    if (mode == nullptr) return E_POINTER;
    *mode = m_viewMode;
    return S_OK;
}

HRESULT ConsoleObject::UpdateItem(HRESULTITEM id) { return m_result.Find(id) != nullptr ? S_OK : E_INVALIDARG; }

HRESULT ConsoleObject::Sort(int, DWORD, LPARAM) { return S_OK; }

HRESULT ConsoleObject::SetDescBarText(LPOLESTR text)
{
    m_result.descriptionBar = Bounded(text);
    return S_OK;
}

HRESULT ConsoleObject::SetItemCount(int, DWORD) { return S_OK; }
