#include <gtest/gtest.h>

#include "hardware/general_node.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/node_types.h"
#include "inventory/root_node.h"
#include "inventory/scan_status.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "inventory/scan_host.h"
#include "tests/support/fake_console.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

namespace {

CScriptedUserInterface::DialogAnswer GroupAnswer(std::u16string name)
{
    return {IDOK, {{IDC_GROUP_NAME, std::move(name)}}, {}};
}

CScriptedUserInterface::DialogAnswer HostAnswer(std::u16string host, std::u16string port, std::u16string login,
                                                std::u16string password)
{
    return {IDOK, {{IDC_HOST, std::move(host)}, {IDC_PORT, std::move(port)}, {IDC_LOGIN, std::move(login)}, {IDC_PASSWORD, std::move(password)}}, {}};
}

std::u16string ViewOf(CConsoleNode& node)
{
    LPOLESTR view = nullptr;
    long options = -1;
    EXPECT_EQ(node.GetResultViewType(&view, &options, false), S_OK);
    EXPECT_EQ(options, 0);
    std::u16string text = view ? std::u16string(view) : u"";
    CoTaskMemFree(view);
    return text;
}

// A row of the host's "general" node; empty when it has none by that name.
std::u16string GeneralValue(const CHostNode& host, std::u16string_view name)
{
    if (!host.m_pGeneral) return {};
    const RowList& names = host.m_pGeneral->m_names;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return host.m_pGeneral->m_values[i];
    return {};
}

const char kSmallXml[] =
    "<?xml version=\"1.0\"?><node id=\"box\"><description>Computer</description>"
    "<node id=\"core\"><node id=\"cpu:0\"><product>Chip</product></node></node>"
    "<node id=\"disk\"><size>1073741824</size></node></node>";

// An inventory on a recording console: a root expanded under the
// console's static item, ready for commands.
class InventoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_bDirty = false;
        m_previousJob = SetScanJob([this](CHostNode& host) {
            ++m_scans;
            if (m_scanXml.empty()) return 1;
            host.m_picture.SetText(m_scanXml);
            return 0;
        });
    }
    void TearDown() override
    {
        SetScanJob(m_previousJob);
        EXPECT_EQ(ui.UnansweredDialogs(), 0u);
        EXPECT_EQ(ui.PendingDialogAnswers(), 0u);
    }

    void ExpandRoot()
    {
        const HSCOPEITEM item = console->AddStaticItem(reinterpret_cast<LPARAM>(&root));
        ASSERT_EQ(root.OnExpand(console.get(), console.get(), item), S_OK);
    }

    CGroupNode& AddGroup(std::u16string name)
    {
        ui.AnswerDialog(GroupAnswer(std::move(name)));
        EXPECT_EQ(Cmd(root, IDM_ADD_GROUP), S_OK);
        return static_cast<CGroupNode&>(*root.GetChildren().back());
    }

    CHostNode& AddHost(CGroupNode& group, std::u16string host, std::u16string port = u"22")
    {
        ui.AnswerDialog(HostAnswer(std::move(host), std::move(port), u"root", u"pw"));
        EXPECT_EQ(Cmd(group, IDM_ADD_HOST), S_OK);
        return static_cast<CHostNode&>(*group.GetChildren().back());
    }

    void Expand(CConsoleNode& node, HRESULT expected = S_OK)
    {
        EXPECT_EQ(node.OnExpand(console.get(), console.get(), node.GetScopeItem()), expected);
    }
    HRESULT Cmd(CConsoleNode& node, long command) { return node.Command(console.get(), console.get(), command, nullptr); }
    // The root expanded, group "Lab" expanded, and a host of that name in it.
    CHostNode& LabHost(std::u16string name = u"srv")
    {
        ExpandRoot();
        CGroupNode& group = AddGroup(u"Lab");
        Expand(group);
        return AddHost(group, std::move(name));
    }
    // The one message of a command answered by `answer` and then Cancel.
    std::u16string RefusalOf(CConsoleNode& node, long command, CScriptedUserInterface::DialogAnswer answer,
                             HRESULT expected = S_FALSE)
    {
        ui.Clear();
        ui.AnswerDialog(std::move(answer));
        ui.AnswerDialog(IDCANCEL);
        EXPECT_EQ(Cmd(node, command), expected);
        EXPECT_EQ(ui.Messages().size(), 1u);
        return ui.Messages().empty() ? u"" : ui.Messages().back().text;
    }

    CScopedScriptedUi ui;
    com_ptr<CFakeConsole> console = CFakeConsole::Create();
    CRootNode root;
    std::u16string m_scanXml;
    int m_scans = 0;
    ScanJobFunction m_previousJob;
};

