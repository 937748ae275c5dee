// `ferrodex import` end to end: the real program reads real-world shaped
// host lists into a console file, and importing again adds nothing.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/console/command_fixture.h"

namespace {

class ImportCommandTest : public CCommandFixture {
protected:
    RunResult Import(const std::string& group, const std::string& file, std::vector<std::string> more = {})
    {
        std::vector<std::string> args = {"import", group, file};
        args.insert(args.end(), more.begin(), more.end());
        return Ok(args);
    }
    JsonValue Tree() { return Json({"tree", "--json"}); }
    static std::size_t Count(const JsonValue& node) { return Names(node).size(); }
    std::string Data(const std::string& name) const { return SourceDir() + "/tests/data/import/" + name; }
    void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
};

}  // namespace

TEST_F(ImportCommandTest, AnsibleGroupsBecomeGroupsAndASecondImportAddsNothing)
{
    // What the file says is the parser's tests'; here that it is stored.
    const RunResult first = Import("Lab", Data("inventory.ini"));
    EXPECT_NE(first.err.find("8 hosts added, 0 updated, 0 unchanged; 2 groups added"), std::string::npos) << first.err;
    EXPECT_NE(first.err.find("inventory.ini:24: "), std::string::npos) << first.err;
    const JsonValue tree = Tree();
    const JsonValue* web = FindChild(tree, "Lab.prod.web");
    ASSERT_TRUE(web && FindChild(tree, "Lab.prod.db"));
    EXPECT_EQ(Count(*web), 4u);
    // Hosts carry the inventory's names; the address is apart.
    const JsonValue* canary = FindChild(*web, "web-canary.example.com");
    ASSERT_NE(canary, nullptr);
    EXPECT_EQ((*canary)["address"].text, "192.0.2.50");
    EXPECT_EQ((*canary)["port"].number, 2201);
    EXPECT_TRUE((*canary)["sudo"].boolean);

    // The same file again: every host is found, nothing is written.
    const std::string before = ReadWholeFile(m_console);
    const RunResult second = Import("Lab", Data("inventory.ini"));
    EXPECT_NE(second.err.find("0 hosts added, 0 updated, 8 unchanged; 0 groups added"), std::string::npos) << second.err;
    EXPECT_EQ(ReadWholeFile(m_console), before);

    // A changed setting updates the host it belongs to, and only it.
    const std::string changed = m_dir.file("changed.ini");
    Write(changed, "[web]\nweb-canary.example.com ansible_host=192.0.2.50 ansible_port=2201 ansible_become=no\n"
                   "[prod:children]\nweb\n");
    const RunResult third = Import("Lab", changed);
    EXPECT_NE(third.err.find("0 hosts added, 1 updated, 0 unchanged"), std::string::npos) << third.err;
    EXPECT_FALSE((*FindChild(*FindChild(Tree(), "Lab.prod.web"), "web-canary.example.com"))["sudo"].boolean);
    EXPECT_EQ(Count(*FindChild(Tree(), "Lab.prod.web")), 4u);
}

TEST_F(ImportCommandTest, SshConfigYamlAndCsvLandInTheirGroups)
{
    Import("Fleet", Data("inventory.yml"));
    Import("Fleet", Data("hosts.csv"), {"--format", "csv"});
    const JsonValue tree = Tree();
    ASSERT_NE(FindChild(tree, "Fleet.staging.api"), nullptr);
    ASSERT_NE(FindChild(tree, "Fleet.racks.row1"), nullptr);
    // Ungrouped hosts of both files share the group imported into.
    const JsonValue* fleet = FindChild(tree, "Fleet");
    ASSERT_NE(fleet, nullptr);
    EXPECT_EQ(Names(*fleet), (std::vector<std::string>{"jump.example.com", "alpha.example.com"}));

    // An ssh config: hosts are named by their aliases and reached at their
    // HostName; wildcard blocks and Match blocks give no host.
    const std::string config = m_dir.file("config");
    Write(config, "Host a1 a2\n  HostName %h.example.net\n  Port 2022\n  IdentityFile /keys/%h\n"
                  "  ProxyJump ops@bastion.example.net:2200\nMatch all\n  Port 1\nHost *\n  Port 23\n");
    const RunResult ssh = Import("Ssh", config);
    EXPECT_NE(ssh.err.find("added Ssh/a2: "), std::string::npos) << ssh.err;
    const JsonValue after = Tree();
    const JsonValue* group = FindChild(after, "Ssh");
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(Count(*group), 2u);
    ASSERT_NE(FindChild(*group, "a2"), nullptr);
    const JsonValue& a2 = *FindChild(*group, "a2");
    EXPECT_EQ(a2["address"].text, "a2.example.net");
    EXPECT_EQ(a2["port"].number, 2022);
    // The key file and the jump host come with the host.
    EXPECT_EQ(a2["loginMethod"].text, "key-file");
    EXPECT_EQ(a2["jump"].text, "ops@bastion.example.net:2200");
    EXPECT_NE(ReadWholeFile(m_console).find("/keys/a2.example.net"), std::string::npos);
}

