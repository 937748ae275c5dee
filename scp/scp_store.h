// The upload library's stores: the random pool with its seed, and the
// host-key store (both in the registry, under Software\Quillon\Corvel).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kScpPoolSize = 1200;
constexpr std::size_t kScpSeedSize = 600;

struct ScpRandomPool {
    std::uint8_t pool[kScpPoolSize];
    std::size_t takePos;   // next byte handed out
    std::size_t addPos;    // where the next noise byte is mixed in
    std::uint32_t stirs;
};

void scp_random_init(ScpRandomPool* pool);
// Mixes noise into the pool (no stir).
void scp_random_add(ScpRandomPool* pool, const void* data, std::size_t len);
// Mixes in the time, the time adjustment and the power status, then hashes
// the whole pool.
void scp_random_stir(ScpRandomPool* pool);
std::uint8_t scp_random_byte(ScpRandomPool* pool);
void scp_random_bytes(ScpRandomPool* pool, void* out, std::size_t len);
// Tick count after each socket send or receive.
void scp_random_add_tick(ScpRandomPool* pool);
// Seeds from the system folder listing and the stored seed, then writes a
// fresh seed back.
void scp_random_seed(ScpRandomPool* pool);
// Writes a fresh seed (failures are ignored).
void scp_random_save_seed(ScpRandomPool* pool);

// The host-key store.
// Value name: type "@" port ":" host, with space, '\', '*', '?', '%', bytes
// below 32, 127 and a leading '.' written as %XX. False when out is too small.
bool scp_hostkey_value_name(const char* keyType, int port, const char* host, char* out, std::size_t outSize);
// Reading, deciding and storing go through the trust rule both engines share
// (ssh2/crypto/hostkey_trust.h).
