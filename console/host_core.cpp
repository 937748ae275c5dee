#include "console/host_core.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "console/console_file.h"
#include "console/console_object.h"
#include "console/console_verb.h"
#include "console/html_text.h"
#include "console/image_list.h"
#include "console/menu_collector.h"
#include "console/node_data.h"
#include "console/sealed_files.h"
#include "console/snapin_module.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/random_id.h"
#include "platform/saved_path.h"
#include "platform/stream.h"
#include "platform/terminal_text.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// What a snap-in's Load gives when the user cancelled a question it needed
// (the main password of an encrypted inventory): ERROR_CANCELLED.
constexpr HRESULT kLoadCancelled = static_cast<HRESULT>(0x800704C7);

// Takes over a task-memory string from the snap-in and frees it.
std::u16string TakeTaskString(LPOLESTR text)
{
    if (text == nullptr || text == MMC_CALLBACK) return {};
    std::u16string copy = text;
    CoTaskMemFree(text);
    return copy;
}

LPARAM SelectArg(bool scope, bool select) { return (scope ? 1 : 0) | ((select ? 1 : 0) << 16); }

}  // namespace

// One snap-in instance of the console.
struct SnapinInstance {
    CLSID clsid = GUID_NULL;
    const CSnapinModule* module = nullptr;
    com_ptr<CConsoleObject> console;
    com_ptr<IComponentData> data;
    com_ptr<IExtendContextMenu> menu;
    com_ptr<IComponent> component;
    HSCOPEITEM staticItem = 0;
};

struct CConsoleHost::Impl final : IConsoleSite {
    // Declared first so that they go last, after every object of theirs.
    std::vector<std::unique_ptr<CSnapinModule>> modules;
    std::map<std::string, const CSnapinModule*> moduleByClass;

    CScopeTree tree;
    CResultPane pane;
    com_ptr<CImageList> scopeImages = MakeComObject<CImageList>();
    com_ptr<CImageList> resultImages = MakeComObject<CImageList>();
    com_ptr<CConsoleVerb> verb = MakeComObject<CConsoleVerb>();
    std::vector<SnapinInstance> instances;

    HSCOPEITEM selected = 0;
    ResultView result;
    bool rowsStale = false;
    int selecting = 0;  // inside a selection: observers hear of it once, at its end

    std::string path;
    // The console's identity; a copy of another console file gets a new
    // one, said at the save that first writes it (`copyOf` names the file).
    ConsoleFileIdentity identity;
    std::string copyOf;
    // The identity is the one the file holds (read from it, or saved).
    bool identityKept = false;
    bool opened = false;
    std::string plainWarning;
    bool saveFailed = false;  // no file holds the snap-ins' state (a failed save, a recovery)
    IConsoleHostObserver* observer = nullptr;

    ~Impl() { Shutdown(); }

    void Shutdown()
    {
        for (SnapinInstance& instance : instances) {
            if (instance.component) instance.component->Destroy(0);
        }
        pane.Reset();
        for (SnapinInstance& instance : instances) {
            instance.component = nullptr;
            instance.menu = nullptr;
            if (instance.data) instance.data->Destroy();
            instance.data = nullptr;
            if (instance.console) instance.console->Detach();
            instance.console = nullptr;
        }
        instances.clear();
    }

    // --- Loading ---------------------------------------------------------------

    HostStatus ModuleFor(const CLSID& clsid, const CSnapinModule*& module)
    {
        const std::string key = GuidToAnsi(clsid);
        if (const auto it = moduleByClass.find(key); it != moduleByClass.end()) {
            module = it->second;
            return HostStatus::Ok();
        }
        std::string error;
        std::unique_ptr<CSnapinModule> loaded = LoadModuleForClass(clsid, error);
        if (!loaded) return HostStatus::Fail(error);
        for (const auto& existing : modules) {
            if (existing->Path() == loaded->Path()) {
                module = existing.get();
                moduleByClass[key] = module;
                return HostStatus::Ok();
            }
        }
        module = loaded.get();
        modules.push_back(std::move(loaded));
        moduleByClass[key] = module;
        return HostStatus::Ok();
    }

