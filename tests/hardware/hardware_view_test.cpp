// What the console shows of a hardware tree: the scope items inserted for a
// host and at each expansion, and the Name/Value list of every show.
#include <gtest/gtest.h>

#include "hardware/general_node.h"
#include "hardware/property_item.h"
#include "tests/hardware/hardware_test_util.h"
#include "tests/support/fake_console.h"

namespace {

using namespace hwtest;

constexpr const char16_t* kMachine =
    u"<node id='pc'><description>Computer</description>"
    u"<capabilities><capability id='smp'>Symmetric Multi-Processing</capability><capability id='wp'/></capabilities>"
    u"<node id='core'><description>Motherboard</description>"
    u"  <node id='cpu'><product>EPYC</product><clock>2400000000</clock></node>"
    u"  <node id='memory'><size>1073741824</size><node id='bank:0'><size>536870912</size></node></node>"
    u"</node>"
    u"<node id='power'/>"
    u"</node>";

class HardwareViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_host = HostWithXml(kMachine);
        ASSERT_EQ(BuildHardwareTree(*m_host), 0);
        m_host->SetScopeItem(m_console->AddStaticItem(m_host->GetCookie()));
    }

    void TearDown() override
    {
        m_host.reset();
        EXPECT_EQ(m_console->RefCount(), 1u) << "a console reference leaked";
    }

    CHardwareNode& Node(std::initializer_list<std::u16string_view> path)
    {
        CHardwareNode* node = Find(*m_host, path);
        EXPECT_NE(node, nullptr);
        return *node;
    }

    HRESULT Expand(CConsoleNode& node)
    {
        return node.OnExpand(m_console.get(), m_console.get(), node.GetScopeItem());
    }

    HRESULT Show(CConsoleNode& node, bool viewFlag = false, BOOL show = TRUE)
    {
        return node.OnShow(viewFlag, m_console.get(), show, node.GetScopeItem());
    }

    // The lines of the result pane as the console would draw them.
    Rows Lines()
    {
        Rows lines;
        for (const auto& line : m_console->ResultItems()) {
            EXPECT_TRUE(line.textByCallback);
            EXPECT_EQ(line.nImage, 3);
            EXPECT_EQ(line.mask, RDI_STR | RDI_IMAGE | RDI_PARAM);
            CConsoleNode* item = NodeFromCookie(line.lParam);
            EXPECT_EQ(item->GetNodeType(), kPropertyItemType);
            lines.emplace_back(item->GetDisplayText(0), item->GetDisplayText(1));
        }
        return lines;
    }

    // The scope children of a node as (display text, image, child count).
    std::vector<std::tuple<std::u16string, int, int>> ScopeChildren(CConsoleNode& node)
    {
        std::vector<std::tuple<std::u16string, int, int>> children;
        for (const auto& item : m_console->ScopeChildren(node.GetScopeItem())) {
            EXPECT_TRUE(item.textByCallback);
            EXPECT_EQ(item.nImage, item.nOpenImage);
            CConsoleNode* child = NodeFromCookie(item.lParam);
            EXPECT_EQ(child->GetScopeItem(), item.handle);
            children.emplace_back(child->GetDisplayText(0), item.nImage, item.cChildren);
        }
        return children;
    }

    com_ptr<CFakeConsole> m_console = CFakeConsole::Create();
    std::unique_ptr<CHostNode> m_host;
};

using Scope = std::vector<std::tuple<std::u16string, int, int>>;

