#include "inventory/context_menu.h"

HRESULT AddMenuItemList(IContextMenuCallback* callback, const std::vector<std::u16string>& texts,
                        const std::vector<SMenuItem>& items)
{
    if (callback == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    for (const SMenuItem& entry : items) {
        std::u16string name;
        std::u16string status;
        CONTEXTMENUITEM item{};
        item.lCommandID = entry.commandId;
        item.lInsertionPointID = CCM_INSERTIONPOINTID_PRIMARY_TOP;
        item.fFlags = entry.flags;
        if (entry.pairIndex < 0) {
            item.fSpecialFlags = CCM_SPECIAL_SEPARATOR;
        } else {
            const std::size_t at = static_cast<std::size_t>(entry.pairIndex) * 2;
            if (at < texts.size()) name = texts[at];
            if (at + 1 < texts.size()) status = texts[at + 1];
            item.strName = OleBuffer(name);
            item.strStatusBarText = OleBuffer(status);
        }
        hr = callback->AddItem(&item);
        if (FAILED(hr)) break;
    }
    return hr;
}