TEST_F(InventoryTest, MenusAreOfferedOnlyAfterExpansionAndInOrder)
{
    EXPECT_EQ(root.AddMenuItems(console.get(), CCM_INSERTIONALLOWED_TOP), S_OK);
    EXPECT_TRUE(console->MenuItems().empty());
    ExpandRoot();
    EXPECT_EQ(root.AddMenuItems(console.get(), CCM_INSERTIONALLOWED_NEW), S_OK);
    EXPECT_TRUE(console->MenuItems().empty());

    ASSERT_EQ(root.AddMenuItems(console.get(), CCM_INSERTIONALLOWED_TOP | CCM_INSERTIONALLOWED_NEW), S_OK);
    const auto& items = console->MenuItems();
    ASSERT_EQ(items.size(), 7u);
    EXPECT_EQ(items[0].commandId, IDM_ADD_GROUP);
    EXPECT_EQ(items[1].specialFlags, CCM_SPECIAL_SEPARATOR);
    EXPECT_EQ(items[2].flags, 0);  // Save Passwords, not checked
    EXPECT_EQ(items[6].commandId, IDM_REFRESH_ALL);
    for (const auto& item : items) EXPECT_EQ(item.insertionPoint, CCM_INSERTIONPOINTID_PRIMARY_TOP);

    // A failing add ends the adding and its result is handed back.
    console->ClearMenu();
    console->FailMenuAddAt(1);
    EXPECT_EQ(root.AddMenuItems(console.get(), CCM_INSERTIONALLOWED_TOP), E_FAIL);
    EXPECT_EQ(console->MenuItems().size(), 1u);
}

TEST_F(InventoryTest, AddGroupInsertsExactlyTheNewGroupEachTime)
{
    ExpandRoot();
    AddGroup(u"Lab");
    AddGroup(u"Web");
    // An empty or blank name is refused and the dialog comes back.
    ui.Clear();
    ui.AnswerDialog(GroupAnswer(u""));
    ui.AnswerDialog(GroupAnswer(u" \u3000"));
    ui.AnswerDialog(IDCANCEL);
    g_bDirty = false;
    EXPECT_EQ(Cmd(root, IDM_ADD_GROUP), S_OK);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(ui.Messages()[0].text, u"A name cannot be empty or only spaces.");
    EXPECT_EQ(ui.Messages()[1].text, ui.Messages()[0].text);
    ui.AnswerDialog(IDCANCEL);
    g_bDirty = false;
    EXPECT_EQ(Cmd(root, IDM_ADD_GROUP), S_OK);
    EXPECT_FALSE(g_bDirty);

    ASSERT_EQ(root.GetChildren().size(), 2u);
    EXPECT_EQ(console->ScopeInsertions().size(), 2u);
    const auto children = console->ScopeChildren(root.GetScopeItem());
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].lParam, reinterpret_cast<LPARAM>(root.GetChildren()[0].get()));
    EXPECT_TRUE(children[0].textByCallback);
    EXPECT_EQ(children[0].nImage, kImageGroup);
    EXPECT_EQ(children[0].nOpenImage, kImageGroup + 1);
    EXPECT_EQ(children[0].cChildren, 1);
    EXPECT_EQ(root.GetChildren()[1]->GetDisplayText(0), u"Web");
    EXPECT_EQ(root.GetChildren()[0]->GetScopeItem(), children[0].handle);
}

