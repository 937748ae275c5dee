// Keys of the main window, of forms and of menus.
#include <gtest/gtest.h>

#include "console/tui/tui_keys.h"

#include <curses.h>

#include <cwctype>
#include <string>
#include <vector>

using namespace fdx::tui;

namespace {

Key Fn(int code) { return Key{true, static_cast<wint_t>(code)}; }
Key Ch(wchar_t c) { return Key{false, static_cast<wint_t>(c)}; }

MenuItemView Item(const char16_t* name, long id) { return MenuItemView{id, name, name, false, false, false}; }
MenuItemView Separator() { return MenuItemView{1, u"", u"", true, false, false}; }

// A key as the help screen names it ("PgUp", "F10", "Ctrl+S", "m").
bool KeyNamed(const std::wstring& name, Key& key)
{
    static const struct {
        const wchar_t* name;
        Key key;
    } kNames[] = {
        {L"Up", Fn(KEY_UP)},       {L"Down", Fn(KEY_DOWN)},   {L"PgUp", Fn(KEY_PPAGE)}, {L"PgDn", Fn(KEY_NPAGE)},
        {L"Home", Fn(KEY_HOME)},   {L"End", Fn(KEY_END)},     {L"Left", Fn(KEY_LEFT)},  {L"Right", Fn(KEY_RIGHT)},
        {L"Enter", Ch(L'\r')},     {L"Tab", Ch(L'\t')},       {L"Space", Ch(L' ')},
    };
    for (const auto& n : kNames)
        if (name == n.name) {
            key = n.key;
            return true;
        }
    if (name.size() == 1)
        key = Ch(name[0]);
    else if (name.size() == 6 && name.starts_with(L"Ctrl+"))
        key = Ch(static_cast<wchar_t>(name[5] & 0x1F));
    else if (name.size() >= 2 && name[0] == L'F' && std::iswdigit(name[1]))
        key = Fn(KEY_F(std::stoi(name.substr(1))));
    else
        return false;
    return true;
}

std::vector<std::wstring> Split(const std::wstring& text, const std::wstring& by)
{
    std::vector<std::wstring> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(by, from)) != std::wstring::npos; from = at + by.size())
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

}  // namespace

// The help screen is the list of bindings users read: every key it names
// does something, the keys of one line ("Right, l, +") do the same thing, and
// the two sides of "PgUp/PgDn" do different things.
TEST(TuiKeys, EveryKeyTheHelpNamesDoesWhatItsLineSays)
{
    int checked = 0;
    for (const HelpLine& line : KeyHelp()) {
        const std::wstring keys = line.keys;
        if (keys.starts_with(L"In ") || keys == L"Mouse") continue;  // prose about other places
        const std::vector<std::wstring> groups = Split(keys, L", ");
        std::vector<std::vector<Action>> actions;
        for (const std::wstring& group : groups) {
            actions.emplace_back();
            for (const std::wstring& name : Split(group, L"/")) {
                Key key{};
                ASSERT_TRUE(KeyNamed(name, key)) << "the help names a key the test does not know: " << std::string(name.begin(), name.end());
                actions.back().push_back(MapMainKey(key));
                EXPECT_NE(actions.back().back(), Action::None) << std::string(name.begin(), name.end());
                ++checked;
            }
            if (actions.back().size() == 2) {
                EXPECT_NE(actions.back()[0], actions.back()[1]);
            }
        }
        if (keys.find(L'/') != std::wstring::npos) continue;
        for (const auto& group : actions) {
            EXPECT_EQ(group[0], actions[0][0]) << std::string(keys.begin(), keys.end());
        }
    }
    EXPECT_GE(checked, 20);
}

