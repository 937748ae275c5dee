// The console's side of a context menu: collects the items the snap-in adds.
#pragma once

#include <vector>

#include "platform/com_object.h"
#include "console/host_core.h"
#include "platform/console.h"

class CMenuCollector final : public IContextMenuCallback, private CRefCounted<CMenuCollector> {
public:
    CMenuCollector() = default;

    const std::vector<MenuItemView>& Items() const { return m_items; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return AddRefImpl(); }
    ULONG Release() override { return ReleaseImpl(); }

    HRESULT AddItem(CONTEXTMENUITEM* item) override;

private:
    friend class CRefCounted<CMenuCollector>;
    ~CMenuCollector() = default;

    std::vector<MenuItemView> m_items;
};