TEST_F(InventoryTest, RestoredGroupInsertsAllHostsOnceThenOnlyNewOnes)
{
    auto& group = static_cast<CGroupNode&>(root.AppendChild(std::make_unique<CGroupNode>(&root)));
    for (const char16_t* name : {u"a", u"b", u"c"}) {
        auto host = std::make_unique<CHostNode>(&group);
        host->SetName(name);
        group.AppendChild(std::move(host));
    }
    root.m_bInsertAll = true;
    group.m_bInsertAll = true;
    ExpandRoot();
    Expand(group);
    EXPECT_EQ(console->ScopeChildren(group.GetScopeItem()).size(), 3u);

    AddHost(group, u"d");
    const auto hosts = console->ScopeChildren(group.GetScopeItem());
    ASSERT_EQ(hosts.size(), 4u);
    EXPECT_EQ(hosts[3].lParam, reinterpret_cast<LPARAM>(group.GetChildren()[3].get()));
    EXPECT_FALSE(group.m_bInsertAll);
}

TEST_F(InventoryTest, AddHostTakesTheDialogTextsAndCancelChangesNothing)
{
    ExpandRoot();
    CGroupNode& group = AddGroup(u"Lab");
    Expand(group);
    g_bDirty = false;
    ui.AnswerDialog(IDCANCEL);
    EXPECT_EQ(Cmd(group, IDM_ADD_HOST), S_FALSE);
    EXPECT_TRUE(group.GetChildren().empty());
    EXPECT_FALSE(g_bDirty);
    ASSERT_EQ(ui.Dialogs().size(), 2u);
    EXPECT_EQ(ui.Dialogs()[1].templateId, IDD_HOST);
    EXPECT_EQ(ui.Dialogs()[1].title, u"Add a New Host");
    EXPECT_EQ(ui.Dialogs()[1].texts.at(IDC_PORT), u"22");
    EXPECT_EQ(ui.Dialogs()[1].texts.at(IDC_LOGIN), u"root");

    CHostNode& host = AddHost(group, u"srv.example", u"0022");
    EXPECT_TRUE(g_bDirty);
    EXPECT_EQ(host.m_nPort, 22);
    EXPECT_EQ(host.m_bstrHost, u"srv.example");
    EXPECT_EQ(host.GetDisplayText(0), u"srv.example");
    EXPECT_EQ(host.m_bstrLogin, u"root");
    EXPECT_EQ(host.m_bstrPassword, u"pw");

    // A host text of the longest name is taken whole.
    CHostNode& longHost = AddHost(group, std::u16string(255, u'h'));
    EXPECT_EQ(longHost.GetDisplayText(0).size(), 255u);
    EXPECT_EQ(longHost.m_bstrHost.size(), 255u);
}

TEST_F(InventoryTest, ExpandingAHostScansAndShowsItsHardware)
{
    CHostNode& host = LabHost();
    // No XML from the scan: the host shows the failure page.
    Expand(host, S_FALSE);
    EXPECT_EQ(m_scans, 1);
    EXPECT_TRUE(host.GetChildren().empty());
    EXPECT_NE(ViewOf(host).find(u"/ci.html"), std::u16string::npos);
    // The group's line never shows the word of a good scan, which hosts
    // read.
    EXPECT_NE(host.GetDisplayText(HOST_COL_RESULT), kScanResultOk);

    m_scanXml = AnsiToWide(kSmallXml);
    g_bDirty = false;
    ui.Clear();
    EXPECT_EQ(Cmd(host, IDM_REFRESH_HOST), S_OK);
    EXPECT_TRUE(g_bDirty);
    EXPECT_EQ(ViewOf(host), u"");  // the default list of its children
    EXPECT_EQ(host.GetDisplayText(HOST_COL_RESULT), kScanResultOk);
    EXPECT_EQ(host.GetDisplayText(HOST_COL_LOGIN), u"password");
    EXPECT_EQ(host.GetDisplayText(HOST_COL_SUDO), u"no");
    EXPECT_FALSE(host.GetDisplayText(HOST_COL_LAST_SCAN).empty());
    const auto items = console->ScopeChildren(host.GetScopeItem());
    ASSERT_EQ(items.size(), 3u);  // general, core, disk
    EXPECT_EQ(items[0].lParam, reinterpret_cast<LPARAM>(host.m_pGeneral.get()));
    EXPECT_EQ(items[0].cChildren, 0);
    EXPECT_EQ(items[1].cChildren, 1);  // core has cpu:0
    EXPECT_EQ(items[2].cChildren, 0);
}

