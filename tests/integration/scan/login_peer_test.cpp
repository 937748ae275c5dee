// Whole `ferrodex host refresh` runs against real servers that refuse plain
// password logins: key files of each type (one protected by a passphrase),
// the SSH agent, keyboard-interactive through PAM, a key and then a
// password, a server that takes only ssh-rsa signatures, and Dropbear.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "inventory/host_node.h"
#include "platform/text.h"
#include "inventory/host_login.h"
#include "tests/console/run_ferrodex.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/dropbear_peer.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/ssh_keys.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

class LoginPeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        if (std::system("command -v ssh-keygen >/dev/null") != 0) FDX_PEER_MISSING() << "ssh-keygen is not installed";
        environment.registry = dir.file("registry");
        environment.dataHome = dir.file("data");
        std::filesystem::create_directories(environment.registry);
        WriteFakeLshw(dir.file("lshw"), ReadWholeFile(SourceDir() + "/tests/data/lshw/user.xml"));
    }

    RunResult Ferrodex(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--console", dir.file("inventory.fdx")});
        return RunFerrodex(environment, args, input);
    }

    // Adds the host on `port` with the options given, refreshes it with
    // `refreshArgs` and `input`, and checks the scan through tree --json.
    void AddAndRefresh(int port, const std::vector<std::string>& addArgs, const std::vector<std::string>& refreshArgs,
                       const std::string& input, const std::string& method, const std::string& serverLog)
    {
        ASSERT_EQ(Ferrodex({"group", "add", "Lab"}).status, 0);
        std::vector<std::string> add{"host", "add", "Lab", "127.0.0.1", "--port", std::to_string(port), "--login",
                                     SshdPeer::User()};
        add.insert(add.end(), addArgs.begin(), addArgs.end());
        const RunResult added = Ferrodex(add);
        ASSERT_EQ(added.status, 0) << added.err;
        std::vector<std::string> refresh{"host", "refresh", "Lab/127.0.0.1"};
        refresh.insert(refresh.end(), refreshArgs.begin(), refreshArgs.end());
        const RunResult refreshed = Ferrodex(refresh, input);
        ASSERT_EQ(refreshed.status, 0) << refreshed.err << "\n" << serverLog;
        // The console file kept the login and the way in: a tree read needs
        // no option and contacts nobody.
        const RunResult tree = Ferrodex({"tree", "--json"});
        ASSERT_EQ(tree.status, 0) << tree.err;
        EXPECT_NE(tree.out.find("\"loginMethod\":\"" + method + "\""), std::string::npos) << tree.out;
        const RunResult shown = Ferrodex({"tree", "Lab/127.0.0.1", "--json"});
        EXPECT_NE(shown.out.find("\"children\""), std::string::npos) << shown.out << shown.err;
    }

    SshdOptions KeyOnlyServer(std::vector<std::string> config) const
    {
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.extraConfig = std::move(config);
        options.bindMounts = {{dir.file("lshw"), "/usr/bin/lshw"}};
        return options;
    }

    TempDir dir;
    RunEnvironment environment;
    // No agent of the machine's session takes part unless a test starts one.
    CScopedEnv noAgent{"SSH_AUTH_SOCK", ""};
};

struct SKeyKind {
    const char* type;
    const char* bits;
    const char* passphrase;
};

class KeyFileRefreshTest : public LoginPeerTest, public ::testing::WithParamInterface<SKeyKind> {};

