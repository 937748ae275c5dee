// Jump hosts against real sshd instances: a bastion that forwards to a
// second server, a chain of two, a bastion that refuses forwarding, and
// bastions that take only a key of their own. The bastion's own log shows
// each forwarding and login. (A bastion whose key changed:
// tests/integration/scan/jump_cli_test.cpp.)

#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/peer_keys.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/temp_dir.h"

namespace {

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
    SshdPeer& AddBastion(bool forwarding = true, bool passwords = true)
    {
        bastions.push_back(NewBastion(forwarding, passwords));
        return *bastions.back();
    }
};

TEST_F(JumpSshdTest, AChainOfTwoGoesThroughBothInOrderWithLargeDataBothWays)
{
    SshdPeer& first = AddBastion();
    SshdPeer& second = AddBastion();
    ASSERT_TRUE(first.running() && second.running());
    SAsked asked;
    asked.answer = 1;
    ASSERT_EQ(Login({Hop(first), Hop(second)}, &asked), 0) << CSSH2::LastFailure().text;
    ASSERT_NE(CSSH2::Current()->Jump(), nullptr);
    // The server port the command's session came in on is the target's.
    ASSERT_EQ(CSSH2::Exec("echo $SSH_CONNECTION"), 0);
    EXPECT_NE(CSSH2::GetOutput().find(" " + std::to_string(target->port()) + "\n"), std::string::npos);
    // More than the forwarded connections' windows in each direction: the
    // windows must be given back, or this stalls until the time-out.
    ASSERT_EQ(CSSH2::Exec("head -c 3000000 /dev/zero | tr '\\0' x"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), std::string(3000000, 'x'));
    ASSERT_EQ(CSSH2::ExecWithInput("wc -c", std::string(1500000, 'y')), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), "1500000\n");
    EXPECT_EQ(CSSH2::Disconnect(), 0);
    // The first forwards to the second, the second to the target, never the
    // first to the target.
    EXPECT_TRUE(ForwardedTo(first, second.port())) << first.logText();
    EXPECT_TRUE(ForwardedTo(second, target->port())) << second.logText();
    EXPECT_FALSE(ForwardedTo(first, target->port()));

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

TEST_F(JumpSshdTest, EachHopLogsInWithItsOwnKeysAndNeverTheTargets)
{
    // A bastion that takes keys only, the target's among them: whatever of
    // the target's reaches it would let the login in.
    SshdPeer& bastion = AddBastion(true, false);
    ASSERT_TRUE(bastion.running()) << bastion.logText();
    TempDir keys;
    const std::string targetPrint = NewKey(keys.file("target_key"), "-t ed25519", "", bastion.folder());
    const std::string hopPrint = NewKey(keys.file("hop_key"), "-t ed25519", "hop-phrase", bastion.folder());
    ASSERT_FALSE(targetPrint.empty());
    ASSERT_FALSE(hopPrint.empty());
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