TEST_F(InventoryTest, EditKeepsThePasswordUnlessClearedAndANewAddressDropsTheHardware)
{
    CHostNode& host = LabHost();
    m_scanXml = AnsiToWide(kSmallXml);
    Expand(host);
    const std::size_t items = console->ScopeChildren(host.GetScopeItem()).size();

    // Same address, empty password field: the stored password stays, and
    // so does the hardware. The check that clears it shows only here.
    ui.AnswerDialog(HostAnswer(u"srv", u"22", u"admin", u""));
    EXPECT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(ui.Dialogs().back().title, u"Edit Host");
    EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_PASSWORD), u"");  // never shows the password
    EXPECT_EQ(ui.Dialogs().back().checks.at(IDC_CLEAR_PASSWORD), 0);
    EXPECT_EQ(host.m_bstrPassword, u"pw");
    EXPECT_EQ(host.m_bstrLogin, u"admin");
    EXPECT_EQ(host.GetChildren().size(), 2u);
    EXPECT_EQ(console->ScopeChildren(host.GetScopeItem()).size(), items);

    // A password typed replaces the stored one.
    ui.AnswerDialog(HostAnswer(u"srv", u"22", u"admin", u"new-pw"));
    EXPECT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(host.m_bstrPassword, u"new-pw");

    // The clear choice forgets it, whatever the field holds.
    CScriptedUserInterface::DialogAnswer clear = HostAnswer(u"srv", u"22", u"admin", u"typed");
    clear.checks[IDC_CLEAR_PASSWORD] = 1;
    ui.AnswerDialog(clear);
    EXPECT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(host.m_bstrPassword, u"");
    EXPECT_EQ(host.GetChildren().size(), 2u);

    // A new port is a new address: the old one's hardware and XML go.
    g_bDirty = false;
    ui.AnswerDialog(HostAnswer(u"srv", u"2222", u"admin", u""));
    EXPECT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_TRUE(g_bDirty);
    EXPECT_EQ(host.m_nPort, 2222);
    EXPECT_TRUE(host.GetChildren().empty());
    EXPECT_EQ(host.m_pGeneral, nullptr);
    EXPECT_TRUE(host.m_picture.Empty());
    EXPECT_TRUE(console->ScopeChildren(host.GetScopeItem()).empty());
    EXPECT_TRUE(console->HasScopeItem(host.GetScopeItem()));

    // So is a new host name; without a password, Refresh asks for login
    // details first.
    Expand(host, S_OK);
    ASSERT_FALSE(host.GetChildren().empty());
    ui.AnswerDialog(HostAnswer(u"srv2", u"2222", u"admin", u""));
    EXPECT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(host.GetDisplayText(0), u"srv2");
    EXPECT_TRUE(host.GetChildren().empty());
    ui.AnswerDialog(IDCANCEL);
    EXPECT_EQ(Cmd(host, IDM_REFRESH_HOST), S_FALSE);
    EXPECT_EQ(ui.Dialogs().back().title, u"Enter Host Login Details");
    EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_LOGIN), u"admin");  // the host's own login
    EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_PORT), u"2222");
    EXPECT_FALSE(ui.Dialogs().back().checks.count(IDC_CLEAR_PASSWORD) && ui.Dialogs().back().checks.at(IDC_CLEAR_PASSWORD));
}