    // Creates an instance as the console does: class object, Initialize,
    // then its saved stream when there is one, then the component of the view.
    HostStatus AddInstance(const CLSID& clsid, const std::vector<std::uint8_t>* stream)
    {
        SnapinInstance instance;
        instance.clsid = clsid;
        if (HostStatus status = ModuleFor(clsid, instance.module); !status) return status;
        const std::string name = WideToAnsi(GuidToString(clsid));

        com_ptr<IClassFactory> factory;
        if (FAILED(instance.module->GetClassObject(clsid, factory)) || !factory)
            return HostStatus::Fail("the snap-in module " + instance.module->Path() + " does not serve " + name);
        if (FAILED(factory->CreateInstance(nullptr, IID_IComponentData, instance.data.put_void())) || !instance.data)
            return HostStatus::Fail("the snap-in " + name + " could not be created");
        instance.menu = instance.data.query<IExtendContextMenu>();
        instance.console = MakeComObject<CConsoleObject>(this);
        const std::size_t index = instances.size();
        instance.staticItem = tree.AddStatic(index);
        instances.push_back(std::move(instance));
        SnapinInstance& added = instances.back();

        if (FAILED(added.data->Initialize(static_cast<IConsole*>(added.console.get()))))
            return HostStatus::Fail("the snap-in " + name + " could not start");
        if (stream != nullptr) {
            com_ptr<IPersistStream> persist = added.data.query<IPersistStream>();
            if (!persist) return HostStatus::Fail("the snap-in " + name + " cannot read its saved state");
            com_ptr<IStream> memory = CreateMemoryStream(*stream);
            const HRESULT loaded = persist->Load(memory.get());
            if (loaded == kLoadCancelled)
                return HostStatus::Fail("the console file was not opened: its main password was not given");
            if (FAILED(loaded)) return HostStatus::Fail("the snap-in " + name + " could not read its saved state");
        }
        if (FAILED(added.data->CreateComponent(added.component.put())) || !added.component)
            return HostStatus::Fail("the snap-in " + name + " has no view");
        if (FAILED(added.component->Initialize(static_cast<IConsole*>(added.console.get()))))
            return HostStatus::Fail("the snap-in " + name + " view could not start");
        if (observer) observer->OnScopeItemInserted(added.staticItem);
        return HostStatus::Ok();
    }

    HostStatus LoadInstances(const std::vector<ConsoleFileInstance>& saved)
    {
        opened = true;
        for (const ConsoleFileInstance& instance : saved) {
            if (HostStatus status = AddInstance(instance.clsid, &instance.stream); !status) {
                Shutdown();
                return status;
            }
        }
        return HostStatus::Ok();
    }

    // Whether the instances' state is sealed: any of them says so; nothing
    // when none of them tells.
    std::optional<bool> StateSealed()
    {
        std::optional<bool> sealed;
        for (SnapinInstance& instance : instances) {
            com_ptr<IDataObject> data = DataObject(instance.staticItem);
            if (const std::optional<bool> told = ReadSealedState(data.get()))
                sealed = sealed.value_or(false) || *told;
        }
        return sealed;
    }

