// Uploads through jump hosts against real sshd instances: a bastion that
// forwards to a second server, a chain of two, a bastion that refuses
// forwarding, a bastion whose key changed, and one that takes only a key of
// its own. The bastions' own logs (at sshd's debug level) show each
// forwarding they were asked for and each login.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sshcore/hostkey_trust.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

std::string LastDetail()
{
    char text[600];
    scp_last_error_detail(text, sizeof text);
    return text;
}

bool ForwardedTo(const SshdPeer& bastion, int port)
{
    return bastion.logText().find("target 127.0.0.1 port " + std::to_string(port)) != std::string::npos;
}

bool LoggedIn(const SshdPeer& server) { return server.logText().find("Accepted") != std::string::npos; }

// A new Ed25519 key file (with a passphrase when one is given), listed in
// the server's authorized keys when one is given; its fingerprint as sshd
// logs it ("SHA256:...").
std::string MakeKey(const std::string& path, const std::string& passphrase, const SshdPeer* server)
{
    if (!peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-C", "", "-N", passphrase, "-t", "ed25519", "-f", path}))
        return {};
    if (server != nullptr) {
        if (std::FILE* out = std::fopen((server->folder() + "/authorized_keys").c_str(), "a")) {
            std::fputs(peer::ReadWholeFile(path + ".pub").c_str(), out);
            std::fclose(out);
        }
    }
    std::string text;
    if (std::FILE* p = ::popen(("/usr/bin/ssh-keygen -l -f " + path + ".pub").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) text += buffer;
        ::pclose(p);
    }
    const std::size_t at = text.find("SHA256:");
    return at == std::string::npos ? std::string() : text.substr(at, text.find(' ', at) - at);
}

class ScpJumpSshd : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        m_target = std::make_unique<SshdPeer>();
        ASSERT_TRUE(m_target->running()) << m_target->logText();
        ASSERT_FALSE(m_remote.path().empty());
    }
    SshdPeer& AddBastion(bool forwarding = true, bool passwords = true)
    {
        SshdOptions options;
        options.passwordLogins = passwords;
        options.extraConfig = {std::string("AllowTcpForwarding ") + (forwarding ? "yes" : "no")};
        options.logLevel = "DEBUG";
        m_bastions.push_back(std::make_unique<SshdPeer>(options));
        EXPECT_TRUE(m_bastions.back()->running()) << m_bastions.back()->logText();
        return *m_bastions.back();
    }
    // An upload of f.bin to the target through the given bastions, in order.
    UploadRun Through(const std::vector<SshdPeer*>& hops, int targetPort = 0)
    {
        UploadRun run = PeerRun(targetPort ? targetPort : m_target->port(), m_local.file("f.bin"), m_remote.path());
        for (SshdPeer* hop : hops) {
            ScpJumpHost& jump = run.options.jumps[run.options.jump_count++ % kScpMaxJumpHosts];
            jump.host = "127.0.0.1";
            jump.port = hop->port();
            jump.user = SshdPeer::User();
            jump.password = m_jumpPassword.c_str();
        }
        return run;
    }

    TempRegistry m_registry;
    TempDir m_local;
    RemoteDir m_remote;
    std::string m_jumpPassword = SshdPeer::Password();
    std::unique_ptr<SshdPeer> m_target;
    std::vector<std::unique_ptr<SshdPeer>> m_bastions;
};

TEST_F(ScpJumpSshd, UploadsThroughTheBastionIntactOverSftpAndScp)
{
    SshdPeer& bastion = AddBastion();
    // More than the channels' windows: the relay must give them back both
    // ways, or this stalls until the time-out.
    const std::string bytes = PatternBytes(3 * 1024 * 1024 + 17, 7);
    UploadRun sftp = Through({&bastion});
    EXPECT_TRUE(UploadsIntact(sftp, bytes)) << LastDetail() << bastion.logText();
    EXPECT_TRUE(ForwardedTo(bastion, m_target->port())) << bastion.logText();

    UploadRun scp = Through({&bastion});
    scp.options.use_scp = 1;
    scp.localPath = m_local.file("g.bin");
    EXPECT_TRUE(UploadsIntact(scp, PatternBytes(200000, 3))) << LastDetail();
    // Each host's key was stored under its own port: the bastion's is not
    // taken for the target's or the other way round.
    const std::string bastionKey = StoredHostKey("rsa2@" + std::to_string(bastion.port()) + ":127.0.0.1");
    const std::string targetKey = StoredHostKey("rsa2@" + std::to_string(m_target->port()) + ":127.0.0.1");
    EXPECT_NE(bastionKey, "(missing)");
    EXPECT_NE(targetKey, "(missing)");
    EXPECT_NE(bastionKey, targetKey);
}

