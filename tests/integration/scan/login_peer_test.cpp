// How a host record becomes its login: several key files through a whole
// `ferrodex host refresh` against a real sshd that takes keys only, and the
// rule that picks the login method on host records alone. (Every login
// method end to end: fleet_logins_test.cpp.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "inventory/host_node.h"
#include "platform/text.h"
#include "inventory/host_login.h"
#include "tests/console/run_ferrodex.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/ssh_keys.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(LoginPeerTest, SeveralKeyFilesAreTriedInTheirOrder)
{
    std::string why;
    if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
    if (std::system("command -v ssh-keygen >/dev/null") != 0) FDX_PEER_MISSING() << "ssh-keygen is not installed";
    TempDir dir;
    RunEnvironment environment{dir.file("registry"), dir.file("data")};
    std::filesystem::create_directories(environment.registry);
    const auto ferrodex = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--console", dir.file("inventory.fdx")});
        return RunFerrodex(environment, args);
    };
    const CScopedEnv noAgent("SSH_AUTH_SOCK", "");
    WriteFakeLshw(dir.file("lshw"), ReadWholeFile(SourceDir() + "/tests/data/lshw/user.xml"));
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"PasswordAuthentication no", "AuthenticationMethods publickey"};
    options.bindMounts = {{dir.file("lshw"), "/usr/bin/lshw"}};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string stranger = MakeKey(dir.file("id_stranger"), "ed25519", "", "");
    const std::string own = MakeKey(dir.file("id_own"), "rsa", "3072", "");
    ASSERT_FALSE(stranger.empty() || own.empty());
    Authorize(own, peer.folder() + "/authorized_keys");
    // As ssh -i given twice: the unknown key is offered first, refused, and
    // the next file logs in.
    ASSERT_EQ(ferrodex({"group", "add", "Lab"}).status, 0);
    ASSERT_EQ(ferrodex({"host", "add", "Lab", "127.0.0.1", "--port", std::to_string(peer.port()), "--login",
                        SshdPeer::User(), "--identity", stranger, "--identity", own})
                  .status,
              0);
    const RunResult refreshed = ferrodex({"host", "refresh", "Lab/127.0.0.1"});
    ASSERT_EQ(refreshed.status, 0) << refreshed.err << "\n" << peer.logText();
    EXPECT_NE(peer.logText().find("Accepted publickey for fdxtest"), std::string::npos) << peer.logText();
    EXPECT_NE(peer.logText().find("RSA SHA256:"), std::string::npos) << peer.logText();
    EXPECT_NE(ferrodex({"tree", "--json"}).out.find("\"loginMethod\":\"key-file\""), std::string::npos);
    // Nine files are more than a host offers: refused with the reason.
    std::vector<std::string> many{"host", "edit", "Lab/127.0.0.1"};
    for (int i = 0; i < 9; ++i) many.insert(many.end(), {"--identity", dir.file("k" + std::to_string(i))});
    const RunResult refused = ferrodex(many);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("at most 8 key files"), std::string::npos) << refused.err;
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