    // After a load from `path`: a sealed state notes the file; a plain one
    // of a file noted as sealed is asked about, taken or refused.
    HostStatus CheckPlainFile(const std::string& file, CConsoleHost::EPlainFile plain)
    {
        const std::optional<bool> sealed = StateSealed();
        if (!sealed) return HostStatus::Ok();
        if (*sealed) {
            NoteSealedConsoleFile(file);
            return HostStatus::Ok();
        }
        if (!WasSealedConsoleFile(file)) return HostStatus::Ok();
        const std::string what = "console file " + file +
                                 " was encrypted (Save Passwords) when it was last used here, and is now a plain file:"
                                 " it may have been replaced to plant settings the encryption protected (sudo, jump"
                                 " hosts, logins)";
        bool take = plain == CConsoleHost::EPlainFile::Accept;
        if (plain == CConsoleHost::EPlainFile::Ask)
            take = ::MessageBox(nullptr, AnsiToWide(what + ".\n\nOpen it all the same?"), u"Plain console file",
                                MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
        if (!take) {
            Shutdown();
            opened = false;
            return HostStatus::Fail(what + "; it is not opened (--accept-plain opens it)");
        }
        ForgetSealedConsoleFile(file);
        if (plain == CConsoleHost::EPlainFile::Accept) plainWarning = what + "; opened as --accept-plain asks";
        return HostStatus::Ok();
    }

    HostStatus NewConsole()
    {
        opened = true;
        if (HostStatus status = AddInstance(kFerrodexSnapinClass, nullptr); !status) {
            Shutdown();
            return status;
        }
        return HostStatus::Ok();
    }

    // --- Items ----------------------------------------------------------------

    SnapinInstance* InstanceOf(HSCOPEITEM item)
    {
        const CScopeItem* found = tree.Find(item);
        if (found == nullptr || found->instance >= instances.size()) return nullptr;
        SnapinInstance& instance = instances[found->instance];
        return instance.data ? &instance : nullptr;
    }

    MMC_COOKIE CookieOf(const CScopeItem& item) const { return item.isStatic ? 0 : item.lParam; }

    com_ptr<IDataObject> DataObject(HSCOPEITEM item)
    {
        com_ptr<IDataObject> data;
        const CScopeItem* found = tree.Find(item);
        SnapinInstance* instance = InstanceOf(item);
        if (found == nullptr || instance == nullptr) return data;
        if (FAILED(instance->data->QueryDataObject(CookieOf(*found), CCT_SCOPE, data.put()))) data = nullptr;
        return data;
    }

    std::u16string DisplayName(HSCOPEITEM item)
    {
        const CScopeItem* found = tree.Find(item);
        SnapinInstance* instance = InstanceOf(item);
        if (found == nullptr || instance == nullptr) return {};
        if (found->isStatic) {
            com_ptr<IDataObject> data = DataObject(item);
            return ReadDisplayName(data.get()).value_or(u"");
        }
        if (!found->textByCallback) return found->text;
        SCOPEDATAITEM info{};
        info.mask = SDI_STR;
        info.lParam = found->lParam;
        info.ID = item;
        if (FAILED(instance->data->GetDisplayInfo(&info))) return {};
        return TakeTaskString(info.displayname);
    }

    // --- Expansion --------------------------------------------------------------

    HRESULT Expand(HSCOPEITEM item)
    {
        CScopeItem* found = tree.Find(item);
        SnapinInstance* instance = InstanceOf(item);
        if (found == nullptr || instance == nullptr) return E_INVALIDARG;
        found->expanded = true;
        HRESULT hr = S_OK;
        if (!found->notified) {
            found->notified = true;
            com_ptr<IDataObject> data = DataObject(item);
            hr = instance->data->Notify(data.get(), MMCN_EXPAND, TRUE, static_cast<LPARAM>(item));
        }
        if (tree.Find(item) != nullptr) ScopeChanged(item);
        return hr;
    }

    // --- Selection and the result pane -------------------------------------------

    void LeaveSelection()
    {
        if (selected == 0) return;
        const HSCOPEITEM old = selected;
        SnapinInstance* instance = InstanceOf(old);
        if (instance != nullptr && instance->component) {
            com_ptr<IDataObject> data = DataObject(old);
            instance->component->Notify(data.get(), MMCN_SELECT, SelectArg(true, false), 0);
            instance->component->Notify(data.get(), MMCN_SHOW, FALSE, static_cast<LPARAM>(old));
        }
        selected = 0;
    }

    void ClearResult()
    {
        pane.Reset();
        result = ResultView{};
        rowsStale = false;
    }

    HRESULT Select(HSCOPEITEM item)
    {
        const CScopeItem* found = tree.Find(item);
        SnapinInstance* instance = InstanceOf(item);
        if (found == nullptr || instance == nullptr) return E_INVALIDARG;
        ++selecting;
        LeaveSelection();
        verb->Reset();
        ClearResult();
        selected = item;

        LPOLESTR view = nullptr;
        long options = 0;
        const HRESULT hr = instance->component->GetResultViewType(CookieOf(*found), &view, &options);
        const std::u16string url = TakeTaskString(view);
        com_ptr<IDataObject> data = DataObject(item);
        if (SUCCEEDED(hr) && !url.empty()) {
            ShowPage(url);
        } else {
            result.kind = ResultKind::List;
            instance->component->Notify(data.get(), MMCN_ADD_IMAGES, reinterpret_cast<LPARAM>(
                                            static_cast<IImageList*>(resultImages.get())), static_cast<LPARAM>(item));
        }
        instance->component->Notify(data.get(), MMCN_SHOW, TRUE, static_cast<LPARAM>(item));
        if (selected == item) instance->component->Notify(data.get(), MMCN_SELECT, SelectArg(true, true), 0);
        rowsStale = result.kind == ResultKind::List;
        --selecting;
        if (observer && selecting == 0) {
            observer->OnSelectionChanged(selected);
            observer->OnResultViewChanged();
        }
        return S_OK;
    }

    void ShowPage(const std::u16string& url)
    {
        result.kind = ResultKind::Page;
        result.url = url;
        const std::string text = WideToAnsi(url);
        const std::string prefix = "res://";
        const std::size_t slash = text.rfind('/');
        if (text.compare(0, prefix.size(), prefix) != 0 || slash == std::string::npos || slash < prefix.size()) {
            result.pageName = text;
            result.pageText = "(This page cannot be shown: " + text + ")\n";
            return;
        }
        const std::string modulePath = text.substr(prefix.size(), slash - prefix.size());
        result.pageName = text.substr(slash + 1);
        for (const auto& module : modules) {
            if (module->Path() != modulePath || module->Resources() == nullptr) continue;
            const ResourceEntry* page = FindResourceByName(module->Resources(), "HTML", result.pageName.c_str());
            if (page != nullptr) {
                result.pageText = HtmlToText(std::string_view(reinterpret_cast<const char*>(page->data), page->size));
                return;
            }
        }
        result.pageText = "(This page cannot be shown: " + text + ")\n";
    }

    void BuildRows()
    {
        if (!rowsStale) return;
        rowsStale = false;
        result.columns.clear();
        result.rows.clear();
        std::vector<int> columnIndexes;
        for (const CResultColumn& column : pane.Columns())
            result.columns.push_back(ResultColumnView{column.title, column.width, column.format});
        for (int i = 0; i < 64; ++i)
            if (pane.Column(i) != nullptr) columnIndexes.push_back(i);
        if (columnIndexes.empty()) columnIndexes.push_back(0);
        SnapinInstance* instance = InstanceOf(selected);
        for (const CResultItem& item : pane.Items()) {
            ResultRowView row;
            row.image = item.nImage;
            for (int column : columnIndexes) {
                if (!item.textByCallback) {
                    row.cells.push_back(column == columnIndexes.front() ? item.text : u"");
                    continue;
                }
                RESULTDATAITEM info{};
                info.mask = RDI_STR;
                info.bScopeItem = item.bScopeItem ? TRUE : FALSE;
                info.itemID = item.itemID;
                info.nCol = column;
                info.lParam = item.lParam;
                std::u16string text;
                if (instance != nullptr && SUCCEEDED(instance->component->GetDisplayInfo(&info)))
                    text = TakeTaskString(info.str);
                row.cells.push_back(std::move(text));
            }
            result.rows.push_back(std::move(row));
        }
    }

    // --- Menus and commands -----------------------------------------------------

    std::vector<MenuItemView> MenuItems(HSCOPEITEM item)
    {
        SnapinInstance* instance = InstanceOf(item);
        if (instance == nullptr || !instance->menu) return {};
        com_ptr<IDataObject> data = DataObject(item);
        com_ptr<CMenuCollector> collector = MakeComObject<CMenuCollector>();
        long allowed = CCM_INSERTIONALLOWED_TOP | CCM_INSERTIONALLOWED_NEW | CCM_INSERTIONALLOWED_TASK |
                       CCM_INSERTIONALLOWED_VIEW;
        instance->menu->AddMenuItems(data.get(), static_cast<IContextMenuCallback*>(collector.get()), &allowed);
        return collector->Items();
    }

    std::vector<HSCOPEITEM> Ancestors(HSCOPEITEM item) const
    {
        std::vector<HSCOPEITEM> chain;
        for (const CScopeItem* found = tree.Find(item); found != nullptr; found = tree.Find(found->parent))
            chain.push_back(found->handle);
        return chain;
    }

    HRESULT InvokeCommand(HSCOPEITEM item, long commandId)
    {
        SnapinInstance* instance = InstanceOf(item);
        if (instance == nullptr || !instance->menu) return E_INVALIDARG;
        const std::vector<HSCOPEITEM> selectedChain = Ancestors(selected);
        const bool reshow = selected == item;
        HRESULT hr = S_OK;
        {
            com_ptr<IDataObject> data = DataObject(item);
            hr = instance->menu->Command(commandId, data.get());
        }
        if (tree.Find(item) != nullptr) ScopeChanged(item);
        if (selected == 0 && !selectedChain.empty()) {
            // The selection went with the command: its nearest surviving
            // ancestor takes over.
            for (HSCOPEITEM candidate : selectedChain) {
                if (tree.Find(candidate) != nullptr) {
                    Select(candidate);
                    break;
                }
            }
        } else if (reshow && tree.Find(item) != nullptr) {
            Select(item);
        }
        return hr;
    }

    HRESULT Paste(HSCOPEITEM item, IDataObject* source)
    {
        SnapinInstance* instance = InstanceOf(item);
        if (instance == nullptr || !instance->component || source == nullptr) return E_INVALIDARG;
        com_ptr<IDataObject> data = DataObject(item);
        const auto arg = reinterpret_cast<LPARAM>(source);
        if (instance->component->Notify(data.get(), MMCN_QUERY_PASTE, arg, 0) != S_OK) return S_FALSE;
        const HRESULT hr = instance->component->Notify(data.get(), MMCN_PASTE, arg, 0);
        if (tree.Find(item) != nullptr) ScopeChanged(item);
        return hr;
    }

    bool CanRename(HSCOPEITEM item)
    {
        if (tree.Find(item) == nullptr) return false;
        if (selected != item && FAILED(Select(item))) return false;
        return verb->State(MMC_VERB_RENAME, ENABLED) && !verb->State(MMC_VERB_RENAME, HIDDEN);
    }

    HRESULT Rename(HSCOPEITEM item, std::u16string_view text)
    {
        if (!CanRename(item)) return S_FALSE;
        SnapinInstance* instance = InstanceOf(item);
        com_ptr<IDataObject> data = DataObject(item);
        // First the question whether the node may be renamed, then the name.
        if (instance->data->Notify(data.get(), MMCN_RENAME, 0, 0) != S_OK) return S_FALSE;
        std::u16string name(text);
        const HRESULT hr = instance->data->Notify(data.get(), MMCN_RENAME, 1, reinterpret_cast<LPARAM>(name.data()));
        if (tree.Find(item) != nullptr) ScopeChanged(item);
        return hr;
    }

    // --- Saving --------------------------------------------------------------------

    HostStatus SaveImage(std::vector<ConsoleFileInstance>& saved)
    {
        saved.clear();
        for (SnapinInstance& instance : instances) {
            ConsoleFileInstance record;
            record.clsid = instance.clsid;
            com_ptr<IPersistStream> persist = instance.data.query<IPersistStream>();
            if (persist) {
                com_ptr<IStream> memory = CreateMemoryStream();
                if (FAILED(persist->Save(memory.get(), TRUE))) {
                    saveFailed = true;
                    return HostStatus::Fail("the snap-in could not save its state");
                }
                record.stream = MemoryStreamBytes(memory.get());
            }
            saved.push_back(std::move(record));
        }
        return HostStatus::Ok();
    }

    HostStatus SaveTo(const std::string& target)
    {
        if (!opened) return HostStatus::Fail("no console is open");
        std::vector<ConsoleFileInstance> saved;
        if (HostStatus status = SaveImage(saved); !status) return status;
        std::string error;
        ConsoleFileIdentity written = identity;
        if (written.id.empty()) written.id = NewRandomId();
        // A console saved under another name is a copy: its own identity.
        const std::string at = AbsoluteFilePath(target);
        if (target != path) written.id = NewRandomId();
        written.savedAt = at;
        if (!WriteConsoleFile(target, saved, error, written)) {
            // The snap-ins think they are saved; remember that they are not.
            saveFailed = true;
            return HostStatus::Fail(error);
        }
        saveFailed = false;
        // The note follows what was written: a plain save is the user's own.
        if (const std::optional<bool> sealed = StateSealed()) {
            if (*sealed)
                NoteSealedConsoleFile(target);
            else
                ForgetSealedConsoleFile(target);
        }
        identity = std::move(written);
        identityKept = true;
        if (!copyOf.empty() && target == path) {
            std::fprintf(stderr, "ferrodex: console file %s is a copy of %s; it gets a history of its own\n",
                         TerminalText(target).c_str(), TerminalText(copyOf).c_str());
            std::fflush(stderr);
            copyOf.clear();
        }
        return HostStatus::Ok();
    }

    // Called once the file at `path` is read: a file saved elsewhere whose
    // original is still there with the same identity is a copy of it and
    // gets an identity of its own; one whose original is gone (or holds
    // another console) was moved and keeps its identity.
    void TakeIdentity(const std::string& file)
    {
        identityKept = false;
        if (identity.id.empty()) {
            identity.id = NewRandomId();  // a new console, or one of an older format
            return;
        }
        identityKept = true;
        if (identity.savedAt.empty() || identity.savedAt == AbsoluteFilePath(file)) return;
        std::vector<ConsoleFileInstance> ignored;
        ConsoleFileIdentity original;
        bool missing = false;
        std::string error;
        if (!ReadConsoleFile(identity.savedAt, ignored, missing, error, &original) || original.id != identity.id)
            return;
        copyOf = identity.savedAt;
        identity.id = NewRandomId();
        identityKept = false;
    }

    bool IsDirty()
    {
        if (saveFailed) return true;
        for (SnapinInstance& instance : instances) {
            com_ptr<IPersistStream> persist = instance.data.query<IPersistStream>();
            if (persist && persist->IsDirty() == S_OK) return true;
        }
        return false;
    }

    // --- IConsoleSite ----------------------------------------------------------------

    CScopeTree& ScopeTree() override { return tree; }
    CResultPane& ResultPane() override { return pane; }

    void ScopeInserted(HSCOPEITEM item) override
    {
        if (observer == nullptr) return;
        observer->OnScopeItemInserted(item);
        if (const CScopeItem* found = tree.Find(item); found != nullptr && found->parent != 0)
            observer->OnScopeItemChanged(found->parent);
    }

    void ScopeDeleted(const std::vector<HSCOPEITEM>& items) override
    {
        if (selected != 0 && std::find(items.begin(), items.end(), selected) != items.end()) {
            // The selected node is going: its result lines belong to it.
            selected = 0;
            ClearResult();
            if (observer) observer->OnResultViewChanged();
        }
        if (observer)
            for (HSCOPEITEM item : items) observer->OnScopeItemDeleted(item);
    }

    void ScopeChanged(HSCOPEITEM item) override
    {
        if (observer) observer->OnScopeItemChanged(item);
    }

    void ResultChanged() override
    {
        if (result.kind == ResultKind::List) rowsStale = true;
        if (observer && selecting == 0) observer->OnResultViewChanged();
    }

    HRESULT ExpandFromSnapin(HSCOPEITEM item) override
    {
        CScopeItem* found = tree.Find(item);
        if (found == nullptr) return E_INVALIDARG;
        if (!found->notified) return Expand(item);
        found->expanded = true;
        ScopeChanged(item);
        return S_OK;
    }

    HRESULT SelectFromSnapin(HSCOPEITEM item) override { return Select(item); }

    HRESULT ScopeImageList(IImageList** images) override
    {
        *images = static_cast<IImageList*>(scopeImages.get());
        (*images)->AddRef();
        return S_OK;
    }

    HRESULT ResultImageList(IImageList** images) override
    {
        *images = static_cast<IImageList*>(resultImages.get());
        (*images)->AddRef();
        return S_OK;
    }

    HRESULT ConsoleVerb(IConsoleVerb** out) override
    {
        *out = static_cast<IConsoleVerb*>(verb.get());
        (*out)->AddRef();
        return S_OK;
    }

    HWND MainWindow() override { return GetActiveWindow(); }

    int MessageBoxFromSnapin(LPCOLESTR text, LPCOLESTR title, UINT style) override
    {
        return ::MessageBox(GetActiveWindow(), OleView(text), OleView(title), style);
    }
};

CConsoleHost::CConsoleHost() : m_impl(std::make_unique<Impl>()) {}

CConsoleHost::~CConsoleHost() = default;

HostStatus CConsoleHost::Open(const std::string& path, EPlainFile plain)
{
    if (m_impl->opened) return HostStatus::Fail("a console is already open");
    std::vector<ConsoleFileInstance> saved;
    bool missing = false;
    std::string error;
    if (!ReadConsoleFile(path, saved, missing, error, &m_impl->identity)) {
        if (!missing) return HostStatus::Fail(error);
        if (HostStatus status = m_impl->NewConsole(); !status) return status;
        m_impl->path = path;
        m_impl->TakeIdentity(path);
        return HostStatus::Ok();
    }
    if (HostStatus status = m_impl->LoadInstances(saved); !status) {
        return HostStatus::Fail("console file " + path + ": " + status.message);
    }
    if (HostStatus status = m_impl->CheckPlainFile(path, plain); !status) return status;
    m_impl->path = path;
    m_impl->TakeIdentity(path);
    return HostStatus::Ok();
}

const std::string& CConsoleHost::PlainWarning() const { return m_impl->plainWarning; }

HostStatus CConsoleHost::OpenImage(std::span<const std::uint8_t> bytes)
{
    if (m_impl->opened) return HostStatus::Fail("a console is already open");
    std::vector<ConsoleFileInstance> saved;
    const ConsoleFileParse parse = ParseConsoleFile(bytes, saved, &m_impl->identity);
    m_impl->identityKept = !m_impl->identity.id.empty();
    if (parse.error != ConsoleFileError::None) return HostStatus::Fail("the console is refused: " + parse.reason);
    return m_impl->LoadInstances(saved);
}

HostStatus CConsoleHost::OpenRecovered(const std::string& path, std::span<const std::uint8_t> bytes,
                                       EPlainFile plain)
{
    if (HostStatus status = OpenImage(bytes); !status) return status;
    if (HostStatus status = m_impl->CheckPlainFile(path, plain); !status) return status;
    m_impl->path = path;
    // No file holds what the snap-ins hold now.
    m_impl->saveFailed = true;
    return HostStatus::Ok();
}

HostStatus CConsoleHost::OpenNew()
{
    if (m_impl->opened) return HostStatus::Fail("a console is already open");
    return m_impl->NewConsole();
}

HostStatus CConsoleHost::Save()
{
    if (m_impl->path.empty()) return HostStatus::Fail("the console has no file to be saved to");
    return m_impl->SaveTo(m_impl->path);
}

HostStatus CConsoleHost::SaveAs(const std::string& path)
{
    HostStatus status = m_impl->SaveTo(path);
    if (status) m_impl->path = path;
    return status;
}

HostStatus CConsoleHost::SaveImage(std::vector<std::uint8_t>& bytes)
{
    std::vector<ConsoleFileInstance> saved;
    HostStatus status = m_impl->SaveImage(saved);
    if (status) bytes = FormatConsoleFile(saved, m_impl->identity);
    return status;
}

bool CConsoleHost::IsDirty() { return m_impl->IsDirty(); }

const std::string& CConsoleHost::FilePath() const { return m_impl->path; }

const std::string& CConsoleHost::ConsoleId() const
{
    static const std::string kNone;
    return m_impl->identityKept ? m_impl->identity.id : kNone;
}

std::vector<HSCOPEITEM> CConsoleHost::StaticItems() const { return m_impl->tree.Statics(); }

HSCOPEITEM CConsoleHost::RootItem() const
{
    const auto& statics = m_impl->tree.Statics();
    return statics.empty() ? 0 : statics.front();
}

bool CConsoleHost::Exists(HSCOPEITEM item) const { return m_impl->tree.Find(item) != nullptr; }

std::vector<HSCOPEITEM> CConsoleHost::Children(HSCOPEITEM item) const
{
    if (item == 0) return m_impl->tree.Statics();
    const CScopeItem* found = m_impl->tree.Find(item);
    return found != nullptr ? found->children : std::vector<HSCOPEITEM>{};
}

HSCOPEITEM CConsoleHost::Parent(HSCOPEITEM item) const
{
    const CScopeItem* found = m_impl->tree.Find(item);
    return found != nullptr ? found->parent : 0;
}

ScopeItemView CConsoleHost::Item(HSCOPEITEM item) const
{
    ScopeItemView view;
    const CScopeItem* found = m_impl->tree.Find(item);
    if (found == nullptr) return view;
    view.handle = found->handle;
    view.parent = found->parent;
    view.name = m_impl->DisplayName(item);
    view.image = found->isStatic ? -1 : found->nImage;
    view.openImage = found->isStatic ? -1 : found->nOpenImage;
    view.expandable = !found->children.empty() || (!found->notified && found->cChildren > 0);
    view.expanded = found->expanded;
    view.isStatic = found->isStatic;
    return view;
}

std::u16string CConsoleHost::DisplayName(HSCOPEITEM item) const { return m_impl->DisplayName(item); }

GUID CConsoleHost::NodeType(HSCOPEITEM item) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    return ReadNodeType(data.get()).value_or(GUID_NULL);
}

