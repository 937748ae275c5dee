// The bcrypt key derivation that protects passphrase-encrypted private key
// files in OpenSSH's own format: SHA-512 and Blowfish's expensive key setup,
// over OpenSSL's Blowfish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sshcrypto {

constexpr std::size_t kBlowfishPiWordCount = 18 + 4 * 256;
extern const std::uint32_t kBlowfishPiWords[kBlowfishPiWordCount];

// The most output one derivation gives, and the most rounds a key file may
// ask for (ssh-keygen writes 16; the bound keeps a hostile file from
// holding the caller for hours).
constexpr std::size_t kBcryptMaxOutput = 1024;
constexpr std::uint32_t kBcryptMaxRounds = 1024;

// Fills `out` from the passphrase, salt and rounds. False when an argument
// is out of range (empty passphrase or salt, no rounds, too many rounds,
// an output that is empty or longer than kBcryptMaxOutput); `out` is then
// left zeroed.
bool BcryptKdf(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> salt, std::uint32_t rounds,
               std::span<std::uint8_t> out);

} // namespace sshcrypto
