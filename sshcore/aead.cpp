#include "sshcore/aead.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <climits>
#include <stdexcept>

#include "sshcore/handles.h"

namespace sshcore {
namespace {

[[noreturn]] void Fail(const char* what)
{
    throw std::runtime_error(what);
}

int IntSize(std::size_t size)
{
    if (size > static_cast<std::size_t>(INT_MAX)) Fail("AEAD input too long");
    return static_cast<int>(size);
}

}  // namespace

// ---------------------------------------------------------------- AES-GCM

void CAesGcm::Free::operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }

CAesGcm::CAesGcm(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv)
    : m_key(key.begin(), key.end())
{
    if ((key.size() != 16 && key.size() != 32) || iv.size() < kIvSize) Fail("AES-GCM key or IV size");
    std::copy(iv.begin(), iv.begin() + kIvSize, m_iv);
}

CAesGcm::~CAesGcm()
{
    OPENSSL_cleanse(m_key.data(), m_key.size());
    OPENSSL_cleanse(m_iv, sizeof m_iv);
}

void CAesGcm::Begin(bool encrypt)
{
    if (!m_ctx || m_bEncrypting != encrypt) {
        m_ctx.reset(EVP_CIPHER_CTX_new());
        EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, m_key.size() == 16 ? "AES-128-GCM" : "AES-256-GCM", nullptr);
        const bool ok = m_ctx && cipher &&
                        EVP_CipherInit_ex2(m_ctx.get(), cipher, m_key.data(), nullptr, encrypt ? 1 : 0, nullptr) == 1;
        EVP_CIPHER_free(cipher);
        if (!ok) Fail("AES-GCM init");
        m_bEncrypting = encrypt;
    }
    if (EVP_CipherInit_ex2(m_ctx.get(), nullptr, nullptr, m_iv, encrypt ? 1 : 0, nullptr) != 1) Fail("AES-GCM IV");
}

void CAesGcm::NextIv()
{
    for (std::size_t i = kIvSize; i-- > 4;)
        if (++m_iv[i] != 0) break;
}

void CAesGcm::Seal(std::span<const std::uint8_t> aad, std::uint8_t* data, std::size_t size, std::uint8_t* tag)
{
    Begin(true);
    int n = 0;
    if (EVP_CipherUpdate(m_ctx.get(), nullptr, &n, aad.data(), IntSize(aad.size())) != 1 ||
        EVP_CipherUpdate(m_ctx.get(), data, &n, data, IntSize(size)) != 1 ||
        EVP_CipherFinal_ex(m_ctx.get(), data + n, &n) != 1 ||
        EVP_CIPHER_CTX_ctrl(m_ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize), tag) != 1)
        Fail("AES-GCM seal");
    NextIv();
}

bool CAesGcm::Open(std::span<const std::uint8_t> aad, std::uint8_t* data, std::size_t size, const std::uint8_t* tag)
{
    Begin(false);
    std::uint8_t expected[kTagSize];
    std::copy(tag, tag + kTagSize, expected);
    int n = 0;
    if (EVP_CIPHER_CTX_ctrl(m_ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), expected) != 1 ||
        EVP_CipherUpdate(m_ctx.get(), nullptr, &n, aad.data(), IntSize(aad.size())) != 1 ||
        EVP_CipherUpdate(m_ctx.get(), data, &n, data, IntSize(size)) != 1)
        Fail("AES-GCM open");
    int last = 0;
    const bool ok = EVP_CipherFinal_ex(m_ctx.get(), data + n, &last) == 1;
    if (!ok) OPENSSL_cleanse(data, size);
    NextIv();
    return ok;
}

// ------------------------------------------------------ ChaCha20-Poly1305

void CChaChaPoly::Free::operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }

