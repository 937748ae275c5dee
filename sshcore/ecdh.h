// Elliptic-curve Diffie-Hellman over OpenSSL's EVP_PKEY interface: X25519
// and NIST P-256.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;

namespace sshcore {

enum class ECurve { X25519, P256 };

class CEcdh {
public:
    // A fresh key pair on the curve, from OpenSSL's generator.
    explicit CEcdh(ECurve curve);
    // An X25519 key pair from a given 32-byte private key (tests).
    static CEcdh FromX25519Private(std::span<const std::uint8_t> privateKey);
    ~CEcdh();
    CEcdh(CEcdh&&) noexcept;
    CEcdh& operator=(CEcdh&&) noexcept;

    // X25519: the 32 key bytes; P-256: the uncompressed point 0x04||X||Y.
    const std::vector<std::uint8_t>& Public() const { return m_public; }
    // The shared secret with the peer's public value (X25519: 32 bytes;
    // P-256: the X coordinate, 32 bytes). False when the peer's value has
    // the wrong size, is not a point of the curve, or gives an all-zero
    // secret.
    bool Derive(std::span<const std::uint8_t> peer, std::vector<std::uint8_t>& secret) const;

private:
    struct Free {
        void operator()(EVP_PKEY* key) const;
    };
    CEcdh(ECurve curve, EVP_PKEY* key);
    void ReadPublic();
    ECurve m_curve;
    std::unique_ptr<EVP_PKEY, Free> m_key;
    std::vector<std::uint8_t> m_public;
};

}  // namespace sshcore
