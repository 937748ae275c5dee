// The host-key trust rule both engines share: the decision as a table, the
// cache it reads (names, legacy names, a damaged cache), the offer order,
// fingerprints and the way back from a cached text to a key blob.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "ssh2/algorithms.h"
#include "sshcore/hostkey_trust.h"
#include "tests/support/temp_dir.h"

namespace {

using sshcore::EHostKeyTrust;
using sshcore::SKnownHostKey;
using Bytes = std::vector<std::uint8_t>;

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";

struct SDecisionCase {
    const char* label;
    std::vector<SKnownHostKey> known;
    bool damaged;
    EHostKeyTrust expected;
};

TEST(HostKeyTrust, DecisionTable)
{
    const std::vector<SDecisionCase> cases = {
        {"nothing known", {}, false, EHostKeyTrust::FirstContact},
        {"nothing known, cache damaged", {}, true, EHostKeyTrust::Unverifiable},
        {"same key", {{"rsa2", "0x23,0xab"}}, false, EHostKeyTrust::Match},
        {"same key, cache damaged", {{"rsa2", "0x23,0xab"}}, true, EHostKeyTrust::Match},
        {"another key of the type", {{"rsa2", "0x23,0xac"}}, false, EHostKeyTrust::Changed},
        {"a prefix of the key", {{"rsa2", "0x23,0xa"}}, false, EHostKeyTrust::Changed},
        {"a longer key", {{"rsa2", "0x23,0xabc"}}, false, EHostKeyTrust::Changed},
        {"only another type", {{"ssh-ed25519", "0x00"}}, false, EHostKeyTrust::NewType},
        {"only another type, damaged", {{"dss", "0x1,0x2,0x3,0x4"}}, true, EHostKeyTrust::NewType},
        {"this type among others", {{"ssh-ed25519", "0x00"}, {"rsa2", "0x23,0xab"}}, false, EHostKeyTrust::Match},
        {"changed among others", {{"ssh-ed25519", "0x00"}, {"rsa2", "0x3,0xab"}}, false, EHostKeyTrust::Changed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const EHostKeyTrust trust = sshcore::DecideHostKeyTrust("rsa2", "0x23,0xab", c.known, c.damaged);
        EXPECT_EQ(trust, c.expected);
        // Only a match and an undamaged first contact go on by themselves.
        EXPECT_EQ(sshcore::NeedsExplicitYes(trust),
                  c.expected != EHostKeyTrust::Match && c.expected != EHostKeyTrust::FirstContact);
    }
}

TEST(HostKeyTrust, CacheTypesAndOfferOrder)
{
    EXPECT_EQ(sshcore::HostKeyCacheType("rsa-sha2-512"), "rsa2");
    EXPECT_EQ(sshcore::HostKeyCacheType("rsa-sha2-256"), "rsa2");
    EXPECT_EQ(sshcore::HostKeyCacheType("ssh-rsa"), "rsa2");
    EXPECT_EQ(sshcore::HostKeyCacheType("ssh-dss"), "dss");
    EXPECT_EQ(sshcore::HostKeyCacheType("x509v3-sign-rsa"), "");
    // Every algorithm this client offers has a cache type the rule knows.
    for (const std::string& name : CSshHostKey::Names()) {
        const std::string type = sshcore::HostKeyCacheType(name);
        EXPECT_EQ(type, CSshHostKey::Create(name)->CacheType()) << name;
    }

    const std::vector<std::string> offer = CSshHostKey::Names();
    EXPECT_EQ(sshcore::OrderHostKeyOffer(offer, {}), offer);
    EXPECT_EQ(sshcore::OrderHostKeyOffer(offer, {{"rsa2", "x"}}),
              (std::vector<std::string>{"rsa-sha2-512", "rsa-sha2-256", "ssh-rsa", "ssh-ed25519", "ecdsa-sha2-nistp256",
                                        "ssh-dss"}));
    EXPECT_EQ(sshcore::OrderHostKeyOffer(offer, {{"ecdsa-sha2-nistp256", "x"}, {"dss", "y"}}),
              (std::vector<std::string>{"ecdsa-sha2-nistp256", "ssh-dss", "ssh-ed25519", "rsa-sha2-512", "rsa-sha2-256",
                                        "ssh-rsa"}));
}

TEST(HostKeyTrust, TheCacheAsBothEnginesKeepIt)
{
    TempRegistry registry;
    const auto first = sshcore::CheckHostKeyTrust("rsa2", "0x23,0xab", 2222, "srv");
    EXPECT_EQ(first.trust, EHostKeyTrust::FirstContact);
    EXPECT_TRUE(first.known.empty());
    EXPECT_TRUE(first.damagedCopy.empty());

    ASSERT_TRUE(sshcore::StoreHostKey("rsa2", 2222, "srv", "0x23,0xab"));
    std::u16string stored;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, u"rsa2@2222:srv", stored));
    EXPECT_EQ(stored, u"0x23,0xab");

    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x23,0xab", 2222, "srv").trust, EHostKeyTrust::Match);
    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x23,0xac", 2222, "srv").trust, EHostKeyTrust::Changed);
    const auto newType = sshcore::CheckHostKeyTrust("ssh-ed25519", "0x00", 2222, "srv");
    EXPECT_EQ(newType.trust, EHostKeyTrust::NewType);
    ASSERT_EQ(newType.known.size(), 1u);
    EXPECT_EQ(newType.known[0].cacheType, "rsa2");
    // Other ports and hosts are other entries.
    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x23,0xac", 2223, "srv").trust, EHostKeyTrust::FirstContact);
    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x23,0xac", 2222, "srv2").trust, EHostKeyTrust::FirstContact);

