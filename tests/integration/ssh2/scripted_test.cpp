// The client against a scriptable server that shows the protocol's corner
// cases on demand, and misbehaves on purpose to reach the client's limits.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/scripted_peer.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_required.h"
#include "tests/support/test_helpers.h"

// After the client's headers: the system's define some WinSock names as macros.
#include <sys/resource.h>

namespace {

constexpr const char* kUser = "tester";
constexpr const char* kPassword = "secret-pw";

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
    int Start(std::vector<std::string> args)
    {
        m_peer = std::make_unique<ScriptedPeer>(std::move(args));
        if (m_peer->port() == 0) return -1;
        const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_peer->port()), 10, nullptr, nullptr);
        if (rc != 0) return rc;
        return CSSH2::Login(kUser, kPassword, 1, HKP_STORE, HKP_ASK);
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

TEST_F(ScriptedServerTest, BannerBeforeTheMethodListIsSkipped)
{
    ASSERT_EQ(Start({"paramiko", "--banner", "Authorised users only"}), 0) << CSSH2::GetOutput();
    EXPECT_NE(env.LogText().find("Incoming packet: Type: 53 /"), std::string::npos);
}

TEST_F(ScriptedServerTest, KeyboardInteractiveGetsThePasswordOnceForItsHiddenPrompt)
{
    ASSERT_EQ(Start({"paramiko", "--auths", "keyboard-interactive"}), 0) << CSSH2::LastFailure().text;
    CSSH2::Disconnect();
    // Refused: not asked again, and named like a wrong password.
    EXPECT_EQ(Start({"paramiko", "--auths", "keyboard-interactive", "--never-accept"}), SSH_WRONG_PASSWORD);
    EXPECT_EQ(CountOccurrences(env.LogText(), Outgoing(61)), 1u);
}

