// Uploads to servers with today's defaults: a stock Debian sshd with each
// kind of host key and a stock Dropbear, over SFTP and through the remote
// scp sink; and every current algorithm negotiated alone against an sshd
// that offers nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "scp/scp_ssh.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/dropbear_peer.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

enum { kKex = 0, kHostKey = 1, kCipherOut = 2, kCipherIn = 3, kMacOut = 4, kMacIn = 5, kCompOut = 6, kCompIn = 7 };

std::string Chosen(int which)
{
    const char* name = scp_session_last_chosen(which);
    return name ? name : "(none)";
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

// Hexadecimal without leading zero digits, as the store writes numbers.
std::string Number(const std::string& bytes)
{
    std::string hex = Hex(bytes);
    const std::size_t first = hex.find_first_not_of('0');
    return first == std::string::npos ? "0" : hex.substr(first);
}

// The key blob of an OpenSSH public-key line ("type base64 comment").
std::string BlobOfLine(const std::string& line)
{
    const std::size_t a = line.find(' ');
    if (a == std::string::npos) return "";
    std::size_t b = line.find_first_of(" \n", a + 1);
    if (b == std::string::npos) b = line.size();
    const std::string b64 = line.substr(a + 1, b - a - 1);
    std::string raw(b64.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(raw.data()),
                                  reinterpret_cast<const unsigned char*>(b64.data()), static_cast<int>(b64.size()));
    if (n < 0) return "";
    std::size_t len = static_cast<std::size_t>(n);
    if (!b64.empty() && b64.back() == '=') --len;
    if (b64.size() > 1 && b64[b64.size() - 2] == '=') --len;
    raw.resize(len);
    return raw;
}

// The SSH strings of a blob, in order.
std::vector<std::string> Strings(const std::string& blob)
{
    std::vector<std::string> out;
    std::size_t off = 0;
    while (off + 4 <= blob.size()) {
        std::size_t n = 0;
        for (std::size_t i = 0; i < 4; ++i) n = n << 8 | static_cast<unsigned char>(blob[off + i]);
        if (off + 4 + n > blob.size()) break;
        out.push_back(blob.substr(off + 4, n));
        off += 4 + n;
    }
    return out;
}

// The value name and data the store must hold for a host key blob, worked
// out here from the blob on its own.
void ExpectedStoreEntry(const std::string& blob, int port, std::string* name, std::string* data)
{
    const auto s = Strings(blob);
    ASSERT_GE(s.size(), 2u);
    const std::string where = "@" + std::to_string(port) + ":127.0.0.1";
    if (s[0] == "ssh-ed25519") {
        *name = "ssh-ed25519" + where;
        *data = "0x" + Hex(s[1]);
    } else if (s[0] == "ecdsa-sha2-nistp256") {
        ASSERT_EQ(s.size(), 3u);
        ASSERT_EQ(s[2].size(), 65u);
        *name = "ecdsa-sha2-nistp256" + where;
        *data = "nistp256,0x" + Number(s[2].substr(1, 32)) + ",0x" + Number(s[2].substr(33, 32));
    } else {
        ASSERT_EQ(s[0], "ssh-rsa");
        ASSERT_EQ(s.size(), 3u);
        *name = "rsa2" + where;
        *data = "0x" + Number(s[1]) + ",0x" + Number(s[2]);
    }
}

std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* f = ::popen(command.c_str(), "r")) {
        char chunk[512];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
        ::pclose(f);
    }
    return out;
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

class StockServer : public ::testing::TestWithParam<PeerCase> {
protected:
    void SetUp() override
    {
        std::string why;
        const PeerCase& c = GetParam();
        if (c.server == Server::Sshd) {
            if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
            SshdOptions o;
            o.legacyAlgorithms = false;
            o.hostKeyType = c.hostKeyType;
            m_sshd = std::make_unique<SshdPeer>(o);
            ASSERT_TRUE(m_sshd->running()) << m_sshd->logText();
            m_port = m_sshd->port();
            m_publicLine = ReadWholeFile(m_sshd->hostKeyPath() + ".pub");
        } else {
            if (!DropbearPeer::Available(&why)) FDX_PEER_MISSING() << why;
            DropbearOptions o;
            o.hostKeyType = c.hostKeyType;
            m_dropbear = std::make_unique<DropbearPeer>(o);
            ASSERT_TRUE(m_dropbear->running()) << m_dropbear->logText();
            m_port = m_dropbear->port();
            m_publicLine = CommandOutput("/usr/bin/dropbearkey -y -f '" + m_dropbear->hostKeyPath() + "' | grep '^ssh-\\|^ecdsa-'");
        }
        ASSERT_FALSE(m_remote.path().empty());
    }

    std::string Log() const { return m_sshd ? m_sshd->logText() : m_dropbear->logText(); }