bool CConsoleHost::HostAddress(HSCOPEITEM item, std::u16string& address, int& port) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    const std::optional<HostEndpoint> endpoint = ReadHostEndpoint(data.get());
    if (!endpoint) return false;
    address = endpoint->address;
    port = endpoint->port;
    return true;
}

std::u16string CConsoleHost::HostJump(HSCOPEITEM item) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    const std::optional<HostEndpoint> endpoint = ReadHostEndpoint(data.get());
    return endpoint ? endpoint->jump : std::u16string();
}

bool CConsoleHost::HostHoldsPicture(HSCOPEITEM item) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    return ReadHostHoldsPicture(data.get()).value_or(false);
}

bool CConsoleHost::HostTree(HSCOPEITEM item, std::vector<FleetNode>& nodes) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    std::optional<std::vector<FleetNode>> tree = ReadHostTree(data.get());
    if (!tree) return false;
    nodes = std::move(*tree);
    return true;
}

std::optional<bool> CConsoleHost::HostSudo(HSCOPEITEM item) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    const std::optional<HostPicture> picture = ReadHostPicture(data.get());
    if (!picture) return std::nullopt;
    return picture->sudo;
}

std::optional<bool> CConsoleHost::HostScannedAsRoot(HSCOPEITEM item, std::u16string& why) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    const std::optional<HostPicture> picture = ReadHostPicture(data.get());
    if (!picture) return std::nullopt;
    why = picture->rootReason;
    return picture->root;
}

