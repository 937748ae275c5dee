// The host core driving the real snap-in module, loaded by its class as the
// program loads it, with a scripted user interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "console/node_data.h"
#include "tests/console/host_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

class CRecorder : public IConsoleHostObserver {
public:
    void OnScopeItemInserted(HSCOPEITEM item) override { inserted.push_back(item); }
    void OnScopeItemDeleted(HSCOPEITEM item) override { deleted.push_back(item); }
    void OnSelectionChanged(HSCOPEITEM item) override { selections.push_back(item); }
    std::vector<HSCOPEITEM> inserted, deleted, selections;
};

using HostCoreTest = CHostFixture;

TEST_F(HostCoreTest, MenusCommandsAndRenameChangeTheTreeAsTheConsoleShowsIt)
{
    CRecorder recorder;
    CConsoleHost host;
    host.SetObserver(&recorder);
    ASSERT_TRUE(host.OpenNew());
    const HSCOPEITEM root = host.RootItem();
    EXPECT_EQ(host.DisplayName(root), u"My Linux Servers");
    EXPECT_TRUE(host.Item(root).isStatic);
    EXPECT_TRUE(host.Item(root).expandable);
    EXPECT_TRUE(host.MenuItems(root).empty());  // offered after the first expansion only

    EXPECT_EQ(host.Expand(root), S_OK);
    const std::vector<MenuItemView> menu = host.MenuItems(root);
    ASSERT_EQ(menu.size(), 7u);
    EXPECT_EQ(menu[0].name, u"Add Group");
    EXPECT_TRUE(menu[1].separator);
    EXPECT_EQ(menu[2].name, u"Save Passwords");
    EXPECT_FALSE(menu[2].checked);
    EXPECT_FALSE(host.Item(root).expandable);  // expanded and still empty

    for (const char16_t* name : {u"Lab", u"Prod"}) {
        m_ui.AnswerDialog({IDOK, {{IDC_GROUP_NAME, name}}, {}});
        EXPECT_EQ(host.InvokeCommand(root, Command(host, root, u"Add Group")), S_OK);
    }
    const std::vector<HSCOPEITEM> groups = host.Children(root);
    ASSERT_EQ(groups.size(), 2u);  // each add inserts exactly the new group
    EXPECT_EQ(host.DisplayName(groups[0]), u"Lab");
    EXPECT_EQ(host.Parent(groups[1]), root);
    EXPECT_TRUE(host.Item(groups[0]).expandable);
    EXPECT_EQ(host.Item(groups[0]).image, 0);
    EXPECT_EQ(recorder.inserted.size(), 3u);  // the static node and two groups
    EXPECT_TRUE(host.IsDirty());

    EXPECT_FALSE(host.CanRename(root));
    EXPECT_EQ(host.Rename(root, u"x"), S_FALSE);
    EXPECT_EQ(host.DisplayName(root), u"My Linux Servers");
    EXPECT_TRUE(host.CanRename(groups[0]));
    EXPECT_EQ(host.Rename(groups[0], u"Lab 2"), S_OK);
    EXPECT_EQ(host.DisplayName(groups[0]), u"Lab 2");

    ASSERT_EQ(host.Select(groups[0]), S_OK);
    // A group lists its hosts with their last scan, result, login and sudo.
    ASSERT_EQ(host.Result().kind, ResultKind::List);
    ASSERT_EQ(host.Result().columns.size(), 5u);
    EXPECT_EQ(host.Result().columns[2].title, u"Result");

    // Deleting the selected group moves the selection to its parent.
    host.Expand(groups[0]);
    EXPECT_EQ(host.InvokeCommand(groups[0], Command(host, groups[0], u"Delete Group")), S_OK);
    EXPECT_FALSE(host.Exists(groups[0]));
    EXPECT_EQ(recorder.deleted, std::vector<HSCOPEITEM>{groups[0]});
    EXPECT_EQ(host.Selected(), root);
    EXPECT_EQ(host.Result().pageName, "mycomputers.html");
    EXPECT_EQ(host.Children(root), std::vector<HSCOPEITEM>{groups[1]});
    host.SetObserver(nullptr);
}

