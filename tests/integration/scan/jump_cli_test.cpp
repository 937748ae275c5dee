// Scans through jump hosts with `ferrodex host refresh` against real sshd
// instances: a bastion in front of the scanned host, whose own log shows
// the forwarding; one whose key changed; and a route imported from an ssh
// config. A bastion outside the inventory lets in the scanned host's key
// file (it is offered no password). What a hop is offered:
// jump_secrets_test.cpp.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/scan/scan_fixture.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

using Result = RunResult;

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";

class JumpCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        xml = LshwSample("user.xml");
        WriteFakeLshw(dir.file("lshw"), xml);
        target = std::make_unique<SshdPeer>(SshdOptions{.bindMounts = {{dir.file("lshw"), "/usr/bin/lshw"}}});
        ASSERT_TRUE(target->running()) << target->logText();
        key = dir.file("target_key");
        ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-C", "", "-N", "", "-t", "ed25519", "-f", key}));
        console = "--console " + dir.file("inventory.fdx");
        ASSERT_EQ(Ferrodex("group add Lab").status, 0);
    }
    Result Ferrodex(const std::string& args, const std::string& input = "")
    {
        return RunFerrodexLine(console + " " + args, input);
    }
    // A bastion that takes the target's key file.
    std::unique_ptr<SshdPeer> Bastion() const
    {
        auto bastion =
            std::make_unique<SshdPeer>(SshdOptions{.extraConfig = {"AllowTcpForwarding yes"}, .logLevel = "DEBUG"});
        std::ofstream(bastion->folder() + "/authorized_keys", std::ios::app) << peer::ReadWholeFile(key + ".pub");
        return bastion;
    }
    // Adds the target as Lab/127.0.0.1 behind `route`, with the password and
    // the key file.
    void AddTarget(const std::string& route)
    {
        ASSERT_TRUE(AddPeerHost(console, "Lab", "127.0.0.1", target->port(), " --identity " + key + " --jump " + route));
    }
    // A refresh that gives the host's login and password, as the console
    // file keeps none without a main password.
    Result Refresh(const std::string& options = "")
    {
        return Ferrodex("host refresh Lab/127.0.0.1" + TestLogin() + " " + options, PasswordLines());
    }
    static bool ForwardedTo(const SshdPeer& bastion, int port)
    {
        return bastion.logText().find("target 127.0.0.1 port " + std::to_string(port)) != std::string::npos;
    }
    bool TargetLoggedIn() const { return target->logText().find("Accepted") != std::string::npos; }
    static std::string Name(const SshdPeer& server) { return "127.0.0.1 port " + std::to_string(server.port()); }

    TempRegistry registry;
    TempDir dir;
    std::string xml;
    std::string key;
    std::string console;
    std::unique_ptr<SshdPeer> target;
};

TEST_F(JumpCliTest, TheScanGoesThroughTheBastionAndTheRouteIsKept)
{
    const auto bastion = Bastion();
    ASSERT_TRUE(bastion->running()) << bastion->logText();
    ASSERT_NO_FATAL_FAILURE(AddTarget("127.0.0.1:" + std::to_string(bastion->port())));
    const Result refresh = Refresh();
    ASSERT_EQ(refresh.status, 0) << refresh.err << bastion->logText();
    EXPECT_TRUE(ForwardedTo(*bastion, target->port())) << bastion->logText();
    EXPECT_TRUE(TargetLoggedIn());

    const Result tree = Ferrodex("tree --json");
    ASSERT_EQ(tree.status, 0) << tree.err;
    EXPECT_NE(tree.out.find("\"jump\":\"127.0.0.1:" + std::to_string(bastion->port()) + "\""), std::string::npos)
        << tree.out;
    // The picture came from the target's lshw, and is kept.
    std::ofstream(dir.file("fetched.xml")) << xml;
    const Result expected = Ferrodex("view-xml " + dir.file("fetched.xml") + " --json");
    const Result shown = Ferrodex("tree Lab/127.0.0.1 --json --login root");
    ASSERT_EQ(shown.status, 0) << shown.err;
    const std::size_t children = expected.out.find("\"children\"");
    ASSERT_NE(children, std::string::npos) << expected.out;
    EXPECT_NE(shown.out.find(expected.out.substr(children, 120)), std::string::npos) << shown.out;

    // Reached directly again: the bastion sees no further forwarding.
    ASSERT_EQ(Ferrodex("host edit Lab/127.0.0.1 --no-jump").status, 0);
    EXPECT_EQ(Ferrodex("tree --json").out.find("\"jump\""), std::string::npos);
    const std::size_t before = bastion->logText().size();
    ASSERT_EQ(Refresh().status, 0);
    EXPECT_EQ(bastion->logText().find("direct-tcpip", before), std::string::npos);
}

