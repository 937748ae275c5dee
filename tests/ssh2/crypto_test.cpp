// Key exchange arithmetic, host keys and their cache strings, the random
// pool's seed, and the primitives the SSH engines share.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>

#include <cstdio>
#include <memory>

#include "platform/registry.h"
#include "ssh2/algorithms.h"
#include "ssh2/crypto/digest.h"
#include "ssh2/crypto/pubkey.h"
#include "ssh2/kex.h"
#include "ssh2/random.h"
#include "ssh2/ssh2.h"
#include "tests/support/temp_dir.h"

using sshcrypto::CBigNum;

namespace {

std::string Hex(ByteView bytes)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (auto b : bytes) s += {d[b >> 4], d[b & 15]};
    return s;
}

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Vectors computed with Python's hashlib from the same inputs.
TEST(KexTest, ExchangeHashAndKeyDerivationMatchVectors)
{
    SExchangeHashInput in;
    in.clientVersion = "SSH-2.0-Tessaro";
    in.serverVersion = "SSH-2.0-Test";
    in.clientKexInit = Bytes("\x14" "aaaaaaaaaa");
    in.serverKexInit = Bytes("\x14" "bbbbbbbbbbbb");
    in.hostKey = Bytes(std::string_view("\0\0\0\7ssh-rsa", 11));
    in.e = CBigNum::FromHex("1234567890abcdef");
    in.f = CBigNum::FromHex("80ff");
    in.k = CBigNum::FromHex("fedcba9876543210ff");
    const auto group1 = ExchangeHash(in);
    EXPECT_EQ(Hex(group1), "a1091fff1bf9d01af0e12928d954d634cb6693ae");
    in.groupExchange = true;
    in.pbits = 2048;
    in.p = CBigNum::FromHex("f7");
    in.g = CBigNum(2);
    const auto gex = ExchangeHash(in);
    EXPECT_EQ(Hex(gex), "5955c945376e67391133993733baf65e3108fbb6");

    EXPECT_EQ(Hex(DeriveKey(in.k, group1, 'A', gex)),
              "9bb9857dee8dc697e472170e68905ccc0f7c872af2194dc6ae58ef8510b4bbdc7e5737063d1ca8c3");
    EXPECT_EQ(Hex(DeriveKey(in.k, group1, 'C', gex)),
              "b5bbf5f89fa6ea867ff92bd85b093020782b9732ca8357ea215cd48ea69eb7628cc432f03765b2dd");
    EXPECT_EQ(Hex(DeriveKey(in.k, group1, 'E', gex)),
              "4c9627362a40a4907817f38d0bf68aa2c8ecf70904b59765e66502035e07399a269006279a9333e1");
}

TEST(KexTest, GroupSizeFollowsTheCipherKey)
{
    EXPECT_EQ(GroupExchangeBits(128), 1024u);
    EXPECT_EQ(GroupExchangeBits(168), 2048u);
    EXPECT_EQ(GroupExchangeBits(192), 2048u);
    EXPECT_EQ(GroupExchangeBits(256), 2048u);
    EXPECT_EQ(GroupExchangeBits(64), 512u);
}

TEST(KexTest, DiffieHellmanAgreesAndRefusesValuesOutOfRange)
{
    auto a = sshcrypto::CDiffieHellman::Group1();
    auto b = sshcrypto::CDiffieHellman::Group1();
    std::uint8_t counter = 0;
    a.GeneratePrivate(256, [&] { return counter += 77; });
    b.GeneratePrivate(2000, [&] { return counter += 13; });  // above q's size: drawn below q
    EXPECT_EQ(a.Shared(b.Public()), b.Shared(a.Public()));
    EXPECT_TRUE(a.InRange(b.Public()));
    for (const CBigNum& bad : {CBigNum(0), CBigNum(1), a.P().Minus(1), a.P(), CBigNum::FromMpint(Bytes("\xff")),
                               CBigNum::FromHex(std::string(300, 'f').c_str())})
        EXPECT_FALSE(a.InRange(bad));
}

