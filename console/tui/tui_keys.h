// Keys of the terminal face, pure logic: what a terminal key means in the
// main window, in a form and in a menu, and how a menu's highlight moves.
#pragma once

#include <cwchar>
#include <string>
#include <vector>

#include "console/host_core.h"
#include "console/tui/tui_form.h"

namespace fdx::tui {

// A key as the terminal reports it: a character, or a function key code.
struct Key {
    bool function = false;  // `code` is a curses KEY_* value
    wint_t code = 0;
};

enum class Action {
    None,
    Up, Down, PageUp, PageDown, Home, End, Left, Right,
    Enter,      // expand or collapse the selected node
    SwitchPane, // tree <-> result pane
    Menu,       // context menu of the selected node
    Rename,     // rename the selected node in place
    Help,
    Save,
    Refresh,    // show the selected node again
    Quit,
    Redraw,
    Resize,
    Mouse,
};

Action MapMainKey(const Key& key);
FormInput MapFormKey(const Key& key);

// One line of the key help: the keys and what they do.
struct HelpLine {
    const wchar_t* keys;
    const wchar_t* action;
};
const std::vector<HelpLine>& KeyHelp();

// The next item of a menu that can be chosen, going `step` (+1 or -1) from
// `current` and wrapping; separators and grayed items are skipped. -1 when
// none can be chosen.
int NextMenuItem(const std::vector<MenuItemView>& items, int current, int step);
// The item whose name starts with `c` (case-insensitive) after `current`,
// or -1.
int MenuItemByLetter(const std::vector<MenuItemView>& items, int current, wchar_t c);

}  // namespace fdx::tui
