// The user interface through the system's windows: message boxes, modal
// dialogs and the modeless progress window built from this system's dialog
// descriptions. A thread that installs its own implementation (a worker
// with nobody to answer) gets that one instead.
#include "platform/ui.h"

#include "platform/windows/dialog_template.h"
#include "platform/windows/wide.h"

namespace {

thread_local IUserInterface* t_ui = nullptr;

// Applies what the caller asked for over the template's defaults.
void PrepareState(HINSTANCE module, int templateId, DialogState& dialog, bool& loaded)
{
    loaded = LoadDialogTemplate(module, templateId, dialog.tmpl);
    if (!loaded) return;
    for (auto& control : dialog.tmpl.controls)
        if (auto shown = dialog.shown.find(control.id); shown != dialog.shown.end()) control.visible = shown->second;
    if (dialog.title.empty()) dialog.title = dialog.tmpl.title;
    for (const auto& control : dialog.tmpl.controls) dialog.texts.try_emplace(control.id, control.text);
}

void FillDialog(HWND window, const DialogState& dialog)
{
    ::SetWindowTextW(window, Wide(dialog.title).c_str());
    for (const auto& [id, text] : dialog.texts) ::SetDlgItemTextW(window, id, Wide(text).c_str());
    for (const auto& [id, checked] : dialog.checks) ::CheckDlgButton(window, id, checked ? BST_CHECKED : BST_UNCHECKED);
    for (const auto& control : dialog.tmpl.controls)
        if (control.limit > 0) ::SendDlgItemMessageW(window, control.id, EM_LIMITTEXT, control.limit, 0);
}

// Reads what the user left in the dialog; the copies of typed text are wiped.
void ReadBack(HWND window, DialogState& dialog)
{
    for (const auto& control : dialog.tmpl.controls) {
        if (control.kind == "check") {
            dialog.checks[control.id] = ::IsDlgButtonChecked(window, control.id) == BST_CHECKED ? 1 : 0;
        } else if (IsTextField(control.kind)) {
            const int length = ::GetWindowTextLengthW(::GetDlgItem(window, control.id));
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            const int got = ::GetDlgItemTextW(window, control.id, text.data(), length + 1);
            dialog.texts[control.id] = FromWide(std::wstring_view(text.data(), static_cast<std::size_t>(got)));
            ::SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
        }
    }
}

INT_PTR CALLBACK ModalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* dialog = reinterpret_cast<DialogState*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        FillDialog(window, *dialog);
        for (const auto& control : dialog->tmpl.controls)
            if (control.focus && control.visible) {
                ::SetFocus(::GetDlgItem(window, control.id));
                return FALSE;
            }
        return TRUE;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id != IDOK && id != IDCANCEL) return FALSE;
        auto* dialog = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(window, DWLP_USER));
        if (id == IDOK && dialog != nullptr) ReadBack(window, *dialog);
        ::EndDialog(window, id);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK ProgressProc(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        FillDialog(window, *reinterpret_cast<const DialogState*>(lParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

IUserInterface* SetUserInterface(IUserInterface* ui) { return std::exchange(t_ui, ui); }
IUserInterface* GetUserInterface() { return t_ui; }

int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type)
{
    if (t_ui != nullptr) return t_ui->ShowMessage(owner, text, caption, type);
    return ::MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), type);
}

int DialogBoxParam(HINSTANCE module, int templateId, HWND owner, DialogState& dialog)
{
    bool loaded = false;
    PrepareState(module, templateId, dialog, loaded);
    if (!loaded) return IDCANCEL;
    if (t_ui != nullptr) return t_ui->DoModal(owner, dialog);
    const std::vector<WORD> layout = BuildDialogTemplate(dialog.tmpl, false);
    const INT_PTR result = ::DialogBoxIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(layout.data()), owner,
                                                     &ModalProc, reinterpret_cast<LPARAM>(&dialog));
    return result == IDOK ? IDOK : IDCANCEL;
}

HWND CreateDialogWindow(HINSTANCE module, int templateId, HWND parent)
{
    DialogState dialog;
    bool loaded = false;
    PrepareState(module, templateId, dialog, loaded);
    if (!loaded) return nullptr;
    if (t_ui != nullptr) return t_ui->CreateProgress(parent, dialog);
    const std::vector<WORD> layout = BuildDialogTemplate(dialog.tmpl, true);
    return ::CreateDialogIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(layout.data()), parent, &ProgressProc,
                                        reinterpret_cast<LPARAM>(&dialog));
}

void SetDlgItemText(HWND window, int controlId, std::u16string_view text)
{
    if (t_ui != nullptr) {
        if (window != nullptr) t_ui->SetProgressText(window, controlId, text);
        return;
    }
    ::SetDlgItemTextW(window, controlId, Wide(text).c_str());
    // Nobody pumps messages while the work goes on: the change is drawn now.
    ::UpdateWindow(window);
}
