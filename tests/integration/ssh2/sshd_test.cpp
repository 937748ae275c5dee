// The client against a real OpenSSH server: the packet log of a session,
// every algorithm it speaks negotiated alone (a long output and commands
// after it), and logins with key files and an agent. (Long input:
// rekey_peer_test.cpp; a stock Dropbear: the scans of tests/integration/scan.)

#include <filesystem>

#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/peer_keys.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_helpers.h"

namespace {

#define SKIP_WITHOUT_PEERS()                                      \
    do {                                                          \
        std::string why;                                          \
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why; \
    } while (0)

struct SCallbackLog {
    int calls = 0;
    std::string fingerprint;
    int answer = 1;
};

int RecordingCallback(int, const char*, const char* fingerprint, int, void* data)
{
    auto* log = static_cast<SCallbackLog*>(data);
    ++log->calls;
    log->fingerprint = fingerprint;
    return log->answer;
}

struct SLogin {
    const char* password = SshdPeer::Password();
    SCallbackLog* callback = nullptr;
    std::uint32_t newPolicy = HKP_STORE;
    unsigned char compress = 1;
};

// Connect's result when it fails, else Login's.
int ConnectAndLogin(int port, const SLogin& how = {})
{
    const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 30,
                                  how.callback ? RecordingCallback : nullptr, how.callback);
    if (rc != 0) return rc;
    return CSSH2::Login(SshdPeer::User(), how.password, how.compress, how.newPolicy, HKP_ASK);
}

// Runs `command`; checks everything it wrote and its exit status.
void ExpectRun(const std::string& command, const std::string& output, std::uint32_t status)
{
    ASSERT_EQ(CSSH2::Exec(command.c_str()), 0) << command << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), output) << command;
    EXPECT_EQ(CSSH2::GetExitStatus(), status) << command;
}

// True when `merged` is `out` with `err` somewhere within: the server sends
// the two streams apart and nothing promises which arrives first (each is
// written whole, at once, by the commands here).
bool IsMergeOf(const std::string& merged, const std::string& out, const std::string& err)
{
    const std::size_t at = merged.find(err);
    return at != std::string::npos && merged.substr(0, at) + merged.substr(at + err.size()) == out;
}

// Runs `command`, which writes `out` to its standard output and `err` to its
// standard error; checks both streams' content, not how they interleave.
void ExpectRunWithStreams(const char* command, const std::string& out, const std::string& err, std::uint32_t status)
{
    ASSERT_EQ(CSSH2::Exec(command), 0) << command;
    EXPECT_TRUE(IsMergeOf(CSSH2::GetOutput(), out, err)) << command << "\n" << CSSH2::GetOutput();
    EXPECT_EQ(CSSH2::GetExitStatus(), status) << command;
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

// The packet log of a real login and command: at the default level it
// holds neither the login name nor the command or what it wrote; at the
// full level it holds all of them; no level holds the password.
TEST_F(SshdSessionTest, ThePacketLogKeepsWhatItsLevelAllows)
{
    constexpr const char* kCommand = "echo log-marker-$((6*7))";  // writes a word not in itself
    const std::string output = "log-marker-42";
    for (const char* level : {static_cast<const char*>(nullptr), "full", "off"}) {
        SCOPED_TRACE(level ? level : "default");
        const CSessionEnvironment levelEnv(level);
        ASSERT_EQ(ConnectAndLogin(s_peer->port()), 0) << CSSH2::LastFailure().text;
        ASSERT_NO_FATAL_FAILURE(ExpectRun(kCommand, output + "\n", 0));
        EXPECT_EQ(CSSH2::Disconnect(), 0);
        const std::string log = levelEnv.LogText();
        const std::string bytes = LoggedBytes(log);
        EXPECT_EQ(log.find(SshdPeer::Password()), std::string::npos);
        EXPECT_EQ(bytes.find(SshdPeer::Password()), std::string::npos);
        if (level == nullptr) {
            EXPECT_NE(log.find("Outgoing packet: Type: 50 / 0x32 (SSH2_MSG_USERAUTH_REQUEST)\n"), std::string::npos);
            EXPECT_NE(log.find("Incoming packet: Type: 94 / 0x5e (SSH2_MSG_CHANNEL_DATA) Length: "), std::string::npos);
            EXPECT_EQ(log.find(SshdPeer::User()), std::string::npos);
            EXPECT_EQ(log.find("log-marker"), std::string::npos);
            EXPECT_EQ(bytes, "");  // no dump rows at all
        } else if (std::string(level) == "full") {
            EXPECT_NE(bytes.find(SshdPeer::User()), std::string::npos);
            EXPECT_NE(bytes.find(output), std::string::npos);
            EXPECT_NE(bytes.find(kCommand), std::string::npos);
        } else {
            EXPECT_FALSE(std::filesystem::exists(levelEnv.LogPath()));
        }
    }
}

// A server of its own for each case, with the older algorithms only where
// the case asks for them.
template <class Param>
class SshdPeerTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override { SKIP_WITHOUT_PEERS(); }
    void StartPeer(const std::string& hostKeyType, std::vector<std::string> config = {}, bool older = false)
    {
        SshdOptions options;
        options.legacyAlgorithms = older;
        options.hostKeyType = hostKeyType;
        options.extraConfig = std::move(config);
        peer = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(peer->running()) << peer->logText();
    }

    std::unique_ptr<SshdPeer> peer;
    CSessionEnvironment env;  // declared last: disconnects before the server stops
};