// What a server does around one command, Exec's result, and the packets of
// a type we sent in answer (-1: not counted).
TEST_F(ScriptedServerTest, EachCommandsCornerCaseHasItsResultAndAnswer)
{
    struct SCase {
        std::vector<std::string> args;
        int result;
        int answerType;
        std::size_t answers;
    } const cases[] = {
        {{"--status", "7"}, 0, 99, 0},                        // an exit status is answered
        {{"--status", "7", "--exit-want-reply"}, 0, 99, 1},  // only when it asks for a reply
        {{"--other-request"}, 0, 100, 1},                     // other requests are refused
        {{"--open-fail"}, SSH_WRONG_CHANNEL, -1, 0},
        {{"--refuse-exec"}, SSH_INTERNAL_ERROR, -1, 0},
        {{"--debug"}, SSH_UNSUPPORTED_CHANNEL, 3, 1},  // a DEBUG is answered UNIMPLEMENTED
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args{"paramiko"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(Start(args), 0) << CSSH2::GetOutput();
        EXPECT_EQ(CSSH2::Exec("command"), c.result);
        if (c.args[0] == "--status") {
            EXPECT_EQ(CSSH2::GetExitStatus(), 7u);
        }
        if (c.answerType >= 0) {
            EXPECT_EQ(CountOccurrences(env.LogText(), Outgoing(c.answerType)), c.answers);
        }
        if (c.result == SSH_INTERNAL_ERROR) {
            EXPECT_EQ(CSSH2::Current()->State(), SS_LOGGED_IN);  // a refused command leaves the session
        }
        CSSH2::Disconnect();
    }
}

TEST_F(ScriptedServerTest, DebugBeforeKexinitIsAnsweredAndFails)
{
    EXPECT_EQ(Start({"raw-debug"}), SSH_UNEXPECTED_PACKET);
    // UNIMPLEMENTED carrying the DEBUG packet's number, 0.
    EXPECT_EQ(Results(), "0300000000\n");
}

// The server's reason is named from the first known to the last; others
// (99 in-process) by their number.
TEST_F(ScriptedServerTest, TheServersDisconnectReasonIsNamed)
{
    const std::pair<int, const char*> reasons[] = {
        {1, "SSH_DISCONNECT_HOST_NOT_ALLOWED_TO_CONNECT"}, {15, "SSH_DISCONNECT_ILLEGAL_USER_NAME"}, {0, "unknown (0)"}};
    for (const auto& [reason, name] : reasons) {
        SCOPED_TRACE(reason);
        EXPECT_EQ(Start({"raw-disconnect", "--reason", std::to_string(reason), "--text", "go away"}),
                  SSH_SERVER_DISCONNECT);
        EXPECT_EQ(CSSH2::GetOutput(), Disconnected(name, "go away"));
    }
}

// Servers that end the login before it starts, the error each gives, and
// what the server reported of us ("" where the case does not say).
struct SRefusalCase {
    const char* label;
    std::vector<std::string> args;
    int result;
    std::string results;
};
class RefusedLoginTest : public ScriptedServerTest, public ::testing::WithParamInterface<SRefusalCase> {};

TEST_P(RefusedLoginTest, GivesItsError)
{
    EXPECT_EQ(Start(GetParam().args), GetParam().result);
    const std::string results = Results();
    if (!GetParam().results.empty()) {
        EXPECT_EQ(results, GetParam().results);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Servers, RefusedLoginTest,
    ::testing::Values(
        SRefusalCase{"OldProtocolVersion", {"raw-old-version"}, SSH_INTERNAL_ERROR, ""},
        // A strict exchange refuses a packet before the server's KEXINIT.
        SRefusalCase{"StrictPacketBeforeKexinit", {"raw-ignore-kexinit", "--strict"}, SSH_UNEXPECTED_PACKET, ""},
        SRefusalCase{"NoCommonHostKeyType", {"raw-kexreply", "--hostkeys", "x509v3-sign-rsa,ssh-xmss@openssh.com"},
                     SSH_CIPHER_ERROR, ""},
        // A DH reply whose f is outside 1 < f < p - 1, or whose host key
        // does not sign the exchange; an RSA host key below 1024 bits,
        // refused before its signature.
        SRefusalCase{"KexReplyFIs0", {"raw-kexreply", "--f", "0"}, SSH_HOSTKEY_MISMATCH, ""},
        SRefusalCase{"KexReplyNotSigned", {"raw-kexreply", "--f", "2"}, SSH_HOSTKEY_SIGNATURE, ""},
        SRefusalCase{"KexReplyRsa1016", {"raw-kexreply", "--f", "2", "--modulus-bytes", "127"}, SSH_HOSTKEY_TOO_SMALL,
                     ""},
        // A server's elliptic-curve value that is not one: the all-zero
        // X25519 point (an all-zero secret), a point off the curve.
        SRefusalCase{"X25519AllZero", {"raw-ecdh-reply", "--kex", "curve25519-sha256", "--q", std::string(64, '0')},
                     SSH_HOSTKEY_MISMATCH, "20,30\n"},
        SRefusalCase{"P256OffTheCurve",
                     {"raw-ecdh-reply", "--kex", "ecdh-sha2-nistp256", "--q", "04" + std::string(128, '1')},
                     SSH_HOSTKEY_MISMATCH, "20,30\n"},
        // The current group request (min, n, max), and the groups it
        // refuses: too small, too large, a generator outside 1 < g < p - 1;
        // one in range is answered with the init (the server then closes).
        SRefusalCase{"GroupTooSmall", {"raw-gex-group", "--bits", "2047"}, SSH_HOSTKEY_MISMATCH,
                     "request 2048,3072,8192\n"},
        SRefusalCase{"GroupTooLarge", {"raw-gex-group", "--bits", "8193", "--cipher", "aes256-ctr"},
                     SSH_HOSTKEY_MISMATCH, "request 2048,8192,8192\n"},
        SRefusalCase{"GroupGeneratorIs1", {"raw-gex-group", "--bits", "3072", "--g", "1"}, SSH_HOSTKEY_MISMATCH,
                     "request 2048,3072,8192\n"},
        SRefusalCase{"GroupInRange", {"raw-gex-group", "--bits", "2048"}, SSH_SOCKET_ERROR,
                     "request 2048,3072,8192\ninit\n"}),
    [](const ::testing::TestParamInfo<SRefusalCase>& param) { return std::string(param.param.label); });

// ------------------------------------------------- strict key exchange

// The same script with and without the strict marker: an IGNORE amid the
// exchange ends a strict exchange (11) and is passed over otherwise, where
// the server's DISCONNECT then ends the login (15).
TEST_F(ScriptedServerTest, AnIgnoreAmidTheExchangeEndsOnlyAStrictOne)
{
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict);
        std::vector<std::string> args{"raw-strict-ignore"};
        if (strict) args.push_back("--strict");
        EXPECT_EQ(Start(args), strict ? SSH_UNEXPECTED_PACKET : SSH_SERVER_DISCONNECT);
        if (!strict) {
            EXPECT_EQ(CSSH2::GetOutput(), Disconnected("SSH_DISCONNECT_PROTOCOL_ERROR", "not strict"));
        }
        // Our KEXINIT offered the client marker, and the curve25519 init was sent.
        EXPECT_NE(LoggedBytes(env.LogText()).find("kex-strict-c-v00@openssh.com"), std::string::npos);
        EXPECT_EQ(Results(), "20,30\n");
    }
}

