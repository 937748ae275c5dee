// The platform's user interface on the terminal: modal dialogs as forms,
// message boxes, the modeless progress window, and the pop-ups the face
// itself needs (menus, help). Everything is drawn over whatever the main
// window paints.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console/host_core.h"
#include "console/tui/tui_curses.h"
#include "console/tui/tui_form.h"
#include "platform/ui.h"

namespace fdx::tui {

class CTuiUserInterface : public IUserInterface {
public:
    explicit CTuiUserInterface(CScreen& screen);
    ~CTuiUserInterface() override;
    CTuiUserInterface(const CTuiUserInterface&) = delete;
    CTuiUserInterface& operator=(const CTuiUserInterface&) = delete;

    // Paints the main window into the standard screen (without refreshing);
    // dialogs and the progress window are drawn over it.
    void SetBackground(std::function<void()> paint) { m_paint = std::move(paint); }
    // The console file open: its main password is asked for by its name.
    void SetConsoleFile(std::string file) { m_consoleFile = std::move(file); }

    int DoModal(HWND owner, DialogState& dialog) override;
    int ShowMessage(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override;
    HWND CreateProgress(HWND parent, const DialogState& dialog) override;
    void SetProgressText(HWND window, int controlId, std::u16string_view text) override;
    void DestroyProgress(HWND window) override;
    HWND ActiveWindow() override;

    // Runs a form until it ends; returns its result.
    int RunForm(CForm& form);
    // A pop-up menu with its top-left corner near (row, column); returns the
    // index of the chosen item or -1. `highlight` reports the highlighted
    // item (for its status text).
    int RunMenu(const std::vector<MenuItemView>& items, int row, int column,
                const std::function<void(const MenuItemView*)>& highlight);
    // A box of lines that any key closes.
    void ShowText(std::wstring_view title, const std::vector<std::wstring>& lines);
    // Paints the background and the open progress windows, and shows them.
    void Repaint();

private:
    struct Progress;
    void PaintBackground();
    void DrawForm(const CForm& form, WindowPtr& window, bool withCursor);

    CScreen& m_screen;
    std::function<void()> m_paint;
    std::vector<std::unique_ptr<Progress>> m_progress;
    std::string m_consoleFile;
    std::uintptr_t m_nextWindow = 0x100;
};

}  // namespace fdx::tui
