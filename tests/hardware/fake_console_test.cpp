// The recording console and the scripted user interface that the node tests
// rely on: what they record, and that they hold no reference or window
// beyond their use.
#include <gtest/gtest.h>

#include "res/resource_ids.h"
#include "tests/support/fake_console.h"
#include "tests/support/scripted_ui.h"

namespace {

TEST(FakeConsoleTest, CountsReferencesThroughEveryInterface)
{
    const long before = CFakeConsole::LiveCount();
    {
        auto console = CFakeConsole::Create();
        EXPECT_EQ(console->RefCount(), 1u);
        {
            com_ptr<IConsole> unknown(static_cast<IConsole*>(console.get()));
            auto nameSpace = unknown.query<IConsoleNameSpace2>();
            auto header = unknown.query<IHeaderCtrl>();
            auto result = unknown.query<IResultData>();
            auto menu = unknown.query<IContextMenuCallback>();
            com_ptr<IImageList> scopeImages;
            ASSERT_EQ(console->QueryScopeImageList(scopeImages.put()), S_OK);
            auto back = scopeImages.query<IConsole>();
            ASSERT_TRUE(nameSpace && header && result && menu && back);
            EXPECT_EQ(console->RefCount(), 8u);
        }
        EXPECT_EQ(console->RefCount(), 1u);
        EXPECT_EQ(CFakeConsole::LiveCount(), before + 1);
    }
    EXPECT_EQ(CFakeConsole::LiveCount(), before);
}

// The scope tree's own rules are tests/console/scope_tree_test's; no snap-in
// of ours asks for an item's parent, so it is checked here.
TEST(FakeConsoleTest, AnItemsParentAndItsCookieAreTold)
{
    auto console = CFakeConsole::Create();
    SCOPEDATAITEM item{};
    item.mask = SDI_STR | SDI_PARAM | SDI_CHILDREN;
    item.displayname = MMC_CALLBACK;
    item.relativeID = console->RootItem();
    item.lParam = 11;
    ASSERT_EQ(console->InsertItem(&item), S_OK);
    const HSCOPEITEM group = item.ID;
    item.relativeID = group;
    item.lParam = 12;
    ASSERT_EQ(console->InsertItem(&item), S_OK);
    HSCOPEITEM parent = 0;
    MMC_COOKIE cookie = 0;
    EXPECT_EQ(console->GetParentItem(item.ID, &parent, &cookie), S_OK);
    EXPECT_EQ(parent, group);
    EXPECT_EQ(cookie, 11);
    EXPECT_EQ(console->GetParentItem(0x7777, &parent, &cookie), E_INVALIDARG);
}

TEST(FakeConsoleTest, InjectedFailuresHitOnlyTheChosenCall)
{
    // The node tests see the chosen call fail; here that the next succeeds.
    auto console = CFakeConsole::Create();
    console->FailMenuAddAt(1);
    CONTEXTMENUITEM menu{};
    EXPECT_EQ(console->AddItem(&menu), S_OK);
    EXPECT_EQ(console->AddItem(&menu), E_FAIL);
    EXPECT_EQ(console->AddItem(&menu), S_OK);
    EXPECT_EQ(console->MenuItems().size(), 2u);
}

TEST(ScriptedUiTest, AnswersFromQueuesAndRecords)
{
    CScopedScriptedUi ui;
    CScriptedUserInterface::DialogAnswer answer;
    answer.texts[IDC_GROUP_NAME] = u"Servers";
    ui.AnswerDialog(answer);
    DialogState state;
    state.tmpl.id = IDD_GROUP;
    state.texts[IDC_GROUP_NAME] = u"";
    EXPECT_EQ(GetUserInterface()->DoModal(nullptr, state), IDOK);
    EXPECT_EQ(state.texts[IDC_GROUP_NAME], u"Servers");
    ASSERT_EQ(ui.Dialogs().size(), 1u);
    EXPECT_EQ(ui.Dialogs()[0].texts.at(IDC_GROUP_NAME), u"");

    EXPECT_EQ(MessageBox(nullptr, u"question", u"Warning", MB_YESNO), IDNO);
    ui.AnswerMessage(IDYES);
    EXPECT_EQ(MessageBox(nullptr, u"question", u"Warning", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBox(nullptr, u"oops", u"Error", MB_OK | MB_ICONERROR), IDOK);
    ASSERT_EQ(ui.Messages().size(), 3u);
    EXPECT_EQ(ui.Messages()[2].caption, u"Error");

    HWND progress = ui.CreateProgress(nullptr, DialogState{});
    ui.SetProgressText(progress, 1013, u"Scanning");
    EXPECT_EQ(ui.ProgressOpen(), 1u);
    ui.DestroyProgress(progress);
    EXPECT_EQ(ui.ProgressOpen(), 0u);
}

TEST(ScriptedUiTest, InstallerRestoresThePreviousInterface)
{
    IUserInterface* before = GetUserInterface();
    {
        CScopedScriptedUi ui;
        EXPECT_EQ(GetUserInterface(), &ui);
    }
    EXPECT_EQ(GetUserInterface(), before);
}

}  // namespace
