// Key exchange arithmetic, host keys and their cache strings, the random
// pool's seed, and the primitives the SSH engines share.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "ssh2/algorithms.h"
#include "sshcore/algorithms.h"
#include "sshcore/digest.h"
#include "sshcore/ecdh.h"
#include "sshcore/pubkey.h"
#include "ssh2/kex.h"
#include "ssh2/random.h"
#include "ssh2/ssh2.h"
#include "tests/ssh2/test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

using sshcore::CBigNum;

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// The inputs every exchange-hash vector was computed from.
SExchangeHashInput HashInput(std::string_view hostKey)
{
    SExchangeHashInput in;
    in.clientVersion = "SSH-2.0-Tessaro";
    in.serverVersion = "SSH-2.0-Test";
    in.clientKexInit = Bytes("\x14" "aaaaaaaaaa");
    in.serverKexInit = Bytes("\x14" "bbbbbbbbbbbb");
    in.hostKey = Bytes(hostKey);
    return in;
}

// The same e, f and K for every Diffie-Hellman vector.
SExchangeHashInput WithDhValues(SExchangeHashInput in)
{
    in.e = CBigNum::FromHex("1234567890abcdef");
    in.f = CBigNum::FromHex("80ff");
    in.k = CBigNum::FromHex("fedcba9876543210ff");
    return in;
}

// Vectors computed with Python's hashlib from the same inputs.
TEST(KexTest, ExchangeHashAndKeyDerivationMatchVectors)
{
    SExchangeHashInput in = WithDhValues(HashInput(std::string_view("\0\0\0\7ssh-rsa", 11)));
    const auto group1 = ExchangeHash(in);
    EXPECT_EQ(Hex(group1), "a1091fff1bf9d01af0e12928d954d634cb6693ae");
    in.groupExchange = true;
    in.pbits = 2048;
    in.p = CBigNum::FromHex("f7");
    in.g = CBigNum(2);
    const auto gex = ExchangeHash(in);
    EXPECT_EQ(Hex(gex), "5955c945376e67391133993733baf65e3108fbb6");

    for (const auto& [letter, expected] :
         {std::pair{'A', "9bb9857dee8dc697e472170e68905ccc0f7c872af2194dc6ae58ef8510b4bbdc7e5737063d1ca8c3"},
          std::pair{'C', "b5bbf5f89fa6ea867ff92bd85b093020782b9732ca8357ea215cd48ea69eb7628cc432f03765b2dd"},
          std::pair{'E', "4c9627362a40a4907817f38d0bf68aa2c8ecf70904b59765e66502035e07399a269006279a9333e1"}})
        EXPECT_EQ(Hex(DeriveKey(in.k, group1, letter, gex)), expected) << letter;
}

