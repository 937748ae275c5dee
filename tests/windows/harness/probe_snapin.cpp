// A small snap-in module for checking the console harness itself: a root
// with a page, two children (one named through the display callback, one
// with its own text), a Name/Value list, menu commands that ask through the
// console's message box and a modal dialog, rename, and a saved stream.
#include <windows.h>
#include <objbase.h>
#include <mmc.h>

#include <cwchar>
#include <memory>
#include <type_traits>
#include <string>
#include <vector>

#include "com_ref.h"
#include "console_guids.h"

// The SDK's interfaces have no virtual destructors: these objects are
// deleted only through their own type, at their last Release.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

constexpr LONG kTop = static_cast<LONG>(CCM_INSERTIONPOINTID_PRIMARY_TOP);
LPOLESTR const kCallback = reinterpret_cast<LPOLESTR>(static_cast<INT_PTR>(-1));
constexpr long kGreet = 10;
constexpr long kAsk = 11;
constexpr int kNameEdit = 1002;

LPOLESTR TaskCopy(const std::wstring& text)
{
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

struct Node {
    std::wstring name;
    bool ownText = false;  // inserted with its text, not through the callback
    HSCOPEITEM item = 0;
};

// The module's state, shared by the instance's data and view (one instance).
struct Probe {
    ComPtr<IConsole> console;
    ComPtr<IConsoleNameSpace2> names;
    std::vector<Node> nodes{{L"Alpha", false, 0}, {L"Beta", true, 0}};
    HSCOPEITEM root = 0;
    bool dirty = false;
};

class DataObject final : public IDataObject, public RefCounted<DataObject> {
public:
    DataObject(std::wstring name, MMC_COOKIE cookie) : m_name(std::move(name)), m_cookie(cookie) {}
    MMC_COOKIE Cookie() const { return m_cookie; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDataObject) return HandOut(static_cast<IDataObject*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (format == nullptr || medium == nullptr) return E_POINTER;
        if (format->cfFormat != RegisterClipboardFormatW(L"CCF_DISPLAY_NAME") || medium->tymed != TYMED_HGLOBAL)
            return DV_E_FORMATETC;
        const SIZE_T bytes = (m_name.size() + 1) * sizeof(wchar_t);
        HGLOBAL block = GlobalReAlloc(medium->hGlobal, bytes, GMEM_MOVEABLE);
        if (block == nullptr) return E_OUTOFMEMORY;
        medium->hGlobal = block;
        auto* text = static_cast<wchar_t*>(GlobalLock(block));
        if (text == nullptr) return E_OUTOFMEMORY;
        std::wmemcpy(text, m_name.c_str(), m_name.size() + 1);
        GlobalUnlock(block);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::wstring m_name;
    MMC_COOKIE m_cookie;
};

MMC_COOKIE CookieOf(IDataObject* data) { return data != nullptr ? static_cast<DataObject*>(data)->Cookie() : -1; }

HRESULT NewDataObject(const Probe& probe, MMC_COOKIE cookie, IDataObject** out)
{
    if (out == nullptr) return E_POINTER;
    const std::wstring name = cookie == 0 ? L"Probe Root" : probe.nodes.at(static_cast<std::size_t>(cookie - 1)).name;
    const ComPtr<DataObject> object = MakeObject<DataObject>(name, cookie);
    return object->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(out));
}

// The name the "Ask" dialog takes.
struct AskState {
    std::wstring name;
};

INT_PTR CALLBACK AskProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        wchar_t text[128] = {};
        GetDlgItemTextW(dialog, kNameEdit, text, 128);
        reinterpret_cast<AskState*>(GetWindowLongPtrW(dialog, DWLP_USER))->name = text;
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// "Rename" as a dialog: a title, the edit, OK and Cancel.
std::vector<WORD> AskTemplate()
{
    std::vector<WORD> t;
    auto dword = [&](DWORD v) { t.push_back(LOWORD(v)), t.push_back(HIWORD(v)); };
    auto text = [&](const wchar_t* s) {
        for (; *s; ++s) t.push_back(static_cast<WORD>(*s));
        t.push_back(0);
    };
    auto control = [&](WORD id, WORD atom, DWORD style, const wchar_t* s) {
        if (t.size() % 2) t.push_back(0);
        dword(style | WS_CHILD | WS_VISIBLE), dword(0);
        for (WORD v : {5, 5, 80, 12}) t.push_back(v);
        t.push_back(id), t.push_back(0xFFFF), t.push_back(atom);
        text(s);
        t.push_back(0);
    };
    dword(WS_POPUP | WS_CAPTION | DS_MODALFRAME), dword(0);
    t.push_back(3);
    for (WORD v : {10, 10, 150, 60, 0, 0}) t.push_back(v);
    text(L"Name the node");
    control(kNameEdit, 0x0081, WS_BORDER, L"");
    control(IDOK, 0x0080, BS_DEFPUSHBUTTON, L"OK");
    control(IDCANCEL, 0x0080, BS_PUSHBUTTON, L"Cancel");
    return t;
}

class View final : public IComponent, public RefCounted<View> {
public:
    explicit View(Probe& probe) : m_probe(probe) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IComponent) return HandOut(static_cast<IComponent*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Initialize(LPCONSOLE console) override
    {
        m_console = ComPtr<IConsole>::Share(console);
        return console != nullptr ? S_OK : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE Notify(LPDATAOBJECT data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM) override
    {
        if (event != MMCN_SHOW || arg == 0 || CookieOf(data) != 1) return S_OK;
        ComPtr<IHeaderCtrl> header = m_console.Query<IHeaderCtrl>(IID_IHeaderCtrl);
        ComPtr<IResultData> result = m_console.Query<IResultData>(IID_IResultData);
        header->InsertColumn(0, L"Name", 0, 100);
        header->InsertColumn(1, L"Value", 0, 200);
        for (LPARAM row = 1; row <= 2; ++row) {
            RESULTDATAITEM item{};
            item.mask = RDI_STR | RDI_PARAM;
            item.str = kCallback;
            item.lParam = row;
            result->InsertItem(&item);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Destroy(MMC_COOKIE) override
    {
        m_console.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES, LPDATAOBJECT* data) override
    {
        return NewDataObject(m_probe, cookie, data);
    }
    HRESULT STDMETHODCALLTYPE GetResultViewType(MMC_COOKIE cookie, LPOLESTR* view, LONG* options) override
    {
        *options = MMC_VIEW_OPTIONS_NONE;
        *view = cookie == 0 ? TaskCopy(L"res://probe.dll/start.html") : nullptr;
        return cookie == 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayInfo(RESULTDATAITEM* item) override
    {
        static const wchar_t* const kCells[2][2] = {{L"Kernel", L"6.1"}, {L"Memory size", L"8 GiB"}};
        if (item->lParam < 1 || item->lParam > 2 || item->nCol < 0 || item->nCol > 1) return E_INVALIDARG;
        item->str = TaskCopy(kCells[item->lParam - 1][item->nCol]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CompareObjects(LPDATAOBJECT a, LPDATAOBJECT b) override
    {
        return CookieOf(a) == CookieOf(b) ? S_OK : S_FALSE;
    }

private:
    Probe& m_probe;
    ComPtr<IConsole> m_console;
};

class Data final : public IComponentData,
                   public IExtendContextMenu,
                   public IPersistStream,
                   public RefCounted<Data> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IComponentData) return HandOut(static_cast<IComponentData*>(this), out);
        if (iid == IID_IExtendContextMenu) return HandOut(static_cast<IExtendContextMenu*>(this), out);
        if (iid == IID_IPersistStream || iid == IID_IPersist) return HandOut(static_cast<IPersistStream*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // IComponentData
    HRESULT STDMETHODCALLTYPE Initialize(LPUNKNOWN console) override
    {
        ComPtr<IUnknown> unknown = ComPtr<IUnknown>::Share(console);
        m_probe.console = unknown.Query<IConsole>(IID_IConsole);
        m_probe.names = unknown.Query<IConsoleNameSpace2>(IID_IConsoleNameSpace2);
        return m_probe.console && m_probe.names ? S_OK : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE CreateComponent(LPCOMPONENT* view) override
    {
        const ComPtr<View> object = MakeObject<View>(m_probe);
        return object->QueryInterface(IID_IComponent, reinterpret_cast<void**>(view));
    }
    HRESULT STDMETHODCALLTYPE Notify(LPDATAOBJECT data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param) override
    {
        if (event == MMCN_EXPAND && arg != 0 && CookieOf(data) == 0) {
            m_probe.root = static_cast<HSCOPEITEM>(param);
            for (std::size_t i = 0; i < m_probe.nodes.size(); ++i) {
                Node& node = m_probe.nodes[i];
                SCOPEDATAITEM item{};
                item.mask = SDI_STR | SDI_PARAM | SDI_PARENT | SDI_CHILDREN;
                item.displayname = node.ownText ? const_cast<LPOLESTR>(node.name.c_str()) : kCallback;
                item.lParam = static_cast<LPARAM>(i + 1);
                item.relativeID = m_probe.root;
                if (FAILED(m_probe.names->InsertItem(&item))) return E_FAIL;
                node.item = item.ID;
            }
            return S_OK;
        }
        if (event == MMCN_RENAME) {
            const MMC_COOKIE cookie = CookieOf(data);
            if (cookie != 1) return S_FALSE;
            if (arg == 0) return S_OK;
            m_probe.nodes[0].name = reinterpret_cast<const wchar_t*>(param);
            m_probe.dirty = true;
            return S_OK;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Destroy() override
    {
        m_probe.names.Reset();
        m_probe.console.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES, LPDATAOBJECT* data) override
    {
        return NewDataObject(m_probe, cookie, data);
    }
    HRESULT STDMETHODCALLTYPE GetDisplayInfo(SCOPEDATAITEM* item) override
    {
        if (item->lParam < 1 || static_cast<std::size_t>(item->lParam) > m_probe.nodes.size()) return E_INVALIDARG;
        item->displayname = TaskCopy(m_probe.nodes[static_cast<std::size_t>(item->lParam - 1)].name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CompareObjects(LPDATAOBJECT a, LPDATAOBJECT b) override
    {
        return CookieOf(a) == CookieOf(b) ? S_OK : S_FALSE;
    }

    // IExtendContextMenu: Alpha offers "Greet" and "Rename...".
    HRESULT STDMETHODCALLTYPE AddMenuItems(LPDATAOBJECT data, LPCONTEXTMENUCALLBACK menu, LONG*) override
    {
        if (CookieOf(data) != 1) return S_OK;
        wchar_t greet[] = L"Greet";
        wchar_t ask[] = L"Rename...";
        wchar_t none[] = L"";
        CONTEXTMENUITEM item{greet, none, kGreet, kTop, 0, 0};
        menu->AddItem(&item);
        item = CONTEXTMENUITEM{nullptr, nullptr, 0, kTop, MF_SEPARATOR, 0};
        menu->AddItem(&item);
        item = CONTEXTMENUITEM{ask, none, kAsk, kTop, MF_CHECKED, 0};
        menu->AddItem(&item);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Command(LONG id, LPDATAOBJECT data) override
    {
        if (CookieOf(data) != 1) return E_INVALIDARG;
        if (id == kGreet) {
            int answer = 0;
            m_probe.console->MessageBox(L"Greet\nAlpha?", L"Probe", MB_YESNO, &answer);
            return answer == IDYES ? S_OK : S_FALSE;
        }
        if (id == kAsk) {
            HWND main = nullptr;
            m_probe.console->GetMainWindow(&main);
            const std::vector<WORD> tmpl = AskTemplate();
            AskState state;
            const INT_PTR pressed =
                DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(tmpl.data()),
                                        main, &AskProc, reinterpret_cast<LPARAM>(&state));
            if (pressed != IDOK) return S_FALSE;
            m_probe.nodes[0].name = state.name;
            m_probe.dirty = true;
            return S_OK;
        }
        return E_INVALIDARG;
    }

    // IPersistStream: Alpha's name, its length first.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return m_probe.dirty ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override
    {
        ULONG length = 0;
        ULONG got = 0;
        if (FAILED(stream->Read(&length, sizeof length, &got)) || got != sizeof length || length > 256) return E_FAIL;
        std::wstring name(length, L'\0');
        const ULONG bytes = length * sizeof(wchar_t);
        if (FAILED(stream->Read(name.data(), bytes, &got)) || got != bytes) return E_FAIL;
        m_probe.nodes[0].name = name;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override
    {
        const std::wstring& name = m_probe.nodes[0].name;
        const ULONG length = static_cast<ULONG>(name.size());
        if (FAILED(stream->Write(&length, sizeof length, nullptr)) ||
            FAILED(stream->Write(name.data(), length * sizeof(wchar_t), nullptr)))
            return E_FAIL;
        if (clearDirty) m_probe.dirty = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override
    {
        size->QuadPart = 4 + 256 * sizeof(wchar_t);
        return S_OK;
    }

private:
    Probe m_probe;
};

class Factory final : public IClassFactory, public RefCounted<Factory> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) return HandOut(static_cast<IClassFactory*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return MakeObject<Data>()->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** out)
{
    return MakeObject<Factory>()->QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

// Registration as regsvr32 makes it: HKCR\CLSID\{class}\InprocServer32.
namespace {

constexpr wchar_t kProbeClassKey[] = L"CLSID\\{6A3C51E2-7F0B-4C8D-9E21-5B4F3D2A1C07}";

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};

extern "C" IMAGE_DOS_HEADER __ImageBase;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    const std::wstring key = std::wstring(kProbeClassKey) + L"\\InprocServer32";
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr) !=
        ERROR_SUCCESS)
        return E_FAIL;
    const std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser> opened(raw);
    const wchar_t model[] = L"Apartment";
    const bool ok =
        RegSetValueExW(raw, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), (length + 1) * sizeof(wchar_t)) ==
            ERROR_SUCCESS &&
        RegSetValueExW(raw, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model) ==
            ERROR_SUCCESS;
    return ok ? S_OK : E_FAIL;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, kProbeClassKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : E_FAIL;
}
