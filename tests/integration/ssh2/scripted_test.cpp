// The client against a scriptable server that shows the protocol's corner
// cases on demand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/scripted_peer.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_required.h"

namespace {

constexpr const char* kUser = "tester";
constexpr const char* kPassword = "secret-pw";

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string Outgoing(int type)
{
    return "Outgoing packet: Type: " + std::to_string(type) + " /";
}

std::string Disconnected(const std::string& type, const std::string& text)
{
    return "Received disconnect message:\nType: " + type + "\nMessage text: " + text + "\n";
}

class ScriptedServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScriptedPeer::Available())
            FDX_PEER_MISSING() << "python3 with paramiko is missing (scripts/setup-peers.sh)";
    }
    // Starts the server and logs in; returns Login's result.
    int Start(std::vector<std::string> args, unsigned char compress = 1, int timeout = 10)
    {
        m_peer = std::make_unique<ScriptedPeer>(std::move(args));
        if (m_peer->port() == 0) return -1;
        const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_peer->port()), timeout, nullptr, nullptr);
        if (rc != 0) return rc;
        return CSSH2::Login(kUser, kPassword, compress, HKP_STORE, HKP_ASK);
    }
    // What the server reported, once the connection is closed.
    std::string Results()
    {
        CSSH2::Disconnect();
        return m_peer->Results();
    }

    CSessionEnvironment env;
    std::unique_ptr<ScriptedPeer> m_peer;
};

TEST_F(ScriptedServerTest, GroupExchangeWithZlibBothWays)
{
    ASSERT_EQ(Start({"paramiko", "--gex", "--compress", "--commands", "2", "--extra", "40000", "--status", "4"}), 0)
        << CSSH2::GetOutput();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[0], "diffie-hellman-group-exchange-sha1");
    EXPECT_EQ(agreed[6], "zlib");
    EXPECT_EQ(agreed[7], "zlib");
    for (const char* command : {"first", "second"}) {
        ASSERT_EQ(CSSH2::Exec(command), 0);
        EXPECT_EQ(CSSH2::GetOutput(), "hello\nwarn\n" + std::string(40000, 'x'));
        EXPECT_EQ(CSSH2::GetExitStatus(), 4u);
    }
    const std::string results = Results();
    EXPECT_NE(results.find("command first\ncommand second\n"), std::string::npos) << results;
    EXPECT_NE(results.find("zlib zlib"), std::string::npos) << results;
    // The old form of the group request: AES-256 caps at 160 bits, so 2048.
    EXPECT_NE(env.LogText().find("Outgoing packet: Type: 30 / 0x1e (SSH2_MSG_KEXDH_INIT || "
                                 "SSH2_MSG_KEX_DH_GEX_REQUEST)\n  00000000:  00 00 08 00"),
              std::string::npos);
}

TEST_F(ScriptedServerTest, CurrentParamikoWithDelayedCompression)
{
    ASSERT_EQ(Start({"paramiko", "--modern", "--compress", "--commands", "2", "--extra", "40000"}), 0)
        << CSSH2::GetOutput();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[0], "curve25519-sha256@libssh.org");
    EXPECT_EQ(agreed[6], "zlib@openssh.com");
    for (const char* command : {"first", "second"}) {
        ASSERT_EQ(CSSH2::Exec(command), 0);
        EXPECT_EQ(CSSH2::GetOutput(), "hello\nwarn\n" + std::string(40000, 'x'));
    }
    const std::string results = Results();
    EXPECT_NE(results.find("zlib@openssh.com zlib@openssh.com"), std::string::npos) << results;
}

TEST_F(ScriptedServerTest, WithoutCompressionRequestedNoneIsPreferred)
{
    ASSERT_EQ(Start({"paramiko", "--compress", "--ignore"}, 0), 0) << CSSH2::GetOutput();
    EXPECT_EQ(CSSH2::Current()->Agreed()[0], "diffie-hellman-group1-sha1");
    EXPECT_EQ(CSSH2::Current()->Agreed()[6], "none");
    ASSERT_EQ(CSSH2::Exec("cmd"), 0);
    EXPECT_EQ(CSSH2::GetOutput(), "hello\nwarn\n");
}

TEST_F(ScriptedServerTest, BannerBeforeTheMethodListIsSkipped)
{
    ASSERT_EQ(Start({"paramiko", "--banner", "Authorised users only"}), 0) << CSSH2::GetOutput();
    EXPECT_NE(env.LogText().find("Incoming packet: Type: 53 /"), std::string::npos);
}

