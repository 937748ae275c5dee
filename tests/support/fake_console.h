// A recording console for tests: one COM object that plays every console
// interface the snap-in calls and keeps what the console would show (the
// scope tree, menus, verbs, columns, result lines, image strips), with
// switches that make chosen calls fail.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/console.h"

class CFakeConsole final : public IConsole,
                           public IConsoleNameSpace2,
                           public IConsoleVerb,
                           public IHeaderCtrl,
                           public IResultData,
                           public IContextMenuCallback {
public:
    // One item of the scope tree as the console keeps it.
    struct ScopeItem {
        HSCOPEITEM handle = 0;
        HSCOPEITEM parent = 0;
        DWORD mask = 0;
        bool textByCallback = false;  // displayname was MMC_CALLBACK
        std::u16string displayName;   // when given as text
        int nImage = 0;
        int nOpenImage = 0;
        int cChildren = 0;
        LPARAM lParam = 0;
    };
    // One DeleteItem call on the name space.
    struct ScopeDeletion {
        HSCOPEITEM handle = 0;
        bool itemToo = false;  // false: the children only
        std::size_t removed = 0;  // items taken out of the tree
    };
    struct MenuItem {
        std::optional<std::u16string> name;  // empty when strName was null
        std::optional<std::u16string> statusText;
        LONG commandId = 0;
        LONG insertionPoint = 0;
        LONG flags = 0;
        LONG specialFlags = 0;
    };
    struct Column {
        int index = 0;
        std::u16string title;
        int format = 0;
        int width = 0;
    };
    struct ResultItem {
        HRESULTITEM itemID = 0;
        DWORD mask = 0;
        bool textByCallback = false;
        std::u16string text;
        int nImage = 0;
        int nCol = 0;
        LPARAM lParam = 0;
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
    HSCOPEITEM RootItem() const { return kRootHandle; }
    // Adds an item as if the console had inserted it before the test began
    // (for a node handed to OnExpand without its ancestors).
    HSCOPEITEM AddStaticItem(LPARAM lParam, HSCOPEITEM parent = kRootHandle, int cChildren = 1);

    // Current references held on the object.
    ULONG RefCount() const { return m_nRefs.load(); }

    // --- The scope tree -------------------------------------------------
    bool HasScopeItem(HSCOPEITEM handle) const { return m_scope.count(handle) != 0; }
    const ScopeItem* FindScopeItem(HSCOPEITEM handle) const;
    // Live children of an item, in insertion order.
    std::vector<ScopeItem> ScopeChildren(HSCOPEITEM parent) const;
    std::size_t ScopeItemCount() const { return m_scope.size() - 1; }  // without the root
    const std::vector<ScopeItem>& ScopeInsertions() const { return m_scopeInsertions; }
    const std::vector<ScopeDeletion>& ScopeDeletions() const { return m_scopeDeletions; }
    const std::vector<HSCOPEITEM>& ExpandRequests() const { return m_expandRequests; }
    const std::vector<HSCOPEITEM>& SelectRequests() const { return m_selectRequests; }
    // The node behind a live item whose lParam is `lParam`, or 0.
    HSCOPEITEM FindScopeItemByParam(LPARAM lParam) const;

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
    std::size_t VerbSetCount() const { return m_nVerbSets; }
    MMC_CONSOLE_VERB DefaultVerb() const { return m_defaultVerb; }

    // --- Result pane ----------------------------------------------------
    // Columns by index; inserting at an index that exists replaces it, as a
    // header rebuilt at every show would look.
    std::vector<Column> Columns() const;
    const std::vector<Column>& ColumnInsertions() const { return m_columnInsertions; }
    const std::vector<ResultItem>& ResultItems() const { return m_resultItems; }
    std::size_t DeleteAllCount() const { return m_nDeleteAll; }
    void ClearResultPane();

    // --- Images and messages --------------------------------------------
    const std::vector<ImageStrip>& ImageStrips() const { return m_imageStrips; }
    const std::vector<MessageRecord>& Messages() const { return m_messages; }
    std::size_t UpdateAllViewsCount() const { return m_nUpdateAllViews; }

    // --- Failure injection ------------------------------------------------
    // QueryInterface for this interface id fails with E_NOINTERFACE.
    void FailQueryInterface(const IID& iid) { m_failQuery.insert(GuidToAnsi(iid)); }
    void FailQueryConsoleVerb(bool fail) { m_bFailVerb = fail; }
    // The scope InsertItem call with this index (0 = first) fails.
    void FailScopeInsertAt(std::size_t index) { m_failScopeInsertAt = index; }
    // The result InsertItem call with this index (0 = first) fails.
    void FailResultInsertAt(std::size_t index) { m_failResultInsertAt = index; }
    // The InsertColumn call with this index (0 = first) fails.
    void FailColumnInsertAt(std::size_t index) { m_failColumnInsertAt = index; }
    void FailDeleteAll(bool fail) { m_bFailDeleteAll = fail; }

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IConsole
    HRESULT SetHeader(IHeaderCtrl* header) override;
    HRESULT SetToolbar(IUnknown* toolbar) override;
    HRESULT QueryResultView(IUnknown** unknown) override;
    HRESULT QueryScopeImageList(IImageList** imageList) override;
    HRESULT QueryResultImageList(IImageList** imageList) override;
    HRESULT UpdateAllViews(IDataObject* data, LPARAM arg, LONG_PTR hint) override;
    HRESULT MessageBox(LPCOLESTR text, LPCOLESTR title, UINT style, int* result) override;
    HRESULT QueryConsoleVerb(IConsoleVerb** verb) override;
    HRESULT SelectScopeItem(HSCOPEITEM hScopeItem) override;
    HRESULT GetMainWindow(HWND* window) override;
    HRESULT NewWindow(HSCOPEITEM hScopeItem, DWORD options) override;

    // IConsoleNameSpace2. Called on the fake itself, pass a long as the
    // second argument of DeleteItem (0L, 1L): an int picks the result pane's.
    HRESULT InsertItem(LPSCOPEDATAITEM item) override;
    HRESULT DeleteItem(HSCOPEITEM hItem, long fDeleteThis) override;
    HRESULT SetItem(LPSCOPEDATAITEM item) override;
    HRESULT GetItem(LPSCOPEDATAITEM item) override;
    HRESULT GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie) override;
    HRESULT GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie) override;
    HRESULT GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie) override;
    HRESULT Expand(HSCOPEITEM hItem) override;
    HRESULT AddExtension(HSCOPEITEM hItem, const CLSID* extension) override;

    // IConsoleVerb
    HRESULT GetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL* pState) override;
    HRESULT SetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL bState) override;
    HRESULT SetDefaultVerb(MMC_CONSOLE_VERB eCmdID) override;
    HRESULT GetDefaultVerb(MMC_CONSOLE_VERB* peCmdID) override;

    // IHeaderCtrl
    HRESULT InsertColumn(int nCol, LPCOLESTR title, int nFormat, int nWidth) override;
    HRESULT DeleteColumn(int nCol) override;
    HRESULT SetColumnText(int nCol, LPCOLESTR title) override;
    HRESULT GetColumnText(int nCol, LPOLESTR* title) override;
    HRESULT SetColumnWidth(int nCol, int nWidth) override;
    HRESULT GetColumnWidth(int nCol, int* pWidth) override;

    // IResultData
    HRESULT InsertItem(LPRESULTDATAITEM item) override;
    HRESULT DeleteItem(HRESULTITEM itemID, int nCol) override;
    HRESULT FindItemByLParam(LPARAM lParam, HRESULTITEM* itemID) override;
    HRESULT DeleteAllRsltItems() override;
    HRESULT SetItem(LPRESULTDATAITEM item) override;
    HRESULT GetItem(LPRESULTDATAITEM item) override;
    HRESULT GetNextItem(LPRESULTDATAITEM item) override;
    HRESULT ModifyItemState(int nIndex, HRESULTITEM itemID, UINT uAdd, UINT uRemove) override;
    HRESULT ModifyViewStyle(long add, long remove) override;
    HRESULT SetViewMode(long mode) override;
    HRESULT GetViewMode(long* mode) override;
    HRESULT UpdateItem(HRESULTITEM itemID) override;
    HRESULT Sort(int nColumn, DWORD dwSortOptions, LPARAM lUserParam) override;
    HRESULT SetDescBarText(LPOLESTR text) override;
    HRESULT SetItemCount(int nItemCount, DWORD dwOptions) override;

    // IContextMenuCallback
    HRESULT AddItem(CONTEXTMENUITEM* item) override;

