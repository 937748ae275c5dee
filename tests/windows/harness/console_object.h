// The console as the snap-in reaches it: IConsole2 with the name space, the
// header control and the result data, all on the console's one scope tree
// and result list. Calls that need the console's own behaviour (expanding,
// selecting) go to its session.
#pragma once

#include "com_ref.h"
#include "console_parts.h"
#include "scope_items.h"

class ConsoleSession;

// The SDK's interfaces have no virtual destructors: these objects are
// deleted only through their own type, at their last Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class ConsoleObject final : public IConsole2,
                            public IConsoleNameSpace2,
                            public IHeaderCtrl,
                            public IResultData,
                            public RefCounted<ConsoleObject> {
public:
    ConsoleObject(ConsoleSession& session, ScopeItems& scope, ResultList& result, ComPtr<ConsoleVerb> verb,
                  ComPtr<ImageList> scopeImages, ComPtr<ImageList> resultImages, HWND mainWindow);
    // The session is going away: every later call fails.
    void Detach() { m_session = nullptr; }
    const std::wstring& StatusText() const { return m_statusText; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // IConsole, IConsole2
    HRESULT STDMETHODCALLTYPE SetHeader(IHeaderCtrl* header) override;
    HRESULT STDMETHODCALLTYPE SetToolbar(IToolbar* toolbar) override;
    HRESULT STDMETHODCALLTYPE QueryResultView(IUnknown** unknown) override;
    HRESULT STDMETHODCALLTYPE QueryScopeImageList(IImageList** images) override;
    HRESULT STDMETHODCALLTYPE QueryResultImageList(IImageList** images) override;
    HRESULT STDMETHODCALLTYPE UpdateAllViews(IDataObject* data, LPARAM arg, LONG_PTR hint) override;
    HRESULT STDMETHODCALLTYPE MessageBox(LPCWSTR text, LPCWSTR title, UINT style, int* result) override;
    HRESULT STDMETHODCALLTYPE QueryConsoleVerb(IConsoleVerb** verb) override;
    HRESULT STDMETHODCALLTYPE SelectScopeItem(HSCOPEITEM item) override;
    HRESULT STDMETHODCALLTYPE GetMainWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE NewWindow(HSCOPEITEM item, ULONG options) override;
    HRESULT STDMETHODCALLTYPE Expand(HSCOPEITEM item, BOOL expand) override;
    HRESULT STDMETHODCALLTYPE IsTaskpadViewPreferred() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPOLESTR text) override;

    // IConsoleNameSpace, IConsoleNameSpace2
    HRESULT STDMETHODCALLTYPE InsertItem(LPSCOPEDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE DeleteItem(HSCOPEITEM item, LONG deleteThis) override;
    HRESULT STDMETHODCALLTYPE SetItem(LPSCOPEDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetItem(LPSCOPEDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie) override;
    HRESULT STDMETHODCALLTYPE GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie) override;
    HRESULT STDMETHODCALLTYPE GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie) override;
    HRESULT STDMETHODCALLTYPE Expand(HSCOPEITEM item) override;
    HRESULT STDMETHODCALLTYPE AddExtension(HSCOPEITEM item, LPCLSID extension) override;

    // IHeaderCtrl
    HRESULT STDMETHODCALLTYPE InsertColumn(int column, LPCWSTR title, int format, int width) override;
    HRESULT STDMETHODCALLTYPE DeleteColumn(int column) override;
    HRESULT STDMETHODCALLTYPE SetColumnText(int column, LPCWSTR title) override;
    HRESULT STDMETHODCALLTYPE GetColumnText(int column, LPOLESTR* title) override;
    HRESULT STDMETHODCALLTYPE SetColumnWidth(int column, int width) override;
    HRESULT STDMETHODCALLTYPE GetColumnWidth(int column, int* width) override;

    // IResultData
    HRESULT STDMETHODCALLTYPE InsertItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE DeleteItem(HRESULTITEM item, int column) override;
    HRESULT STDMETHODCALLTYPE FindItemByLParam(LPARAM lParam, HRESULTITEM* item) override;
    HRESULT STDMETHODCALLTYPE DeleteAllRsltItems() override;
    HRESULT STDMETHODCALLTYPE SetItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE GetNextItem(LPRESULTDATAITEM item) override;
    HRESULT STDMETHODCALLTYPE ModifyItemState(int index, HRESULTITEM item, UINT add, UINT remove) override;
    HRESULT STDMETHODCALLTYPE ModifyViewStyle(MMC_RESULT_VIEW_STYLE add, MMC_RESULT_VIEW_STYLE remove) override;
    HRESULT STDMETHODCALLTYPE SetViewMode(LONG mode) override;
    HRESULT STDMETHODCALLTYPE GetViewMode(LONG* mode) override;
    HRESULT STDMETHODCALLTYPE UpdateItem(HRESULTITEM item) override;
    HRESULT STDMETHODCALLTYPE Sort(int column, DWORD options, LPARAM user) override;
    HRESULT STDMETHODCALLTYPE SetDescBarText(LPOLESTR text) override;
    HRESULT STDMETHODCALLTYPE SetItemCount(int count, DWORD options) override;

private:
    ConsoleSession* m_session;
    ScopeItems& m_scope;
    ResultList& m_result;
    ComPtr<ConsoleVerb> m_verb;
    ComPtr<ImageList> m_scopeImages;
    ComPtr<ImageList> m_resultImages;
    HWND m_mainWindow;
    std::wstring m_statusText;
    LONG m_viewMode = 0;
};

#pragma GCC diagnostic pop
