// Uploads through jump hosts against real sshd instances: a bastion that
// forwards to a second server, a chain of two, a bastion that refuses
// forwarding, a bastion whose key changed, and one that takes only a key of
// its own. The bastions' own logs (at sshd's debug level) show each
// forwarding they were asked for and each login.

#include "sshcore/hostkey_trust.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/integration/ssh2/peer_keys.h"

namespace {

bool LoggedIn(const SshdPeer& server) { return server.logText().find("Accepted") != std::string::npos; }
std::string JumpName(int port) { return "jump host 127.0.0.1 port " + std::to_string(port); }

class ScpJumpSshd : public CScpSshdTest {
protected:
    void SetUp() override { Start(); }  // m_peer: the host the uploads are for
    SshdPeer& AddBastion(bool forwarding = true, bool passwords = true)
    {
        m_bastions.push_back(NewBastion(forwarding, passwords));
        EXPECT_TRUE(m_bastions.back()->running()) << m_bastions.back()->logText();
        return *m_bastions.back();
    }
    // An upload of f.bin to the target through the given bastions, in order.
    UploadRun Through(const std::vector<SshdPeer*>& hops, int targetPort = 0)
    {
        UploadRun run = PeerRun(targetPort ? targetPort : m_peer->port(), m_local.file("f.bin"), m_remote.path());
        for (SshdPeer* hop : hops) {
            ScpJumpHost& jump = run.options.jumps[run.options.jump_count++ % kScpMaxJumpHosts];
            jump.host = "127.0.0.1";
            jump.port = hop->port();
            jump.user = SshdPeer::User();
            jump.password = m_jumpPassword.c_str();
        }
        return run;
    }

