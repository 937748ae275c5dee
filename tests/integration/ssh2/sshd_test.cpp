// The client against a real OpenSSH server: configured with the older
// algorithms this client speaks, stock, and forced to each current one.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"
#include "tests/ssh2/test_util.h"
#include "tests/support/dropbear_peer.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";

#define SKIP_WITHOUT_PEERS()                                      \
    do {                                                          \
        std::string why;                                          \
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why; \
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

struct SLogin {
    const char* password = SshdPeer::Password();
    CallbackLog* callback = nullptr;
    std::uint32_t newPolicy = HKP_STORE, changedPolicy = HKP_ASK;
    unsigned char compress = 1;
    int timeout = 20;
};

// Connect's result when it fails, else Login's.
int ConnectAndLogin(int port, const SLogin& how = {})
{
    int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), how.timeout,
                            how.callback ? RecordingCallback : nullptr, how.callback);
    if (rc != 0) return rc;
    return CSSH2::Login(SshdPeer::User(), how.password, how.compress, how.newPolicy, how.changedPolicy);
}

std::u16string CacheEntry(const std::string& cacheType, int port)
{
    return AnsiToWide(cacheType + "@" + std::to_string(port) + ":127.0.0.1");
}

// The cached key of 127.0.0.1 on `port`, if there is one.
std::optional<std::string> StoredKey(const std::string& cacheType, int port)
{
    std::u16string stored;
    if (!RegReadString(HKEY_CURRENT_USER, kHostKeys, CacheEntry(cacheType, port), stored)) return std::nullopt;
    return WideToAnsi(stored);
}

// Runs `command`; checks everything it wrote and its exit status.
void ExpectRun(const char* command, const std::string& output, std::uint32_t status)
{
    ASSERT_EQ(CSSH2::Exec(command), 0) << command;
    EXPECT_EQ(CSSH2::GetOutput(), output) << command;
    EXPECT_EQ(CSSH2::GetExitStatus(), status) << command;
}

// True when `merged` holds all of `out` and all of `err`, each in its own
// order, interleaved in any way: the server sends the two streams apart and
// nothing promises which of them arrives first.
bool IsMergeOf(const std::string& merged, const std::string& out, const std::string& err)
{
    if (merged.size() != out.size() + err.size()) return false;
    // reachable[j]: merged's first i + j bytes can be the first i of `out`
    // and the first j of `err`.
    std::vector<bool> reachable(err.size() + 1, false);
    for (std::size_t i = 0; i <= out.size(); ++i) {
        for (std::size_t j = 0; j <= err.size(); ++j) {
            if (i == 0 && j == 0) {
                reachable[0] = true;
                continue;
            }
            const char c = merged[i + j - 1];
            const bool fromOut = i > 0 && reachable[j] && out[i - 1] == c;
            const bool fromErr = j > 0 && reachable[j - 1] && err[j - 1] == c;
            reachable[j] = fromOut || fromErr;
        }
    }
    return reachable[err.size()];
}

// Runs `command`, which writes `out` to its standard output and `err` to its
// standard error; checks both streams' content, not how they interleave.
void ExpectRunWithStreams(const char* command, const std::string& out, const std::string& err, std::uint32_t status)
{
    ASSERT_EQ(CSSH2::Exec(command), 0) << command;
    const std::string merged = CSSH2::GetOutput();
    EXPECT_TRUE(IsMergeOf(merged, out, err)) << command << "\n" << merged;
    EXPECT_EQ(CSSH2::GetExitStatus(), status) << command;
}

