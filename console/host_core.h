// The console host core: it loads snap-ins by class identifier, keeps the
// scope tree and the result pane they fill, routes notifications, context
// menus and commands to them exactly as a management console does, and
// keeps the console file. The faces (terminal and scripted commands) drive
// it through CConsoleHost and learn of changes through an observer; they
// supply the platform's user interface (dialogs, message boxes, progress
// window) themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console/fleet_model.h"
#include "console/menu_collector.h"
#include "console/node_data.h"
#include "platform/console.h"

// The outcome of a host operation; `message` says what went wrong.
struct HostStatus {
    bool ok = true;
    std::string message;

    static HostStatus Ok() { return {}; }
    static HostStatus Fail(std::string text) { return {false, std::move(text)}; }
    explicit operator bool() const { return ok; }
};

// One scope item as a face shows it.
struct ScopeItemView {
    HSCOPEITEM handle = 0;
    HSCOPEITEM parent = 0;  // 0 for the static node of a snap-in instance
    std::u16string name;
    int image = -1;      // index into the snap-in's node images; -1 for a static node
    int openImage = -1;
    bool expandable = false;  // shows an expand mark (unknown children, or some)
    bool expanded = false;    // its children are shown
    bool isStatic = false;    // the snap-in's own top node
};

struct ResultColumnView {
    std::u16string title;
    int width = 0;
    int format = 0;
};

struct ResultRowView {
    std::vector<std::u16string> cells;  // one text per column (at least one)
    int image = -1;
};

enum class ResultKind {
    None,  // nothing selected
    List,  // the default list view (columns may be empty when nothing was shown)
    Page,  // a web page of the module
};

// What the result pane shows for the selected scope item.
struct ResultView {
    ResultKind kind = ResultKind::None;
    std::vector<ResultColumnView> columns;
    std::vector<ResultRowView> rows;
    std::u16string url;    // Page: the view string the snap-in gave
    std::string pageName;  // Page: the last part of the URL, e.g. "ci.html"
    std::string pageText;  // Page: the page rendered as readable UTF-8 text
};

// One entry of a scope item's context menu: MenuItemView
// (console/menu_collector.h).

// Told about every change of the tree and the result pane, after it happened.
class IConsoleHostObserver {
public:
    virtual ~IConsoleHostObserver() = default;
    virtual void OnScopeItemInserted(HSCOPEITEM item) {}
    // The item (and its subtree) is gone; the handle is no longer valid.
    virtual void OnScopeItemDeleted(HSCOPEITEM item) {}
    // Name, images or expand state changed.
    virtual void OnScopeItemChanged(HSCOPEITEM item) {}
    virtual void OnSelectionChanged(HSCOPEITEM item) {}
    virtual void OnResultViewChanged() {}
};

// Told after an expansion or a menu command, which may have scanned hosts.
class IScanSink {
public:
    virtual ~IScanSink() = default;
    virtual void OnHostsMayHaveScanned(HSCOPEITEM item) = 0;
};

// A scan of a host node done in this session, as the snap-in tells it.
struct HostScanView {
    std::int64_t when = 0;  // seconds since 1970
    std::u16string login;
    std::u16string xml;
};

class CConsoleHost {
public:
    CConsoleHost();
    // Destroys the components and component data and unloads the modules.
    ~CConsoleHost();
    CConsoleHost(const CConsoleHost&) = delete;
    CConsoleHost& operator=(const CConsoleHost&) = delete;

    // --- Console file -----------------------------------------------------
    // Opens a console file. A missing file gives a new console holding one
    // Ferrodex instance, saved to `path` later. A damaged or foreign file is
    // refused with a message naming the file, and is never written to.
    // A console can be opened once per host object.
    // A file noted as sealed (its logins and passwords encrypted when it was
    // last opened or saved here) that opens in plain form may have been
    // replaced to plant settings the seal protected: `plain` says whether
    // the user is asked (Yes/No, No by default), the file is taken with a
    // warning (PlainWarning), or it is refused. Taking it forgets the note.
    enum class EPlainFile { Ask, Accept, Refuse };
    HostStatus Open(const std::string& path, EPlainFile plain = EPlainFile::Ask);
    // The warning of a plain file taken by EPlainFile::Accept; empty otherwise.
    const std::string& PlainWarning() const;
    // Opens a console from the bytes of a console file, tied to no file.
    HostStatus OpenImage(std::span<const std::uint8_t> bytes);
    // Opens a console from the bytes of a console file kept elsewhere (a
    // recovery file) as unsaved changes of the console file at `path`: it
    // is saved there.
    HostStatus OpenRecovered(const std::string& path, std::span<const std::uint8_t> bytes,
                             EPlainFile plain = EPlainFile::Ask);
    // A new console with one Ferrodex instance, tied to no file.
    HostStatus OpenNew();
    // Saves every instance to the opened file, atomically (the previous file
    // stays intact on any failure).
    HostStatus Save();
    HostStatus SaveAs(const std::string& path);
    // The bytes of the console file as it would be saved now.
    HostStatus SaveImage(std::vector<std::uint8_t>& bytes);
    // Some snap-in instance reports unsaved changes.
    bool IsDirty();
    const std::string& FilePath() const;
    // The console's identity (32 hex digits) as its file holds it; empty
    // until the first save of a new console, of a file of an older format
    // and of a copy of another console file (each gets a new one then).
    const std::string& ConsoleId() const;