TEST(OfferTest, EveryOfferedNameExistsAndOrderIsKept)
{
    for (const auto& name : CSSH2::CipherOffer()) ASSERT_NE(CSshCipher::Create(name), nullptr) << name;
    for (const auto& name : CSSH2::MacOffer()) ASSERT_NE(CSshMac::Create(name), nullptr) << name;
    for (const auto& name : CSshHostKey::Names()) ASSERT_NE(CSshHostKey::Create(name), nullptr) << name;
    // The current algorithms come first; the older ones keep their order
    // after them.
    const auto ciphers = CSSH2::CipherOffer();
    EXPECT_EQ(std::vector<std::string>(ciphers.begin(), ciphers.begin() + 7),
              (std::vector<std::string>{"aes256-gcm@openssh.com", "aes128-gcm@openssh.com",
                                        "chacha20-poly1305@openssh.com", "aes256-ctr", "aes192-ctr", "aes128-ctr",
                                        "aes256-cbc"}));
    EXPECT_EQ(ciphers.back(), "3des-cbc");
    EXPECT_EQ(CSSH2::MacOffer(),
              (std::vector<std::string>{"hmac-sha2-256-etm@openssh.com", "hmac-sha2-512-etm@openssh.com",
                                        "hmac-sha2-256", "hmac-sha2-512", "hmac-sha1", "hmac-md5", "none"}));
    EXPECT_EQ(CSSH2::KexOffer(),
              (std::vector<std::string>{"curve25519-sha256", "curve25519-sha256@libssh.org", "ecdh-sha2-nistp256",
                                        "diffie-hellman-group14-sha256", "diffie-hellman-group16-sha512",
                                        "diffie-hellman-group-exchange-sha256", "diffie-hellman-group-exchange-sha1",
                                        "diffie-hellman-group1-sha1", "kex-strict-c-v00@openssh.com"}));
    EXPECT_EQ(CSshHostKey::Names(), (std::vector<std::string>{"ssh-ed25519", "ecdsa-sha2-nistp256", "rsa-sha2-512",
                                                              "rsa-sha2-256", "ssh-rsa", "ssh-dss"}));
    EXPECT_EQ(CSSH2::CompressionOffer(true), (std::vector<std::string>{"zlib", "zlib@openssh.com", "zlib", "none"}));
    EXPECT_EQ(CSSH2::CompressionOffer(false), (std::vector<std::string>{"none", "zlib@openssh.com", "zlib", "none"}));
    for (const auto& c : CSshCipher::Table()) {
        EXPECT_EQ(c->Clone()->Name(), c->Name());
        EXPECT_TRUE(c->BlockSize() == 8 || c->BlockSize() == 16);
    }
}

TEST(HostKeyCacheTest, ValueNames)
{
    EXPECT_EQ(CSSH2::HostKeyValueName("rsa2", 22, "server.example"), "rsa2@22:server.example");
    EXPECT_EQ(CSSH2::HostKeyValueName("dss", 2222, "10.0.0.1"), "dss@2222:10.0.0.1");
}

// ----------------------------------------------------- real host keys

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

PkeyPtr MakeDsaKey()
{
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
    EVP_PKEY* params = nullptr;
    EVP_PKEY_paramgen_init(pctx);
    EVP_PKEY_CTX_set_dsa_paramgen_bits(pctx, 1024);
    EVP_PKEY_CTX_set_dsa_paramgen_q_bits(pctx, 160);
    EVP_PKEY_paramgen(pctx, &params);
    EVP_PKEY_CTX_free(pctx);
    EVP_PKEY_CTX* kctx = EVP_PKEY_CTX_new(params, nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_keygen_init(kctx);
    EVP_PKEY_keygen(kctx, &key);
    EVP_PKEY_CTX_free(kctx);
    EVP_PKEY_free(params);
    return PkeyPtr(key);
}

CBigNum Param(EVP_PKEY* key, const char* name)
{
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, bytes.data());
    BN_free(bn);
    return CBigNum::FromBytes(bytes);
}

std::vector<std::uint8_t> Sign(EVP_PKEY* key, ByteView data)
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, key);
    std::size_t size = 0;
    EVP_DigestSign(ctx, nullptr, &size, data.data(), data.size());
    std::vector<std::uint8_t> sig(size);
    EVP_DigestSign(ctx, sig.data(), &size, data.data(), data.size());
    sig.resize(size);
    EVP_MD_CTX_free(ctx);
    return sig;
}

std::vector<std::uint8_t> Blob(std::initializer_list<std::string_view> strings, std::initializer_list<CBigNum> numbers)
{
    CSshPacketBuilder b;
    b.Start(0);
    for (auto s : strings) b.PutString(s);
    for (const auto& n : numbers) b.PutMpint(n);
    return {b.Payload().begin() + 1, b.Payload().end()};
}