TEST_F(InventoryTest, AFailedRefreshKeepsTheLastGoodPicture)
{
    CHostNode& host = LabHost();
    CGroupNode& group = *host.m_pGroup;
    m_scanXml = AnsiToWide(kSmallXml);
    Expand(host);
    const std::u16string xml = host.m_picture.Text();
    const CConsoleNode* core = host.GetChildren()[0].get();
    ASSERT_NE(host.m_pGeneral, nullptr);
    EXPECT_TRUE(GeneralValue(host, u"last scan").ends_with(u"Z"));
    EXPECT_EQ(GeneralValue(host, u"last refresh"), u"");

    // No answer from the host, then an answer without hardware: both fail
    // and leave the picture, the XML and the console tree as they were.
    for (const std::u16string& answer : {std::u16string(), std::u16string(u"<node id=\"bare\"/>"),
                                         std::u16string(u"<node id=\"cut")}) {
        m_scanXml = answer;
        g_bDirty = false;
        EXPECT_EQ(Cmd(host, IDM_REFRESH_HOST), S_FALSE);
        EXPECT_TRUE(g_bDirty) << "the failure is kept with the host";
        EXPECT_EQ(host.m_picture.Text(), xml);
        ASSERT_EQ(host.GetChildren().size(), 2u);
        EXPECT_EQ(host.GetChildren()[0].get(), core);
        EXPECT_EQ(console->ScopeChildren(host.GetScopeItem()).size(), 3u);
        EXPECT_EQ(ViewOf(host), u"");  // its hardware, not the failure page
    }
    // The "general" node says when the refresh failed and which scan shows.
    const std::u16string failed = GeneralValue(host, u"last refresh");
    EXPECT_TRUE(failed.starts_with(u"failed at ")) << WideToAnsi(failed);
    EXPECT_NE(failed.find(GeneralValue(host, u"last scan")), std::u16string::npos) << WideToAnsi(failed);

    // A good scan replaces everything, in the tree and in memory, and the
    // failure is forgotten.
    m_scanXml = u"<node id=\"box\"><node id=\"fan\"/></node>";
    EXPECT_EQ(Cmd(host, IDM_REFRESH_HOST), S_OK);
    EXPECT_EQ(host.m_picture.Text(), m_scanXml);
    ASSERT_EQ(host.GetChildren().size(), 1u);
    EXPECT_EQ(host.GetChildren()[0]->GetDisplayText(0), u"fan");
    EXPECT_EQ(console->ScopeChildren(host.GetScopeItem()).size(), 2u);
    EXPECT_TRUE(console->HasScopeItem(host.GetScopeItem()));
    EXPECT_EQ(GeneralValue(host, u"last refresh"), u"");

    // A picture read from the console file has no scan time of its own.
    CHostNode& stored = AddHost(group, u"stored");
    stored.m_picture.SetText(AnsiToWide(kSmallXml));
    Expand(stored);
    EXPECT_EQ(GeneralValue(stored, u"last scan"), u"");
    m_scanXml.clear();
    EXPECT_EQ(Cmd(stored, IDM_REFRESH_HOST), S_FALSE);
    EXPECT_EQ(stored.m_picture.Text(), AnsiToWide(kSmallXml));
    EXPECT_NE(GeneralValue(stored, u"last refresh").find(u"the scan stored in the console file"), std::u16string::npos);
}

TEST(ScanStatusTest, TimesAreWrittenInUtcWithTheirCalendarDate)
{
    using namespace std::chrono;
    EXPECT_EQ(FormatUtcTime(CScanStatus::Clock::time_point{}), u"1970-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(sys_days{year{2024} / February / 29} + hours{23} + minutes{59} + seconds{59} + milliseconds{999}),
              u"2024-02-29T23:59:59Z");
    EXPECT_EQ(FormatUtcTime(sys_days{year{2026} / December / 7} + hours{1} + minutes{2} + seconds{3}),
              u"2026-12-07T01:02:03Z");
}