TEST_F(ScriptedServerTest, PublickeyOnlyServerIsLeftWithAMessage)
{
    EXPECT_EQ(Start({"paramiko", "--auths", "publickey"}), SSH_AUTH_FAILED);
    EXPECT_TRUE(env.ui.Messages().empty());
    EXPECT_EQ(CSSH2::LastFailure().text, "The server accepts only: publickey");
    const std::string bytes = LoggedBytes(env.LogText());
    EXPECT_NE(bytes.find("No supported authentication methods available"), std::string::npos);
    EXPECT_EQ(CSSH2::Current()->State(), SS_CONNECTED);
}

TEST_F(ScriptedServerTest, KeyboardInteractiveGetsThePasswordOnceForItsHiddenPrompt)
{
    ASSERT_EQ(Start({"paramiko", "--auths", "keyboard-interactive"}), 0) << CSSH2::LastFailure().text;
    CSSH2::Disconnect();
    // Refused: not asked again, and named like a wrong password.
    EXPECT_EQ(Start({"paramiko", "--auths", "keyboard-interactive", "--never-accept"}), SSH_WRONG_PASSWORD);
    EXPECT_EQ(Count(env.LogText(), Outgoing(61)), 1u);
}

TEST_F(ScriptedServerTest, ARefusedPasswordIsSentOnceAndNamed)
{
    EXPECT_EQ(Start({"paramiko", "--never-accept"}), SSH_WRONG_PASSWORD);
    const std::string log = env.LogText();
    EXPECT_EQ(Count(log, Outgoing(2)), 1u);  // the IGNORE beside the one password
    const std::string bytes = LoggedBytes(log);
    EXPECT_NE(bytes.find("Wrong password"), std::string::npos);
    EXPECT_EQ(bytes.find(kPassword), std::string::npos);
    EXPECT_TRUE(env.ui.Messages().empty());
}

class ExitStatusReplyTest : public ScriptedServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExitStatusReplyTest, RepliesOnlyWhenAsked)
{
    std::vector<std::string> args{"paramiko", "--status", "7"};
    if (GetParam()) args.push_back("--exit-want-reply");
    ASSERT_EQ(Start(args), 0) << CSSH2::GetOutput();
    ASSERT_EQ(CSSH2::Exec("status"), 0);
    EXPECT_EQ(CSSH2::GetExitStatus(), 7u);
    EXPECT_EQ(Count(env.LogText(), Outgoing(99)), GetParam() ? 1u : 0u);
}
INSTANTIATE_TEST_SUITE_P(WantReply, ExitStatusReplyTest, ::testing::Bool());

TEST_F(ScriptedServerTest, OtherChannelRequestsAreRefused)
{
    ASSERT_EQ(Start({"paramiko", "--other-request"}), 0);
    ASSERT_EQ(CSSH2::Exec("other"), 0);
    EXPECT_EQ(Count(env.LogText(), Outgoing(100)), 1u);
}

TEST_F(ScriptedServerTest, OpenFailureGivesWrongChannel)
{
    ASSERT_EQ(Start({"paramiko", "--open-fail"}), 0);
    EXPECT_EQ(CSSH2::Exec("anything"), SSH_WRONG_CHANNEL);
}

TEST_F(ScriptedServerTest, RefusedExecGivesInternalError)
{
    ASSERT_EQ(Start({"paramiko", "--refuse-exec"}), 0);
    EXPECT_EQ(CSSH2::Exec("anything"), SSH_INTERNAL_ERROR);
    EXPECT_EQ(CSSH2::Current()->State(), SS_LOGGED_IN);
}

TEST_F(ScriptedServerTest, DebugDuringACommandIsAnsweredUnimplemented)
{
    ASSERT_EQ(Start({"paramiko", "--debug"}), 0);
    EXPECT_EQ(CSSH2::Exec("debug"), SSH_UNSUPPORTED_CHANNEL);
    EXPECT_EQ(Count(env.LogText(), Outgoing(3)), 1u);
}

TEST_F(ScriptedServerTest, IgnoreAndKexinitInOneReadAfterAnEarlierLine)
{
    EXPECT_EQ(Start({"raw-ignore-kexinit"}), SSH_SERVER_DISCONNECT);
    EXPECT_EQ(CSSH2::Current()->ServerVersion(), "SSH-2.0-Scripted_1.0");
    EXPECT_EQ(CSSH2::GetOutput(), Disconnected("SSH_DISCONNECT_PROTOCOL_ERROR", "bye"));
    // The server saw our KEXINIT and then the group1 DH init.
    EXPECT_EQ(Results(), "20,30\n");
}

TEST_F(ScriptedServerTest, DebugBeforeKexinitIsAnsweredAndFails)
{
    EXPECT_EQ(Start({"raw-debug"}), SSH_UNEXPECTED_PACKET);
    // UNIMPLEMENTED carrying the DEBUG packet's number, 0.
    EXPECT_EQ(Results(), "0300000000\n");
}

struct DisconnectCase {
    int reason;
    const char* name;
};
class DisconnectReasonTest : public ScriptedServerTest, public ::testing::WithParamInterface<DisconnectCase> {};