// A whole key exchange done by the script: after NEWKEYS both directions
// count from 0 in strict mode and go on counting otherwise. The script
// checks the MAC of our first protected packet under both numbers and
// protects its DISCONNECT under its own count, which we must read.
TEST_F(ScriptedServerTest, SequenceNumbersRestartAfterNewkeysOnlyWhenStrict)
{
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict);
        std::vector<std::string> args{"raw-strict-exchange"};
        if (strict) args.push_back("--strict");
        EXPECT_EQ(Start(args), SSH_SERVER_DISCONNECT);
        EXPECT_EQ(CSSH2::GetOutput(), Disconnected("SSH_DISCONNECT_DISCONNECT_BY_APPLICATION", "counted"));
        EXPECT_EQ(CSSH2::Current()->Agreed()[0], "curve25519-sha256");
        EXPECT_EQ(Results(), std::string("newkeys 21\nclient sequence ") + (strict ? "0" : "3") + " type 5\n");
    }
}

// ------------------------------------------------- limits
// Each step ends at its own deadline and says which, and no server makes the
// client keep more than its output limit.

class LimitsTest : public ScriptedServerTest {
protected:
    void TearDown() override
    {
        CSSH2::Disconnect();
        CSSH2::SetLimits({});
    }
    std::string Peer() const { return "host 127.0.0.1 port " + std::to_string(m_peer->port()); }
};

TEST_F(LimitsTest, ASilentServerAndAStalledKeyExchangeEndAtTheirLimits)
{
    CSSH2::SetLimits({.connectSeconds = 1});
    EXPECT_EQ(Start({"raw-silent"}), SSH_TIMEOUT);
    EXPECT_EQ(CSSH2::LastFailure().limit, SL_CONNECT);
    EXPECT_EQ(CSSH2::LastFailure().amount, 1u);
    EXPECT_EQ(CSSH2::LastFailure().text, Peer() + " sent no version line within 1 second");

    CSSH2::SetLimits({.loginSeconds = 2});
    EXPECT_EQ(Start({"raw-stall", "--hold", "3"}), SSH_TIMEOUT);
    EXPECT_EQ(CSSH2::LastFailure().limit, SL_LOGIN);
    EXPECT_EQ(CSSH2::LastFailure().text,
              "the key exchange and login with " + Peer() + " did not finish within 2 seconds");
    EXPECT_EQ(m_peer->Results(), "20,30\n") << "the server saw our KEXINIT and key exchange init";
}

// The user's time to answer a host-key question does not count against the
// server: a login whose question takes longer than the login's limit still
// succeeds.
TEST_F(LimitsTest, TheUsersAnswerIsNotTheServersTime)
{
    CSSH2::SetLimits({.loginSeconds = 3});
    struct SAnswer {
        static int Slowly(int, const char*, const char*, int, void* data)
        {
            ++*static_cast<int*>(data);
            std::this_thread::sleep_for(std::chrono::milliseconds(4000));
            return 1;
        }
    };
    int asked = 0;
    m_peer = std::make_unique<ScriptedPeer>(std::vector<std::string>{"paramiko"});
    ASSERT_NE(m_peer->port(), 0);
    ASSERT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_peer->port()), 30, SAnswer::Slowly, &asked), 0);
    EXPECT_EQ(CSSH2::Login(kUser, kPassword, 1, HKP_ASK, HKP_ASK), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(asked, 1);
}

// A command that never ends, and a server that never answers the channel's
// opening, told apart within the same limit.
TEST_F(LimitsTest, ACommandNeverEndingAndAChannelNeverOpenedEndAtTheCommandsLimit)
{
    CSSH2::SetLimits({.commandSeconds = 2});
    ASSERT_EQ(Start({"paramiko", "--hang"}), 0);
    EXPECT_EQ(CSSH2::Exec("sleep 1000"), SSH_TIMEOUT);
    EXPECT_EQ(CSSH2::LastFailure().limit, SL_COMMAND);
    EXPECT_EQ(CSSH2::LastFailure().amount, 2u);
    EXPECT_EQ(CSSH2::LastFailure().text, "the command did not finish within 2 seconds");
    // The session is closed: nothing more waits on that server.
    EXPECT_EQ(CSSH2::Exec("again"), SSH_SOCKET_ERROR);
    EXPECT_EQ(CSSH2::LastFailure().limit, SL_NONE);
    EXPECT_EQ(CSSH2::LastFailure().text, "the connection to " + Peer() + " is closed");
    CSSH2::Disconnect();

    ASSERT_EQ(Start({"paramiko", "--open-stall"}), 0);
    EXPECT_EQ(CSSH2::Exec("lshw -xml"), SSH_TIMEOUT);
    EXPECT_EQ(CSSH2::LastFailure().limit, SL_CHANNEL);
    EXPECT_EQ(CSSH2::LastFailure().amount, 2u);
    EXPECT_EQ(CSSH2::LastFailure().text, "the host did not open a channel for the command within 2 seconds");
}