TEST_F(HostCoreTest, HardwareRowsComeThroughTheListAndSurviveTheHostsRemoval)
{
    CConsoleHost host;
    const HSCOPEITEM srv = OpenHostWithXml(host, "root.xml");
    const HSCOPEITEM lab = host.Parent(srv);
    EXPECT_TRUE(host.Children(srv).empty());

    // A restored host asks for its login, then builds its tree from the XML.
    ExpandHost(host, srv);
    ASSERT_EQ(m_ui.Dialogs().size(), 1u);
    const std::vector<HSCOPEITEM> hardware = host.Children(srv);
    ASSERT_GE(hardware.size(), 2u);
    EXPECT_EQ(host.DisplayName(hardware[0]), u"general");

    host.Select(hardware[0]);
    const ResultView& general = host.Result();
    ASSERT_EQ(general.kind, ResultKind::List);
    ASSERT_EQ(general.columns.size(), 2u);
    EXPECT_EQ(general.columns[0].title, u"Name");
    EXPECT_EQ(general.columns[1].title, u"Value");
    ASSERT_FALSE(general.rows.empty());
    EXPECT_EQ(general.rows[0].cells, (std::vector<std::u16string>{u"description", u"Computer"}));

    const HSCOPEITEM core = Child(host, srv, u"core");
    host.Select(core);  // not yet expanded: it lists its own rows
    const std::size_t unexpandedRows = host.Result().rows.size();
    EXPECT_GT(unexpandedRows, 0u);
    host.Expand(core);
    host.Select(core);  // expanded: its rows moved to its "general" child
    EXPECT_TRUE(host.Result().rows.empty());
    EXPECT_EQ(host.DisplayName(host.Children(core)[0]), u"general");

    const HSCOPEITEM cpu = Child(host, core, u"cpu");
    host.Select(cpu);
    const auto& rows = host.Result().rows;
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const ResultRowView& row) {
        return row.cells[0] == u"product" && row.cells[1] == u"AMD EPYC";
    }));

    // Removing the host takes the selected hardware node with it.
    host.Select(cpu);
    EXPECT_EQ(host.InvokeCommand(srv, 2), S_OK);
    EXPECT_FALSE(host.Exists(srv));
    EXPECT_FALSE(host.Exists(cpu));
    EXPECT_EQ(host.Selected(), lab);
    EXPECT_EQ(host.Result().kind, ResultKind::List);
}

TEST_F(HostCoreTest, SavedConsolesReloadAndAFailedSaveStaysUnsaved)
{
    TempDir dir;
    const std::string path = dir.file("console.fdx");
    {
        CConsoleHost host;
        ASSERT_TRUE(host.Open(path));  // missing: a new console for that file
        EXPECT_FALSE(host.IsDirty());
        host.Expand(host.RootItem());
        m_ui.AnswerDialog({IDOK, {{IDC_GROUP_NAME, u"Lab"}}, {}});
        host.InvokeCommand(host.RootItem(), Command(host, host.RootItem(), u"Add Group"));
        ASSERT_TRUE(host.Save());
        EXPECT_FALSE(host.IsDirty());

        m_ui.AnswerDialog({IDOK, {{IDC_GROUP_NAME, u"Prod"}}, {}});
        host.InvokeCommand(host.RootItem(), Command(host, host.RootItem(), u"Add Group"));
        EXPECT_FALSE(host.SaveAs(dir.file("no/such/folder/console.fdx")));
        EXPECT_TRUE(host.IsDirty());  // the snap-in was saved, the file was not
        EXPECT_EQ(host.FilePath(), path);
    }
    CConsoleHost reopened;
    ASSERT_TRUE(reopened.Open(path));
    EXPECT_FALSE(reopened.IsDirty());
    reopened.Expand(reopened.RootItem());
    ASSERT_EQ(reopened.Children(reopened.RootItem()).size(), 1u);
    EXPECT_EQ(reopened.DisplayName(reopened.Children(reopened.RootItem())[0]), u"Lab");
    EXPECT_FALSE(reopened.Open(path));  // one console per host

    std::ofstream(dir.file("foreign.fdx")) << "not a console";
    CConsoleHost refused;
    const HostStatus status = refused.Open(dir.file("foreign.fdx"));
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find(dir.file("foreign.fdx")), std::string::npos);
    EXPECT_FALSE(refused.Save());
}

