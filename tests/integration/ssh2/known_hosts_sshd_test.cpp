// The user's known_hosts against a real sshd: a key listed there (plainly
// or hashed by ssh-keygen -H) is known without a question, another key
// listed for the server stops the login like a changed key, and a key
// listed as revoked is refused even when the answer would be yes.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

struct SAnswers {
    int answer = 0;
    std::vector<int> events;
};

int Answer(int, const char*, const char*, int event, void* data)
{
    auto* answers = static_cast<SAnswers*>(data);
    answers->events.push_back(event);
    return answers->answer;
}

// "type base64" of a public key file, without its comment.
std::string PublicKey(const std::string& pub)
{
    const std::string text = ReadWholeFile(pub);
    const std::size_t second = text.find(' ', text.find(' ') + 1);
    return text.substr(0, second == std::string::npos ? text.find('\n') : second);
}

class KnownHostsSshdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-N", "", "-t", "ed25519", "-f", m_dir.file("other")}));
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.hostKeyType = "ed25519";
        m_server = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(m_server->running()) << m_server->logText();
        m_listed = "[127.0.0.1]:" + std::to_string(m_server->port());
        m_serverKey = PublicKey(m_server->hostKeyPath() + ".pub");
        m_otherKey = PublicKey(m_dir.file("other.pub"));
    }
    void WriteKnownHosts(const std::string& text) { std::ofstream(m_knownHosts, std::ios::binary) << text; }
    // Connects and logs in with the policies of an interactive scan: a
    // first contact and a changed key are both questions.
    int Login(SAnswers& answers)
    {
        const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_server->port()), 20, Answer, &answers);
        if (rc != 0) return rc;
        return CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, HKP_ASK, HKP_ASK);
    }
    bool Authenticated() const { return m_server->logText().find("Accepted") != std::string::npos; }

    TempDir m_dir;
    std::string m_knownHosts = m_dir.file("known_hosts");
    CScopedEnv m_env{"FERRODEX_KNOWN_HOSTS", m_knownHosts};
    std::unique_ptr<SshdPeer> m_server;
    std::string m_listed;
    std::string m_serverKey;
    std::string m_otherKey;
    CSessionEnvironment m_session;  // last: disconnects before the server stops
};

}  // namespace

TEST_F(KnownHostsSshdTest, AListedKeyIsKnownPlainOrHashed)
{
    WriteKnownHosts("# ours\nelsewhere " + m_otherKey + "\n127.0.0.2," + m_listed + " " + m_serverKey + " host\n");
    SAnswers no;
    EXPECT_EQ(Login(no), 0) << m_server->logText();
    EXPECT_TRUE(no.events.empty());
    CSSH2::Disconnect();

    // Hashed by the stock tool, the same entry still names the server.
    ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-H", "-f", m_knownHosts}));
    ASSERT_EQ(ReadWholeFile(m_knownHosts).find(m_listed), std::string::npos);
    ASSERT_NE(ReadWholeFile(m_knownHosts).find("|1|"), std::string::npos);
    SAnswers again;
    EXPECT_EQ(Login(again), 0) << m_server->logText();
    EXPECT_TRUE(again.events.empty());
    CSSH2::Disconnect();

    // Listed for port 22 only, the server on its own port is a first
    // contact: the question comes, and No stops it.
    WriteKnownHosts("127.0.0.1 " + m_serverKey + "\n");
    SAnswers firstContact;
    EXPECT_EQ(Login(firstContact), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(firstContact.events, std::vector<int>{HKE_ABSENT});
}

TEST_F(KnownHostsSshdTest, AnotherListedKeyIsAChangedKey)
{
    WriteKnownHosts(m_listed + " " + m_otherKey + "\n");
    SAnswers no;
    EXPECT_EQ(Login(no), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(no.events, std::vector<int>{HKE_CHANGED});
    EXPECT_FALSE(Authenticated());
    CSSH2::Disconnect();
    // A yes stores the key, as with a changed key of the engines' own
    // cache, but sends no password on that connection; the next one does,
    // without a question: the key accepted here stands against the file.
    SAnswers yes;
    yes.answer = 1;
    EXPECT_EQ(Login(yes), SSH_AUTH_FAILED);
    EXPECT_NE(CSSH2::LastFailure().text.find("password was not sent"), std::string::npos)
        << CSSH2::LastFailure().text;
    EXPECT_EQ(m_server->logText().find("password for"), std::string::npos) << m_server->logText();
    CSSH2::Disconnect();
    SAnswers after;
    EXPECT_EQ(Login(after), 0) << m_server->logText();
    EXPECT_TRUE(after.events.empty());
}

TEST_F(KnownHostsSshdTest, AKeyStoredOnFirstContactDoesNotOutweighTheFile)
{
    // Stored silently on first contact, while the file lists nothing.
    WriteKnownHosts("");
    SAnswers quiet;
    ASSERT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_server->port()), 20, Answer, &quiet), 0);
    ASSERT_EQ(CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, HKP_STORE, HKP_ASK), 0) << m_server->logText();
    CSSH2::Disconnect();
    const std::size_t logged = m_server->logText().size();
    // Then the user's file names another key for the host: the stored key
    // no longer counts, and the connection stops as for a changed key.
    WriteKnownHosts(m_listed + " " + m_otherKey + "\n");
    SAnswers no;
    EXPECT_EQ(Login(no), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(no.events, std::vector<int>{HKE_CHANGED});
    EXPECT_EQ(m_server->logText().find("Accepted", logged), std::string::npos) << m_server->logText();
    // Not even the caller's policy of storing new keys lets it through.
    CSSH2::Disconnect();
    ASSERT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_server->port()), 20, nullptr, nullptr), 0);
    EXPECT_EQ(CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, HKP_STORE, HKP_ASK), SSH_HOSTKEY_REFUSED);
    EXPECT_EQ(m_server->logText().find("Accepted", logged), std::string::npos) << m_server->logText();
}

TEST_F(KnownHostsSshdTest, ARevokedKeyIsRefusedEvenWithAYes)
{
    WriteKnownHosts(m_listed + " " + m_serverKey + "\n@revoked * " + m_serverKey + "\n");
    SAnswers yes;
    yes.answer = 1;
    EXPECT_EQ(Login(yes), SSH_HOSTKEY_REFUSED);
    EXPECT_TRUE(yes.events.empty());
    EXPECT_FALSE(Authenticated());
    CSSH2::Disconnect();
    // Not even the caller's own yes (a policy that stores every key).
    const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_server->port()), 20, nullptr, nullptr);
    EXPECT_EQ(rc == 0 ? CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, HKP_STORE, HKP_STORE) : rc,
              SSH_HOSTKEY_REFUSED);
    EXPECT_FALSE(Authenticated());
}

TEST_F(KnownHostsSshdTest, TheListedTypeIsOfferedFirst)
{
    // A server with an Ed25519 and an RSA key, of which known_hosts lists
    // only the RSA one: offered RSA first, it presents the listed key.
    ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-N", "", "-t", "rsa", "-b", "2048", "-f", m_dir.file("rsa")}));
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.hostKeyType = "ed25519";
    options.extraConfig = {"HostKey " + m_dir.file("rsa")};
    m_server.reset();
    m_server = std::make_unique<SshdPeer>(options);
    ASSERT_TRUE(m_server->running()) << m_server->logText();
    WriteKnownHosts("[127.0.0.1]:" + std::to_string(m_server->port()) + " " + PublicKey(m_dir.file("rsa.pub")) + "\n");
    SAnswers no;
    EXPECT_EQ(Login(no), 0) << m_server->logText();
    EXPECT_TRUE(no.events.empty());
}