// The vectors of the current methods were printed by
// tests/ssh2/data/make_vectors.py, which computes them with Python's hashlib
// and the cryptography package from the same inputs.
TEST(KexTest, CurrentExchangeHashesAndLongerKeysMatchVectors)
{
    const SExchangeHashInput in = HashInput(std::string_view("\0\0\0\x0bssh-ed25519", 15));

    SExchangeHashInput ecdh = in;
    ecdh.hash = sshcore::EDigest::Sha256;
    ecdh.ecdh = true;
    ecdh.clientPublic = Pattern(32, 1);
    ecdh.serverPublic = Pattern(32, 2);
    ecdh.k = CBigNum::FromBytes(Pattern(32, 0x80));
    const auto hEcdh = ExchangeHash(ecdh);
    EXPECT_EQ(Hex(hEcdh), "f72aa3bf3c53cfe4affc4e5c3d270abca1784a6955fcb4c0f4f00844ca8a416d");

    SExchangeHashInput gex = WithDhValues(in);
    gex.hash = sshcore::EDigest::Sha256;
    gex.groupExchange = gex.groupRange = true;
    gex.minBits = 2048;
    gex.pbits = 3072;
    gex.maxBits = 8192;
    gex.p = CBigNum::FromHex("f7");
    gex.g = CBigNum(2);
    const auto hGex = ExchangeHash(gex);
    EXPECT_EQ(Hex(hGex), "5ae2b5e5076f34a88ddb4b008cbe4c9f196736c334e7f5501d5c98d8cca625f9");

    SExchangeHashInput dh = WithDhValues(in);
    dh.hash = sshcore::EDigest::Sha512;
    const auto h512 = ExchangeHash(dh);
    EXPECT_EQ(Hex(h512),
              "04fdad4788be4bca3c67e29afce59d7129c14c1e23070b4e8aa2efc5ad24c229eb59a3f747025d2d0087496c0c79ff5347abd3b92"
              "f9dc3109cb47a00520b935e");

    // Two and three rounds of the hash: more than one output is needed.
    EXPECT_EQ(Hex(DeriveKey(sshcore::EDigest::Sha256, ecdh.k, hEcdh, 'C', hGex, 64)),
              "df2762cb5162578ed4089ae4e96d5c5e527b6b8b74e7fc52f57d4d9aee1560a8868f3ec13d24ef9e2ec5397898c5222ba0c941c0"
              "e9a5f23250124bcd75a56beb");
    EXPECT_EQ(Hex(DeriveKey(sshcore::EDigest::Sha512, dh.k, h512, 'E', h512, 130)),
              "cfe9b062ca349bf758c34788f451bbf53c3a62de15762eec42b3dbd3ea3795ee5f496afdf214734014f0c2e21beacf0b79e927c9"
              "0bf3f0f8790de58e30c4064e0b2d8e3b67ce60ac31821b5197c60d2aa4773e9cdcf98d558038f8698a854ed41f72011fe12737f3"
              "5edb0c98d80b10ec16e6f00f098e76c3b9256e16b1b7af661ca8");
    // The old form is the SHA-1 one cut at 40 bytes.
    EXPECT_EQ(DeriveKey(gex.k, hGex, 'A', hEcdh),
              DeriveKey(sshcore::EDigest::Sha1, gex.k, hGex, 'A', hEcdh, 40));
}

TEST(KexTest, KeysFromAnEncodedSecretMatchAndAnOldServerCanLeaveItOut)
{
    const CBigNum k = CBigNum::FromHex("80f1e2d3c4b5a6978812");  // top bit set: a leading zero in the mpint
    const std::vector<std::uint8_t> h(32, 0x5a), sid(32, 0xa5);
    std::vector<std::uint8_t> encoded(4);
    const std::vector<std::uint8_t> content = k.ToMpint();
    StoreUint32(encoded.data(), static_cast<std::uint32_t>(content.size()));
    encoded.insert(encoded.end(), content.begin(), content.end());
    EXPECT_EQ(DeriveKeyFromEncoded(sshcore::EDigest::Sha256, encoded, h, 'C', sid, 64),
              DeriveKey(sshcore::EDigest::Sha256, k, h, 'C', sid, 64));

    // Without K: K1 = HASH(H || letter || session id), K2 = HASH(H || K1).
    sshcore::CDigest hash(sshcore::EDigest::Sha256);
    hash.Update(h);
    hash.Update("A", 1);
    hash.Update(sid);
    std::vector<std::uint8_t> expected = hash.Final();
    hash.Update(h);
    hash.Update(expected);
    const std::vector<std::uint8_t> k2 = hash.Final();
    expected.insert(expected.end(), k2.begin(), k2.begin() + 8);
    EXPECT_EQ(DeriveKeyFromEncoded(sshcore::EDigest::Sha256, {}, h, 'A', sid, 40), expected);
}

