#include "tests/support/fake_console.h"

#include "platform/ui.h"

namespace {

std::atomic<long> g_nLiveConsoles{0};

// Counts a call and tells whether it is the one chosen to fail.
bool FailsNow(std::size_t& calls, const std::optional<std::size_t>& failAt)
{
    const std::size_t call = calls++;
    return failAt && *failAt == call;
}

}  // namespace

com_ptr<CFakeConsole> CFakeConsole::Create() { return com_ptr<CFakeConsole>::attach(new CFakeConsole()); }

long CFakeConsole::LiveCount() { return g_nLiveConsoles.load(); }

CFakeConsole::CFakeConsole() : CConsoleObject(this)
{
    ++g_nLiveConsoles;
    m_root = m_tree.AddStatic(0);
}

CFakeConsole::~CFakeConsole() { --g_nLiveConsoles; }

HSCOPEITEM CFakeConsole::AddStaticItem(LPARAM lParam, HSCOPEITEM parent, int cChildren)
{
    SCOPEDATAITEM item{};
    item.mask = SDI_PARAM | SDI_CHILDREN;
    item.relativeID = parent != 0 ? parent : m_root;
    item.lParam = lParam;
    item.cChildren = cChildren;
    return SUCCEEDED(m_tree.Insert(item)) ? item.ID : 0;
}

std::vector<CFakeConsole::ScopeItem> CFakeConsole::ScopeChildren(HSCOPEITEM parent) const
{
    std::vector<ScopeItem> children;
    if (const ScopeItem* found = m_tree.Find(parent))
        for (HSCOPEITEM child : found->children) children.push_back(*m_tree.Find(child));
    return children;
}

// --- IUnknown ---------------------------------------------------------------

HRESULT CFakeConsole::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (m_failQuery.count(GuidToAnsi(riid)) != 0) return E_NOINTERFACE;
    if (riid == IID_IConsoleVerb) return HandOut(static_cast<IConsoleVerb*>(this), ppv);
    if (riid == IID_IContextMenuCallback) return HandOut(static_cast<IContextMenuCallback*>(this), ppv);
    if (riid == IID_IImageList) return HandOut(static_cast<IImageList*>(&m_resultImages), ppv);
    return CConsoleObject::QueryInterface(riid, ppv);
}

HRESULT CFakeConsole::CRecordingImages::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IImageList) return HandOut(static_cast<IImageList*>(this), ppv);
    return m_owner.QueryInterface(riid, ppv);
}

HRESULT CFakeConsole::CRecordingImages::ImageListSetIcon(LONG_PTR* pIcon, long) { return pIcon != nullptr ? S_OK : E_POINTER; }

HRESULT CFakeConsole::CRecordingImages::ImageListSetStrip(LONG_PTR* pBMapSm, LONG_PTR* pBMapLg, long nStartLoc,
                                                          COLORREF cMask)
{
    if (pBMapSm == nullptr || pBMapLg == nullptr) return E_POINTER;
    m_owner.m_imageStrips.push_back({m_kind, pBMapSm, pBMapLg, nStartLoc, cMask});
    return S_OK;
}

// --- Calls recorded or made to fail ------------------------------------------

HRESULT CFakeConsole::QueryResultView(IUnknown** unknown)
{
    if (unknown == nullptr) return E_POINTER;
    return HandOut(static_cast<IConsole*>(this), reinterpret_cast<void**>(unknown));
}

HRESULT CFakeConsole::UpdateAllViews(IDataObject*, LPARAM, LONG_PTR) { return S_OK; }

HRESULT CFakeConsole::InsertItem(LPSCOPEDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    if (FailsNow(m_nScopeInsertCalls, m_failScopeInsertAt)) return E_FAIL;
    return CConsoleObject::InsertItem(item);
}

HRESULT CFakeConsole::DeleteItem(HSCOPEITEM hItem, long fDeleteThis)
{
    const std::size_t before = m_tree.Count();
    const HRESULT hr = CConsoleObject::DeleteItem(hItem, fDeleteThis);
    if (SUCCEEDED(hr)) m_scopeDeletions.push_back({hItem, fDeleteThis != 0, before - m_tree.Count()});
    return hr;
}