    TempRegistry m_registry;
    TempDir m_local;
    RemoteDir m_remote;
    std::unique_ptr<SshdPeer> m_sshd;
    std::unique_ptr<DropbearPeer> m_dropbear;
    int m_port = 0;
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
    std::string name, data;
    ExpectedStoreEntry(BlobOfLine(m_publicLine), m_port, &name, &data);
    EXPECT_EQ(StoredHostKey(name), data) << m_publicLine;

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

TEST(OlderServer, StillGetsWhatItGotBefore)
{
    // A server of an older installation offers only the older algorithms:
    // the first of our older names it lists is taken, as before.
    std::string why;
    if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
    for (const char* hostKeyType : {"rsa", "dsa"}) {
        SshdOptions o;
        o.hostKeyType = hostKeyType;
        SshdPeer peer(o);
        ASSERT_TRUE(peer.running()) << peer.logText();
        TempRegistry registry;
        TempDir local;
        RemoteDir remote;
        UploadRun run = PeerRun(peer.port(), local.file("old.bin"), remote.path());
        run.options.compression = 0;
        ASSERT_TRUE(UploadsIntact(run, "older\n")) << peer.logText();
        EXPECT_EQ(Chosen(kKex), "diffie-hellman-group1-sha1");
        EXPECT_EQ(Chosen(kHostKey), std::string(hostKeyType) == "rsa" ? "ssh-rsa" : "ssh-dss");
        EXPECT_EQ(Chosen(kCipherOut), "aes256-cbc");
        EXPECT_EQ(Chosen(kMacOut), "hmac-sha1");
        EXPECT_EQ(Chosen(kCompOut), "none");
        // Debian's sshd 9.2 has strict key exchange; it is used with the
        // older algorithms too.
        EXPECT_TRUE(scp_session_last_strict());
    }
}

// ---------------------------------------------------------------- one algorithm at a time

struct AlgorithmCase {
    const char* name;
    int which;                      // the negotiated slot to check
    std::vector<std::string> lines;  // sshd configuration
    const char* hostKeyType;
};

std::vector<AlgorithmCase> AlgorithmCases()
{
    std::vector<AlgorithmCase> cases;
    for (const char* kex : {"curve25519-sha256", "curve25519-sha256@libssh.org", "ecdh-sha2-nistp256",
                            "diffie-hellman-group14-sha256", "diffie-hellman-group16-sha512",
                            "diffie-hellman-group-exchange-sha256"})
        cases.push_back({kex, kKex, {std::string("KexAlgorithms ") + kex}, "rsa"});
    cases.push_back({"ssh-ed25519", kHostKey, {"HostKeyAlgorithms ssh-ed25519"}, "ed25519"});
    cases.push_back({"ecdsa-sha2-nistp256", kHostKey, {"HostKeyAlgorithms ecdsa-sha2-nistp256"}, "ecdsa"});
    cases.push_back({"rsa-sha2-512", kHostKey, {"HostKeyAlgorithms rsa-sha2-512"}, "rsa"});
    cases.push_back({"rsa-sha2-256", kHostKey, {"HostKeyAlgorithms rsa-sha2-256"}, "rsa"});
    for (const char* cipher : {"aes256-gcm@openssh.com", "aes128-gcm@openssh.com", "chacha20-poly1305@openssh.com",
                               "aes256-ctr", "aes192-ctr", "aes128-ctr"})
        cases.push_back({cipher, kCipherOut, {std::string("Ciphers ") + cipher}, "ed25519"});
    for (const char* mac : {"hmac-sha2-256-etm@openssh.com", "hmac-sha2-512-etm@openssh.com", "hmac-sha2-256",
                            "hmac-sha2-512"})
        cases.push_back({mac, kMacOut, {"Ciphers aes128-ctr", std::string("MACs ") + mac}, "ed25519"});
    cases.push_back({"zlib@openssh.com", kCompOut, {}, "ed25519"});
    return cases;
}

class AlgorithmAlone : public ::testing::TestWithParam<AlgorithmCase> {};

TEST_P(AlgorithmAlone, IsNegotiatedAndCarriesAnUpload)
{
    std::string why;
    if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
    const AlgorithmCase& c = GetParam();
    SshdOptions o;
    o.legacyAlgorithms = false;
    o.extraConfig = c.lines;
    o.hostKeyType = c.hostKeyType;
    SshdPeer peer(o);
    ASSERT_TRUE(peer.running()) << peer.logText();
    TempRegistry registry;
    TempDir local;
    RemoteDir remote;
    // Compressible data for zlib, of a few MiB; a smaller file of any bytes
    // for the others.
    const bool zlib = c.which == kCompOut;
    std::string bytes;
    if (zlib) {
        for (int i = 0; bytes.size() < 3 * 1024 * 1024; ++i)
            bytes += "line " + std::to_string(i % 1000) + " of a log that repeats itself\n";
    } else {
        bytes = PatternBytes(70000, 5);
    }
    UploadRun run = PeerRun(peer.port(), local.file("alone.bin"), remote.path(), 60);
    run.options.compression = zlib ? 1 : 0;
    ASSERT_TRUE(UploadsIntact(run, bytes)) << peer.logText();
    EXPECT_EQ(Chosen(c.which), c.name);
    // Both directions agree.
    if (c.which == kCipherOut || c.which == kMacOut || c.which == kCompOut) {
        EXPECT_EQ(Chosen(c.which + 1), c.name);
    }
    if (!zlib) {
        EXPECT_EQ(Chosen(kCompOut), "none");
    }
}

INSTANTIATE_TEST_SUITE_P(Sshd, AlgorithmAlone, ::testing::ValuesIn(AlgorithmCases()),
                         [](const ::testing::TestParamInfo<AlgorithmCase>& p) {
                             std::string name = p.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

}  // namespace
