// The random pool of both SSH engines: 1,200 bytes stirred with the SHA-1
// compression function, fed with system noise and a seed kept in the
// registry. One pool serves the whole process; its calls may come from
// several threads.
#pragma once

#include <cstddef>
#include <cstdint>

class CRandomPool {
public:
    static constexpr std::size_t kPoolSize = 1200;
    static constexpr std::size_t kSeedSize = 600;
    static constexpr std::size_t kMaxSeedRead = 1024;

    static CRandomPool& Instance();

    // Adds the noise sources and the stored seed, saves a fresh seed and
    // stirs. Called at the start of every key exchange.
    void Initialise();
    bool IsInitialised() const { return m_bInitialised; }
    std::uint8_t RandomByte();
    void RandomBytes(std::uint8_t* out, std::size_t size);
    // XORs the bytes into the pool from the read position.
    void AddNoise(const std::uint8_t* data, std::size_t size);
    // Writes 600 fresh bytes as the seed (only once the pool is initialised).
    void SaveSeed();
    void Stir();

    // For tests: the raw state.
    const std::uint8_t* PoolBytes() const { return m_pool; }
    std::size_t ReadPosition() const { return m_nPos; }
    void Reset();

private:
    void AddSystemNoise(const std::uint8_t* data, std::size_t size);

    std::uint8_t m_pool[kPoolSize] = {};
    std::size_t m_nPos = kPoolSize;  // the first byte taken stirs
    std::uint8_t m_digest[20] = {};
    std::uint8_t m_block[64] = {};
    std::size_t m_nBlock = 0;
    bool m_bInitialised = false;
};
