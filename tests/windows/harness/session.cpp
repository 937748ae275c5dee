#include "session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text.h"

namespace {

// Longest display name read back from a data object, in characters.
constexpr std::size_t kMaxName = 4096;
// Largest saved stream taken back.
constexpr ULONGLONG kMaxStream = 64ull << 20;

std::wstring TakeTaskString(LPOLESTR text)
{
    if (text == nullptr || text == MMC_CALLBACK) return {};
    std::wstring copy(text, wcsnlen(text, kMaxName));
    CoTaskMemFree(text);
    return copy;
}

const char* EventName(MMC_NOTIFY_TYPE event)
{
    switch (event) {
    case MMCN_ADD_IMAGES: return "MMCN_ADD_IMAGES";
    case MMCN_EXPAND: return "MMCN_EXPAND";
    case MMCN_REFRESH: return "MMCN_REFRESH";
    case MMCN_RENAME: return "MMCN_RENAME";
    case MMCN_SELECT: return "MMCN_SELECT";
    case MMCN_SHOW: return "MMCN_SHOW";
    default: return "MMCN_?";
    }
}

struct VerbName {
    MMC_CONSOLE_VERB verb;
    const char* name;
};
constexpr VerbName kVerbs[] = {{MMC_VERB_OPEN, "open"},         {MMC_VERB_COPY, "copy"},
                               {MMC_VERB_PASTE, "paste"},       {MMC_VERB_DELETE, "delete"},
                               {MMC_VERB_PROPERTIES, "properties"}, {MMC_VERB_RENAME, "rename"},
                               {MMC_VERB_REFRESH, "refresh"},   {MMC_VERB_PRINT, "print"},
                               {MMC_VERB_CUT, "cut"}};

LPARAM SelectArg(bool scope, bool select) { return (scope ? 1 : 0) | ((select ? 1 : 0) << 16); }

struct GlobalBlockFree {
    void operator()(void* block) const { ::GlobalFree(block); }
};

// CCF_DISPLAY_NAME as the console reads it: into a block of its own.
std::wstring ReadDisplayName(IDataObject* data)
{
    if (data == nullptr) return {};
    const auto format = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"CCF_DISPLAY_NAME"));
    std::unique_ptr<void, GlobalBlockFree> block(GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, 0));
    if (!block) return {};
    FORMATETC request{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block.get();
    if (FAILED(data->GetDataHere(&request, &medium))) return {};
    // The data object may have given a block of its own.
    if (medium.hGlobal != block.get()) {
        block.release();
        block.reset(medium.hGlobal);
    }
    const std::size_t units = std::min<std::size_t>(GlobalSize(block.get()) / sizeof(wchar_t), kMaxName);
    const auto* text = static_cast<const wchar_t*>(GlobalLock(block.get()));
    if (text == nullptr) return {};
    std::wstring name(text, wcsnlen(text, units));
    GlobalUnlock(block.get());
    return name;
}

}  // namespace

ConsoleSession::ConsoleSession(const CLSID& clsid, Print print) : m_clsid(clsid), m_print(std::move(print))
{
    // The console's main window: owner of the snap-in's dialogs, never shown.
    m_window.reset(CreateWindowExW(0, L"STATIC", L"Ferrodex console", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                   nullptr, GetModuleHandleW(nullptr), nullptr));
    m_mainWindow = m_window.get();
}

ConsoleSession::~ConsoleSession() { Stop(); }

HRESULT ConsoleSession::CreateData(com_ptr<IComponentData>& data, std::string& error)
{
    const HRESULT hr = CoCreateInstance(m_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IComponentData, data.put_void());
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
        error = std::string("the snap-in class is not served (") + code + "; is the module registered?)";
    }
    return hr;
}

