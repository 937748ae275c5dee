#include "console/tui/tui_ui.h"

#include <algorithm>

#include "console/script_ui.h"
#include "console/tui/tui_text.h"
#include "res/resource_ids.h"

namespace fdx::tui {

namespace {

HWND Token(std::uintptr_t value) { return reinterpret_cast<HWND>(value); }

const HWND kMainWindow = Token(0x10);

attr_t StyleAttributes(FormItemStyle style)
{
    switch (style) {
    case FormItemStyle::Frame: return A_BOLD;
    case FormItemStyle::Input: return A_UNDERLINE;
    case FormItemStyle::InputFocused: return A_REVERSE;
    case FormItemStyle::InputSelected: return A_REVERSE | A_BOLD;
    case FormItemStyle::CheckFocused:
    case FormItemStyle::ButtonFocused: return A_REVERSE | A_BOLD;
    default: return A_NORMAL;
    }
}

}  // namespace

struct CTuiUserInterface::Progress {
    HWND handle;
    CForm form;
    WindowPtr window;
};

CTuiUserInterface::CTuiUserInterface(CScreen& screen) : m_screen(screen) {}

CTuiUserInterface::~CTuiUserInterface() = default;

void CTuiUserInterface::PaintBackground()
{
    if (m_paint) {
        m_paint();
    } else {
        werase(stdscr);
    }
    // What a closed pop-up covered must be drawn again, changed or not.
    touchwin(stdscr);
    wnoutrefresh(stdscr);
    for (auto& p : m_progress) DrawForm(p->form, p->window, false);
}

void CTuiUserInterface::Repaint()
{
    PaintBackground();
    doupdate();
}

void CTuiUserInterface::DrawForm(const CForm& form, WindowPtr& window, bool withCursor)
{
    const FormLayout layout = LayoutForm(form, m_screen.Columns(), m_screen.Ascii());
    const int height = layout.height + 4;
    const int width = layout.width + 4;
    if (!window || getmaxy(window.get()) != std::min(height, m_screen.Rows()) ||
        getmaxx(window.get()) != std::min(width, m_screen.Columns()))
        window = m_screen.CentredWindow(height, width);
    else
        mvwin(window.get(), std::max(0, (m_screen.Rows() - height) / 2), std::max(0, (m_screen.Columns() - width) / 2));
    WINDOW* w = window.get();
    if (w == nullptr) return;
    werase(w);
    DrawFrame(w, form.Title(), m_screen.Ascii());
    for (const FormItem& item : layout.items)
        PutText(w, item.row + 2, item.column + 2, item.text, StyleAttributes(item.style), layout.width - item.column);
    if (withCursor && layout.cursorRow >= 0) {
        wmove(w, layout.cursorRow + 2, layout.cursorColumn + 2);
        curs_set(1);
    } else {
        curs_set(0);
    }
    wnoutrefresh(w);
}

int CTuiUserInterface::RunForm(CForm& form)
{
    WindowPtr window;
    for (;;) {
        PaintBackground();
        DrawForm(form, window, true);
        doupdate();
        const Key key = m_screen.ReadKey(window ? window.get() : stdscr);
        if (key.function && key.code == KEY_RESIZE) {
            window.reset();
            continue;
        }
        if (key.function && key.code == KEY_MOUSE) {
            MEVENT event{};
            if (!CScreen::ReadMouse(event) || !window) continue;
            int y = event.y;
            int x = event.x;
            if (!wmouse_trafo(window.get(), &y, &x, FALSE)) continue;
            const FormLayout layout = LayoutForm(form, m_screen.Columns(), m_screen.Ascii());
            for (const FormItem& item : layout.items) {
                if (item.field < 0 || y - 2 != item.row || x - 2 < item.column ||
                    x - 2 >= item.column + TextColumns(item.text))
                    continue;
                form.SetFocus(item.field);
                const FormField& field = form.Fields()[static_cast<std::size_t>(item.field)];
                if (field.kind == FieldKind::Button) {
                    curs_set(0);
                    return field.id;
                }
                if (field.kind == FieldKind::Check) form.Apply(FormInput{FormInput::Char, L' '});
            }
            continue;
        }
        if (const int result = form.Apply(MapFormKey(key)); result != 0) {
            curs_set(0);
            return result;
        }
    }
}

int CTuiUserInterface::DoModal(HWND owner, DialogState& dialog)
{
    if (dialog.tmpl.id == IDD_PASSWORD)
        dialog.texts[IDC_PASSWORD_TEXT] = MainPasswordQuestion(dialog.texts[IDC_PASSWORD_TEXT], m_consoleFile);
    CForm form(dialog);
    const int result = RunForm(form);
    if (result != IDCANCEL) form.Store(dialog);
    Repaint();
    return result;
}

int CTuiUserInterface::ShowMessage(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type)
{
    CForm form = CForm::MessageBox(text, caption, type);
    const int result = RunForm(form);
    Repaint();
    return result;
}

HWND CTuiUserInterface::CreateProgress(HWND parent, const DialogState& dialog)
{
    auto progress = std::make_unique<Progress>(Progress{Token(m_nextWindow++), CForm(dialog), nullptr});
    const HWND handle = progress->handle;
    m_progress.push_back(std::move(progress));
    Repaint();
    return handle;
}

void CTuiUserInterface::SetProgressText(HWND window, int controlId, std::u16string_view text)
{
    for (auto& p : m_progress)
        if (p->handle == window) {
            p->form.SetText(controlId, ToTerminal(text, ELineFeeds::Kept));
            // The caller blocks on the network next: show the text now.
            Repaint();
            return;
        }
}

void CTuiUserInterface::DestroyProgress(HWND window)
{
    std::erase_if(m_progress, [window](const std::unique_ptr<Progress>& p) { return p->handle == window; });
    Repaint();
}

HWND CTuiUserInterface::ActiveWindow() { return kMainWindow; }

int CTuiUserInterface::RunMenu(const std::vector<MenuItemView>& items, int row, int column,
                               const std::function<void(const MenuItemView*)>& highlight)
{
    if (items.empty()) return -1;
    const bool ascii = m_screen.Ascii();
    int width = 10;
    for (const MenuItemView& item : items) width = std::max(width, TextColumns(ToTerminal(item.name)) + 4);
    const int height = static_cast<int>(items.size()) + 2;
    width += 2;
    row = std::clamp(row, 0, std::max(0, m_screen.Rows() - height));
    column = std::clamp(column, 0, std::max(0, m_screen.Columns() - width));
    WindowPtr window(newwin(std::min(height, m_screen.Rows()), std::min(width, m_screen.Columns()), row, column));
    if (!window) return -1;
    keypad(window.get(), TRUE);
    int current = NextMenuItem(items, -1, 1);
    for (;;) {
        PaintBackground();
        if (highlight) {
            highlight(current >= 0 ? &items[static_cast<std::size_t>(current)] : nullptr);
        }
        WINDOW* w = window.get();
        werase(w);
        DrawFrame(w, L"", ascii);
        for (std::size_t i = 0; i < items.size(); ++i) {
            const MenuItemView& item = items[i];
            const int y = static_cast<int>(i) + 1;
            if (item.separator) {
                if (ascii) {
                    PutText(w, y, 1, std::wstring(static_cast<std::size_t>(std::max(width - 2, 0)), L'-'));
                } else {
                    mvwaddch(w, y, 0, ACS_LTEE);
                    mvwhline(w, y, 1, ACS_HLINE, std::max(width - 2, 0));
                    mvwaddch(w, y, width - 1, ACS_RTEE);
                }
                continue;
            }
            std::wstring text = item.checked ? (ascii ? L"x " : L"\u2713 ") : L"  ";
            text += ToTerminal(item.name);
            attr_t attributes = static_cast<int>(i) == current ? A_REVERSE : A_NORMAL;
            if (item.grayed) attributes |= A_DIM;
            PutText(w, y, 1, PadColumns(text, width - 2, true, ascii), attributes, width - 2);
        }
        wnoutrefresh(w);
        doupdate();
        const Key key = m_screen.ReadKey(w);
        if (key.function) {
            switch (key.code) {
            case KEY_UP: current = NextMenuItem(items, current, -1); break;
            case KEY_DOWN: current = NextMenuItem(items, current, 1); break;
            case KEY_HOME: current = NextMenuItem(items, -1, 1); break;
            case KEY_END: current = NextMenuItem(items, -1, -1); break;
            case KEY_LEFT: return -1;
            case KEY_RIGHT:
            case KEY_ENTER: return current;
            case KEY_RESIZE: return -1;
            case KEY_MOUSE: {
                MEVENT event{};
                if (!CScreen::ReadMouse(event)) break;
                int y = event.y;
                int x = event.x;
                if (!wmouse_trafo(w, &y, &x, FALSE)) return -1;  // a click outside closes the menu
                const int index = y - 1;
                if (index >= 0 && index < static_cast<int>(items.size()) &&
                    NextMenuItem(items, index - 1, 1) == index)
                    return index;
                break;
            }
            default: break;
            }
            continue;
        }
        if (key.code == L'\n' || key.code == L'\r' || key.code == L' ') return current;
        if (key.code == 0x1B || key.code == L'q') return -1;
        if (key.code == L'k') current = NextMenuItem(items, current, -1);
        else if (key.code == L'j') current = NextMenuItem(items, current, 1);
        else if (const int hit = MenuItemByLetter(items, current, static_cast<wchar_t>(key.code)); hit >= 0)
            return hit;
    }
}

void CTuiUserInterface::ShowText(std::wstring_view title, const std::vector<std::wstring>& lines)
{
    int top = 0;
    for (;;) {
        int width = TextColumns(title) + 6;
        for (const std::wstring& line : lines) width = std::max(width, TextColumns(line) + 4);
        WindowPtr window = m_screen.CentredWindow(static_cast<int>(lines.size()) + 2, width);
        if (!window) return;
        WINDOW* w = window.get();
        const int visible = std::max(getmaxy(w) - 2, 1);
        top = std::clamp(top, 0, std::max(0, static_cast<int>(lines.size()) - visible));
        PaintBackground();
        werase(w);
        DrawFrame(w, title, m_screen.Ascii());
        for (int i = 0; i < visible && top + i < static_cast<int>(lines.size()); ++i)
            PutText(w, i + 1, 2, lines[static_cast<std::size_t>(top + i)], A_NORMAL, getmaxx(w) - 4);
        wnoutrefresh(w);
        doupdate();
        const Key key = m_screen.ReadKey(w);
        if (key.function && key.code == KEY_RESIZE) continue;
        if (key.function && (key.code == KEY_DOWN || key.code == KEY_NPAGE)) {
            top += key.code == KEY_DOWN ? 1 : visible;
            continue;
        }
        if (key.function && (key.code == KEY_UP || key.code == KEY_PPAGE)) {
            top -= key.code == KEY_UP ? 1 : visible;
            continue;
        }
        if (key.function && key.code == KEY_MOUSE) {
            MEVENT event{};
            CScreen::ReadMouse(event);
        }
        Repaint();
        return;
    }
}

}  // namespace fdx::tui
