#include "platform/ui.h"

#include <atomic>
#include <cstdio>

#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

std::atomic<IUserInterface*> g_ui{nullptr};

// Stand-in window tokens for calls made while no user interface is installed.
WindowObject* const kDesktopWindow = reinterpret_cast<WindowObject*>(std::uintptr_t{1});
WindowObject* const kHeadlessWindow = reinterpret_cast<WindowObject*>(std::uintptr_t{2});

}  // namespace

IUserInterface* SetUserInterface(IUserInterface* ui) { return g_ui.exchange(ui); }
IUserInterface* GetUserInterface() { return g_ui.load(); }

int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type)
{
    if (IUserInterface* ui = g_ui.load()) return ui->ShowMessage(owner, text, caption, type);
    std::fprintf(stderr, "%s: %s\n", TerminalText(caption).c_str(), TerminalText(text, ELineFeeds::Kept).c_str());
    switch (type & MB_TYPEMASK) {
    case MB_YESNO: return IDNO;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL: return IDCANCEL;
    default: return IDOK;
    }
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBox(owner, AnsiToWide(text ? text : ""), AnsiToWide(caption ? caption : ""), type);
}

int DialogBoxParam(HINSTANCE module, int templateId, HWND owner, DialogState& dialog)
{
    if (!LoadDialogTemplate(module, templateId, dialog.tmpl)) return IDCANCEL;
    for (auto& control : dialog.tmpl.controls)
        if (auto shown = dialog.shown.find(control.id); shown != dialog.shown.end()) control.visible = shown->second;
    if (dialog.title.empty()) dialog.title = dialog.tmpl.title;
    for (const auto& control : dialog.tmpl.controls) dialog.texts.try_emplace(control.id, control.text);
    IUserInterface* ui = g_ui.load();
    return ui != nullptr ? ui->DoModal(owner, dialog) : IDCANCEL;
}

HWND CreateDialogWindow(HINSTANCE module, int templateId, HWND parent)
{
    DialogState dialog;
    if (!LoadDialogTemplate(module, templateId, dialog.tmpl)) return nullptr;
    dialog.title = dialog.tmpl.title;
    for (const auto& control : dialog.tmpl.controls) dialog.texts.emplace(control.id, control.text);
    IUserInterface* ui = g_ui.load();
    return ui != nullptr ? ui->CreateProgress(parent, dialog) : kHeadlessWindow;
}

void SetDlgItemText(HWND window, int controlId, std::u16string_view text)
{
    if (IUserInterface* ui = g_ui.load(); ui != nullptr && window != nullptr && window != kHeadlessWindow)
        ui->SetProgressText(window, controlId, text);
}

BOOL DestroyWindow(HWND window)
{
    if (window == nullptr) return 0;
    if (IUserInterface* ui = g_ui.load(); ui != nullptr && window != kHeadlessWindow) ui->DestroyProgress(window);
    return 1;
}

HWND GetActiveWindow()
{
    IUserInterface* ui = g_ui.load();
    return ui != nullptr ? ui->ActiveWindow() : nullptr;
}

HWND GetDesktopWindow() { return kDesktopWindow; }
