// What the console's COM objects need from the host behind them: the scope
// tree and result pane they change, and the host's reactions to changes.
#pragma once

#include <vector>

#include "console/result_pane.h"
#include "console/scope_tree.h"
#include "platform/console.h"

class IConsoleSite {
public:
    virtual CScopeTree& ScopeTree() = 0;
    virtual CResultPane& ResultPane() = 0;
    virtual void ScopeInserted(HSCOPEITEM item) = 0;
    // The handles removed, children before parents.
    virtual void ScopeDeleted(const std::vector<HSCOPEITEM>& items) = 0;
    virtual void ScopeChanged(HSCOPEITEM item) = 0;
    virtual void ResultChanged() = 0;
    // The snap-in asks the console to expand or select an item.
    virtual HRESULT ExpandFromSnapin(HSCOPEITEM item) = 0;
    virtual HRESULT SelectFromSnapin(HSCOPEITEM item) = 0;
    virtual HRESULT ScopeImageList(IImageList** images) = 0;
    virtual HRESULT ResultImageList(IImageList** images) = 0;
    virtual HRESULT ConsoleVerb(IConsoleVerb** verb) = 0;

protected:
    ~IConsoleSite() = default;
};
