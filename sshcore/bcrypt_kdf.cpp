// Blowfish's state is driven through OpenSSL's low-level interface, which
// OpenSSL 3 marks deprecated: the expensive key setup needs the state
// itself, which no EVP cipher exposes.
#include "sshcore/bcrypt_kdf.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "sshcore/digest.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/blowfish.h>

namespace sshcore {
namespace {

constexpr std::size_t kHashBytes = 32;
constexpr std::size_t kShaBytes = 64;
constexpr char kMagic[] = "OxychromaticBlowfishSwatDynamite";

// Reads the next big-endian word of `data`, going round to its start.
std::uint32_t NextWord(const std::uint8_t *data, std::size_t size, std::size_t &at)
{
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        word = (word << 8) | data[at];
        at = (at + 1) % size;
    }
    return word;
}

// A Blowfish state whose key schedule is reworked in place; wiped at the end.
class CBlowfishState {
public:
    CBlowfishState()
    {
        static_assert(sizeof(m_key.P) / sizeof(m_key.P[0]) == 18 && sizeof(m_key.S) / sizeof(m_key.S[0]) == 1024);
        for (std::size_t i = 0; i < 18; ++i) m_key.P[i] = kBlowfishPiWords[i];
        for (std::size_t i = 0; i < 1024; ++i) m_key.S[i] = kBlowfishPiWords[18 + i];
    }
    ~CBlowfishState() { Cleanse(&m_key, sizeof m_key); }
    CBlowfishState(const CBlowfishState &) = delete;
    CBlowfishState &operator=(const CBlowfishState &) = delete;

    // Mixes `key` into the round keys, then re-encrypts the whole schedule;
    // with `salt`, each block is first mixed with the salt's next words.
    void Expand(const std::uint8_t *salt, const std::uint8_t *key)
    {
        std::size_t at = 0;
        for (auto &p : m_key.P) p ^= NextWord(key, kShaBytes, at);
        at = 0;
        BF_LONG block[2] = {0, 0};
        auto refill = [&](BF_LONG *words, std::size_t count) {
            for (std::size_t i = 0; i < count; i += 2) {
                if (salt != nullptr) {
                    block[0] ^= NextWord(salt, kShaBytes, at);
                    block[1] ^= NextWord(salt, kShaBytes, at);
                }
                BF_encrypt(block, &m_key);
                words[i] = block[0];
                words[i + 1] = block[1];
            }
        };
        refill(m_key.P, 18);
        refill(m_key.S, 1024);
        Cleanse(block, sizeof block);
    }

    void Encrypt(BF_LONG *block) const { BF_encrypt(block, &m_key); }

private:
    BF_KEY m_key{};
};

// One bcrypt hash of SHA-512 digests of the passphrase and of the salt.
void Hash(const std::uint8_t *shaPass, const std::uint8_t *shaSalt, std::uint8_t *out)
{
    CBlowfishState state;
    state.Expand(shaSalt, shaPass);
    for (int i = 0; i < 64; ++i) {
        state.Expand(nullptr, shaSalt);
        state.Expand(nullptr, shaPass);
    }
    std::array<BF_LONG, 8> text{};
    std::size_t at = 0;
    for (auto &word : text) word = NextWord(reinterpret_cast<const std::uint8_t *>(kMagic), kHashBytes, at);
    for (int i = 0; i < 64; ++i)
        for (std::size_t b = 0; b < text.size(); b += 2) state.Encrypt(&text[b]);
    for (std::size_t i = 0; i < text.size(); ++i)
        for (std::size_t k = 0; k < 4; ++k) out[4 * i + k] = static_cast<std::uint8_t>(text[i] >> (8 * k));
    Cleanse(text.data(), sizeof text);
}

std::atomic<std::uint32_t> g_roundsCeiling{kBcryptMaxRounds};

} // namespace

std::uint32_t BcryptRoundsCeiling() { return g_roundsCeiling.load(); }

void LowerBcryptRoundsCeilingForFuzzing(std::uint32_t rounds)
{
    g_roundsCeiling.store(std::min(rounds, kBcryptMaxRounds));
}

bool BcryptKdf(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> salt, std::uint32_t rounds,
               std::span<std::uint8_t> out)
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    if (passphrase.empty() || salt.empty() || rounds == 0 || rounds > BcryptRoundsCeiling() || out.empty() ||
        out.size() > kBcryptMaxOutput)
        return false;
    // Each block of output feeds every stride-th byte of `out`.
    const std::size_t blocks = (out.size() + kHashBytes - 1) / kHashBytes;
    std::array<std::uint8_t, kShaBytes> shaPass{};
    std::array<std::uint8_t, kShaBytes> shaSalt{};
    std::array<std::uint8_t, kHashBytes> hash{};
    std::array<std::uint8_t, kHashBytes> sum{};
    CDigest sha(EDigest::Sha512);
    sha.Update(passphrase);
    sha.Final(shaPass.data());
    for (std::size_t block = 1; block <= blocks; ++block) {
        const std::uint8_t count[4] = {static_cast<std::uint8_t>(block >> 24), static_cast<std::uint8_t>(block >> 16),
                                       static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
        sha.Update(salt);
        sha.Update(count, sizeof count);
        sha.Final(shaSalt.data());
        Hash(shaPass.data(), shaSalt.data(), hash.data());
        sum = hash;
        for (std::uint32_t round = 1; round < rounds; ++round) {
            sha.Update(hash.data(), hash.size());
            sha.Final(shaSalt.data());
            Hash(shaPass.data(), shaSalt.data(), hash.data());
            for (std::size_t i = 0; i < kHashBytes; ++i) sum[i] ^= hash[i];
        }
        for (std::size_t i = 0; i < kHashBytes; ++i) {
            const std::size_t dest = i * blocks + (block - 1);
            if (dest >= out.size()) break;
            out[dest] = sum[i];
        }
    }
    Cleanse(shaPass.data(), shaPass.size());
    Cleanse(shaSalt.data(), shaSalt.size());
    Cleanse(hash.data(), hash.size());
    Cleanse(sum.data(), sum.size());
    return true;
}

} // namespace sshcore

#pragma GCC diagnostic pop
