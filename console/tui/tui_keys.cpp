#include "console/tui/tui_keys.h"

#include <curses.h>

#include <cwctype>

namespace fdx::tui {

namespace {

constexpr wint_t Ctrl(char c) { return static_cast<wint_t>(c & 0x1F); }

bool Choosable(const MenuItemView& item) { return !item.separator && !item.grayed; }

}  // namespace

Action MapMainKey(const Key& key)
{
    if (key.function) {
        switch (key.code) {
        case KEY_UP: return Action::Up;
        case KEY_DOWN: return Action::Down;
        case KEY_PPAGE: return Action::PageUp;
        case KEY_NPAGE: return Action::PageDown;
        case KEY_HOME: return Action::Home;
        case KEY_END: return Action::End;
        case KEY_LEFT: return Action::Left;
        case KEY_RIGHT: return Action::Right;
        case KEY_ENTER: return Action::Enter;
        case KEY_BTAB: return Action::SwitchPane;
        case KEY_F(1): return Action::Help;
        case KEY_F(2): return Action::Rename;
        case KEY_F(5): return Action::Refresh;
        case KEY_F(9):
        case KEY_F(10):
        case KEY_F(22):  // Shift+F10
            return Action::Menu;
        case KEY_RESIZE: return Action::Resize;
        case KEY_MOUSE: return Action::Mouse;
        default: return Action::None;
        }
    }
    switch (key.code) {
    case L'\n':
    case L'\r': return Action::Enter;
    case L'\t': return Action::SwitchPane;
    case L'k': return Action::Up;
    case L'j': return Action::Down;
    case L'h':
    case L'-': return Action::Left;
    case L'l':
    case L'+': return Action::Right;
    case L'm':
    case L' ': return Action::Menu;
    case L'r': return Action::Rename;
    case L'?': return Action::Help;
    case L's': return Action::Save;
    case L'q': return Action::Quit;
    default: break;
    }
    if (key.code == Ctrl('S')) return Action::Save;
    if (key.code == Ctrl('Q') || key.code == Ctrl('C')) return Action::Quit;
    if (key.code == Ctrl('L')) return Action::Redraw;
    return Action::None;
}

FormInput MapFormKey(const Key& key)
{
    if (key.function) {
        switch (key.code) {
        case KEY_LEFT: return {FormInput::Left, 0};
        case KEY_RIGHT: return {FormInput::Right, 0};
        case KEY_HOME: return {FormInput::Home, 0};
        case KEY_END: return {FormInput::End, 0};
        case KEY_BACKSPACE: return {FormInput::Backspace, 0};
        case KEY_DC: return {FormInput::Delete, 0};
        case KEY_ENTER: return {FormInput::Enter, 0};
        case KEY_DOWN: return {FormInput::Next, 0};
        case KEY_UP:
        case KEY_BTAB: return {FormInput::Previous, 0};
        default: return {FormInput::None, 0};
        }
    }
    switch (key.code) {
    case L'\t': return {FormInput::Next, 0};
    case L'\n':
    case L'\r': return {FormInput::Enter, 0};
    case 0x1B: return {FormInput::Escape, 0};
    case 0x7F:
    case 0x08: return {FormInput::Backspace, 0};
    default: break;
    }
    if (key.code == Ctrl('U')) return {FormInput::KillLine, 0};
    if (key.code == Ctrl('A')) return {FormInput::Home, 0};
    if (key.code == Ctrl('E')) return {FormInput::End, 0};
    if (key.code < 0x20) return {FormInput::None, 0};
    return {FormInput::Char, static_cast<wchar_t>(key.code)};
}

const std::vector<HelpLine>& KeyHelp()
{
    static const std::vector<HelpLine> help = {
        {L"Up/Down, j/k", L"move the selection"},
        {L"PgUp/PgDn, Home/End", L"move by a page, to the first or last node"},
        {L"Right, l, +", L"expand the node (a host is scanned the first time)"},
        {L"Left, h, -", L"collapse the node, or go to its parent"},
        {L"Enter", L"expand or collapse the node"},
        {L"Tab", L"switch between the tree and the result pane"},
        {L"m, Space, F9, F10", L"context menu of the selected node"},
        {L"r, F2", L"rename the selected node in place"},
        {L"F5", L"show the selected node again"},
        {L"s, Ctrl+S", L"save the console file"},
        {L"?, F1", L"this help"},
        {L"Ctrl+L", L"redraw the screen"},
        {L"q, Ctrl+Q", L"quit (asks to save unsaved changes)"},
        {L"In the result pane", L"arrows scroll, Left/Right scroll sideways"},
        {L"In a dialog", L"Tab moves, Space ticks or presses, Enter = OK, Esc = Cancel"},
        {L"Mouse", L"click selects, a click on +/- or a double click expands"},
    };
    return help;
}

int NextMenuItem(const std::vector<MenuItemView>& items, int current, int step)
{
    const int n = static_cast<int>(items.size());
    if (n == 0) return -1;
    int i = current;
    for (int tries = 0; tries < n; ++tries) {
        if (i < 0) i = step > 0 ? 0 : n - 1;
        else i = (i + step + n) % n;
        if (Choosable(items[static_cast<std::size_t>(i)])) return i;
    }
    return -1;
}

int MenuItemByLetter(const std::vector<MenuItemView>& items, int current, wchar_t c)
{
    const int n = static_cast<int>(items.size());
    const auto lower = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    for (int k = 1; k <= n; ++k) {
        const int i = ((current < 0 ? -1 : current) + k + n) % n;
        const MenuItemView& item = items[static_cast<std::size_t>(i)];
        if (!Choosable(item) || item.name.empty()) continue;
        if (static_cast<wchar_t>(std::towlower(static_cast<wint_t>(item.name[0]))) == lower) return i;
    }
    return -1;
}

}  // namespace fdx::tui
