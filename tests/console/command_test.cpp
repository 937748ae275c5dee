// The scriptable commands end to end: the real program, its own registry
// and data folder, the console file on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "console/console_file.h"
#include "console/inventory_image.h"
#include "platform/text.h"
#include "tests/console/json_value.h"
#include "tests/console/run_ferrodex.h"
#include "tests/support/temp_dir.h"

namespace {

class CommandTest : public ::testing::Test {
protected:
    CommandTest()
    {
        m_env.registry = m_dir.file("registry");
        m_env.dataHome = m_dir.file("data");
        m_console = m_dir.file("inventory.fdx");
    }

    // Runs ferrodex on the test's console file.
    RunResult Run(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--console", m_console});
        return RunFerrodex(m_env, args, input);
    }
    RunResult Ok(std::vector<std::string> args, const std::string& input = "")
    {
        RunResult result = Run(args, input);
        EXPECT_EQ(result.status, 0) << "ferrodex " << ::testing::PrintToString(args) << "\n" << result.err;
        return result;
    }
    JsonValue Json(std::vector<std::string> args, const std::string& input = "")
    {
        const RunResult result = Ok(args, input);
        JsonValue value;
        std::string error;
        EXPECT_TRUE(ParseJson(result.out, value, &error)) << error << "\n" << result.out;
        return value;
    }
    // The names of a JSON node's children, in order.
    static std::vector<std::string> Names(const JsonValue& node)
    {
        std::vector<std::string> names;
        if (const JsonValue* children = node.Find("children"))
            for (const JsonValue& child : children->items) names.push_back(child["name"].text);
        return names;
    }
    static const JsonValue& Child(const JsonValue& node, const std::string& name)
    {
        for (const JsonValue& child : node["children"].items)
            if (child["name"].text == name) return child;
        throw std::out_of_range("no child " + name);
    }
    std::string ConsoleBytes() const { return ReadWholeFile(m_console); }

    // A console file whose group "Lab" holds host "srv" with the XML of an
    // lshw output file, as a scan leaves it.
    void WriteConsoleWithXml(const std::string& xmlFile)
    {
        const std::string xml = ReadWholeFile(SourceDir() + "/tests/data/lshw/" + xmlFile);
        ASSERT_FALSE(xml.empty());
        const auto image = InventoryImageWithXml(u"Lab", u"srv", AnsiToWide(xml));
        std::ofstream(m_console, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                         static_cast<std::streamsize>(image.size()));
    }

