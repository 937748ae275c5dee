// The console's scope tree and result list as the snap-in fills them
// through the name space, the header control and the result data.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mmc.h>

#include <map>
#include <string>
#include <vector>

// The console's "ask me later" text marker (the SDK declares it with
// another character type).
inline LPOLESTR const kTextCallback = reinterpret_cast<LPOLESTR>(static_cast<INT_PTR>(-1));

struct ScopeItem {
    HSCOPEITEM handle = 0;
    HSCOPEITEM parent = 0;  // 0 for the static node
    std::vector<HSCOPEITEM> children;
    LPARAM lParam = 0;
    bool textByCallback = true;
    std::wstring text;
    int image = -1;
    int openImage = -1;
    int cChildren = 0;
    bool expanded = false;  // the snap-in was told
};

class ScopeItems {
public:
    // The static node of the snap-in; cookie 0.
    HSCOPEITEM AddStatic();
    // InsertItem: under relativeID, or beside it with SDI_PREVIOUS/SDI_NEXT,
    // first with SDI_FIRST. Sets item.ID.
    HRESULT Insert(SCOPEDATAITEM& item);
    // The item's children, and the item itself when `itself`.
    HRESULT Delete(HSCOPEITEM handle, bool itself);
    HRESULT Set(const SCOPEDATAITEM& item);
    HRESULT Get(SCOPEDATAITEM& item) const;
    ScopeItem* Find(HSCOPEITEM handle);
    const ScopeItem* Find(HSCOPEITEM handle) const;
    HSCOPEITEM NextSibling(HSCOPEITEM handle) const;
    HSCOPEITEM Root() const { return m_root; }
    void Clear();

private:
    std::map<HSCOPEITEM, ScopeItem> m_items;
    HSCOPEITEM m_root = 0;
    HSCOPEITEM m_next = 0x100;
};

struct ResultColumn {
    std::wstring title;
    int format = 0;
    int width = 0;
};

struct ResultItem {
    HRESULTITEM id = 0;
    LPARAM lParam = 0;
    bool scopeItem = false;
    bool textByCallback = true;
    std::wstring text;
    int image = -1;
};

struct ResultList {
    std::map<int, ResultColumn> columns;
    std::vector<ResultItem> items;
    HRESULTITEM nextId = 1;
    std::wstring descriptionBar;

    void Clear()
    {
        columns.clear();
        items.clear();
        descriptionBar.clear();
    }
    ResultItem* Find(HRESULTITEM id);
};
