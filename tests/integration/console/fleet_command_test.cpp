// `ferrodex find` and `ferrodex export` end to end: the real program on a
// console file holding several hosts' stored lshw outputs, and the exports
// read back by their real consumers (Python's json schema and csv modules,
// headless Chromium).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "console/history_recorder.h"
#include "console/inventory_image.h"
#include "history/history_store.h"
#include "platform/text.h"
#include "tests/console/image_registry.h"
#include "tests/console/json_value.h"
#include "tests/console/run_ferrodex.h"
#include "tests/support/peer_required.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    if (at == std::string::npos) {
        ADD_FAILURE() << "test data lacks " << from;
        return text;
    }
    return text.replace(at, from.size(), to);
}

std::string LshwData(const std::string& name) { return ReadWholeFile(SourceDir() + "/tests/data/lshw/" + name); }

// `text` as one word of the shell.
std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a program with standard output to `outFile` and standard error to
// `errFile`, under `timeout` so that it cannot hang the test; its exit status.
int RunProgram(const std::vector<std::string>& args, const std::string& outFile, const std::string& errFile,
               int seconds = 120)
{
    std::string command = "timeout -k 5 " + std::to_string(seconds);
    for (const std::string& arg : args) command += " " + Quoted(arg);
    const int status = std::system((command + " </dev/null >" + Quoted(outFile) + " 2>" + Quoted(errFile)).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool HaveProgram(const std::string& name)
{
    return RunProgram({"sh", "-c", "command -v \"$0\"", name}, "/dev/null", "/dev/null", 10) == 0;
}

class FleetCommandTest : public ::testing::Test {
protected:
    FleetCommandTest()
    {
        m_env.registry = m_dir.file("registry");
        m_env.dataHome = m_dir.file("data");
        m_console = m_dir.file("fleet.fdx");
        const std::string root = LshwData("root.xml");
        const std::string laptop = LshwData("laptop.xml");
        // A bigger server: 64 GiB, a Xeon, a serial to look for.
        std::string xeon = Replace(root, "<size units=\"bytes\">25769803776</size>",
                                   "<size units=\"bytes\">68719476736</size>");
        xeon = Replace(xeon, "<product>AMD EPYC</product>", "<product>Intel(R) Xeon(R) Gold 6338</product>");
        xeon = Replace(xeon, "<description>Computer</description>",
                       "<description>Computer</description><vendor>Acme, \"Servers\"</vendor><serial>ABC123</serial>");
        // A host whose lshw output tries markup in the report and a formula
        // in a spreadsheet.
        std::string hostile = Replace(laptop, "<product>ThinkPad T14</product>",
                                      "<product>&lt;script&gt;document.body.setAttribute('data-pwned','1')"
                                      "&lt;/script&gt;&lt;img src=x onerror=\"document.title='pwned'\"&gt;</product>");
        hostile = Replace(hostile, "<vendor>LENOVO</vendor>", "<vendor>=HYPERLINK(\"http://x\",\"y\")</vendor>");
        WriteConsole({{u"Lab", u"big", AnsiToWide(root)},
                      {u"Lab", u"laptop", AnsiToWide(laptop)},
                      {u"Prod", u"xeon", AnsiToWide(xeon)},
                      {u"Prod", u"hostile", AnsiToWide(hostile)},
                      {u"Prod", u"never-scanned.invalid", u""}});
    }
    void WriteConsole(const std::vector<InventoryImageHost>& hosts)
    {
        const auto image = InventoryImageWithHosts(hosts);
        std::ofstream(m_console, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }

    RunResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--console", m_console});
        return RunFerrodex(m_env, args);
    }
    RunResult Ok(std::vector<std::string> args)
    {
        RunResult result = Run(args);
        EXPECT_EQ(result.status, 0) << ::testing::PrintToString(args) << "\n" << result.err;
        return result;
    }
    // "GROUP/HOST path" of each match of a query; as grep, find ends with 1
    // when nothing matched.
    std::vector<std::string> Found(const std::string& query)
    {
        const RunResult result = Run({"find", query, "--json"});
        JsonValue value;
        std::string error;
        EXPECT_TRUE(ParseJson(result.out, value, &error)) << error << "\n" << result.out;
        std::vector<std::string> found;
        for (const JsonValue& match : value.items) found.push_back(match["host"].text + " " + match["path"].text);
        EXPECT_EQ(result.status, found.empty() ? 1 : 0) << query << "\n" << result.err;
        return found;
    }

    TempDir m_dir;
    RunEnvironment m_env;
    std::string m_console;
    CImageModuleRegistry m_images;
};

using Matches = std::vector<std::string>;

TEST_F(FleetCommandTest, FindComparesQuantitiesInTheirUnitsAcrossHosts)
{
    const std::string before = ReadWholeFile(m_console);
    // Quantities in their units across hosts (the units' readings: the
    // in-process fleet query tests); 24 is included in <=24Gb as the view
    // writes it.
    EXPECT_EQ(Found("class=memory size<=24Gb"),
              (Matches{"Lab/big core/memory", "Lab/laptop core/memory", "Prod/hostile core/memory"}));
    EXPECT_EQ(Found("class=memory size>68GB"), (Matches{"Prod/xeon core/memory"}));  // decimal: 68.7 GB
    EXPECT_EQ(Found("class=processor capacity>3.5GHz"), (Matches{"Lab/laptop core/cpu", "Prod/hostile core/cpu"}));
    EXPECT_EQ(Found("capacity>=1Gbit/s group=Lab"), (Matches{"Lab/laptop core/pci/network"}));
    // Text: equality ignores case, ~ finds a part.
    EXPECT_EQ(Found("serial=abc123"), (Matches{"Prod/xeon general"}));
    EXPECT_EQ(Found("product~XEON"), (Matches{"Prod/xeon core/cpu"}));
    EXPECT_EQ(Found("product~xeon group=Lab"), Matches{});
    // lshw's classes, as `lshw -C disk` takes them, whatever the node's id;
    // the id without its number is asked for by `id`.
    EXPECT_EQ(Found("class=disk"), (Matches{"Lab/big core/pci/storage/virtio1", "Lab/laptop core/pci/nvme/namespace",
                                            "Prod/xeon core/pci/storage/virtio1", "Prod/hostile core/pci/nvme/namespace"}));
    EXPECT_EQ(Found("class=cpu"), Matches{});
    EXPECT_EQ(Found("id=cpu host=big"), (Matches{"Lab/big core/cpu"}));
    // A plain number against sizes in bytes is refused, and says why.
    const RunResult unitless = Run({"find", "class=memory size<16"});
    EXPECT_EQ(unitless.status, 2);
    EXPECT_EQ(unitless.out, "");
    EXPECT_NE(unitless.err.find("write the unit, as in \"16GiB\""), std::string::npos) << unitless.err;

    const RunResult text = Ok({"find", "serial=ABC123"});
    EXPECT_EQ(text.out, "Prod/xeon  general  serial: ABC123\n");
    // Sizes read as people read them, the view's form beside them.
    EXPECT_EQ(Ok({"find", "class=memory host=laptop size>1GiB"}).out, "Lab/laptop  core/memory  size: 16 GiB (16 Gb)\n");
    EXPECT_NE(text.err.find("Prod/never-scanned.invalid: no stored scan, skipped"), std::string::npos) << text.err;
    // A search never scans, so never saves.
    EXPECT_EQ(ReadWholeFile(m_console), before);
}

TEST_F(FleetCommandTest, EveryHostOfALargeFleetIsReadWithoutItsLogin)
{
    // Hosts stored without a login are asked for one before they expand;
    // the question comes once a host, however many hosts there are.
    std::vector<InventoryImageHost> hosts;
    for (int i = 0; i < 12; ++i)
        hosts.push_back({u"Many", u"h" + AnsiToWide(std::to_string(i)), AnsiToWide(LshwData("laptop.xml"))});
    WriteConsole(hosts);
    EXPECT_EQ(Found("class=processor").size(), 12u);
}

TEST_F(FleetCommandTest, FindRefusesMalformedQueriesWithTheirPosition)
{
    for (const auto& [query, reason] : std::vector<std::pair<std::string, std::string>>{
             {"", "the query is empty"},
             {"size", "expected one of"},
             {"=memory", "needs a name"},
             {"size<lots", "cannot be compared"},
             {"size<32XB", "cannot be compared"},
             {"product=\"open", "not closed"},
             {"product=\"a\\nb\"", "backslash"},
             {std::string(5000, 'a') + "=1", "longer than"},
         }) {
        const RunResult result = Run({"find", query});
        EXPECT_EQ(result.status, 2) << query;
        EXPECT_NE(result.err.find(reason), std::string::npos) << query << "\n" << result.err;
    }
    std::string many;
    for (int i = 0; i < 33; ++i) many += "a=1 ";
    EXPECT_NE(Run({"find", many}).err.find("more than 32 terms"), std::string::npos);
}

TEST_F(FleetCommandTest, JsonExportValidatesAgainstItsSchemaAndKeepsTheTrees)
{
    const std::string out = m_dir.file("fleet.json");
    Ok({"export", "--format", "json", "-o", out});
    const std::string schema = SourceDir() + "/docs/export.schema.json";
    const std::string check =
        "import json, sys, jsonschema\n"
        "schema = json.load(open(sys.argv[2]))\n"
        "jsonschema.Draft202012Validator.check_schema(schema)\n"
        "jsonschema.validate(json.load(open(sys.argv[1])), schema, cls=jsonschema.Draft202012Validator)\n";
    const std::string err = m_dir.file("python.err");
    ASSERT_EQ(RunProgram({"python3", "-c", check, out, schema}, "/dev/null", err), 0) << ReadWholeFile(err);
    // The schema is no rubber stamp: a host without its port is refused.
    const std::string broken = m_dir.file("broken.json");
    std::ofstream(broken) << Replace(ReadWholeFile(out), "\"port\":22,", "");
    EXPECT_NE(RunProgram({"python3", "-c", check, broken, schema}, "/dev/null", err), 0);

    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(ReadWholeFile(out), value, &error)) << error;
    const JsonValue& hosts = value["hosts"];
    ASSERT_EQ(hosts.items.size(), 5u);
    EXPECT_EQ(hosts.items[2]["name"].text, "xeon");
    EXPECT_EQ(hosts.items[2]["address"].text, "xeon");
    EXPECT_TRUE(hosts.items[2]["scanned"].boolean);
    EXPECT_FALSE(hosts.items[4]["scanned"].boolean);
    EXPECT_TRUE(hosts.items[4]["nodes"].items.empty());
    // The hostile product stays exact in JSON.
    EXPECT_NE(ReadWholeFile(out).find("<script>document.body"), std::string::npos);

    // A selection: a group, a host, and a name that is not there.
    JsonValue lab;
    ASSERT_TRUE(ParseJson(Ok({"export", "Lab", "Prod/xeon", "--format", "json"}).out, lab, &error)) << error;
    ASSERT_EQ(lab["hosts"].items.size(), 3u);
    EXPECT_EQ(lab["hosts"].items[2]["name"].text, "xeon");
    const RunResult missing = Run({"export", "Prod/nope", "--format", "json"});
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("no host \"nope\""), std::string::npos) << missing.err;
}