// The MD5 fingerprint ssh-keygen prints for a public key blob.
std::string KeygenFingerprint(const std::string& type, ByteView blob)
{
    TempDir dir;
    std::string b64(4 * ((blob.size() + 2) / 3) + 1, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()), blob.data(), static_cast<int>(blob.size()));
    b64.resize(b64.size() - 1);
    const std::string file = dir.file("key.pub");
    FILE* f = std::fopen(file.c_str(), "w");
    std::fprintf(f, "%s %s test\n", type.c_str(), b64.c_str());
    std::fclose(f);
    FILE* p = ::popen(("ssh-keygen -l -E md5 -f " + file + " 2>/dev/null").c_str(), "r");
    if (!p) return {};
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, p) != nullptr;
    ::pclose(p);
    return got ? line : "";
}

TEST(HostKeyTest, RsaKeyStringFingerprintAndSignature)
{
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(1024)));
    ASSERT_TRUE(key);
    const CBigNum e = Param(key.get(), OSSL_PKEY_PARAM_RSA_E), n = Param(key.get(), OSSL_PKEY_PARAM_RSA_N);
    const auto blob = Blob({"ssh-rsa"}, {e, n});
    auto hostKey = CSshHostKey::Create("ssh-rsa");
    ASSERT_TRUE(hostKey->SetKey(blob));
    EXPECT_EQ(hostKey->KeyString(), "0x10001,0x" + n.ToHex());
    EXPECT_EQ(std::string(hostKey->CacheType()), "rsa2");

    const std::string fp = hostKey->Fingerprint();
    ASSERT_EQ(fp.rfind("ssh-rsa 1024 ", 0), 0u) << fp;
    const std::string keygen = KeygenFingerprint("ssh-rsa", blob);
    if (!keygen.empty()) {
        EXPECT_EQ(keygen.substr(0, 5 + 4 + 47), "1024 MD5:" + fp.substr(13)) << keygen;
    }

    const auto h = Bytes("twenty bytes of hash");
    const auto sig = Sign(key.get(), h);
    EXPECT_TRUE(hostKey->Verify(Blob({"ssh-rsa", AsText(sig)}, {}), h));
    auto bad = sig;
    bad[10] ^= 4;
    EXPECT_FALSE(hostKey->Verify(Blob({"ssh-rsa", AsText(bad)}, {}), h));
    EXPECT_FALSE(hostKey->Verify(Blob({"ssh-dss", AsText(sig)}, {}), h));
    EXPECT_FALSE(hostKey->Verify(Blob({"ssh-rsa", AsText(sig)}, {}), Bytes("other bytes of hash!")));
    // A DSA blob is not an RSA key; nor is a truncated one.
    EXPECT_FALSE(CSshHostKey::Create("ssh-rsa")->SetKey(Blob({"ssh-dss"}, {e, n})));
    EXPECT_FALSE(CSshHostKey::Create("ssh-rsa")->SetKey(ByteView(blob).first(blob.size() - 1)));
}

TEST(HostKeyTest, DssKeyStringAndBothSignatureForms)
{
    PkeyPtr key = MakeDsaKey();
    ASSERT_TRUE(key);
    const CBigNum p = Param(key.get(), OSSL_PKEY_PARAM_FFC_P), q = Param(key.get(), OSSL_PKEY_PARAM_FFC_Q),
                  g = Param(key.get(), OSSL_PKEY_PARAM_FFC_G), y = Param(key.get(), OSSL_PKEY_PARAM_PUB_KEY);
    const auto blob = Blob({"ssh-dss"}, {p, q, g, y});
    auto hostKey = CSshHostKey::Create("ssh-dss");
    ASSERT_TRUE(hostKey->SetKey(blob));
    EXPECT_EQ(hostKey->KeyString(), "0x" + p.ToHex() + ",0x" + q.ToHex() + ",0x" + g.ToHex() + ",0x" + y.ToHex());
    const std::string fp = hostKey->Fingerprint();
    const std::string keygen = KeygenFingerprint("ssh-dss", blob);
    if (!keygen.empty()) {
        EXPECT_EQ(keygen.substr(0, 5 + 4 + 47), "1024 MD5:" + fp.substr(13)) << keygen;
    }

    const auto h = Bytes("twenty bytes of hash");
    const auto der = Sign(key.get(), h);
    const unsigned char* cursor = der.data();
    DSA_SIG* sig = d2i_DSA_SIG(nullptr, &cursor, static_cast<long>(der.size()));
    const BIGNUM *r = nullptr, *s = nullptr;
    DSA_SIG_get0(sig, &r, &s);
    std::vector<std::uint8_t> raw(40);
    BN_bn2binpad(r, raw.data(), 20);
    BN_bn2binpad(s, raw.data() + 20, 20);
    DSA_SIG_free(sig);
    EXPECT_TRUE(hostKey->Verify(raw, h));
    EXPECT_TRUE(hostKey->Verify(Blob({"ssh-dss", AsText(raw)}, {}), h));
    raw[39] ^= 1;
    EXPECT_FALSE(hostKey->Verify(raw, h));
    EXPECT_FALSE(hostKey->Verify(Blob({"ssh-dss", AsText(ByteView(raw).first(39))}, {}), h));
}

