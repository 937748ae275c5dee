// Uploads to servers with today's defaults: a stock Debian sshd with each
// kind of host key and a stock Dropbear, over SFTP and through the remote
// scp sink; and every current algorithm negotiated alone against an sshd
// that offers nothing else.

#include "scp/scp_ssh.h"
#include "tests/integration/ssh2/peer_keys.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/test_helpers.h"

namespace {

enum { kKex = 0, kHostKey = 1, kCipherOut = 2, kCipherIn = 3, kMacOut = 4, kMacIn = 5, kCompOut = 6, kCompIn = 7 };

std::string Chosen(int which)
{
    const char* name = scp_session_last_chosen(which);
    return name ? name : "(none)";
}

// ---------------------------------------------------------------- stock servers

enum class Server { Sshd, Dropbear };

struct PeerCase {
    Server server;
    std::string hostKeyType;  // "rsa", "ecdsa", "ed25519"
    bool scpForm;
};

std::string PeerCaseName(const ::testing::TestParamInfo<PeerCase>& p)
{
    return std::string(p.param.server == Server::Sshd ? "Sshd_" : "Dropbear_") + p.param.hostKeyType +
           (p.param.scpForm ? "_Scp" : "_Sftp");
}

class StockServer : public CScpStockTest, public ::testing::WithParamInterface<PeerCase> {
protected:
    void SetUp() override
    {
        const PeerCase& c = GetParam();
        const bool sshd = c.server == Server::Sshd;
        StartStock(sshd ? EServerKind::StockSshd : EServerKind::StockDropbear, c.hostKeyType);
        if (!m_server || !m_server->running()) return;
        const std::string key = m_server->hostKeyPath();
        m_publicLine = sshd ? ReadWholeFile(key + ".pub")
                            : ShellOutput("/usr/bin/dropbearkey -y -f '" + key + "' | grep '^ssh-\\|^ecdsa-'");
    }