TEST_F(HardwareViewTest, HostAndEachExpansionInsertGeneralFirstThenTheChildrenOnce)
{
    ASSERT_EQ(InsertHostHardware(*m_host, m_console.get()), S_OK);
    ASSERT_TRUE(m_host->m_pGeneral);
    EXPECT_EQ(ScopeChildren(*m_host), (Scope{{u"general", 4, 0}, {u"core", 4, 2}, {u"power", 4, 0}}));
    EXPECT_EQ(m_host->m_pGeneral->GetNodeType(), kGeneralNodeType);
    EXPECT_EQ(m_host->m_pGeneral->m_pParent, m_host.get());

    CHardwareNode& core = Node({u"core"});
    EXPECT_EQ(Expand(core), S_OK);
    EXPECT_TRUE(core.IsExpanded());
    EXPECT_EQ(m_console->ExpandRequests().back(), core.GetScopeItem());
    EXPECT_EQ(ScopeChildren(core), (Scope{{u"general", 4, 0}, {u"cpu", 4, 0}, {u"memory", 4, 1}}));
    ASSERT_TRUE(core.m_pGeneral);
    EXPECT_EQ(core.m_pGeneral->m_names, core.Names());
    EXPECT_EQ(core.m_pGeneral->m_values, core.Values());

    std::size_t inserted = m_console->ScopeInsertions().size();
    EXPECT_EQ(Expand(core), S_OK);
    EXPECT_EQ(m_console->ScopeInsertions().size(), inserted);
    EXPECT_EQ(ScopeChildren(core).size(), 3u);

    CHardwareNode& memory = Node({u"core", u"memory"});
    EXPECT_EQ(Expand(memory), S_OK);
    EXPECT_EQ(ScopeChildren(memory), (Scope{{u"general", 4, 0}, {u"bank:0", 4, 0}}));

    // A leaf inserts nothing, not even a "general".
    CHardwareNode& power = Node({u"power"});
    inserted = m_console->ScopeInsertions().size();
    EXPECT_EQ(Expand(power), S_FALSE);
    EXPECT_TRUE(power.IsExpanded());
    EXPECT_FALSE(power.m_pGeneral);
    EXPECT_EQ(m_console->ScopeInsertions().size(), inserted);
}

TEST_F(HardwareViewTest, FailedInsertionKeepsWhatWasInsertedAndNeverRepeats)
{
    ASSERT_EQ(InsertHostHardware(*m_host, m_console.get()), S_OK);
    CHardwareNode& core = Node({u"core"});
    m_console->FailScopeInsertAt(m_console->ScopeInsertions().size() + 1);  // the first child after general
    EXPECT_EQ(Expand(core), S_FALSE);
    EXPECT_EQ(ScopeChildren(core), (Scope{{u"general", 4, 0}}));
    EXPECT_EQ(Expand(core), S_OK);
    EXPECT_EQ(ScopeChildren(core).size(), 1u);
}

TEST_F(HardwareViewTest, EveryShowRebuildsTheRowsUnderNameAndValue)
{
    CHardwareNode& cpu = Node({u"core", u"cpu"});
    ASSERT_EQ(Show(cpu), S_OK);
    ASSERT_EQ(Show(cpu), S_OK);
    const auto columns = m_console->Columns();
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[0].title, u"Name");
    EXPECT_EQ(columns[1].title, u"Value");
    EXPECT_EQ(Lines(), (Rows{{u"product", u"EPYC"}, {u"clock", u"2400 MHz"}}));
    CConsoleNode* item = NodeFromCookie(m_console->ResultItems()[0].lParam);
    EXPECT_EQ(item->GetDisplayText(2), u"");
    EXPECT_EQ(dynamic_cast<CPropertyItem&>(*item).GetParent(), &cpu);
    EXPECT_EQ(m_console->DeleteAllCount(), 2u);
    EXPECT_EQ(m_console->ColumnInsertions().size(), 4u);
    // The items alive are exactly the ones the lines point to.
    ASSERT_EQ(cpu.m_items.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(cpu.m_items[i]->GetCookie(), m_console->ResultItems()[i].lParam);

    // A node without rows shows the columns and an empty list.
    EXPECT_EQ(Show(Node({u"power"})), S_OK);
    EXPECT_EQ(m_console->Columns().size(), 2u);
    EXPECT_TRUE(m_console->ResultItems().empty());
}

TEST_F(HardwareViewTest, DeselectViewFlagOrAMissingInterfaceShowNothing)
{
    CHardwareNode& cpu = Node({u"core", u"cpu"});
    EXPECT_EQ(Show(cpu, true), S_FALSE);
    EXPECT_EQ(Show(cpu, false, FALSE), S_FALSE);
    ASSERT_TRUE(InsertHostHardware(*m_host, m_console.get()) == S_OK && m_host->m_pGeneral);
    EXPECT_EQ(Show(*m_host->m_pGeneral, true), S_OK);
    EXPECT_EQ(Show(*m_host->m_pGeneral, false, FALSE), S_OK);
    EXPECT_TRUE(m_console->ColumnInsertions().empty());
    EXPECT_TRUE(m_console->ResultItems().empty());

    // Deselection leaves the list as it was.
    ASSERT_EQ(Show(cpu), S_OK);
    EXPECT_EQ(Show(cpu, false, FALSE), S_FALSE);
    EXPECT_EQ(m_console->ResultItems().size(), 2u);
    EXPECT_EQ(cpu.m_items.size(), 2u);

    // Without the header or the result interface, or any console, the show ends.
    auto other = CFakeConsole::Create();
    other->FailQueryInterface(IID_IHeaderCtrl);
    EXPECT_EQ(cpu.OnShow(false, other.get(), TRUE, 0), S_FALSE);
    EXPECT_TRUE(other->ColumnInsertions().empty());
    other = CFakeConsole::Create();
    other->FailQueryInterface(IID_IResultData);
    EXPECT_EQ(cpu.OnShow(false, other.get(), TRUE, 0), S_FALSE);
    EXPECT_TRUE(other->ResultItems().empty());
    EXPECT_EQ(other->RefCount(), 1u);
    EXPECT_EQ(cpu.OnShow(false, nullptr, TRUE, 0), S_FALSE);
}

