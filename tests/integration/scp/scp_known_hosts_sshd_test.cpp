// The upload engine reads the user's known_hosts like the SSH engine: a key
// listed for the server is known without a question, another listed key is
// a changed key, and a revoked key is refused whatever the policies say.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

std::string PublicKey(const std::string& pub)
{
    const std::string text = ReadWholeFile(pub);
    const std::size_t second = text.find(' ', text.find(' ') + 1);
    return text.substr(0, second == std::string::npos ? text.find('\n') : second);
}

class ScpKnownHostsSshd : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.hostKeyType = "ed25519";
        m_peer = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(m_peer->running()) << m_peer->logText();
        ASSERT_FALSE(m_remote.path().empty());
        WriteFileBytes(m_local.file("f.bin"), "bytes");
        ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-N", "", "-t", "ed25519", "-f", m_local.file("other")}));
        m_listed = "[127.0.0.1]:" + std::to_string(m_peer->port()) + " ";
    }
    void WriteKnownHosts(const std::string& text) { std::ofstream(m_knownHosts, std::ios::binary) << text; }
    // An upload that asks about a new or changed key and answers `answer`.
    UploadRun NewRun(int answer, int policy = HOSTKEY_ASK)
    {
        UploadRun run = PeerRun(m_peer->port(), m_local.file("f.bin"), m_remote.path());
        run.hostKeyAnswer = answer;
        run.options.new_host_key_policy = static_cast<std::int16_t>(policy);
        run.options.changed_host_key_policy = static_cast<std::int16_t>(policy);
        return run;
    }
    static int HostKeyEvents(const UploadRun& run) { return run.Count(SCP_EVENT_HOSTKEY); }
    // Logins the server accepted so far.
    std::size_t Logins() const
    {
        const std::string log = m_peer->logText();
        std::size_t count = 0;
        for (std::size_t at = log.find("Accepted"); at != std::string::npos; at = log.find("Accepted", at + 1)) ++count;
        return count;
    }
    std::string ServerKey() const { return PublicKey(m_peer->hostKeyPath() + ".pub"); }

    TempRegistry m_registry;
    TempDir m_local;
    std::string m_knownHosts = m_local.file("known_hosts");
    CScopedEnv m_env{"FERRODEX_KNOWN_HOSTS", m_knownHosts};
    RemoteDir m_remote;
    std::unique_ptr<SshdPeer> m_peer;
    std::string m_listed;
};

}  // namespace

TEST_F(ScpKnownHostsSshd, ListedChangedAndRevokedKeys)
{
    WriteKnownHosts(m_listed + ServerKey() + "\n");
    UploadRun known = NewRun(0);
    ASSERT_EQ(known.Run(), 0) << m_peer->logText();
    EXPECT_EQ(HostKeyEvents(known), 0);

    WriteKnownHosts(m_listed + PublicKey(m_local.file("other.pub")) + "\n");
    UploadRun changed = NewRun(0);
    EXPECT_EQ(changed.Run(), SCP_E_HOSTKEY_REFUSED);
    ASSERT_EQ(HostKeyEvents(changed), 1);
    for (const RecordedEvent& e : changed.events)
        if (e.event == SCP_EVENT_HOSTKEY) {
            EXPECT_EQ(e.value, SCP_HOSTKEY_CHANGED);
        }

    WriteKnownHosts(m_listed + ServerKey() + "\n@revoked * " + ServerKey() + "\n");
    const std::size_t logins = Logins();
    UploadRun revoked = NewRun(1, HOSTKEY_ACCEPT_AND_STORE);
    EXPECT_EQ(revoked.Run(), SCP_E_HOSTKEY_REFUSED);
    EXPECT_EQ(HostKeyEvents(revoked), 0);
    EXPECT_EQ(Logins(), logins);  // stopped before authentication
}

TEST_F(ScpKnownHostsSshd, TheListedTypeIsOfferedFirst)
{
    // The server also has an RSA key, the only one known_hosts lists.
    ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-N", "", "-t", "rsa", "-b", "2048", "-f", m_local.file("rsa")}));
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.hostKeyType = "ed25519";
    options.extraConfig = {"HostKey " + m_local.file("rsa")};
    m_peer.reset();
    m_peer = std::make_unique<SshdPeer>(options);
    ASSERT_TRUE(m_peer->running()) << m_peer->logText();
    WriteKnownHosts("[127.0.0.1]:" + std::to_string(m_peer->port()) + " " + PublicKey(m_local.file("rsa.pub")) + "\n");
    UploadRun run = NewRun(0);
    ASSERT_EQ(run.Run(), 0) << m_peer->logText();
    EXPECT_EQ(HostKeyEvents(run), 0);
}
