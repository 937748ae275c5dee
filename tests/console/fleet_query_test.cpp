// Fleet queries in process: quantities as the views and users write them,
// the query grammar's edges, and the fleet walk's treatment of the
// "general" nodes that hold their parent's rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "console/export_changes.h"
#include "console/export_summary.h"
#include "console/export_writers.h"
#include "console/fleet_search.h"
#include "tests/support/peer_required.h"
#include "tests/support/temp_dir.h"

namespace {

double Bytes(std::string_view text)
{
    const std::optional<Quantity> quantity = ParseQuantity(text);
    EXPECT_TRUE(quantity && quantity->kind == EQuantityKind::Bytes) << text;
    return quantity ? quantity->value : -1;
}

TEST(FleetQueryTest, QuantitiesReadTheViewsUnitsAndRefuseAnythingElse)
{
    EXPECT_EQ(Bytes("24 Gb"), 24.0 * 1024 * 1024 * 1024);  // the views' Gb is binary
    EXPECT_EQ(Bytes("32GiB"), Bytes("32 Gb"));
    EXPECT_EQ(Bytes("2GB"), 2e9);
    EXPECT_EQ(Bytes("500107608 Kb"), 500107608.0 * 1024);
    EXPECT_EQ(ParseQuantity("2.5GHz")->value, 2.5e9);
    EXPECT_EQ(ParseQuantity("10Mbit/s")->kind, EQuantityKind::BitsPerSecond);
    EXPECT_EQ(ParseQuantity("44400 mWh")->kind, EQuantityKind::WattHours);
    EXPECT_EQ(ParseQuantity(" 64 ")->kind, EQuantityKind::Number);
    for (std::string_view refused : {"", "Gb", ".5GB", "5.GB", "1.2.3", "1e9", "-4GiB", "0x10", "12 parsecs",
                                     "12 gb", "inf", "nan", "1 2 GB"})
        EXPECT_FALSE(ParseQuantity(refused)) << refused;
    EXPECT_FALSE(ParseQuantity(std::string(41, '9')));
    EXPECT_TRUE(ParseQuantity(std::string(40, '9')));
}

TEST(FleetQueryTest, TermsCompareWithinOneKindOnly)
{
    std::vector<QueryTerm> terms;
    std::string error;
    ASSERT_TRUE(ParseQuery("size<32GiB size>=2GHz serial=abc \"bus mastering\"~MAST width!=32", terms, error))
        << error;
    ASSERT_EQ(terms.size(), 5u);
    EXPECT_EQ(terms[3].key, "bus mastering");
    EXPECT_TRUE(TermMatches(terms[0], "24 Gb"));
    EXPECT_FALSE(TermMatches(terms[0], "32 Gb"));  // strictly below
    EXPECT_FALSE(TermMatches(terms[0], "2600 MHz"));  // another kind
    EXPECT_FALSE(TermMatches(terms[0], "24"));        // a bare number is no size
    EXPECT_TRUE(TermMatches(terms[1], "2000 MHz"));
    EXPECT_TRUE(TermMatches(terms[2], " ABC "));
    EXPECT_FALSE(TermMatches(terms[2], "ABC1"));
    EXPECT_TRUE(TermMatches(terms[3], "bus_master"));
    EXPECT_TRUE(TermMatches(terms[4], "64"));
    EXPECT_FALSE(TermMatches(terms[4], "32"));
    // A failed parse leaves nothing behind.
    EXPECT_FALSE(ParseQuery("a=1 b", terms, error));
    EXPECT_TRUE(terms.empty());
    EXPECT_NE(error.find("character 6"), std::string::npos) << error;
    EXPECT_FALSE(ParseQuery("a=\"x\"y", terms, error));
    EXPECT_FALSE(ParseQuery("a=\"x\\", terms, error));
}

FleetHost Host(std::u16string name)
{
    FleetHost host;
    host.group = u"G";
    host.name = std::move(name);
    host.scanned = true;
    FleetNode network{u"network", {}, {}};
    network.children.push_back(FleetNode{u"general", {{u"description", u"Ethernet"}, {u"serial", u"aa:bb"}}, {}});
    network.children.push_back(FleetNode{u"eth:0", {{u"logicalname", u"eth0"}}, {}});
    FleetNode core{u"core", {}, {}};
    core.children.push_back(std::move(network));
    core.children.push_back(FleetNode{u"memory:1", {{u"description", u"System memory"}, {u"size", u"8 Gb"}}, {}});
    core.children.push_back(FleetNode{u"memory:2", {{u"description", u"System memory"}, {u"size", u"512 Mb"}}, {}});
    host.nodes.push_back(std::move(core));
    return host;
}

TEST(FleetQueryTest, GeneralChildrenLendTheirRowsAndAreNoMatchesOfTheirOwn)
{
    const std::vector<FleetHost> fleet{Host(u"a/b"), Host(u"c")};
    std::vector<QueryTerm> terms;
    std::string error;
    ASSERT_TRUE(ParseQuery("serial=AA:BB", terms, error));
    const std::vector<FleetMatch> found = SearchFleet(fleet, terms);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, u"core/network");
    EXPECT_EQ(FleetMatchesText(fleet, found).substr(0, 33), "G/a\\/b  core/network  serial: aa:");
    ASSERT_TRUE(ParseQuery("id=memory host=c", terms, error));
    EXPECT_EQ(SearchFleet(fleet, terms).size(), 2u);  // memory:1 and memory:2

