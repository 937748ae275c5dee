// `ferrodex refresh` over a fleet that logs in every way a single host
// does: a key file, a key file protected by a passphrase, the SSH agent,
// keyboard-interactive, a password, a host behind a jump host of the
// inventory and one behind a jump host outside it. The secrets come from
// the console file's vault; nothing is typed.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/console/run_ferrodex.h"
#include "tests/scan/scan_fixture.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/ssh_keys.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kMain = "main-pw\n";

class FleetLoginsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        for (const char* tool : {"ssh-keygen", "ssh-agent", "ssh-add"})
            if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0)
                FDX_PEER_MISSING() << tool << " is not installed";
        environment.registry = dir.file("registry");
        environment.dataHome = dir.file("data");
        std::filesystem::create_directories(environment.registry);
        WriteFakeLshw(dir.file("lshw"), LshwSample("user.xml"));

        // Keys only, on four addresses: a key file, a protected one, the
        // agent's key, and the jump host outside the inventory.
        keys = Server({"PasswordAuthentication no", "AuthenticationMethods publickey", "ListenAddress 127.0.0.2",
                       "ListenAddress 127.0.0.3", "ListenAddress 127.0.0.4", "ListenAddress 127.0.0.10",
                       "ListenAddress 127.0.0.9", "AllowTcpForwarding yes"});
        SshdOptions pam = Options({"KbdInteractiveAuthentication yes", "PasswordAuthentication no",
                                   "AuthenticationMethods keyboard-interactive", "ListenAddress 127.0.0.5"});
        pam.usePam = true;
        interactive = std::make_unique<SshdPeer>(pam);
        passwords = Server({"AuthenticationMethods password", "ListenAddress 127.0.0.6", "ListenAddress 127.0.0.7",
                            "ListenAddress 127.0.0.8", "AllowTcpForwarding yes"});
        for (SshdPeer* server : {keys.get(), interactive.get(), passwords.get()})
            ASSERT_TRUE(server->running()) << server->logText();

        plainKey = MakeKey(dir.file("id_plain"), "ed25519", "", "");
        protectedKey = MakeKey(dir.file("id_protected"), "ecdsa", "256", "key pass phrase");
        const std::string agentKey = MakeKey(dir.file("id_agent"), "ed25519", "", "");
        ASSERT_FALSE(plainKey.empty() || protectedKey.empty() || agentKey.empty());
        for (const std::string& key : {plainKey, protectedKey, agentKey}) Authorize(key, keys->folder() + "/authorized_keys");
        agent = std::make_unique<CTestAgent>(dir.file("agent.sock"));
        ASSERT_TRUE(agent->running());
        ASSERT_TRUE(agent->Add(agentKey));
        std::filesystem::remove(agentKey);  // only the agent holds it now
    }

    SshdOptions Options(std::vector<std::string> config) const
    {
        return LshwSshd(dir.file("lshw"), std::move(config));
    }
    std::unique_ptr<SshdPeer> Server(std::vector<std::string> config) const
    {
        return std::make_unique<SshdPeer>(Options(std::move(config)));
    }

    RunResult Ferrodex(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--console", dir.file("fleet.fdx")});
        return RunFerrodex(environment, args, input);
    }

    // Adds GROUP/ADDRESS on `port` as the test user, with `more` options;
    // `secrets` are the lines the options read after the main password.
    void Add(const std::string& group, const std::string& address, int port, std::vector<std::string> more,
             const std::string& secrets = "")
    {
        std::vector<std::string> args{"host", "add", group, address, "--port", std::to_string(port), "--login",
                                      SshdPeer::User()};
        args.insert(args.end(), more.begin(), more.end());
        const RunResult added = Ferrodex(args, kMain + secrets);
        ASSERT_EQ(added.status, 0) << added.err;
    }

    // The whole fleet under a main password: every secret in the vault.
    void AddFleet()
    {
        ASSERT_EQ(Ferrodex({"passwords", "on", "--main-password-stdin"}, kMain).status, 0);
        for (const char* group : {"Keys", "Other", "Routes", "Bastions"})
            ASSERT_EQ(Ferrodex({"group", "add", group}, kMain).status, 0);
        const std::string password = std::string(SshdPeer::Password()) + "\n";
        Add("Keys", "127.0.0.2", keys->port(), {"--identity", plainKey});
        Add("Keys", "127.0.0.3", keys->port(), {"--identity", protectedKey, "--passphrase-stdin"}, "key pass phrase\n");
        Add("Keys", "127.0.0.4", keys->port(), {"--agent"});
        Add("Other", "127.0.0.5", interactive->port(), {"--password-stdin"}, password);
        Add("Other", "127.0.0.6", passwords->port(), {"--password-stdin"}, password);
        // A jump host of the inventory, with its own password; a host
        // behind it; a host behind a jump host that only takes keys and is
        // no host of the inventory.
        Add("Bastions", "127.0.0.8", passwords->port(), {"--password-stdin"}, password);
        Add("Routes", "127.0.0.7", passwords->port(),
            {"--password-stdin", "--jump", std::string(SshdPeer::User()) + "@127.0.0.8:" + std::to_string(passwords->port())},
            password);
        Add("Routes", "127.0.0.9", keys->port(),
            {"--agent", "--jump", std::string(SshdPeer::User()) + "@127.0.0.10:" + std::to_string(keys->port())});
    }

    TempDir dir;
    RunEnvironment environment;
    std::unique_ptr<SshdPeer> keys, interactive, passwords;
    std::unique_ptr<CTestAgent> agent;
    std::string plainKey, protectedKey;
    CScopedEnv noAgent{"SSH_AUTH_SOCK", ""};
};

