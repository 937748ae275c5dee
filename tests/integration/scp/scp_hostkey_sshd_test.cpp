// The upload engine's host-key checks against real sshd instances: a
// changed RSA key, an Ed25519 key where RSA was stored and a key another
// known_hosts line names stop the session before any authentication
// request unless a yes comes (the user's or the caller's policy); a revoked
// key stops it whatever the policies say.

#include <fstream>

#include "sshcore/hostkey_trust.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/integration/ssh2/peer_keys.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_helpers.h"

namespace {

constexpr const char* kOldRsa = "0x10001,0xc5c5c5c5";

class ScpHostKeySshd : public CScpSshdTest {
protected:
    void Start(const std::string& keyType)
    {
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.hostKeyType = keyType;
        CScpSshdTest::Start(options);
        WriteFileBytes(m_local.file("f.bin"), "bytes");
    }
    // An RSA key of this host and port stored earlier, no longer the server's.
    void StoreOldRsa() const { sshcore::StoreHostKey("rsa2", m_peer->port(), "127.0.0.1", kOldRsa); }
    UploadRun NewRun(int answer, int newPolicy, int changedPolicy)
    {
        UploadRun run = CScpSshdTest::NewRun("f.bin");
        run.hostKeyAnswer = answer;
        run.options.new_host_key_policy = static_cast<std::int16_t>(newPolicy);
        run.options.changed_host_key_policy = static_cast<std::int16_t>(changedPolicy);
        return run;
    }
    void ExpectNoAuthentication() const
    {
        const std::string log = m_peer->logText();
        EXPECT_EQ(log.find("Accepted"), std::string::npos) << log;
        EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
    }
    // A yes to a key that needed one: stored and recorded, but the session
    // sends no password, and says why.
    void ExpectPasswordWithheld(UploadRun& run, const std::string& type, const std::string& why)
    {
        EXPECT_EQ(run.Run(), SCP_E_AUTHENTICATE) << m_peer->logText();
        EXPECT_NE(LastDetail().find("The password was not sent because the server's host key changed"),
                  std::string::npos)
            << LastDetail();
        ExpectNoAuthentication();
        const std::string record = sshcore::ReadHostKeyAcceptance(type, m_peer->port(), "127.0.0.1");
        EXPECT_EQ(record.size() > 21 ? record.substr(record.rfind(' ') + 1) : "", why) << record;
    }
    // The one host-key event of a run (null when there was none).
    static const RecordedEvent* Asked(const UploadRun& run)
    {
        for (const RecordedEvent& e : run.events)
            if (e.event == SCP_EVENT_HOSTKEY) return &e;
        return nullptr;
    }
    std::string ServerKey() const { return PublicKeyPart(ReadWholeFile(m_peer->hostKeyPath() + ".pub")); }

