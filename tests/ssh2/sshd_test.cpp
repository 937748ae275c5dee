// The client against a real OpenSSH server configured with the older
// algorithms this client speaks.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "platform/registry.h"
#include "platform/text.h"
#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/sshd_peer.h"

namespace {

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";

#define SKIP_WITHOUT_PEERS()                                      \
    do {                                                          \
        std::string why;                                          \
        if (!SshdPeer::Available(&why)) GTEST_SKIP() << why;      \
    } while (0)

struct CallbackLog {
    int calls = 0;
    int lastAbsent = -1;
    std::string lastHost, lastFingerprint;
    int answer = 0;
};

int RecordingCallback(int reserved, const char* host, const char* fingerprint, int absent, void* data)
{
    auto* log = static_cast<CallbackLog*>(data);
    ++log->calls;
    log->lastAbsent = absent;
    log->lastHost = host;
    log->lastFingerprint = fingerprint;
    return log->answer;
}

int ConnectAndLogin(int port, const char* password = SshdPeer::Password(), CallbackLog* callback = nullptr,
                    std::uint32_t changedPolicy = HKP_ASK)
{
    int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 20, callback ? RecordingCallback : nullptr,
                            callback);
    if (rc != 0) return rc;
    return CSSH2::Login(SshdPeer::User(), password, 1, HKP_STORE, changedPolicy);
}

class SshdSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (SshdPeer::Available()) s_peer = std::make_unique<SshdPeer>();
    }
    static void TearDownTestSuite() { s_peer.reset(); }
    void SetUp() override
    {
        SKIP_WITHOUT_PEERS();
        ASSERT_TRUE(s_peer && s_peer->running()) << (s_peer ? s_peer->logText() : "");
    }

    static std::unique_ptr<SshdPeer> s_peer;
    CSessionEnvironment env;
};
std::unique_ptr<SshdPeer> SshdSessionTest::s_peer;

TEST_F(SshdSessionTest, RunsSeveralCommandsInOneSession)
{
    ASSERT_EQ(ConnectAndLogin(s_peer->port()), 0) << CSSH2::GetOutput() << s_peer->logText();
    EXPECT_EQ(CSSH2::Current()->State(), SS_LOGGED_IN);
    EXPECT_EQ(CSSH2::Current()->Agreed()[0], "diffie-hellman-group1-sha1");
    EXPECT_EQ(CSSH2::Current()->ServerVersion().rfind("SSH-2.0-OpenSSH", 0), 0u);

    ASSERT_EQ(CSSH2::Exec("(which nosuchprogram 2>/dev/null || (echo no; false))"), 0);
    EXPECT_EQ(CSSH2::GetOutput(), "no\n");
    EXPECT_EQ(CSSH2::GetExitStatus(), 1u);

    ASSERT_EQ(CSSH2::Exec("echo out1; sleep 0.05; echo err1 >&2; sleep 0.05; echo out2"), 0);
    EXPECT_EQ(CSSH2::GetOutput(), "out1\nerr1\nout2\n");
    EXPECT_EQ(CSSH2::GetExitStatus(), 0u);

    ASSERT_EQ(CSSH2::Exec("true"), 0);
    EXPECT_EQ(CSSH2::GetOutput(), "");

    // More than one window of output.
    ASSERT_EQ(CSSH2::Exec("head -c 100000 /dev/zero | tr '\\0' x; exit 3"), 0);
    EXPECT_EQ(CSSH2::GetOutput(), std::string(100000, 'x'));
    EXPECT_EQ(CSSH2::GetExitStatus(), 3u);

    EXPECT_EQ(CSSH2::Disconnect(), 0);
    EXPECT_EQ(CSSH2::Current(), nullptr);
}

TEST_F(SshdSessionTest, StoresTheHostKeyOnFirstContactAndLogsNoPassword)
{
    ASSERT_EQ(ConnectAndLogin(s_peer->port()), 0) << CSSH2::GetOutput();
    ASSERT_EQ(CSSH2::Disconnect(), 0);
    std::u16string stored;
    const std::string name = "rsa2@" + std::to_string(s_peer->port()) + ":127.0.0.1";
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, AnsiToWide(name), stored));
    EXPECT_EQ(WideToAnsi(stored).rfind("0x10001,0x", 0), 0u);

    const std::string log = env.LogText();
    EXPECT_NE(log.find("Outgoing packet: Type: 50 / 0x32 (SSH2_MSG_USERAUTH_REQUEST)"), std::string::npos);
    EXPECT_NE(log.find("Incoming packet: Type: 52 / 0x34 (SSH2_MSG_USERAUTH_SUCCESS)"), std::string::npos);
    EXPECT_EQ(log.find(SshdPeer::Password()), std::string::npos);
    EXPECT_EQ(log.find("fdx-test"), std::string::npos);
    const std::string bytes = LoggedBytes(log);
    EXPECT_EQ(bytes.find(SshdPeer::Password()), std::string::npos);
    EXPECT_NE(bytes.find(std::string("password\0\0\0\0\x0b***********", 22)), std::string::npos);
}

TEST_F(SshdSessionTest, WrongPasswordEndsWithTheServersDisconnect)
{
    EXPECT_EQ(ConnectAndLogin(s_peer->port(), "not-the-password"), SSH_SERVER_DISCONNECT);
    const std::string output = CSSH2::GetOutput();
    EXPECT_EQ(output.rfind("Received disconnect message:\nType: SSH_DISCONNECT_", 0), 0u) << output;
    EXPECT_NE(output.find("Message text: Too many authentication failures"), std::string::npos) << output;
    EXPECT_EQ(CSSH2::Current()->State(), SS_CONNECTED);
    EXPECT_EQ(CSSH2::Disconnect(), 0);
}