TEST_F(HardwareViewTest, RowsOfAnExpandedNodeShowOnlyUnderItsGeneral)
{
    ASSERT_EQ(InsertHostHardware(*m_host, m_console.get()), S_OK);
    CHardwareNode& core = Node({u"core"});
    ASSERT_EQ(Expand(core), S_OK);
    EXPECT_EQ(Show(core), S_FALSE);
    EXPECT_TRUE(m_console->ResultItems().empty());
    EXPECT_EQ(Show(*core.m_pGeneral), S_OK);
    EXPECT_EQ(Lines(), (Rows{{u"description", u"Motherboard"}}));

    CGeneralNode& general = *m_host->m_pGeneral;
    EXPECT_EQ(Show(general), S_OK);
    EXPECT_EQ(Show(general), S_OK);
    EXPECT_EQ(Lines(), (Rows{{u"description", u"Computer"}, {u"Symmetric Multi-Processing", u"smp"}, {u"", u"wp"}}));
    EXPECT_EQ(general.GetChildren().size(), 3u);
}

TEST_F(HardwareViewTest, NodeShownBeforeExpandKeepsItemsApartFromChildren)
{
    ASSERT_EQ(InsertHostHardware(*m_host, m_console.get()), S_OK);
    CHardwareNode& core = Node({u"core"});
    ASSERT_EQ(Show(core), S_OK);
    ASSERT_EQ(Show(core), S_OK);
    EXPECT_EQ(Lines(), (Rows{{u"description", u"Motherboard"}}));
    EXPECT_EQ(core.m_items.size(), 1u);
    EXPECT_EQ(ChildIds(core), (std::vector<std::u16string>{u"cpu", u"memory"}));

    ASSERT_EQ(Expand(core), S_OK);
    EXPECT_EQ(ScopeChildren(core), (Scope{{u"general", 4, 0}, {u"cpu", 4, 0}, {u"memory", 4, 1}}));
}

TEST_F(HardwareViewTest, FailedLineKeepsTheLinesBeforeIt)
{
    ASSERT_EQ(InsertHostHardware(*m_host, m_console.get()), S_OK);
    CGeneralNode& general = *m_host->m_pGeneral;
    m_console->FailResultInsertAt(2);
    EXPECT_EQ(Show(general), S_FALSE);
    EXPECT_EQ(Lines(), (Rows{{u"description", u"Computer"}, {u"Symmetric Multi-Processing", u"smp"}}));
    EXPECT_EQ(general.GetChildren().size(), 2u);

    m_console->FailColumnInsertAt(m_console->ColumnInsertions().size() + 1);
    EXPECT_EQ(Show(general), S_FALSE);
    EXPECT_EQ(m_console->ResultItems().size(), 2u);  // stopped before the old lines went
}

TEST(PropertyItemTest, CopiesItsTexts)
{
    std::u16string name = u"vendor", value = u"Intel";
    CPropertyItem item(name, value, nullptr);
    name.assign(u"changed");
    value.clear();
    EXPECT_EQ(item.GetDisplayText(0), u"vendor");
    EXPECT_EQ(item.GetDisplayText(1), u"Intel");
    EXPECT_EQ(item.GetDisplayText(-1), u"");
    EXPECT_EQ(item.GetImageIndex(), 3);
    EXPECT_EQ(item.GetCookie(), reinterpret_cast<MMC_COOKIE>(&item));
    EXPECT_EQ(CPropertyItem(u"", u"", nullptr).GetDisplayText(1), u"");
}

}  // namespace