TEST_F(InventoryTest, NamesAndPortsOutsideTheirLimitsAreRefusedWithTheReason)
{
    ExpandRoot();
    // A group name over the limit: the message gives it, the dialog comes
    // back with the text as it was left, and Cancel then adds nothing.
    EXPECT_EQ(RefusalOf(root, IDM_ADD_GROUP, GroupAnswer(std::u16string(300, u'g')), S_OK),
              u"A name can have at most 255 characters; this one has 300.");
    EXPECT_TRUE(root.GetChildren().empty());
    ASSERT_EQ(ui.Dialogs().size(), 2u);
    EXPECT_EQ(ui.Dialogs()[1].texts.at(IDC_GROUP_NAME), std::u16string(300, u'g'));
    // "/" and control characters (C0, DEL, C1) are refused.
    for (const std::u16string bad : {u"a/b", u"tab\there", u"esc\x1B[2J", u"del\x7F", u"csi\x9B"})
        EXPECT_EQ(RefusalOf(root, IDM_ADD_GROUP, GroupAnswer(bad), S_OK),
                  u"A name cannot contain \"/\" or control characters.") << WideToAnsi(bad);
    CGroupNode& group = AddGroup(u"Lab");
    Expand(group);

    // Ports: 1 to 65535, digits only; the host name as a group's.
    for (const std::u16string port : {u"0", u"65536", u"222204", u"99999999999999999999", u"", u"22a", u"-22"}) {
        EXPECT_EQ(RefusalOf(group, IDM_ADD_HOST, HostAnswer(u"srv", port, u"root", u"pw")),
                  u"The port must be a number from 1 to 65535.") << WideToAnsi(port);
        EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_PORT), port);  // shown again as it was left
    }
    EXPECT_EQ(RefusalOf(group, IDM_ADD_HOST, HostAnswer(std::u16string(256, u'h'), u"22", u"root", u"pw")),
              u"A name can have at most 255 characters; this one has 256.");
    EXPECT_TRUE(group.GetChildren().empty());
    EXPECT_EQ(AddHost(group, u"srv", u"65535").m_nPort, 65535);
    EXPECT_EQ(AddHost(group, u"srv1", u"00001").m_nPort, 1);

    // Edit refuses the same and changes nothing.
    CHostNode& host = static_cast<CHostNode&>(*group.GetChildren().front());
    ui.Clear();
    ui.AnswerDialog(HostAnswer(u"srv/x", u"22", u"root", u""));
    ui.AnswerDialog(HostAnswer(u"srv", u"0", u"root", u""));
    ui.AnswerDialog(IDCANCEL);
    EXPECT_EQ(Cmd(host, IDM_EDIT_HOST), S_FALSE);
    EXPECT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(host.GetDisplayText(0), u"srv");
    EXPECT_EQ(host.m_nPort, 65535);
}

TEST_F(InventoryTest, RemoveHostAndDeleteGroupLeaveTheirSiblings)
{
    ExpandRoot();
    CGroupNode& keep = AddGroup(u"Keep");
    CGroupNode& doomed = AddGroup(u"Doomed");
    Expand(doomed);
    AddHost(doomed, u"a");
    CHostNode& b = AddHost(doomed, u"b");
    Expand(b, S_FALSE);  // gives b its menu; the scan finds nothing
    EXPECT_EQ(b.AddMenuItems(console.get(), CCM_INSERTIONALLOWED_TOP), S_FALSE);
    ASSERT_EQ(console->MenuItems().size(), 3u);
    EXPECT_EQ(console->MenuItems()[1].name, u"Refresh Information");
    EXPECT_EQ(console->MenuItems()[1].commandId, IDM_REFRESH_HOST);
    EXPECT_EQ(Cmd(b, IDM_REMOVE_HOST), S_OK);
    ASSERT_EQ(doomed.GetChildren().size(), 1u);
    EXPECT_EQ(doomed.GetChildren()[0]->GetDisplayText(0), u"a");

    CHostNode& host = AddHost(doomed, u"srv");
    m_scanXml = AnsiToWide(kSmallXml);
    Expand(host);
    ASSERT_GT(console->ScopeItemCount(), 5u);
    const HSCOPEITEM doomedItem = doomed.GetScopeItem();
    g_bDirty = false;
    EXPECT_EQ(Cmd(doomed, IDM_DELETE_GROUP), S_OK);
    EXPECT_TRUE(g_bDirty);
    ASSERT_EQ(root.GetChildren().size(), 1u);
    EXPECT_EQ(root.GetChildren()[0].get(), &keep);
    EXPECT_FALSE(console->HasScopeItem(doomedItem));
    EXPECT_EQ(console->ScopeItemCount(), 2u);  // the root and "Keep"
    EXPECT_TRUE(console->ScopeDeletions().back().itemToo);
}

