#include "sshcore/ecdh.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <stdexcept>

#include "sshcore/handles.h"

namespace sshcore {
namespace {

constexpr std::size_t kX25519Size = 32;
constexpr std::size_t kP256PointSize = 65;
char kP256Group[] = "prime256v1";

PkeyPtr PeerKey(ECurve curve, std::span<const std::uint8_t> peer)
{
    if (curve == ECurve::X25519) {
        if (peer.size() != kX25519Size) return nullptr;
        return PkeyPtr(EVP_PKEY_new_raw_public_key_ex(nullptr, "X25519", nullptr, peer.data(), peer.size()));
    }
    if (peer.size() != kP256PointSize || peer[0] != 0x04) return nullptr;
    // Decoding the point checks that it lies on the curve.
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, kP256Group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<std::uint8_t*>(peer.data()),
                                          peer.size()),
        OSSL_PARAM_construct_end(),
    };
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return nullptr;
    PkeyPtr result(key);
    PkeyCtxPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
    return result;
}

}  // namespace

void CEcdh::Free::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

CEcdh::CEcdh(ECurve curve) : m_curve(curve)
{
    EVP_PKEY* key = curve == ECurve::X25519 ? EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519")
                                            : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!key) throw std::runtime_error("EC key generation");
    m_key.reset(key);
    ReadPublic();
}

CEcdh::CEcdh(ECurve curve, EVP_PKEY* key) : m_curve(curve), m_key(key)
{
    if (!m_key) throw std::runtime_error("EC private key");
    ReadPublic();
}

CEcdh CEcdh::FromX25519Private(std::span<const std::uint8_t> privateKey)
{
    return CEcdh(ECurve::X25519,
                 EVP_PKEY_new_raw_private_key_ex(nullptr, "X25519", nullptr, privateKey.data(), privateKey.size()));
}

CEcdh::~CEcdh() = default;
CEcdh::CEcdh(CEcdh&&) noexcept = default;
CEcdh& CEcdh::operator=(CEcdh&&) noexcept = default;

void CEcdh::ReadPublic()
{
    std::size_t size = 0;
    if (m_curve == ECurve::X25519) {
        m_public.resize(kX25519Size);
        size = m_public.size();
        if (EVP_PKEY_get_raw_public_key(m_key.get(), m_public.data(), &size) != 1 || size != kX25519Size)
            throw std::runtime_error("X25519 public key");
        return;
    }
    m_public.resize(kP256PointSize);
    if (EVP_PKEY_get_octet_string_param(m_key.get(), OSSL_PKEY_PARAM_PUB_KEY, m_public.data(), m_public.size(),
                                        &size) != 1 ||
        size != kP256PointSize || m_public[0] != 0x04)
        throw std::runtime_error("P-256 public key");
}

bool CEcdh::Derive(std::span<const std::uint8_t> peer, std::vector<std::uint8_t>& secret) const
{
    PkeyPtr peerKey = PeerKey(m_curve, peer);
    if (!peerKey) return false;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, m_key.get(), nullptr));
    std::size_t size = 0;
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer_ex(ctx.get(), peerKey.get(), 1) != 1 ||
        EVP_PKEY_derive(ctx.get(), nullptr, &size) != 1 || size != 32)
        return false;
    secret.assign(size, 0);
    if (EVP_PKEY_derive(ctx.get(), secret.data(), &size) != 1 || size != 32) {
        OPENSSL_cleanse(secret.data(), secret.size());
        secret.clear();
        return false;
    }
    static const std::uint8_t kZero[32] = {};
    if (CRYPTO_memcmp(secret.data(), kZero, sizeof kZero) == 0) {
        secret.clear();
        return false;
    }
    return true;
}

}  // namespace sshcore