TEST(StreamMerge, TellsEveryInterleavingFromWrongContent)
{
    EXPECT_TRUE(IsMergeOf("hello\noops\nme\n", "hello\nme\n", "oops\n"));
    EXPECT_TRUE(IsMergeOf("hello\nme\noops\n", "hello\nme\n", "oops\n"));
    EXPECT_TRUE(IsMergeOf("oops\nhello\nme\n", "hello\nme\n", "oops\n"));
    EXPECT_TRUE(IsMergeOf("heoollops\n\nme\n", "hello\nme\n", "oops\n"));  // split inside lines
    EXPECT_FALSE(IsMergeOf("me\nhello\noops\n", "hello\nme\n", "oops\n"));  // stdout out of order
    EXPECT_FALSE(IsMergeOf("hello\noops\n", "hello\nme\n", "oops\n"));       // a line missing
    EXPECT_FALSE(IsMergeOf("hello\nme\noops\noops\n", "hello\nme\n", "oops\n"));
    EXPECT_FALSE(IsMergeOf("hello\nme\nOOPS\n", "hello\nme\n", "oops\n"));
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

    ASSERT_NO_FATAL_FAILURE(ExpectRun("(which nosuchprogram 2>/dev/null || (echo no; false))", "no\n", 1));

    ASSERT_NO_FATAL_FAILURE(
        ExpectRunWithStreams("echo out1; echo err1 >&2; echo out2", "out1\nout2\n", "err1\n", 0));

    ASSERT_NO_FATAL_FAILURE(ExpectRun("true", "", 0));

    // More than one window of output.
    ASSERT_NO_FATAL_FAILURE(ExpectRun("head -c 100000 /dev/zero | tr '\\0' x; exit 3", std::string(100000, 'x'), 3));

    EXPECT_EQ(CSSH2::Disconnect(), 0);
    EXPECT_EQ(CSSH2::Current(), nullptr);
}

// A command's input reaches it whole and then ends: more than the server's
// window (sshd's is 2 MiB), in packets the server takes, while the command's
// own output flows back.
TEST_F(SshdSessionTest, InputReachesTheCommandWholeAndEnds)
{
    ASSERT_EQ(ConnectAndLogin(s_peer->port()), 0) << CSSH2::GetOutput() << s_peer->logText();
    std::string input;
    for (std::size_t i = 0; input.size() < (3u << 20); ++i) input += std::to_string(i) + "\n";
    ASSERT_EQ(CSSH2::ExecWithInput("cksum", input), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetExitStatus(), 0u);
    // cksum's count is the input's length.
    EXPECT_NE(CSSH2::GetOutput().find(" " + std::to_string(input.size())), std::string::npos) << CSSH2::GetOutput();
    // Echoed back: the output comes while the input still goes.
    ASSERT_EQ(CSSH2::ExecWithInput("cat", input), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput().size(), input.size());
    EXPECT_TRUE(CSSH2::GetOutput() == input);
    EXPECT_EQ(CSSH2::Disconnect(), 0);
}

// Each command's end is its own: a status, or the signal that ended it,
// never what an earlier command left.
TEST_F(SshdSessionTest, EachCommandEndsWithItsOwnStatusOrSignal)
{
    ASSERT_EQ(ConnectAndLogin(s_peer->port()), 0) << CSSH2::GetOutput() << s_peer->logText();
    ASSERT_NO_FATAL_FAILURE(ExpectRun("true", "", 0));
    ASSERT_NO_FATAL_FAILURE(ExpectRun("exit 3", "", 3));
    // The shell that runs the command kills itself: sshd reports the signal.
    ASSERT_EQ(CSSH2::Exec("kill -KILL $$"), 0);
    EXPECT_EQ(CSSH2::GetExitSignal(), "KILL");
    EXPECT_EQ(CSSH2::GetExitStatus(), CSSH2::kNoExitStatus);
    ASSERT_NO_FATAL_FAILURE(ExpectRun("true", "", 0));
    EXPECT_EQ(CSSH2::GetExitSignal(), "");
    EXPECT_EQ(CSSH2::Disconnect(), 0);
}

TEST_F(SshdSessionTest, StoresTheHostKeyOnFirstContactAndLogsNoPassword)
{
    ASSERT_EQ(ConnectAndLogin(s_peer->port()), 0) << CSSH2::GetOutput();
    ASSERT_EQ(CSSH2::Disconnect(), 0);
    const auto stored = StoredKey("rsa2", s_peer->port());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->rfind("0x10001,0x", 0), 0u);

    const std::string log = env.LogText();
    EXPECT_NE(log.find("Outgoing packet: Type: 50 / 0x32 (SSH2_MSG_USERAUTH_REQUEST)"), std::string::npos);
    EXPECT_NE(log.find("Incoming packet: Type: 52 / 0x34 (SSH2_MSG_USERAUTH_SUCCESS)"), std::string::npos);
    EXPECT_EQ(log.find(SshdPeer::Password()), std::string::npos);
    EXPECT_EQ(log.find("fdx-test"), std::string::npos);
    const std::string bytes = LoggedBytes(log);
    EXPECT_EQ(bytes.find(SshdPeer::Password()), std::string::npos);
    EXPECT_NE(bytes.find(std::string("password\0\0\0\0\x0b***********", 22)), std::string::npos);
}

