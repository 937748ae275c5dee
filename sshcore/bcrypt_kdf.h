// The bcrypt key derivation that protects passphrase-encrypted private key
// files in OpenSSH's own format: SHA-512 and Blowfish's expensive key setup,
// over OpenSSL's Blowfish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sshcore {

constexpr std::size_t kBlowfishPiWordCount = 18 + 4 * 256;
extern const std::uint32_t kBlowfishPiWords[kBlowfishPiWordCount];

// The most output one derivation gives, and the most rounds a key file may
// ask for. ssh-keygen writes 16 unless told otherwise (-a); users who raise
// it pick hundreds to a few thousand. A round costs about 7 ms of one core
// here, so the ceiling of 4096 takes about half a minute: within the 60 s a
// login may take, and it keeps a hostile file from holding the caller for
// hours.
constexpr std::size_t kBcryptMaxOutput = 1024;
constexpr std::uint32_t kBcryptMaxRounds = 4096;

// The ceiling in force: kBcryptMaxRounds, unless a fuzzing harness lowered
// it so that every input it tries stays quick (it lowers, never raises).
std::uint32_t BcryptRoundsCeiling();
void LowerBcryptRoundsCeilingForFuzzing(std::uint32_t rounds);

// Fills `out` from the passphrase, salt and rounds. False when an argument
// is out of range (empty passphrase or salt, no rounds, too many rounds,
// an output that is empty or longer than kBcryptMaxOutput); `out` is then
// left zeroed.
bool BcryptKdf(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> salt, std::uint32_t rounds,
               std::span<std::uint8_t> out);

} // namespace sshcore
