// The upload engine's adapter, key-exchange side: digests, the exchange
// hash and key derivation (sshcore/exchange_hash.h, which the SSH client
// uses too), mpints and elliptic-curve Diffie-Hellman.
#include "scp/scp_crypto.h"

#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include "scp/scp.h"
#include "scp/scp_store.h"
#include "sshcore/bignum.h"
#include "sshcore/digest.h"
#include "sshcore/ecdh.h"
#include "sshcore/exchange_hash.h"

namespace {
sshcore::EDigest scp_hash_digest(int alg)
{
    return alg == SCP_HASH_SHA512 ? sshcore::EDigest::Sha512
           : alg == SCP_HASH_SHA256 ? sshcore::EDigest::Sha256
                                    : sshcore::EDigest::Sha1;
}

// A digest of the pieces; false when the primitive fails.
bool scp_digest_pieces(sshcore::EDigest kind, const ScpPiece* pieces, std::size_t count, std::uint8_t* out)
{
    try {
        sshcore::CDigest digest(kind);
        for (std::size_t i = 0; i < count; ++i) digest.Update(pieces[i].data, pieces[i].len);
        digest.Final(out);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
}  // namespace

int scp_sha1(const ScpPiece* pieces, std::size_t count, std::uint8_t out[20])
{
    return scp_digest_pieces(sshcore::EDigest::Sha1, pieces, count, out) ? SCP_OK : SCP_E_INTERNAL;
}

std::size_t scp_hash_len(int alg) { return alg == SCP_HASH_SHA512 ? 64 : alg == SCP_HASH_SHA256 ? 32 : 20; }

int scp_hash(int alg, const ScpPiece* pieces, std::size_t count, std::uint8_t* out)
{
    return scp_digest_pieces(scp_hash_digest(alg), pieces, count, out) ? SCP_OK : SCP_E_INTERNAL;
}

namespace {
std::vector<std::uint8_t> scp_bytes(const void* data, std::size_t len)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    return len ? std::vector<std::uint8_t>(p, p + len) : std::vector<std::uint8_t>();
}
}  // namespace

int scp_exchange_hash(int hashAlg, const ScpExchangeParts* x, std::uint8_t* out)
{
    return scp_guard([&]() -> int {
        SExchangeHashInput in;
        in.hash = scp_hash_digest(hashAlg);
        in.clientVersion = x->clientVersion;
        in.serverVersion = x->serverVersion;
        in.clientKexInit = scp_bytes(x->kexinitClient, x->kexinitClientLen);
        in.serverKexInit = scp_bytes(x->kexinitServer, x->kexinitServerLen);
        in.hostKey = scp_bytes(x->hostKey, x->hostKeyLen);
        if (x->gex != SCP_GEX_NONE) {
            in.groupExchange = true;
            in.groupRange = x->gex == SCP_GEX_RANGE;
            in.minBits = x->gexMin;
            in.pbits = x->gexBits;
            in.maxBits = x->gexMax;
            in.p = sshcore::CBigNum::CopyOf(x->p);
            in.g = sshcore::CBigNum::CopyOf(x->g);
        }
        in.ecdh = x->e == nullptr;
        if (in.ecdh) {
            in.clientPublic = scp_bytes(x->qc, x->qcLen);
            in.serverPublic = scp_bytes(x->qs, x->qsLen);
        } else {
            in.e = sshcore::CBigNum::CopyOf(x->e);
            in.f = sshcore::CBigNum::CopyOf(x->f);
        }
        // K is held already encoded: it goes to the digest as it is.
        sshcore::CDigest hash(in.hash);
        HashExchangeFields(hash, in);
        hash.Update(x->kMpint, x->kLen);
        hash.Final(out);
        return SCP_OK;
    });
}

int scp_kex_derive(int hashAlg, const std::uint8_t* kMpint, std::size_t kLen, const std::uint8_t* h, std::size_t hLen,
                   char letter, const std::uint8_t* sessionId, std::size_t sessionIdLen, std::uint8_t* out,
                   std::size_t outLen)
{
    // The longest key any cipher or MAC takes, with room for the last block.
    if (outLen > 4 * kScpMaxHash - scp_hash_len(hashAlg)) return SCP_E_INTERNAL;
    return scp_guard([&]() -> int {
        std::vector<std::uint8_t> key =
            DeriveKeyFromEncoded(scp_hash_digest(hashAlg), ByteView(kMpint, kLen), ByteView(h, hLen), letter,
                                 ByteView(sessionId, sessionIdLen), outLen);
        std::memcpy(out, key.data(), outLen);
        sshcore::Cleanse(key.data(), key.size());
        return SCP_OK;
    });
}
int scp_md5(const void* data, std::size_t len, std::uint8_t out[16])
{
    const ScpPiece piece = {data, len};
    return scp_digest_pieces(sshcore::EDigest::Md5, &piece, 1, out) ? SCP_OK : SCP_E_INTERNAL;
}

int scp_buf_put_mpint(ScpBuf* buf, const BIGNUM* n)
{
    return scp_guard([&]() -> int {
        const std::vector<std::uint8_t> content = sshcore::MpintOf(n);
        return scp_buf_put_string(buf, content.data(), content.size());
    });
}

bool scp_get_mpint(ScpReader* r, BIGNUM** out)
{
    const std::uint8_t* p = nullptr;
    std::size_t len = 0;
    const ScpReader saved = *r;
    if (!scp_get_string(r, &p, &len, kScpMaxMpintBytes)) return false;
    // Negative numbers are never valid here.
    *out = sshcore::NewBigNumFromMpint(std::span<const std::uint8_t>(p, len));
    if (!*out) *r = saved;
    return *out != nullptr;
}

void scp_bn_free(BIGNUM* n) { sshcore::FreeBigNum(n); }

int scp_ecdh_start(ScpEcdh* ecdh, int kind, const std::uint8_t* priv, ScpBuf* pub)
{
    scp_ecdh_end(ecdh);
    if ((kind != SCP_ECDH_X25519 && kind != SCP_ECDH_P256) || (priv && kind != SCP_ECDH_X25519)) return SCP_E_INTERNAL;
    ecdh->kind = kind;
    const int rc = scp_guard([&]() -> int {
        // The C-style struct holds the shared key pair; scp_ecdh_end takes it back.
        ecdh->pair = (priv ? std::make_unique<sshcore::CEcdh>(
                                 sshcore::CEcdh::FromX25519Private(std::span<const std::uint8_t>(priv, 32)))
                           : std::make_unique<sshcore::CEcdh>(kind == SCP_ECDH_X25519 ? sshcore::ECurve::X25519
                                                                                        : sshcore::ECurve::P256))
                         .release();
        return SCP_OK;
    });
    if (rc) return rc;
    const std::vector<std::uint8_t>& value = ecdh->pair->Public();
    return scp_buf_put(pub, value.data(), value.size());
}

int scp_ecdh_finish(ScpEcdh* ecdh, const std::uint8_t* peer, std::size_t peerLen, ScpBuf* k)
{
    if (!ecdh->pair) return SCP_E_INTERNAL;
    std::vector<std::uint8_t> secret;
    std::vector<std::uint8_t> content;
    int rc = scp_guard(
        [&]() -> int {
            if (!ecdh->pair->Derive(std::span<const std::uint8_t>(peer, peerLen), secret)) return SCP_E_AUTHENTICATE;
            content = sshcore::CBigNum::FromBytes(secret).ToMpint();
            return SCP_OK;
        },
        SCP_E_AUTHENTICATE);
    if (!rc) rc = scp_buf_put_string(k, content.data(), content.size());
    sshcore::Cleanse(secret.data(), secret.size());
    sshcore::Cleanse(content.data(), content.size());
    return rc;
}

void scp_ecdh_end(ScpEcdh* ecdh)
{
    std::unique_ptr<sshcore::CEcdh> owned(ecdh->pair);
    ecdh->pair = nullptr;
}
bool scp_equal_secret(const void* a, const void* b, std::size_t len) { return sshcore::ConstantTimeEqual(a, b, len); }
