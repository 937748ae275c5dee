// The upload library's stores: its handle on the random pool, and the
// host-key store (both in the registry, under Software\Quillon\Corvel).
#pragma once

#include <cstddef>
#include <cstdint>

// The upload library draws from the process's one random pool (the SSH
// client's, sshcore/random.h), seeded from and saved to the same
// registry value. A job keeps this handle on it; the pool keeps no copy.
struct ScpRandomPool {
    bool attached;  // scp_random_init was called
};

void scp_random_init(ScpRandomPool* pool);
// Mixes noise into the pool.
void scp_random_add(ScpRandomPool* pool, const void* data, std::size_t len);
// Mixes in the time, the time adjustment and the power status, then stirs.
void scp_random_stir(ScpRandomPool* pool);
std::uint8_t scp_random_byte(ScpRandomPool* pool);
void scp_random_bytes(ScpRandomPool* pool, void* out, std::size_t len);
// Tick count after each socket send or receive.
void scp_random_add_tick(ScpRandomPool* pool);
// Seeds from the system folder listing, the system's generator and the
// stored seed, then writes a fresh seed back.
void scp_random_seed(ScpRandomPool* pool);
// Writes a fresh seed (failures are ignored).
void scp_random_save_seed(ScpRandomPool* pool);

// The host-key store.
// Value name: type "@" port ":" host, with space, '\', '*', '?', '%', bytes
// below 32, 127 and a leading '.' written as %XX. False when out is too small.
bool scp_hostkey_value_name(const char* keyType, int port, const char* host, char* out, std::size_t outSize);
// Reading, deciding and storing go through the trust rule both engines share
// (sshcore/hostkey_trust.h).
