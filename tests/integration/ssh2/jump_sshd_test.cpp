// Jump hosts against real sshd instances: a bastion that forwards to a
// second server, a chain of two, a bastion that refuses forwarding, a
// bastion whose key changed, and bastions that take only a key of their
// own. The bastion's own log shows each forwarding and login.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";

struct SAsked {
    int answer = 0;
    std::vector<std::string> hosts;
    std::vector<int> events;
    std::vector<std::string> knownFingerprints;
};

int Ask(int, const char* host, const char*, int event, void* data)
{
    auto* asked = static_cast<SAsked*>(data);
    asked->hosts.emplace_back(host);
    asked->events.push_back(event);
    asked->knownFingerprints = CSSH2::Current()->HostKeyReport().knownFingerprints;
    return asked->answer;
}

SJumpHost Hop(const SshdPeer& server, const char* password = SshdPeer::Password())
{
    return SJumpHost{"127.0.0.1", static_cast<std::uint32_t>(server.port()), SshdPeer::User(), password,
                     SLoginKeys{{}, {}, false}};
}

// The log lines sshd writes (at its debug level) for a direct-tcpip
// request towards `port`.
bool ForwardedTo(const SshdPeer& bastion, int port)
{
    return bastion.logText().find("target 127.0.0.1 port " + std::to_string(port)) != std::string::npos;
}

SshdOptions Bastion(bool forwarding)
{
    SshdOptions options;
    options.extraConfig = {std::string("AllowTcpForwarding ") + (forwarding ? "yes" : "no")};
    options.logLevel = "DEBUG";
    return options;
}

// A new Ed25519 key file (with a passphrase when one is given), and the
// fingerprint sshd logs for it ("SHA256:...").
std::string MakeKey(const std::string& path, const std::string& passphrase = "")
{
    if (!peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-C", "", "-N", passphrase, "-t", "ed25519", "-f", path}))
        return {};
    std::string out;
    if (FILE* p = ::popen(("/usr/bin/ssh-keygen -l -f " + path + ".pub").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        ::pclose(p);
    }
    const std::size_t at = out.find("SHA256:");
    return at == std::string::npos ? std::string() : out.substr(at, out.find(' ', at) - at);
}

void Authorize(const SshdPeer& server, const std::string& key)
{
    const std::string line = peer::ReadWholeFile(key + ".pub");
    std::FILE* out = std::fopen((server.folder() + "/authorized_keys").c_str(), "a");
    ASSERT_NE(out, nullptr);
    std::fputs(line.c_str(), out);
    std::fclose(out);
}

class JumpSshdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        target = std::make_unique<SshdPeer>();
        ASSERT_TRUE(target->running()) << target->logText();
    }
    int Login(std::vector<SJumpHost> hops, SAsked* asked = nullptr, int port = 0)
    {
        CSSH2::SetJumpHosts(std::move(hops));
        const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port ? port : target->port()), 20,
                                      asked ? Ask : nullptr, asked);
        if (rc != 0) return rc;
        return CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 1, HKP_STORE, HKP_ASK);
    }

    std::unique_ptr<SshdPeer> target;
    std::vector<std::unique_ptr<SshdPeer>> bastions;
    CSessionEnvironment env{nullptr};  // last: disconnects before the servers stop
    SshdPeer& AddBastion(bool forwarding = true)
    {
        bastions.push_back(std::make_unique<SshdPeer>(Bastion(forwarding)));
        return *bastions.back();
    }
};

TEST_F(JumpSshdTest, CommandsRunOnTheTargetThroughTheBastionWithLargeDataBothWays)
{
    SshdPeer& bastion = AddBastion();
    ASSERT_TRUE(bastion.running()) << bastion.logText();
    ASSERT_EQ(Login({Hop(bastion)}), 0) << CSSH2::LastFailure().text << bastion.logText();
    ASSERT_NE(CSSH2::Current()->Jump(), nullptr);

    // The server port the command's session came in on is the target's.
    ASSERT_EQ(CSSH2::Exec("echo $SSH_CONNECTION"), 0);
    const std::string connection = CSSH2::GetOutput();
    EXPECT_NE(connection.find(" " + std::to_string(target->port()) + "\n"), std::string::npos) << connection;
    EXPECT_TRUE(ForwardedTo(bastion, target->port())) << bastion.logText();

    // More than the forwarded connection's window in each direction: the
    // windows must be given back, or this stalls until the time-out.
    ASSERT_EQ(CSSH2::Exec("head -c 3000000 /dev/zero | tr '\\0' x"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), std::string(3000000, 'x'));
    const std::string input(1500000, 'y');
    ASSERT_EQ(CSSH2::ExecWithInput("wc -c", input), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), "1500000\n");
    EXPECT_EQ(CSSH2::Disconnect(), 0);
}

