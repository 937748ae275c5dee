// How a host record becomes its login: several key files, an RSA key for a
// server that takes only ssh-rsa signatures, and a key for Dropbear, through
// a whole `ferrodex host refresh`; and the rule that picks the login
// method on host records alone. (Every login method end to end:
// fleet_logins_test.cpp.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "inventory/host_node.h"
#include "platform/text.h"
#include "inventory/host_login.h"
#include "tests/console/run_ferrodex.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/dropbear_peer.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/ssh_keys.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

// A host on a real sshd that takes keys only (and `config`), refreshed by
// `ferrodex host refresh` with the key files given.
class KeyLoginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        if (std::system("command -v ssh-keygen >/dev/null") != 0) FDX_PEER_MISSING() << "ssh-keygen is not installed";
        std::filesystem::create_directories(environment.registry);
        WriteFakeLshw(dir.file("lshw"), LshwSample("user.xml"));
    }
    RunResult Ferrodex(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--console", dir.file("inventory.fdx")});
        return RunFerrodex(environment, args);
    }
    SshdOptions Sshd(std::vector<std::string> config) const
    {
        return LshwSshd(dir.file("lshw"), std::move(config));
    }
    // Adds the host on `port` with `keys` and refreshes it; the server's log
    // tells on a failure.
    void AddAndRefresh(int port, const std::vector<std::string>& keys, const std::string& serverLog)
    {
        ASSERT_EQ(Ferrodex({"group", "add", "Lab"}).status, 0);
        std::vector<std::string> add{"host", "add", "Lab", "127.0.0.1", "--port", std::to_string(port), "--login",
                                     SshdPeer::User()};
        for (const std::string& key : keys) add.insert(add.end(), {"--identity", key});
        ASSERT_EQ(Ferrodex(add).status, 0);
        const RunResult refreshed = Ferrodex({"host", "refresh", "Lab/127.0.0.1"});
        ASSERT_EQ(refreshed.status, 0) << refreshed.err << "\n" << serverLog;
        EXPECT_NE(Ferrodex({"tree", "--json"}).out.find("\"loginMethod\":\"key-file\""), std::string::npos);
    }

    TempDir dir;
    RunEnvironment environment{dir.file("registry"), dir.file("data")};
    const CScopedEnv noAgent{"SSH_AUTH_SOCK", ""};
};

TEST_F(KeyLoginTest, SeveralKeyFilesAreTriedInTheirOrder)
{
    const std::string stranger = MakeKey(dir.file("id_stranger"), "ed25519", "", "");
    const std::string own = MakeKey(dir.file("id_own"), "rsa", "3072", "");
    ASSERT_FALSE(stranger.empty() || own.empty());
    SshdPeer peer(Sshd({"PasswordAuthentication no", "AuthenticationMethods publickey"}));
    ASSERT_TRUE(peer.running()) << peer.logText();
    Authorize(own, peer.folder() + "/authorized_keys");
    // As ssh -i given twice: the unknown key is offered first, refused, and
    // the next file logs in.
    AddAndRefresh(peer.port(), {stranger, own}, peer.logText());
    const std::string log = peer.logText();
    EXPECT_NE(log.find(std::string("Accepted publickey for ") + SshdPeer::User()), std::string::npos) << log;
    EXPECT_NE(log.find("RSA SHA256:"), std::string::npos) << log;
    // Nine files are more than a host offers: refused with the reason.
    std::vector<std::string> many{"host", "edit", "Lab/127.0.0.1"};
    for (int i = 0; i < 9; ++i) many.insert(many.end(), {"--identity", dir.file("k" + std::to_string(i))});
    const RunResult refused = Ferrodex(many);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("at most 8 key files"), std::string::npos) << refused.err;
}

// sshd lists rsa-sha2 in server-sig-algs even when it takes only ssh-rsa.
TEST_F(KeyLoginTest, AServerThatTakesOnlySshRsaSignaturesGetsOne)
{
    const std::string key = MakeKey(dir.file("id_rsa"), "rsa", "2048", "");
    ASSERT_FALSE(key.empty());
    SshdPeer peer(Sshd({"PasswordAuthentication no", "PubkeyAcceptedAlgorithms ssh-rsa"}));
    ASSERT_TRUE(peer.running()) << peer.logText();
    Authorize(key, peer.folder() + "/authorized_keys");
    AddAndRefresh(peer.port(), {key}, peer.logText());
    EXPECT_NE(peer.logText().find(std::string("Accepted publickey for ") + SshdPeer::User() + " from 127.0.0.1"),
              std::string::npos);
    EXPECT_NE(peer.logText().find("RSA SHA256:"), std::string::npos) << peer.logText();
}

TEST_F(KeyLoginTest, DropbearTakesAKeyFile)
{
    if (std::string why; !DropbearPeer::Available(&why)) FDX_PEER_MISSING() << why;
    // The login's home, laid over the test user's for the server only: it
    // holds the key's authorized_keys.
    const std::string home = dir.file("home");
    std::filesystem::create_directories(home + "/.ssh");
    std::filesystem::permissions(home, std::filesystem::perms(0755));
    std::filesystem::permissions(home + "/.ssh", std::filesystem::perms(0755));
    const std::string key = MakeKey(dir.file("id_dropbear"), "ed25519", "", "");
    ASSERT_FALSE(key.empty());
    Authorize(key, home + "/.ssh/authorized_keys");
    DropbearOptions options;
    options.extraArgs = {"-s"};  // no password logins
    options.bindMounts = {{dir.file("lshw"), "/usr/bin/lshw"}, {home, "/home/" + std::string(SshdPeer::User())}};
    DropbearPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    AddAndRefresh(peer.port(), {key}, peer.logText());
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

TEST(HostLoginRule, OnlyAProtectedKeyWithoutItsPassphraseAsksForOne)
{
    if (std::system("command -v ssh-keygen >/dev/null") != 0) FDX_PEER_MISSING() << "ssh-keygen is not installed";
    TempDir dir;
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