TEST_P(DisconnectReasonTest, OutputDescribesTheDisconnect)
{
    EXPECT_EQ(Start({"raw-disconnect", "--reason", std::to_string(GetParam().reason), "--text", "go away"}),
              SSH_SERVER_DISCONNECT);
    EXPECT_EQ(CSSH2::GetOutput(), Disconnected(GetParam().name, "go away"));
}
INSTANTIATE_TEST_SUITE_P(Reasons, DisconnectReasonTest,
                         ::testing::Values(DisconnectCase{1, "SSH_DISCONNECT_HOST_NOT_ALLOWED_TO_CONNECT"},
                                           DisconnectCase{15, "SSH_DISCONNECT_ILLEGAL_USER_NAME"},
                                           DisconnectCase{0, "unknown (0)"}, DisconnectCase{99, "unknown (99)"}));

TEST_F(ScriptedServerTest, OutputBeyondTheLimitStopsWithReceiveErrorAndNamesTheLimit)
{
    ASSERT_EQ(Start({"paramiko", "--extra", "50000"}), 0);
    CSSH2::SetLimits({.maxOutput = 20000});
    EXPECT_EQ(CSSH2::Exec("big"), SSH_RECEIVE_ERROR);
    EXPECT_LE(CSSH2::GetOutput().size(), 20000u);
    const SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_OUTPUT);
    EXPECT_EQ(failure.amount, 20000u);
    EXPECT_EQ(failure.text, "the command's output is larger than 20000 bytes");
    CSSH2::SetLimits({});
}

// Servers that end the login before it starts, and the error each gives.
struct SRefusalCase {
    const char* label;
    std::vector<std::string> args;
    int result;
    int timeout = 10;
};
class RefusedLoginTest : public ScriptedServerTest, public ::testing::WithParamInterface<SRefusalCase> {};

TEST_P(RefusedLoginTest, GivesItsError)
{
    EXPECT_EQ(Start(GetParam().args, 1, GetParam().timeout), GetParam().result);
    CSSH2::Disconnect();
}
INSTANTIATE_TEST_SUITE_P(
    Servers, RefusedLoginTest,
    ::testing::Values(
        SRefusalCase{"SilentServerTimesOut", {"raw-silent"}, SSH_TIMEOUT, 1},
        SRefusalCase{"OldProtocolVersion", {"raw-old-version"}, SSH_INTERNAL_ERROR},
        // A strict exchange refuses a packet before the server's KEXINIT.
        SRefusalCase{"StrictPacketBeforeKexinit", {"raw-ignore-kexinit", "--strict"}, SSH_UNEXPECTED_PACKET},
        SRefusalCase{"NoCommonHostKeyType",
                     {"raw-kexreply", "--hostkeys", "x509v3-sign-rsa,ssh-xmss@openssh.com"},
                     SSH_CIPHER_ERROR},
        // A DH reply whose f is outside 1 < f < p - 1, or whose host key
        // does not sign the exchange.
        SRefusalCase{"KexReplyFIs0", {"raw-kexreply", "--f", "0"}, SSH_HOSTKEY_MISMATCH},
        SRefusalCase{"KexReplyFIs1", {"raw-kexreply", "--f", "1"}, SSH_HOSTKEY_MISMATCH},
        SRefusalCase{"KexReplyFIsPMinus1",
                     {"raw-kexreply", "--f",
                      "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A08798E3404DD"
                      "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
                      "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381FFFFFFFFFFFFFFFE"},
                     SSH_HOSTKEY_MISMATCH},
        SRefusalCase{"KexReplyNotSigned", {"raw-kexreply", "--f", "2"}, SSH_HOSTKEY_SIGNATURE},
        // An RSA host key below 1024 bits, refused before its signature.
        SRefusalCase{"KexReplyRsa768", {"raw-kexreply", "--f", "2", "--modulus-bytes", "96"}, SSH_HOSTKEY_TOO_SMALL},
        SRefusalCase{"KexReplyRsa1016", {"raw-kexreply", "--f", "2", "--modulus-bytes", "127"}, SSH_HOSTKEY_TOO_SMALL}),
    [](const ::testing::TestParamInfo<SRefusalCase>& param) { return std::string(param.param.label); });

// A server's elliptic-curve value that is not one: the wrong size, the
// all-zero X25519 point (an all-zero secret) or a point off the curve.
struct SEcdhCase {
    const char* kex;
    std::string q;
};
class EcdhReplyTest : public ScriptedServerTest, public ::testing::WithParamInterface<SEcdhCase> {};

