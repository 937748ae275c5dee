// The terminal's user interface on a real curses screen: keys go in through
// a pipe, and what was drawn is read back from curses' own copy of the
// screen.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "console/tui/tui_ui.h"
#include "res/resource_ids.h"
#include "tests/console/tui_dialogs.h"

using namespace fdx::tui;
using namespace fdx::tui::test;

namespace {

DialogState ProgressDialog()
{
    DialogState d;
    d.tmpl.id = IDD_PROGRESS;
    d.tmpl.controls = {Control(IDC_PROGRESS_TEXT, "static"), Control(IDC_PROGRESS_ANIMATION, "animation", u"", 0, false)};
    return d;
}

class TuiUserInterface : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        m_in = ::fdopen(fds[0], "r");
        m_feed = fds[1];
        m_out = std::fopen("/dev/null", "w");
        ASSERT_NE(m_in, nullptr);
        ASSERT_NE(m_out, nullptr);
        ::setenv("LINES", "24", 1);
        ::setenv("COLUMNS", "80", 1);
        m_screen = std::make_unique<CScreen>(true, false, "xterm", m_out, m_in);
        m_ui = std::make_unique<CTuiUserInterface>(*m_screen);
    }

    void TearDown() override
    {
        m_ui.reset();
        m_screen.reset();
        ::close(m_feed);
        std::fclose(m_in);
        std::fclose(m_out);
    }

    void Feed(const std::string& keys) { ASSERT_EQ(::write(m_feed, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

    // The screen as curses last showed it.
    static std::string Screen()
    {
        std::string all;
        std::vector<char> row(static_cast<std::size_t>(COLS) + 1);
        for (int r = 0; r < LINES; ++r) {
            mvwinnstr(curscr, r, 0, row.data(), COLS);
            all += row.data();
            all += '\n';
        }
        return all;
    }

    // Records the screen each time a dialog repaints what lies behind it:
    // from the second time on it shows the dialog as it was drawn.
    void RecordScreens()
    {
        m_ui->SetBackground([this] { m_screens.push_back(Screen()); });
    }
    bool AnyScreenHas(const std::string& text) const
    {
        for (const auto& s : m_screens)
            if (s.find(text) != std::string::npos) return true;
        return false;
    }

    FILE* m_in = nullptr;
    FILE* m_out = nullptr;
    int m_feed = -1;
    std::unique_ptr<CScreen> m_screen;
    std::unique_ptr<CTuiUserInterface> m_ui;
    std::vector<std::string> m_screens;
};

}  // namespace

TEST_F(TuiUserInterface, ADialogReturnsWhatWasTypedOnOkAndNothingOnEscape)
{
    RecordScreens();
    DialogState d = GroupDialog();
    Feed("Rack-7\r");
    EXPECT_EQ(m_ui->DoModal(nullptr, d), IDOK);
    EXPECT_EQ(d.texts[IDC_GROUP_NAME], u"Rack-7");
    EXPECT_TRUE(AnyScreenHas("Add a new group"));
    EXPECT_TRUE(AnyScreenHas("New group: [Rack-"));
    EXPECT_TRUE(AnyScreenHas("[ OK ]  [ Cancel ]"));
    // Once closed, the dialog is gone from the screen.
    EXPECT_EQ(Screen().find("Add a new group"), std::string::npos);

    // Escape cancels and keeps nothing that was typed.
    DialogState host = HostDialog();
    Feed("srv\t\t\tsecret\x1b");
    EXPECT_EQ(m_ui->DoModal(nullptr, host), IDCANCEL);
    EXPECT_EQ(host.texts[IDC_HOST], u"");
    EXPECT_NE(host.texts[IDC_PASSWORD], u"secret");
    EXPECT_EQ(host.texts[IDC_LOGIN], u"root");
}

TEST_F(TuiUserInterface, TheHostDialogTakesDigitsForThePortAndMasksThePassword)
{
    RecordScreens();
    DialogState d = HostDialog();
    Feed("srv1\t\x15" "8a-0 b8\tadm\x08\x08" "dmin\tTopSecret\r");
    EXPECT_EQ(m_ui->DoModal(nullptr, d), IDOK);
    EXPECT_EQ(d.texts[IDC_HOST], u"srv1");
    EXPECT_EQ(d.texts[IDC_PORT], u"808");
    EXPECT_EQ(d.texts[IDC_LOGIN], u"admin");  // "root" was selected: typing replaced it
    EXPECT_EQ(d.texts[IDC_PASSWORD], u"TopSecret");
    EXPECT_FALSE(AnyScreenHas("TopSecret"));
    EXPECT_FALSE(AnyScreenHas("TopSec"));
    EXPECT_TRUE(AnyScreenHas("[********"));
}

TEST_F(TuiUserInterface, MessageBoxesAnswerWithTheirButtons)
{
    Feed("n");
    EXPECT_EQ(m_ui->ShowMessage(nullptr, u"Proceed?", u"Question", MB_YESNO | MB_ICONQUESTION), IDNO);
    Feed("\r");
    EXPECT_EQ(m_ui->ShowMessage(nullptr, u"Socket error", u"Error", MB_OK | MB_ICONERROR), IDOK);
    Feed("\t\t\r");  // Yes -> No -> Cancel
    EXPECT_EQ(m_ui->ShowMessage(nullptr, u"Save?", u"Ferrodex", MB_YESNOCANCEL), IDCANCEL);
    Feed("\x1b");
    EXPECT_EQ(m_ui->ShowMessage(nullptr, u"Save?", u"Ferrodex", MB_YESNOCANCEL), IDCANCEL);
    RecordScreens();
    Feed("y");
    EXPECT_EQ(m_ui->ShowMessage(nullptr, u"Really?", u"Ferrodex", MB_YESNO), IDYES);
}

TEST_F(TuiUserInterface, TheProgressWindowShowsEachTextAtOnce)
{
    const HWND window = m_ui->CreateProgress(nullptr, ProgressDialog());
    ASSERT_NE(window, nullptr);
    // No key is read: the caller blocks on the network right after.
    m_ui->SetProgressText(window, IDC_PROGRESS_TEXT, u"Connecting and logining to the remote host...");
    EXPECT_NE(Screen().find("Connecting and logining"), std::string::npos);
    m_ui->SetProgressText(window, IDC_PROGRESS_TEXT, u"Scanning hardware ...");
    EXPECT_NE(Screen().find("Scanning hardware"), std::string::npos);
    EXPECT_EQ(Screen().find("Connecting"), std::string::npos);
    // A dialog opened meanwhile leaves the progress window in place.
    DialogState d = GroupDialog();
    Feed("\x1b");
    EXPECT_EQ(m_ui->DoModal(nullptr, d), IDCANCEL);
    EXPECT_NE(Screen().find("Scanning hardware"), std::string::npos);
    m_ui->DestroyProgress(window);
    EXPECT_EQ(Screen().find("Scanning hardware"), std::string::npos);
    // Unknown windows are ignored.
    m_ui->SetProgressText(window, IDC_PROGRESS_TEXT, u"late");
    m_ui->DestroyProgress(window);
    EXPECT_EQ(Screen().find("late"), std::string::npos);
}

TEST_F(TuiUserInterface, MenusReturnTheChosenItemAndSkipSeparators)
{
    const std::vector<MenuItemView> items = {
        MenuItemView{0, u"Add Group", u"Add Group", false, false, false},
        MenuItemView{1, u"", u"", true, false, false},
        MenuItemView{1, u"Save Passwords", u"Save Passwords", false, true, false},
        MenuItemView{1, u"", u"", true, false, false},
        MenuItemView{2, u"About Ferrodex", u"Displays About dialog", false, false, false},
    };
    std::vector<long> highlighted;
    auto record = [&highlighted](const MenuItemView* item) { highlighted.push_back(item ? item->commandId : -1); };
    Feed("\x0e");  // a key without meaning is ignored
    Feed("j\r");
    EXPECT_EQ(m_ui->RunMenu(items, 2, 2, record), 2);
    EXPECT_EQ(highlighted.front(), 0);
    EXPECT_EQ(highlighted.back(), 1);
    Feed("a");
    EXPECT_EQ(m_ui->RunMenu(items, 2, 2, nullptr), 4);
    Feed("q");
    EXPECT_EQ(m_ui->RunMenu(items, 2, 2, nullptr), -1);
    EXPECT_EQ(m_ui->RunMenu({}, 0, 0, nullptr), -1);
}