// RFC 7748, section 6.1.
TEST(EcdhTest, X25519MatchesTheRfcVectorAndRefusesBadValues)
{
    auto alice = sshcore::CEcdh::FromX25519Private(
        FromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
    auto bob = sshcore::CEcdh::FromX25519Private(
        FromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb"));
    EXPECT_EQ(Hex(alice.Public()), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(Hex(bob.Public()), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    std::vector<std::uint8_t> a, b;
    ASSERT_TRUE(alice.Derive(bob.Public(), a));
    ASSERT_TRUE(bob.Derive(alice.Public(), b));
    EXPECT_EQ(Hex(a), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    EXPECT_EQ(a, b);

    sshcore::CEcdh fresh(sshcore::ECurve::X25519);
    std::vector<std::uint8_t> secret;
    EXPECT_FALSE(fresh.Derive(std::vector<std::uint8_t>(32, 0), secret));  // all-zero secret
    EXPECT_FALSE(fresh.Derive(std::vector<std::uint8_t>(31, 9), secret));
    EXPECT_FALSE(fresh.Derive(std::vector<std::uint8_t>(33, 9), secret));
    EXPECT_TRUE(secret.empty());
}

TEST(EcdhTest, P256AgreesOnTheXCoordinateAndRefusesPointsOffTheCurve)
{
    sshcore::CEcdh a(sshcore::ECurve::P256), b(sshcore::ECurve::P256);
    ASSERT_EQ(a.Public().size(), 65u);
    EXPECT_EQ(a.Public()[0], 0x04);
    std::vector<std::uint8_t> sa, sb;
    ASSERT_TRUE(a.Derive(b.Public(), sa));
    ASSERT_TRUE(b.Derive(a.Public(), sb));
    EXPECT_EQ(sa.size(), 32u);
    EXPECT_EQ(sa, sb);

    std::vector<std::uint8_t> off = b.Public();
    off[64] ^= 1;  // y no longer belongs to x
    std::vector<std::uint8_t> secret;
    EXPECT_FALSE(a.Derive(off, secret));
    std::vector<std::uint8_t> compressed(b.Public().begin(), b.Public().begin() + 33);
    compressed[0] = 0x02;
    EXPECT_FALSE(a.Derive(compressed, secret));
    EXPECT_FALSE(a.Derive(std::vector<std::uint8_t>(65, 0), secret));
}

// Packets sealed by the authenticated ciphers, against the same vectors
// script (the cryptography package's AES-GCM, ChaCha20 and Poly1305).
TEST(AeadTest, SealedPacketsMatchVectorsAndOpenAgain)
{
    const std::string payload = "\x05hello world!!!!!";
    std::vector<std::uint8_t> clear = {0, 0, 0, 28, 10};
    clear.insert(clear.end(), payload.begin(), payload.end());
    clear.resize(32, 0);

    auto gcm = CSshCipher::Create("aes128-gcm@openssh.com");
    ASSERT_TRUE(gcm);
    auto gcmIn = gcm->Clone();
    for (auto* c : {gcm.get(), gcmIn.get()}) {
        c->SetKey(Pattern(16, 5));
        c->SetIV(Pattern(12, 6));
    }
    const char* const kGcm[] = {
        "0000001ca391a51982ac9dc8d6e4bdf6dbf0763947afd2191c792c30d33a2f9e92d5102543545f45a6f919bd7ad03a32",
        "0000001c53718b555b9230ab1cf1b9e2d412b3e3630c405cfe868b239ba4c21d9b03e66335882adcf49d78e8a0280434",
    };
    for (const char* expected : kGcm) {
        std::vector<std::uint8_t> packet = clear;
        packet.resize(48);
        gcm->Seal(packet.data(), 32, 0);
        EXPECT_EQ(Hex(packet), expected);
        EXPECT_EQ(gcmIn->PacketLength(packet.data(), 0), 28u);
        ASSERT_TRUE(gcmIn->Open(packet.data(), 32, 0));
        EXPECT_EQ(std::vector<std::uint8_t>(packet.begin(), packet.begin() + 32), clear);
    }

    auto chacha = CSshCipher::Create("chacha20-poly1305@openssh.com");
    ASSERT_TRUE(chacha);
    EXPECT_EQ(chacha->KeyBytes(), 64u);
    EXPECT_EQ(chacha->IvBytes(), 0u);
    EXPECT_EQ(chacha->BlockSize(), 8u);
    chacha->SetKey(Pattern(64, 9));
    std::vector<std::uint8_t> packet = clear;
    packet.resize(48);
    chacha->Seal(packet.data(), 32, 7);
    EXPECT_EQ(Hex(packet),
              "ed39398a212300654ec50f1e98e1720c11e685f0d31e469fa371d802332125e096e36be858fdc17df6117dbccf92b31d");
    EXPECT_EQ(chacha->PacketLength(packet.data(), 7), 28u);
    EXPECT_NE(chacha->PacketLength(packet.data(), 8), 28u);  // the nonce is the sequence number
    auto wrong = packet;
    EXPECT_FALSE(chacha->Open(wrong.data(), 32, 8));
    EXPECT_EQ(wrong, packet);  // nothing decrypted when the tag fails
    ASSERT_TRUE(chacha->Open(packet.data(), 32, 7));
    EXPECT_EQ(std::vector<std::uint8_t>(packet.begin(), packet.begin() + 32), clear);
}

TEST(KexTest, DiffieHellmanAgreesAndRefusesValuesOutOfRange)
{
    auto a = sshcore::CDiffieHellman::Group1();
    auto b = sshcore::CDiffieHellman::Group1();
    std::uint8_t counter = 0;
    a.GeneratePrivate(256, [&] { return counter += 77; });
    b.GeneratePrivate(2000, [&] { return counter += 13; });  // above q's size: drawn below q
    EXPECT_EQ(a.Shared(b.Public()), b.Shared(a.Public()));
    EXPECT_TRUE(a.InRange(b.Public()));
    for (const CBigNum& bad : {CBigNum(0), CBigNum(1), a.P().Minus(1), a.P(), CBigNum::FromMpint(Bytes("\xff")),
                               CBigNum::FromHex(std::string(300, 'f').c_str())})
        EXPECT_FALSE(a.InRange(bad));
}

namespace {
// Where a name stands in a list (the list's size when it is absent).
std::size_t At(const std::vector<std::string>& names, const std::string& name)
{
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}
}  // namespace

// The registry both engines offer from: every entry's figures agree with
// the primitive behind it, and each kind comes in its order of preference.
TEST(AlgorithmRegistry, FiguresMatchThePrimitivesAndTheOrderIsByStrength)
{
    using namespace sshcore;
    const auto rank = [](ECipherMode mode) { return mode == ECipherMode::Cbc ? 2 : mode == ECipherMode::Ctr ? 1 : 0; };
    int lastRank = 0;
    for (const SCipherAlgorithm& c : CipherAlgorithms()) {
        SCOPED_TRACE(c.name);
        EXPECT_GE(rank(c.mode), lastRank);
        lastRank = rank(c.mode);
        EXPECT_EQ(FindCipherAlgorithm(c.name), &c);
        switch (c.mode) {
        case ECipherMode::Gcm:
            EXPECT_EQ(c.ivBytes, CAesGcm::kIvSize);
            EXPECT_EQ(c.keyBits, c.keyBytes * 8);
            break;
        case ECipherMode::ChaCha:
            EXPECT_EQ(c.keyBytes, CChaChaPoly::kKeySize);
            EXPECT_EQ(c.ivBytes, 0u);
            break;
        default:
            EXPECT_EQ(c.keyBytes, GetCipherInfo(c.kind).keySize);
            EXPECT_EQ(c.blockSize, GetCipherInfo(c.kind).blockSize);
            EXPECT_EQ(c.ivBytes, c.blockSize);
            // Triple DES carries 168 key bits in 24 bytes, single DES 56 in 8.
            EXPECT_EQ(c.keyBits, c.family == ECipherFamily::TripleDes ? 168u
                                 : c.family == ECipherFamily::Des     ? 56u
                                                                      : c.keyBytes * 8);
        }
    }
    EXPECT_STREQ(CipherAlgorithms().back().name, "des-cbc");

    // Encrypt-then-MAC before the plain forms, SHA-2 before SHA-1 before
    // MD5; "none" last.
    std::vector<std::string> macs;
    for (const SMacAlgorithm& m : MacAlgorithms()) {
        macs.emplace_back(m.name);
        EXPECT_EQ(m.etm, macs.back().find("-etm@") != std::string::npos) << m.name;
        if (m.keyed) {
            const char* named = m.digest == EDigest::Sha512   ? "512"
                                : m.digest == EDigest::Sha256 ? "256"
                                : m.digest == EDigest::Sha1   ? "sha1"
                                                              : "md5";
            EXPECT_NE(macs.back().find(named), std::string::npos) << m.name;
        }
    }
    EXPECT_LT(At(macs, "hmac-sha2-256-etm@openssh.com"), At(macs, "hmac-sha2-256"));
    EXPECT_LT(At(macs, "hmac-sha2-256"), At(macs, "hmac-sha1"));
    EXPECT_LT(At(macs, "hmac-sha1"), At(macs, "hmac-md5"));
    EXPECT_EQ(macs.back(), "none");

    // Each method's hash and group are the ones its name says; the current
    // methods first.
    std::vector<std::string> kex;
    for (const SKexAlgorithm& k : KexAlgorithms()) {
        const std::string name = k.name;
        kex.push_back(name);
        const EDigest named = name.find("sha512") != std::string::npos   ? EDigest::Sha512
                              : name.find("sha256") != std::string::npos || name.find("sha2-") != std::string::npos
                                  ? EDigest::Sha256
                                                                         : EDigest::Sha1;
        EXPECT_EQ(k.hash, named) << name;
        if (k.kind == EKexKind::FixedGroup) {
            EXPECT_NE(name.find("group" + std::to_string(k.group) + "-"), std::string::npos) << name;
        }
        EXPECT_EQ(IsGroupExchange(k), name.find("group-exchange") != std::string::npos) << name;
    }
    EXPECT_LT(At(kex, "curve25519-sha256"), At(kex, "diffie-hellman-group14-sha256"));
    EXPECT_LT(At(kex, "diffie-hellman-group14-sha256"), At(kex, "diffie-hellman-group1-sha1"));

    const std::vector<std::string> hostKeys(HostKeyAlgorithms().begin(), HostKeyAlgorithms().end());
    EXPECT_LT(At(hostKeys, "ssh-ed25519"), At(hostKeys, "ssh-rsa"));
    EXPECT_LT(At(hostKeys, "rsa-sha2-256"), At(hostKeys, "ssh-rsa"));
    EXPECT_EQ(hostKeys.back(), "ssh-dss");

    // The setting decides what comes first; both can always fall back.
    for (bool on : {true, false}) {
        const auto compression = CompressionOffer(on);
        EXPECT_EQ(compression.front(), on ? "zlib" : "none");
        EXPECT_LT(At(compression, "none"), compression.size());
        EXPECT_LT(At(compression, "zlib@openssh.com"), compression.size());
    }
}

// The client offers the registry's names it runs, in the registry's order,
// and the markers after the key-exchange methods.
TEST(OfferTest, TheClientOffersWhatItRunsInTheRegistrysOrder)
{
    for (const auto& name : CSSH2::CipherOffer()) ASSERT_NE(CSshCipher::Create(name), nullptr) << name;
    for (const auto& name : CSSH2::MacOffer()) ASSERT_NE(CSshMac::Create(name), nullptr) << name;
    for (const auto& name : CSshHostKey::Names()) ASSERT_NE(CSshHostKey::Create(name), nullptr) << name;
    const auto ciphers = CSSH2::CipherOffer();
    for (std::size_t i = 1; i < ciphers.size(); ++i)
        EXPECT_LT(sshcore::FindCipherAlgorithm(ciphers[i - 1]), sshcore::FindCipherAlgorithm(ciphers[i])) << ciphers[i];
    EXPECT_EQ(ciphers.back(), "3des-cbc");
    const auto kex = CSSH2::KexOffer();
    ASSERT_EQ(kex.size(), sshcore::KexAlgorithms().size() + 2);
    EXPECT_EQ(std::set<std::string>(kex.end() - 2, kex.end()),
              (std::set<std::string>{"kex-strict-c-v00@openssh.com", "ext-info-c"}));
    for (const auto& c : CSshCipher::Table()) {
        EXPECT_EQ(c->Clone()->Name(), c->Name());
        EXPECT_TRUE(c->BlockSize() == 8 || c->BlockSize() == 16);
    }
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

CBigNum FromBn(const BIGNUM* bn)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, bytes.data());
    return CBigNum::FromBytes(bytes);
}

CBigNum Param(EVP_PKEY* key, const char* name)
{
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    const CBigNum n = FromBn(bn);
    BN_free(bn);
    return n;
}

std::vector<std::uint8_t> SignWith(EVP_PKEY* key, const EVP_MD* md, ByteView data)
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, md, nullptr, key);
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

// A name, then one string of bytes: a signature blob, or an Ed25519 key.
std::vector<std::uint8_t> NamedBlob(std::string_view name, ByteView bytes) { return Blob({name, AsText(bytes)}, {}); }

bool Accepts(std::string_view name, ByteView blob) { return CSshHostKey::Create(name)->SetKey(blob); }

// The MD5 fingerprint ssh-keygen prints for a public key blob.
std::string KeygenFingerprint(const std::string& type, ByteView blob)
{
    TempDir dir;
    std::ofstream(dir.file("key.pub")) << type << " " << Base64(blob) << " test\n";
    return ShellOutput("ssh-keygen -l -E md5 -f " + dir.file("key.pub") + " 2>/dev/null");
}

// The host key `name` set from `blob`, or null after a failure. Its
// fingerprint starts with `fpStart`, and its MD5 digits are those ssh-keygen
// (when installed) prints after `keygenBits`.
std::unique_ptr<CSshHostKey> LoadKey(std::string_view name, ByteView blob, const std::string& fpStart,
                                     const std::string& keygenBits)
{
    auto hostKey = CSshHostKey::Create(name);
    if (!hostKey->SetKey(blob)) {
        ADD_FAILURE() << name << " refused its own blob";
        return nullptr;
    }
    const std::string fp = hostKey->Fingerprint();
    if (fp.rfind(fpStart, 0) != 0) {
        ADD_FAILURE() << fp << " does not start with " << fpStart;
        return nullptr;
    }
    const std::string keygen = KeygenFingerprint(std::string(name), blob);
    if (!keygen.empty()) {
        EXPECT_EQ(keygen.substr(0, keygenBits.size() + 5 + 47), keygenBits + " MD5:" + fp.substr(fpStart.size()))
            << keygen;
    }
    return hostKey;
}

// One RSA key under its three names: ssh-rsa (SHA-1) and the two SHA-2
// forms share the cache entry and the fingerprint; a signature's name must
// be the negotiated one, and its hash the named one.
TEST(HostKeyTest, RsaKeyStringFingerprintAndSignatures)
{
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(2048)));
    ASSERT_TRUE(key);
    const CBigNum e = Param(key.get(), OSSL_PKEY_PARAM_RSA_E), n = Param(key.get(), OSSL_PKEY_PARAM_RSA_N);
    const auto blob = Blob({"ssh-rsa"}, {e, n});
    auto plain = LoadKey("ssh-rsa", blob, "ssh-rsa 2048 ", "2048");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->KeyString(), "0x10001,0x" + n.ToHex());
    EXPECT_STREQ(plain->CacheType(), "rsa2");

    const auto h = Bytes("thirty-two bytes of exchange has");
    const auto sig1 = SignWith(key.get(), EVP_sha1(), h);
    const auto sig256 = SignWith(key.get(), EVP_sha256(), h), sig512 = SignWith(key.get(), EVP_sha512(), h);
    EXPECT_TRUE(plain->Verify(NamedBlob("ssh-rsa", sig1), h));
    auto bad = sig1;
    bad[10] ^= 4;
    EXPECT_FALSE(plain->Verify(NamedBlob("ssh-rsa", bad), h));
    EXPECT_FALSE(plain->Verify(NamedBlob("ssh-dss", sig1), h));
    EXPECT_FALSE(plain->Verify(NamedBlob("ssh-rsa", sig1), Bytes("other bytes of exchange hash!!!!")));
    EXPECT_FALSE(plain->Verify(NamedBlob("ssh-rsa", sig256), h));
    auto k256 = CSshHostKey::Create("rsa-sha2-256"), k512 = CSshHostKey::Create("rsa-sha2-512");
    ASSERT_TRUE(k256->SetKey(blob));
    ASSERT_TRUE(k512->SetKey(blob));
    EXPECT_TRUE(k256->Verify(NamedBlob("rsa-sha2-256", sig256), h));
    EXPECT_TRUE(k512->Verify(NamedBlob("rsa-sha2-512", sig512), h));
    EXPECT_FALSE(k256->Verify(NamedBlob("rsa-sha2-512", sig512), h));
    EXPECT_FALSE(k512->Verify(NamedBlob("rsa-sha2-512", sig256), h));
    EXPECT_FALSE(k256->Verify(NamedBlob("ssh-rsa", sig256), h));
    for (const auto* k : {k256.get(), k512.get()}) {
        EXPECT_STREQ(k->CacheType(), "rsa2");
        EXPECT_EQ(k->KeyString(), plain->KeyString());
        EXPECT_EQ(k->Fingerprint(), plain->Fingerprint());
    }
    EXPECT_STREQ(k512->Name(), "rsa-sha2-512");
    // A DSA blob is not an RSA key; nor is a truncated one.
    EXPECT_FALSE(Accepts("ssh-rsa", Blob({"ssh-dss"}, {e, n})));
    EXPECT_FALSE(Accepts("ssh-rsa", ByteView(blob).first(blob.size() - 1)));
}