// Each algorithm alone, the older ones against the older server: agreed
// both ways, a long output read under it, and the host key stored.
class SshdAlgorithmTest : public SshdPeerTest<SAlgorithmAlone> {};

TEST_P(SshdAlgorithmTest, NegotiatesItAndRuns)
{
    const SAlgorithmAlone& alone = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartPeer(alone.hostKeyType, alone.config, alone.older));
    ASSERT_EQ(ConnectAndLogin(peer->port(), {.compress = alone.slot == 6}), 0)
        << CSSH2::GetOutput() << peer->logText();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[alone.slot], alone.name);
    if (alone.slot >= 2) {
        EXPECT_EQ(agreed[alone.slot + 1], alone.name);
    }
    ASSERT_EQ(CSSH2::Exec("seq 1 200000"), 0);
    const std::string output = CSSH2::GetOutput();
    EXPECT_EQ(output.size(), 1288895u);
    EXPECT_EQ(output.substr(output.size() - 14), "199999\n200000\n");
    ASSERT_NO_FATAL_FAILURE(ExpectRun("echo second; exit 2", "second\n", 2));
    EXPECT_EQ(CSSH2::Disconnect(), 0);
    const SCacheEntry expected = ExpectedCacheEntry(ReadWholeFile(peer->hostKeyPath() + ".pub"));
    EXPECT_EQ(StoredHostKey(expected.cacheType, peer->port()), expected.text);
}

std::vector<SAlgorithmAlone> AllAlgorithmsAlone()
{
    std::vector<SAlgorithmAlone> cases = CurrentAlgorithmsAlone();
    const std::vector<std::string> older{"KexAlgorithms diffie-hellman-group1-sha1",
                                         "HostKeyAlgorithms ssh-rsa,ssh-dss"};
    for (const char* cipher : {"aes128-cbc", "aes192-cbc", "aes256-cbc", "3des-cbc"}) {
        cases.push_back({cipher, 2, older, "rsa", true});
        cases.back().config.push_back(std::string("Ciphers ") + cipher);
    }
    for (const char* mac : {"hmac-sha1", "hmac-md5"}) {
        cases.push_back({mac, 4, older, "rsa", true});
        cases.back().config.push_back(std::string("MACs ") + mac);
    }
    cases.push_back({"ssh-dss", 1, older, "dsa", true});
    cases.push_back({"diffie-hellman-group1-sha1", 0, older, "rsa", true});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Alone, SshdAlgorithmTest, ::testing::ValuesIn(AllAlgorithmsAlone()), AlgorithmAloneName);

// A stock Debian sshd: what a current server agrees on with this client,
// and a first contact's question answered yes.
class SshdStockTest : public SshdPeerTest<int> {};

