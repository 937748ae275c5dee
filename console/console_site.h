// What the console's COM objects need from the console behind them: the
// scope tree and result pane they change, the console's reactions to
// changes, and the parts of the console a snap-in asks for (image lists,
// verbs, the main window, message boxes). The Linux host, the recording
// console of the tests and the Windows test console each supply one.
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
    // Each hands out one reference.
    virtual HRESULT ScopeImageList(IImageList** images) = 0;
    virtual HRESULT ResultImageList(IImageList** images) = 0;
    virtual HRESULT ConsoleVerb(IConsoleVerb** verb) = 0;
    // The window that owns the snap-in's dialogs and message boxes.
    virtual HWND MainWindow() = 0;
    // Shows a message box for the snap-in; the answer (IDOK, IDYES, ...),
    // 0 when none could be shown.
    virtual int MessageBoxFromSnapin(LPCOLESTR text, LPCOLESTR title, UINT style) = 0;

protected:
    ~IConsoleSite() = default;
};
