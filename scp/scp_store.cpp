#include "scp/scp_store.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "platform/entropy.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "scp/scp_crypto.h"

namespace {
constexpr char16_t kCorvelKey[] = u"Software\\Quillon\\Corvel";
constexpr char16_t kSeedValue[] = u"RandomSeed";

void scp_random_add_vector(ScpRandomPool* pool, const std::vector<std::uint8_t>& bytes)
{
    if (!bytes.empty()) scp_random_add(pool, bytes.data(), bytes.size());
}
}  // namespace

void scp_random_init(ScpRandomPool* pool)
{
    std::memset(pool, 0, sizeof *pool);
    pool->takePos = kScpPoolSize;  // the first byte taken stirs
}

void scp_random_add(ScpRandomPool* pool, const void* data, std::size_t len)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < len; ++i) {
        pool->pool[pool->addPos] ^= p[i];
        pool->addPos = (pool->addPos + 1) % kScpPoolSize;
    }
}

void scp_random_stir(ScpRandomPool* pool)
{
    scp_random_add_vector(pool, SystemTimeBytes());
    scp_random_add_vector(pool, SystemTimeAdjustmentBytes());
    scp_random_add_vector(pool, SystemPowerStatusBytes());
    // A digest of the whole pool keys the rewrite of every 20-byte slot;
    // each slot also chains the previous one.
    std::uint8_t key[20];
    ++pool->stirs;
    const ScpPiece whole[] = {{pool->pool, kScpPoolSize}, {&pool->stirs, sizeof pool->stirs}};
    scp_sha1(whole, 2, key);
    std::uint8_t prev[20];
    std::memcpy(prev, key, 20);
    for (std::size_t off = 0; off < kScpPoolSize; off += 20) {
        const std::uint32_t index = static_cast<std::uint32_t>(off);
        const ScpPiece parts[] = {{key, 20}, {&index, 4}, {prev, 20}, {pool->pool + off, 20}};
        std::uint8_t digest[20];
        scp_sha1(parts, 4, digest);
        for (int i = 0; i < 20; ++i) pool->pool[off + static_cast<std::size_t>(i)] ^= digest[i];
        std::memcpy(prev, digest, 20);
    }
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(prev, sizeof prev);
    pool->takePos = 0;
}

std::uint8_t scp_random_byte(ScpRandomPool* pool)
{
    if (pool->takePos >= kScpPoolSize) scp_random_stir(pool);
    return pool->pool[pool->takePos++];
}

void scp_random_bytes(ScpRandomPool* pool, void* out, std::size_t len)
{
    auto* p = static_cast<std::uint8_t*>(out);
    for (std::size_t i = 0; i < len; ++i) p[i] = scp_random_byte(pool);
}

void scp_random_add_tick(ScpRandomPool* pool)
{
    const std::uint32_t tick = GetTickCount();
    scp_random_add(pool, &tick, sizeof tick);
}

void scp_random_seed(ScpRandomPool* pool)
{
    ForEachSystemFolderEntry([pool](const std::uint8_t* record, std::size_t size) { scp_random_add(pool, record, size); });
    std::vector<std::uint8_t> seed;
    if (RegReadBinary(HKEY_LOCAL_MACHINE, kCorvelKey, kSeedValue, seed)) {
        if (seed.size() > 1024) seed.resize(1024);
        scp_random_add_vector(pool, seed);
        OPENSSL_cleanse(seed.data(), seed.size());
    }
    // The system's own generator joins the noise sources.
    std::uint8_t system[32];
    if (RAND_bytes(system, sizeof system) == 1) scp_random_add(pool, system, sizeof system);
    OPENSSL_cleanse(system, sizeof system);
    scp_random_stir(pool);
    scp_random_save_seed(pool);
}

void scp_random_save_seed(ScpRandomPool* pool)
{
    std::uint8_t seed[kScpSeedSize];
    scp_random_bytes(pool, seed, sizeof seed);
    RegWriteBinary(HKEY_LOCAL_MACHINE, kCorvelKey, kSeedValue, seed, sizeof seed);
    OPENSSL_cleanse(seed, sizeof seed);
}

bool scp_hostkey_value_name(const char* keyType, int port, const char* host, char* out, std::size_t outSize)
{
    int n = std::snprintf(out, outSize, "%s@%d:", keyType, port);
    if (n < 0 || static_cast<std::size_t>(n) >= outSize) return false;
    std::size_t pos = static_cast<std::size_t>(n);
    for (const char* p = host ? host : ""; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const bool escape = c == ' ' || c == '\\' || c == '*' || c == '?' || c == '%' || c < 32 || c == 127 ||
                            (c == '.' && p == host);
        if (escape) {
            if (outSize - pos < 4) return false;
            std::snprintf(out + pos, 4, "%%%02X", c);
            pos += 3;
        } else {
            if (outSize - pos < 2) return false;
            out[pos++] = static_cast<char>(c);
        }
    }
    out[pos] = '\0';
    return true;
}
