// The authenticated packet ciphers of the transport, over OpenSSL's EVP
// interface: AES-GCM with the packet length as associated data, and
// ChaCha20 with Poly1305 as the "chacha20-poly1305@openssh.com" cipher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_cipher_st EVP_CIPHER;

namespace sshcore {

// AES-GCM with a 12-byte IV: 4 fixed bytes and an 8-byte invocation counter
// that grows by one (big-endian) after every packet.
class CAesGcm {
public:
    static constexpr std::size_t kTagSize = 16;
    static constexpr std::size_t kIvSize = 12;

    // key: 16 or 32 bytes; iv: at least kIvSize bytes (only those are used).
    CAesGcm(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv);
    ~CAesGcm();
    CAesGcm(const CAesGcm&) = delete;
    CAesGcm& operator=(const CAesGcm&) = delete;

    // Encrypts data in place, authenticating aad too; writes kTagSize bytes
    // of tag.
    void Seal(std::span<const std::uint8_t> aad, std::uint8_t* data, std::size_t size, std::uint8_t* tag);
    // Decrypts data in place when the tag is right; false (and data not to
    // be used) when it is not.
    bool Open(std::span<const std::uint8_t> aad, std::uint8_t* data, std::size_t size, const std::uint8_t* tag);

private:
    struct Free {
        void operator()(EVP_CIPHER_CTX* ctx) const;
    };
    void Begin(bool encrypt);
    void NextIv();
    std::vector<std::uint8_t> m_key;
    std::uint8_t m_iv[kIvSize];
    std::unique_ptr<EVP_CIPHER_CTX, Free> m_ctx;
    bool m_bEncrypting = false;
};

// The two-key ChaCha20-Poly1305 construction: the packet length encrypted
// with one key, the rest with the other, and a Poly1305 tag over both under
// a key taken from the second key's keystream. The nonce of a packet is its
// sequence number.
class CChaChaPoly {
public:
    static constexpr std::size_t kTagSize = 16;
    static constexpr std::size_t kKeySize = 64;

    // key: kKeySize bytes; the first half is the main key, the second the
    // key of the length field.
    explicit CChaChaPoly(std::span<const std::uint8_t> key);
    ~CChaChaPoly();
    CChaChaPoly(const CChaChaPoly&) = delete;
    CChaChaPoly& operator=(const CChaChaPoly&) = delete;

    // The length field of packet `sequence`, decrypted from its 4 wire bytes.
    std::uint32_t DecryptLength(std::uint32_t sequence, const std::uint8_t* wire) const;
    // packet: the 4-byte length and the rest, size bytes in all, encrypted
    // in place; the tag goes to `tag`.
    void Seal(std::uint32_t sequence, std::uint8_t* packet, std::size_t size, std::uint8_t* tag) const;
    // Checks the tag over the encrypted packet and only then decrypts it in
    // place (length field included).
    bool Open(std::uint32_t sequence, std::uint8_t* packet, std::size_t size, const std::uint8_t* tag) const;

private:
    struct Free {
        void operator()(EVP_CIPHER* cipher) const;
    };
    void Crypt(const std::uint8_t* key, std::uint32_t sequence, std::uint64_t counter, std::uint8_t* data,
               std::size_t size) const;
    void Tag(std::uint32_t sequence, const std::uint8_t* packet, std::size_t size, std::uint8_t* tag) const;
    std::uint8_t m_mainKey[32];
    std::uint8_t m_lengthKey[32];
    std::unique_ptr<EVP_CIPHER, Free> m_chacha;
};

}  // namespace sshcore
