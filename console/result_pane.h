// The console's result pane as a list: columns from the header control and
// items from the result data interface, as the snap-in inserts them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/console.h"

struct CResultColumn {
    int index = 0;
    std::u16string title;
    int format = LVCFMT_LEFT;
    int width = 0;
};

struct CResultItem {
    HRESULTITEM itemID = 0;
    DWORD mask = 0;  // the fields the snap-in gave (RDI_...)
    LPARAM lParam = 0;
    bool bScopeItem = false;
    bool textByCallback = true;
    std::u16string text;  // when the snap-in gave a text of its own
    int nImage = -1;
};

class CResultPane {
public:
    // Empties the list and its header, as a new selection does.
    void Reset();

    HRESULT InsertColumn(int index, LPCOLESTR title, int format, int width);
    HRESULT DeleteColumn(int index);
    HRESULT SetColumnText(int index, LPCOLESTR title);
    HRESULT SetColumnWidth(int index, int width);
    const CResultColumn* Column(int index) const;
    // Columns in index order.
    std::vector<CResultColumn> Columns() const;

    HRESULT InsertItem(RESULTDATAITEM& item);
    HRESULT DeleteItem(HRESULTITEM itemID);
    HRESULT DeleteAll();
    HRESULT FindByParam(LPARAM lParam, HRESULTITEM& itemID) const;
    CResultItem* Find(HRESULTITEM itemID);
    const std::vector<CResultItem>& Items() const { return m_items; }

private:
    std::map<int, CResultColumn> m_columns;
    std::vector<CResultItem> m_items;
    HRESULTITEM m_nextId = 1;
};