TEST_F(JumpSshdTest, AChainOfTwoGoesThroughBothInOrder)
{
    SshdPeer& first = AddBastion();
    SshdPeer& second = AddBastion();
    ASSERT_TRUE(first.running() && second.running());
    SAsked asked;
    asked.answer = 1;
    ASSERT_EQ(Login({Hop(first), Hop(second)}, &asked), 0) << CSSH2::LastFailure().text;
    ASSERT_EQ(CSSH2::Exec("echo $SSH_CONNECTION"), 0);
    EXPECT_NE(CSSH2::GetOutput().find(" " + std::to_string(target->port()) + "\n"), std::string::npos);
    CSSH2::Disconnect();
    // The first forwards to the second, the second to the target, never the
    // first to the target.
    EXPECT_TRUE(ForwardedTo(first, second.port())) << first.logText();
    EXPECT_TRUE(ForwardedTo(second, target->port())) << second.logText();
    EXPECT_FALSE(ForwardedTo(first, target->port()));
    EXPECT_EQ(bastions.size(), 2u);

    // More than two jump hosts are refused before any connection.
    SshdPeer& third = AddBastion();
    EXPECT_NE(Login({Hop(first), Hop(second), Hop(third)}), 0);
    EXPECT_NE(CSSH2::LastFailure().text.find("more than 2 jump hosts"), std::string::npos);
    EXPECT_EQ(third.logText().find("Accepted"), std::string::npos);
}

TEST_F(JumpSshdTest, RefusalsNameTheJumpHost)
{
    SshdPeer& closed = AddBastion(false);
    ASSERT_TRUE(closed.running()) << closed.logText();
    const std::string name = "127.0.0.1 port " + std::to_string(closed.port());
    EXPECT_EQ(Login({Hop(closed)}), SSH_UNSUPPORTED_CHANNEL);
    SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.jump, name);
    EXPECT_NE(failure.text.find("jump host " + name + " refused to forward to host 127.0.0.1 port " +
                                std::to_string(target->port()) + ": forwarding is not allowed there"),
              std::string::npos)
        << failure.text;
    EXPECT_EQ(target->logText().find("Accepted"), std::string::npos);

    // A wrong password on the jump host is the jump host's failure.
    SshdPeer& open = AddBastion();
    EXPECT_EQ(Login({Hop(open, "not-the-password")}), SSH_WRONG_PASSWORD);
    EXPECT_EQ(CSSH2::LastFailure().jump, "127.0.0.1 port " + std::to_string(open.port()));

    // Nobody listens where the jump host is to connect.
    const int nowhere = target->port();
    target.reset();
    EXPECT_EQ(Login({Hop(open)}, nullptr, nowhere), SSH_SOCKET_ERROR);
    EXPECT_NE(CSSH2::LastFailure().text.find("port " + std::to_string(nowhere) + ": the connection failed"),
              std::string::npos)
        << CSSH2::LastFailure().text;
}

