// The upload engine's current key exchange without a network: known answers
// for the exchange hashes and the key derivation (kex_vectors.txt, made by
// make_kex_vectors.py with Python's hashlib and cryptography), refusals of
// bad server values, host keys and their signatures, and strict key
// exchange's sequence numbers in a whole exchange against a test server.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"
#include "scp/scp_packet.h"
#include "scp/scp_ssh.h"
#include "scp/scp_store.h"
#include "tests/scp/scp_bytes.h"
#include "tests/support/temp_dir.h"

namespace {

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Derive(int alg, const Bytes& k, const Bytes& h, char letter, const Bytes& sid, std::size_t n)
{
    Bytes out(n);
    EXPECT_EQ(scp_kex_derive(alg, k.data(), k.size(), h.data(), h.size(), letter, sid.data(), sid.size(), out.data(), n), 0);
    return out;
}

// The ECDH points and the shared secret of an exchange hash.
void SetPoints(ScpExchangeParts& parts, const Bytes& qc, const Bytes& qs, const Bytes& k)
{
    parts.qc = qc.data();
    parts.qcLen = qc.size();
    parts.qs = qs.data();
    parts.qsLen = qs.size();
    parts.kMpint = k.data();
    parts.kLen = k.size();
}

template <auto Free>
struct Deleter {
    void operator()(auto* p) const { Free(p); }
};
using Bn = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
Bn BnHex(const std::string& hex)
{
    BIGNUM* n = nullptr;
    BN_hex2bn(&n, hex.c_str());
    return Bn(n);
}

std::map<std::string, std::string> Vectors()
{
    std::map<std::string, std::string> v;
    std::ifstream in(SourceDir() + "/tests/scp/kex_vectors.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find(" = ");
        if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 3);
    }
    return v;
}

class KexVectors : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_v = Vectors();
        ASSERT_FALSE(m_v.empty()) << "kex_vectors.txt not found";
        for (const char* key : {"v_c", "v_s", "i_c", "i_s", "k_s"}) m_b[key] = FromHex(m_v[key]);
        m_vc.assign(m_b["v_c"].begin(), m_b["v_c"].end());
        m_vs.assign(m_b["v_s"].begin(), m_b["v_s"].end());
        m_parts.clientVersion = m_vc.c_str();
        m_parts.serverVersion = m_vs.c_str();
        m_parts.kexinitClient = m_b["i_c"].data();
        m_parts.kexinitClientLen = m_b["i_c"].size();
        m_parts.kexinitServer = m_b["i_s"].data();
        m_parts.kexinitServerLen = m_b["i_s"].size();
        m_parts.hostKey = m_b["k_s"].data();
        m_parts.hostKeyLen = m_b["k_s"].size();
    }

    Bytes Hash(int alg)
    {
        Bytes h(scp_hash_len(alg));
        EXPECT_EQ(scp_exchange_hash(alg, &m_parts, h.data()), 0);
        return h;
    }

    std::map<std::string, std::string> m_v;
    std::map<std::string, Bytes> m_b;
    std::string m_vc, m_vs;
    ScpExchangeParts m_parts{};
};

TEST_F(KexVectors, Curve25519SecretHashAndLongKeys)
{
    const Bytes priv = FromHex(m_v["x25519_client_private"]);
    const Bytes serverPublic = FromHex(m_v["x25519_server_public"]);
    ScpEcdh ecdh{};
    ScpBuf qc{}, k{};
    ASSERT_EQ(scp_ecdh_start(&ecdh, SCP_ECDH_X25519, priv.data(), &qc), 0);
    EXPECT_EQ(ToBytes(qc), FromHex(m_v["x25519_client_public"]));
    ASSERT_EQ(scp_ecdh_finish(&ecdh, serverPublic.data(), serverPublic.size(), &k), 0);
    const Bytes kBytes = ToBytes(k), qcBytes = ToBytes(qc);
    EXPECT_EQ(kBytes, FromHex(m_v["x25519_k"]));  // a leading zero byte: the secret's top bit is set
    scp_ecdh_end(&ecdh);

    SetPoints(m_parts, qcBytes, serverPublic, kBytes);
    const Bytes h = Hash(SCP_HASH_SHA256);
    EXPECT_EQ(h, FromHex(m_v["x25519_h"]));
    // 64 bytes (chacha20-poly1305) take two SHA-256 blocks, 100 bytes four.
    EXPECT_EQ(Derive(SCP_HASH_SHA256, kBytes, h, 'C', h, 64), FromHex(m_v["x25519_key_c_64"]));
    EXPECT_EQ(Derive(SCP_HASH_SHA256, kBytes, h, 'A', h, 100), FromHex(m_v["x25519_key_a_100"]));
    // A prefix is the same derivation cut short.
    const Bytes c64 = FromHex(m_v["x25519_key_c_64"]);
    EXPECT_EQ(Derive(SCP_HASH_SHA256, kBytes, h, 'C', h, 16), Bytes(c64.begin(), c64.begin() + 16));
    scp_buf_free(&qc);
    scp_buf_free(&k);
}

