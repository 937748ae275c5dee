// The console's scope tree: items with handles, parents, the snap-in's
// parameter, images, child counts and expand state, in insertion order.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/console.h"

// The longest text of the snap-in's that the console keeps (an item's
// name, a column title); the rest is cut off.
constexpr std::size_t kMaxSnapinText = 4096;
// A text the snap-in hands the console, read up to its end or
// kMaxSnapinText units, whichever comes first; empty for null and for the
// callback marker.
std::u16string SnapinText(LPCOLESTR text);

struct CScopeItem {
    HSCOPEITEM handle = 0;
    HSCOPEITEM parent = 0;  // 0 for a static node
    std::vector<HSCOPEITEM> children;
    std::size_t instance = 0;  // the snap-in instance the item belongs to
    LPARAM lParam = 0;
    bool textByCallback = true;
    std::u16string text;  // when the snap-in gave a text of its own
    int nImage = -1;
    int nOpenImage = -1;
    int cChildren = 0;
    bool isStatic = false;
    bool expanded = false;  // children shown
    bool notified = false;  // the snap-in was told of its expansion
};

class CScopeTree {
public:
    // A snap-in instance's static node (cookie 0), at the top of the tree.
    HSCOPEITEM AddStatic(std::size_t instance);
    // Inserts an item as IConsoleNameSpace::InsertItem describes: under
    // relativeID (SDI_PARENT), or before/after a sibling (SDI_PREVIOUS,
    // SDI_NEXT), first among its siblings with SDI_FIRST. Sets item.ID.
    HRESULT Insert(SCOPEDATAITEM& item);
    // Removes an item's children, and the item too when `itself`; returns
    // every handle removed, children before their parents.
    std::vector<HSCOPEITEM> Delete(HSCOPEITEM handle, bool itself);
    HRESULT SetItem(const SCOPEDATAITEM& item);
    HRESULT GetItem(SCOPEDATAITEM& item) const;

    CScopeItem* Find(HSCOPEITEM handle);
    const CScopeItem* Find(HSCOPEITEM handle) const;
    const std::vector<HSCOPEITEM>& Statics() const { return m_statics; }
    // The item after `handle` among its siblings, 0 when last.
    HSCOPEITEM NextSibling(HSCOPEITEM handle) const;
    std::size_t Count() const { return m_items.size(); }

private:
    HSCOPEITEM NewHandle() { return m_nextHandle++; }

    std::map<HSCOPEITEM, CScopeItem> m_items;
    std::vector<HSCOPEITEM> m_statics;
    HSCOPEITEM m_nextHandle = 0x100;
};
