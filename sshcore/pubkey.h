// Signature checks of server host keys over OpenSSL's EVP interface: RSA
// (PKCS #1 v1.5 with SHA-1, SHA-256 or SHA-512), DSA with SHA-1, Ed25519, and
// ECDSA on P-256 with SHA-256.
#pragma once

#include <cstdint>
#include <span>

#include "sshcore/bignum.h"
#include "sshcore/digest.h"

namespace sshcore {

// signature: the RSA signature value (big-endian, as long as the modulus or
// shorter); data: the signed message, hashed with SHA-1 here.
bool RsaVerifySha1(const CBigNum& e, const CBigNum& n, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data);

// The same with the given hash (SHA-1, SHA-256 or SHA-512).
bool RsaVerify(EDigest hash, const CBigNum& e, const CBigNum& n, std::span<const std::uint8_t> signature,
               std::span<const std::uint8_t> data);

// publicKey: 32 bytes; signature: 64 bytes; data signed as it is.
bool Ed25519Verify(std::span<const std::uint8_t> publicKey, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data);

// point: the uncompressed public point (65 bytes); r and s unsigned
// big-endian numbers; data hashed with SHA-256 here.
bool EcdsaP256VerifySha256(std::span<const std::uint8_t> point, std::span<const std::uint8_t> r,
                           std::span<const std::uint8_t> s, std::span<const std::uint8_t> data);

// r and s: the two halves of the signature as unsigned big-endian numbers.
bool DsaVerifySha1(const CBigNum& p, const CBigNum& q, const CBigNum& g, const CBigNum& y,
                   std::span<const std::uint8_t> r, std::span<const std::uint8_t> s,
                   std::span<const std::uint8_t> data);

// The SHA-1 compression function: runs one 64-byte block through the
// chaining state, given and returned as 20 big-endian bytes (five words).
void Sha1Compress(std::uint8_t state[20], const std::uint8_t block[64]);

}  // namespace sshcore