bool ConsoleSession::Start(const std::vector<std::uint8_t>* stream, std::string& error)
{
    Stop();
    if (FAILED(CreateData(m_data, error)) || !m_data) {
        m_data.reset();
        if (error.empty()) error = "the snap-in could not be created";
        return false;
    }
    m_scope = CScopeTree();
    m_result.Reset();
    m_root = m_scope.AddStatic(0);
    const HSCOPEITEM root = m_root;
    m_console = MakeComObject<CConsoleObject>(static_cast<IConsoleSite*>(this));
    IConsole* console = static_cast<IConsole*>(m_console.get());
    if (FAILED(m_data->Initialize(console))) {
        error = "the snap-in could not start";
        Stop();
        return false;
    }
    if (stream != nullptr) {
        com_ptr<IPersistStream> persist = m_data.query<IPersistStream>();
        com_ptr<IStream> memory;
        if (!persist || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, memory.put()))) {
            error = "the snap-in cannot read a saved state";
            Stop();
            return false;
        }
        ULONG written = 0;
        const LARGE_INTEGER start{};
        if (FAILED(memory->Write(stream->data(), static_cast<ULONG>(stream->size()), &written)) ||
            written != stream->size() || FAILED(memory->Seek(start, STREAM_SEEK_SET, nullptr))) {
            error = "the saved state does not fit in memory";
            Stop();
            return false;
        }
        const HRESULT loaded = persist->Load(memory.get());
        if (FAILED(loaded)) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(loaded));
            error = std::string("the snap-in could not read its saved state (") + code + ")";
            Stop();
            return false;
        }
    }
    if (FAILED(m_data->CreateComponent(m_view.put())) || !m_view || FAILED(m_view->Initialize(console))) {
        error = "the snap-in has no view";
        Stop();
        return false;
    }
    m_menu = m_data.query<IExtendContextMenu>();
    Expand(root);
    return true;
}

void ConsoleSession::Stop()
{
    if (m_view) {
        LeaveSelection();
        m_view->Destroy(0);
    }
    m_view.reset();
    m_menu.reset();
    if (m_data) m_data->Destroy();
    m_data.reset();
    if (m_console) m_console->Detach();
    m_console.reset();
    m_selected = 0;
    m_page.clear();
    m_result.Reset();
    m_scope = CScopeTree();
    m_root = 0;
}

HRESULT ConsoleSession::NotifyData(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param)
{
    const HRESULT hr = m_data->Notify(data, event, arg, param);
    Trace("data", event, arg, param, hr);
    return hr;
}

HRESULT ConsoleSession::NotifyView(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param)
{
    const HRESULT hr = m_view->Notify(data, event, arg, param);
    Trace("view", event, arg, param, hr);
    return hr;
}

void ConsoleSession::Trace(const char* to, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param, HRESULT hr) const
{
    if (!m_trace) return;
    std::fprintf(stderr, "trace: %s %s arg=0x%lX param=0x%lX -> 0x%08lX\n", to, EventName(event),
                 static_cast<unsigned long>(arg), static_cast<unsigned long>(param), static_cast<unsigned long>(hr));
}

MMC_COOKIE ConsoleSession::Cookie(HSCOPEITEM item) const
{
    const CScopeItem* found = m_scope.Find(item);
    return found == nullptr || item == m_root ? 0 : found->lParam;
}

com_ptr<IDataObject> ConsoleSession::DataObject(HSCOPEITEM item)
{
    com_ptr<IDataObject> data;
    if (!m_data || m_scope.Find(item) == nullptr) return data;
    if (FAILED(m_data->QueryDataObject(Cookie(item), CCT_SCOPE, data.put()))) data.reset();
    return data;
}

std::wstring ConsoleSession::DisplayName(HSCOPEITEM item)
{
    const CScopeItem* found = m_scope.Find(item);
    if (found == nullptr || !m_data) return {};
    if (item == m_root) return ReadDisplayName(DataObject(item).get());
    if (!found->textByCallback) return Widen(found->text);
    SCOPEDATAITEM info{};
    info.mask = SDI_STR;
    info.lParam = found->lParam;
    info.ID = item;
    if (FAILED(m_data->GetDisplayInfo(&info))) return {};
    return TakeTaskString(info.displayname);
}

HSCOPEITEM ConsoleSession::Child(HSCOPEITEM parent, const std::wstring& name)
{
    const CScopeItem* found = m_scope.Find(parent);
    if (found == nullptr) return 0;
    const std::vector<HSCOPEITEM> children = found->children;
    for (HSCOPEITEM child : children)
        if (DisplayName(child) == name) return child;
    return 0;
}

HSCOPEITEM ConsoleSession::Resolve(const std::vector<std::wstring>& names, std::string& error)
{
    HSCOPEITEM item = m_root;
    if (item == 0) {
        error = "no snap-in is loaded";
        return 0;
    }
    for (const std::wstring& name : names) {
        Expand(item);
        const HSCOPEITEM child = Child(item, name);
        if (child == 0) {
            error = "\"" + Narrow(DisplayName(item)) + "\" has no \"" + Narrow(name) + "\"";
            return 0;
        }
        item = child;
    }
    return item;
}