TEST_F(KexVectors, NistP256HashesBothPointsAsStrings)
{
    const Bytes qc = FromHex(m_v["p256_q_c"]), qs = FromHex(m_v["p256_q_s"]), k = FromHex(m_v["p256_k"]);
    SetPoints(m_parts, qc, qs, k);
    EXPECT_EQ(Hash(SCP_HASH_SHA256), FromHex(m_v["p256_h"]));
}

TEST_F(KexVectors, FixedGroupsAndGroupExchange)
{
    const Bn e = BnHex(m_v["dh_e"]), f = BnHex(m_v["dh_f"]), kn = BnHex(m_v["dh_k"]);
    ScpBuf kBuf{};
    ASSERT_EQ(scp_buf_put_mpint(&kBuf, kn.get()), 0);
    const Bytes k = ToBytes(kBuf);
    scp_buf_free(&kBuf);
    m_parts.e = e.get();
    m_parts.f = f.get();
    m_parts.kMpint = k.data();
    m_parts.kLen = k.size();

    const Bytes h16 = Hash(SCP_HASH_SHA512);
    EXPECT_EQ(h16, FromHex(m_v["g16_h"]));
    const Bytes sid = FromHex(m_v["g16_session_id"]);
    EXPECT_EQ(Derive(SCP_HASH_SHA512, k, h16, 'E', sid, 64), FromHex(m_v["g16_key_e_64"]));
    EXPECT_EQ(Derive(SCP_HASH_SHA512, k, h16, 'D', sid, 130), FromHex(m_v["g16_key_d_130"]));
    EXPECT_EQ(Hash(SCP_HASH_SHA256), FromHex(m_v["g14_h"]));

    const Bn p = BnHex(m_v["gex_p"]), g = BnHex(m_v["gex_g"]);
    m_parts.p = p.get();
    m_parts.g = g.get();
    m_parts.gex = SCP_GEX_RANGE;
    m_parts.gexMin = 2048;
    m_parts.gexBits = 7680;
    m_parts.gexMax = 8192;
    EXPECT_EQ(Hash(SCP_HASH_SHA256), FromHex(m_v["gex_h"]));
    // The old request hashes n alone, with SHA-1, and derives as before.
    m_parts.gex = SCP_GEX_OLD;
    m_parts.gexBits = 2048;
    const Bytes hOld = Hash(SCP_HASH_SHA1);
    EXPECT_EQ(hOld, FromHex(m_v["gexold_h"]));
    EXPECT_EQ(Derive(SCP_HASH_SHA1, k, hOld, 'C', hOld, 40), FromHex(m_v["gexold_key_c_40"]));
}

// The Diffie-Hellman numbers, worked by the shared primitive.
TEST_F(KexVectors, DiffieHellmanNumbersMatchPythonsAndBothSidesAgree)
{
    const Bn p = BnHex(m_v["gex_p"]), g = BnHex(m_v["gex_g"]), x = BnHex(m_v["dh_x"]), y = BnHex(m_v["dh_y"]);
    BIGNUM *e = nullptr, *f = nullptr, *k1 = nullptr, *k2 = nullptr;
    ASSERT_EQ(scp_dh_public(p.get(), g.get(), x.get(), &e), SCP_OK);
    ASSERT_EQ(scp_dh_public(p.get(), g.get(), y.get(), &f), SCP_OK);
    const Bn eOwn(e), fOwn(f);
    EXPECT_EQ(BN_cmp(e, BnHex(m_v["dh_gx"]).get()), 0);
    EXPECT_EQ(BN_cmp(f, BnHex(m_v["dh_gy"]).get()), 0);
    ASSERT_EQ(scp_dh_shared(p.get(), x.get(), f, &k1), SCP_OK);
    ASSERT_EQ(scp_dh_shared(p.get(), y.get(), e, &k2), SCP_OK);
    const Bn k1Own(k1), k2Own(k2);
    EXPECT_EQ(BN_cmp(k1, BnHex(m_v["dh_gxy"]).get()), 0);
    EXPECT_EQ(BN_cmp(k1, k2), 0);
}

