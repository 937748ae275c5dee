#include "console/menu_collector.h"

#include "console/scope_tree.h"

namespace {
// A menu of more items than this is not a menu a person can use.
constexpr std::size_t kMaxMenuItems = 256;
}

MenuItemView MenuItemOf(const CONTEXTMENUITEM& item)
{
    MenuItemView view;
    view.commandId = item.lCommandID;
    view.insertionPoint = item.lInsertionPointID;
    view.flags = item.fFlags;
    view.specialFlags = item.fSpecialFlags;
    view.separator = (item.fFlags & MF_SEPARATOR) != 0 || (item.fSpecialFlags & CCM_SPECIAL_SEPARATOR) != 0;
    view.checked = (item.fFlags & MF_CHECKED) != 0;
    view.grayed = (item.fFlags & MF_GRAYED) != 0;
    if (!view.separator) {
        view.name = SnapinText(item.strName);
        view.statusText = SnapinText(item.strStatusBarText);
    }
    return view;
}

HRESULT CMenuCollector::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IContextMenuCallback)
        return HandOut(static_cast<IContextMenuCallback*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CMenuCollector::AddItem(CONTEXTMENUITEM* item)
{
    if (item == nullptr) return E_POINTER;
    return ComBoundary([&]() -> HRESULT {
        if (m_items.size() >= kMaxMenuItems) return E_FAIL;
        m_items.push_back(MenuItemOf(*item));
        return S_OK;
    });
}