TEST(HostKeyTest, Ed25519KeyStringFingerprintAndSignature)
{
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    ASSERT_TRUE(key);
    std::vector<std::uint8_t> pub(32);
    std::size_t size = pub.size();
    ASSERT_EQ(EVP_PKEY_get_raw_public_key(key.get(), pub.data(), &size), 1);
    auto hostKey = LoadKey("ssh-ed25519", NamedBlob("ssh-ed25519", pub), "ssh-ed25519 255 ", "256");
    ASSERT_TRUE(hostKey);
    EXPECT_STREQ(hostKey->CacheType(), "ssh-ed25519");
    EXPECT_EQ(hostKey->KeyString(), "0x" + Hex(pub));

    const auto h = Bytes("thirty-two bytes of exchange has");
    const auto sig = SignWith(key.get(), nullptr, h);
    ASSERT_EQ(sig.size(), 64u);
    EXPECT_TRUE(hostKey->Verify(NamedBlob("ssh-ed25519", sig), h));
    auto bad = sig;
    bad[5] ^= 0x10;
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ssh-ed25519", bad), h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ssh-ed25519", ByteView(sig).first(63)), h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ssh-rsa", sig), h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ssh-ed25519", sig), Bytes("other bytes")));
    EXPECT_FALSE(Accepts("ssh-ed25519", NamedBlob("ssh-ed25519", ByteView(pub).first(31))));
    EXPECT_FALSE(Accepts("ssh-ed25519", NamedBlob("ssh-rsa", pub)));
    // Leading zero bytes of the key keep their digits.
    std::vector<std::uint8_t> low(32, 0);
    low[31] = 1;
    auto lowKey = CSshHostKey::Create("ssh-ed25519");
    ASSERT_TRUE(lowKey->SetKey(NamedBlob("ssh-ed25519", low)));
    EXPECT_EQ(lowKey->KeyString(), "0x" + std::string(62, '0') + "01");
}

