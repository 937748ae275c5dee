// Signatures with a private key, in the SSH wire form a server checks:
// string algorithm, then the signature (Ed25519, ECDSA with the curve's
// hash, RSA with SHA-512, SHA-256 or SHA-1 by the algorithm's name, DSA
// with SHA-1).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "sshcore/private_key.h"

namespace sshcore {

// The signature algorithms a key can sign with, best first: for RSA
// "rsa-sha2-512", "rsa-sha2-256", "ssh-rsa"; otherwise its own type.
std::vector<std::string_view> SignatureAlgorithms(const CPrivateKey &key);

// Signs `data`; an empty result when the algorithm does not fit the key or
// OpenSSL fails.
std::vector<std::uint8_t> SignSsh(const CPrivateKey &key, std::string_view algorithm,
                                  std::span<const std::uint8_t> data);

} // namespace sshcore