TEST_F(ImportCommandTest, AFileThatCannotBeReadImportsNothing)
{
    ASSERT_EQ(Run({"group", "add", "Lab"}).status, 0);
    const std::string before = ReadWholeFile(m_console);
    // Missing, unreadable as YAML (the line is named), of no known format,
    // or without the CSV header: the console file stays as it was, and no
    // group is made for the import.
    const std::string yaml = m_dir.file("bad.yml");
    Write(yaml, "all:\n  hosts:\n    good.example.com:\n  children: *others\n");
    const std::string words = m_dir.file("words.txt");
    Write(words, "just some words\n");
    struct SCase {
        std::string group;
        std::string file;
        std::vector<std::string> more;
        std::string message;
    };
    for (const SCase& c : std::vector<SCase>{{"New", m_dir.file("missing"), {}, "cannot read"},
                                             {"New", yaml, {}, "bad.yml:4: anchors"},
                                             {"Lab", words, {}, "name its format"},
                                             {"Lab", Data("inventory.ini"), {"--format", "csv"}, "\"host\""}}) {
        std::vector<std::string> args = {"import", c.group, c.file};
        args.insert(args.end(), c.more.begin(), c.more.end());
        Fails(args, c.message);
        EXPECT_EQ(ReadWholeFile(m_console), before) << c.file;
    }
    EXPECT_NE(Run({"import", "Lab", words, "--format", "toml"}).status, 0);
}

TEST_F(ImportCommandTest, RefusedValuesReachTheTerminalFiltered)
{
    // A value from the file is quoted in the report, its control
    // characters written out visibly.
    const std::string csv = m_dir.file("hostile.csv");
    Write(csv, "host,port\nok.example.com,22\nbad.example.com,\x1b]0;owned\x07\n");
    const RunResult result = Import("Lab", csv);
    EXPECT_NE(result.err.find("hostile.csv:3: "), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("\\x1b"), std::string::npos) << result.err;
}

TEST_F(ImportCommandTest, NamesRoutesDryRunAndJsonReport)
{
    ASSERT_EQ(Run({"group", "add", "Ssh"}).status, 0);
    const std::string before = ReadWholeFile(m_console);
    const std::string config = SourceDir() + "/tests/data/import/corpus/ssh/two-logins.conf";
    // A dry run tells every route and saves nothing.
    const RunResult dry = Import("Ssh", config, {"--dry-run"});
    EXPECT_NE(dry.err.find("added Ssh/ops1: ops@10.0.0.9 port 22, key "), std::string::npos) << dry.err;
    EXPECT_NE(dry.err.find("added Ssh/legacy-app: legacy@10.0.0.9 port 22, no key file, direct"), std::string::npos);
    EXPECT_NE(dry.err.find("two-logins.conf:11: host legacy-app: HostKeyAlias"), std::string::npos) << dry.err;
    EXPECT_NE(dry.err.find("two-logins.conf:13: host legacy-app: LocalCommand is never run"), std::string::npos);
    EXPECT_NE(dry.err.find("/.ssh/id_ops; "), std::string::npos) << "both key files are kept: " << dry.err;
    EXPECT_EQ(ReadWholeFile(m_console), before);

    // The JSON report says the same; both logins of one address are hosts.
    const RunResult json = Import("Ssh", config, {"--json"});
    JsonValue report;
    ASSERT_TRUE(ParseJson(json.out, report)) << json.out;
    EXPECT_EQ(report["added"].number, 3);
    ASSERT_EQ(report["hosts"].items.size(), 3u);
    EXPECT_EQ(report["hosts"][1]["name"].text, "legacy-app");
    EXPECT_EQ(report["hosts"][1]["address"].text, "10.0.0.9");
    EXPECT_EQ(report["hosts"][1]["login"].text, "legacy");
    bool alias = false;
    for (const JsonValue& note : report["notes"].items) alias = alias || (note["line"].number == 11 && note["refused"].boolean);
    EXPECT_TRUE(alias);
    EXPECT_EQ(Count(*FindChild(Tree(), "Ssh")), 3u);

    // Importing again finds every host by its name; a changed address
    // updates the host of that name and says what it was.
    EXPECT_NE(Import("Ssh", config).err.find("0 hosts added, 0 updated, 3 unchanged"), std::string::npos);
    const std::string moved = m_dir.file("moved.conf");
    Write(moved, "Host ops1\n  HostName 10.0.0.19\n  User ops\n");
    const RunResult update = Import("Ssh", moved);
    EXPECT_NE(update.err.find("changed Ssh/ops1: ops@10.0.0.19 port 22, key "), std::string::npos) << update.err;
    EXPECT_NE(update.err.find(", direct (was 10.0.0.9:22)"), std::string::npos)
        << update.err;

    // One name twice in one import: the second is made unique, and said so.
    const std::string csv = m_dir.file("twice.csv");
    Write(csv, "name,host,login\nweb,10.1.0.1,a\nweb,10.1.0.2,b\n");
    const RunResult twice = Import("Csv", csv);
    EXPECT_NE(twice.err.find("the name web is taken by an earlier host of this import; this host is named web-2"),
              std::string::npos)
        << twice.err;
    const JsonValue tree = Tree();
    const JsonValue* group = FindChild(tree, "Csv");
    ASSERT_NE(group, nullptr);
    ASSERT_NE(FindChild(*group, "web-2"), nullptr);
    EXPECT_EQ((*FindChild(*group, "web-2"))["address"].text, "10.1.0.2");
}