TEST_F(SshdStockTest, AgreesOnCurrentAlgorithmsAndAsksOnceAboutTheKey)
{
    ASSERT_NO_FATAL_FAILURE(StartPeer("ed25519"));
    SCallbackLog callback;
    const SLogin asking{.callback = &callback, .newPolicy = HKP_ASK, .compress = 0};
    ASSERT_EQ(ConnectAndLogin(peer->port(), asking), 0) << CSSH2::GetOutput() << peer->logText();
    const auto& agreed = CSSH2::Current()->Agreed();
    EXPECT_EQ(agreed[0], "curve25519-sha256");
    EXPECT_EQ(agreed[1], "ssh-ed25519");
    EXPECT_EQ(agreed[2], "aes256-gcm@openssh.com");
    EXPECT_EQ(agreed[6], "none");
    EXPECT_EQ(callback.calls, 1);
    EXPECT_NE(callback.fingerprint.find(KeygenSha256(peer->hostKeyPath() + ".pub")), std::string::npos)
        << callback.fingerprint;
    ASSERT_NO_FATAL_FAILURE(ExpectRunWithStreams("echo hello; echo oops >&2; id -un; exit 5",
                                                 std::string("hello\n") + SshdPeer::User() + "\n", "oops\n", 5));
    EXPECT_EQ(CSSH2::Disconnect(), 0);
    // The second contact finds the stored key and asks nothing.
    ASSERT_EQ(ConnectAndLogin(peer->port(), asking), 0);
    EXPECT_EQ(callback.calls, 1);
}

// ---------------------------------------------------------------- keys

// The login keys of one test, cleared at its end.
struct CLoginKeysGuard {
    explicit CLoginKeysGuard(SLoginKeys keys) { CSSH2::SetLoginKeys(std::move(keys)); }
    ~CLoginKeysGuard() { CSSH2::SetLoginKeys({}); }
};

// The formats themselves are read in-process (tests/ssh2); here a key file
// of each kind signs a login that the server checks.
struct SKeyLogin {
    const char* args;
    const char* passphrase;
};

class SshdKeyLoginTest : public SshdPeerTest<SKeyLogin> {};

TEST_P(SshdKeyLoginTest, KeyFileLogsInWherePasswordsAreOff)
{
    StartPeer("ed25519", {"AuthenticationMethods publickey"});
    const std::string key = peer->folder() + "/id";
    ASSERT_NE(NewKey(key, GetParam().args, GetParam().passphrase, peer->folder()), "");
    CLoginKeysGuard keys({key, GetParam().passphrase, false});
    EXPECT_EQ(ConnectAndLogin(peer->port(), {.password = ""}), 0) << CSSH2::LastFailure().text << peer->logText();
    ASSERT_NO_FATAL_FAILURE(ExpectRun("echo keyed", "keyed\n", 0));
}

INSTANTIATE_TEST_SUITE_P(Keygen, SshdKeyLoginTest,
                         ::testing::Values(SKeyLogin{"-t ed25519", "pass phrase"},
                                           SKeyLogin{"-t ecdsa -b 384 -m PEM", "pass phrase"},
                                           SKeyLogin{"-t rsa -b 3072 -m PEM", ""}));

class SshdMethodsTest : public SshdPeerTest<int> {};

TEST_F(SshdMethodsTest, TheAgentsRsaKeyLogsIn)
{
    StartPeer("ed25519", {"AuthenticationMethods publickey"});
    const std::string key = peer->folder() + "/id";
    ASSERT_NE(NewKey(key, "-t rsa -b 2048", "", peer->folder()), "");
    const CTestAgent agent(peer->folder() + "/agent.sock");
    if (!agent.running()) FDX_PEER_MISSING() << "ssh-agent did not start";
    ASSERT_TRUE(agent.Add(key));
    CScopedEnv socket("SSH_AUTH_SOCK", peer->folder() + "/agent.sock");
    CLoginKeysGuard keys({"", "", true});
    EXPECT_EQ(ConnectAndLogin(peer->port(), {.password = ""}), 0) << CSSH2::LastFailure().text << peer->logText();
}

TEST_F(SshdMethodsTest, KeyThenPasswordWhenTheServerAsksForBoth)
{
    StartPeer("ed25519", {"AuthenticationMethods publickey,password"});
    const std::string key = peer->folder() + "/id";
    ASSERT_NE(NewKey(key, "-t ed25519", "", peer->folder()), "");
    {
        CLoginKeysGuard keys({key, "", false});
        EXPECT_EQ(ConnectAndLogin(peer->port()), 0) << CSSH2::LastFailure().text << peer->logText();
        CSSH2::Disconnect();
    }
    // Without the key, the server says what it takes.
    CLoginKeysGuard none({"", "", false});
    StartPeer("ed25519", {"AuthenticationMethods publickey"});
    EXPECT_EQ(ConnectAndLogin(peer->port()), SSH_AUTH_FAILED);
    EXPECT_EQ(CSSH2::LastFailure().text, "The server accepts only: publickey");
}

}  // namespace