TEST_F(JumpCliTest, ABastionWhoseKeyChangedIsRefusedUnlessAccepted)
{
    const auto bastion = Bastion();
    ASSERT_TRUE(bastion->running());
    // The cache holds another server's key for the bastion.
    const auto other = Bastion();
    ASSERT_TRUE(other->running());
    ASSERT_NO_FATAL_FAILURE(AddTarget("127.0.0.1:" + std::to_string(other->port())));
    ASSERT_EQ(Refresh().status, 0);  // stores the keys of `other` and the target
    const auto entry = [](const SshdPeer& server) {
        return AnsiToWide("rsa2@" + std::to_string(server.port()) + ":127.0.0.1");
    };
    std::u16string otherKey;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, entry(*other), otherKey));
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, entry(*bastion), otherKey);
    ASSERT_EQ(Ferrodex("host edit Lab/127.0.0.1 --jump 127.0.0.1:" + std::to_string(bastion->port())).status, 0);

    const std::size_t logins = target->logText().size();
    const Result refused = Refresh();
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("Jump host: " + Name(*bastion)), std::string::npos) << refused.err;
    EXPECT_EQ(bastion->logText().find("Accepted"), std::string::npos) << bastion->logText();
    EXPECT_EQ(target->logText().find("Accepted", logins), std::string::npos);
    std::u16string still;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, entry(*bastion), still));
    EXPECT_EQ(still, otherKey);

    // An explicit yes goes on, and stores the bastion's new key.
    const Result accepted = Refresh("--accept-changed-host-key");
    ASSERT_EQ(accepted.status, 0) << accepted.err;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, entry(*bastion), still));
    EXPECT_NE(still, otherKey);
}

TEST_F(JumpCliTest, AnImportedSshConfigsRouteIsTheOneTheScanTakesByTheHostsName)
{
    // The administrator's ssh config: the bastion with its own key, the
    // application host behind it; ferrodex imports both under their names.
    const auto bastion = Bastion();
    ASSERT_TRUE(bastion->running()) << bastion->logText();
    const std::string config = dir.file("ssh_config");
    std::ofstream(config) << "Host bastion\n  HostName 127.0.0.1\n  Port " << bastion->port() << "\n  User "
                          << SshdPeer::User() << "\n  IdentityFile " << key << "\n"
                          << "Host app\n  HostName 127.0.0.1\n  Port " << target->port()
                          << "\n  ProxyJump bastion\n"
                          << "Host *\n  User " << SshdPeer::User() << "\n";
    const Result imported = Ferrodex("import Lab " + config);
    ASSERT_EQ(imported.status, 0) << imported.err;
    const std::string hop = std::string(SshdPeer::User()) + "@127.0.0.1:" + std::to_string(bastion->port());
    EXPECT_NE(imported.err.find("added Lab/app: " + std::string(SshdPeer::User()) + "@127.0.0.1 port " +
                                std::to_string(target->port()) + ", no key file, via " + hop),
              std::string::npos)
        << imported.err;

    // Renamed, and refreshed by its new name: through the bastion, which
    // takes its own record's key; the target takes the password.
    ASSERT_EQ(Ferrodex("host rename Lab/app app-eu").status, 0);
    const Result refresh = Ferrodex("host refresh Lab/app-eu --password-stdin", PasswordLines());
    ASSERT_EQ(refresh.status, 0) << refresh.err << bastion->logText();
    EXPECT_TRUE(ForwardedTo(*bastion, target->port())) << bastion->logText();
    EXPECT_NE(bastion->logText().find("Accepted publickey"), std::string::npos);
    EXPECT_TRUE(TargetLoggedIn());
    // The old name names no host any more.
    EXPECT_NE(Ferrodex("host refresh Lab/app --password-stdin", PasswordLines()).status, 0);
}

}  // namespace