TEST_F(SshdSessionTest, AWrongPasswordIsSentOnceAndNamed)
{
    EXPECT_EQ(ConnectAndLogin(s_peer->port(), {.password = "not-the-password"}), SSH_WRONG_PASSWORD);
    const std::string log = s_peer->logText();
    std::size_t failures = 0;
    for (std::size_t at = log.find("Failed password"); at != std::string::npos; at = log.find("Failed password", at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u) << log;
    CSSH2::Disconnect();
}

TEST_F(SshdSessionTest, ChangedHostKeyAsksAndOnlyYesGoesOn)
{
    const std::u16string name = CacheEntry("rsa2", s_peer->port());
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        RegWriteString(HKEY_CURRENT_USER, kHostKeys, name, u"0x3,0x1234");
        CallbackLog callback;
        callback.answer = answer;
        const int rc = ConnectAndLogin(s_peer->port(), {.callback = &callback});
        // A yes stores the key, but the password stays home on that connection.
        EXPECT_EQ(rc, answer ? SSH_AUTH_FAILED : SSH_HOSTKEY_REFUSED);
        EXPECT_EQ(callback.calls, 1);
        EXPECT_EQ(callback.lastAbsent, HKE_CHANGED);
        EXPECT_EQ(callback.lastHost, "127.0.0.1");
        // Today's form, then SHA256 as ssh-keygen -l prints it.
        EXPECT_EQ(callback.lastFingerprint.rfind("ssh-rsa 2048 ", 0), 0u) << callback.lastFingerprint;
        EXPECT_EQ(callback.lastFingerprint.substr(std::string("ssh-rsa 2048 ").size() + 47, 8), " SHA256:");
        if (answer) {
            CSSH2::Disconnect();
            CallbackLog none;
            ASSERT_EQ(ConnectAndLogin(s_peer->port(), {.callback = &none}), 0);
            EXPECT_EQ(none.calls, 0);
            ASSERT_NO_FATAL_FAILURE(ExpectRun("echo ok", "ok\n", 0));
        }
        CSSH2::Disconnect();
        const auto stored = StoredKey("rsa2", s_peer->port());
        ASSERT_TRUE(stored);
        EXPECT_EQ(*stored == "0x3,0x1234", answer == 0) << *stored;
    }
    // No callback, or a policy that only keeps the key unstored: no one said
    // yes, so the login stops.
    for (std::uint32_t policy : {std::uint32_t{HKP_ASK}, std::uint32_t{HKP_KEEP_UNSTORED}, std::uint32_t{0}}) {
        SCOPED_TRACE(policy);
        RegWriteString(HKEY_CURRENT_USER, kHostKeys, name, u"0x3,0x1234");
        EXPECT_EQ(ConnectAndLogin(s_peer->port(), {.changedPolicy = policy}), SSH_HOSTKEY_REFUSED);
        CSSH2::Disconnect();
        EXPECT_EQ(StoredKey("rsa2", s_peer->port()), "0x3,0x1234");
    }
    // The caller's own yes: stored, and the password waits for the next login.
    EXPECT_EQ(ConnectAndLogin(s_peer->port(), {.changedPolicy = HKP_STORE}), SSH_AUTH_FAILED);
    CSSH2::Disconnect();
    EXPECT_NE(StoredKey("rsa2", s_peer->port()), "0x3,0x1234");
    EXPECT_EQ(ConnectAndLogin(s_peer->port(), {.changedPolicy = HKP_ASK}), 0);
    CSSH2::Disconnect();
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

// Each kind of host key: its cache type, the start of its fingerprint, and
// the algorithm a stock server signs with.
struct SKeyNames {
    std::string cacheType, fingerprintStart, stockAlgorithm;
};

SKeyNames NamesOf(const std::string& keyType)
{
    if (keyType == "ed25519") return {"ssh-ed25519", "ssh-ed25519 255 ", "ssh-ed25519"};
    if (keyType == "ecdsa") return {"ecdsa-sha2-nistp256", "ecdsa-sha2-nistp256 256 ", "ecdsa-sha2-nistp256"};
    if (keyType == "rsa") return {"rsa2", "ssh-rsa ", "rsa-sha2-512"};
    return {"dss", "ssh-dss ", "ssh-dss"};
}

// A server of its own for each case, without the older algorithms unless
// the configuration lines name them.
template <class Param>
class SshdPeerTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override { SKIP_WITHOUT_PEERS(); }
    void StartPeer(const std::string& hostKeyType, std::vector<std::string> config = {})
    {
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.hostKeyType = hostKeyType;
        options.extraConfig = std::move(config);
        peer = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(peer->running()) << peer->logText();
    }

    std::unique_ptr<SshdPeer> peer;
    CSessionEnvironment env;  // declared last: disconnects before the server stops
};

