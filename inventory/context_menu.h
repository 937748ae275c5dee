// Adding a node's context-menu items from a string list of name and
// status-text pairs.
#pragma once

#include <string>
#include <vector>

#include "platform/console.h"

struct SMenuItem {
    int pairIndex;  // which name/status pair of the list; -1 for a separator
    long commandId;
    long flags;
};

// Adds the items in order to the primary top insertion point, stopping at
// the first failing add; returns the result of the last add (S_OK when
// nothing was added).
HRESULT AddMenuItemList(IContextMenuCallback* callback, const std::vector<std::u16string>& texts,
                        const std::vector<SMenuItem>& items);

// Whether a node's menu is offered at all: once it was expanded, and only
// where the console allows the top insertion point.
inline bool MenuAllowed(bool expanded, long insertionAllowed)
{
    return expanded && (insertionAllowed & CCM_INSERTIONALLOWED_TOP) != 0;
}