    std::string m_knownHosts = m_local.file("known_hosts");
    CScopedEnv m_env{"FERRODEX_KNOWN_HOSTS", m_knownHosts};
};

TEST_F(ScpHostKeySshd, AChangedRsaKeyGoesOnOnlyWithAYes)
{
    ASSERT_NO_FATAL_FAILURE(Start("rsa"));
    struct SCase {
        std::int16_t policy;
        bool callback;
        std::int32_t answer;
        bool yes;
    };
    // Only the caller's own yes (accept and store) or the user's goes on.
    const SCase cases[] = {
        {HOSTKEY_REJECT, true, 1, false},          {HOSTKEY_ACCEPT_ONCE, true, 1, false},
        {HOSTKEY_ASK, true, 0, false},             {HOSTKEY_ASK, false, 1, false},
        {7, true, 1, false},                       {HOSTKEY_ACCEPT_AND_STORE, true, 0, true},
        {HOSTKEY_ASK, true, 1, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "policy " << c.policy << " callback " << c.callback << " answer "
                                          << c.answer);
        StoreOldRsa();
        UploadRun run = NewRun(c.answer, HOSTKEY_ACCEPT_AND_STORE, c.policy);
        run.withCallback = c.callback;
        if (c.yes) {
            ExpectPasswordWithheld(run, "rsa2", "changed");
            EXPECT_EQ(StoredHostKey("rsa2", m_peer->port()), ExpectedCacheEntry(ServerKey()).text);
        } else {
            EXPECT_EQ(run.Run(), SCP_E_HOSTKEY_REFUSED);
            EXPECT_EQ(StoredHostKey("rsa2", m_peer->port()), kOldRsa);
        }
        // The question comes under the asking policy only: the host, a
        // changed key, and both fingerprints of it.
        const RecordedEvent* asked = Asked(run);
        ASSERT_EQ(asked != nullptr, c.policy == HOSTKEY_ASK && c.callback);
        if (asked) {
            EXPECT_EQ(asked->text, "127.0.0.1");
            EXPECT_EQ(asked->value, SCP_HOSTKEY_CHANGED);
            EXPECT_EQ(asked->detail.rfind("ssh-rsa 2048 ", 0), 0u) << asked->detail;
            EXPECT_NE(asked->detail.find(KeygenSha256(m_peer->hostKeyPath() + ".pub")), std::string::npos)
                << asked->detail;
        }
    }
    ExpectNoAuthentication();
    // The key the upload stored is the one the next session accepts at
    // once, and that session sends the password.
    UploadRun again = NewRun(0, HOSTKEY_REJECT, HOSTKEY_REJECT);
    EXPECT_EQ(again.Run(), 0);
}

TEST_F(ScpHostKeySshd, OnlyEd25519WhereRsaWasStoredStopsUnlessYes)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519"));
    StoreOldRsa();
    UploadRun no = NewRun(0, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ASK);
    EXPECT_EQ(no.Run(), SCP_E_HOSTKEY_REFUSED);
    ASSERT_NE(Asked(no), nullptr);
    EXPECT_EQ(Asked(no)->value, SCP_HOSTKEY_NEW_TYPE);
    EXPECT_EQ(Asked(no)->detail.rfind("ssh-ed25519 255 ", 0), 0u) << Asked(no)->detail;
    EXPECT_NE(Asked(no)->detail.find(KeygenSha256(m_peer->hostKeyPath() + ".pub")), std::string::npos);
    ExpectNoAuthentication();
    EXPECT_EQ(StoredHostKey("ssh-ed25519", m_peer->port()), "");

    UploadRun yes = NewRun(1, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ASK);
    ExpectPasswordWithheld(yes, "ssh-ed25519", "new-type");
    EXPECT_EQ(StoredHostKey("ssh-ed25519", m_peer->port()), ExpectedCacheEntry(ServerKey()).text);
    EXPECT_EQ(StoredHostKey("rsa2", m_peer->port()), kOldRsa);
    UploadRun again = NewRun(0, HOSTKEY_REJECT, HOSTKEY_REJECT);
    EXPECT_EQ(again.Run(), 0) << m_peer->logText();
}

TEST_F(ScpHostKeySshd, KnownHostsListedChangedAndRevokedKeys)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519"));
    const std::string listed = "[127.0.0.1]:" + std::to_string(m_peer->port()) + " ";
    std::ofstream(m_knownHosts) << listed << ServerKey() << "\n";
    UploadRun known = NewRun(0, HOSTKEY_ASK, HOSTKEY_ASK);
    ASSERT_EQ(known.Run(), 0) << m_peer->logText();
    EXPECT_EQ(Asked(known), nullptr);

    ASSERT_NE(NewKey(m_local.file("other"), "-t ed25519"), "");
    std::ofstream(m_knownHosts) << listed << PublicKeyPart(ReadWholeFile(m_local.file("other.pub"))) << "\n";
    UploadRun changed = NewRun(0, HOSTKEY_ASK, HOSTKEY_ASK);
    EXPECT_EQ(changed.Run(), SCP_E_HOSTKEY_REFUSED);
    ASSERT_NE(Asked(changed), nullptr);
    EXPECT_EQ(Asked(changed)->value, SCP_HOSTKEY_CHANGED);

    std::ofstream(m_knownHosts) << listed << ServerKey() << "\n@revoked * " << ServerKey() << "\n";
    const std::size_t logins = CountOccurrences(m_peer->logText(), "Accepted");
    UploadRun revoked = NewRun(1, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ACCEPT_AND_STORE);
    EXPECT_EQ(revoked.Run(), SCP_E_HOSTKEY_REFUSED);
    EXPECT_EQ(Asked(revoked), nullptr);
    EXPECT_EQ(CountOccurrences(m_peer->logText(), "Accepted"), logins);  // stopped before authentication
}

}  // namespace