// Every cipher and MAC OpenSSH can still enable, with both older host keys.
using Combination = std::tuple<std::string, std::string, std::string>;
class SshdAlgorithmTest : public SshdPeerTest<Combination> {};

TEST_P(SshdAlgorithmTest, LogsInAndRuns)
{
    const auto& [cipher, mac, keyType] = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartPeer(keyType, {"KexAlgorithms diffie-hellman-group1-sha1",
                                                "HostKeyAlgorithms ssh-rsa,ssh-dss", "Ciphers " + cipher,
                                                "MACs " + mac}));
    ASSERT_EQ(ConnectAndLogin(peer->port()), 0) << CSSH2::GetOutput() << peer->logText();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[1], keyType == "rsa" ? "ssh-rsa" : "ssh-dss");
    EXPECT_EQ(agreed[2], cipher);
    EXPECT_EQ(agreed[3], cipher);
    EXPECT_EQ(agreed[4], mac);
    ASSERT_EQ(CSSH2::Exec("seq 1 3000"), 0);
    EXPECT_EQ(CSSH2::GetOutput().size(), 13893u);
    EXPECT_EQ(CSSH2::Disconnect(), 0);
    // First contact stored the key under its cache type, port and host.
    EXPECT_TRUE(StoredKey(NamesOf(keyType).cacheType, peer->port())) << keyType;
}

INSTANTIATE_TEST_SUITE_P(Matrix, SshdAlgorithmTest,
                         ::testing::Combine(::testing::Values("aes128-cbc", "aes192-cbc", "aes256-cbc", "3des-cbc"),
                                            ::testing::Values("hmac-sha1", "hmac-md5"),
                                            ::testing::Values("rsa", "dsa")),
                         AlgorithmsName());

// ------------------------------------------------- current algorithms

// The key as the cache stores it, built from the server's public key file.
std::string ExpectedKeyString(const std::string& pubPath)
{
    const std::string text = ReadWholeFile(pubPath);
    const std::size_t space = text.find(' ');
    const std::string b64 = text.substr(space + 1, text.find(' ', space + 1) - space - 1);
    std::vector<std::uint8_t> blob((b64.size() / 4) * 3 + 3);
    const int n = EVP_DecodeBlock(blob.data(), reinterpret_cast<const unsigned char*>(b64.data()),
                                  static_cast<int>(b64.size()));
    if (n <= 0) return "";
    std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t i = b64.size(); i > 0 && b64[i - 1] == '='; --i) --size;
    blob.resize(size);
    auto read = [&](std::size_t& at) {
        const std::uint32_t len = LoadUint32(blob.data() + at);
        std::vector<std::uint8_t> v(blob.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                    blob.begin() + static_cast<std::ptrdiff_t>(at + 4 + len));
        at += 4 + len;
        return v;
    };
    std::size_t at = 0;
    const auto type = read(at);
    auto hex = [](const std::vector<std::uint8_t>& v, bool trim) {
        std::string s = Hex(v);
        if (trim) {
            const std::size_t nz = s.find_first_not_of('0');
            s = nz == std::string::npos ? "0" : s.substr(nz);
        }
        return s;
    };
    const std::string name(type.begin(), type.end());
    if (name == "ssh-ed25519") return "0x" + hex(read(at), false);
    if (name == "ecdsa-sha2-nistp256") {
        read(at);
        const auto q = read(at);
        return "nistp256,0x" + hex({q.begin() + 1, q.begin() + 33}, true) + ",0x" + hex({q.begin() + 33, q.end()}, true);
    }
    const auto e = read(at);
    const auto nn = read(at);
    return "0x" + hex(e, true) + ",0x" + hex(nn, true);
}

