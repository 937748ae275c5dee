#include "sshcore/random.h"

#include <openssl/rand.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/entropy.h"
#include "platform/registry.h"
#include "sshcore/digest.h"
#include "sshcore/pubkey.h"

namespace {
constexpr char16_t kSeedKey[] = u"Software\\Quillon\\Corvel";
constexpr char16_t kSeedValue[] = u"RandomSeed";
// Both SSH engines draw from the pool, from whichever thread runs them.
std::recursive_mutex g_poolLock;
}  // namespace

CRandomPool& CRandomPool::Instance()
{
    static CRandomPool pool;
    return pool;
}

void CRandomPool::Reset()
{
    const std::lock_guard<std::recursive_mutex> lock(g_poolLock);
    sshcore::Cleanse(this, sizeof *this);
    m_nPos = kPoolSize;
    m_nBlock = 0;
    m_bInitialised = false;
}

void CRandomPool::AddSystemNoise(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        m_block[m_nBlock++] = data[i];
        if (m_nBlock == sizeof m_block) {
            sshcore::Sha1Compress(m_digest, m_block);
            m_nBlock = 0;
        }
    }
}

void CRandomPool::Stir()
{
    const std::lock_guard<std::recursive_mutex> lock(g_poolLock);
    for (const auto& noise : {SystemTimeBytes(), SystemTimeAdjustmentBytes(), SystemPowerStatusBytes()})
        AddSystemNoise(noise.data(), noise.size());
    if (m_nBlock > 0) {
        std::memset(m_block + m_nBlock, 0, sizeof m_block - m_nBlock);
        sshcore::Sha1Compress(m_digest, m_block);
        m_nBlock = 0;
    }
    std::uint8_t running[20];
    std::memcpy(running, m_digest, sizeof running);
    std::uint8_t message[64];
    for (int pass = 0; pass < 2; ++pass) {
        std::memcpy(message, m_pool, sizeof message);
        for (std::size_t i = kPoolSize; i >= 20; i -= 20) {
            std::uint8_t* block = m_pool + i - 20;
            for (int j = 0; j < 20; ++j) running[j] ^= block[j];
            sshcore::Sha1Compress(running, message);
            std::memcpy(block, running, 20);
        }
    }
    sshcore::Sha1Compress(running, message);
    std::memcpy(m_digest, running, sizeof m_digest);
    sshcore::Cleanse(running, sizeof running);
    sshcore::Cleanse(message, sizeof message);
    m_nPos = 20;
}

std::uint8_t CRandomPool::RandomByte()
{
    const std::lock_guard<std::recursive_mutex> lock(g_poolLock);
    if (m_nPos >= kPoolSize) Stir();
    return m_pool[m_nPos++];
}

void CRandomPool::RandomBytes(std::uint8_t* out, std::size_t size)
{
    const std::lock_guard<std::recursive_mutex> lock(g_poolLock);
    for (std::size_t i = 0; i < size; ++i) out[i] = RandomByte();
}

void CRandomPool::AddNoise(const std::uint8_t* data, std::size_t size)
{
    const std::lock_guard<std::recursive_mutex> lock(g_poolLock);
    for (std::size_t i = 0; i < size; ++i) {
        if (m_nPos >= kPoolSize) Stir();
        m_pool[m_nPos++] ^= data[i];
    }
}

void CRandomPool::Initialise()
{
    const std::lock_guard<std::recursive_mutex> lock(g_poolLock);
    m_bInitialised = true;
    ForEachSystemFolderEntry([this](const std::uint8_t* record, std::size_t size) { AddNoise(record, size); });
    // The operating system's generator as well, so that the pool never
    // depends on the clock and folder listings alone.
    std::uint8_t fresh[32];
    if (RAND_bytes(fresh, sizeof fresh) == 1) AddNoise(fresh, sizeof fresh);
    sshcore::Cleanse(fresh, sizeof fresh);
    std::vector<std::uint8_t> seed;
    if (RegReadBinary(HKEY_LOCAL_MACHINE, kSeedKey, kSeedValue, seed)) {
        if (seed.size() > kMaxSeedRead) seed.resize(kMaxSeedRead);
        AddNoise(seed.data(), seed.size());
        sshcore::Cleanse(seed.data(), seed.size());
    }
    SaveSeed();
    Stir();
}

void CRandomPool::SaveSeed()
{
    const std::lock_guard<std::recursive_mutex> lock(g_poolLock);
    if (!m_bInitialised) return;
    Stir();
    std::uint8_t seed[kSeedSize];
    for (auto& b : seed) b = RandomByte();
    Stir();
    RegWriteBinary(HKEY_LOCAL_MACHINE, kSeedKey, kSeedValue, seed, sizeof seed);
    sshcore::Cleanse(seed, sizeof seed);
}