HRESULT CFakeConsole::InsertColumn(int nCol, LPCOLESTR title, int nFormat, int nWidth)
{
    if (FailsNow(m_nColumnInsertCalls, m_failColumnInsertAt)) return E_FAIL;
    const HRESULT hr = CConsoleObject::InsertColumn(nCol, title, nFormat, nWidth);
    if (SUCCEEDED(hr)) m_columnInsertions.push_back(*m_pane.Column(nCol));
    return hr;
}

HRESULT CFakeConsole::InsertItem(LPRESULTDATAITEM item)
{
    if (item == nullptr) return E_POINTER;
    if (FailsNow(m_nResultInsertCalls, m_failResultInsertAt)) return E_FAIL;
    return CConsoleObject::InsertItem(item);
}

HRESULT CFakeConsole::DeleteAllRsltItems()
{
    ++m_nDeleteAll;
    return CConsoleObject::DeleteAllRsltItems();
}

// --- IConsoleVerb -----------------------------------------------------------

bool CFakeConsole::VerbState(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const
{
    const auto it = m_verbStates.find({verb, state});
    return it != m_verbStates.end() && it->second != FALSE;
}

bool CFakeConsole::WasVerbSet(MMC_CONSOLE_VERB verb, MMC_BUTTON_STATE state) const
{
    return m_verbStates.count({verb, state}) != 0;
}

HRESULT CFakeConsole::GetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL* pState)
{
    if (pState == nullptr) return E_POINTER;
    *pState = VerbState(eCmdID, nState) ? TRUE : FALSE;
    return S_OK;
}

HRESULT CFakeConsole::SetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL bState)
{
    m_verbStates[{eCmdID, nState}] = bState;
    return S_OK;
}

HRESULT CFakeConsole::SetDefaultVerb(MMC_CONSOLE_VERB eCmdID)
{
    m_defaultVerb = eCmdID;
    return S_OK;
}

HRESULT CFakeConsole::GetDefaultVerb(MMC_CONSOLE_VERB* peCmdID)
{
    if (peCmdID == nullptr) return E_POINTER;
    *peCmdID = m_defaultVerb;
    return S_OK;
}

// --- IContextMenuCallback ---------------------------------------------------

HRESULT CFakeConsole::AddItem(CONTEXTMENUITEM* item)
{
    if (item == nullptr) return E_POINTER;
    if (FailsNow(m_nAddItemCalls, m_failMenuAt)) return E_FAIL;
    m_menuItems.push_back(MenuItemOf(*item));
    return S_OK;
}

// --- The site of the console object ------------------------------------------

void CFakeConsole::ScopeInserted(HSCOPEITEM item) { m_scopeInsertions.push_back(*m_tree.Find(item)); }

HRESULT CFakeConsole::ExpandFromSnapin(HSCOPEITEM item)
{
    if (!HasScopeItem(item)) return E_INVALIDARG;
    m_expandRequests.push_back(item);
    return S_OK;
}

HRESULT CFakeConsole::SelectFromSnapin(HSCOPEITEM item)
{
    return HasScopeItem(item) ? S_OK : E_INVALIDARG;
}

HRESULT CFakeConsole::ScopeImageList(IImageList** images)
{
    return HandOut(static_cast<IImageList*>(&m_scopeImages), reinterpret_cast<void**>(images));
}

HRESULT CFakeConsole::ResultImageList(IImageList** images)
{
    return HandOut(static_cast<IImageList*>(&m_resultImages), reinterpret_cast<void**>(images));
}

HRESULT CFakeConsole::ConsoleVerb(IConsoleVerb** verb)
{
    return HandOut(static_cast<IConsoleVerb*>(this), reinterpret_cast<void**>(verb));
}

int CFakeConsole::MessageBoxFromSnapin(LPCOLESTR text, LPCOLESTR title, UINT style)
{
    m_messages.push_back({std::u16string(OleView(text)), std::u16string(OleView(title)), style});
    return IDOK;
}