// A stock Debian sshd with each kind of host key: what a current server
// agrees on with this client, real commands, and the key kept in the cache.
class SshdStockTest : public SshdPeerTest<std::string> {};

TEST_P(SshdStockTest, AgreesOnCurrentAlgorithmsAndRuns)
{
    ASSERT_NO_FATAL_FAILURE(StartPeer(GetParam()));
    CallbackLog callback;
    callback.answer = 1;
    const SLogin asking{.callback = &callback, .newPolicy = HKP_ASK, .compress = 0};
    ASSERT_EQ(ConnectAndLogin(peer->port(), asking), 0) << CSSH2::GetOutput() << peer->logText();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[0], "curve25519-sha256");
    const SKeyNames names = NamesOf(GetParam());
    EXPECT_EQ(agreed[1], names.stockAlgorithm);
    EXPECT_EQ(agreed[2], "aes256-gcm@openssh.com");
    EXPECT_EQ(agreed[3], "aes256-gcm@openssh.com");
    EXPECT_EQ(agreed[6], "none");
    EXPECT_EQ(callback.calls, 1);
    EXPECT_EQ(callback.lastFingerprint.rfind(names.fingerprintStart, 0), 0u) << callback.lastFingerprint;

    ASSERT_NO_FATAL_FAILURE(ExpectRunWithStreams("echo hello; echo oops >&2; id -un; exit 5",
                                                 std::string("hello\n") + SshdPeer::User() + "\n", "oops\n", 5));
    ASSERT_NO_FATAL_FAILURE(ExpectRun("seq 1 20000 | tail -n 1", "20000\n", 0));
    EXPECT_EQ(CSSH2::Disconnect(), 0);

    const auto stored = StoredKey(names.cacheType, peer->port());
    ASSERT_TRUE(stored) << names.cacheType;
    EXPECT_EQ(*stored, ExpectedKeyString(peer->hostKeyPath() + ".pub"));

    // The second contact finds the stored key and asks nothing.
    ASSERT_EQ(ConnectAndLogin(peer->port(), asking), 0);
    EXPECT_EQ(callback.calls, 1);
    EXPECT_EQ(CSSH2::Disconnect(), 0);
}

// A stock Dropbear: the other server a current installation may run.
TEST(DropbearTest, StockServerAgreesAndRuns)
{
    std::string why;
    if (!DropbearPeer::Available(&why)) FDX_PEER_MISSING() << why;
    DropbearPeer peer;
    ASSERT_TRUE(peer.running()) << peer.logText();
    CSessionEnvironment env;
    ASSERT_EQ(ConnectAndLogin(peer.port()), 0) << CSSH2::GetOutput() << peer.logText();
    EXPECT_EQ(CSSH2::Current()->ServerVersion().rfind("SSH-2.0-dropbear", 0), 0u);
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[0], "curve25519-sha256");
    EXPECT_EQ(agreed[1], "ssh-ed25519");
    // Dropbear 2022.83 has no AES-GCM: ChaCha20-Poly1305, and the delayed
    // compression it offers.
    EXPECT_EQ(agreed[2], "chacha20-poly1305@openssh.com");
    EXPECT_EQ(agreed[3], "chacha20-poly1305@openssh.com");
    EXPECT_EQ(agreed[6], "zlib@openssh.com");
    EXPECT_EQ(agreed[7], "zlib@openssh.com");
    ASSERT_NO_FATAL_FAILURE(ExpectRunWithStreams("echo hello; echo oops >&2; exit 4", "hello\n", "oops\n", 4));
    ASSERT_NO_FATAL_FAILURE(ExpectRun("seq 1 50000 | tail -n 2", "49999\n50000\n", 0));
    EXPECT_EQ(CSSH2::Disconnect(), 0);
    const auto stored = StoredKey("ssh-ed25519", peer.port());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 66u);
}

INSTANTIATE_TEST_SUITE_P(HostKeys, SshdStockTest, ::testing::Values("rsa", "ecdsa", "ed25519"));

// Each current algorithm alone: the server is forced to it.
struct SForced {
    std::string label;
    std::vector<std::string> config;
    std::string hostKeyType;
    std::size_t agreedIndex;
    std::string agreed;
};

