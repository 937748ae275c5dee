// One snap-in instance in the console: made through the COM runtime,
// initialised, loaded from a saved stream, given its view; then driven as the management console drives it: expansion,
// selection and the result list, context menus and commands, refresh, save.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/dataobject.h"
#include "platform/stream.h"
#include "console/console_object.h"
#include "console/console_verb.h"
#include "console/image_list.h"
#include "console/menu_collector.h"

// What the console shows in the result pane for a selected node.
struct ResultShown {
    std::wstring page;  // the view the snap-in asked for; empty for the list
    std::vector<std::wstring> columns;
    std::vector<std::vector<std::wstring>> rows;
};

class ConsoleSession : private IConsoleSite {
public:
    using Print = std::function<void(const std::string& line)>;

    // The snap-in of class `clsid`, made through the COM runtime (the
    // registered server), as the management console makes it.
    ConsoleSession(const CLSID& clsid, Print print);
    ~ConsoleSession();
    ConsoleSession(const ConsoleSession&) = delete;
    ConsoleSession& operator=(const ConsoleSession&) = delete;

    // A new instance, loaded from `stream` when given; the root is expanded.
    bool Start(const std::vector<std::uint8_t>* stream, std::string& error);
    // Destroys the view and the instance, as closing the console does.
    void Stop();
    bool Started() const { return static_cast<bool>(m_data); }

    // The node a path names, expanding the nodes on the way; 0 with an
    // error when a name is not found.
    HSCOPEITEM Resolve(const std::vector<std::wstring>& names, std::string& error);
    std::wstring DisplayName(HSCOPEITEM item);
    const CScopeItem* Item(HSCOPEITEM item) const { return m_scope.Find(item); }

    // Notifies the first expansion; later ones change nothing.
    HRESULT Expand(HSCOPEITEM item);
    // Selects the node: the view is told (show, select) and fills the list.
    HRESULT Select(HSCOPEITEM item);
    ResultShown Shown();
    // The enabled, not hidden verbs by name ("refresh", "delete", ...), the
    // default one marked with '*'.
    std::string Verbs() const;
    // The refresh verb on the selected node.
    HRESULT Refresh(HSCOPEITEM item);

    // Renames the node as the console's in-place edit does, when the snap-in
    // enables the rename verb for it; S_FALSE when it refuses.
    HRESULT Rename(HSCOPEITEM item, std::wstring name);

    std::vector<MenuItemView> Menu(HSCOPEITEM item);
    HRESULT Command(HSCOPEITEM item, long commandId);

    HRESULT Save(std::vector<std::uint8_t>& bytes);
    // S_OK: unsaved changes; S_FALSE: none.
    HRESULT IsDirty();

    // Writes every notification and command, with the snap-in's result, to
    // standard error.
    void SetTrace(bool on) { m_trace = on; }

private:
    struct WindowDestroy {
        void operator()(HWND window) const { DestroyWindow(window); }
    };

    // Calls from the snap-in through the console object.
    CScopeTree& ScopeTree() override { return m_scope; }
    CResultPane& ResultPane() override { return m_result; }
    void ScopeInserted(HSCOPEITEM) override {}
    void ScopeDeleted(const std::vector<HSCOPEITEM>&) override {}
    void ScopeChanged(HSCOPEITEM) override {}
    void ResultChanged() override {}
    HRESULT ExpandFromSnapin(HSCOPEITEM item) override { return Expand(item); }
    HRESULT SelectFromSnapin(HSCOPEITEM item) override;
    HRESULT ScopeImageList(IImageList** images) override;
    HRESULT ResultImageList(IImageList** images) override;
    HRESULT ConsoleVerb(IConsoleVerb** verb) override;
    HWND MainWindow() override { return m_mainWindow; }
    int MessageBoxFromSnapin(LPCOLESTR text, LPCOLESTR title, UINT style) override;

    HRESULT CreateData(com_ptr<IComponentData>& data, std::string& error);
    com_ptr<IDataObject> DataObject(HSCOPEITEM item);
    MMC_COOKIE Cookie(HSCOPEITEM item) const;
    HSCOPEITEM Child(HSCOPEITEM parent, const std::wstring& name);
    void LeaveSelection();
    HRESULT NotifyData(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param);
    HRESULT NotifyView(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param);
    void Trace(const char* to, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param, HRESULT hr) const;

    CLSID m_clsid;
    Print m_print;
    std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroy> m_window;
    HWND m_mainWindow = nullptr;
    CScopeTree m_scope;
    HSCOPEITEM m_root = 0;
    CResultPane m_result;
    com_ptr<CConsoleVerb> m_verb = MakeComObject<CConsoleVerb>();
    com_ptr<CImageList> m_scopeImages = MakeComObject<CImageList>();
    com_ptr<CImageList> m_resultImages = MakeComObject<CImageList>();
    com_ptr<CConsoleObject> m_console;
    com_ptr<IComponentData> m_data;
    com_ptr<IComponent> m_view;
    com_ptr<IExtendContextMenu> m_menu;
    HSCOPEITEM m_selected = 0;
    bool m_trace = false;
    std::wstring m_page;
};
