// The console's side of a context menu: collects the items the snap-in adds.
#pragma once

#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/console.h"

// One item of a node's context menu as the snap-in added it.
struct MenuItemView {
    long commandId = 0;
    std::u16string name;  // empty for a separator
    std::u16string statusText;
    bool separator = false;
    bool checked = false;
    bool grayed = false;
    // As the snap-in gave them.
    long insertionPoint = 0;
    long flags = 0;         // MF_...
    long specialFlags = 0;  // CCM_SPECIAL_...
};

// The console's record of an item the snap-in adds.
MenuItemView MenuItemOf(const CONTEXTMENUITEM& item);

class CMenuCollector final : public IContextMenuCallback, private CRefCounted<CMenuCollector> {
public:
    CMenuCollector() = default;

    const std::vector<MenuItemView>& Items() const { return m_items; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // Fails once the menu holds more items than a person can use.
    HRESULT STDMETHODCALLTYPE AddItem(CONTEXTMENUITEM* item) override;

private:
    friend class CRefCounted<CMenuCollector>;
    ~CMenuCollector() = default;

    std::vector<MenuItemView> m_items;
};