TEST_F(InventoryTest, GroupsAndHostsRenameButNotTheRoot)
{
    ExpandRoot();
    CGroupNode& group = AddGroup(u"Lab");
    EXPECT_EQ(group.OnSelect(console.get(), TRUE, TRUE), S_OK);
    EXPECT_TRUE(console->VerbState(MMC_VERB_RENAME, ENABLED));
    EXPECT_TRUE(console->WasVerbSet(MMC_VERB_RENAME, HIDDEN));
    EXPECT_FALSE(console->VerbState(MMC_VERB_RENAME, HIDDEN));

    g_bDirty = false;
    EXPECT_EQ(group.OnRename(nullptr), S_OK);  // only a question
    EXPECT_EQ(group.GetDisplayText(0), u"Lab");
    EXPECT_FALSE(g_bDirty);
    // Names over the limit, or with "/" or a control character, are
    // refused with the reason; the name stays.
    for (std::u16string bad : {std::u16string(256, u'n'), std::u16string(u"Lab/2"), std::u16string(u"L\nab")}) {
        ui.Clear();
        EXPECT_EQ(group.OnRename(bad.data()), S_FALSE);
        EXPECT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(group.GetDisplayText(0), u"Lab");
        EXPECT_FALSE(g_bDirty);
    }
    std::u16string name(255, u'n');
    EXPECT_EQ(group.OnRename(name.data()), S_OK);
    EXPECT_EQ(group.GetDisplayText(0), name);
    EXPECT_TRUE(g_bDirty);

    std::u16string other = u"x";
    EXPECT_EQ(root.OnRename(other.data()), S_FALSE);
    // Group names are unique too, in a rename and in Add Group.
    CGroupNode& prod = AddGroup(u"Prod");
    ui.Clear();
    EXPECT_EQ(prod.OnRename(name.data()), S_FALSE);
    EXPECT_EQ(prod.Name(), u"Prod");
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find(u"group names are unique"), std::u16string::npos);
    ui.AnswerDialog({IDOK, {{IDC_GROUP_NAME, u"Prod"}}, {}});
    Cmd(root, IDM_ADD_GROUP);
    EXPECT_EQ(root.GetChildren().size(), 2u);

    // A host takes a name apart from its address, unique within its group.
    CHostNode& web = AddHost(group, u"10.0.0.5");
    CHostNode& db = AddHost(group, u"10.0.0.6");
    ui.Clear();
    EXPECT_EQ(web.OnSelect(console.get(), TRUE, TRUE), S_OK);
    EXPECT_TRUE(console->VerbState(MMC_VERB_RENAME, ENABLED));
    std::u16string webName = u"web1";
    EXPECT_EQ(web.OnRename(webName.data()), S_OK);
    EXPECT_EQ(web.GetDisplayText(0), u"web1");
    EXPECT_EQ(web.m_bstrHost, u"10.0.0.5");
    for (std::u16string taken : {std::u16string(u"web1"), std::u16string(u"")}) {
        ui.Clear();
        EXPECT_EQ(db.OnRename(taken.data()), S_FALSE) << WideToAnsi(taken);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(db.Name(), u"10.0.0.6");
    }
    EXPECT_EQ(ui.Messages().back().text, u"A name cannot be empty or only spaces.");
    // The host dialog refuses a taken name too, and says why; the edit keeps
    // the host's own name, and an empty name follows the address.
    EXPECT_NE(RefusalOf(group, IDM_ADD_HOST, {IDOK, {{IDC_HOST, u"10.0.0.7"}, {IDC_HOST_NAME, u"web1"}}, {}})
                  .find(u"holds a host named \"web1\""),
              std::u16string::npos);
    EXPECT_EQ(group.GetChildren().size(), 2u);
    ui.AnswerDialog({IDOK, {{IDC_PORT, u"2222"}}, {}});
    EXPECT_EQ(Cmd(web, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(web.Name(), u"web1");
    EXPECT_EQ(web.m_nPort, 2222);
    EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_HOST_NAME), u"web1");
    ui.AnswerDialog({IDOK, {{IDC_HOST, u"10.0.0.60"}}, {}});
    EXPECT_EQ(Cmd(db, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(db.Name(), u"10.0.0.60");
}

TEST_F(InventoryTest, SavePasswordsAsksForTheMainPasswordAndCancelKeepsItOff)
{
    ExpandRoot();
    ui.AnswerDialog(IDCANCEL);
    EXPECT_EQ(Cmd(root, IDM_SAVE_PASSWORDS), S_OK);
    EXPECT_FALSE(root.m_bSavePasswords);
    EXPECT_FALSE(g_bDirty);
    EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_PASSWORD_TEXT),
              u"New main password");

    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});  // typed twice
    Cmd(root, IDM_SAVE_PASSWORDS);
    EXPECT_TRUE(root.m_bSavePasswords);
    EXPECT_EQ(g_bstrMainPassword, u"main");
    EXPECT_TRUE(g_bDirty);
    root.AddMenuItems(console.get(), CCM_INSERTIONALLOWED_TOP);
    EXPECT_EQ(console->MenuItems()[2].flags, MF_CHECKED);

    g_bDirty = false;
    Cmd(root, IDM_SAVE_PASSWORDS);
    EXPECT_FALSE(root.m_bSavePasswords);
    EXPECT_TRUE(g_bstrMainPassword.empty());
    EXPECT_TRUE(g_bDirty);
}

}  // namespace

