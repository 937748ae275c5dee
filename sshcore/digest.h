// Message digests (SHA-1, MD5, SHA-256, SHA-512) and HMAC over OpenSSL's EVP interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;

namespace sshcore {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

enum class EDigest { Sha1, Md5, Sha256, Sha512 };

// Output size in bytes: 20 for SHA-1, 16 for MD5, 32 for SHA-256, 64 for
// SHA-512.
std::size_t DigestSize(EDigest kind);

// A running digest. Copies continue independently from the same state.
class CDigest {
public:
    explicit CDigest(EDigest kind);
    CDigest(const CDigest& other);
    CDigest& operator=(const CDigest& other);
    CDigest(CDigest&&) noexcept = default;
    CDigest& operator=(CDigest&&) noexcept = default;
    ~CDigest();

    EDigest Kind() const { return m_kind; }
    std::size_t Size() const { return DigestSize(m_kind); }
    void Reset();
    void Update(const void* data, std::size_t size);
    void Update(ByteView data) { Update(data.data(), data.size()); }
    // Writes Size() bytes and resets the digest for new input.
    void Final(std::uint8_t* out);
    Bytes Final();

private:
    struct Free {
        void operator()(EVP_MD_CTX* ctx) const;
    };
    EDigest m_kind;
    std::unique_ptr<EVP_MD_CTX, Free> m_ctx;
};

Bytes Sha1(ByteView data);
Bytes Md5(ByteView data);
Bytes Sha256(ByteView data);

// HMAC with a fixed key; each Compute starts afresh from that key.
class CHmac {
public:
    CHmac(EDigest kind, ByteView key);
    CHmac(const CHmac& other);
    CHmac& operator=(const CHmac&) = delete;
    ~CHmac();

    std::size_t Size() const { return DigestSize(m_kind); }
    // MAC of the concatenation of the parts, written to out (Size() bytes).
    void Compute(std::initializer_list<ByteView> parts, std::uint8_t* out);

private:
    struct Free {
        void operator()(EVP_MAC_CTX* ctx) const;
    };
    EDigest m_kind;
    std::unique_ptr<EVP_MAC_CTX, Free> m_ctx;
};

// Compares in time that depends only on the length.
bool ConstantTimeEqual(const void* a, const void* b, std::size_t size);

// Overwrites memory in a way the compiler cannot drop.
void Cleanse(void* data, std::size_t size);

}  // namespace sshcore