// ------------------------------------------------------ the random seed

TEST(RandomPoolTest, SeedIsWrittenAtStartAndReadBack)
{
    TempRegistry registry;
    CRandomPool& pool = CRandomPool::Instance();
    pool.Reset();
    pool.SaveSeed();  // not initialised: nothing written
    std::vector<std::uint8_t> seed;
    EXPECT_FALSE(RegReadBinary(HKEY_LOCAL_MACHINE, u"Software\\Quillon\\Corvel", u"RandomSeed", seed));
    pool.Initialise();
    ASSERT_TRUE(RegReadBinary(HKEY_LOCAL_MACHINE, u"Software\\Quillon\\Corvel", u"RandomSeed", seed));
    EXPECT_EQ(seed.size(), CRandomPool::kSeedSize);
    pool.SaveSeed();
    std::vector<std::uint8_t> next;
    ASSERT_TRUE(RegReadBinary(HKEY_LOCAL_MACHINE, u"Software\\Quillon\\Corvel", u"RandomSeed", next));
    EXPECT_NE(next, seed);
}

// ------------------------------------------------------ shared wrappers

TEST(CryptoTest, DigestsHmacAndCompressionFunction)
{
    EXPECT_EQ(Hex(sshcrypto::Sha1(Bytes("abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Hex(sshcrypto::Md5(Bytes("abc"))), "900150983cd24fb0d6963f7d28e17f72");
    // RFC 2202, test case 2.
    sshcrypto::CHmac hmac(sshcrypto::EDigest::Sha1, Bytes("Jefe"));
    std::uint8_t mac[20];
    hmac.Compute({Bytes("what do ya want "), Bytes("for nothing?")}, mac);
    EXPECT_EQ(Hex(mac), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    hmac.Compute({Bytes("what do ya want for nothing?")}, mac);  // same key again
    EXPECT_EQ(Hex(mac), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    // One padded block of "abc" from the initial state gives SHA-1("abc").
    std::uint8_t state[20] = {0x67, 0x45, 0x23, 0x01, 0xef, 0xcd, 0xab, 0x89, 0x98, 0xba,
                              0xdc, 0xfe, 0x10, 0x32, 0x54, 0x76, 0xc3, 0xd2, 0xe1, 0xf0};
    std::uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    sshcrypto::Sha1Compress(state, block);
    EXPECT_EQ(Hex(state), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(CryptoTest, CbcChainingCarriesAcrossCalls)
{
    for (const auto& entry : CSshCipher::Table()) {
        if (entry->IsAead()) continue;  // whole packets only, see transport_test
        SCOPED_TRACE(entry->Name());
        std::vector<std::uint8_t> key(32, 9), iv(16, 3), data(96);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
        auto whole = entry->Clone(), parts = entry->Clone(), back = entry->Clone();
        for (auto* c : {whole.get(), parts.get(), back.get()}) {
            c->SetKey(key);
            c->SetIV(iv);
        }
        auto a = data, b = data;
        whole->Encrypt(a.data(), a.size());
        const std::size_t bs = entry->BlockSize();
        parts->Encrypt(b.data(), bs);
        parts->Encrypt(b.data() + bs, b.size() - bs);
        EXPECT_EQ(a, b);
        EXPECT_NE(a, data);
        back->Decrypt(a.data(), 2 * bs);
        back->Decrypt(a.data() + 2 * bs, a.size() - 2 * bs);
        EXPECT_EQ(a, data);
    }
}

}  // namespace