    TempDir m_dir;
    RunEnvironment m_env;
    std::string m_console;
};

TEST_F(CommandTest, GroupsAreAddedRenamedDeletedAndSurviveReload)
{
    Ok({"group", "add", "Lab"});
    Ok({"group", "add", "Prod"});
    Ok({"group", "add", "a/b"});
    Ok({"group", "add", "L\xC3\xA4" "b \"x\"\\y"});  // non-ASCII, a quote and a backslash
    const RunResult duplicate = Run({"group", "add", "Lab"});
    EXPECT_NE(duplicate.status, 0);
    EXPECT_NE(duplicate.err.find("Error: "), std::string::npos);

    Ok({"group", "rename", "Lab", "Lab 2"});
    EXPECT_NE(Run({"group", "rename", "Prod", "Lab 2"}).status, 0);  // the name is taken
    EXPECT_NE(Run({"group", "rename", "Nope", "X"}).status, 0);
    Ok({"group", "delete", "Prod"});
    EXPECT_NE(Run({"group", "delete", "Prod"}).status, 0);

    const JsonValue root = Json({"tree", "--json"});
    EXPECT_EQ(root["name"].text, "My Linux Servers");
    EXPECT_EQ(Names(root), (std::vector<std::string>{"Lab 2", "a/b", "L\xC3\xA4" "b \"x\"\\y"}));
    EXPECT_FALSE(Child(root, "Lab 2").Has("children"));  // an empty group is a leaf
    // A "/" inside a name is written "\/" in a path.
    EXPECT_EQ(Json({"show", "a\\/b", "--json"})["page"].text, "group.html");
    EXPECT_EQ(Json({"show", "", "--json"})["page"].text, "mycomputers.html");

    struct stat info {};
    ASSERT_EQ(::stat(m_console.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(CommandTest, DefaultConsoleFileLivesInAPrivateDataFolder)
{
    ASSERT_EQ(RunFerrodex(m_env, {"group", "add", "Lab"}).status, 0);
    const std::string folder = m_env.dataHome + "/ferrodex";
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((folder + "/console.fdx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_NE(RunFerrodex(m_env, {"tree"}).out.find("  Lab\n"), std::string::npos);
}

TEST_F(CommandTest, HostsAreAddedEditedAndRemoved)
{
    Ok({"group", "add", "Lab"});
    Ok({"host", "add", "Lab", "srv", "--port", "2222", "--login", "admin"});
    EXPECT_NE(Run({"host", "add", "Lab", "srv"}).status, 0);
    EXPECT_NE(Run({"host", "add", "Nope", "srv"}).status, 0);
    EXPECT_EQ(Names(Json({"tree", "Lab", "--json"})), (std::vector<std::string>{"srv"}));

    Ok({"host", "edit", "Lab/srv", "--host", "srv2", "--port", "22"});
    const JsonValue root = Json({"tree", "--json"});
    EXPECT_EQ(Names(Child(root, "Lab")), (std::vector<std::string>{"srv2"}));
    // Listing never expands a host: it has no children to show.
    EXPECT_FALSE(Child(Child(root, "Lab"), "srv2").Has("children"));

    EXPECT_NE(Run({"host", "remove", "Lab/srv"}).status, 0);
    EXPECT_NE(Run({"host", "remove", "Lab"}).status, 0);
    Ok({"host", "remove", "Lab/srv2"});
    EXPECT_TRUE(Names(Child(Json({"tree", "--json"}), "Lab")).empty());
}

TEST_F(CommandTest, SavePasswordsAsksForTheMainPasswordAtLoad)
{
    Ok({"group", "add", "Lab"});
    Ok({"host", "add", "Lab", "srv", "--login", "root", "--password-stdin"}, "host-secret\n");
    Ok({"passwords", "on", "--main-password-stdin"}, "main-secret\n");
    const std::string encrypted = ConsoleBytes();
    EXPECT_EQ(encrypted.find("host-secret"), std::string::npos);
    EXPECT_EQ(encrypted.find("main-secret"), std::string::npos);
    EXPECT_EQ(encrypted.find(std::string("s\0r\0v\0", 6)), std::string::npos);  // the host name is encrypted too

    // Loading asks once; a wrong password is asked again.
    EXPECT_EQ(Names(Child(Json({"tree", "--json"}, "main-secret\n"), "Lab")), (std::vector<std::string>{"srv"}));
    Ok({"tree"}, "wrong\nmain-secret\n");
    // The load-time prompt comes before the host's password question.
    Ok({"host", "add", "Lab", "srv3", "--password-stdin"}, "main-secret\nother\n");

    // Cancel (end of input) at the load-time prompt ends the process with 1.
    const RunResult cancelled = Run({"tree"});
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_EQ(cancelled.out, "");
    EXPECT_EQ(ConsoleBytes().size() > 0, true);

    Ok({"passwords", "off"}, "main-secret\n");
    const std::string plain = ConsoleBytes();
    EXPECT_NE(plain.find(std::string("s\0r\0v\0", 6)), std::string::npos);
    EXPECT_EQ(plain.find("host-secret"), std::string::npos);  // plain records keep no password
    Ok({"tree"});  // no prompt any more
    Ok({"passwords", "off"});  // already off: nothing to do

    // Turning it on without a main password (end of input) leaves it off.
    const RunResult refused = Run({"passwords", "on"});
    EXPECT_NE(refused.status, 0);
    EXPECT_EQ(ConsoleBytes(), plain);
}

TEST_F(CommandTest, HostHoldingXmlShowsItsHardwareOnlyWhenNamed)
{
    WriteConsoleWithXml("root.xml");
    // Listing the inventory does not expand the host and asks nothing.
    const JsonValue inventory = Json({"tree", "--json"});
    EXPECT_FALSE(Child(Child(inventory, "Lab"), "srv").Has("children"));

    // Naming the host expands it; its login question needs an answer.
    const RunResult unanswered = Run({"tree", "Lab/srv"});
    EXPECT_NE(unanswered.status, 0);
    EXPECT_NE(unanswered.err.find("Error: "), std::string::npos);

    const JsonValue host = Json({"tree", "Lab/srv", "--json", "--login", "root"});
    EXPECT_EQ(host["name"].text, "srv");
    const std::vector<std::string> names = Names(host);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names.front(), "general");
    EXPECT_FALSE(host.Has("rows"));  // its rows are under "general"
    const JsonValue& general = host["children"][0];
    ASSERT_TRUE(general.Has("rows"));
    for (const JsonValue& row : general["rows"].items) {
        ASSERT_EQ(row.kind, JsonValue::Kind::Array);
        EXPECT_EQ(row.items.size(), 2u);
    }
    const JsonValue& core = Child(host, "core");
    EXPECT_EQ(core["children"][0]["name"].text, "general");
    const JsonValue& memory = Child(core, "memory");
    ASSERT_TRUE(memory.Has("rows"));

    // show prints the same rows as the tree does for the node.
    const JsonValue shown = Json({"show", "Lab/srv/core/memory", "--json", "--login", "root"});
    ASSERT_TRUE(shown.Has("rows"));
    ASSERT_EQ(shown["rows"].items.size(), memory["rows"].items.size());
    for (std::size_t i = 0; i < shown["rows"].items.size(); ++i) {
        EXPECT_EQ(shown["rows"][i][0].text, memory["rows"][i][0].text);
        EXPECT_EQ(shown["rows"][i][1].text, memory["rows"][i][1].text);
    }
    EXPECT_NE(Run({"show", "Lab/srv/nothing", "--login", "root"}).status, 0);

    // view-xml shows exactly what the host holding that XML shows.
    const RunResult view = RunFerrodex(m_env, {"view-xml", SourceDir() + "/tests/data/lshw/root.xml", "--json"});
    ASSERT_EQ(view.status, 0) << view.err;
    JsonValue viewed;
    ASSERT_TRUE(ParseJson(view.out, viewed));
    ASSERT_EQ(viewed.kind, JsonValue::Kind::Array);
    JsonValue hostChildren;
    hostChildren.kind = JsonValue::Kind::Array;
    hostChildren.items = host["children"].items;
    const auto canonical = [](const JsonValue& value) {
        std::function<std::string(const JsonValue&)> text = [&](const JsonValue& v) -> std::string {
            std::string out = std::to_string(static_cast<int>(v.kind)) + v.text + "[";
            for (const auto& item : v.items) out += text(item) + ",";
            for (const auto& [key, member] : v.members) out += key + ":" + text(member) + ",";
            return out + "]";
        };
        return text(value);
    };
    EXPECT_EQ(canonical(viewed), canonical(hostChildren));
}

TEST_F(CommandTest, RefreshAsksForMissingCredentialsFromTheOptionsOnly)
{
    WriteConsoleWithXml("root.xml");
    // A restored host has no login: the question needs --login or
    // --password-stdin, and nothing else answers it.
    const RunResult unanswered = Run({"host", "refresh", "Lab/srv"});
    EXPECT_EQ(unanswered.status, 1);
    EXPECT_NE(unanswered.err.find("Error: the dialog \"Enter Host Login Details\""), std::string::npos)
        << unanswered.err;
    // End of input at the password question answers Cancel.
    const RunResult cancelled = Run({"host", "refresh", "Lab/srv", "--login", "root", "--password-stdin"});
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_NE(cancelled.err.find("Error: "), std::string::npos);
    EXPECT_NE(Run({"host", "refresh", "Lab/nothing", "--login", "root"}).status, 0);
}

TEST_F(CommandTest, ViewXmlRefusesWhatIsNoHardwareTree)
{
    const std::string notXml = m_dir.file("notes.txt");
    std::ofstream(notXml) << "this is not lshw output\n";
    const RunResult result = RunFerrodex(m_env, {"view-xml", notXml});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("Error: "), std::string::npos);
    EXPECT_NE(RunFerrodex(m_env, {"view-xml", m_dir.file("missing.xml")}).status, 0);

    // A processor-only listing has no hardware nodes: a host holding it
    // shows none either.
    EXPECT_NE(RunFerrodex(m_env, {"view-xml", SourceDir() + "/tests/data/lshw/list_processor.xml"}).status, 0);

    const RunResult text = RunFerrodex(m_env, {"view-xml", SourceDir() + "/tests/data/lshw/list_wrapped.xml"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.rfind("general\n", 0), 0u);
    EXPECT_NE(text.out.find("\ncore\n  general\n"), std::string::npos);
}

TEST_F(CommandTest, DamagedOrForeignConsoleFilesAreRefusedAndLeftAlone)
{
    Ok({"group", "add", "Lab"});
    const std::string good = ConsoleBytes();
    const std::vector<std::string> damaged{good.substr(0, good.size() / 2), good.substr(0, good.size() - 1),
                                           "just some text\n", std::string("\x89" "FDXCON\n", 8)};
    for (const std::string& bytes : damaged) {
        std::ofstream(m_console, std::ios::binary | std::ios::trunc) << bytes;
        const RunResult result = Run({"group", "add", "Prod"});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("refused"), std::string::npos) << result.err;
        EXPECT_EQ(ConsoleBytes(), bytes);
    }
}

TEST_F(CommandTest, AFailedWriteKeepsThePreviousFile)
{
    // A console large enough that a limit on file size stops its next save.
    WriteConsoleWithXml("root.xml");
    Ok({"group", "add", "Prod"});
    const std::string before = ConsoleBytes();
    RunEnvironment limited = m_env;
    limited.fileSizeLimit = before.size() / 2;
    const RunResult result = RunFerrodex(limited, {"--console", m_console, "group", "add", "More"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Error: cannot save"), std::string::npos) << result.err;
    EXPECT_EQ(ConsoleBytes(), before);
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    EXPECT_EQ(Names(Json({"tree", "--json"})), (std::vector<std::string>{"Lab", "Prod"}));
}

TEST_F(CommandTest, ConcurrentCommandsOnOneFileLoseNothing)
{
    Ok({"group", "add", "Lab"});
    std::vector<std::thread> threads;
    std::vector<RunResult> results(8);
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = Run({"host", "add", "Lab", "h" + std::to_string(i)}); });
    for (std::thread& thread : threads) thread.join();
    for (const RunResult& result : results) EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Names(Child(Json({"tree", "--json"}), "Lab")).size(), results.size());
}

TEST_F(CommandTest, RegistersAtFirstStartAndOnRequest)
{
    Ok({"group", "add", "Lab"});
    const std::string classes = m_env.registry + "/HKEY_CLASSES_ROOT.reg";
    EXPECT_NE(ReadWholeFile(classes).find("D89C902C-BBEF-4E6D-BD92-E71764806F79"), std::string::npos);
    EXPECT_EQ(RunFerrodex(m_env, {"unregister"}).status, 0);
    EXPECT_EQ(ReadWholeFile(classes).find("D89C902C-BBEF-4E6D-BD92-E71764806F79"), std::string::npos);
    EXPECT_EQ(RunFerrodex(m_env, {"register"}).status, 0);
    EXPECT_NE(ReadWholeFile(classes).find("D89C902C-BBEF-4E6D-BD92-E71764806F79"), std::string::npos);
}

TEST_F(CommandTest, EveryCommandHasHelpAndBadUsageFails)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"group", "add", "--help"}, {"host", "refresh", "--help"},
                                               {"tree", "--help"}, {"view-xml", "--help"}, {"passwords", "--help"}}) {
        const RunResult result = RunFerrodex(m_env, args);
        EXPECT_EQ(result.status, 0) << ::testing::PrintToString(args);
        EXPECT_NE(result.out.find("Usage"), std::string::npos) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(RunFerrodex(m_env, {"frobnicate"}).status, 2);
    EXPECT_EQ(RunFerrodex(m_env, {"group", "add"}).status, 2);
    EXPECT_EQ(RunFerrodex(m_env, {"passwords", "maybe"}).status, 2);
}

}  // namespace

TEST_F(CommandTest, TreeJsonGivesHostsAddressAndPortButNoSecret)
{
    Ok({"group", "add", "Lab"});
    Ok({"host", "add", "Lab", "srv1.example", "--port", "2222", "--login", "admin-x", "--password-stdin"},
       "pw-Secret-9\n");
    const RunResult listed = Ok({"tree", "--json"});
    JsonValue root;
    ASSERT_TRUE(ParseJson(listed.out, root, nullptr)) << listed.out;
    const JsonValue& host = Child(Child(root, "Lab"), "srv1.example");
    EXPECT_EQ(host["address"].text, "srv1.example");
    EXPECT_EQ(host["port"].number, 2222);
    // Groups carry no address.
    EXPECT_EQ(Child(root, "Lab").Find("address"), nullptr);
    EXPECT_EQ(listed.out.find("admin-x"), std::string::npos);
    EXPECT_EQ(listed.out.find("pw-Secret-9"), std::string::npos);
}