    // A value that is not text still counts as a key that is known.
    RegWriteDword(HKEY_CURRENT_USER, kHostKeys, u"rsa2@22:n", 5);
    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x1", 22, "n").trust, EHostKeyTrust::Changed);

    // Names escape what the registry or a shell could misread; a key kept
    // under the plain name of an older version is still found.
    EXPECT_EQ(sshcore::HostKeyValueName("dss", 2222, ".a b\\c*d?e%f\x01g\x7f"),
              "dss@2222:%2Ea%20b%5Cc%2Ad%3Fe%25f%01g%7F");
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, u"rsa2@22:fe80::1%eth0", u"0x3,0x5");
    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x3,0x5", 22, "fe80::1%eth0").trust, EHostKeyTrust::Match);
    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x3,0x7", 22, "fe80::1%eth0").trust, EHostKeyTrust::Changed);

    // While a damaged copy of the user's hive exists, a key never seen is
    // not a first contact; known keys are judged as always.
    std::ofstream(registry.path() + "/HKEY_CURRENT_USER.reg.damaged") << "damaged";
    const auto damaged = sshcore::CheckHostKeyTrust("rsa2", "0x23,0xab", 2222, "other");
    EXPECT_EQ(damaged.trust, EHostKeyTrust::Unverifiable);
    EXPECT_EQ(damaged.damagedCopy, registry.path() + "/HKEY_CURRENT_USER.reg.damaged");
    EXPECT_EQ(sshcore::CheckHostKeyTrust("rsa2", "0x23,0xab", 2222, "srv").trust, EHostKeyTrust::Match);
}

Bytes Blob(std::initializer_list<Bytes> fields)
{
    Bytes blob;
    for (const Bytes& f : fields) {
        for (int shift = 24; shift >= 0; shift -= 8) blob.push_back(static_cast<std::uint8_t>(f.size() >> shift));
        blob.insert(blob.end(), f.begin(), f.end());
    }
    return blob;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A key taken by the engine, written as the cache keeps it, gives back the
// very blob it came from: the old key's fingerprint is the one it had.
TEST(HostKeyTrust, CachedTextsGiveBackTheirBlobs)
{
    Bytes modulus(129, 0xc5);
    modulus[0] = 0;  // an mpint whose top bit is set
    Bytes prime(65, 0x9b);
    prime[0] = 0;
    Bytes ed25519(32, 0x11);
    ed25519[0] = 0;  // a leading zero byte stays
    Bytes point(65, 0x22);
    point[0] = 4;
    point[1] = 0;  // x with a leading zero byte
    point[33] = 0;
    const struct {
        const char* algorithm;
        Bytes blob;
    } cases[] = {
        {"ssh-rsa", Blob({Text("ssh-rsa"), {1, 0, 1}, modulus})},
        {"ssh-dss", Blob({Text("ssh-dss"), prime, Bytes(21, 0x3a), {2}, {0x7f, 1}})},
        {"ssh-ed25519", Blob({Text("ssh-ed25519"), ed25519})},
        {"ecdsa-sha2-nistp256", Blob({Text("ecdsa-sha2-nistp256"), Text("nistp256"), point})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.algorithm);
        auto key = CSshHostKey::Create(c.algorithm);
        ASSERT_TRUE(key->SetKey(c.blob));
        EXPECT_EQ(sshcore::HostKeyBlobFromCache(key->CacheType(), key->KeyString()), c.blob);
        EXPECT_EQ(key->Sha256Fingerprint(), sshcore::Sha256Fingerprint(c.blob));
    }
}

TEST(HostKeyTrust, MalformedCachedTextsGiveNoBlob)
{
    const struct {
        const char* type;
        std::string text;
    } cases[] = {
        {"rsa2", ""},           {"rsa2", "0x"},         {"rsa2", "0x3"},           {"rsa2", "0x3,0x5,0x7"},
        {"rsa2", "0x3,5"},      {"rsa2", "0x3,0xg5"},   {"rsa2", "0x3,,0x5"},      {"dss", "0x1,0x2,0x3"},
        {"ssh-ed25519", "0x11"}, {"ssh-ed25519", "0x" + std::string(62, '1') + "zz"},
        {"ecdsa-sha2-nistp521", "nistp521,0x1,0x2"}, {"ecdsa-sha2-nistp256", "nistp384,0x1,0x2"},
        {"ecdsa-sha2-nistp256", "nistp256,0x1" + std::string(64, '0') + ",0x2"},
        {"rsa2", "0x3,0x" + std::string(9000, 'f')}, {"unknown", "0x3,0x5"},
    };
    for (const auto& c : cases) EXPECT_TRUE(sshcore::HostKeyBlobFromCache(c.type, c.text).empty()) << c.type << " " << c.text;
}

TEST(HostKeyTrust, Sha256FingerprintIsUnpaddedBase64)
{
    // SHA-256 of nothing, as ssh-keygen would print it.
    EXPECT_EQ(sshcore::Sha256Fingerprint({}), "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU");
    const std::string fingerprint = sshcore::Sha256Fingerprint(Text("ssh-ed25519"));
    EXPECT_EQ(fingerprint.size(), 7u + 43u);
    EXPECT_EQ(fingerprint.find('='), std::string::npos);
}

}  // namespace