TEST_P(KeyFileRefreshTest, AKeyFileRefreshesAHostWithoutPasswordLogins)
{
    SshdPeer peer(KeyOnlyServer({"PasswordAuthentication no", "AuthenticationMethods publickey"}));
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string key = MakeKey(dir.file("id_key"), GetParam().type, GetParam().bits, GetParam().passphrase);
    ASSERT_FALSE(key.empty());
    Authorize(key, peer.folder() + "/authorized_keys");
    const std::string passphrase = GetParam().passphrase;
    // A plain console file keeps no passphrase: the refresh reads it.
    std::vector<std::string> refreshArgs;
    if (!passphrase.empty()) refreshArgs.push_back("--passphrase-stdin");
    AddAndRefresh(peer.port(), {"--identity", key}, refreshArgs, passphrase.empty() ? "" : passphrase + "\n",
                  "key-file", peer.logText());
    EXPECT_NE(peer.logText().find("Accepted publickey for fdxtest"), std::string::npos) << peer.logText();
    if (!passphrase.empty()) {
        EXPECT_EQ(ReadWholeFile(dir.file("inventory.fdx")).find(passphrase), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Keygen, KeyFileRefreshTest,
                         ::testing::Values(SKeyKind{"ed25519", "", ""}, SKeyKind{"ecdsa", "384", "a pass phrase"},
                                           SKeyKind{"rsa", "3072", ""}),
                         [](const ::testing::TestParamInfo<SKeyKind>& param) {
                             return std::string(param.param.type) + (*param.param.passphrase ? "Protected" : "");
                         });

TEST_F(LoginPeerTest, SeveralKeyFilesAreTriedInTheirOrder)
{
    SshdPeer peer(KeyOnlyServer({"PasswordAuthentication no", "AuthenticationMethods publickey"}));
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string stranger = MakeKey(dir.file("id_stranger"), "ed25519", "", "");
    const std::string own = MakeKey(dir.file("id_own"), "rsa", "3072", "");
    ASSERT_FALSE(stranger.empty());
    ASSERT_FALSE(own.empty());
    Authorize(own, peer.folder() + "/authorized_keys");
    // As ssh -i given twice: the unknown key is offered first, refused, and
    // the next file logs in.
    AddAndRefresh(peer.port(), {"--identity", stranger, "--identity", own}, {}, "", "key-file", peer.logText());
    EXPECT_NE(peer.logText().find("Accepted publickey for fdxtest"), std::string::npos) << peer.logText();
    EXPECT_NE(peer.logText().find("RSA SHA256:"), std::string::npos) << peer.logText();
    // Nine files are more than a host offers: refused with the reason.
    std::vector<std::string> many{"host", "edit", "Lab/127.0.0.1"};
    for (int i = 0; i < 9; ++i) many.insert(many.end(), {"--identity", dir.file("k" + std::to_string(i))});
    const RunResult refused = Ferrodex(many);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("at most 8 key files"), std::string::npos) << refused.err;
}

TEST_F(LoginPeerTest, TheAgentRefreshesAHostThatSaysSo)
{
    if (std::system("command -v ssh-agent >/dev/null") != 0) FDX_PEER_MISSING() << "ssh-agent is not installed";
    SshdPeer peer(KeyOnlyServer({"PasswordAuthentication no", "AuthenticationMethods publickey"}));
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string key = MakeKey(dir.file("id_agent"), "ed25519", "", "");
    ASSERT_FALSE(key.empty());
    Authorize(key, peer.folder() + "/authorized_keys");
    CTestAgent agent(dir.file("agent.sock"));
    ASSERT_TRUE(agent.running());
    ASSERT_TRUE(agent.Add(key));
    std::filesystem::remove(key);  // only the agent holds it now
    CScopedEnv socket("SSH_AUTH_SOCK", dir.file("agent.sock"));
    AddAndRefresh(peer.port(), {"--agent"}, {}, "", "agent", peer.logText());
    // Told not to use the agent, the host has no way in, and the message
    // says what the server takes.
    ASSERT_EQ(Ferrodex({"host", "edit", "Lab/127.0.0.1", "--no-agent"}).status, 0);
    const RunResult refused = Ferrodex({"host", "refresh", "Lab/127.0.0.1", "--login", SshdPeer::User(),
                                        "--password-stdin"},
                                       "not-the-key\n");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("publickey"), std::string::npos) << refused.err;
}

TEST_F(LoginPeerTest, KeyboardInteractiveThroughPamRefreshesWithThePassword)
{
    SshdOptions options = KeyOnlyServer({"KbdInteractiveAuthentication yes", "PasswordAuthentication no"});
    options.usePam = true;
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    AddAndRefresh(peer.port(), {}, {"--login", SshdPeer::User(), "--password-stdin"}, password, "password",
                  peer.logText());
    EXPECT_NE(peer.logText().find("Accepted keyboard-interactive"), std::string::npos) << peer.logText();
}

TEST_F(LoginPeerTest, AServerThatWantsAKeyAndThenThePasswordGetsBoth)
{
    SshdPeer peer(KeyOnlyServer({"AuthenticationMethods publickey,password"}));
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string key = MakeKey(dir.file("id_both"), "ed25519", "", "");
    ASSERT_FALSE(key.empty());
    Authorize(key, peer.folder() + "/authorized_keys");
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    AddAndRefresh(peer.port(), {"--identity", key}, {"--login", SshdPeer::User(), "--password-stdin"}, password,
                  "key-file", peer.logText());
    const std::string log = peer.logText();
    EXPECT_NE(log.find("Partial publickey"), std::string::npos) << log;
    EXPECT_NE(log.find("Accepted password"), std::string::npos) << log;
}

