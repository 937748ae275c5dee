// Hardware trees built from small documents for each corner of the format,
// and every way the build can fail.
#include <gtest/gtest.h>

#include <functional>

#include "hardware/hardware_tree.h"
#include "inventory/host_hardware.h"
#include "tests/hardware/hardware_test_util.h"
#include "tests/support/scripted_ui.h"

namespace {

using namespace hwtest;

// Every node of a tree, depth first.
void Walk(const CConsoleNode& node, const std::function<void(const CHardwareNode&, int)>& visit, int depth = 1)
{
    for (const auto& child : node.GetChildren()) {
        const auto& hardware = dynamic_cast<const CHardwareNode&>(*child);
        visit(hardware, depth);
        Walk(hardware, visit, depth + 1);
    }
}

// --- Real outputs --------------------------------------------------------
// Every node and row of the real outputs is compared with its tree by the
// preview.same_tree tests; here, what the preview cannot show.

TEST(HardwareTreeTest, ListOfOneClassReadsItsFirstNodeAsTheTop)
{
    // `lshw -class processor`: the processor is the top element; it has
    // no hardware children, so a scan of it would fail, but its rows are
    // read like any top element's (undescribed capabilities give rows
    // with an empty name).
    auto host = HostWithXml(LshwFile("list_processor.xml"));
    EXPECT_EQ(BuildHardwareTree(*host), 0);
    EXPECT_TRUE(host->GetChildren().empty());
    const Rows top = GeneralRows(*host);
    ASSERT_GE(top.size(), 5u);
    EXPECT_EQ(top[0], Row(u"product", u"AMD EPYC"));
    EXPECT_NE(std::find(top.begin(), top.end(), Row(u"", u"wp")), top.end());
    EXPECT_NE(std::find(top.begin(), top.end(), Row(u"mathematical co-processor", u"fpu")), top.end());
}

// --- Small documents -------------------------------------------------------

std::unique_ptr<CHostNode> Build(std::u16string xmlText, int expected = 0)
{
    auto host = HostWithXml(std::move(xmlText));
    EXPECT_EQ(BuildHardwareTree(*host), expected);
    return host;
}

// The rows of the top element and of its one child, for each corner of the
// format.
TEST(HardwareTreeTest, CapabilitiesContainersQuantitiesAndStrayTextGiveRows)
{
    const struct {
        const char* what;
        std::u16string xml;
        Rows top;
        std::u16string child;
        Rows rows;
    } cases[] = {
        {"capabilities: a row each at the top; below, the described first and the others joined",
         u"<node id='pc'><capabilities><capability id='fpu'>mathematical co-processor</capability>"
         u"<capability id='wp'/><capability id='vme'/></capabilities><node id='cpu'><capabilities>"
         u"<capability id='wp'/><capability id='fpu'>mathematical co-processor</capability>"
         u"<capability id='vme'></capability></capabilities><product>X</product></node></node>",
         {{u"mathematical co-processor", u"fpu"}, {u"", u"wp"}, {u"", u"vme"}},
         u"cpu",
         {{u"mathematical co-processor", u"fpu"}, {u"capabilities", u"wp, vme"}, {u"product", u"X"}}},
        {"containers and quantities are expanded only below the top",
         u"<node id='pc'><size>1024</size><configuration><setting id='boot' value='normal'/></configuration>"
         u"<node id='nic'>"
         u"<configuration><setting id='driver' value='e1000'/><setting id='duplex'/></configuration>"
         u"<resources><resource type='irq' value='11'/><resource type='ioport'/></resources>"
         u"<size units='bit/s'>100000000</size><capacity units='bytes'>536870912</capacity>"
         u"<clock units='Hz'>0</clock><clock/><clock units='MHz'>2400000000</clock>"
         u"</node></node>",
         {{u"size", u"1024"}, {u"configuration", u""}},
         u"nic",
         {{u"driver", u"e1000"}, {u"duplex", u""}, {u"irq", u"11"}, {u"ioport", u""},
          {u"size", u"100000000 bit/s"}, {u"capacity", u"512 Mb"}, {u"clock", u"0"}, {u"clock", u""},
          {u"clock", u"2400 MHz"}}},
        {"comments and stray text become rows",
         u"<node id='pc'><!-- top note --><node id='a'>loose<!--inner--><vendor>V<!--x-->W</vendor></node></node>",
         {{u"#comment", u" top note "}},
         u"a",
         {{u"#text", u"loose"}, {u"#comment", u"inner"}, {u"vendor", u"VW"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto host = Build(c.xml);
        EXPECT_EQ(GeneralRows(*host), c.top);
        const CHardwareNode* child = Find(*host, {c.child});
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(NodeRows(*child), c.rows);
    }
}

TEST(HardwareTreeTest, AnErrorInsideOneNodeStopsOnlyThatNode)
{
    // A node without "id" and a setting without "id" both end their own
    // node's construction; what was read before stays, siblings go on.
    auto host = Build(
        u"<node id='pc'><node><vendor>lost</vendor><node id='lost-child'/></node>"
        u"<node id='half'><vendor>kept</vendor><configuration><setting value='x'/></configuration>"
        u"<product>lost</product><node id='lost-too'/></node>"
        u"<node id='after'><vendor>fine</vendor></node></node>");
    EXPECT_EQ(ChildIds(*host), (std::vector<std::u16string>{u"", u"half", u"after"}));
    const auto& nameless = AsHardware(host->GetChildren()[0]);
    EXPECT_TRUE(nameless.Names().empty());
    EXPECT_TRUE(nameless.GetChildren().empty());
    const CHardwareNode* half = Find(*host, {u"half"});
    ASSERT_NE(half, nullptr);
    EXPECT_EQ(NodeRows(*half), (Rows{{u"vendor", u"kept"}}));
    EXPECT_TRUE(half->GetChildren().empty());
    EXPECT_EQ(NodeRows(*Find(*host, {u"after"})), (Rows{{u"vendor", u"fine"}}));
}

// Rows are read from the document when first asked for: the nodes keep it,
// whatever the host did with its own references since.
TEST(HardwareTreeTest, RowsReadLaterComeFromTheDocumentTheNodesKeep)
{
    auto host = Build(LshwFile("root.xml"));
    CHardwareNode* disk = Find(*host, {u"core", u"pci", u"storage", u"virtio1"});
    ASSERT_NE(disk, nullptr);
    host->m_spXmlDoc = nullptr;
    host->m_picture.SetText(u"<node id='other'/>");
    EXPECT_EQ(Value(*disk, u"mount.fstype"), u"ext4");
    EXPECT_EQ(NodeRows(*disk), NodeRows(*disk));  // read once, then kept
}

TEST(HardwareTreeTest, NestsFourLevelsDeepAndCutsLongIdsAt256)
{
    const std::u16string id(300, u'x');
    auto host = Build(
        u"<node id='l0'><node id='l1'><node id='l2'><node id='l3'><node id='l4'><serial>42</serial></node>"
        u"</node><node id='l3b'/></node></node><node id='" + id + u"'/></node>");
    const CHardwareNode* deepest = Find(*host, {u"l1", u"l2", u"l3", u"l4"});
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(NodeRows(*deepest), (Rows{{u"serial", u"42"}}));
    EXPECT_EQ(deepest->m_pParent, Find(*host, {u"l1", u"l2", u"l3"}));
    EXPECT_EQ(ChildIds(*Find(*host, {u"l1", u"l2"})), (std::vector<std::u16string>{u"l3", u"l3b"}));
    EXPECT_EQ(ChildIds(*host), (std::vector<std::u16string>{u"l1", id.substr(0, 256)}));
}

TEST(HardwareTreeTest, NestingBeyondTheLimitIsLeftOut)
{
    std::u16string text;
    const int depth = 5000;
    for (int i = 0; i < depth; ++i) text += u"<node id='n'><vendor>v</vendor>";
    for (int i = 0; i < depth; ++i) text += u"</node>";
    auto host = Build(text);
    int deepest = 0;
    Walk(*host, [&](const CHardwareNode& node, int level) {
        deepest = std::max(deepest, level);
        EXPECT_EQ(NodeRows(node), (Rows{{u"vendor", u"v"}}));
    });
    EXPECT_EQ(deepest, CHardwareNode::kMaxDepth);
}

// --- Failures ----------------------------------------------------------------

HRESULT NoXmlService(REFCLSID, IXMLDOMDocument** document)
{
    *document = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

TEST(HardwareTreeTest, UnreadableDocumentsOrNoXmlServiceFailAndOnlyAnEmptyTextSaysSo)
{
    CScopedScriptedUi ui;
    for (std::u16string text : {u"<node id='pc'><node id='a'></node>", u"Permission denied", u"<other><node id='a'/></other>",
                                u"<list><other/></list>", u"<list/>", u"<node id='a'/><node id='b'/>"}) {
        auto host = HostWithXml(text);
        EXPECT_EQ(BuildHardwareTree(*host), 1) << WideToAnsi(text);
        EXPECT_TRUE(host->GetChildren().empty());
        EXPECT_TRUE(host->m_generalNames.empty());
    }
    const XmlDocumentFactory previous = SetXmlDocumentFactory(&NoXmlService);
    auto host = HostWithXml(u"<node id='pc'><node id='a'/></node>");
    EXPECT_EQ(BuildHardwareTree(*host), 1);
    SetXmlDocumentFactory(previous);
    EXPECT_EQ(host->m_hrXml, CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_TRUE(host->GetChildren().empty());
    EXPECT_TRUE(ui.Messages().empty());

    // Only an empty text says so: the box of a missing file.
    EXPECT_EQ(BuildHardwareTree(*HostWithXml(u"")), 1);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].text, u"Can't find file: ");
    EXPECT_EQ(ui.Messages()[0].caption, u"Error");
    EXPECT_EQ(ui.Messages()[0].type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_EQ(ui.Messages()[0].type & MB_TYPEMASK, MB_OK);
}

TEST(HardwareTreeTest, EveryTruncationOfARealOutputEndsCleanly)
{
    const std::u16string text = LshwFile("root.xml");
    ASSERT_GT(text.size(), 1000u);
    for (std::size_t n = 0; n < text.size(); n += 97) {
        auto host = HostWithXml(text.substr(0, n));
        CScopedScriptedUi ui;  // the empty prefix shows its box
        EXPECT_EQ(BuildHardwareTree(*host), 1) << n;
        EXPECT_TRUE(host->GetChildren().empty());
    }
}

}  // namespace
