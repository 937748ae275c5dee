// Host keys against real sshd instances: a changed key and a key of a new
// type stop the login before any authentication request unless the answer
// is yes; the known type is offered first; fingerprints match ssh-keygen's.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "ssh2/algorithms.h"
#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";

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

int Login(int port, SAnswers* answers, std::uint32_t absentPolicy = HKP_STORE)
{
    const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 20, answers ? Answer : nullptr, answers);
    if (rc != 0) return rc;
    return CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, absentPolicy, HKP_ASK);
}

std::string Output(const std::string& command)
{
    std::string text;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) text += buffer;
    return text;
}

// "SHA256:..." of a public key file, as ssh-keygen -l prints it.
std::string KeygenSha256(const std::string& pub)
{
    const std::string line = Output("/usr/bin/ssh-keygen -l -E sha256 -f '" + pub + "'");
    const std::size_t start = line.find("SHA256:");
    return start == std::string::npos ? "" : line.substr(start, line.find(' ', start) - start);
}

// The cache's text of a public key file, through the engine's own key class.
std::string CacheText(const std::string& pub)
{
    const std::string text = ReadWholeFile(pub);
    const std::size_t space = text.find(' ');
    const std::string type = text.substr(0, space);
    const std::string b64 = text.substr(space + 1, text.find(' ', space + 1) - space - 1);
    std::vector<std::uint8_t> blob(b64.size());
    const int n = EVP_DecodeBlock(blob.data(), reinterpret_cast<const unsigned char*>(b64.data()),
                                  static_cast<int>(b64.size()));
    if (n <= 0) return "";
    std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t i = b64.size(); i > 0 && b64[i - 1] == '='; --i) --size;
    blob.resize(size);
    auto key = CSshHostKey::Create(type);
    return key && key->SetKey(blob) ? key->KeyString() : "";
}

std::u16string Entry(const std::string& cacheType, int port)
{
    return AnsiToWide(cacheType + "@" + std::to_string(port) + ":127.0.0.1");
}

std::string Stored(const std::string& cacheType, int port)
{
    std::u16string text;
    return RegReadString(HKEY_CURRENT_USER, kHostKeys, Entry(cacheType, port), text) ? WideToAnsi(text) : "";
}

class HostKeySshdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        // A key of the same host seen before, which the server no longer has.
        ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-N", "", "-t", "rsa", "-b", "2048", "-f",
                                      keys.file("old_rsa")}));
        ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-N", "", "-t", "ed25519", "-f",
                                      keys.file("extra_ed25519")}));
        oldRsa = CacheText(keys.file("old_rsa.pub"));
        ASSERT_FALSE(oldRsa.empty());
    }
    void Start(const std::string& keyType, std::vector<std::string> config = {})
    {
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.hostKeyType = keyType;
        options.extraConfig = std::move(config);
        server = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(server->running()) << server->logText();
    }
    // The server never saw an authentication request.
    void ExpectNoAuthentication() const
    {
        const std::string log = server->logText();
        EXPECT_EQ(log.find("Accepted"), std::string::npos) << log;
        EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
    }

    TempDir keys;
    std::string oldRsa;
    std::unique_ptr<SshdPeer> server;
    CSessionEnvironment env;  // last: disconnects before the server stops
};

TEST_F(HostKeySshdTest, AChangedRsaKeyStopsBeforeAuthenticationUnlessYes)
{
    ASSERT_NO_FATAL_FAILURE(Start("rsa"));
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, Entry("rsa2", server->port()), AnsiToWide(oldRsa));
    SAnswers no;
    for (SAnswers* answers : {static_cast<SAnswers*>(nullptr), &no}) {
        // No one to ask, then a No.
        EXPECT_EQ(Login(server->port(), answers), SSH_HOSTKEY_REFUSED);
        CSSH2::Disconnect();
        if (answers) {
            EXPECT_EQ(answers->events, std::vector<int>{HKE_CHANGED});
            // Both fingerprints, as ssh-keygen prints them.
            EXPECT_NE(answers->fingerprint.find(KeygenSha256(server->hostKeyPath() + ".pub")), std::string::npos)
                << answers->fingerprint;
            ASSERT_EQ(answers->report.knownFingerprints.size(), 1u);
            EXPECT_EQ(answers->report.knownFingerprints[0], "rsa2 " + KeygenSha256(keys.file("old_rsa.pub")));
        }
    }
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("rsa2", server->port()), oldRsa);

    // A yes stores the key; that connection sends no password.
    SAnswers yes;
    yes.answer = 1;
    ASSERT_EQ(Login(server->port(), &yes), SSH_AUTH_FAILED) << server->logText();
    CSSH2::Disconnect();
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("rsa2", server->port()), CacheText(server->hostKeyPath() + ".pub"));
    // Trusted now: the next login asks nothing and logs in.
    SAnswers again;
    ASSERT_EQ(Login(server->port(), &again), 0);
    CSSH2::Disconnect();
    EXPECT_TRUE(again.events.empty());
}

