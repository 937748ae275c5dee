#include "scp/scp_store.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/entropy.h"
#include "platform/text.h"
#include "sshcore/random.h"

void scp_random_init(ScpRandomPool* pool) { pool->attached = true; }

void scp_random_add(ScpRandomPool*, const void* data, std::size_t len)
{
    CRandomPool::Instance().AddNoise(static_cast<const std::uint8_t*>(data), len);
}

void scp_random_stir(ScpRandomPool*) { CRandomPool::Instance().Stir(); }

std::uint8_t scp_random_byte(ScpRandomPool*) { return CRandomPool::Instance().RandomByte(); }

void scp_random_bytes(ScpRandomPool*, void* out, std::size_t len)
{
    CRandomPool::Instance().RandomBytes(static_cast<std::uint8_t*>(out), len);
}

void scp_random_add_tick(ScpRandomPool* pool)
{
    const std::uint32_t tick = GetTickCount();
    scp_random_add(pool, &tick, sizeof tick);
}

void scp_random_seed(ScpRandomPool*) { CRandomPool::Instance().Initialise(); }

void scp_random_save_seed(ScpRandomPool*) { CRandomPool::Instance().SaveSeed(); }

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
            out[pos++] = '%';
            out[pos++] = HexDigitUpper(c >> 4u);
            out[pos++] = HexDigitUpper(c);
        } else {
            if (outSize - pos < 2) return false;
            out[pos++] = static_cast<char>(c);
        }
    }
    out[pos] = '\0';
    return true;
}