TEST(ScpDiffieHellman, FixedGroupsHaveTheirSizeAndFreshPairsAgree)
{
    ScpRandomPool pool{};
    scp_random_init(&pool);
    for (const auto& [group, bits] : {std::pair{1, 1024}, {14, 2048}, {16, 4096}, {18, 8192}}) {
        BIGNUM *p = nullptr, *g = nullptr;
        ASSERT_EQ(scp_dh_fixed_group(group, &p, &g), SCP_OK) << group;
        const Bn pOwn(p), gOwn(g);
        EXPECT_EQ(BN_num_bits(p), bits) << group;
        EXPECT_TRUE(BN_is_word(g, 2)) << group;
        EXPECT_TRUE(scp_dh_group_usable(p, g, 1024, 8192)) << group;
        if (group == 18) continue;  // an 8192-bit exchange adds seconds and nothing the others miss
        BIGNUM *x = nullptr, *e = nullptr, *y = nullptr, *f = nullptr, *k1 = nullptr, *k2 = nullptr;
        ASSERT_EQ(scp_dh_generate(p, g, 256, &pool, &x, &e), SCP_OK);
        ASSERT_EQ(scp_dh_generate(p, g, 256, &pool, &y, &f), SCP_OK);
        const Bn xOwn(x), eOwn(e), yOwn(y), fOwn(f);
        EXPECT_LE(BN_num_bits(x), 256);
        EXPECT_GT(BN_num_bits(x), 1);
        EXPECT_NE(BN_cmp(x, y), 0);
        ASSERT_EQ(scp_dh_shared(p, x, f, &k1), SCP_OK);
        ASSERT_EQ(scp_dh_shared(p, y, e, &k2), SCP_OK);
        const Bn k1Own(k1), k2Own(k2);
        EXPECT_EQ(BN_cmp(k1, k2), 0) << group;
    }
    BIGNUM *p = nullptr, *g = nullptr;
    EXPECT_EQ(scp_dh_fixed_group(15, &p, &g), SCP_E_INTERNAL);
    EXPECT_EQ(p, nullptr);
}

TEST(ScpDiffieHellman, ServerValuesOutsideTheGroupAreRefused)
{
    BIGNUM *p = nullptr, *g = nullptr;
    ASSERT_EQ(scp_dh_fixed_group(14, &p, &g), SCP_OK);
    const Bn pOwn(p), gOwn(g), x = BnHex("1234567890abcdef");
    const Bn zero = BnHex("0"), one = BnHex("1"), two = BnHex("2");
    const Bn pm1(BN_dup(p)), pm2(BN_dup(p)), pp1(BN_dup(p));
    BN_sub_word(pm1.get(), 1);
    BN_sub_word(pm2.get(), 2);
    BN_add_word(pp1.get(), 1);
    // f of 0, 1 or p - 1 would force K into a tiny set; p and above is no element.
    for (const BIGNUM* f : {zero.get(), one.get(), pm1.get(), p, pp1.get()}) {
        BIGNUM* k = nullptr;
        EXPECT_EQ(scp_dh_shared(p, x.get(), f, &k), SCP_E_AUTHENTICATE);
        EXPECT_EQ(k, nullptr);
    }
    for (const BIGNUM* f : {two.get(), pm2.get()}) {
        BIGNUM* k = nullptr;
        EXPECT_EQ(scp_dh_shared(p, x.get(), f, &k), SCP_OK);
        scp_bn_free(k);
    }
    // A server's group: odd, inside the size range, 1 < g < p - 1.
    const Bn even(BN_dup(p));
    BN_sub_word(even.get(), 1);
    EXPECT_FALSE(scp_dh_group_usable(even.get(), g, 1024, 8192));
    EXPECT_FALSE(scp_dh_group_usable(p, g, 2049, 8192));
    EXPECT_FALSE(scp_dh_group_usable(p, g, 512, 2047));
    for (const BIGNUM* bad : {one.get(), zero.get(), pm1.get(), p})
        EXPECT_FALSE(scp_dh_group_usable(p, bad, 1024, 8192));
    EXPECT_TRUE(scp_dh_group_usable(p, pm2.get(), 2048, 2048));
}

// ---------------------------------------------------------------- server values refused