    std::string m_publicLine;
};

TEST_P(StockServer, UploadsWithCurrentAlgorithmsAndStoresTheHostKey)
{
    const PeerCase& c = GetParam();
    UploadRun run = PeerRun(m_port, m_local.file("modern.bin"), m_remote.path(), 30);
    run.options.use_scp = c.scpForm ? 1 : 0;
    ASSERT_TRUE(UploadsIntact(run, PatternBytes(300 * 1024 + 5, 11))) << Log();

    // What both stock servers agree with us: the first of our lists.
    EXPECT_EQ(Chosen(kKex), "curve25519-sha256");
    // Dropbear 2022.83 signs with RSA only under rsa-sha2-256 (and ssh-rsa).
    const std::string rsa = c.server == Server::Sshd ? "rsa-sha2-512" : "rsa-sha2-256";
    const std::string hostKeyAlg = c.hostKeyType == "ed25519" ? "ssh-ed25519"
                                   : c.hostKeyType == "ecdsa" ? "ecdsa-sha2-nistp256"
                                                              : rsa;
    EXPECT_EQ(Chosen(kHostKey), hostKeyAlg);
    if (c.server == Server::Sshd) {
        EXPECT_EQ(Chosen(kCipherOut), "aes256-gcm@openssh.com");
        EXPECT_EQ(Chosen(kCipherIn), "aes256-gcm@openssh.com");
        EXPECT_EQ(Chosen(kCompOut), "zlib@openssh.com");
        EXPECT_TRUE(scp_session_last_strict());
    } else {
        // Dropbear 2022.83 has no GCM; chacha20-poly1305 is its first
        // cipher that we list.
        EXPECT_EQ(Chosen(kCipherOut), "chacha20-poly1305@openssh.com");
        EXPECT_EQ(Chosen(kCipherIn), "chacha20-poly1305@openssh.com");
    }

    // The host key went into the store under its own type, in the text
    // form worked out from the server's public key file.
    const SCacheEntry expected = ExpectedCacheEntry(m_publicLine);
    EXPECT_EQ(StoredHostKey(expected.cacheType, m_port), expected.text) << m_publicLine;

    // A second upload finds it there and needs no question.
    UploadRun again = run;
    again.events.clear();
    again.options.new_host_key_policy = HOSTKEY_REJECT;
    again.options.changed_host_key_policy = HOSTKEY_REJECT;
    EXPECT_EQ(again.Run(), 0) << Log();
}

INSTANTIATE_TEST_SUITE_P(Peers, StockServer,
                         ::testing::Values(PeerCase{Server::Sshd, "ed25519", false}, PeerCase{Server::Sshd, "ed25519", true},
                                           PeerCase{Server::Sshd, "ecdsa", false}, PeerCase{Server::Sshd, "ecdsa", true},
                                           PeerCase{Server::Sshd, "rsa", false}, PeerCase{Server::Sshd, "rsa", true},
                                           PeerCase{Server::Dropbear, "ed25519", false},
                                           PeerCase{Server::Dropbear, "ed25519", true},
                                           PeerCase{Server::Dropbear, "ecdsa", false},
                                           PeerCase{Server::Dropbear, "rsa", true}),
                         PeerCaseName);

using SshdAlgorithms = CScpSshdTest;

TEST_F(SshdAlgorithms, AnOlderServerStillGetsWhatItGotBefore)
{
    // A server of an older installation offers only the older algorithms:
    // the first of our older names it lists is taken, as before.
    for (const char* hostKeyType : {"rsa", "dsa"}) {
        SshdOptions o;
        o.hostKeyType = hostKeyType;
        ASSERT_NO_FATAL_FAILURE(Start(o));
        UploadRun run = NewRun("old.bin");
        run.options.compression = 0;
        ASSERT_TRUE(UploadsIntact(run, "older\n")) << m_peer->logText();
        EXPECT_EQ(Chosen(kKex), "diffie-hellman-group1-sha1");
        EXPECT_EQ(Chosen(kHostKey), std::string(hostKeyType) == "rsa" ? "ssh-rsa" : "ssh-dss");
        EXPECT_EQ(Chosen(kCipherOut), "aes256-cbc");
        EXPECT_EQ(Chosen(kMacOut), "hmac-sha1");
        EXPECT_EQ(Chosen(kCompOut), "none");
        // Debian's sshd 9.2 has strict key exchange; it is used with the
        // older algorithms too.
        EXPECT_TRUE(scp_session_last_strict());
        const SCacheEntry expected = ExpectedCacheEntry(ReadWholeFile(m_peer->hostKeyPath() + ".pub"));
        EXPECT_EQ(StoredHostKey(expected.cacheType, m_peer->port()), expected.text);
    }
}

// ---------------------------------------------------------------- one algorithm at a time

class AlgorithmAlone : public CScpSshdTest, public ::testing::WithParamInterface<SAlgorithmAlone> {};

TEST_P(AlgorithmAlone, IsNegotiatedAndCarriesAnUpload)
{
    const SAlgorithmAlone& c = GetParam();
    SshdOptions o;
    o.legacyAlgorithms = false;
    o.extraConfig = c.config;
    o.hostKeyType = c.hostKeyType;
    ASSERT_NO_FATAL_FAILURE(Start(o));
    // Compressible data for zlib, of a few MiB; a smaller file of any bytes
    // for the others.
    const bool zlib = c.slot == kCompOut;
    std::string bytes;
    if (zlib) {
        for (int i = 0; bytes.size() < 3 * 1024 * 1024; ++i)
            bytes += "line " + std::to_string(i % 1000) + " of a log that repeats itself\n";
    } else {
        bytes = PatternBytes(70000, 5);
    }
    UploadRun run = NewRun("alone.bin");
    run.options.timeout_seconds = 60;
    run.options.compression = zlib ? 1 : 0;
    ASSERT_TRUE(UploadsIntact(run, bytes)) << m_peer->logText();
    EXPECT_EQ(Chosen(c.slot), c.name);
    // Both directions agree.
    if (c.slot >= kCipherOut) {
        EXPECT_EQ(Chosen(c.slot + 1), c.name);
    }
    if (!zlib) {
        EXPECT_EQ(Chosen(kCompOut), "none");
    }
}

INSTANTIATE_TEST_SUITE_P(Sshd, AlgorithmAlone, ::testing::ValuesIn(CurrentAlgorithmsAlone()), AlgorithmAloneName);

}  // namespace