private:
    static constexpr HSCOPEITEM kRootHandle = 0x100;

    // The two image lists are parts of the console: they share its count.
    class CImageList final : public IImageList {
    public:
        CImageList(CFakeConsole& owner, ImageListKind kind) : m_owner(owner), m_kind(kind) {}
        virtual ~CImageList() = default;
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
    virtual ~CFakeConsole();

    std::vector<HSCOPEITEM> ChildHandles(HSCOPEITEM parent) const;
    std::size_t RemoveSubtree(HSCOPEITEM handle, bool itemToo);

    std::atomic<ULONG> m_nRefs{1};
    CImageList m_scopeImages{*this, ImageListKind::Scope};
    CImageList m_resultImages{*this, ImageListKind::Result};

    std::map<HSCOPEITEM, ScopeItem> m_scope;  // live items by handle
    std::vector<HSCOPEITEM> m_scopeOrder;     // live handles, insertion order
    HSCOPEITEM m_nextScope = kRootHandle + 1;
    std::vector<ScopeItem> m_scopeInsertions;
    std::vector<ScopeDeletion> m_scopeDeletions;
    std::vector<HSCOPEITEM> m_expandRequests;
    std::vector<HSCOPEITEM> m_selectRequests;
    std::size_t m_nScopeInsertCalls = 0;
    std::optional<std::size_t> m_failScopeInsertAt;

    std::vector<MenuItem> m_menuItems;
    std::size_t m_nAddItemCalls = 0;
    std::optional<std::size_t> m_failMenuAt;

    std::map<std::pair<DWORD, DWORD>, BOOL> m_verbStates;
    std::size_t m_nVerbSets = 0;
    MMC_CONSOLE_VERB m_defaultVerb = MMC_VERB_NONE;
    bool m_bFailVerb = false;

    std::map<int, Column> m_columns;
    std::vector<Column> m_columnInsertions;
    std::size_t m_nColumnInsertCalls = 0;
    std::optional<std::size_t> m_failColumnInsertAt;

    std::vector<ResultItem> m_resultItems;
    HRESULTITEM m_nextResult = 0x1000;
    std::size_t m_nResultInsertCalls = 0;
    std::optional<std::size_t> m_failResultInsertAt;
    std::size_t m_nDeleteAll = 0;
    bool m_bFailDeleteAll = false;
    long m_nViewMode = 0;

    std::vector<ImageStrip> m_imageStrips;
    std::vector<MessageRecord> m_messages;
    std::size_t m_nUpdateAllViews = 0;
    std::set<std::string> m_failQuery;
};