TEST(ScpEcdh, BadServerValuesAreRefused)
{
    auto finish = [](int kind, const Bytes& peer) {
        ScpEcdh ecdh{};
        ScpBuf pub{}, k{};
        int rc = scp_ecdh_start(&ecdh, kind, nullptr, &pub);
        if (!rc) rc = scp_ecdh_finish(&ecdh, peer.data(), peer.size(), &k);
        scp_ecdh_end(&ecdh);
        scp_buf_free(&pub);
        scp_buf_free(&k);
        return rc;
    };
    // A copy of value with one byte changed.
    auto with = [](Bytes value, std::size_t at, std::uint8_t byte) {
        value[at] = byte;
        return value;
    };
    EXPECT_EQ(finish(SCP_ECDH_X25519, with(Bytes(32, 0), 0, 9)), 0);  // the base point, u = 9
    EXPECT_EQ(finish(SCP_ECDH_X25519, Bytes(31, 9)), SCP_E_AUTHENTICATE);
    EXPECT_EQ(finish(SCP_ECDH_X25519, Bytes(33, 9)), SCP_E_AUTHENTICATE);
    // u = 0 and u = 1 are of small order: the secret comes out all zero.
    EXPECT_EQ(finish(SCP_ECDH_X25519, Bytes(32, 0)), SCP_E_AUTHENTICATE);
    EXPECT_EQ(finish(SCP_ECDH_X25519, with(Bytes(32, 0), 0, 1)), SCP_E_AUTHENTICATE);

    // P-256: a point of the curve is taken; one off it, a compressed one, a
    // short one and the wrong prefix are not.
    ScpEcdh other{};
    ScpBuf point{};
    ASSERT_EQ(scp_ecdh_start(&other, SCP_ECDH_P256, nullptr, &point), 0);
    scp_ecdh_end(&other);
    Bytes q = ToBytes(point);
    scp_buf_free(&point);
    ASSERT_EQ(q.size(), 65u);
    EXPECT_EQ(finish(SCP_ECDH_P256, q), 0);
    EXPECT_EQ(finish(SCP_ECDH_P256, with(q, 64, q[64] ^ 1)), SCP_E_AUTHENTICATE);
    EXPECT_EQ(finish(SCP_ECDH_P256, with(q, 0, 5)), SCP_E_AUTHENTICATE);
    EXPECT_EQ(finish(SCP_ECDH_P256, Bytes(q.begin(), q.begin() + 33)), SCP_E_AUTHENTICATE);
    EXPECT_EQ(finish(SCP_ECDH_P256, Bytes(q.begin(), q.end() - 1)), SCP_E_AUTHENTICATE);
}

// ---------------------------------------------------------------- host keys

// A host key made by OpenSSL and its SSH blob.
struct TestHostKey {
    Pkey key;
    Bytes blob;
};

Bytes RawPublic(EVP_PKEY* key)
{
    std::size_t n = 0;
    EVP_PKEY_get_raw_public_key(key, nullptr, &n);
    Bytes out(n);
    EVP_PKEY_get_raw_public_key(key, out.data(), &n);
    return out;
}

Bytes Mpint(const BIGNUM* n)
{
    Bytes raw(static_cast<std::size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, raw.data());
    if (!raw.empty() && (raw[0] & 0x80)) raw.insert(raw.begin(), 0);
    Bytes out;
    PutString(out, raw);
    return out;
}

TestHostKey MakeHostKey(const std::string& type)
{
    TestHostKey k;
    if (type == "ssh-ed25519") {
        k.key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
        PutString(k.blob, type);
        PutString(k.blob, RawPublic(k.key.get()));
    } else if (type == "ecdsa-sha2-nistp256") {
        k.key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
        Bytes point(65);
        std::size_t n = 0;
        EVP_PKEY_get_octet_string_param(k.key.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(), point.size(), &n);
        PutString(k.blob, type);
        PutString(k.blob, std::string("nistp256"));
        PutString(k.blob, point);
    } else {
        k.key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048)));
        BIGNUM *e = nullptr, *n = nullptr;
        EVP_PKEY_get_bn_param(k.key.get(), OSSL_PKEY_PARAM_RSA_E, &e);
        EVP_PKEY_get_bn_param(k.key.get(), OSSL_PKEY_PARAM_RSA_N, &n);
        const Bn owners[] = {Bn(e), Bn(n)};
        PutString(k.blob, std::string("ssh-rsa"));
        Append(k.blob, Mpint(e));
        Append(k.blob, Mpint(n));
    }
    return k;
}