TEST_F(ScpJumpSshd, AChainOfTwoGoesThroughBothInOrder)
{
    SshdPeer& first = AddBastion();
    SshdPeer& second = AddBastion();
    UploadRun run = Through({&first, &second});
    EXPECT_TRUE(UploadsIntact(run, PatternBytes(1500000, 11))) << LastDetail();
    EXPECT_TRUE(ForwardedTo(first, second.port())) << first.logText();
    EXPECT_TRUE(ForwardedTo(second, m_target->port())) << second.logText();
    EXPECT_FALSE(ForwardedTo(first, m_target->port()));

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
    const std::string closedName = "jump host 127.0.0.1 port " + std::to_string(closed.port());
    UploadRun refused = Through({&closed});
    EXPECT_EQ(refused.Run(), SCP_E_CONNECT);
    EXPECT_NE(LastDetail().find(closedName + ": it refused to open a connection to 127.0.0.1 port " +
                                std::to_string(m_target->port()) + ": administratively prohibited"),
              std::string::npos)
        << LastDetail();
    EXPECT_FALSE(LoggedIn(*m_target));

    // A wrong password on the jump host is the jump host's failure.
    SshdPeer& open = AddBastion();
    const std::string openName = "jump host 127.0.0.1 port " + std::to_string(open.port());
    m_jumpPassword = "not-the-password";
    UploadRun wrong = Through({&open});
    EXPECT_EQ(wrong.Run(), SCP_E_WRONG_PASSWORD);
    EXPECT_EQ(LastDetail().rfind(openName, 0), 0u) << LastDetail();
    EXPECT_FALSE(LoggedIn(*m_target));

    // Nobody listens where the jump host is to connect.
    m_jumpPassword = SshdPeer::Password();
    const int nowhere = m_target->port();
    m_target.reset();
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
    EXPECT_NE(LastDetail().find("jump host 127.0.0.1 port " + std::to_string(gone) + ": connect to host"),
              std::string::npos)
        << LastDetail();
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
        EXPECT_EQ(LastDetail().rfind("jump host 127.0.0.1 port " + std::to_string(bastion.port()), 0), 0u)
            << LastDetail();
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
    EXPECT_FALSE(LoggedIn(*m_target));
    EXPECT_EQ(StoredHostKey("rsa2@" + std::to_string(bastion.port()) + ":127.0.0.1"), "0x10001,0xc5c5c5c5");
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
    const std::string targetPrint = MakeKey(targetKey, "", &bastion);
    const std::string hopPrint = MakeKey(hopKey, "hop-phrase", &bastion);
    ASSERT_FALSE(targetPrint.empty());
    ASSERT_FALSE(hopPrint.empty());
    const std::string name = "jump host 127.0.0.1 port " + std::to_string(bastion.port());

    // No ways of its own: refused, though the target's key and password
    // would have done.
    m_jumpPassword.clear();
    UploadRun bare = Through({&bastion});
    bare.options.key_file = targetKey.c_str();
    EXPECT_EQ(bare.Run(), SCP_E_AUTHENTICATE);
    EXPECT_EQ(LastDetail().rfind(name + ": ", 0), 0u) << LastDetail();
    EXPECT_EQ(bastion.logText().find("Accepted"), std::string::npos) << bastion.logText();
    EXPECT_FALSE(LoggedIn(*m_target));

    // Its own key file with its passphrase lets it in.
    UploadRun own = Through({&bastion});
    own.options.key_file = targetKey.c_str();
    own.options.jumps[0].key_file = hopKey.c_str();
    own.options.jumps[0].key_passphrase = "hop-phrase";
    EXPECT_TRUE(UploadsIntact(own, PatternBytes(70000, 5))) << LastDetail() << bastion.logText();
    EXPECT_NE(bastion.logText().find("Accepted publickey for " + std::string(SshdPeer::User())), std::string::npos);
    EXPECT_NE(bastion.logText().find(hopPrint), std::string::npos) << bastion.logText();
    EXPECT_EQ(bastion.logText().find(targetPrint), std::string::npos) << bastion.logText();
    EXPECT_NE(m_target->logText().find("Accepted password for " + std::string(SshdPeer::User())), std::string::npos);
}

}  // namespace