TEST_F(JumpSshdTest, AJumpHostWhoseKeyChangedIsRefusedBeforeAnyLogin)
{
    TempDir keys;
    ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-N", "", "-t", "rsa", "-b", "2048", "-f",
                                  keys.file("old_rsa")}));
    SshdPeer& bastion = AddBastion();
    ASSERT_TRUE(bastion.running());
    // First contact: both keys stored, no question (HKP_STORE).
    ASSERT_EQ(Login({Hop(bastion)}), 0) << CSSH2::LastFailure().text;
    CSSH2::Disconnect();
    const std::u16string entry = AnsiToWide("rsa2@" + std::to_string(bastion.port()) + ":127.0.0.1");
    std::u16string stored;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, entry, stored));
    // The bastion's entry now holds another key: its own looks changed.
    std::u16string other;
    const std::u16string targetEntry = AnsiToWide("rsa2@" + std::to_string(target->port()) + ":127.0.0.1");
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, targetEntry, other));
    ASSERT_NE(other, stored);
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, entry, other);
    const std::size_t acceptedBefore = target->logText().find("Accepted");
    const std::string bastionLogBefore = bastion.logText();

    SAsked no;
    EXPECT_EQ(Login({Hop(bastion)}, &no), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(no.events, std::vector<int>{HKE_CHANGED});
    // The question names the jump host and shows what is known of it.
    ASSERT_EQ(no.hosts.size(), 1u);
    EXPECT_EQ(no.hosts[0], "127.0.0.1");
    EXPECT_EQ(no.knownFingerprints.size(), 1u);
    EXPECT_EQ(CSSH2::LastFailure().jump, "127.0.0.1 port " + std::to_string(bastion.port()));
    // Nothing was sent to authenticate on the bastion, nothing reached the target.
    const std::string bastionLog = bastion.logText().substr(bastionLogBefore.size());
    EXPECT_EQ(bastionLog.find("Accepted"), std::string::npos) << bastionLog;
    EXPECT_EQ(target->logText().find("Accepted", acceptedBefore + 1), std::string::npos);
    std::u16string still;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, entry, still));
    EXPECT_EQ(still, other);
}

TEST_F(JumpSshdTest, EachHopLogsInWithItsOwnKeysAndNeverTheTargets)
{
    TempDir keys;
    const std::string targetPrint = MakeKey(keys.file("target_key"));
    const std::string hopPrint = MakeKey(keys.file("hop_key"), "hop-phrase");
    ASSERT_FALSE(targetPrint.empty());
    ASSERT_FALSE(hopPrint.empty());
    // A bastion that takes keys only, the target's among them: whatever of
    // the target's reaches it would let the login in.
    SshdOptions options = Bastion(true);
    options.passwordLogins = false;
    options.logLevel = "DEBUG";
    bastions.push_back(std::make_unique<SshdPeer>(options));
    SshdPeer& bastion = *bastions.back();
    ASSERT_TRUE(bastion.running()) << bastion.logText();
    ASSERT_NO_FATAL_FAILURE(Authorize(bastion, keys.file("target_key")));
    ASSERT_NO_FATAL_FAILURE(Authorize(bastion, keys.file("hop_key")));
    // The target logs in with its key file (which it does not take) and
    // then its password.
    CSSH2::SetLoginKeys(SLoginKeys{keys.file("target_key"), {}, false});

    // A hop with no ways of its own is refused: it was offered nothing of
    // the target's, neither its key nor its password.
    EXPECT_EQ(Login({Hop(bastion, "")}), SSH_AUTH_FAILED);
    EXPECT_EQ(CSSH2::LastFailure().jump, "127.0.0.1 port " + std::to_string(bastion.port()));
    EXPECT_EQ(bastion.logText().find("Accepted"), std::string::npos) << bastion.logText();
    EXPECT_EQ(bastion.logText().find(targetPrint), std::string::npos) << bastion.logText();
    EXPECT_EQ(target->logText().find("Accepted"), std::string::npos);

    // Its own key file, with its passphrase, lets it in; the target's login
    // is still the target's.
    SJumpHost hop = Hop(bastion, "");
    hop.keys.identityFile = keys.file("hop_key");
    hop.keys.passphrase = "hop-phrase";
    ASSERT_EQ(Login({std::move(hop)}), 0) << CSSH2::LastFailure().text << bastion.logText();
    ASSERT_EQ(CSSH2::Exec("echo $SSH_CONNECTION"), 0);
    EXPECT_NE(CSSH2::GetOutput().find(" " + std::to_string(target->port()) + "\n"), std::string::npos);
    CSSH2::Disconnect();
    CSSH2::SetLoginKeys({});
    EXPECT_NE(bastion.logText().find("Accepted publickey for " + std::string(SshdPeer::User())), std::string::npos);
    EXPECT_NE(bastion.logText().find(hopPrint), std::string::npos) << bastion.logText();
    EXPECT_EQ(bastion.logText().find(targetPrint), std::string::npos) << bastion.logText();
    EXPECT_NE(target->logText().find("Accepted password for " + std::string(SshdPeer::User())), std::string::npos);
}

}  // namespace