TEST_F(InventoryTest, TheHostDialogKeepsTheLoginWaysAndAChangedKeyDropsItsPassphrase)
{
    ExpandRoot();
    CGroupNode& group = AddGroup(u"Lab");
    // Added with a key file, its passphrase and the agent.
    auto answer = HostAnswer(u"srv", u"22", u"ops", u"");
    answer.texts[IDC_KEY_FILE] = u"/home/ops/.ssh/id_ed25519";
    answer.texts[IDC_PASSPHRASE] = u"phrase-1";
    answer.checks[IDC_USE_AGENT] = 1;
    ui.AnswerDialog(answer);
    ASSERT_EQ(Cmd(group, IDM_ADD_HOST), S_OK);
    auto& host = static_cast<CHostNode&>(*group.GetChildren().back());
    EXPECT_EQ(host.m_bstrKeyFile, u"/home/ops/.ssh/id_ed25519");
    EXPECT_EQ(host.m_bstrPassphrase, u"phrase-1");
    EXPECT_TRUE(host.m_bUseAgent);

    // Edit shows the path and the check but never the passphrase; leaving
    // it empty keeps it.
    ui.AnswerDialog({IDOK, {}, {}});
    ASSERT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_KEY_FILE), u"/home/ops/.ssh/id_ed25519");
    EXPECT_EQ(ui.Dialogs().back().texts.at(IDC_PASSPHRASE), u"");
    EXPECT_EQ(ui.Dialogs().back().checks.at(IDC_USE_AGENT), 1);
    EXPECT_EQ(host.m_bstrPassphrase, u"phrase-1");
    // Another key: the old key's passphrase would only be wrong for it.
    ui.AnswerDialog({IDOK, {{IDC_KEY_FILE, u"/home/ops/.ssh/id_rsa"}}, {{IDC_USE_AGENT, 0}}});
    ASSERT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(host.m_bstrPassphrase, u"");
    EXPECT_FALSE(host.m_bUseAgent);
    // "Clear the stored password" forgets the passphrase too.
    ui.AnswerDialog({IDOK, {{IDC_PASSPHRASE, u"phrase-2"}, {IDC_PASSWORD, u"pw"}}, {}});
    ASSERT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(host.m_bstrPassphrase, u"phrase-2");
    ui.AnswerDialog({IDOK, {}, {{IDC_CLEAR_PASSWORD, 1}}});
    ASSERT_EQ(Cmd(host, IDM_EDIT_HOST), S_OK);
    EXPECT_EQ(host.m_bstrPassphrase, u"");
    EXPECT_EQ(host.m_bstrPassword, u"");

    // A path with a control character or beyond the stored length is
    // refused and the dialog comes back.
    for (const std::u16string& path : {std::u16string(u"/k\x1b[2J"), u"/" + std::u16string(1024, u'k')}) {
        EXPECT_NE(RefusalOf(host, IDM_EDIT_HOST, {IDOK, {{IDC_KEY_FILE, path}}, {}}), u"");
        EXPECT_EQ(host.m_bstrKeyFile, u"/home/ops/.ssh/id_rsa");
    }
}
