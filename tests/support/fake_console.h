// A recording console for tests: the console's own side of the snap-in
// interfaces (console/console_object.h) with the scope tree and result pane
// it keeps, plus what a test needs on top: the verbs, the context menu and
// the image strips in one COM object, a record of the calls that changed
// the console, and switches that make chosen calls fail.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "console/console_object.h"
#include "console/menu_collector.h"
#include "platform/com.h"
#include "platform/console.h"

class CFakeConsole final : public CConsoleObject,
                           public IConsoleVerb,
                           public IContextMenuCallback,
                           private IConsoleSite {
public:
    using ScopeItem = CScopeItem;
    using MenuItem = MenuItemView;
    using Column = CResultColumn;
    using ResultItem = CResultItem;
    // One DeleteItem call on the name space.
    struct ScopeDeletion {
        HSCOPEITEM handle = 0;
        bool itemToo = false;     // false: the children only
        std::size_t removed = 0;  // items taken out of the tree
    };
    enum class ImageListKind { Scope, Result };
    struct ImageStrip {
        ImageListKind list = ImageListKind::Scope;
        LONG_PTR* smallStrip = nullptr;
        LONG_PTR* largeStrip = nullptr;
        long start = 0;
        COLORREF mask = 0;
    };
    struct MessageRecord {
        std::u16string text;
        std::u16string title;
        UINT style = 0;
    };

    // A new console holding one reference for the caller.
    static com_ptr<CFakeConsole> Create();
    // Consoles alive in this process (to find leaked references).
    static long LiveCount();

    // The console's own static item, under which the snap-in's root goes.
    HSCOPEITEM RootItem() const { return m_root; }
    // Adds an item as if the console had inserted it before the test began
    // (for a node handed to OnExpand without its ancestors).
    HSCOPEITEM AddStaticItem(LPARAM lParam, HSCOPEITEM parent = 0, int cChildren = 1);

    // --- The scope tree -------------------------------------------------
    bool HasScopeItem(HSCOPEITEM handle) const { return m_tree.Find(handle) != nullptr; }
    // Live children of an item, in their order.
    std::vector<ScopeItem> ScopeChildren(HSCOPEITEM parent) const;
    std::size_t ScopeItemCount() const { return m_tree.Count() - 1; }  // without the root
    const std::vector<ScopeItem>& ScopeInsertions() const { return m_scopeInsertions; }
    const std::vector<ScopeDeletion>& ScopeDeletions() const { return m_scopeDeletions; }
    const std::vector<HSCOPEITEM>& ExpandRequests() const { return m_expandRequests; }

    // --- Menus ----------------------------------------------------------
    const std::vector<MenuItem>& MenuItems() const { return m_menuItems; }
    void ClearMenu() { m_menuItems.clear(); m_nAddItemCalls = 0; }
    // Makes the AddItem call with this index (0 = first since ClearMenu)
    // fail with E_FAIL; it adds nothing.
    void FailMenuAddAt(std::size_t index) { m_failMenuAt = index; }

    // --- Verbs ----------------------------------------------------------
    // The state last set for a verb; false when never set.
    bool VerbState(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const;
    bool WasVerbSet(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const;
    MMC_CONSOLE_VERB DefaultVerb() const { return m_defaultVerb; }

    // --- Result pane ----------------------------------------------------
    // Columns in index order; inserting at an index that exists replaces it,
    // as a header rebuilt at every show would look.
    std::vector<Column> Columns() const { return m_pane.Columns(); }
    const std::vector<Column>& ColumnInsertions() const { return m_columnInsertions; }
    const std::vector<ResultItem>& ResultItems() const { return m_pane.Items(); }
    std::size_t DeleteAllCount() const { return m_nDeleteAll; }

    // --- Images and messages --------------------------------------------
    const std::vector<ImageStrip>& ImageStrips() const { return m_imageStrips; }
    const std::vector<MessageRecord>& Messages() const { return m_messages; }

    // --- Failure injection ------------------------------------------------
    // QueryInterface for this interface id fails with E_NOINTERFACE.
    void FailQueryInterface(const IID& iid) { m_failQuery.insert(GuidToAnsi(iid)); }
    // The scope InsertItem call with this index (0 = first) fails.
    void FailScopeInsertAt(std::size_t index) { m_failScopeInsertAt = index; }
    // The result InsertItem call with this index (0 = first) fails.
    void FailResultInsertAt(std::size_t index) { m_failResultInsertAt = index; }
    // The InsertColumn call with this index (0 = first) fails.
    void FailColumnInsertAt(std::size_t index) { m_failColumnInsertAt = index; }

    // IUnknown, for every interface of the console.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return CConsoleObject::AddRef(); }
    ULONG Release() override { return CConsoleObject::Release(); }

    // The console's calls that a test records or makes fail. Called on the
    // fake itself, pass a long as the second argument of DeleteItem (0L,
    // 1L): an int picks the result pane's.
    using CConsoleObject::DeleteItem;
    using CConsoleObject::InsertItem;
    HRESULT QueryResultView(IUnknown** unknown) override;
    HRESULT UpdateAllViews(IDataObject* data, LPARAM arg, LONG_PTR hint) override;
    HRESULT InsertItem(LPSCOPEDATAITEM item) override;
    HRESULT DeleteItem(HSCOPEITEM hItem, long fDeleteThis) override;
    HRESULT InsertColumn(int nCol, LPCOLESTR title, int nFormat, int nWidth) override;
    HRESULT InsertItem(LPRESULTDATAITEM item) override;
    HRESULT DeleteAllRsltItems() override;

    // IConsoleVerb
    HRESULT GetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL* pState) override;
    HRESULT SetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL bState) override;
    HRESULT SetDefaultVerb(MMC_CONSOLE_VERB eCmdID) override;
    HRESULT GetDefaultVerb(MMC_CONSOLE_VERB* peCmdID) override;

    // IContextMenuCallback
    HRESULT AddItem(CONTEXTMENUITEM* item) override;

private:
    // The two image lists are parts of the console: they share its count.
    class CRecordingImages final : public IImageList {
    public:
        CRecordingImages(CFakeConsole& owner, ImageListKind kind) : m_owner(owner), m_kind(kind) {}
        virtual ~CRecordingImages() = default;
        HRESULT QueryInterface(REFIID riid, void** ppv) override;
        ULONG AddRef() override { return m_owner.AddRef(); }
        ULONG Release() override { return m_owner.Release(); }
        HRESULT ImageListSetIcon(LONG_PTR* pIcon, long nLoc) override;
        HRESULT ImageListSetStrip(LONG_PTR* pBMapSm, LONG_PTR* pBMapLg, long nStartLoc, COLORREF cMask) override;

    private:
        CFakeConsole& m_owner;
        ImageListKind m_kind;
    };

    CFakeConsole();
    ~CFakeConsole() override;

    // IConsoleSite
    CScopeTree& ScopeTree() override { return m_tree; }
    CResultPane& ResultPane() override { return m_pane; }
    void ScopeInserted(HSCOPEITEM item) override;
    void ScopeDeleted(const std::vector<HSCOPEITEM>&) override {}
    void ScopeChanged(HSCOPEITEM) override {}
    void ResultChanged() override {}
    HRESULT ExpandFromSnapin(HSCOPEITEM item) override;
    HRESULT SelectFromSnapin(HSCOPEITEM item) override;
    HRESULT ScopeImageList(IImageList** images) override;
    HRESULT ResultImageList(IImageList** images) override;
    HRESULT ConsoleVerb(IConsoleVerb** verb) override;
    HWND MainWindow() override { return nullptr; }
    int MessageBoxFromSnapin(LPCOLESTR text, LPCOLESTR title, UINT style) override;

    CScopeTree m_tree;
    CResultPane m_pane;
    HSCOPEITEM m_root = 0;
    CRecordingImages m_scopeImages{*this, ImageListKind::Scope};
    CRecordingImages m_resultImages{*this, ImageListKind::Result};

    std::vector<ScopeItem> m_scopeInsertions;
    std::vector<ScopeDeletion> m_scopeDeletions;
    std::vector<HSCOPEITEM> m_expandRequests;
    std::size_t m_nScopeInsertCalls = 0;
    std::optional<std::size_t> m_failScopeInsertAt;

    std::vector<MenuItem> m_menuItems;
    std::size_t m_nAddItemCalls = 0;
    std::optional<std::size_t> m_failMenuAt;

    std::map<std::pair<DWORD, DWORD>, BOOL> m_verbStates;
    MMC_CONSOLE_VERB m_defaultVerb = MMC_VERB_NONE;

    std::vector<Column> m_columnInsertions;
    std::size_t m_nColumnInsertCalls = 0;
    std::optional<std::size_t> m_failColumnInsertAt;
    std::size_t m_nResultInsertCalls = 0;
    std::optional<std::size_t> m_failResultInsertAt;
    std::size_t m_nDeleteAll = 0;

    std::vector<ImageStrip> m_imageStrips;
    std::vector<MessageRecord> m_messages;
    std::set<std::string> m_failQuery;
};
