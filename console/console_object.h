// The console as one snap-in instance sees it: IConsole with the name space,
// the header control and the result data reached from it. Every call is
// forwarded to the host's site; once detached (the host is going away) the
// object answers E_UNEXPECTED.
#pragma once

#include "platform/com_object.h"
#include "console/console_site.h"
#include "platform/console.h"

class CConsoleObject final : public IConsole,
                             public IConsoleNameSpace2,
                             public IHeaderCtrl,
                             public IResultData,
                             private CRefCounted<CConsoleObject> {
public:
    explicit CConsoleObject(IConsoleSite* site) : m_pSite(site) {}
    void Detach() { m_pSite = nullptr; }

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return AddRefImpl(); }
    ULONG Release() override { return ReleaseImpl(); }

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

    // IConsoleNameSpace2
    HRESULT InsertItem(LPSCOPEDATAITEM item) override;
    HRESULT DeleteItem(HSCOPEITEM hItem, long fDeleteThis) override;
    HRESULT SetItem(LPSCOPEDATAITEM item) override;
    HRESULT GetItem(LPSCOPEDATAITEM item) override;
    HRESULT GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie) override;
    HRESULT GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie) override;
    HRESULT GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie) override;
    HRESULT Expand(HSCOPEITEM hItem) override;
    HRESULT AddExtension(HSCOPEITEM hItem, const CLSID* extension) override;

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

private:
    friend class CRefCounted<CConsoleObject>;
    ~CConsoleObject() = default;

    IConsoleSite* m_pSite;
    long m_nViewMode = 0;
};
