// The upload engine's own part of the key exchange without a network: the
// values its adapter refuses, strict key exchange's sequence numbers in a
// whole exchange against a test server, and the group request. The adapter's
// hash, derivation and host-key checks carry every upload to a real server
// (tests/integration/scp); the shared primitives' vectors are in
// tests/ssh2/crypto_test.cpp.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"
#include "scp/scp_packet.h"
#include "scp/scp_ssh.h"
#include "scp/scp_store.h"
#include "sshcore/bignum.h"
#include "tests/scp/scp_bytes.h"
#include "tests/support/temp_dir.h"

namespace {

using sshcore::CBigNum;

Bytes Derive(int alg, const Bytes& k, const Bytes& h, char letter, const Bytes& sid, std::size_t n)
{
    Bytes out(n);
    EXPECT_EQ(scp_kex_derive(alg, k.data(), k.size(), h.data(), h.size(), letter, sid.data(), sid.size(), out.data(), n), 0);
    return out;
}

// The parts of an exchange hash every method has: the two versions, the
// two KEXINIT payloads and the host key.
ScpExchangeParts Parts(const char* client, const char* server, const Bytes& clientInit, const Bytes& serverInit,
                       const Bytes& hostKey)
{
    ScpExchangeParts parts{};
    parts.clientVersion = client;
    parts.serverVersion = server;
    parts.kexinitClient = clientInit.data();
    parts.kexinitClientLen = clientInit.size();
    parts.kexinitServer = serverInit.data();
    parts.kexinitServerLen = serverInit.size();
    parts.hostKey = hostKey.data();
    parts.hostKeyLen = hostKey.size();
    return parts;
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

Bytes Mpint(const BIGNUM* n)
{
    Bytes out;
    PutString(out, CBigNum::CopyOf(n).ToMpint());
    return out;
}

// The adapter's own part around the shared primitives: the fixed groups
// by number, f inside the group, an odd p of a size in range, and an ECDH
// value the primitive refuses (u = 0 gives an all-zero secret) refused with
// the library's code.
TEST(ScpKexAdapter, ServerValuesThePrimitivesRefuseAreRefused)
{
    for (const auto& [group, bits] : {std::pair{1, 1024}, {14, 2048}, {16, 4096}, {18, 8192}}) {
        BIGNUM *p = nullptr, *g = nullptr;
        ASSERT_EQ(scp_dh_fixed_group(group, &p, &g), SCP_OK) << group;
        const Bn pOwn(p), gOwn(g);
        EXPECT_EQ(BN_num_bits(p), bits) << group;
    }
    BIGNUM *p = nullptr, *g = nullptr;
    ASSERT_EQ(scp_dh_fixed_group(14, &p, &g), SCP_OK);
    const Bn pOwn(p), gOwn(g), x = BnHex("1234567890abcdef"), one = BnHex("1"), pm1(BN_dup(p));
    BN_sub_word(pm1.get(), 1);
    for (const BIGNUM* f : {one.get(), pm1.get(), p}) {
        BIGNUM* k = nullptr;
        EXPECT_EQ(scp_dh_shared(p, x.get(), f, &k), SCP_E_AUTHENTICATE);
        EXPECT_EQ(k, nullptr);
    }
    BIGNUM* k = nullptr;
    ASSERT_EQ(scp_dh_shared(p, x.get(), g, &k), SCP_OK);
    const Bn kOwn(k), e(BN_new());
    const std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    ASSERT_EQ(BN_mod_exp(e.get(), g, x.get(), p, ctx.get()), 1);
    EXPECT_EQ(BN_cmp(k, e.get()), 0) << "g^x both ways";
    EXPECT_TRUE(scp_dh_group_usable(p, g, 2048, 2048));
    EXPECT_FALSE(scp_dh_group_usable(pm1.get(), g, 1024, 8192));  // even
    EXPECT_FALSE(scp_dh_group_usable(p, g, 512, 2047));

    ScpEcdh ecdh{};
    ScpBuf pub{}, secret{};
    ASSERT_EQ(scp_ecdh_start(&ecdh, SCP_ECDH_X25519, nullptr, &pub), 0);
    const Bytes zero(32, 0);
    EXPECT_EQ(scp_ecdh_finish(&ecdh, zero.data(), zero.size(), &secret), SCP_E_AUTHENTICATE);
    EXPECT_EQ(secret.len, 0u);
    scp_ecdh_end(&ecdh);
    scp_buf_free(&pub);
}

// ---------------------------------------------------------------- host keys

// A host key made by OpenSSL and its SSH blob.
struct TestHostKey {
    Pkey key;
    Bytes blob;
};

TestHostKey MakeHostKey()
{
    TestHostKey k;
    k.key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    std::size_t n = 0;
    EVP_PKEY_get_raw_public_key(k.key.get(), nullptr, &n);
    Bytes raw(n);
    EVP_PKEY_get_raw_public_key(k.key.get(), raw.data(), &n);
    PutString(k.blob, std::string("ssh-ed25519"));
    PutString(k.blob, raw);
    return k;
}

// The SSH signature blob over data as the named algorithm makes it.
Bytes Sign(EVP_PKEY* key, const std::string& alg, const Bytes& data)
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t n = 0;
    EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key);
    EVP_DigestSign(ctx, nullptr, &n, data.data(), data.size());
    Bytes sig(n);
    EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size());
    sig.resize(n);
    EVP_MD_CTX_free(ctx);
    Bytes out;
    PutString(out, alg);
    PutString(out, sig);
    return out;
}