TEST_F(SshdSessionTest, ChangedHostKeyAsksAndFollowsTheAnswer)
{
    const std::string name = "rsa2@" + std::to_string(s_peer->port()) + ":127.0.0.1";
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        RegWriteString(HKEY_CURRENT_USER, kHostKeys, AnsiToWide(name), u"0x3,0x1234");
        CallbackLog callback;
        callback.answer = answer;
        ASSERT_EQ(ConnectAndLogin(s_peer->port(), SshdPeer::Password(), &callback), 0);
        EXPECT_EQ(callback.calls, 1);
        EXPECT_EQ(callback.lastAbsent, 0);
        EXPECT_EQ(callback.lastHost, "127.0.0.1");
        EXPECT_EQ(callback.lastFingerprint.rfind("ssh-rsa 2048 ", 0), 0u) << callback.lastFingerprint;
        EXPECT_EQ(callback.lastFingerprint.size(), std::string("ssh-rsa 2048 ").size() + 47);
        ASSERT_EQ(CSSH2::Exec("echo ok"), 0);
        EXPECT_EQ(CSSH2::GetOutput(), "ok\n");
        CSSH2::Disconnect();
        std::u16string stored;
        ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, AnsiToWide(name), stored));
        if (answer)
            EXPECT_NE(stored, u"0x3,0x1234");
        else
            EXPECT_EQ(stored, u"0x3,0x1234");
    }
    // Without a callback the question cannot be asked: the login is abandoned.
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, AnsiToWide(name), u"0x3,0x1234");
    EXPECT_EQ(ConnectAndLogin(s_peer->port()), SSH_ABANDONED);
    // Keeping the key unstored continues.
    CSSH2::Disconnect();
    EXPECT_EQ(ConnectAndLogin(s_peer->port(), SshdPeer::Password(), nullptr, HKP_KEEP_UNSTORED), 0);
}

TEST(SshdConnectTest, ClosedPortAndFacadeStates)
{
    CSessionEnvironment env;
    // A port nobody listens on: bind one and close it again.
    EXPECT_EQ(CSSH2::Connect("127.0.0.1", 1, 5, nullptr, nullptr), SSH_SOCKET_ERROR);
    EXPECT_EQ(CSSH2::Current(), nullptr);
    EXPECT_EQ(CSSH2::Connect("", 22, 5, nullptr, nullptr), SSH_EMPTY_HOST);
    EXPECT_EQ(CSSH2::Current(), nullptr);
    EXPECT_EQ(CSSH2::Connect("no-such-host.invalid", 22, 5, nullptr, nullptr), SSH_SOCKET_ERROR);
    EXPECT_EQ(CSSH2::Disconnect(), SSH_NOT_CONNECTED);
}

// Every cipher and MAC OpenSSH can still enable, with both older host keys.
using Combination = std::tuple<std::string, std::string, std::string>;
class SshdAlgorithmTest : public ::testing::TestWithParam<Combination> {};

TEST_P(SshdAlgorithmTest, LogsInAndRuns)
{
    SKIP_WITHOUT_PEERS();
    const auto& [cipher, mac, keyType] = GetParam();
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.hostKeyType = keyType;
    options.extraConfig = {"KexAlgorithms diffie-hellman-group1-sha1", "HostKeyAlgorithms ssh-rsa,ssh-dss",
                           "Ciphers " + cipher, "MACs " + mac};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    CSessionEnvironment env;
    ASSERT_EQ(ConnectAndLogin(peer.port()), 0) << CSSH2::GetOutput() << peer.logText();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[1], keyType == "rsa" ? "ssh-rsa" : "ssh-dss");
    EXPECT_EQ(agreed[2], cipher);
    EXPECT_EQ(agreed[3], cipher);
    EXPECT_EQ(agreed[4], mac);
    ASSERT_EQ(CSSH2::Exec("seq 1 3000"), 0);
    EXPECT_EQ(CSSH2::GetOutput().size(), 13893u);
    EXPECT_EQ(CSSH2::Disconnect(), 0);
    // First contact stored the key under its cache type, port and host.
    std::u16string stored;
    const std::string name = std::string(keyType == "rsa" ? "rsa2" : "dss") + "@" + std::to_string(peer.port()) +
                             ":127.0.0.1";
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, AnsiToWide(name), stored)) << name;
}

INSTANTIATE_TEST_SUITE_P(Matrix, SshdAlgorithmTest,
                         ::testing::Combine(::testing::Values("aes128-cbc", "aes192-cbc", "aes256-cbc", "3des-cbc"),
                                            ::testing::Values("hmac-sha1", "hmac-md5"),
                                            ::testing::Values("rsa", "dsa")),
                         [](const ::testing::TestParamInfo<Combination>& param) {
                             std::string name = std::get<0>(param.param) + "_" + std::get<1>(param.param) + "_" +
                                                std::get<2>(param.param);
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(SshdHostKeyTest, NoCommonHostKeyTypeFails)
{
    SKIP_WITHOUT_PEERS();
    SshdOptions options;
    options.hostKeyType = "ed25519";
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    CSessionEnvironment env;
    EXPECT_EQ(ConnectAndLogin(peer.port()), SSH_CIPHER_ERROR);
}

}  // namespace