// What a console reads by showing every node: its rows as selected before
// its expansion, then its children.
FleetNode ReadShown(CConsoleHost& host, HSCOPEITEM item)
{
    FleetNode node;
    node.name = host.DisplayName(item);
    host.Select(item);
    for (const ResultRowView& row : host.Result().rows)
        node.rows.emplace_back(row.cells.at(0), row.cells.size() > 1 ? row.cells[1] : u"");
    host.Expand(item);
    for (HSCOPEITEM child : host.Children(item)) node.children.push_back(ReadShown(host, child));
    return node;
}

bool SameNodes(const std::vector<FleetNode>& a, const std::vector<FleetNode>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].rows != b[i].rows || !SameNodes(a[i].children, b[i].children))
            return false;
    return true;
}

}  // namespace

TEST_F(HostCoreTest, AHostsTreeReadInOnePieceIsWhatShowingEveryNodeGives)
{
    CConsoleHost host;
    const HSCOPEITEM srv = OpenHostWithXml(host, "root.xml");

    std::vector<FleetNode> tree;
    ASSERT_TRUE(host.HostTree(srv, tree));
    EXPECT_TRUE(m_ui.Dialogs().empty()) << "reading a stored picture asks nothing";
    EXPECT_TRUE(host.Children(srv).empty()) << "the host was not expanded for it";
    EXPECT_FALSE(host.WasExpanded(srv));
    std::vector<FleetNode> again;
    ASSERT_TRUE(host.HostTree(srv, again));
    EXPECT_TRUE(SameNodes(tree, again)) << "the tree built for the read and dropped again reads the same";

    ExpandHost(host, srv);
    std::vector<FleetNode> shown;
    for (HSCOPEITEM child : host.Children(srv)) shown.push_back(ReadShown(host, child));
    ASSERT_GE(shown.size(), 2u);
    EXPECT_TRUE(SameNodes(tree, shown));
    ASSERT_TRUE(host.HostTree(srv, again));
    EXPECT_TRUE(SameNodes(tree, again)) << "an expanded host gives the tree it shows";

    // The bytes are refused whole when cut anywhere, when a node claims
    // more than is there, or when nesting goes past its bound.
    const auto bytes = [](const std::vector<std::uint32_t>& words) {
        std::vector<std::uint8_t> out;
        for (std::uint32_t word : words)
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
        return out;
    };
    const std::vector<std::uint8_t> leaf = bytes({1, 0, 0, 0, 0});  // one node: no name, class, rows, children
    ASSERT_TRUE(ParseHostTree(leaf));
    for (std::size_t cut = 0; cut < leaf.size(); ++cut) EXPECT_FALSE(ParseHostTree(std::span(leaf.data(), cut)));
    std::vector<std::uint8_t> trailing = leaf;
    trailing.push_back(0);
    EXPECT_FALSE(ParseHostTree(trailing));
    EXPECT_FALSE(ParseHostTree(bytes({1, 0x7FFFFFFF, 0, 0, 0})));
    EXPECT_FALSE(ParseHostTree(bytes({1, 0, 0, 0x40000000, 0})));
    EXPECT_FALSE(ParseHostTree(bytes({0x40000000, 0, 0, 0, 0})));
    std::vector<std::uint32_t> deep;
    for (std::size_t depth = 0; depth <= kMaxHostTreeDepth + 1; ++depth) deep.insert(deep.end(), {1, 0, 0, 0});
    deep.push_back(0);
    EXPECT_FALSE(ParseHostTree(bytes(deep)));
}