CChaChaPoly::CChaChaPoly(std::span<const std::uint8_t> key) : m_chacha(EVP_CIPHER_fetch(nullptr, "ChaCha20", nullptr))
{
    if (key.size() < kKeySize) Fail("ChaCha20-Poly1305 key size");
    if (!m_chacha) Fail("ChaCha20 unavailable");
    std::copy(key.begin(), key.begin() + 32, m_mainKey);
    std::copy(key.begin() + 32, key.begin() + 64, m_lengthKey);
}

CChaChaPoly::~CChaChaPoly()
{
    OPENSSL_cleanse(m_mainKey, sizeof m_mainKey);
    OPENSSL_cleanse(m_lengthKey, sizeof m_lengthKey);
}

// The original ChaCha20 has a 64-bit block counter and a 64-bit nonce; in
// OpenSSL's 16-byte IV that is the counter, little-endian, then the nonce.
void CChaChaPoly::Crypt(const std::uint8_t* key, std::uint32_t sequence, std::uint64_t counter, std::uint8_t* data,
                        std::size_t size) const
{
    std::uint8_t iv[16] = {};
    for (int i = 0; i < 8; ++i) iv[i] = static_cast<std::uint8_t>(counter >> (8 * i));
    iv[12] = static_cast<std::uint8_t>(sequence >> 24);
    iv[13] = static_cast<std::uint8_t>(sequence >> 16);
    iv[14] = static_cast<std::uint8_t>(sequence >> 8);
    iv[15] = static_cast<std::uint8_t>(sequence);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int n = 0;
    if (!ctx || EVP_CipherInit_ex2(ctx.get(), m_chacha.get(), key, iv, 1, nullptr) != 1 ||
        EVP_CipherUpdate(ctx.get(), data, &n, data, IntSize(size)) != 1)
        Fail("ChaCha20");
}

void CChaChaPoly::Tag(std::uint32_t sequence, const std::uint8_t* packet, std::size_t size, std::uint8_t* tag) const
{
    std::uint8_t polyKey[32] = {};
    Crypt(m_mainKey, sequence, 0, polyKey, sizeof polyKey);
    MacPtr mac(EVP_MAC_fetch(nullptr, "POLY1305", nullptr));
    MacCtxPtr ctx(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
    std::size_t length = 0;
    const bool ok = ctx && EVP_MAC_init(ctx.get(), polyKey, sizeof polyKey, nullptr) == 1 &&
                    EVP_MAC_update(ctx.get(), packet, size) == 1 &&
                    EVP_MAC_final(ctx.get(), tag, &length, kTagSize) == 1 && length == kTagSize;
    OPENSSL_cleanse(polyKey, sizeof polyKey);
    if (!ok) Fail("Poly1305");
}

std::uint32_t CChaChaPoly::DecryptLength(std::uint32_t sequence, const std::uint8_t* wire) const
{
    std::uint8_t length[4] = {wire[0], wire[1], wire[2], wire[3]};
    Crypt(m_lengthKey, sequence, 0, length, 4);
    return (std::uint32_t(length[0]) << 24) | (std::uint32_t(length[1]) << 16) | (std::uint32_t(length[2]) << 8) |
           length[3];
}

void CChaChaPoly::Seal(std::uint32_t sequence, std::uint8_t* packet, std::size_t size, std::uint8_t* tag) const
{
    if (size < 4) Fail("ChaCha20-Poly1305 packet size");
    Crypt(m_lengthKey, sequence, 0, packet, 4);
    Crypt(m_mainKey, sequence, 1, packet + 4, size - 4);
    Tag(sequence, packet, size, tag);
}

bool CChaChaPoly::Open(std::uint32_t sequence, std::uint8_t* packet, std::size_t size, const std::uint8_t* tag) const
{
    if (size < 4) return false;
    std::uint8_t expected[kTagSize];
    Tag(sequence, packet, size, expected);
    if (CRYPTO_memcmp(expected, tag, kTagSize) != 0) return false;
    Crypt(m_lengthKey, sequence, 0, packet, 4);
    Crypt(m_mainKey, sequence, 1, packet + 4, size - 4);
    return true;
}

}  // namespace sshcore