TEST_P(EcdhReplyTest, IsRefusedAsHostKeyMismatch)
{
    EXPECT_EQ(Start({"raw-ecdh-reply", "--kex", GetParam().kex, "--q", GetParam().q}), SSH_HOSTKEY_MISMATCH);
    EXPECT_EQ(Results(), "20,30\n");
}
INSTANTIATE_TEST_SUITE_P(
    Values, EcdhReplyTest,
    ::testing::Values(SEcdhCase{"curve25519-sha256", std::string(62, '9')}, SEcdhCase{"curve25519-sha256", std::string(66, '9')},
                      SEcdhCase{"curve25519-sha256", std::string(64, '0')},
                      SEcdhCase{"ecdh-sha2-nistp256", "04" + std::string(128, '1')},
                      SEcdhCase{"ecdh-sha2-nistp256", "02" + std::string(64, '1')},
                      SEcdhCase{"ecdh-sha2-nistp256", std::string(130, '0')}));

// The current group request (min, n, max), and the groups it refuses: too
// small, too large, or with a generator outside 1 < g < p - 1.
struct SGexCase {
    std::vector<std::string> args;
    std::string request;
};
class GroupExchangeTest : public ScriptedServerTest, public ::testing::WithParamInterface<SGexCase> {};

TEST_P(GroupExchangeTest, RefusesABadGroupAsHostKeyMismatch)
{
    std::vector<std::string> args{"raw-gex-group"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    EXPECT_EQ(Start(args), SSH_HOSTKEY_MISMATCH);
    EXPECT_EQ(Results(), "request " + GetParam().request + "\n");
}

TEST_F(ScriptedServerTest, AGroupInRangeIsTakenAndAnsweredWithTheInit)
{
    // The server then closes instead of replying: 16.
    EXPECT_EQ(Start({"raw-gex-group", "--bits", "2048"}), SSH_SOCKET_ERROR);
    EXPECT_EQ(Results(), "request 2048,3072,8192\ninit\n");
}
INSTANTIATE_TEST_SUITE_P(
    Groups, GroupExchangeTest,
    ::testing::Values(SGexCase{{"--bits", "2047"}, "2048,3072,8192"},
                      SGexCase{{"--bits", "8193", "--cipher", "aes256-ctr"}, "2048,8192,8192"},
                      SGexCase{{"--bits", "1024", "--cipher", "aes192-ctr"}, "2048,7680,8192"},
                      SGexCase{{"--bits", "3072", "--g", "1"}, "2048,3072,8192"},
                      SGexCase{{"--bits", "3072", "--g", "0"}, "2048,3072,8192"}));

// ------------------------------------------------- strict key exchange

// The same script with and without the strict marker: an IGNORE amid the
// exchange ends a strict exchange (11) and is passed over otherwise, where
// the server's DISCONNECT then ends the login (15).
class StrictIgnoreTest : public ScriptedServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StrictIgnoreTest, IgnoreAmidTheExchange)
{
    const bool strict = GetParam();
    std::vector<std::string> args{"raw-strict-ignore"};
    if (strict) args.push_back("--strict");
    const int rc = Start(args);
    if (strict) {
        EXPECT_EQ(rc, SSH_UNEXPECTED_PACKET);
    } else {
        EXPECT_EQ(rc, SSH_SERVER_DISCONNECT);
        EXPECT_EQ(CSSH2::GetOutput(), Disconnected("SSH_DISCONNECT_PROTOCOL_ERROR", "not strict"));
    }
    // Our KEXINIT offered the client marker, and the curve25519 init was sent.
    EXPECT_NE(LoggedBytes(env.LogText()).find("kex-strict-c-v00@openssh.com"), std::string::npos);
    EXPECT_EQ(Results(), "20,30\n");
}
INSTANTIATE_TEST_SUITE_P(Strict, StrictIgnoreTest, ::testing::Bool());

// A whole key exchange done by the script: after NEWKEYS both directions
// count from 0 in strict mode and go on counting otherwise. The script
// checks the MAC of our first protected packet under both numbers and
// protects its DISCONNECT under its own count, which we must read.
class StrictSequenceTest : public ScriptedServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StrictSequenceTest, NumbersRestartAfterNewkeysOnlyWhenStrict)
{
    const bool strict = GetParam();
    std::vector<std::string> args{"raw-strict-exchange"};
    if (strict) args.push_back("--strict");
    EXPECT_EQ(Start(args), SSH_SERVER_DISCONNECT);
    EXPECT_EQ(CSSH2::GetOutput(), Disconnected("SSH_DISCONNECT_DISCONNECT_BY_APPLICATION", "counted"));
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[0], "curve25519-sha256");
    EXPECT_EQ(agreed[1], "ssh-ed25519");
    EXPECT_EQ(Results(), std::string("newkeys 21\nclient sequence ") + (strict ? "0" : "3") + " type 5\n");
}
INSTANTIATE_TEST_SUITE_P(Strict, StrictSequenceTest, ::testing::Bool());

}  // namespace