std::optional<std::string> CConsoleHost::HostLoginMethod(HSCOPEITEM item) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    const std::optional<HostPicture> picture = ReadHostPicture(data.get());
    if (!picture) return std::nullopt;
    return picture->loginMethod;
}

bool CConsoleHost::HostScan(HSCOPEITEM item, HostScanView& scan) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    std::optional<::HostScan> found = ReadHostScan(data.get());
    if (!found) return false;
    scan.when = found->when;
    scan.login = std::move(found->login);
    scan.xml = std::move(found->xml);
    return true;
}

std::optional<HostResult> CConsoleHost::HostLastResult(HSCOPEITEM item) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    return ReadHostResult(data.get());
}

std::string CConsoleHost::HostId(HSCOPEITEM item) const
{
    com_ptr<IDataObject> data = m_impl->DataObject(item);
    return ReadHostId(data.get());
}

void CConsoleHost::SetScanSink(IScanSink* sink) { m_scanSink = sink; }

HRESULT CConsoleHost::Expand(HSCOPEITEM item)
{
    const HRESULT hr = m_impl->Expand(item);
    if (m_scanSink != nullptr && Exists(item)) m_scanSink->OnHostsMayHaveScanned(item);
    return hr;
}

void CConsoleHost::Collapse(HSCOPEITEM item)
{
    if (CScopeItem* found = m_impl->tree.Find(item)) {
        found->expanded = false;
        m_impl->ScopeChanged(item);
    }
}