    // --- Scope tree ---------------------------------------------------------
    // The static nodes, one per snap-in instance.
    std::vector<HSCOPEITEM> StaticItems() const;
    // The first static node ("My Linux Servers"), 0 when none.
    HSCOPEITEM RootItem() const;
    bool Exists(HSCOPEITEM item) const;
    // Children in the order the snap-in inserted them.
    std::vector<HSCOPEITEM> Children(HSCOPEITEM item) const;
    HSCOPEITEM Parent(HSCOPEITEM item) const;
    ScopeItemView Item(HSCOPEITEM item) const;
    std::u16string DisplayName(HSCOPEITEM item) const;
    // The node type the snap-in gives for the item; GUID_NULL when none.
    GUID NodeType(HSCOPEITEM item) const;
    // A host node's server, when the snap-in tells it: false for other nodes.
    bool HostAddress(HSCOPEITEM item, std::u16string& address, int& port) const;
    // A host node's jump hosts as the snap-in tells them; empty for none.
    std::u16string HostJump(HSCOPEITEM item) const;
    // A host node holds a picture of its hardware (expanding it contacts no
    // server); false for other nodes and hosts without one.
    bool HostHoldsPicture(HSCOPEITEM item) const;
    // A host's whole hardware view, read in one piece (no scope item is
    // inserted); false for a node that is no host or holds no picture.
    bool HostTree(HSCOPEITEM item, std::vector<FleetNode>& nodes) const;
    // Whether a host scans through sudo; nothing for a node that is no host
    // or a snap-in that does not say.
    std::optional<bool> HostSudo(HSCOPEITEM item) const;
    // How a host logs in ("password", "key-file", "agent"); nothing for a
    // node that is no host or a snap-in that does not say.
    // Whether this session's scan of the host ran lshw with root rights
    // (nothing before a scan); `why` says why not.
    std::optional<bool> HostScannedAsRoot(HSCOPEITEM item, std::u16string& why) const;
    std::optional<std::string> HostLoginMethod(HSCOPEITEM item) const;
    // A host node's last scan in this session: false for other nodes and
    // for a host whose picture came from the console file.
    bool HostScan(HSCOPEITEM item, HostScanView& scan) const;
    // When a host node's picture was taken and its last refresh failed (in
    // this session or before), as the snap-in tells it; nothing for other
    // nodes and hosts never scanned nor refreshed.
    std::optional<HostResult> HostLastResult(HSCOPEITEM item) const;
    // A host node's identity (kept across renames; 32 hex digits); empty for
    // other nodes and a host never saved.
    std::string HostId(HSCOPEITEM item) const;
    // Shows the item's children. The first time, the snap-in is notified
    // (it inserts the children; a host node may scan its server). Returns
    // the snap-in's result (S_FALSE when it could not expand the node).
    HRESULT Expand(HSCOPEITEM item);
    // Hides the children again; the snap-in is not told.
    void Collapse(HSCOPEITEM item);
    // The snap-in has been notified of this item's expansion.
    bool WasExpanded(HSCOPEITEM item) const;

    // --- Selection and result pane ------------------------------------------
    // Selects a scope item and fills the result pane for it.
    HRESULT Select(HSCOPEITEM item);
    HSCOPEITEM Selected() const;
    const ResultView& Result() const;

    // --- Context menu, commands, rename -------------------------------------
    // The item's context menu as the snap-in fills it.
    std::vector<MenuItemView> MenuItems(HSCOPEITEM item);
    // Runs a menu command of the item. The item may be gone afterwards; the
    // selection then moves to its parent.
    HRESULT InvokeCommand(HSCOPEITEM item, long commandId);
    // Pastes a data object of the console's onto the item, as the console's
    // Paste does: the snap-in is asked whether it takes it, then given it
    // as a copy. S_FALSE when it does not take it.
    HRESULT Paste(HSCOPEITEM item, IDataObject* source);
    // The snap-in allows renaming the item (asked while it is selected; this
    // selects it).
    bool CanRename(HSCOPEITEM item);
    // Renames the item through the snap-in; S_FALSE when it refused.
    HRESULT Rename(HSCOPEITEM item, std::u16string_view text);

    // Not owned; null removes it.
    void SetObserver(IConsoleHostObserver* observer);
    // Not owned; null removes it. Told after Expand and InvokeCommand.
    void SetScanSink(IScanSink* sink);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
    IScanSink* m_scanSink = nullptr;
};

// The default console file: $XDG_DATA_HOME/ferrodex/console.fdx (else
// ~/.local/share/ferrodex/console.fdx); its folder is created owner-only.
// Empty when no folder can be made.
std::string DefaultConsoleFile();

// Registers the snap-in module found beside this program (in the build tree
// or the installed library folder) with the registry.
HostStatus RegisterSnapin();
// Removes the snap-in's registration.
HostStatus UnregisterSnapin();