HRESULT ConsoleSession::Expand(HSCOPEITEM item)
{
    CScopeItem* found = m_scope.Find(item);
    if (found == nullptr || !m_data) return E_INVALIDARG;
    if (found->notified) return S_OK;
    found->notified = true;
    found->expanded = true;
    com_ptr<IDataObject> data = DataObject(item);
    return NotifyData(data.get(), MMCN_EXPAND, TRUE, static_cast<LPARAM>(item));
}

HRESULT ConsoleSession::SelectFromSnapin(HSCOPEITEM item)
{
    if (m_scope.Find(item) == nullptr) return E_INVALIDARG;
    return Select(item);
}

void ConsoleSession::LeaveSelection()
{
    if (m_selected == 0 || !m_view) return;
    const HSCOPEITEM old = m_selected;
    m_selected = 0;
    if (m_scope.Find(old) == nullptr) return;
    com_ptr<IDataObject> data = DataObject(old);
    NotifyView(data.get(), MMCN_SELECT, SelectArg(true, false), 0);
    NotifyView(data.get(), MMCN_SHOW, FALSE, static_cast<LPARAM>(old));
}

HRESULT ConsoleSession::Select(HSCOPEITEM item)
{
    if (m_scope.Find(item) == nullptr || !m_view) return E_INVALIDARG;
    LeaveSelection();
    m_verb->Reset();
    m_result.Reset();
    m_page.clear();
    m_selected = item;
    LPOLESTR view = nullptr;
    long options = 0;
    const HRESULT hr = m_view->GetResultViewType(Cookie(item), &view, &options);
    const std::wstring url = TakeTaskString(view);
    com_ptr<IDataObject> data = DataObject(item);
    if (SUCCEEDED(hr) && !url.empty()) {
        m_page = url;
    } else {
        NotifyView(data.get(), MMCN_ADD_IMAGES,
                       reinterpret_cast<LPARAM>(static_cast<IImageList*>(m_resultImages.get())),
                       static_cast<LPARAM>(item));
    }
    NotifyView(data.get(), MMCN_SHOW, TRUE, static_cast<LPARAM>(item));
    if (m_selected == item) NotifyView(data.get(), MMCN_SELECT, SelectArg(true, true), 0);
    return S_OK;
}

ResultShown ConsoleSession::Shown()
{
    ResultShown shown;
    if (!m_page.empty()) {
        shown.page = m_page;
        return shown;
    }
    std::vector<int> indexes;
    for (const CResultColumn& column : m_result.Columns()) {
        indexes.push_back(column.index);
        shown.columns.push_back(Widen(column.title));
    }
    if (indexes.empty()) indexes.push_back(0);
    const std::vector<CResultItem> items = m_result.Items();
    for (const CResultItem& item : items) {
        std::vector<std::wstring> cells;
        for (int column : indexes) {
            if (!item.textByCallback) {
                cells.push_back(column == indexes.front() ? Widen(item.text) : std::wstring());
                continue;
            }
            RESULTDATAITEM info{};
            info.mask = RDI_STR;
            info.bScopeItem = item.bScopeItem ? TRUE : FALSE;
            info.itemID = item.itemID;
            info.nCol = column;
            info.lParam = item.lParam;
            std::wstring text;
            if (m_view && SUCCEEDED(m_view->GetDisplayInfo(&info))) text = TakeTaskString(info.str);
            cells.push_back(std::move(text));
        }
        shown.rows.push_back(std::move(cells));
    }
    return shown;
}

HRESULT ConsoleSession::Refresh(HSCOPEITEM item)
{
    if (m_selected != item) {
        const HRESULT hr = Select(item);
        if (FAILED(hr)) return hr;
    }
    com_ptr<IDataObject> data = DataObject(item);
    return NotifyView(data.get(), MMCN_REFRESH, 0, 0);
}