TEST(HostKeyTest, EcdsaKeyStringFingerprintAndSignature)
{
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    ASSERT_TRUE(key);
    std::vector<std::uint8_t> point(65);
    std::size_t size = 0;
    ASSERT_EQ(EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &size),
              1);
    const auto blobOf = [](std::string_view curve, ByteView q) {
        return Blob({"ecdsa-sha2-nistp256", curve, AsText(q)}, {});
    };
    auto hostKey = LoadKey("ecdsa-sha2-nistp256", blobOf("nistp256", point), "ecdsa-sha2-nistp256 256 ", "256");
    ASSERT_TRUE(hostKey);
    EXPECT_STREQ(hostKey->CacheType(), "ecdsa-sha2-nistp256");
    EXPECT_EQ(hostKey->KeyString(), "nistp256,0x" + CBigNum::FromBytes(ByteView(point).subspan(1, 32)).ToHex() +
                                        ",0x" + CBigNum::FromBytes(ByteView(point).subspan(33, 32)).ToHex());

    const auto h = Bytes("thirty-two bytes of exchange has");
    const auto der = SignWith(key.get(), EVP_sha256(), h);
    const unsigned char* cursor = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der.size()));
    ASSERT_NE(sig, nullptr);
    const CBigNum cr = FromBn(ECDSA_SIG_get0_r(sig)), cs = FromBn(ECDSA_SIG_get0_s(sig));
    ECDSA_SIG_free(sig);
    const auto rs = Blob({}, {cr, cs});
    EXPECT_TRUE(hostKey->Verify(NamedBlob("ecdsa-sha2-nistp256", rs), h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ecdsa-sha2-nistp256", Blob({}, {cs, cr})), h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ecdsa-sha2-nistp256", Blob({}, {cr})), h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ssh-ed25519", rs), h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ecdsa-sha2-nistp256", rs), Bytes("other bytes")));
    // Another curve's name, a compressed point, a short point.
    EXPECT_FALSE(Accepts("ecdsa-sha2-nistp256", blobOf("nistp384", point)));
    auto compressed = point;
    compressed[0] = 0x02;
    EXPECT_FALSE(Accepts("ecdsa-sha2-nistp256", blobOf("nistp256", ByteView(compressed).first(33))));
    EXPECT_FALSE(Accepts("ecdsa-sha2-nistp256", blobOf("nistp256", ByteView(point).first(64))));
}