// ---------------------------------------------------------------- a whole exchange

Bytes ServerKexinit(bool strict)
{
    return KexinitPayload({.kex = strict ? "curve25519-sha256,kex-strict-s-v00@openssh.com" : "curve25519-sha256",
                           .hostKeys = "ssh-ed25519",
                           .ciphers = "aes128-ctr",
                           .macs = "hmac-sha2-256"});
}

TEST(ScpStrictKex, SequenceNumbersRestartAfterNewkeysOnlyInStrictMode)
{
    for (bool strict : {true, false}) {
        SCOPED_TRACE(strict);
        TempRegistry registry;
        CDetachedSession client;
        client.m_cfg.newHostKeyPolicy = 1;  // accept once: no store
        client.m_cfg.compression = 0;
        ASSERT_EQ(client.Open(), 0);
        const Bytes serverKexinit = ServerKexinit(strict);
        ASSERT_EQ(client.Feed(Stream("SSH-2.0-kex_test\r\n", {serverKexinit})), 0);
        auto sent = SentPackets(ToBytes(client.m_capture));
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
        const TestHostKey host = MakeHostKey();
        ScpExchangeParts parts = Parts("SSH-2.0-Pavlet", "SSH-2.0-kex_test", sent[0], serverKexinit, host.blob);
        SetPoints(parts, qc, qs, k);
        Bytes h(32);
        ASSERT_EQ(scp_exchange_hash(SCP_HASH_SHA256, &parts, h.data()), 0);
        Bytes reply{31};
        PutString(reply, host.blob);
        PutString(reply, qs);
        PutString(reply, Sign(host.key.get(), "ssh-ed25519", h));
        const std::size_t before = client.m_capture.len;
        ASSERT_EQ(client.Feed(Stream("", {reply, Bytes{21}})), 0);  // the reply, then NEWKEYS
        ASSERT_EQ(scp_session_state(client.m_session), SCP_SS_SERVICE);
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
        const Bytes out = ToBytes(client.m_capture);
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
                EXPECT_EQ(scp_session_feed(client.m_session, wire.data, wire.len), 0);
                EXPECT_EQ(scp_session_state(client.m_session), SCP_SS_AUTH);
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
                CDetachedSession client;
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
        CDetachedSession client;
        ASSERT_EQ(client.Open(), 0);
        const Bytes stream = Stream("SSH-2.0-x\r\n", {KexinitPayload({.kex = "diffie-hellman-group-exchange-sha256,"
                                                                         "diffie-hellman-group-exchange-sha1",
                                                                  .ciphers = c.cipher,
                                                                  .macs = "hmac-sha1"})});
        ASSERT_EQ(client.Feed(stream), 0);
        EXPECT_EQ(scp_session_state(client.m_session), SCP_SS_KEX_GROUP);
        const auto sent = SentPackets(ToBytes(client.m_capture));
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
            return Plain({g});
        };
        if (std::string(c.cipher) == "aes128-ctr") {
            const std::string p1024(256, 'f'), p2048 = "f" + std::string(511, 'f');
            for (const auto& bad : {group(p1024 + "ffff", "2"), group(p2048, "1"), group(p2048, p2048), group(p2048, "0")}) {
                CDetachedSession other;
                ASSERT_EQ(other.Open(), 0);
                Bytes s = stream;
                Append(s, bad);
                EXPECT_EQ(other.Feed(s), SCP_E_INTERNAL);
            }
        }
    }
}

}  // namespace