TEST(TuiKeys, TerminalVariantsOfAKeyAgreeAndOtherKeysDoNothing)
{
    // What terminals send for one key, and the shifted forms, act alike.
    EXPECT_EQ(MapMainKey(Ch(L'\n')), MapMainKey(Ch(L'\r')));
    EXPECT_EQ(MapMainKey(Fn(KEY_ENTER)), MapMainKey(Ch(L'\r')));
    EXPECT_EQ(MapMainKey(Fn(KEY_BTAB)), MapMainKey(Ch(L'\t')));
    EXPECT_EQ(MapMainKey(Fn(KEY_F(22))), MapMainKey(Fn(KEY_F(10))));  // Shift+F10
    EXPECT_EQ(MapMainKey(Ch(0x03)), Action::Quit) << "Ctrl+C quits as it does everywhere";
    EXPECT_EQ(MapMainKey(Fn(KEY_RESIZE)), Action::Resize);
    EXPECT_EQ(MapMainKey(Fn(KEY_MOUSE)), Action::Mouse);
    EXPECT_EQ(MapMainKey(Ch(L'x')), Action::None);
    EXPECT_EQ(MapMainKey(Fn(KEY_F(12))), Action::None);
    // A function key whose code equals a letter is not that letter.
    EXPECT_EQ(MapMainKey(Key{true, static_cast<wint_t>(L'q')}), Action::None);
}

// The form keys the screen tests do not type (they type Tab, Enter, Escape,
// Ctrl+H and text): the other Backspace, and the line-editing keys.
TEST(TuiKeys, FormKeysForLineEditing)
{
    EXPECT_EQ(MapFormKey(Fn(KEY_BTAB)).kind, FormInput::Previous);
    EXPECT_EQ(MapFormKey(Ch(0x7F)).kind, FormInput::Backspace);
    EXPECT_EQ(MapFormKey(Fn(KEY_BACKSPACE)).kind, FormInput::Backspace);
    EXPECT_EQ(MapFormKey(Fn(KEY_DC)).kind, FormInput::Delete);
    EXPECT_EQ(MapFormKey(Ch(0x15)).kind, FormInput::KillLine);
    EXPECT_EQ(MapFormKey(Ch(0x01)).kind, FormInput::Home);
    EXPECT_EQ(MapFormKey(Ch(0x05)).kind, FormInput::End);
    EXPECT_EQ(MapFormKey(Ch(0x02)).kind, FormInput::None);
}

TEST(TuiKeys, MenuHighlightSkipsSeparatorsAndGrayedItemsAndLettersChoose)
{
    std::vector<MenuItemView> items = {Item(u"Add Group", 0), Separator(), Item(u"Save Passwords", 1), Separator(),
                                       Item(u"About Ferrodex", 2)};
    EXPECT_EQ(NextMenuItem(items, -1, 1), 0);
    EXPECT_EQ(NextMenuItem(items, 0, 1), 2);
    EXPECT_EQ(NextMenuItem(items, 2, 1), 4);
    EXPECT_EQ(NextMenuItem(items, 4, 1), 0);
    EXPECT_EQ(NextMenuItem(items, 0, -1), 4);
    EXPECT_EQ(NextMenuItem(items, -1, -1), 4);
    items[2].grayed = true;
    EXPECT_EQ(NextMenuItem(items, 0, 1), 4);
    EXPECT_EQ(NextMenuItem({Separator(), Separator()}, -1, 1), -1);
    EXPECT_EQ(NextMenuItem({}, -1, 1), -1);

    // A letter chooses the next item starting with it.
    items = {Item(u"Edit Host", 4), Item(u"Refresh Information", 3), Item(u"Remove Host", 2)};
    EXPECT_EQ(MenuItemByLetter(items, 0, L'r'), 1);
    EXPECT_EQ(MenuItemByLetter(items, 1, L'R'), 2);
    EXPECT_EQ(MenuItemByLetter(items, 2, L'r'), 1);
    EXPECT_EQ(MenuItemByLetter(items, -1, L'e'), 0);
    EXPECT_EQ(MenuItemByLetter(items, 0, L'z'), -1);
}