TEST(HostKeyTest, DssKeyStringAndBothSignatureForms)
{
    PkeyPtr key = MakeDsaKey();
    ASSERT_TRUE(key);
    const CBigNum p = Param(key.get(), OSSL_PKEY_PARAM_FFC_P), q = Param(key.get(), OSSL_PKEY_PARAM_FFC_Q),
                  g = Param(key.get(), OSSL_PKEY_PARAM_FFC_G), y = Param(key.get(), OSSL_PKEY_PARAM_PUB_KEY);
    auto hostKey = LoadKey("ssh-dss", Blob({"ssh-dss"}, {p, q, g, y}), "ssh-dss 1024 ", "1024");
    ASSERT_TRUE(hostKey);
    EXPECT_EQ(hostKey->KeyString(), "0x" + p.ToHex() + ",0x" + q.ToHex() + ",0x" + g.ToHex() + ",0x" + y.ToHex());

    const auto h = Bytes("twenty bytes of hash");
    const auto der = SignWith(key.get(), EVP_sha1(), h);
    const unsigned char* cursor = der.data();
    DSA_SIG* sig = d2i_DSA_SIG(nullptr, &cursor, static_cast<long>(der.size()));
    std::vector<std::uint8_t> raw(40);
    const BIGNUM *r = nullptr, *s = nullptr;
    DSA_SIG_get0(sig, &r, &s);
    BN_bn2binpad(r, raw.data(), 20);
    BN_bn2binpad(s, raw.data() + 20, 20);
    DSA_SIG_free(sig);
    EXPECT_TRUE(hostKey->Verify(raw, h));
    EXPECT_TRUE(hostKey->Verify(NamedBlob("ssh-dss", raw), h));
    raw[39] ^= 1;
    EXPECT_FALSE(hostKey->Verify(raw, h));
    EXPECT_FALSE(hostKey->Verify(NamedBlob("ssh-dss", ByteView(raw).first(39)), h));
}