    const HostSummary summary = SummarizeHost(fleet[0]);
    EXPECT_EQ(summary.memoryTotal, "8.5 GiB");
    EXPECT_EQ(summary.nics, std::vector<std::string>{"eth0 aa:bb"});
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1536.0 * 1024 * 1024 * 1024 * 1024), "1.5 PiB");
}

FleetHost HostileHost()
{
    FleetHost host = Host(u"a;=2+2");
    host.group = u"=cmd|' /c notepad'!a1";
    host.address = u"x\n=1+1;y\r\n @SUM(A1:A9)\n\t-3";
    host.scanTime = u" +1";
    return host;
}

// Quoted for either separator; a formula guarded at the field's start,
// after each line break and after each ';' (LibreOffice below reads it).
TEST(FleetQueryTest, CsvQuotesAndDefusesEveryFieldForEitherSeparator)
{
    FleetHost host = Host(u"-x");
    host.group = u"=1+1";
    host.address = u"a,\"b\"\r\nc";
    const std::string text = ExportFleetCsv({host, HostileHost()});
    const std::size_t first = text.find("\r\n") + 2;
    EXPECT_EQ(text.substr(first).rfind("'-x,'=1+1,\"a,\"\"b\"\"\r\nc\",0,yes,,", 0), 0u) << text;
    const std::string hostile =
        "\"a;'=2+2\",'=cmd|' /c notepad'!a1,\"x\n'=1+1;y\r\n' @SUM(A1:A9)\n'\t-3\",0,yes,' +1,";
    EXPECT_NE(text.find("\r\n" + hostile, first), std::string::npos) << text;
}

// The same export opened by a real spreadsheet (LibreOffice, which
// scripts/setup-peers.sh installs): read with "," and with ";", no cell
// holds a formula.
TEST(FleetQueryTest, LibreOfficeFindsNoFormulaWithEitherSeparator)
{
    if (std::system("command -v soffice >/dev/null 2>&1") != 0) FDX_PEER_MISSING() << "LibreOffice is not installed";
    TempDir dir;
    const std::string csv = dir.file("fleet.csv");
    std::ofstream(csv, std::ios::binary) << ExportFleetCsv({HostileHost(), Host(u"plain")});
    for (const char* separator : {"44", "59"}) {
        const std::string out = dir.file(std::string("out") + separator);
        // A profile of its own, and a deadline: a first start takes a few
        // seconds, a stuck one is killed.
        const std::string command = "cd '" + dir.path() + "' && HOME='" + dir.path() +
                                    "' timeout -k 5 120 soffice --headless --norestore "
                                    "-env:UserInstallation=file://" + dir.path() + "/profile --infilter=CSV:" +
                                    separator + ",34,76,1 --convert-to fods --outdir '" + out + "' '" + csv +
                                    "' >'" + dir.file("soffice.log") + "' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << ReadWholeFile(dir.file("soffice.log"));
        const std::string sheet = ReadWholeFile(out + "/fleet.fods");
        ASSERT_NE(sheet.find("notepad"), std::string::npos) << "separator " << separator;
        EXPECT_EQ(sheet.find("table:formula"), std::string::npos) << "separator " << separator << "\n" << sheet;
    }
}

