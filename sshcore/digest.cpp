#include "sshcore/digest.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <stdexcept>

namespace sshcore {
namespace {

const EVP_MD* Md(EDigest kind)
{
    switch (kind) {
    case EDigest::Sha1: return EVP_sha1();
    case EDigest::Md5: return EVP_md5();
    case EDigest::Sha256: return EVP_sha256();
    case EDigest::Sha512: return EVP_sha512();
    }
    return nullptr;
}

const char* MdName(EDigest kind)
{
    switch (kind) {
    case EDigest::Sha1: return "SHA1";
    case EDigest::Md5: return "MD5";
    case EDigest::Sha256: return "SHA256";
    case EDigest::Sha512: return "SHA512";
    }
    return "";
}

[[noreturn]] void Fail(const char* what)
{
    throw std::runtime_error(what);
}

}  // namespace

std::size_t DigestSize(EDigest kind)
{
    switch (kind) {
    case EDigest::Sha1: return 20;
    case EDigest::Md5: return 16;
    case EDigest::Sha256: return 32;
    case EDigest::Sha512: return 64;
    }
    return 0;
}

void CDigest::Free::operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }

CDigest::CDigest(EDigest kind) : m_kind(kind), m_ctx(EVP_MD_CTX_new())
{
    if (!m_ctx) Fail("EVP_MD_CTX_new");
    Reset();
}

CDigest::CDigest(const CDigest& other) : m_kind(other.m_kind), m_ctx(EVP_MD_CTX_new())
{
    if (!m_ctx || EVP_MD_CTX_copy_ex(m_ctx.get(), other.m_ctx.get()) != 1) Fail("EVP_MD_CTX_copy_ex");
}

CDigest& CDigest::operator=(const CDigest& other)
{
    if (this != &other) {
        CDigest copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CDigest::~CDigest() = default;

void CDigest::Reset()
{
    if (EVP_DigestInit_ex(m_ctx.get(), Md(m_kind), nullptr) != 1) Fail("EVP_DigestInit_ex");
}

void CDigest::Update(const void* data, std::size_t size)
{
    if (size != 0 && EVP_DigestUpdate(m_ctx.get(), data, size) != 1) Fail("EVP_DigestUpdate");
}

void CDigest::Final(std::uint8_t* out)
{
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_ctx.get(), out, &length) != 1) Fail("EVP_DigestFinal_ex");
    Reset();
}

Bytes CDigest::Final()
{
    Bytes out(Size());
    Final(out.data());
    return out;
}

Bytes Sha1(ByteView data)
{
    CDigest digest(EDigest::Sha1);
    digest.Update(data);
    return digest.Final();
}

Bytes Md5(ByteView data)
{
    CDigest digest(EDigest::Md5);
    digest.Update(data);
    return digest.Final();
}

Bytes Sha256(ByteView data)
{
    CDigest digest(EDigest::Sha256);
    digest.Update(data);
    return digest.Final();
}

void CHmac::Free::operator()(EVP_MAC_CTX* ctx) const { EVP_MAC_CTX_free(ctx); }

CHmac::CHmac(EDigest kind, ByteView key) : m_kind(kind)
{
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) Fail("EVP_MAC_fetch");
    m_ctx.reset(EVP_MAC_CTX_new(mac));
    EVP_MAC_free(mac);
    if (!m_ctx) Fail("EVP_MAC_CTX_new");
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(MdName(kind)), 0),
        OSSL_PARAM_construct_end(),
    };
    // An empty key is valid for HMAC but EVP wants a non-null pointer.
    static const std::uint8_t kEmpty = 0;
    if (EVP_MAC_init(m_ctx.get(), key.empty() ? &kEmpty : key.data(), key.size(), params) != 1)
        Fail("EVP_MAC_init");
}

CHmac::CHmac(const CHmac& other) : m_kind(other.m_kind), m_ctx(EVP_MAC_CTX_dup(other.m_ctx.get()))
{
    if (!m_ctx) Fail("EVP_MAC_CTX_dup");
}

CHmac::~CHmac() = default;

void CHmac::Compute(std::initializer_list<ByteView> parts, std::uint8_t* out)
{
    // A null key restarts the computation with the key given at construction.
    if (EVP_MAC_init(m_ctx.get(), nullptr, 0, nullptr) != 1) Fail("EVP_MAC_init");
    for (const auto& part : parts)
        if (!part.empty() && EVP_MAC_update(m_ctx.get(), part.data(), part.size()) != 1) Fail("EVP_MAC_update");
    std::size_t length = 0;
    if (EVP_MAC_final(m_ctx.get(), out, &length, Size()) != 1) Fail("EVP_MAC_final");
}

bool ConstantTimeEqual(const void* a, const void* b, std::size_t size)
{
    return CRYPTO_memcmp(a, b, size) == 0;
}

void Cleanse(void* data, std::size_t size)
{
    OPENSSL_cleanse(data, size);
}

}  // namespace sshcore