TEST_F(FleetCommandTest, CsvParsesWithOneLinePerHostAndDefusedFormulas)
{
    const std::string out = m_dir.file("fleet.csv");
    Ok({"export", "--format", "csv", "-o", out});
    // Python's csv module reads it back; each record printed as JSON.
    const std::string read = "import csv, json, sys\n"
                             "rows = list(csv.DictReader(open(sys.argv[1], newline='')))\n"
                             "print(json.dumps(rows))\n";
    const std::string parsed = m_dir.file("rows.json");
    const std::string err = m_dir.file("python.err");
    ASSERT_EQ(RunProgram({"python3", "-c", read, out}, parsed, err), 0) << ReadWholeFile(err);
    JsonValue rows;
    std::string error;
    ASSERT_TRUE(ParseJson(ReadWholeFile(parsed), rows, &error)) << error;
    ASSERT_EQ(rows.items.size(), 5u);
    // Row, column, value: 2 is xeon, 1 the laptop, 3 the hostile host and
    // 4 the one never scanned.
    const std::tuple<std::size_t, const char*, std::string> cells[] = {
        {2, "host", "xeon"},
        {2, "group", "Prod"},
        {2, "vendor", "Acme, \"Servers\""},  // comma and quotes round-trip
        {2, "serial", "ABC123"},
        {2, "cpu_model", "Intel(R) Xeon(R) Gold 6338"},
        {2, "cpu_count", "1"},
        {2, "memory_total", "64 GiB"},
        {0, "nics", "eth0 02:fc:00:00:00:01"},  // named on the device below
        {0, "disks", "/dev/vda"},               // a virtio disk is a disk by lshw's class
        {1, "memory_total", "16 GiB"},
        {1, "disks", "/dev/nvme0n1 476.9 GiB"},
        {1, "nics", "enp2s0f0 00:2b:67:0e:11:3c"},
        {3, "vendor", "'=HYPERLINK(\"http://x\",\"y\")"},  // a formula is shown as text by spreadsheets
        {4, "scanned", "no"},
        {4, "vendor", ""},
        // The sizes and counts again as plain numbers, for sums and sorting;
        // none for a host without a scan.
        {2, "memory_bytes", std::to_string(64LL << 30)},
        {1, "memory_bytes", std::to_string(16LL << 30)},
        {1, "disk_count", "1"},
        {1, "nic_count", "1"},
        {4, "memory_bytes", ""},
    };
    for (const auto& [row, column, value] : cells)
        EXPECT_EQ(rows.items[row][column].text, value) << row << " " << column;
    EXPECT_GT(std::stoll(rows.items[1]["disk_bytes"].text), 500'000'000'000LL);

    // The JSON export carries the same summary.
    const RunResult json = Run({"export", "Prod/xeon", "--format", "json"});
    ASSERT_EQ(json.status, 0) << json.err;
    JsonValue report;
    ASSERT_TRUE(ParseJson(json.out, report, &error)) << error;
    const JsonValue& summary = report["hosts"].items.at(0)["summary"];
    EXPECT_EQ(summary["memoryBytes"].number, static_cast<double>(64LL << 30));
    EXPECT_EQ(summary["memory"].text, "64 GiB");
    EXPECT_EQ(summary["cpuCount"].number, 1);
}

// Headless Chromium, as root without its sandbox, with a profile of its own
// and nothing that reaches the network; its standard error on failure.
::testing::AssertionResult RunChromium(const TempDir& dir, const std::string& profile, std::vector<std::string> args,
                                       const std::string& outFile)
{
    args.insert(args.begin(), {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update", "--disable-sync",
                               "--user-data-dir=" + dir.file(profile)});
    if (RunProgram(args, outFile, dir.file("chromium.err"), 120) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << ReadWholeFile(dir.file("chromium.err"));
}

TEST_F(FleetCommandTest, HtmlReportSortsFiltersAndShowsHostileTextAsTextInChromium)
{
    if (!HaveProgram("chromium"))
        FDX_PEER_MISSING() << "chromium is not installed (scripts/setup-peers.sh installs it); the report is not checked "
                        "in a browser";
    const std::string report = m_dir.file("report.html");
    Ok({"export", "--format", "html", "-o", report});
    const std::string html = ReadWholeFile(report);
    EXPECT_EQ(html.find("http://"), html.find("http://x"));  // the only address is the hostile text's
    EXPECT_EQ(html.find("<link"), std::string::npos);
    EXPECT_EQ(html.find("src="), html.find("src=x"));

    // The filter, typed through the address's fragment, hides the others.
    const std::string dom = m_dir.file("dom.html");
    ASSERT_TRUE(RunChromium(m_dir, "profile1", {"--dump-dom", "file://" + report + "#filter=xeon"}, dom));
    const std::string filtered = ReadWholeFile(dom);
    EXPECT_EQ(CountOccurrences(filtered, "<tr data-section="), 5u) << "every host is in the summary";
    EXPECT_EQ(CountOccurrences(filtered, "<tr data-section=\"host-2\"><td>"), 1u) << "xeon is shown";
    EXPECT_EQ(CountOccurrences(filtered, "\" hidden=\"\"><td>"), 4u) << "the others are hidden";
    EXPECT_NE(filtered.find("<section class=\"host\" id=\"host-0\" hidden"), std::string::npos);

    // Sorted by memory: the unscanned host (no memory) first, then 16, 16
    // (in their order), 24 and 64 GiB.
    ASSERT_TRUE(RunChromium(m_dir, "profile4", {"--dump-dom", "file://" + report + "#sort=8"}, dom));
    const std::string sorted = ReadWholeFile(dom);
    std::vector<std::size_t> order;
    for (std::size_t at = sorted.find("<tr data-section=\"host-"); at != std::string::npos;
         at = sorted.find("<tr data-section=\"host-", at + 1))
        order.push_back(static_cast<std::size_t>(sorted[at + 23] - '0'));
    EXPECT_EQ(order, (std::vector<std::size_t>{4, 1, 3, 0, 2}));
    EXPECT_NE(sorted.find("aria-sort=\"ascending\">Memory</th>"), std::string::npos);

    // Unfiltered: the hostile text is there as text, and nothing of it ran.
    ASSERT_TRUE(RunChromium(m_dir, "profile2", {"--dump-dom", "file://" + report}, dom));
    const std::string shown = ReadWholeFile(dom);
    EXPECT_EQ(CountOccurrences(shown, "\" hidden=\"\"><td>"), 0u);
    EXPECT_NE(shown.find("&lt;script&gt;document.body.setAttribute('data-pwned','1')&lt;/script&gt;"),
              std::string::npos);
    EXPECT_EQ(shown.find("data-pwned=\"1\""), std::string::npos);
    EXPECT_NE(shown.find("<title>Ferrodex hardware report</title>"), std::string::npos);
    EXPECT_EQ(CountOccurrences(shown, "<script"), 1u) << "only the report's own script";
    EXPECT_EQ(CountOccurrences(shown, "<img"), 0u);

    // A screenshot, kept beside the test binary as an artefact.
    const std::string png = BinaryDir() + "/tests/console/fleet_report.png";
    std::filesystem::remove(png);
    ASSERT_TRUE(RunChromium(m_dir, "profile3",
                            {"--screenshot=" + png, "--window-size=1280,800", "--hide-scrollbars", "file://" + report},
                            m_dir.file("shot.out")));
    EXPECT_EQ(ReadWholeFile(png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    // Printed to PDF (kept beside the screenshot): A4 landscape, the summary
    // first, then each host's section from a page of its own (printing opens
    // every node, so a real tree runs on over several pages).
    const std::string pdf = BinaryDir() + "/tests/console/fleet_report.pdf";
    std::filesystem::remove(pdf);
    ASSERT_TRUE(RunChromium(m_dir, "profile5", {"--print-to-pdf=" + pdf, "--no-pdf-header-footer", "file://" + report},
                            m_dir.file("pdf.out")));
    const std::string printed = ReadWholeFile(pdf);
    ASSERT_EQ(printed.substr(0, 5), "%PDF-");
    // Page objects, not the page tree ("/Type /Pages").
    const std::size_t pages = CountOccurrences(printed, "/Type /Page") - CountOccurrences(printed, "/Type /Pages");
    const std::size_t sections = CountOccurrences(ReadWholeFile(report), "<section class=\"host\"");
    EXPECT_GE(pages, 1 + sections);
    EXPECT_LE(pages, 60u) << "a row or a node a page";
    EXPECT_EQ(CountOccurrences(printed, "/MediaBox [0 0 841.9"), pages) << "every page A4 landscape";
}

// Two scans of one host in the history beside the console file: the report
// marks the row that changed in that host only and counts its changes.
TEST_F(FleetCommandTest, HtmlReportMarksWhatChangedSinceTheHostsPreviousScan)
{
    const std::string root = LshwData("root.xml");
    const std::string bigger =
        Replace(root, "<size units=\"bytes\">25769803776</size>", "<size units=\"bytes\">68719476736</size>");
    {
        std::string error;
        const std::unique_ptr<CHistoryStore> store = CHistoryStore::Open(HistoryFileFor(m_console), true, error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->Record({"Lab/big", "big", 22, "root", bigger, 1000, {}}, 10, error)) << error;
        ASSERT_TRUE(store->Record({"Lab/big", "big", 22, "root", root, 2000, {}}, 10, error)) << error;
        ASSERT_TRUE(store->Record({"Lab/laptop", "laptop", 22, "root", LshwData("laptop.xml"), 2000, {}}, 10, error))
            << error;
        // A host after one with a single scan still has its changes counted.
        ASSERT_TRUE(store->Record({"Prod/xeon", "xeon", 22, "root", root, 1000, {}}, 10, error)) << error;
        ASSERT_TRUE(store->Record({"Prod/xeon", "xeon", 22, "root", bigger, 2000, {}}, 10, error)) << error;
    }
    const RunResult result = Ok({"export", "--format", "html"});
    const std::string& html = result.out;
    const std::size_t big = html.find("<section class=\"host\" id=\"host-0\">");
    const std::size_t laptop = html.find("<section class=\"host\" id=\"host-1\">");
    ASSERT_NE(big, std::string::npos);
    ASSERT_NE(laptop, std::string::npos);
    const std::string bigSection = html.substr(big, laptop - big);
    EXPECT_EQ(CountOccurrences(bigSection, "<tr class=\"changed\">"), 1u) << bigSection;
    EXPECT_NE(bigSection.find("<tr class=\"changed\"><td>size</td>"), std::string::npos) << bigSection;
    const std::string rest = html.substr(laptop, html.find("<section class=\"host\" id=\"host-2\">") - laptop);
    EXPECT_EQ(rest.find("changed"), std::string::npos);
    EXPECT_NE(html.find("<td>1</td></tr>\n<tr data-section=\"host-1\">"), std::string::npos) << html;
    EXPECT_EQ(result.err.find("Warning"), std::string::npos) << result.err;
    // The summary sorts sizes by their bytes, says which host has no scan,
    // and the rows show sizes as people read them.
    EXPECT_NE(html.find("<td data-sort=\"68719476736\">64 GiB</td>"), std::string::npos);
    EXPECT_NE(html.find("<td class=\"noscan\">No stored scan.</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>size</td><td title=\"24 Gb\">24 GiB</td>"), std::string::npos) << bigSection;
    EXPECT_NE(html.find(" by Ferrodex "), std::string::npos);

    // The JSON export carries the same count.
    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(Ok({"export", "--format", "json"}).out, value, &error)) << error;
    const JsonValue& hosts = value["hosts"];
    ASSERT_TRUE(hosts[0].Has("changes"));
    EXPECT_EQ(hosts[0]["changes"]["count"].number, 1);
    EXPECT_TRUE(hosts[0]["changes"]["removed"].items.empty());
    EXPECT_FALSE(hosts[1].Has("changes")) << "one scan: nothing to compare";
    ASSERT_TRUE(hosts[2].Has("changes"));
    EXPECT_EQ(hosts[2]["changes"]["count"].number, 1);
    EXPECT_FALSE(value["ferrodex"].text.empty());
    EXPECT_EQ(value["written"].text.size(), 20u) << value["written"].text;
    // The console file keeps no time: the history's last scan gives it.
    EXPECT_EQ(hosts[2]["scanTime"].text, "1970-01-01T00:33:20Z");
    EXPECT_FALSE(hosts[3].Has("scanTime")) << "no scan of it in the history";
}

}  // namespace