TEST(FleetQueryTest, HtmlShowsBidiAndInvisibleCharactersAsTheTerminalDoes)
{
    FleetHost host = Host(u"evil\u202Egnp.exe");
    host.nodes[0].children[1].rows[1].second = u"8\u200B Gb\u2066\uFEFF\u061C\u00AD\u200E";
    const std::string html = ExportFleetHtml({host});
    EXPECT_NE(html.find("evil\\u202egnp.exe"), std::string::npos);
    EXPECT_NE(html.find("<td>8\\u200b Gb\\u2066\\ufeff\\u061c\\u00ad\\u200e</td>"), std::string::npos);
    for (const char* hidden : {"\u202E", "\u200B", "\u2066", "\uFEFF", "\u061C", "\u00AD", "\u200E"})
        EXPECT_EQ(html.find(hidden), std::string::npos) << "hidden character left in the report";
    // Ordinary text outside ASCII stays as it is; markup is escaped.
    host.name = u"s\u00e9rveur-\u4e2d";
    EXPECT_NE(ExportFleetHtml({host}).find("s\u00e9rveur-\u4e2d"), std::string::npos);
    EXPECT_NE(ExportFleetHtml({Host(u"<b>&\"'")}).find("&lt;b&gt;&amp;&quot;&#39;"), std::string::npos);
}

// The history's diff as the report marks it: a row of a node with children
// lives in its "general" child, an added node is marked whole, a node that
// went is listed (escaped), and a host without an earlier scan has no marks
// and an empty count.
TEST(FleetQueryTest, HtmlMarksTheDiffOfTheChangedHostOnly)
{
    const std::vector<ScanChange> diff = {
        {EChange::RowChanged, "core/network", "serial", "aa:aa", "aa:bb"},
        {EChange::Added, "core/memory:2", "", "", ""},
        {EChange::Removed, "core/<disk>", "", "", ""},
    };
    FleetHost changed = Host(u"changed");
    FleetHost same = Host(u"same");
    std::map<std::string, HostChanges> hosts;
    hosts.emplace("G/changed", GroupChanges(diff));
    const CExportHistory history(std::move(hosts));
    const std::string html = ExportFleetHtml({changed, same}, history.Marks());

    const std::size_t second = html.find("id=\"host-1\"");
    ASSERT_NE(second, std::string::npos);
    const std::string first = html.substr(html.find("id=\"host-0\""), second - html.find("id=\"host-0\""));
    EXPECT_NE(first.find("<tr class=\"changed\"><td>serial</td><td>aa:bb</td>"), std::string::npos) << first;
    EXPECT_NE(first.find("<tr><td>description</td><td>Ethernet</td>"), std::string::npos);
    EXPECT_NE(first.find("<details class=\"changed\" data-path=\"core/memory:2\">"), std::string::npos);
    EXPECT_NE(first.find("<details data-path=\"core/memory:1\">"), std::string::npos);
    EXPECT_NE(first.find("<li class=\"changed\">core/&lt;disk&gt;</li>"), std::string::npos);
    EXPECT_EQ(html.find("<disk>"), std::string::npos);
    EXPECT_EQ(html.find("changed", second), std::string::npos) << html.substr(second);
    // The summary's last column: three changes, then nothing for the host
    // without an earlier scan.
    EXPECT_NE(html.find("<th>Changes</th>"), std::string::npos);
    EXPECT_NE(html.find("<td>3</td></tr>\n<tr data-section=\"host-1\">"), std::string::npos);
    EXPECT_NE(html.find("<td></td></tr>\n</tbody>"), std::string::npos);
}

// A history that cannot be read marks nothing and says so; a missing one
// says nothing.
TEST(FleetQueryTest, UnreadableHistoryWarnsAndMarksNothing)
{
    const std::string file = ::testing::TempDir() + "export_history_garbage.db";
    std::ofstream(file, std::ios::binary) << std::string(4096, 'x');
    std::string warning;
    const CExportHistory broken(file, {Host(u"h")}, warning);
    EXPECT_NE(warning.find(file), std::string::npos) << warning;
    EXPECT_EQ(ExportFleetHtml({Host(u"h")}, broken.Marks()).find("class=\"changed\""), std::string::npos);
    std::remove(file.c_str());

    warning.clear();
    const CExportHistory missing(file, {Host(u"h")}, warning);
    EXPECT_TRUE(warning.empty()) << warning;
}

}  // namespace