class SshdForcedAlgorithmTest : public SshdPeerTest<SForced> {};

TEST_P(SshdForcedAlgorithmTest, NegotiatesItAndRuns)
{
    const SForced& forced = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartPeer(forced.hostKeyType, forced.config));
    const bool compress = forced.agreedIndex == 6;
    ASSERT_EQ(ConnectAndLogin(peer->port(), {.compress = compress, .timeout = 30}), 0)
        << CSSH2::GetOutput() << peer->logText();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[forced.agreedIndex], forced.agreed);
    if (forced.agreedIndex == 2 || forced.agreedIndex == 4 || compress) {
        EXPECT_EQ(agreed[forced.agreedIndex + 1], forced.agreed);
    }
    ASSERT_EQ(CSSH2::Exec("seq 1 200000"), 0);
    const std::string output = CSSH2::GetOutput();
    EXPECT_EQ(output.size(), 1288895u);
    EXPECT_EQ(output.substr(0, 4), "1\n2\n");
    EXPECT_EQ(output.substr(output.size() - 14), "199999\n200000\n");
    EXPECT_EQ(CSSH2::GetExitStatus(), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectRun("echo second; exit 2", "second\n", 2));
    EXPECT_EQ(CSSH2::Disconnect(), 0);
}

std::vector<SForced> ForcedCases()
{
    std::vector<SForced> cases;
    for (const char* kex : {"curve25519-sha256", "curve25519-sha256@libssh.org", "ecdh-sha2-nistp256",
                            "diffie-hellman-group14-sha256", "diffie-hellman-group16-sha512",
                            "diffie-hellman-group-exchange-sha256"})
        cases.push_back({std::string("kex_") + kex, {std::string("KexAlgorithms ") + kex}, "rsa", 0, kex});
    for (const auto& [name, type] : std::vector<std::pair<std::string, std::string>>{
             {"ssh-ed25519", "ed25519"}, {"ecdsa-sha2-nistp256", "ecdsa"}, {"rsa-sha2-512", "rsa"},
             {"rsa-sha2-256", "rsa"}})
        cases.push_back({"hostkey_" + name, {"HostKeyAlgorithms " + name}, type, 1, name});
    for (const char* cipher : {"aes256-gcm@openssh.com", "aes128-gcm@openssh.com", "chacha20-poly1305@openssh.com",
                               "aes256-ctr", "aes192-ctr", "aes128-ctr"})
        cases.push_back({std::string("cipher_") + cipher, {std::string("Ciphers ") + cipher}, "rsa", 2, cipher});
    for (const char* mac : {"hmac-sha2-256-etm@openssh.com", "hmac-sha2-512-etm@openssh.com", "hmac-sha2-256",
                            "hmac-sha2-512"})
        cases.push_back({std::string("mac_") + mac, {"Ciphers aes128-ctr", std::string("MACs ") + mac}, "rsa", 4, mac});
    cases.push_back({"compression_zlib_openssh", {}, "ed25519", 6, "zlib@openssh.com"});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Current, SshdForcedAlgorithmTest, ::testing::ValuesIn(ForcedCases()),
                         [](const ::testing::TestParamInfo<SForced>& param) {
                             std::string name = param.param.label;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// ---------------------------------------------------------------- keys

// The login keys of one test, cleared at its end.
struct CLoginKeysGuard {
    explicit CLoginKeysGuard(SLoginKeys keys) { CSSH2::SetLoginKeys(std::move(keys)); }
    ~CLoginKeysGuard() { CSSH2::SetLoginKeys({}); }
};

struct SKeyLogin {
    const char* type;
    const char* bits;
    const char* format;  // ssh-keygen -m, or empty
    const char* passphrase;
};

class SshdKeyLoginTest : public SshdPeerTest<SKeyLogin> {
protected:
    // A key made by ssh-keygen and listed in the server's authorized_keys.
    std::string AuthorizedKey(const SKeyLogin& k, const std::string& name)
    {
        const std::string path = peer->folder() + "/" + name;
        std::string command = std::string("ssh-keygen -q -C '' -a 2 -t ") + k.type + " -N '" + k.passphrase + "' -f " + path;
        if (*k.bits) command += std::string(" -b ") + k.bits;
        if (*k.format) command += std::string(" -m ") + k.format;
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return {};
        std::ifstream pub(path + ".pub");
        std::string line;
        std::getline(pub, line);
        std::ofstream(peer->folder() + "/authorized_keys", std::ios::app) << line << "\n";
        return path;
    }
};

TEST_P(SshdKeyLoginTest, KeyFileLogsInWherePasswordsAreOff)
{
    StartPeer("ed25519", {"AuthenticationMethods publickey"});
    const std::string key = AuthorizedKey(GetParam(), "id");
    ASSERT_FALSE(key.empty());
    CLoginKeysGuard keys({key, GetParam().passphrase, false});
    EXPECT_EQ(ConnectAndLogin(peer->port(), {.password = ""}), 0) << CSSH2::LastFailure().text << peer->logText();
    EXPECT_EQ(CSSH2::Exec("echo keyed"), 0) << CSSH2::LastFailure().text << peer->logText();
    EXPECT_EQ(CSSH2::GetOutput(), "keyed\n");
}

INSTANTIATE_TEST_SUITE_P(Keygen, SshdKeyLoginTest,
                         ::testing::Values(SKeyLogin{"ed25519", "", "", ""}, SKeyLogin{"ed25519", "", "", "pass phrase"},
                                           SKeyLogin{"ecdsa", "256", "", ""}, SKeyLogin{"ecdsa", "384", "PEM", "pass phrase"},
                                           SKeyLogin{"ecdsa", "521", "PKCS8", ""}, SKeyLogin{"rsa", "2048", "", "pass phrase"},
                                           SKeyLogin{"rsa", "3072", "PEM", ""}));

TEST_P(SshdKeyLoginTest, TheAgentsKeyLogsIn)
{
    if (std::system("command -v ssh-agent >/dev/null") != 0) FDX_PEER_MISSING() << "ssh-agent is not installed";
    if (*GetParam().passphrase) GTEST_SKIP() << "ssh-add would ask for the passphrase";
    StartPeer("ed25519", {"AuthenticationMethods publickey"});
    const std::string key = AuthorizedKey(GetParam(), "id");
    ASSERT_FALSE(key.empty());
    const std::string socket = peer->folder() + "/agent.sock";
    std::string out;
    if (FILE* p = ::popen(("ssh-agent -s -a " + socket).c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        ::pclose(p);
    }
    const std::size_t at = out.find("SSH_AGENT_PID=");
    ASSERT_NE(at, std::string::npos);
    struct SAgentStop {
        int pid;
        ~SAgentStop() { ::kill(pid, SIGTERM); }
    } stop{std::atoi(out.c_str() + at + 14)};
    const std::string add = "SSH_AUTH_SOCK=" + socket + " SSH_ASKPASS_REQUIRE=never ssh-add -q " + key;
    ASSERT_EQ(std::system((add + " </dev/null >/dev/null 2>&1").c_str()), 0);
    CScopedEnv env("SSH_AUTH_SOCK", socket);
    CLoginKeysGuard keys({"", "", true});
    EXPECT_EQ(ConnectAndLogin(peer->port(), {.password = ""}), 0) << CSSH2::LastFailure().text << peer->logText();
}

class SshdMethodsTest : public SshdPeerTest<int> {};

TEST_F(SshdMethodsTest, KeyThenPasswordWhenTheServerAsksForBoth)
{
    StartPeer("ed25519", {"AuthenticationMethods publickey,password"});
    const std::string path = peer->folder() + "/id";
    ASSERT_EQ(std::system(("ssh-keygen -q -C '' -t ed25519 -N '' -f " + path + " >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(std::system(("cp " + path + ".pub " + peer->folder() + "/authorized_keys").c_str()), 0);
    {
        CLoginKeysGuard keys({path, "", false});
        EXPECT_EQ(ConnectAndLogin(peer->port()), 0) << CSSH2::LastFailure().text << peer->logText();
        CSSH2::Disconnect();
    }
    // Without the key, the server says what it takes.
    CLoginKeysGuard none({"", "", false});
    StartPeer("ed25519", {"AuthenticationMethods publickey"});
    EXPECT_EQ(ConnectAndLogin(peer->port()), SSH_AUTH_FAILED);
    EXPECT_EQ(CSSH2::LastFailure().text, "The server accepts only: publickey");
    CSSH2::Disconnect();
}

}  // namespace
