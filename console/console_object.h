// The console as one snap-in instance sees it: IConsole with the name space,
// the header control and the result data reached from it. Every call is
// forwarded to the console's site; once detached (the console is going away)
// the object answers E_UNEXPECTED. A console that records or fails chosen
// calls (the tests' console) derives from it and overrides those calls.
#pragma once

#include "platform/com_object.h"
#include "console/console_site.h"
#include "platform/console.h"

// The SDK's interfaces have no virtual destructors: the object is deleted
// through its own, at its last Release.
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Where the system's declarations and this platform's differ in a type.
#ifdef _WIN32
using ConsoleToolbar = LPTOOLBAR;
using ConsoleViewStyle = MMC_RESULT_VIEW_STYLE;
using ConsoleExtension = LPCLSID;
#else
using ConsoleToolbar = IUnknown*;
using ConsoleViewStyle = long;
using ConsoleExtension = const CLSID*;
#endif

class CConsoleObject : public IConsole,
                       public IConsoleNameSpace2,
                       public IHeaderCtrl,
                       public IResultData,
                       private CRefCounted<CConsoleObject> {
public:
    explicit CConsoleObject(IConsoleSite* site) : m_pSite(site) {}
    CConsoleObject(const CConsoleObject&) = delete;
    CConsoleObject& operator=(const CConsoleObject&) = delete;
    void Detach() { m_pSite = nullptr; }
    ULONG RefCount() const { return CRefCounted::RefCount(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // IConsole
    HRESULT STDMETHODCALLTYPE SetHeader(IHeaderCtrl* header) override;
    HRESULT STDMETHODCALLTYPE SetToolbar(ConsoleToolbar toolbar) override;
    HRESULT STDMETHODCALLTYPE QueryResultView(IUnknown** unknown) override;
    HRESULT STDMETHODCALLTYPE QueryScopeImageList(IImageList** imageList) override;
    HRESULT STDMETHODCALLTYPE QueryResultImageList(IImageList** imageList) override;
    HRESULT STDMETHODCALLTYPE UpdateAllViews(IDataObject* data, LPARAM arg, LONG_PTR hint) override;
    HRESULT STDMETHODCALLTYPE MessageBox(LPCOLESTR text, LPCOLESTR title, UINT style, int* result) override;
    HRESULT STDMETHODCALLTYPE QueryConsoleVerb(IConsoleVerb** verb) override;
    HRESULT STDMETHODCALLTYPE SelectScopeItem(HSCOPEITEM hScopeItem) override;
    HRESULT STDMETHODCALLTYPE GetMainWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE NewWindow(HSCOPEITEM hScopeItem, DWORD options) override;

    // IConsoleNameSpace2
    HRESULT STDMETHODCALLTYPE InsertItem(LPSCOPEDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE DeleteItem(HSCOPEITEM hItem, long fDeleteThis) override;
    HRESULT STDMETHODCALLTYPE SetItem(LPSCOPEDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetItem(LPSCOPEDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie) override;
    HRESULT STDMETHODCALLTYPE GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie) override;
    HRESULT STDMETHODCALLTYPE GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie) override;
    HRESULT STDMETHODCALLTYPE Expand(HSCOPEITEM hItem) override;
    HRESULT STDMETHODCALLTYPE AddExtension(HSCOPEITEM hItem, ConsoleExtension extension) override;

    // IHeaderCtrl
    HRESULT STDMETHODCALLTYPE InsertColumn(int nCol, LPCOLESTR title, int nFormat, int nWidth) override;
    HRESULT STDMETHODCALLTYPE DeleteColumn(int nCol) override;
    HRESULT STDMETHODCALLTYPE SetColumnText(int nCol, LPCOLESTR title) override;
    HRESULT STDMETHODCALLTYPE GetColumnText(int nCol, LPOLESTR* title) override;
    HRESULT STDMETHODCALLTYPE SetColumnWidth(int nCol, int nWidth) override;
    HRESULT STDMETHODCALLTYPE GetColumnWidth(int nCol, int* pWidth) override;

    // IResultData
    HRESULT STDMETHODCALLTYPE InsertItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE DeleteItem(HRESULTITEM itemID, int nCol) override;
    HRESULT STDMETHODCALLTYPE FindItemByLParam(LPARAM lParam, HRESULTITEM* itemID) override;
    HRESULT STDMETHODCALLTYPE DeleteAllRsltItems() override;
    HRESULT STDMETHODCALLTYPE SetItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetNextItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE ModifyItemState(int nIndex, HRESULTITEM itemID, UINT uAdd, UINT uRemove) override;
    HRESULT STDMETHODCALLTYPE ModifyViewStyle(ConsoleViewStyle add, ConsoleViewStyle remove) override;
    HRESULT STDMETHODCALLTYPE SetViewMode(long mode) override;
    HRESULT STDMETHODCALLTYPE GetViewMode(long* mode) override;
    HRESULT STDMETHODCALLTYPE UpdateItem(HRESULTITEM itemID) override;
    HRESULT STDMETHODCALLTYPE Sort(int nColumn, DWORD dwSortOptions, LPARAM lUserParam) override;
    HRESULT STDMETHODCALLTYPE SetDescBarText(LPOLESTR text) override;
    HRESULT STDMETHODCALLTYPE SetItemCount(int nItemCount, DWORD dwOptions) override;

protected:
    friend class CRefCounted<CConsoleObject>;
    virtual ~CConsoleObject() = default;
    IConsoleSite* Site() const { return m_pSite; }

private:
    IConsoleSite* m_pSite;
    long m_nViewMode = 0;
};

#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif
