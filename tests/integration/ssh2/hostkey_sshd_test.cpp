// Host keys against real sshd instances: a changed key stops the login
// before any authentication request unless the answer is yes; known_hosts
// lines name keys, changed or revoked; the known type is offered first; the
// question shows the fingerprints ssh-keygen prints. (A key of a new type
// and a damaged cache: tests/integration/scan/hostkey_cli_test.cpp.)

#include <fstream>

#include "platform/registry.h"
#include "platform/text.h"
#include "sshcore/hostkey_trust.h"
#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/peer_keys.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

struct SAnswers {
    int answer = 0;
    std::vector<int> events;
    std::string fingerprint;
    SHostKeyReport report;
};

int Answer(int, const char*, const char* fingerprint, int event, void* data)
{
    auto* answers = static_cast<SAnswers*>(data);
    answers->events.push_back(event);
    answers->fingerprint = fingerprint;
    answers->report = CSSH2::Current()->HostKeyReport();
    return answers->answer;
}

class HostKeySshdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        // A key of the same host seen before, which the server no longer has.
        ASSERT_NE(NewKey(keys.file("old_rsa"), "-t rsa -b 2048"), "");
        oldRsa = ExpectedCacheEntry(ReadWholeFile(keys.file("old_rsa.pub"))).text;
    }
    void Start(const std::string& keyType, std::vector<std::string> config = {})
    {
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.hostKeyType = keyType;
        options.extraConfig = std::move(config);
        server = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(server->running()) << server->logText();
        listed = "[127.0.0.1]:" + std::to_string(server->port()) + " ";
    }
    int Login(SAnswers* answers, std::uint32_t absentPolicy = HKP_STORE, std::uint32_t changedPolicy = HKP_ASK)
    {
        const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(server->port()), 20,
                                      answers ? Answer : nullptr, answers);
        const int result =
            rc ? rc : CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, absentPolicy, changedPolicy);
        failure = CSSH2::LastFailure().text;
        CSSH2::Disconnect();
        return result;
    }
    std::string ServerKey() const { return PublicKeyPart(ReadWholeFile(server->hostKeyPath() + ".pub")); }
    std::string ServerCacheText() const { return ExpectedCacheEntry(ServerKey()).text; }
    void StoreOldRsa() const { sshcore::StoreHostKey("rsa2", server->port(), "127.0.0.1", oldRsa); }
    void WriteKnownHosts(const std::string& text) const { std::ofstream(knownHosts, std::ios::binary) << text; }
    // The server never saw an authentication request.
    void ExpectNoAuthentication() const
    {
        const std::string log = server->logText();
        EXPECT_EQ(log.find("Accepted"), std::string::npos) << log;
        EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
    }

    TempDir keys;
    std::string knownHosts = keys.file("known_hosts");
    CScopedEnv knownHostsEnv{"FERRODEX_KNOWN_HOSTS", knownHosts};
    std::string oldRsa;
    std::string listed;   // how known_hosts names the server
    std::string failure;  // the last login's failure text
    std::unique_ptr<SshdPeer> server;
    CSessionEnvironment env;  // last: disconnects before the server stops
};

TEST_F(HostKeySshdTest, AChangedRsaKeyStopsBeforeAuthenticationUnlessYes)
{
    ASSERT_NO_FATAL_FAILURE(Start("rsa"));
    StoreOldRsa();
    // No one to ask, a policy that only keeps keys unstored, then a No.
    EXPECT_EQ(Login(nullptr), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(Login(nullptr, HKP_STORE, HKP_KEEP_UNSTORED), SSH_HOSTKEY_REFUSED);
    SAnswers no;
    EXPECT_EQ(Login(&no), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(no.events, std::vector<int>{HKE_CHANGED});
    // Both fingerprints, as ssh-keygen prints them.
    EXPECT_NE(no.fingerprint.find(KeygenSha256(server->hostKeyPath() + ".pub")), std::string::npos) << no.fingerprint;
    EXPECT_EQ(no.report.knownFingerprints, std::vector<std::string>{"rsa2 " + KeygenSha256(keys.file("old_rsa.pub"))});
    ExpectNoAuthentication();
    EXPECT_EQ(StoredHostKey("rsa2", server->port()), oldRsa);

    // A yes, the user's or the caller's own, stores the key; that connection
    // sends no password.
    SAnswers yes;
    yes.answer = 1;
    ASSERT_EQ(Login(&yes), SSH_AUTH_FAILED) << server->logText();
    EXPECT_NE(failure.find("password was not sent"), std::string::npos) << failure;
    ExpectNoAuthentication();
    EXPECT_EQ(StoredHostKey("rsa2", server->port()), ServerCacheText());
    StoreOldRsa();
    ASSERT_EQ(Login(nullptr, HKP_STORE, HKP_STORE), SSH_AUTH_FAILED) << server->logText();
    ExpectNoAuthentication();
    EXPECT_EQ(StoredHostKey("rsa2", server->port()), ServerCacheText());
    // Trusted now: the next login asks nothing and logs in.
    SAnswers again;
    ASSERT_EQ(Login(&again), 0);
    EXPECT_TRUE(again.events.empty());
}

TEST_F(HostKeySshdTest, TheKnownKeyTypeIsOfferedFirst)
{
    // The server has an RSA and an Ed25519 key; Ed25519 comes first in the
    // offer unless the host's RSA key is what the cache holds.
    ASSERT_NE(NewKey(keys.file("extra_ed25519"), "-t ed25519"), "");
    ASSERT_NO_FATAL_FAILURE(Start("rsa", {"HostKey " + keys.file("extra_ed25519")}));
    SAnswers first;
    ASSERT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(server->port()), 20, Answer, &first), 0);
    ASSERT_EQ(CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, HKP_STORE_AND_TELL, HKP_ASK), 0);
    EXPECT_EQ(CSSH2::Current()->Agreed()[1], "ssh-ed25519");
    CSSH2::Disconnect();
    // A first contact is told (and stored) with ssh-keygen's fingerprint.
    EXPECT_EQ(first.events, std::vector<int>{HKE_STORED});
    EXPECT_NE(first.fingerprint.find(KeygenSha256(keys.file("extra_ed25519.pub"))), std::string::npos);

    sshcore::ForgetStoredHostKeys("127.0.0.1", server->port());
    sshcore::StoreHostKey("rsa2", server->port(), "127.0.0.1", ServerCacheText());
    SAnswers known;
    ASSERT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(server->port()), 20, Answer, &known), 0);
    ASSERT_EQ(CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, HKP_STORE, HKP_ASK), 0) << server->logText();
    EXPECT_EQ(CSSH2::Current()->Agreed()[1], "rsa-sha2-512");
    EXPECT_TRUE(known.events.empty());
}

// The user's known_hosts, asked as an interactive scan asks (first contacts
// and changes alike); which line outweighs which is proved in-process.
TEST_F(HostKeySshdTest, KnownHostsListedChangedAndRevokedKeys)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519"));
    ASSERT_NE(NewKey(keys.file("other"), "-t ed25519"), "");
    const std::string other = PublicKeyPart(ReadWholeFile(keys.file("other.pub")));
    WriteKnownHosts("# ours\nelsewhere " + other + "\n127.0.0.2," + listed + ServerKey() + " host\n");
    SAnswers plain;
    EXPECT_EQ(Login(&plain, HKP_ASK), 0) << server->logText();
    EXPECT_TRUE(plain.events.empty());
    // Hashed by the stock tool, the same entry still names the server.
    ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-H", "-f", knownHosts}));
    ASSERT_NE(ReadWholeFile(knownHosts).find("|1|"), std::string::npos);
    SAnswers hashed;
    EXPECT_EQ(Login(&hashed, HKP_ASK), 0) << server->logText();
    EXPECT_TRUE(hashed.events.empty());
    const std::size_t logins = CountOccurrences(server->logText(), "Accepted");

    // Listed for port 22 only, the server on its own port is a first
    // contact: the question comes, and No stops it.
    WriteKnownHosts("127.0.0.1 " + ServerKey() + "\n");
    SAnswers firstContact;
    EXPECT_EQ(Login(&firstContact, HKP_ASK), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(firstContact.events, std::vector<int>{HKE_ABSENT});
    // Another key listed for the server is a changed key.
    WriteKnownHosts(listed + other + "\n");
    SAnswers changed;
    EXPECT_EQ(Login(&changed, HKP_ASK), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(changed.events, std::vector<int>{HKE_CHANGED});
    // A revoked key is refused with no question, and not even the caller's
    // own yes (a policy that stores every key) lets it through.
    WriteKnownHosts(listed + ServerKey() + "\n@revoked * " + ServerKey() + "\n");
    SAnswers revoked;
    revoked.answer = 1;
    EXPECT_EQ(Login(&revoked, HKP_ASK), SSH_HOSTKEY_REFUSED);
    EXPECT_TRUE(revoked.events.empty());
    EXPECT_EQ(Login(nullptr, HKP_STORE, HKP_STORE), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(CountOccurrences(server->logText(), "Accepted"), logins);
    EXPECT_EQ(server->logText().find("Failed"), std::string::npos);
}

}  // namespace