TEST_F(LimitsTest, EachCommandEndsWithItsOwnStatusSignalOrNone)
{
    ASSERT_EQ(Start({"paramiko", "--commands", "5", "--endings", "0,3,KILL,none,0"}), 0);
    struct SEnding {
        std::uint32_t status;
        const char* signal;
    };
    const SEnding expected[] = {{0, ""}, {3, ""}, {CSSH2::kNoExitStatus, "KILL"}, {CSSH2::kNoExitStatus, ""}, {0, ""}};
    for (const SEnding& ending : expected) {
        ASSERT_EQ(CSSH2::Exec("command"), 0);
        EXPECT_EQ(CSSH2::GetOutput(), "hello\nwarn\n");
        EXPECT_EQ(CSSH2::GetExitStatus(), ending.status);
        EXPECT_EQ(CSSH2::GetExitSignal(), ending.signal);
    }
}

// Under AddressSanitizer freed blocks stay resident for a while (its
// quarantine), so the process's size says nothing of what the client keeps.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeansSomething = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeansSomething = false;
#else
constexpr bool kResidentSizeMeansSomething = true;
#endif
#else
constexpr bool kResidentSizeMeansSomething = true;
#endif

long MaxRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The limit set, and the default one with a flood: the command ends, and
// the client keeps no more than the limit.
TEST_F(LimitsTest, OutputPastTheLimitEndsTheCommandAndMemoryStaysBounded)
{
    ASSERT_EQ(Start({"paramiko", "--extra", "50000"}), 0);
    CSSH2::SetLimits({.maxOutput = 20000});
    EXPECT_EQ(CSSH2::Exec("big"), SSH_RECEIVE_ERROR);
    EXPECT_LE(CSSH2::GetOutput().size(), 20000u);
    EXPECT_EQ(CSSH2::LastFailure().limit, SL_OUTPUT);
    EXPECT_EQ(CSSH2::LastFailure().amount, 20000u);
    EXPECT_EQ(CSSH2::LastFailure().text, "the command's output is larger than 20000 bytes");
    CSSH2::Disconnect();
    CSSH2::SetLimits({});

    ASSERT_EQ(Start({"paramiko", "--extra", std::to_string(20 << 20)}), 0);
    const long before = MaxRssKiB();
    EXPECT_EQ(CSSH2::Exec("flood"), SSH_RECEIVE_ERROR);
    const long grown = MaxRssKiB() - before;
    const SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_OUTPUT);
    EXPECT_EQ(failure.amount, 16u << 20);
    EXPECT_EQ(failure.text, "the command's output is larger than 16 MiB");
    EXPECT_LE(CSSH2::Current()->Output().capacity(), std::size_t{16} << 20);
    if (kResidentSizeMeansSomething) {
        EXPECT_LT(grown, 64 * 1024) << "KiB";
    }
}

TEST(ConnectionErrorTest, NamesHostPortAndCause)
{
    CSessionEnvironment env;
    const CHeldPort held;  // bound and never listening: it refuses
    const int port = held.port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 10, nullptr, nullptr), SSH_SOCKET_ERROR);
    EXPECT_EQ(CSSH2::LastFailure().text,
              "connect to host 127.0.0.1 port " + std::to_string(port) + ": Connection refused");
    EXPECT_EQ(CSSH2::Current(), nullptr);

    EXPECT_EQ(CSSH2::Connect("no-such-host.invalid", 22, 10, nullptr, nullptr), SSH_SOCKET_ERROR);
    const std::string text = CSSH2::LastFailure().text;
    const std::string prefix = "Could not resolve hostname no-such-host.invalid: ";
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    EXPECT_GT(text.size(), prefix.size()) << text;

    // A later failure of another kind leaves no old text behind.
    EXPECT_EQ(CSSH2::Connect("", 22, 10, nullptr, nullptr), SSH_EMPTY_HOST);
    EXPECT_EQ(CSSH2::LastFailure().text, "");
    EXPECT_EQ(CSSH2::Disconnect(), SSH_NOT_CONNECTED);
}

}  // namespace
