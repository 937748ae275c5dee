// Keys of the main window, of forms and of menus.
#include <gtest/gtest.h>

#include "console/tui/tui_keys.h"

#include <curses.h>

using namespace fdx::tui;

namespace {

Key Fn(int code) { return Key{true, static_cast<wint_t>(code)}; }
Key Ch(wchar_t c) { return Key{false, static_cast<wint_t>(c)}; }

MenuItemView Item(const char16_t* name, long id) { return MenuItemView{id, name, name, false, false, false}; }
MenuItemView Separator() { return MenuItemView{1, u"", u"", true, false, false}; }

}  // namespace

TEST(TuiKeys, MainWindowKeys)
{
    const struct {
        Key key;
        Action action;
    } table[] = {
        {Fn(KEY_UP), Action::Up},        {Ch(L'k'), Action::Up},          {Fn(KEY_DOWN), Action::Down},
        {Fn(KEY_RIGHT), Action::Right},  {Ch(L'+'), Action::Right},       {Fn(KEY_LEFT), Action::Left},
        {Ch(L'\r'), Action::Enter},      {Ch(L'\n'), Action::Enter},      {Fn(KEY_ENTER), Action::Enter},
        {Ch(L'\t'), Action::SwitchPane}, {Ch(L'm'), Action::Menu},        {Fn(KEY_F(10)), Action::Menu},
        {Fn(KEY_F(22)), Action::Menu},   {Fn(KEY_F(2)), Action::Rename},  {Ch(L'r'), Action::Rename},
        {Fn(KEY_F(1)), Action::Help},    {Ch(L'?'), Action::Help},        {Ch(L'q'), Action::Quit},
        {Ch(0x11), Action::Quit},        {Ch(0x03), Action::Quit},        {Ch(L's'), Action::Save},
        {Ch(0x13), Action::Save},        {Ch(0x0C), Action::Redraw},      {Fn(KEY_RESIZE), Action::Resize},
        {Fn(KEY_MOUSE), Action::Mouse},  {Fn(KEY_F(5)), Action::Refresh}, {Ch(L'x'), Action::None},
        {Fn(KEY_F(12)), Action::None},   {Fn(KEY_PPAGE), Action::PageUp}, {Fn(KEY_END), Action::End},
    };
    for (const auto& row : table)
        EXPECT_EQ(MapMainKey(row.key), row.action) << row.key.function << " " << row.key.code;
    // A function key whose code equals a letter is not that letter.
    EXPECT_EQ(MapMainKey(Key{true, static_cast<wint_t>(L'q')}), Action::None);
}

TEST(TuiKeys, FormKeys)
{
    EXPECT_EQ(MapFormKey(Ch(L'\t')).kind, FormInput::Next);
    EXPECT_EQ(MapFormKey(Fn(KEY_BTAB)).kind, FormInput::Previous);
    EXPECT_EQ(MapFormKey(Ch(L'\r')).kind, FormInput::Enter);
    EXPECT_EQ(MapFormKey(Ch(0x1B)).kind, FormInput::Escape);
    EXPECT_EQ(MapFormKey(Ch(0x7F)).kind, FormInput::Backspace);
    EXPECT_EQ(MapFormKey(Fn(KEY_BACKSPACE)).kind, FormInput::Backspace);
    EXPECT_EQ(MapFormKey(Fn(KEY_DC)).kind, FormInput::Delete);
    EXPECT_EQ(MapFormKey(Ch(0x15)).kind, FormInput::KillLine);
    EXPECT_EQ(MapFormKey(Ch(0x01)).kind, FormInput::Home);
    EXPECT_EQ(MapFormKey(Ch(0x05)).kind, FormInput::End);
    EXPECT_EQ(MapFormKey(Ch(0x02)).kind, FormInput::None);
    const FormInput letter = MapFormKey(Ch(L'\u00E9'));
    EXPECT_EQ(letter.kind, FormInput::Char);
    EXPECT_EQ(letter.ch, L'\u00E9');
}

TEST(TuiKeys, EveryHelpLineNamesAnAction)
{
    ASSERT_FALSE(KeyHelp().empty());
    for (const HelpLine& h : KeyHelp()) {
        EXPECT_NE(std::wstring(h.keys), L"");
        EXPECT_NE(std::wstring(h.action), L"");
    }
}

TEST(TuiKeys, MenuHighlightSkipsSeparatorsAndGrayedItemsAndWraps)
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
}

TEST(TuiKeys, MenuLettersChooseTheNextItemStartingWithThem)
{
    const std::vector<MenuItemView> items = {Item(u"Edit Host", 4), Item(u"Refresh Information", 3),
                                             Item(u"Remove Host", 2)};
    EXPECT_EQ(MenuItemByLetter(items, 0, L'r'), 1);
    EXPECT_EQ(MenuItemByLetter(items, 1, L'R'), 2);
    EXPECT_EQ(MenuItemByLetter(items, 2, L'r'), 1);
    EXPECT_EQ(MenuItemByLetter(items, -1, L'e'), 0);
    EXPECT_EQ(MenuItemByLetter(items, 0, L'z'), -1);
}