bool CConsoleHost::WasExpanded(HSCOPEITEM item) const
{
    const CScopeItem* found = m_impl->tree.Find(item);
    return found != nullptr && found->notified;
}

HRESULT CConsoleHost::Select(HSCOPEITEM item) { return m_impl->Select(item); }

HSCOPEITEM CConsoleHost::Selected() const { return m_impl->selected; }

const ResultView& CConsoleHost::Result() const
{
    m_impl->BuildRows();
    return m_impl->result;
}

std::vector<MenuItemView> CConsoleHost::MenuItems(HSCOPEITEM item) { return m_impl->MenuItems(item); }

HRESULT CConsoleHost::InvokeCommand(HSCOPEITEM item, long commandId)
{
    const HRESULT hr = m_impl->InvokeCommand(item, commandId);
    if (m_scanSink != nullptr && Exists(item)) m_scanSink->OnHostsMayHaveScanned(item);
    return hr;
}

HRESULT CConsoleHost::Paste(HSCOPEITEM item, IDataObject* source) { return m_impl->Paste(item, source); }

bool CConsoleHost::CanRename(HSCOPEITEM item) { return m_impl->CanRename(item); }

HRESULT CConsoleHost::Rename(HSCOPEITEM item, std::u16string_view text) { return m_impl->Rename(item, text); }

void CConsoleHost::SetObserver(IConsoleHostObserver* observer) { m_impl->observer = observer; }

std::string DefaultConsoleFile()
{
    const std::string folder = UserDataFolder();
    return folder.empty() ? std::string() : folder + "/console.fdx";
}
