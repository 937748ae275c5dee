// The user's known_hosts as both engines read it: plain, hashed and
// bracketed names, comma lists and patterns, revoked keys, and how the file
// and the engines' own cache decide together.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "sshcore/hostkey_trust.h"
#include "sshcore/known_hosts.h"
#include "tests/support/scoped_env.h"
#include "tests/ssh2/test_util.h"
#include "tests/support/temp_dir.h"

using namespace sshcore;

namespace {

std::vector<std::uint8_t> Blob(const std::string& type, std::uint8_t fill)
{
    std::string text;
    text += std::string("\0\0\0", 3) + static_cast<char>(type.size()) + type;
    text += std::string("\0\0\0", 3) + static_cast<char>(32) + std::string(32, static_cast<char>(fill));
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A hashed name made with OpenSSL's one-shot HMAC, apart from the code
// under test.
std::string Hashed(const std::string& name, std::uint8_t saltByte)
{
    const std::vector<std::uint8_t> salt(20, saltByte);
    unsigned char mac[20];
    unsigned int length = 0;
    HMAC(EVP_sha1(), salt.data(), static_cast<int>(salt.size()), reinterpret_cast<const unsigned char*>(name.data()),
         name.size(), mac, &length);
    return "|1|" + Base64(salt) + "|" + Base64(std::vector<std::uint8_t>(mac, mac + length));
}

const std::vector<std::uint8_t> kEd = Blob("ssh-ed25519", 0x11);
const std::vector<std::uint8_t> kEdOther = Blob("ssh-ed25519", 0x22);
const std::vector<std::uint8_t> kEcdsa = Blob("ecdsa-sha2-nistp256", 0x33);

SKnownHostsVerdict Check(const std::string& text, const std::string& host, std::uint32_t port,
                         const std::vector<std::uint8_t>& blob = kEd, const std::string& type = "ssh-ed25519")
{
    return CheckKnownHosts(ParseKnownHosts(text), host, port, type, blob);
}

}  // namespace

TEST(KnownHosts, NamesPlainHashedBracketedAndListed)
{
    const std::string ed = " ssh-ed25519 " + Base64(kEd) + " comment\n";
    // Plain, in a comma list, and only for the port it names.
    EXPECT_TRUE(Check("other,srv.example.com" + ed, "srv.example.com", 22).matched);
    EXPECT_TRUE(Check("SRV.example.COM" + ed, "srv.example.com", 22).matched);
    EXPECT_FALSE(Check("srv.example.com" + ed, "srv.example.com", 2222).matched);
    EXPECT_TRUE(Check("[srv.example.com]:2222" + ed, "srv.example.com", 2222).matched);
    EXPECT_FALSE(Check("[srv.example.com]:2222" + ed, "srv.example.com", 22).matched);
    EXPECT_FALSE(Check("[srv.example.com]:2222" + ed, "srv.example.com", 2223).matched);
    // Patterns and negations.
    EXPECT_TRUE(Check("*.example.com" + ed, "srv.example.com", 22).matched);
    EXPECT_FALSE(Check("*.example.com,!srv.*" + ed, "srv.example.com", 22).matched);
    // Hashed: the name as listed, with the port in brackets when not 22.
    EXPECT_TRUE(Check(Hashed("10.1.2.3", 7) + ed, "10.1.2.3", 22).matched);
    EXPECT_TRUE(Check(Hashed("[10.1.2.3]:2200", 7) + ed, "10.1.2.3", 2200).matched);
    EXPECT_FALSE(Check(Hashed("10.1.2.3", 7) + ed, "10.1.2.4", 22).matched);
    EXPECT_FALSE(Check(Hashed("10.1.2.3", 7) + ed, "10.1.2.3", 2200).matched);
}

TEST(KnownHosts, MismatchRevocationAndIgnoredLines)
{
    const std::string mine = "srv ssh-ed25519 " + Base64(kEd) + "\n";
    const std::string other = "srv ssh-ed25519 " + Base64(kEdOther) + "\n";
    const std::string ecdsa = "srv ecdsa-sha2-nistp256 " + Base64(kEcdsa) + "\n";

    SKnownHostsVerdict changed = Check(other, "srv", 22);
    EXPECT_TRUE(changed.mismatched);
    EXPECT_FALSE(changed.matched);
    // One matching line among several of the type is a match.
    EXPECT_TRUE(Check(other + mine, "srv", 22).matched);
    EXPECT_FALSE(Check(other + mine, "srv", 22).mismatched);
    EXPECT_TRUE(Check(ecdsa, "srv", 22).otherTypes);
    EXPECT_FALSE(Check(ecdsa + mine, "srv", 22).otherTypes);

    // Revoked for any host, even where the key is also listed as known.
    EXPECT_TRUE(Check(mine + "@revoked * ssh-ed25519 " + Base64(kEd) + "\n", "srv", 22).revoked);
    EXPECT_TRUE(Check("@revoked elsewhere ssh-ed25519 " + Base64(kEd) + "\n", "srv", 22).revoked);
    EXPECT_FALSE(Check("@revoked srv ssh-ed25519 " + Base64(kEdOther) + "\n", "srv", 22).revoked);
    // A certificate authority's key is no host key.
    const SKnownHostsVerdict authority = Check("@cert-authority srv ssh-ed25519 " + Base64(kEd) + "\n", "srv", 22);
    EXPECT_FALSE(authority.matched || authority.mismatched || authority.otherTypes || authority.revoked);

    // Lines that are no entry are skipped; the others still count.
    const std::string junk = "# comment\n\n@unknown srv ssh-ed25519 " + Base64(kEd) + "\nsrv ssh-ed25519 not*base64\n"
                             "srv ssh-ed25519\n|1|bad|hash ssh-ed25519 " + Base64(kEd) + "\n" +
                             std::string(20000, 'x') + "\r\n";
    EXPECT_TRUE(ParseKnownHosts(junk).empty());
    EXPECT_TRUE(Check(junk + mine, "srv", 22).matched);
    EXPECT_EQ(ParseKnownHosts(junk + mine).front().line, 8);
}

TEST(KnownHosts, TypesListedForAHostOrderTheOffer)
{
    const std::string text = "srv ecdsa-sha2-nistp256 " + Base64(kEcdsa) + "\n@revoked srv ssh-ed25519 " + Base64(kEd) +
                             "\n[srv]:2222 ssh-ed25519 " + Base64(kEd) + "\nsrv ecdsa-sha2-nistp256 " +
                             Base64(kEcdsa) + "\nsrv ssh-rsa " + Base64(Blob("ssh-rsa", 1)) + "\n";
    const auto entries = ParseKnownHosts(text);
    EXPECT_EQ(KnownHostsKeyTypes(entries, "srv", 22), (std::vector<std::string>{"ecdsa-sha2-nistp256", "rsa2"}));
    EXPECT_EQ(KnownHostsKeyTypes(entries, "srv", 2222), (std::vector<std::string>{"ssh-ed25519"}));
    EXPECT_TRUE(KnownHostsKeyTypes(entries, "other", 22).empty());
}

TEST(KnownHosts, FileAndCacheDecideTogether)
{
    auto verdict = [](bool revoked, bool matched, bool mismatched, bool otherTypes) {
        SKnownHostsVerdict v;
        v.revoked = revoked;
        v.matched = matched;
        v.mismatched = mismatched;
        v.otherTypes = otherTypes;
        return v;
    };
    using T = EHostKeyTrust;
    const SKnownHostsVerdict nothing{};
    for (T cache : {T::Match, T::FirstContact, T::Changed, T::NewType, T::Unverifiable}) {
        EXPECT_EQ(WithKnownHosts(cache, verdict(true, true, false, false)), T::Revoked);
        EXPECT_EQ(WithKnownHosts(cache, verdict(false, true, false, false)), T::Match);
        EXPECT_EQ(WithKnownHosts(cache, nothing), cache);
    }
    EXPECT_EQ(WithKnownHosts(T::FirstContact, verdict(false, false, true, false)), T::Changed);
    EXPECT_EQ(WithKnownHosts(T::NewType, verdict(false, false, true, false)), T::Changed);
    // A differing listed key outweighs a key the cache took silently; only a
    // key the user said yes to here stays trusted.
    EXPECT_EQ(WithKnownHosts(T::Match, verdict(false, false, true, false)), T::Changed);
    EXPECT_EQ(WithKnownHosts(T::Match, verdict(false, false, true, false), true), T::Match);
    EXPECT_EQ(WithKnownHosts(T::Changed, verdict(false, false, true, false), true), T::Changed);
    EXPECT_EQ(WithKnownHosts(T::Match, verdict(true, false, false, false), true), T::Revoked);
    EXPECT_EQ(WithKnownHosts(T::FirstContact, verdict(false, false, false, true)), T::NewType);
    EXPECT_EQ(WithKnownHosts(T::Unverifiable, verdict(false, false, false, true)), T::NewType);
    EXPECT_EQ(WithKnownHosts(T::Changed, verdict(false, false, false, true)), T::Changed);
    EXPECT_TRUE(NeedsExplicitYes(T::Revoked));
}

// The registry and the user's file on disk together, as a connection sees
// them: a key the cache took at first contact yields to a differing line;
// a yes to the presented key is recorded with its time and fingerprint and
// then stands, but only for that very key.
TEST(KnownHosts, FileOutweighsFirstContactButNotAnAcceptedKey)
{
    TempRegistry registry;
    TempDir dir;
    const std::string file = dir.file("known_hosts");
    CScopedEnv env("FERRODEX_KNOWN_HOSTS", file);
    const std::string presented = "0x" + std::string(64, '1');  // kEd's cache text
    const std::string other = "0x" + std::string(64, '2');      // kEdOther's
    {
        std::ofstream out(file);
        out << "[srv]:2200 ssh-ed25519 " << Base64(kEdOther) << "\n";
    }
    ASSERT_TRUE(StoreHostKey("ssh-ed25519", 2200, "srv", presented));
    EXPECT_EQ(CheckHostKeyTrust("ssh-ed25519", presented, 2200, "srv").trust, EHostKeyTrust::Changed);
    EXPECT_EQ(ReadHostKeyAcceptance("ssh-ed25519", 2200, "srv"), "");

    ASSERT_TRUE(AcceptHostKey("ssh-ed25519", 2200, "srv", presented, EHostKeyTrust::Changed));
    const std::string record = ReadHostKeyAcceptance("ssh-ed25519", 2200, "srv");
    // "YYYY-MM-DDThh:mm:ssZ SHA256:... changed"
    ASSERT_EQ(record.size(), 21u + Sha256Fingerprint(kEd).size() + 8u) << record;
    EXPECT_EQ(record[4], '-');
    EXPECT_EQ(record[19], 'Z');
    EXPECT_EQ(record.substr(21), Sha256Fingerprint(kEd) + " changed");
    EXPECT_EQ(CheckHostKeyTrust("ssh-ed25519", presented, 2200, "srv").trust, EHostKeyTrust::Match);

    // The record names the key: a later silent store of another key (or a
    // record for another port) does not carry it over.
    ASSERT_TRUE(StoreHostKey("ssh-ed25519", 2200, "srv", "0x" + std::string(64, '3')));
    ASSERT_TRUE(AcceptHostKey("ssh-ed25519", 2201, "srv", "0x" + std::string(64, '3'), EHostKeyTrust::NewType));
    EXPECT_EQ(CheckHostKeyTrust("ssh-ed25519", "0x" + std::string(64, '3'), 2200, "srv").trust,
              EHostKeyTrust::Changed);
    // The listed key itself is a match whatever the cache holds.
    EXPECT_EQ(CheckHostKeyTrust("ssh-ed25519", other, 2200, "srv").trust, EHostKeyTrust::Match);
    // A damaged record counts as none.
    ASSERT_TRUE(AcceptHostKey("ssh-ed25519", 2200, "srv", presented, EHostKeyTrust::Changed));
    RegWriteString(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel\\AcceptedHostKeys", u"ssh-ed25519@2200:srv",
                   AnsiToWide("x " + Sha256Fingerprint(kEd) + "X changed"));
    EXPECT_EQ(CheckHostKeyTrust("ssh-ed25519", presented, 2200, "srv").trust, EHostKeyTrust::Changed);
}