// ------------------------------------------------------ the random seed

TEST(RandomPoolTest, SeedIsWrittenAtStartAndReadBack)
{
    TempRegistry registry;
    CRandomPool& pool = CRandomPool::Instance();
    const auto stored = [](std::vector<std::uint8_t>& seed) {
        return RegReadBinary(HKEY_LOCAL_MACHINE, u"Software\\Quillon\\Corvel", u"RandomSeed", seed);
    };
    pool.Reset();
    pool.SaveSeed();  // not initialised: nothing written
    std::vector<std::uint8_t> seed, next;
    EXPECT_FALSE(stored(seed));
    pool.Initialise();
    ASSERT_TRUE(stored(seed));
    EXPECT_EQ(seed.size(), CRandomPool::kSeedSize);
    pool.SaveSeed();
    ASSERT_TRUE(stored(next));
    EXPECT_NE(next, seed);
}

// ------------------------------------------------------ shared wrappers

TEST(CryptoTest, DigestsHmacAndCompressionFunction)
{
    EXPECT_EQ(Hex(sshcore::Sha1(Bytes("abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Hex(sshcore::Md5(Bytes("abc"))), "900150983cd24fb0d6963f7d28e17f72");
    // RFC 2202, test case 2.
    sshcore::CHmac hmac(sshcore::EDigest::Sha1, Bytes("Jefe"));
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
    sshcore::Sha1Compress(state, block);
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