HRESULT ConsoleSession::Rename(HSCOPEITEM item, std::wstring name)
{
    if (const HRESULT hr = Select(item); FAILED(hr)) return hr;
    BOOL enabled = FALSE;
    BOOL hidden = FALSE;
    m_verb->GetVerbState(MMC_VERB_RENAME, ENABLED, &enabled);
    m_verb->GetVerbState(MMC_VERB_RENAME, HIDDEN, &hidden);
    if (!enabled || hidden) return S_FALSE;
    com_ptr<IDataObject> data = DataObject(item);
    // First whether the node may be renamed, then the new name.
    if (NotifyData(data.get(), MMCN_RENAME, 0, 0) != S_OK) return S_FALSE;
    return NotifyData(data.get(), MMCN_RENAME, 1, reinterpret_cast<LPARAM>(name.data()));
}

std::vector<MenuItemView> ConsoleSession::Menu(HSCOPEITEM item)
{
    if (!m_menu || m_scope.Find(item) == nullptr) return {};
    com_ptr<IDataObject> data = DataObject(item);
    com_ptr<CMenuCollector> collector = MakeComObject<CMenuCollector>();
    long allowed = CCM_INSERTIONALLOWED_TOP | CCM_INSERTIONALLOWED_NEW | CCM_INSERTIONALLOWED_TASK |
                   CCM_INSERTIONALLOWED_VIEW;
    m_menu->AddMenuItems(data.get(), collector.get(), &allowed);
    return collector->Items();
}

HRESULT ConsoleSession::Command(HSCOPEITEM item, long commandId)
{
    if (!m_menu || m_scope.Find(item) == nullptr) return E_INVALIDARG;
    const bool reshow = m_selected == item;
    HRESULT hr = S_OK;
    {
        com_ptr<IDataObject> data = DataObject(item);
        hr = m_menu->Command(commandId, data.get());
        if (m_trace) std::fprintf(stderr, "trace: command %ld -> 0x%08lX\n", commandId, static_cast<unsigned long>(hr));
    }
    // The selection gone with the command moves to the root.
    if (m_selected != 0 && m_scope.Find(m_selected) == nullptr) {
        m_selected = 0;
        Select(m_root);
    } else if (reshow && m_scope.Find(item) != nullptr) {
        Select(item);
    }
    return hr;
}

HRESULT ConsoleSession::Save(std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    com_ptr<IPersistStream> persist = m_data.query<IPersistStream>();
    com_ptr<IStream> memory;
    if (!persist) return E_NOINTERFACE;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.put());
    if (FAILED(hr)) return hr;
    hr = persist->Save(memory.get(), TRUE);
    if (FAILED(hr)) return hr;
    STATSTG stat{};
    hr = memory->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    if (stat.cbSize.QuadPart > kMaxStream) return E_OUTOFMEMORY;
    HGLOBAL block = nullptr;
    hr = GetHGlobalFromStream(memory.get(), &block);
    if (FAILED(hr)) return hr;
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(block));
    if (data == nullptr) return E_FAIL;
    bytes.assign(data, data + static_cast<std::size_t>(stat.cbSize.QuadPart));
    GlobalUnlock(block);
    return S_OK;
}

HRESULT ConsoleSession::IsDirty()
{
    com_ptr<IPersistStream> persist = m_data.query<IPersistStream>();
    return persist ? persist->IsDirty() : E_NOINTERFACE;
}

std::string ConsoleSession::Verbs() const
{
    std::string names;
    for (const VerbName& entry : kVerbs) {
        if (!m_verb->State(entry.verb, ENABLED) || m_verb->State(entry.verb, HIDDEN)) continue;
        if (!names.empty()) names += ' ';
        names += entry.name;
        if (entry.verb == m_verb->DefaultVerb()) names += '*';
    }
    return names;
}

HRESULT ConsoleSession::ScopeImageList(IImageList** images)
{
    return HandOut(static_cast<IImageList*>(m_scopeImages.get()), reinterpret_cast<void**>(images));
}

HRESULT ConsoleSession::ResultImageList(IImageList** images)
{
    return HandOut(static_cast<IImageList*>(m_resultImages.get()), reinterpret_cast<void**>(images));
}

HRESULT ConsoleSession::ConsoleVerb(IConsoleVerb** verb)
{
    return HandOut(static_cast<IConsoleVerb*>(m_verb.get()), reinterpret_cast<void**>(verb));
}

int ConsoleSession::MessageBoxFromSnapin(LPCOLESTR text, LPCOLESTR title, UINT style)
{
    // The real message box: the console's user (the script) answers it.
    return ::MessageBoxW(m_mainWindow, text != nullptr ? text : L"", title != nullptr ? title : L"", style);
}