// The SSH signature blob over data as the named algorithm makes it.
Bytes Sign(EVP_PKEY* key, const std::string& alg, const Bytes& data)
{
    const EVP_MD* md = alg == "ssh-ed25519" ? nullptr
                       : alg == "rsa-sha2-512" ? EVP_sha512()
                       : alg == "ssh-rsa"      ? EVP_sha1()
                                               : EVP_sha256();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t n = 0;
    EVP_DigestSignInit(ctx, nullptr, md, nullptr, key);
    EVP_DigestSign(ctx, nullptr, &n, data.data(), data.size());
    Bytes sig(n);
    EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size());
    sig.resize(n);
    EVP_MD_CTX_free(ctx);
    Bytes inner = sig;
    if (alg == "ecdsa-sha2-nistp256") {
        // DER to (mpint r, mpint s).
        const unsigned char* p = sig.data();
        ECDSA_SIG* ec = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(sig.size()));
        const BIGNUM *r = nullptr, *s = nullptr;
        ECDSA_SIG_get0(ec, &r, &s);
        inner = Mpint(r);
        Append(inner, Mpint(s));
        ECDSA_SIG_free(ec);
    }
    Bytes out;
    PutString(out, alg);
    PutString(out, inner);
    return out;
}

TEST(ScpHostKeys, CurrentTypesParseVerifyAndRefuseForgeries)
{
    const Bytes h(32, 0x5c);
    const struct {
        const char* blobType;
        const char* alg;
        const char* cacheType;
        std::string fingerprintStart;
    } cases[] = {
        {"ssh-ed25519", "ssh-ed25519", "ssh-ed25519", "ssh-ed25519 255 "},
        {"ecdsa-sha2-nistp256", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp256 256 "},
        {"ssh-rsa", "rsa-sha2-256", "rsa2", "ssh-rsa 2048 "},
        {"ssh-rsa", "rsa-sha2-512", "rsa2", "ssh-rsa 2048 "},
        {"ssh-rsa", "ssh-rsa", "rsa2", "ssh-rsa 2048 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alg);
        const TestHostKey k = MakeHostKey(c.blobType);
        ScpHostKey key{};
        ASSERT_EQ(scp_hostkey_parse(k.blob.data(), k.blob.size(), &key), 0);
        EXPECT_STREQ(key.cacheType, c.cacheType);
        EXPECT_EQ(std::string(key.fingerprint).rfind(c.fingerprintStart, 0), 0u) << key.fingerprint;
        EXPECT_EQ(std::string(key.fingerprint).size(), c.fingerprintStart.size() + 47);
        const Bytes sig = Sign(k.key.get(), c.alg, h);
        EXPECT_EQ(scp_hostkey_verify_alg(&key, c.alg, sig.data(), sig.size(), h.data(), h.size()), 0);
        // Other data, a flipped byte of the signature, another algorithm's
        // name and a truncated blob are refused.
        Bytes other = h;
        other[0] ^= 1;
        EXPECT_EQ(scp_hostkey_verify_alg(&key, c.alg, sig.data(), sig.size(), other.data(), other.size()), SCP_E_AUTHENTICATE);
        Bytes flipped = sig;
        flipped[flipped.size() - 5] ^= 0x10;
        EXPECT_EQ(scp_hostkey_verify_alg(&key, c.alg, flipped.data(), flipped.size(), h.data(), h.size()), SCP_E_AUTHENTICATE);
        const char* wrong = std::string(c.alg) == "rsa-sha2-512" ? "rsa-sha2-256" : "rsa-sha2-512";
        if (std::string(c.blobType) == "ssh-rsa") {
            // The signature's name must be the negotiated one.
            EXPECT_EQ(scp_hostkey_verify_alg(&key, wrong, sig.data(), sig.size(), h.data(), h.size()), SCP_E_AUTHENTICATE);
        } else {
            EXPECT_EQ(scp_hostkey_verify_alg(&key, "ssh-rsa", sig.data(), sig.size(), h.data(), h.size()), SCP_E_AUTHENTICATE);
        }
        for (std::size_t cut = 0; cut < sig.size(); cut += 7)
            EXPECT_EQ(scp_hostkey_verify_alg(&key, c.alg, sig.data(), cut, h.data(), h.size()), SCP_E_AUTHENTICATE) << cut;
        scp_hostkey_free(&key);
        // Every truncation of the key blob is refused.
        for (std::size_t cut = 0; cut < k.blob.size(); ++cut) {
            ScpHostKey part{};
            EXPECT_NE(scp_hostkey_parse(k.blob.data(), cut, &part), 0) << cut;
        }
    }
}

TEST(ScpHostKeys, StoreTextKeepsEd25519DigitsAndDropsEcdsaLeadingZeros)
{
    // An Ed25519 key whose bytes start with zeros keeps them in the text.
    Bytes raw(32);
    for (int i = 0; i < 32; ++i) raw[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    Bytes blob;
    PutString(blob, std::string("ssh-ed25519"));
    PutString(blob, raw);
    ScpHostKey key{};
    ASSERT_EQ(scp_hostkey_parse(blob.data(), blob.size(), &key), 0);
    EXPECT_STREQ(key.text, "0x000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    scp_hostkey_free(&key);
    // A 31-byte key is refused.
    Bytes shortBlob;
    PutString(shortBlob, std::string("ssh-ed25519"));
    PutString(shortBlob, Bytes(31, 1));
    EXPECT_EQ(scp_hostkey_parse(shortBlob.data(), shortBlob.size(), &key), SCP_E_AUTHENTICATE);

    // ECDSA: keys until one has a coordinate with a leading zero digit.
    bool sawShort = false;
    for (int tries = 0; tries < 200 && !sawShort; ++tries) {
        const TestHostKey k = MakeHostKey("ecdsa-sha2-nistp256");
        ASSERT_EQ(scp_hostkey_parse(k.blob.data(), k.blob.size(), &key), 0);
        const std::string text = key.text;
        const Bytes point(k.blob.end() - 65, k.blob.end());
        // Lower-case hexadecimal without leading zero digits.
        auto number = [&](std::size_t from) {
            std::string hex;
            char two[3];
            for (std::size_t i = from; i < from + 32; ++i) {
                std::snprintf(two, sizeof two, "%02x", point[i]);
                hex += two;
            }
            const std::size_t first = hex.find_first_not_of('0');
            return hex.substr(first == std::string::npos ? hex.size() - 1 : first);
        };
        EXPECT_EQ(text, "nistp256,0x" + number(1) + ",0x" + number(33));
        sawShort = point[1] < 0x10 || point[33] < 0x10;
        scp_hostkey_free(&key);
    }
    EXPECT_TRUE(sawShort);
}

// ---------------------------------------------------------------- a whole exchange

Bytes Plain(const Bytes& payload)
{
    // A packet before keys: padding to a multiple of 8, at least 4 bytes.
    std::size_t padding = 8 - (5 + payload.size()) % 8;
    if (padding < 4) padding += 8;
    Bytes out;
    PutU32(out, static_cast<std::uint32_t>(1 + payload.size() + padding));
    out.push_back(static_cast<std::uint8_t>(padding));
    Append(out, payload);
    out.insert(out.end(), padding, 0);
    return out;
}

// A server's KEXINIT with one list of each kind, the same both ways.
Bytes ServerKexinit(const std::string& kex, const std::string& hostKey, const std::string& cipher, const std::string& mac)
{
    Bytes p{20};
    p.insert(p.end(), 16, 0x33);
    for (const std::string& s :
         {kex, hostKey, cipher, cipher, mac, mac, std::string("none"), std::string("none"), std::string(), std::string()})
        PutString(p, s);
    p.push_back(0);
    p.insert(p.end(), 4, 0);
    return p;
}

Bytes ServerKexinit(bool strict)
{
    return ServerKexinit(strict ? "curve25519-sha256,kex-strict-s-v00@openssh.com" : "curve25519-sha256", "ssh-ed25519",
                         "aes128-ctr", "hmac-sha2-256");
}

// What a server sends: text, then plain packets of the payloads.
Bytes Stream(const std::string& text, std::initializer_list<Bytes> payloads)
{
    Bytes out = ToBytes(text);
    for (const Bytes& p : payloads) Append(out, Plain(p));
    return out;
}

// A session without a network, with the default settings; what it sends
// goes to capture.
struct Detached {
    Detached() { scp_session_config_defaults(&cfg); }
    ~Detached()
    {
        if (session) scp_ssh_backend.release(session);
        scp_buf_free(&capture);
    }
    int Open() { return scp_session_create_detached(&session, &cfg, &capture); }
    int Feed(const Bytes& bytes) { return scp_session_feed(session, bytes.data(), bytes.size()); }

    SessionConfig cfg;
    ScpBuf capture{};
    ScpSession* session = nullptr;
};

TEST(ScpStrictKex, SequenceNumbersRestartAfterNewkeysOnlyInStrictMode)
{
    for (bool strict : {true, false}) {
        SCOPED_TRACE(strict);
        TempRegistry registry;
        Detached client;
        client.cfg.newHostKeyPolicy = 1;  // accept once: no store
        client.cfg.compression = 0;
        ASSERT_EQ(client.Open(), 0);
        const Bytes serverKexinit = ServerKexinit(strict);
        ASSERT_EQ(client.Feed(Stream("SSH-2.0-kex_test\r\n", {serverKexinit})), 0);
        auto sent = SentPackets(ToBytes(client.capture));
        ASSERT_EQ(sent.size(), 2u);
        ASSERT_EQ(sent[1][0], 30);  // ECDH init with Q_C
        const Bytes qc(sent[1].begin() + 5, sent[1].end());
        ASSERT_EQ(qc.size(), 32u);

        // The server's half: X25519, an Ed25519 host key, H and its signature.
        ScpEcdh server{};
        ScpBuf qsBuf{}, kBuf{};
        ASSERT_EQ(scp_ecdh_start(&server, SCP_ECDH_X25519, nullptr, &qsBuf), 0);
        ASSERT_EQ(scp_ecdh_finish(&server, qc.data(), qc.size(), &kBuf), 0);
        scp_ecdh_end(&server);
        const Bytes qs = ToBytes(qsBuf), k = ToBytes(kBuf);
        scp_buf_free(&qsBuf);
        scp_buf_free(&kBuf);
        const TestHostKey host = MakeHostKey("ssh-ed25519");
        ScpExchangeParts parts{};
        parts.clientVersion = "SSH-2.0-Pavlet";
        parts.serverVersion = "SSH-2.0-kex_test";
        parts.kexinitClient = sent[0].data();
        parts.kexinitClientLen = sent[0].size();
        parts.kexinitServer = serverKexinit.data();
        parts.kexinitServerLen = serverKexinit.size();
        parts.hostKey = host.blob.data();
        parts.hostKeyLen = host.blob.size();
        SetPoints(parts, qc, qs, k);
        Bytes h(32);
        ASSERT_EQ(scp_exchange_hash(SCP_HASH_SHA256, &parts, h.data()), 0);
        Bytes reply{31};
        PutString(reply, host.blob);
        PutString(reply, qs);
        PutString(reply, Sign(host.key.get(), "ssh-ed25519", h));
        const std::size_t before = client.capture.len;
        ASSERT_EQ(client.Feed(Stream("", {reply, Bytes{21}})), 0);  // the reply, then NEWKEYS
        ASSERT_EQ(scp_session_state(client.session), SCP_SS_SERVICE);
        EXPECT_EQ(scp_session_last_strict(), strict);

        // One direction's keys as the client derives them, named by the
        // letters of its cipher key, IV and MAC key.
        const ScpCipherInfo* ctr = scp_cipher_by_name("aes128-ctr", 10);
        ASSERT_NE(ctr, nullptr);
        auto start = [&](ScpCipher* cipher, ScpMac* mac, const char* letters, bool encrypt) {
            auto key = [&](char letter, std::size_t n) { return Derive(SCP_HASH_SHA256, k, h, letter, h, n); };
            return scp_cipher_start(cipher, ctr, key(letters[0], 16).data(), key(letters[1], 16).data(), encrypt) == 0 &&
                   scp_mac_start(mac, SCP_MAC_SHA256, key(letters[2], 32).data(), 32) == 0;
        };
        // The first packet of wire taken as number seq by a fresh receiver:
        // its code, and the payload's type in *type when a packet came.
        auto take = [&](const char* letters, std::uint32_t seq, const std::uint8_t* wire, std::size_t n, int* type) {
            ScpPacketIn in{};
            ScpBuf buf{};
            bool got = false;
            int rc = start(&in.cipher, &in.mac, letters, false) ? scp_buf_put(&buf, wire, n) : -1;
            in.seq = seq;
            if (!rc) rc = scp_packet_take(&in, &buf, &got);
            if (!rc && got) *type = in.payload.data[0];
            scp_buf_free(&buf);
            scp_packet_in_free(&in);
            return rc;
        };

        // The client's SERVICE_REQUEST: packet 3 of its stream, numbered 0
        // again in strict mode.
        const Bytes out = ToBytes(client.capture);
        ASSERT_GT(out.size() - before, 8u + 32u);  // NEWKEYS, then the request
        const Bytes afterNewkeys(out.begin() + static_cast<long>(before + 16), out.end());
        for (std::uint32_t seq : {0u, 3u}) {
            const bool right = seq == (strict ? 0u : 3u);
            int type = -1;
            EXPECT_EQ(take("CAE", seq, afterNewkeys.data(), afterNewkeys.size(), &type), right ? 0 : 16) << seq;
            if (right) {
                EXPECT_EQ(type, 5);  // SERVICE_REQUEST
            }
        }

        // The server's SERVICE_ACCEPT is numbered 0 in strict mode, else 3;
        // the client takes only that one.
        for (std::uint32_t seq : {strict ? 3u : 0u, strict ? 0u : 3u}) {
            ScpPacketOut pout{};
            ScpRandomPool pool;
            scp_random_init(&pool);
            ASSERT_TRUE(start(&pout.cipher, &pout.mac, "DBF", true));
            pout.seq = seq;
            Bytes accept{6};
            PutString(accept, std::string("ssh-userauth"));
            ScpBuf wire{};
            ASSERT_EQ(scp_packet_build(&pout, &pool, accept.data(), accept.size(), &wire), 0);
            if (seq == (strict ? 0u : 3u)) {
                EXPECT_EQ(scp_session_feed(client.session, wire.data, wire.len), 0);
                EXPECT_EQ(scp_session_state(client.session), SCP_SS_AUTH);
            } else {
                // A copy of the session would be needed to try both; the
                // wrong number is tried on a fresh receiver instead.
                int type = -1;
                EXPECT_EQ(take("DBF", strict ? 0u : 3u, wire.data, wire.len, &type), SCP_E_RECEIVE);
            }
            scp_buf_free(&wire);
            scp_packet_out_free(&pout);
        }
    }
}

TEST(ScpStrictKex, AnythingButTheNextKexMessageEndsTheExchange)
{
    // In strict mode IGNORE, DEBUG and a second KEXINIT are refused with 24
    // (a KEXINIT that was not the first packet too); without it they pass.
    const Bytes ignore{2, 0, 0, 0, 0};
    const Bytes debug{4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (bool strict : {true, false}) {
        for (const Bytes& extra : {ignore, debug}) {
            for (bool before : {true, false}) {
                Detached client;
                ASSERT_EQ(client.Open(), 0);
                const Bytes kexinit = ServerKexinit(strict);
                const Bytes stream =
                    before ? Stream("SSH-2.0-x\r\n", {extra, kexinit}) : Stream("SSH-2.0-x\r\n", {kexinit, extra});
                EXPECT_EQ(client.Feed(stream), strict ? 24 : 0) << strict << " " << int(extra[0]) << " " << before;
            }
        }
    }
}

TEST(ScpGroupExchange, CurrentRequestCarriesTheRangeAndSizeFollowsTheCipher)
{
    const struct {
        const char* cipher;
        std::uint32_t n;
    } cases[] = {{"aes128-ctr", 3072}, {"aes192-ctr", 7680}, {"aes256-ctr", 8192}, {"chacha20-poly1305@openssh.com", 8192},
                 {"aes128-gcm@openssh.com", 3072}, {"3des-cbc", 7680}};
    for (const auto& c : cases) {
        Detached client;
        ASSERT_EQ(client.Open(), 0);
        const Bytes stream = Stream(
            "SSH-2.0-x\r\n", {ServerKexinit("diffie-hellman-group-exchange-sha256,diffie-hellman-group-exchange-sha1",
                                            "ssh-rsa", c.cipher, "hmac-sha1")});
        ASSERT_EQ(client.Feed(stream), 0);
        EXPECT_EQ(scp_session_state(client.session), SCP_SS_KEX_GROUP);
        const auto sent = SentPackets(ToBytes(client.capture));
        ASSERT_EQ(sent.size(), 2u);
        Bytes expected{34, 0, 0, 0x08, 0};
        for (int i = 3; i >= 0; --i) expected.push_back(static_cast<std::uint8_t>(c.n >> (8 * i)));
        for (std::uint8_t b : {0, 0, 0x20, 0}) expected.push_back(b);
        EXPECT_EQ(sent[1], expected) << c.cipher;

        // Groups outside 2048..8192 bits or with a bad generator are refused (17).
        auto group = [&](const std::string& pHex, const std::string& gHex) {
            Bytes g{31};
            const Bn pn = BnHex(pHex), gn = BnHex(gHex);
            for (const BIGNUM* n : {pn.get(), gn.get()}) Append(g, Mpint(n));
            return Plain(g);
        };
        if (std::string(c.cipher) == "aes128-ctr") {
            const std::string p1024(256, 'f'), p2048 = "f" + std::string(511, 'f');
            for (const auto& bad : {group(p1024 + "ffff", "2"), group(p2048, "1"), group(p2048, p2048), group(p2048, "0")}) {
                Detached other;
                ASSERT_EQ(other.Open(), 0);
                Bytes s = stream;
                Append(s, bad);
                EXPECT_EQ(other.Feed(s), SCP_E_INTERNAL);
            }
        }
    }
}

}  // namespace