TEST_F(HostKeySshdTest, OnlyEd25519WhereRsaWasKnownIsANewTypeThatStops)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519"));
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, Entry("rsa2", server->port()), AnsiToWide(oldRsa));
    SAnswers no;
    EXPECT_EQ(Login(server->port(), &no), SSH_HOSTKEY_REFUSED);
    CSSH2::Disconnect();
    EXPECT_EQ(no.events, std::vector<int>{HKE_NEW_TYPE});
    EXPECT_EQ(no.report.keyType, "ssh-ed25519");
    EXPECT_EQ(no.report.sha256, KeygenSha256(server->hostKeyPath() + ".pub"));
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("ssh-ed25519", server->port()), "");

    SAnswers yes;
    yes.answer = 1;
    ASSERT_EQ(Login(server->port(), &yes), SSH_AUTH_FAILED) << server->logText();
    CSSH2::Disconnect();
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("ssh-ed25519", server->port()), CacheText(server->hostKeyPath() + ".pub"));
    EXPECT_EQ(Stored("rsa2", server->port()), oldRsa);  // the old type's key stays
    SAnswers again;
    ASSERT_EQ(Login(server->port(), &again), 0) << server->logText();
    CSSH2::Disconnect();
    EXPECT_TRUE(again.events.empty());
}

TEST_F(HostKeySshdTest, TheKnownKeyTypeIsOfferedFirst)
{
    // The server has an RSA and an Ed25519 key; Ed25519 comes first in the
    // offer unless the host's RSA key is what the cache holds.
    ASSERT_NO_FATAL_FAILURE(Start("rsa", {"HostKey " + keys.file("extra_ed25519")}));
    SAnswers first;
    ASSERT_EQ(Login(server->port(), &first, HKP_STORE_AND_TELL), 0) << server->logText();
    EXPECT_EQ(CSSH2::Current()->Agreed()[1], "ssh-ed25519");
    CSSH2::Disconnect();
    // A first contact is told (and stored) with ssh-keygen's fingerprint.
    EXPECT_EQ(first.events, std::vector<int>{HKE_STORED});
    EXPECT_NE(first.fingerprint.find(KeygenSha256(keys.file("extra_ed25519.pub"))), std::string::npos);

    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kHostKeys, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        RegKeyPtr closer(key);
        ASSERT_EQ(RegDeleteValue(key, Entry("ssh-ed25519", server->port())), ERROR_SUCCESS);
    }
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, Entry("rsa2", server->port()),
                   AnsiToWide(CacheText(server->hostKeyPath() + ".pub")));
    SAnswers known;
    ASSERT_EQ(Login(server->port(), &known), 0) << server->logText();
    EXPECT_EQ(CSSH2::Current()->Agreed()[1], "rsa-sha2-512");
    CSSH2::Disconnect();
    EXPECT_TRUE(known.events.empty());
}

TEST_F(HostKeySshdTest, StrictFirstContactAndADamagedCacheAsk)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519"));
    SAnswers strict;
    EXPECT_EQ(Login(server->port(), &strict, HKP_ASK), SSH_HOSTKEY_REFUSED);
    CSSH2::Disconnect();
    EXPECT_EQ(strict.events, std::vector<int>{HKE_ABSENT});
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("ssh-ed25519", server->port()), "");

    // A damaged hive was kept aside: a key never seen is not stored silently,
    // even where a first contact would be.
    const std::string copy = RegistryFolder() + "/HKEY_CURRENT_USER.reg.damaged";
    ASSERT_TRUE(peer::RunQuietly({"/usr/bin/touch", copy}));
    SAnswers damaged;
    EXPECT_EQ(Login(server->port(), &damaged, HKP_STORE), SSH_HOSTKEY_REFUSED);
    CSSH2::Disconnect();
    EXPECT_EQ(damaged.events, std::vector<int>{HKE_UNVERIFIABLE});
    EXPECT_EQ(damaged.report.damagedCopy, copy);
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("ssh-ed25519", server->port()), "");
}

}  // namespace
