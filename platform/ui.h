// The user interface a host supplies: modal dialogs, message boxes, the
// modeless progress window and the active window. Every call the system
// makes goes through the one implementation installed here.
#pragma once

#include <map>
#include <string>

#include "platform/com.h"
#include "platform/gdi.h"
#include "platform/resources.h"

#ifdef _WIN32
#undef MessageBox
#undef DialogBoxParam
#undef SetDlgItemText
#else

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_ICONMASK = 0xF0;
// The second button (No of Yes/No) has the focus first.
constexpr UINT MB_DEFBUTTON2 = 0x100;
// The third button (Cancel of Yes/No/Cancel) has the focus first.
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
#endif

// What a dialog shows and what the user left in it: control texts and check
// states by control id, on the way in and on the way out.
struct DialogState {
    DialogTemplate tmpl;
    std::u16string title;
    std::map<int, std::u16string> texts;
    std::map<int, int> checks;
    // Controls shown or hidden against what the template says, by control id
    // (a dialog that shows a control only in one of its modes).
    std::map<int, bool> shown;
};

class IUserInterface {
public:
    virtual ~IUserInterface() = default;
    // Runs a modal dialog; returns IDOK or IDCANCEL.
    virtual int DoModal(HWND owner, DialogState& dialog) = 0;
    // Shows a message box; returns IDOK, IDCANCEL, IDYES or IDNO.
    virtual int ShowMessage(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) = 0;
    // The modeless progress window.
    virtual HWND CreateProgress(HWND parent, const DialogState& dialog) = 0;
    virtual void SetProgressText(HWND window, int controlId, std::u16string_view text) = 0;
    virtual void DestroyProgress(HWND window) = 0;
    virtual HWND ActiveWindow() = 0;
};

// Installs the implementation (not owned); returns the previous one. Without
// one, dialogs answer Cancel and message boxes write to standard error.
IUserInterface* SetUserInterface(IUserInterface* ui);
IUserInterface* GetUserInterface();

int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type);
#ifndef _WIN32
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
#endif
// Loads template `id` from the module and runs it with the given state.
int DialogBoxParam(HINSTANCE module, int templateId, HWND owner, DialogState& dialog);
HWND CreateDialogWindow(HINSTANCE module, int templateId, HWND parent);
void SetDlgItemText(HWND window, int controlId, std::u16string_view text);
#ifndef _WIN32
BOOL DestroyWindow(HWND window);
HWND GetActiveWindow();
HWND GetDesktopWindow();
#endif