    std::string m_jumpPassword = SshdPeer::Password();
    std::vector<std::unique_ptr<SshdPeer>> m_bastions;
};

TEST_F(ScpJumpSshd, AChainOfTwoGoesThroughBothInOrderOverSftpAndScp)
{
    SshdPeer& first = AddBastion();
    SshdPeer& second = AddBastion();
    // More than the channels' windows: the relays must give them back both
    // ways, or this stalls until the time-out.
    UploadRun run = Through({&first, &second});
    EXPECT_TRUE(UploadsIntact(run, PatternBytes(3 * 1024 * 1024 + 17, 7))) << LastDetail() << first.logText();
    EXPECT_TRUE(ForwardedTo(first, second.port())) << first.logText();
    EXPECT_TRUE(ForwardedTo(second, m_peer->port())) << second.logText();
    EXPECT_FALSE(ForwardedTo(first, m_peer->port()));
    UploadRun scp = Through({&first, &second});
    scp.options.use_scp = 1;
    scp.localPath = m_local.file("g.bin");
    EXPECT_TRUE(UploadsIntact(scp, PatternBytes(200000, 3))) << LastDetail();
    // Each host's key was stored under its own port: a bastion's is not
    // taken for the target's or the other way round.
    const std::string bastionKey = StoredHostKey("rsa2", first.port());
    EXPECT_NE(bastionKey, "");
    EXPECT_NE(StoredHostKey("rsa2", m_peer->port()), "");
    EXPECT_NE(bastionKey, StoredHostKey("rsa2", m_peer->port()));

    // A third is refused before any host is contacted.
    UploadRun three = Through({&first, &second});
    three.options.jump_count = 3;
    WriteFileBytes(three.localPath, "x");
    const std::string firstLog = first.logText();
    EXPECT_EQ(three.Run(), SCP_E_UNSUPPORTED);
    EXPECT_NE(LastDetail().find("more jump hosts"), std::string::npos) << LastDetail();
    EXPECT_EQ(first.logText().find("Connection from", firstLog.size()), std::string::npos);
}

TEST_F(ScpJumpSshd, RefusalsNameTheJumpHost)
{
    WriteFileBytes(m_local.file("f.bin"), "bytes");
    SshdPeer& closed = AddBastion(false);
    UploadRun refused = Through({&closed});
    EXPECT_EQ(refused.Run(), SCP_E_CONNECT);
    EXPECT_NE(LastDetail().find(JumpName(closed.port()) + ": it refused to open a connection to 127.0.0.1 port " +
                                std::to_string(m_peer->port()) + ": administratively prohibited"),
              std::string::npos)
        << LastDetail();
    EXPECT_FALSE(LoggedIn(*m_peer));

    // A wrong password on the jump host is the jump host's failure.
    SshdPeer& open = AddBastion();
    const std::string openName = JumpName(open.port());
    m_jumpPassword = "not-the-password";
    UploadRun wrong = Through({&open});
    EXPECT_EQ(wrong.Run(), SCP_E_WRONG_PASSWORD);
    EXPECT_EQ(LastDetail().rfind(openName, 0), 0u) << LastDetail();
    EXPECT_FALSE(LoggedIn(*m_peer));

    // Nobody listens where the jump host is to connect.
    m_jumpPassword = SshdPeer::Password();
    const int nowhere = m_peer->port();
    m_peer.reset();
    UploadRun unreachable = Through({&open}, nowhere);
    EXPECT_EQ(unreachable.Run(), SCP_E_CONNECT);
    EXPECT_NE(LastDetail().find(openName + ": it refused to open a connection to 127.0.0.1 port " +
                                std::to_string(nowhere) + ": connect failed"),
              std::string::npos)
        << LastDetail();

    // Nobody listens at the jump host itself.
    const int gone = open.port();
    m_bastions.pop_back();
    UploadRun noJump = Through({}, nowhere);
    noJump.options.jump_count = 1;
    noJump.options.jumps[0] = ScpJumpHost{"127.0.0.1", gone, SshdPeer::User(), SshdPeer::Password(), "", "", 0};
    EXPECT_EQ(noJump.Run(), SCP_E_NETWORK);
    EXPECT_NE(LastDetail().find(JumpName(gone) + ": connect to host"), std::string::npos) << LastDetail();
}

TEST_F(ScpJumpSshd, AJumpHostWhoseKeyChangedIsRefusedBeforeAnyLogin)
{
    WriteFileBytes(m_local.file("f.bin"), "bytes");
    SshdPeer& bastion = AddBastion();
    // Another RSA key stored earlier for the bastion's host and port.
    sshcore::StoreHostKey("rsa2", static_cast<std::uint32_t>(bastion.port()), "127.0.0.1", "0x10001,0xc5c5c5c5");
    for (const std::int16_t policy : {std::int16_t{HOSTKEY_REJECT}, std::int16_t{HOSTKEY_ASK}}) {
        UploadRun run = Through({&bastion});
        run.hostKeyAnswer = 0;
        run.options.changed_host_key_policy = policy;
        EXPECT_EQ(run.Run(), SCP_E_HOSTKEY_REFUSED);
        EXPECT_EQ(LastDetail().rfind(JumpName(bastion.port()), 0), 0u) << LastDetail();
        // Asked about the bastion only when the policy asks, and answered no.
        int asked = 0;
        for (const RecordedEvent& e : run.events) {
            if (e.event != SCP_EVENT_HOSTKEY) continue;
            ++asked;
            EXPECT_EQ(e.text, "127.0.0.1");
            EXPECT_EQ(e.value, SCP_HOSTKEY_CHANGED);
        }
        EXPECT_EQ(asked, policy == HOSTKEY_ASK ? 1 : 0);
    }
    // No login was tried on the bastion, nothing reached the target.
    EXPECT_FALSE(LoggedIn(bastion)) << bastion.logText();
    EXPECT_EQ(bastion.logText().find("Failed"), std::string::npos);
    EXPECT_FALSE(LoggedIn(*m_peer));
    EXPECT_EQ(StoredHostKey("rsa2", bastion.port()), "0x10001,0xc5c5c5c5");
}

TEST_F(ScpJumpSshd, AHopLogsInWithItsOwnKeyFileAndNeverTheTargets)
{
    WriteFileBytes(m_local.file("f.bin"), "bytes");
    // A bastion that takes keys only, the target's among them: whatever of
    // the target's reaches it would let the upload in.
    SshdPeer& bastion = AddBastion(true, false);
    TempDir keys;
    const std::string targetKey = keys.file("target_key");
    const std::string hopKey = keys.file("hop_key");
    const std::string targetPrint = NewKey(targetKey, "-t ed25519", "", bastion.folder());
    const std::string hopPrint = NewKey(hopKey, "-t ed25519", "hop-phrase", bastion.folder());
    ASSERT_FALSE(targetPrint.empty());
    ASSERT_FALSE(hopPrint.empty());
    const std::string name = JumpName(bastion.port());

    // No ways of its own: refused, though the target's key and password
    // would have done.
    m_jumpPassword.clear();
    UploadRun bare = Through({&bastion});
    bare.options.key_file = targetKey.c_str();
    EXPECT_EQ(bare.Run(), SCP_E_AUTHENTICATE);
    EXPECT_EQ(LastDetail().rfind(name + ": ", 0), 0u) << LastDetail();
    EXPECT_EQ(bastion.logText().find("Accepted"), std::string::npos) << bastion.logText();
    EXPECT_FALSE(LoggedIn(*m_peer));

    // Its own key file with its passphrase lets it in.
    UploadRun own = Through({&bastion});
    own.options.key_file = targetKey.c_str();
    own.options.jumps[0].key_file = hopKey.c_str();
    own.options.jumps[0].key_passphrase = "hop-phrase";
    EXPECT_TRUE(UploadsIntact(own, PatternBytes(70000, 5))) << LastDetail() << bastion.logText();
    EXPECT_NE(bastion.logText().find("Accepted publickey for " + std::string(SshdPeer::User())), std::string::npos);
    EXPECT_NE(bastion.logText().find(hopPrint), std::string::npos) << bastion.logText();
    EXPECT_EQ(bastion.logText().find(targetPrint), std::string::npos) << bastion.logText();
    EXPECT_NE(m_peer->logText().find("Accepted password for " + std::string(SshdPeer::User())), std::string::npos);
}

}  // namespace