// What `known-hosts list` and `forget` stand on: every stored key comes back
// under the host it was stored for (escapes undone, a legacy plain name
// too), anything else under the key is passed over, and forgetting takes
// every type of one host and port with the records of their acceptance.
TEST(HostKeyTrust, StoredKeysAreListedByHostAndForgottenByHostAndPort)
{
    TempRegistry registry;
    const std::string ed25519 = "0x" + std::string(64, 'a');
    const std::string rsa = "0x10001,0x" + std::string(256, 'c');  // a 1024-bit modulus
    const std::string odd = ".a b\\c*d?e%f";
    ASSERT_TRUE(sshcore::StoreHostKey("rsa2", 2222, "srv", rsa));
    ASSERT_TRUE(sshcore::AcceptHostKey("ssh-ed25519", 2222, "srv", ed25519, EHostKeyTrust::Changed));
    ASSERT_TRUE(sshcore::StoreHostKey("ssh-ed25519", 22, "srv", ed25519));
    ASSERT_TRUE(sshcore::StoreHostKey("ssh-ed25519", 22, odd, ed25519));
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, u"rsa2@22:fe80::1%eth0", AnsiToWide(rsa));
    for (const char16_t* junk : {u"no-at-sign", u"rsa2@:x", u"rsa2@0:x", u"rsa2@65536:x", u"rsa2@22:", u"md5@22:x"})
        RegWriteString(HKEY_CURRENT_USER, kHostKeys, junk, AnsiToWide(rsa));

    std::vector<std::string> listed;
    for (const sshcore::SStoredHostKey& key : sshcore::ListStoredHostKeys())
        listed.push_back(key.host + " " + std::to_string(key.port) + " " + key.cacheType);
    EXPECT_EQ(listed, (std::vector<std::string>{odd + " 22 ssh-ed25519", "fe80::1%eth0 22 rsa2", "srv 22 ssh-ed25519",
                                                "srv 2222 rsa2", "srv 2222 ssh-ed25519"}));
    EXPECT_EQ(sshcore::HostKeyBits("rsa2", rsa), 1024);
    EXPECT_EQ(sshcore::HostKeyBits("rsa2", "0x10001,0x01" + std::string(254, '0')), 1017);
    EXPECT_EQ(sshcore::HostKeyBits("ssh-ed25519", ed25519), 256);
    EXPECT_EQ(sshcore::HostKeyBits("rsa2", "0x3"), 0);

    EXPECT_EQ(sshcore::ForgetStoredHostKeys("srv", 2222), 2u);
    EXPECT_TRUE(sshcore::ReadHostKeyAcceptance("ssh-ed25519", 2222, "srv").empty());
    EXPECT_EQ(sshcore::ForgetStoredHostKeys("srv", 2222), 0u);
    EXPECT_EQ(sshcore::ForgetStoredHostKeys(odd, 22), 1u);
    EXPECT_EQ(sshcore::ForgetStoredHostKeys("fe80::1%eth0", 22), 1u);
    listed.clear();
    for (const sshcore::SStoredHostKey& key : sshcore::ListStoredHostKeys()) listed.push_back(key.host);
    EXPECT_EQ(listed, std::vector<std::string>{"srv"});
}