TEST_F(LoginPeerTest, AServerThatTakesOnlySshRsaSignaturesGetsOne)
{
    SshdPeer peer(KeyOnlyServer({"PasswordAuthentication no", "PubkeyAcceptedAlgorithms ssh-rsa"}));
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string key = MakeKey(dir.file("id_rsa"), "rsa", "2048", "");
    ASSERT_FALSE(key.empty());
    Authorize(key, peer.folder() + "/authorized_keys");
    AddAndRefresh(peer.port(), {"--identity", key}, {}, "", "key-file", peer.logText());
    EXPECT_NE(peer.logText().find("Accepted publickey for fdxtest from 127.0.0.1"), std::string::npos);
    EXPECT_NE(peer.logText().find("RSA SHA256:"), std::string::npos) << peer.logText();
}

TEST_F(LoginPeerTest, DropbearTakesAKeyFile)
{
    if (std::string why; !DropbearPeer::Available(&why)) FDX_PEER_MISSING() << why;
    // The login's home, laid over the test user's for the server only: it
    // holds the key's authorized_keys.
    const std::string home = dir.file("home");
    std::filesystem::create_directories(home + "/.ssh");
    ::chmod(home.c_str(), 0755);
    ::chmod((home + "/.ssh").c_str(), 0755);
    const std::string key = MakeKey(dir.file("id_dropbear"), "ed25519", "", "");
    ASSERT_FALSE(key.empty());
    Authorize(key, home + "/.ssh/authorized_keys");
    DropbearOptions options;
    options.extraArgs = {"-s"};  // no password logins
    options.bindMounts = {{dir.file("lshw"), "/usr/bin/lshw"}, {home, "/home/" + std::string(SshdPeer::User())}};
    DropbearPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    AddAndRefresh(peer.port(), {"--identity", key}, {}, "", "key-file", peer.logText());
    EXPECT_NE(peer.logText().find("Pubkey auth succeeded"), std::string::npos) << peer.logText();
}

// The rule that turns a host into its login, on host records alone.
TEST(HostLoginRule, TheAgentIsAskedOnlyWhenTheHostSaysSoOrHasNoOtherWay)
{
    struct SCase {
        const char16_t* keyFile;
        const char16_t* password;
        bool agent;
        bool asked;
        ELoginMethod method;
    };
    const SCase cases[] = {
        {u"", u"", false, true, LOGIN_PASSWORD},          // nothing else could log in
        {u"", u"pw", false, false, LOGIN_PASSWORD},       // the password alone
        {u"/k", u"", false, false, LOGIN_KEY_FILE},       // the key alone
        {u"/k", u"pw", true, true, LOGIN_AGENT},          // said so
        {u"", u"pw", true, true, LOGIN_AGENT},
    };
    for (const SCase& c : cases) {
        CHostNode host(nullptr);
        host.m_bstrKeyFile = c.keyFile;
        host.m_bstrPassword = c.password;
        host.m_bUseAgent = c.agent;
        SHostLogin login;
        MakeHostLogin(host, login);
        EXPECT_EQ(login.keys.useAgent, c.asked);
        EXPECT_EQ(HostLoginMethod(host), c.method);
        EXPECT_EQ(login.password, WideToAnsi(c.password));
    }
    CHostNode home(nullptr);
    home.m_bstrKeyFile = u"~/.ssh/id_ed25519";
    CScopedEnv env("HOME", "/home/someone");
    SHostLogin login;
    MakeHostLogin(home, login);
    EXPECT_EQ(login.keys.identityFile, "/home/someone/.ssh/id_ed25519");
}

TEST_F(LoginPeerTest, OnlyAProtectedKeyWithoutItsPassphraseAsksForOne)
{
    const std::string plain = MakeKey(dir.file("plain"), "ed25519", "", "");
    const std::string locked = MakeKey(dir.file("locked"), "ed25519", "", "secret words");
    ASSERT_FALSE(plain.empty());
    ASSERT_FALSE(locked.empty());
    CHostNode host(nullptr);
    host.m_bstrKeyFile = AnsiToWide(plain);
    EXPECT_FALSE(HostKeyNeedsPassphrase(host));
    host.m_bstrKeyFile = AnsiToWide(locked);
    EXPECT_TRUE(HostKeyNeedsPassphrase(host));
    host.m_bstrPassphrase = u"anything";  // tried at the login, not here
    EXPECT_FALSE(HostKeyNeedsPassphrase(host));
    host.m_bstrKeyFile = AnsiToWide(dir.file("missing"));
    host.m_bstrPassphrase.clear();
    EXPECT_FALSE(HostKeyNeedsPassphrase(host)) << "a missing file is the login's error to tell";
}

}  // namespace
