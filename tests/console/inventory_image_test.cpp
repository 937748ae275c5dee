// Console images built by the snap-in, and the paste that gives a host a
// picture of its hardware, through the real module.
#include <gtest/gtest.h>

#include "console/paste_data.h"
#include "platform/snapin_contract.h"
#include "tests/console/host_fixture.h"

namespace {

using InventoryImageTest = CHostFixture;

TEST_F(InventoryImageTest, GroupsAndHostsLoadInTheirOrderAndOnlyHostsGivenXmlHoldAPicture)
{
    const std::u16string root = Lshw("root.xml");
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(BuildInventoryImage(
        {{u"Lab", u"a", root}, {u"Lab", u"b", u""}, {u"Prod", u"c", root}, {u"Test", u"d", root}}, image));
    CConsoleHost host;
    ASSERT_TRUE(host.OpenImage(image));
    EXPECT_FALSE(host.IsDirty());
    host.Expand(host.RootItem());
    const std::vector<HSCOPEITEM> groups = host.Children(host.RootItem());
    ASSERT_EQ(Names(host, host.RootItem()), (std::vector<std::u16string>{u"Lab", u"Prod", u"Test"}));
    for (HSCOPEITEM group : groups) host.Expand(group);
    EXPECT_EQ(Names(host, groups[0]), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(Names(host, groups[2]), (std::vector<std::u16string>{u"d"}));

    const HSCOPEITEM a = host.Children(groups[0])[0];
    const HSCOPEITEM b = host.Children(groups[0])[1];
    EXPECT_TRUE(host.HostHoldsPicture(a));
    EXPECT_FALSE(host.HostHoldsPicture(b));
    HostScanView scan;
    EXPECT_FALSE(host.HostScan(a, scan)) << "a stored picture is no scan of this session";
    std::u16string address;
    int port = 0;
    ASSERT_TRUE(host.HostAddress(a, address, port));
    EXPECT_EQ(address, u"a");
    EXPECT_EQ(port, 22);
    // The builder answered its own dialogs; the test's interface saw none.
    EXPECT_TRUE(m_ui.Dialogs().empty());
    ExpandHost(host, a);
    EXPECT_EQ(Names(host, a).front(), u"general");
}

TEST_F(InventoryImageTest, NamesTheDialogsRefuseMakeNoImageAndSayWhy)
{
    std::vector<std::uint8_t> image;
    HostStatus status = BuildInventoryImage({{u"a/b", u"srv", u""}}, image);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find("group \"a/b\""), std::string::npos) << status.message;
    EXPECT_TRUE(image.empty());
    status = BuildInventoryImage({{u"Lab", u"srv\x1b[2J", u""}}, image);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find("host"), std::string::npos) << status.message;
    EXPECT_TRUE(InventoryImageWithXml(u"Lab", u"tab\there", u"<node/>").empty());
}

TEST_F(InventoryImageTest, APastedPictureReplacesTheShownHardwareAndIsSaved)
{
    CConsoleHost host;
    const HSCOPEITEM srv = OpenHostWithXml(host, "root.xml");
    const HSCOPEITEM lab = host.Parent(srv);
    ExpandHost(host, srv);
    const std::vector<std::u16string> server = Names(host, srv);
    ASSERT_EQ(server.back(), u"core");

    // Neither a group nor another format nor a picture without its end is taken.
    EXPECT_EQ(host.Paste(lab, MakePictureData(Lshw("laptop.xml")).get()), S_FALSE);
    const auto other = MakeComObject<CPasteData, IDataObject>(u"CF_OTHER", std::vector<std::uint8_t>{'<', 0, 0, 0});
    EXPECT_EQ(host.Paste(srv, other.get()), S_FALSE);
    const auto unended =
        MakeComObject<CPasteData, IDataObject>(kHostPictureXmlFormat, std::vector<std::uint8_t>{'<', 0, 'n', 0});
    EXPECT_EQ(host.Paste(srv, unended.get()), S_FALSE);
    EXPECT_EQ(Names(host, srv), server);

    // The expanded host shows the new picture at once, still no scan.
    ASSERT_EQ(host.Paste(srv, MakePictureData(Lshw("laptop.xml")).get()), S_OK);
    const std::vector<std::u16string> laptop{u"general", u"core", u"battery"};
    EXPECT_EQ(Names(host, srv), laptop);
    HostScanView scan;
    EXPECT_FALSE(host.HostScan(srv, scan));

    std::vector<std::uint8_t> saved;
    ASSERT_TRUE(host.SaveImage(saved));
    CConsoleHost reopened;
    ASSERT_TRUE(reopened.OpenImage(saved));
    reopened.Expand(reopened.RootItem());
    const HSCOPEITEM group = reopened.Children(reopened.RootItem())[0];
    reopened.Expand(group);
    const HSCOPEITEM stored = reopened.Children(group)[0];
    ExpandHost(reopened, stored);
    EXPECT_EQ(Names(reopened, stored), laptop);
}

}  // namespace
