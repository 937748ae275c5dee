// The scriptable commands end to end: the real program, its own registry
// and data folder, the console file on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "console/console_file.h"
#include "console/inventory_image.h"
#include "console/script_ui.h"
#include "console/snapin_module.h"
#include "platform/text.h"
#include "tests/console/image_registry.h"
#include "tests/support/raw_controls.h"

#include "tests/console/command_fixture.h"

namespace {

class CommandTest : public CCommandFixture {
protected:
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

    // A console file kept with the test data, as the test's console file.
    void UseConsoleFile(const std::string& name)
    {
        std::filesystem::copy_file(SourceDir() + "/tests/data/console/" + name, m_console,
                                   std::filesystem::copy_options::overwrite_existing);
    }

    CImageModuleRegistry m_images;
};

TEST_F(CommandTest, GroupsAndHostsAreAddedRenamedRemovedAndSurviveReload)
{
    Ok({"group", "add", "Lab"});
    Ok({"group", "add", "Prod"});
    Ok({"group", "add", "L\xC3\xA4" "b \"x\"\\y"});  // non-ASCII, a quote and a backslash
    Fails({"group", "add", "Lab"}, "Error: ");

    Ok({"group", "rename", "Lab", "Lab 2"});
    EXPECT_NE(Run({"group", "rename", "Prod", "Lab 2"}).status, 0);  // the name is taken
    EXPECT_NE(Run({"group", "rename", "Nope", "X"}).status, 0);
    Ok({"group", "delete", "Prod"});
    EXPECT_NE(Run({"group", "delete", "Prod"}).status, 0);

    const JsonValue root = Json({"tree", "--json"});
    EXPECT_EQ(root["name"].text, "My Linux Servers");
    EXPECT_EQ(Names(root), (std::vector<std::string>{"Lab 2", "L\xC3\xA4" "b \"x\"\\y"}));
    EXPECT_FALSE(Child(root, "Lab 2").Has("children"));  // an empty group is a leaf
    EXPECT_EQ(Json({"show", "", "--json"})["page"].text, "mycomputers.html");

    struct stat info {};
    ASSERT_EQ(::stat(m_console.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Hosts go into a group that exists and leave by their path only. A
    // taken name and a new address are HostsHaveNamesApartFromAddresses'.
    Ok({"host", "add", "Lab 2", "srv", "--port", "2222", "--login", "admin"});
    EXPECT_NE(Run({"host", "add", "Nope", "srv"}).status, 0);
    EXPECT_EQ(Names(Json({"tree", "Lab 2", "--json"})), (std::vector<std::string>{"srv"}));
    // Listing never expands a host: it has no children to show.
    EXPECT_FALSE(Child(Child(Json({"tree", "--json"}), "Lab 2"), "srv").Has("children"));
    EXPECT_NE(Run({"host", "remove", "Lab 2/nothing"}).status, 0);
    EXPECT_NE(Run({"host", "remove", "Lab 2"}).status, 0);
    Ok({"host", "remove", "Lab 2/srv"});
    EXPECT_TRUE(Names(Child(Json({"tree", "--json"}), "Lab 2")).empty());
}

TEST_F(CommandTest, NamesAndPortsOutsideTheirLimitsAreRefusedWithTheReason)
{
    Ok({"group", "add", "Lab"});
    Ok({"host", "add", "Lab", "srv", "--port", "2222"});
    const std::string before = ConsoleBytes();
    const auto refused = [this, &before](std::vector<std::string> args, const std::string& reason) {
        Fails(args, reason);
        EXPECT_EQ(ConsoleBytes(), before) << ::testing::PrintToString(args);
    };
    // The check itself is the dialogs' (InventoryTest, a row for each kind of
    // name); here every command applies it and says why.
    const std::string badCharacter = "Error: A name cannot contain \"/\" or control characters.";
    const std::string blank = "Error: A name cannot be empty or only spaces.";
    refused({"group", "add", std::string(300, 'g')}, "Error: A name can have at most 255 characters; this one has 300.");
    refused({"group", "add", ""}, blank);
    refused({"group", "rename", "Lab", "a/b"}, badCharacter);
    refused({"host", "add", "Lab", "csi\xC2\x9B"}, badCharacter);
    refused({"host", "add", "Lab", " \xE3\x80\x80\xC2\xA0 ", "--address", "10.0.0.9"}, blank);
    refused({"host", "edit", "Lab/srv", "--host", std::string(256, 'h')}, "at most 255 characters");
    refused({"host", "rename", "Lab/srv", ""}, blank);
    for (const char* port : {"0", "65536", "-1", "99999999999", "22x"}) {
        refused({"host", "add", "Lab", "other", "--port", port}, "--port");
        refused({"host", "edit", "Lab/srv", "--port", port}, "--port");
    }
    // A refusal says it once: no "cancelled" after it.
    EXPECT_EQ(Run({"group", "add", "x/y"}).err.find("cancel"), std::string::npos);

    // The limits themselves are accepted, and such a host still saves in the
    // encrypted form.
    Ok({"group", "add", std::string(255, 'g')});
    Ok({"host", "add", "Lab", std::string(255, 'h'), "--port", "65535"});
    Ok({"host", "edit", "Lab/srv", "--port", "1"});
    Ok({"passwords", "on", "--main-password-stdin"}, "main-pw\n");
    EXPECT_EQ(Names(Child(Json({"tree", "--json"}, "main-pw\n"), "Lab")),
              (std::vector<std::string>{"srv", std::string(255, 'h')}));
}

// What an edit keeps and drops is the dialog's (InventoryTest); here that the
// options answer it.
TEST_F(CommandTest, EditKeepsThePasswordUnlessCleared)
{
    Ok({"group", "add", "Lab"});
    // The password is kept in the encrypted form. A refresh of a host with
    // a login and a password connects without asking (the port is closed);
    // one without a password asks for login details first.
    Ok({"passwords", "on", "--main-password-stdin"}, "main-pw\n");
    Ok({"host", "add", "Lab", "127.0.0.1", "--port", "1", "--login", "root", "--password-stdin"},
       "main-pw\nhost-pw\n");
    const std::string asks = "Enter Host Login Details";
    Ok({"host", "edit", "Lab/127.0.0.1", "--login", "admin"}, "main-pw\n");
    const RunResult kept = Run({"host", "refresh", "Lab/127.0.0.1"}, "main-pw\n");
    EXPECT_NE(kept.status, 0);
    EXPECT_EQ(kept.err.find(asks), std::string::npos) << kept.err;
    Ok({"host", "edit", "Lab/127.0.0.1", "--clear-password"}, "main-pw\n");
    Fails({"host", "refresh", "Lab/127.0.0.1"}, asks, "main-pw\n");
    // --clear-password belongs to edit only.
    EXPECT_NE(Run({"host", "add", "Lab", "x", "--clear-password"}, "main-pw\n").status, 0);
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

    // Loading asks once. A script gets no second try: a wrong password
    // fails the command with the reason, and so does a missing one.
    EXPECT_EQ(Names(Child(Json({"tree", "--json"}, "main-secret\n"), "Lab")), (std::vector<std::string>{"srv"}));
    const RunResult wrong = Fails({"tree"}, "Error: The main password is wrong.", "wrong\nmain-secret\n");
    EXPECT_EQ(wrong.out, "");
    // The load-time prompt comes before the host's password question.
    Ok({"host", "add", "Lab", "srv3", "--password-stdin"}, "main-secret\nother\n");
    const RunResult missing = Fails({"tree"}, "the main password is missing");
    EXPECT_EQ(missing.out, "");

    Ok({"passwords", "off"}, "main-secret\n");
    const std::string plain = ConsoleBytes();
    EXPECT_NE(plain.find(std::string("s\0r\0v\0", 6)), std::string::npos);
    EXPECT_EQ(plain.find("host-secret"), std::string::npos);  // plain records keep no password
    Ok({"tree"});  // no prompt any more
    Ok({"passwords", "off"});  // already off: nothing to do

    // Turning it on without a main password (end of input), or with an
    // empty one, leaves it off.
    EXPECT_NE(Run({"passwords", "on"}).status, 0);
    Fails({"passwords", "on", "--main-password-stdin"}, "An empty main password is not allowed", "\n");
    EXPECT_EQ(ConsoleBytes(), plain);
}

TEST_F(CommandTest, AnOlderReleasesEncryptedFileOpensAndIsReencryptedOnce)
{
    const std::string legacy = ReadWholeFile(SourceDir() + "/tests/data/crypt/version1_encrypted.stream");
    ASSERT_FALSE(legacy.empty());
    const auto image = FormatConsoleFile(
        {ConsoleFileInstance{kFerrodexSnapinClass, std::vector<std::uint8_t>(legacy.begin(), legacy.end())}});
    std::ofstream(m_console, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                     static_cast<std::streamsize>(image.size()));
    // Reading alone changes nothing.
    EXPECT_EQ(Names(Child(Json({"tree", "--json"}, "fixture-main\n"), "Lab")),
              (std::vector<std::string>{"srv-database-01.example.com", "srv-backup-02.example.com"}));
    EXPECT_EQ(ConsoleBytes(), std::string(image.begin(), image.end()));
    // The first save writes the new form and says so, without failing.
    const RunResult first = Ok({"group", "add", "Prod"}, "fixture-main\n");
    EXPECT_NE(first.err.find("Note: The logins and passwords of this console file were re-encrypted"),
              std::string::npos)
        << first.err;
    const std::string saved = ConsoleBytes();
    EXPECT_NE(saved.find(std::string("6\0\0\0\6\0\0\0scrypt", 14)), std::string::npos);
    EXPECT_EQ(saved.find("srv-database"), std::string::npos);
    const RunResult second = Ok({"group", "add", "Test"}, "fixture-main\n");
    EXPECT_EQ(second.err.find("re-encrypted"), std::string::npos) << second.err;
}

TEST_F(CommandTest, HostHoldingXmlShowsItsHardwareOnlyWhenNamedAndViewXmlShowsTheSame)
{
    WriteConsoleWithXml("root.xml");
    const JsonValue host = Json({"tree", "Lab/srv", "--json", "--login", "root"});
    EXPECT_EQ(host["name"].text, "srv");
    const std::vector<std::string> names = Names(host);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names.front(), "general");
    EXPECT_FALSE(host.Has("rows"));  // its rows are under "general"
    const JsonValue& memory = Child(Child(host, "core"), "memory");
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
    const RunResult text = RunFerrodex(m_env, {"view-xml", SourceDir() + "/tests/data/lshw/list_wrapped.xml"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.rfind("general\n", 0), 0u);
    EXPECT_NE(text.out.find("\ncore\n  general\n"), std::string::npos);

    // What is no hardware tree is refused: not XML, missing, or a
    // processor-only listing without hardware nodes.
    const std::string notXml = m_dir.file("notes.txt");
    std::ofstream(notXml) << "this is not lshw output\n";
    const RunResult refused = RunFerrodex(m_env, {"view-xml", notXml});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("Error: "), std::string::npos);
    EXPECT_NE(RunFerrodex(m_env, {"view-xml", m_dir.file("missing.xml")}).status, 0);
    EXPECT_NE(RunFerrodex(m_env, {"view-xml", SourceDir() + "/tests/data/lshw/list_processor.xml"}).status, 0);
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
    // Expanding the host asks for its login too: cancelled, the command fails.
    Fails({"tree", "Lab/srv", "--login", "root", "--password-stdin"}, "Error: ");
}

TEST_F(CommandTest, HostileHostTextReachesNoTerminalRaw)
{
    // Escape sequences, C1 controls, bidirectional overrides, line feeds and
    // carriage returns in hardware values, node names, group and host names.
    // Group "Lab\x1b[2J" with host "srv\u202e" holding hostile.xml: names
    // refused today, in a file of a release that took them.
    UseConsoleFile("hostile_names.fdx");
    const std::string host = "Lab\x1b[2J/srv\u202e";
    const std::string hostileFile = SourceDir() + "/tests/data/lshw/hostile.xml";

    const RunResult viewed = RunFerrodex(m_env, {"view-xml", hostileFile});
    const RunResult tree = Ok({"tree", "--login", "root"});
    const RunResult hostTree = Ok({"tree", host, "--login", "root"});
    const RunResult shown = Ok({"show", host + "/general", "--login", "root"});
    ASSERT_EQ(viewed.status, 0) << viewed.err;
    for (const RunResult* text : {&viewed, &tree, &hostTree, &shown}) {
        EXPECT_EQ(FirstRawControl(text->out), "") << text->out;
        EXPECT_EQ(FirstRawControl(text->err), "") << text->err;
        // A line feed in a value forges no line of its own.
        EXPECT_EQ(text->out.find("\nError: forged"), std::string::npos) << text->out;
    }
    // Written out visibly; the classes of characters are TerminalText's.
    for (const char* visible : {"\\x1b]0;owned title\\x07", "line one\\x0aError: forged\\x0dover", "cpu\\u202d"})
        EXPECT_NE(viewed.out.find(visible), std::string::npos) << visible << "\n" << viewed.out;
    EXPECT_NE(tree.out.find("Lab\\x1b[2J\n"), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("srv\\u202e\n"), std::string::npos) << tree.out;
    EXPECT_NE(hostTree.out.find("cpu\\u202d"), std::string::npos) << hostTree.out;
    EXPECT_NE(shown.out.find("Computer\\x1b]0;owned title\\x07"), std::string::npos) << shown.out;

    // A path that names nothing is quoted in the error, filtered as well.
    const RunResult missing = Fails({"show", host + "/\x1b]0;x\x07", "--login", "root"}, "\\x1b]0;x\\x07");
    EXPECT_EQ(FirstRawControl(missing.err), "") << missing.err;

    // JSON keeps the exact text, escaped (every class: JsonWriter's tests).
    const RunResult json = RunFerrodex(m_env, {"view-xml", hostileFile, "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(FirstRawControl(json.out), "") << json.out;
    JsonValue value;
    ASSERT_TRUE(ParseJson(json.out, value));
    ASSERT_EQ(value[0]["name"].text, "general");
    EXPECT_EQ(value[0]["rows"][0][1].text, "Computer\x1b]0;owned title\x07");
    const JsonValue inventory = Json({"tree", "--json"});
    EXPECT_EQ(Child(Child(inventory, "Lab\x1b[2J"), "srv\u202e")["name"].text, "srv\u202e");
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

TEST_F(CommandTest, EveryCommandHasHelpBadUsageFailsAndRegistrationIsOnRequest)
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

    // Registration on request (at the first start: install_test.sh).
    const std::string classes = m_env.registry + "/HKEY_CLASSES_ROOT.reg";
    EXPECT_EQ(RunFerrodex(m_env, {"register"}).status, 0);
    EXPECT_NE(ReadWholeFile(classes).find("D89C902C-BBEF-4E6D-BD92-E71764806F79"), std::string::npos);
    EXPECT_EQ(RunFerrodex(m_env, {"unregister"}).status, 0);
    EXPECT_EQ(ReadWholeFile(classes).find("D89C902C-BBEF-4E6D-BD92-E71764806F79"), std::string::npos);
}

TEST_F(CommandTest, TheLoginMethodFollowsAddAndEditAndNoSecretIsShownOrKeptInClear)
{
    Ok({"group", "add", "Lab"});
    // The password first, then the passphrase, one line each.
    Ok({"host", "add", "Lab", "k.example", "--login", "ops", "--identity", "keys/id_ed25519", "--password-stdin",
        "--passphrase-stdin"},
       "pw-Secret-7\npp-Secret-6\n");
    // --identity and --agent on add, --no-agent on edit: LoginPeerTest, against sshd.
    const auto method = [&](const char* host) {
        return Child(Child(Json({"tree", "--json"}), "Lab"), host)["loginMethod"].text;
    };
    // The tree gives the address and the port, never the login or a secret.
    const RunResult tree = Ok({"tree", "--json"});
    for (const char* part : {"\"address\":\"k.example\"", "\"port\":22"})
        EXPECT_NE(tree.out.find(part), std::string::npos) << part << "\n" << tree.out;
    for (const char* hidden : {"ops", "pw-Secret-7", "pp-Secret-6"}) EXPECT_EQ(tree.out.find(hidden), std::string::npos);
    // A relative key path is kept from the working folder; the plain file
    // keeps the login and the path, never the secrets.
    std::string saved = ConsoleBytes();
    EXPECT_NE(saved.find("/keys/id_ed25519"), std::string::npos);
    EXPECT_NE(saved.find("ops"), std::string::npos);
    Ok({"host", "edit", "Lab/k.example", "--identity", ""});
    EXPECT_EQ(method("k.example"), "password");
    Ok({"host", "edit", "Lab/k.example", "--identity", "/etc/k", "--password-stdin", "--passphrase-stdin"},
       "pw-Secret-7\npp-Secret-6\n");
    const RunResult exported = Ok({"export", "--format", "json"});
    EXPECT_NE(exported.out.find("\"loginMethod\":\"key-file\""), std::string::npos) << exported.out;

    // With Save Passwords on, the secrets go into the vault and only there.
    Ok({"passwords", "on", "--main-password-stdin"}, "main-Secret-5\n");
    Ok({"host", "edit", "Lab/k.example", "--password-stdin", "--passphrase-stdin"},
       "main-Secret-5\npw-Secret-7\npp-Secret-6\n");
    saved = ConsoleBytes();
    for (const char* secret : {"pw-Secret-7", "pp-Secret-6", "main-Secret-5", "/etc/k"})
        EXPECT_EQ(saved.find(secret), std::string::npos) << secret;
    const RunResult listed = Ok({"tree", "--json"}, "main-Secret-5\n");
    EXPECT_NE(listed.out.find("\"loginMethod\":\"key-file\""), std::string::npos) << listed.out;
    for (const char* secret : {"pw-Secret-7", "pp-Secret-6"}) EXPECT_EQ(listed.out.find(secret), std::string::npos);
}

// The progress bar of a command that works through many hosts: drawn only
// for a text that starts with a sound "DONE/TOTAL".
TEST(ProgressBarTest, FillsByTheCountAndLeavesOtherTextsAlone)
{
    EXPECT_EQ(ProgressBarText(u"0/4 done, 0 failed", 4), u"[    ] 0/4 done, 0 failed");
    EXPECT_EQ(ProgressBarText(u"3/4 done, 1 failed", 4), u"[### ] 3/4 done, 1 failed");
    EXPECT_EQ(ProgressBarText(u"4/4 done, 0 failed", 4), u"[####] 4/4 done, 0 failed");
    // More done than there are, no total, a zero total, a number too long
    // to hold, or no count at all: the text as it is, never a bar past its
    // end.
    for (const std::u16string text : {u"5/4 done", u"3/ done", u"0/0 done", u"1/99999999999999999999 done",
                                      u"Connecting...", u"", u"/4"})
        EXPECT_EQ(ProgressBarText(text, 4), text);
}

TEST_F(CommandTest, HostsHaveNamesApartFromAddressesAndPathsUseThem)
{
    WriteConsoleWithXml("root.xml");
    // A host is renamed; its address, hardware and login stay.
    Ok({"host", "rename", "Lab/srv", "web-primary"});
    const JsonValue renamed = Child(Json({"tree", "--json"}), "Lab");
    EXPECT_EQ(Names(renamed), std::vector<std::string>{"web-primary"});
    EXPECT_EQ(Child(renamed, "web-primary")["address"].text, "srv");
    // A second login on the same address is a host of its own name.
    Ok({"host", "add", "Lab", "legacy-app", "--address", "srv", "--login", "legacy"});
    Ok({"host", "add", "Lab", "10.0.0.7"});
    const JsonValue lab = Child(Json({"tree", "--json"}), "Lab");
    EXPECT_EQ(Names(lab), (std::vector<std::string>{"web-primary", "legacy-app", "10.0.0.7"}));
    EXPECT_EQ(Child(lab, "legacy-app")["address"].text, "srv");
    EXPECT_EQ(Child(lab, "10.0.0.7")["address"].text, "10.0.0.7");

    // Names are unique within the group, whichever way they come; the
    // refusal says why and changes nothing.
    const std::string before = ConsoleBytes();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"host", "rename", "Lab/legacy-app", "web-primary"},
          std::vector<std::string>{"host", "add", "Lab", "web-primary", "--address", "10.0.0.8"},
          std::vector<std::string>{"host", "edit", "Lab/10.0.0.7", "--host", "web-primary"}}) {
        const RunResult refused = Run(args);
        EXPECT_NE(refused.status, 0) << ::testing::PrintToString(args);
        EXPECT_NE(refused.err.find("holds a host named \"web-primary\""), std::string::npos) << refused.err;
        EXPECT_EQ(ConsoleBytes(), before);
    }
    EXPECT_NE(Run({"host", "rename", "Lab/nothing", "x"}).status, 0);
    EXPECT_NE(Run({"host", "rename", "Lab/legacy-app", "a/b"}).status, 0);
    // A host named by its address follows a new address; a named one keeps its name.
    Ok({"host", "edit", "Lab/10.0.0.7", "--host", "10.0.0.70"});
    Ok({"host", "edit", "Lab/legacy-app", "--host", "srv2"});
    EXPECT_EQ(Names(Child(Json({"tree", "--json"}), "Lab")), (std::vector<std::string>{"web-primary", "legacy-app", "10.0.0.70"}));

    // Every path names the host by its name.
    const JsonValue memory = Json({"show", "Lab/web-primary/core/memory", "--json", "--login", "root"});
    EXPECT_TRUE(memory.Has("rows"));
    EXPECT_NE(Run({"show", "Lab/srv/core/memory", "--login", "root"}).status, 0);
    const RunResult found = Ok({"find", "class=memory", "--json"});
    EXPECT_NE(found.out.find("web-primary"), std::string::npos) << found.out;
    const JsonValue exported = Json({"export", "Lab/web-primary", "--format", "json"});
    EXPECT_NE(exported.kind, JsonValue::Kind::Null);
    EXPECT_NE(Ok({"export", "Lab/web-primary", "--format", "csv"}).out.find("web-primary"), std::string::npos);
    EXPECT_EQ(Run({"history", "Lab/web-primary"}).status, 0);
}

TEST_F(CommandTest, AnEncryptedConsoleFileReplacedByAPlainOneIsRefusedUntilAccepted)
{
    Ok({"group", "add", "Lab"});
    Ok({"host", "add", "Lab", "srv", "--login", "root", "--password-stdin"}, "host-secret\n");
    Ok({"passwords", "on", "--main-password-stdin"}, "main-secret\n");
    // The attacker's plain file: the same host, scanned through sudo over a
    // jump host of theirs.
    const std::string forged = m_dir.file("forged.fdx");
    OkOn(forged, {"group", "add", "Lab"});
    OkOn(forged, {"host", "add", "Lab", "srv", "--login", "root", "--sudo", "--jump", "eve@bastion.example"});
    const std::string plain = ReadWholeFile(forged);
    const auto plant = [&](const std::string& path) {
        // Written in place: the file keeps its identity.
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(plain.data(), static_cast<std::streamsize>(plain.size()));
    };
    const std::string kRefused = "was encrypted (Save Passwords) when it was last used here, and is now a plain file";
    const auto expectRefused = [&](const std::vector<std::string>& args, const std::string& path) {
        const std::string before = ReadWholeFile(path);
        const RunResult result = FailsOn(path, args, kRefused);
        EXPECT_NE(result.err.find("--accept-plain"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(ReadWholeFile(path), before) << "a refused file is left as it is";
    };

    // Replaced in place, or moved first and then replaced: refused by every
    // command, reading or changing.
    std::filesystem::copy_file(forged, m_console, std::filesystem::copy_options::overwrite_existing);
    expectRefused({"tree"}, m_console);
    expectRefused({"group", "add", "More"}, m_console);
    Ok({"passwords", "on", "--main-password-stdin", "--accept-plain"}, "main-secret\n");
    const std::string moved = m_dir.file("moved.fdx");
    std::filesystem::rename(m_console, moved);
    plant(moved);
    expectRefused({"tree", "--json"}, moved);

    // Accepted once, with a warning; then it is a plain file like any other.
    const RunResult accepted = OkOn(moved, {"--accept-plain", "tree", "--json"});
    EXPECT_NE(accepted.err.find("Warning: console file " + moved), std::string::npos) << accepted.err;
    EXPECT_NE(accepted.err.find(kRefused), std::string::npos) << accepted.err;
    EXPECT_EQ(OkOn(moved, {"tree"}).err.find(kRefused), std::string::npos);

    // Saved encrypted again, it is noted again.
    OkOn(moved, {"passwords", "on", "--main-password-stdin"}, "main-secret\n");
    plant(moved);
    expectRefused({"tree"}, moved);
}

}  // namespace