TEST_F(FleetLoginsTest, EveryWayInRefreshesUnattended)
{
    AddFleet();
    CScopedEnv socket("SSH_AUTH_SOCK", dir.file("agent.sock"));
    const RunResult refresh = Ferrodex({"refresh", "--jobs", "4", "--json"}, kMain);
    EXPECT_EQ(refresh.status, 0) << refresh.out << refresh.err << keys->logText() << passwords->logText();
    EXPECT_EQ(CountOccurrences(refresh.out, "\"ok\":true"), 8u) << refresh.out << refresh.err;
    // One vocabulary: booleans, one spelling per login method, times in
    // ISO 8601 UTC.
    const std::string protectedRecord = RefreshRecordOf(refresh.out, "Keys/127.0.0.3");
    EXPECT_NE(protectedRecord.find("\"loginMethod\":\"key-file\""), std::string::npos) << protectedRecord;
    EXPECT_NE(protectedRecord.find("\"sudo\":false"), std::string::npos) << protectedRecord;
    EXPECT_NE(RefreshRecordOf(refresh.out, "Keys/127.0.0.4").find("\"loginMethod\":\"agent\""), std::string::npos);
    const std::size_t scanned = protectedRecord.find("\"scanned\":\"");
    ASSERT_NE(scanned, std::string::npos) << protectedRecord;
    const std::string when = protectedRecord.substr(scanned + 11, 20);
    EXPECT_EQ(when.size(), 20u);
    EXPECT_EQ(when[10], 'T') << when;
    EXPECT_EQ(when.back(), 'Z') << when;

    // Each hop logged in its own way: the inventory's jump host with its
    // password, the other one with a key, and no password was tried there.
    const std::string keyLog = keys->logText();
    EXPECT_EQ(CountOccurrences(keyLog, "Failed password"), 0u) << keyLog;
    EXPECT_NE(keyLog.find(std::string("Accepted publickey for ") + SshdPeer::User() + " from 127.0.0.1"),
              std::string::npos)
        << keyLog;
    // Nothing a run knew was lost from the file: no passphrase or password
    // in it, and every host kept its way in and its route.
    const std::string file = ReadWholeFile(dir.file("fleet.fdx"));
    EXPECT_EQ(file.find("key pass phrase"), std::string::npos);
    EXPECT_EQ(file.find(SshdPeer::Password()), std::string::npos);
    const RunResult tree = Ferrodex({"tree", "--json"}, kMain);
    ASSERT_EQ(tree.status, 0) << tree.err;
    EXPECT_EQ(CountOccurrences(tree.out, "\"loginMethod\":\"key-file\""), 2u) << tree.out;
    EXPECT_EQ(CountOccurrences(tree.out, "\"loginMethod\":\"agent\""), 2u) << tree.out;
    EXPECT_EQ(CountOccurrences(tree.out, "\"jump\":"), 2u) << tree.out;
}

TEST_F(FleetLoginsTest, AnsweringAFleetQuestionChangesOnlyWhatWasTyped)
{
    // A plain console file keeps no secret: the protected key's host and the
    // password host behind the inventory's jump host each ask.
    ASSERT_EQ(Ferrodex({"group", "add", "Keys"}).status, 0);
    ASSERT_EQ(Ferrodex({"group", "add", "Routes"}).status, 0);
    const std::string route = std::string(SshdPeer::User()) + "@127.0.0.10:" + std::to_string(keys->port());
    std::vector<std::string> add{"host", "add", "Keys", "127.0.0.3", "--port", std::to_string(keys->port()), "--login",
                                 SshdPeer::User(), "--identity", protectedKey, "--jump", route};
    ASSERT_EQ(Ferrodex(add).status, 0);
    add = {"host", "add", "Routes", "127.0.0.6", "--port", std::to_string(passwords->port()), "--login", SshdPeer::User()};
    ASSERT_EQ(Ferrodex(add).status, 0);

    // Without an answer the run says which host needs what.
    const RunResult unanswered = Ferrodex({"refresh", "--json"});
    EXPECT_NE(unanswered.status, 0);
    EXPECT_NE(unanswered.err.find("Keys/127.0.0.3"), std::string::npos) << unanswered.err;

    // One password line serves every host that needs one; the passphrase is
    // read for the key's host.
    const RunResult refresh =
        Ferrodex({"refresh", "--json", "--password-stdin", "--passphrase-stdin"},
                 std::string(SshdPeer::Password()) + "\nkey pass phrase\n");
    EXPECT_EQ(CountOccurrences(refresh.out, "\"ok\":true"), 2u) << refresh.out << refresh.err << keys->logText();
    const RunResult tree = Ferrodex({"tree", "--json"});
    ASSERT_EQ(tree.status, 0);
    EXPECT_NE(tree.out.find("\"loginMethod\":\"key-file\""), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("\"jump\":\"" + route + "\""), std::string::npos) << tree.out;
}

}  // namespace
