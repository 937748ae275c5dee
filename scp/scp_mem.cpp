#include "scp/scp_mem.h"

#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>

#include "scp/scp.h"

namespace {
void* g_allocPointers[kScpAllocSlots];
std::size_t g_allocSizes[kScpAllocSlots];
std::size_t g_allocBytes;  // bytes in recorded blocks
std::size_t g_allocPeak;   // the most g_allocBytes has been since the last reset of the peak

void scp_alloc_count_bytes(std::size_t removed, std::size_t added)
{
    g_allocBytes = g_allocBytes - removed + added;
    if (g_allocBytes > g_allocPeak) g_allocPeak = g_allocBytes;
}

constexpr int kNoSlot = -1;

int scp_alloc_find(const void* block)
{
    if (!block) return kNoSlot;
    for (int i = 0; i < kScpAllocSlots; ++i)
        if (g_allocPointers[i] == block) return i;
    return kNoSlot;
}

void scp_alloc_record(void* block, std::size_t size)
{
    int slot = -1;
    for (int i = 0; i < kScpAllocSlots; ++i) {
        if (!g_allocPointers[i]) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return;  // table full: the block works but is not tracked
    g_allocPointers[slot] = block;
    g_allocSizes[slot] = size;
    scp_alloc_count_bytes(0, size);
}
}  // namespace

void* scp_alloc(std::size_t size)
{
    void* block = std::calloc(1, size ? size : 1);
    if (block) scp_alloc_record(block, size);
    return block;
}

void* scp_realloc(void* block, std::size_t size)
{
    if (!block) return scp_alloc(size);
    const int slot = scp_alloc_find(block);
    void* moved = std::realloc(block, size ? size : 1);
    if (!moved) return nullptr;
    if (slot >= 0) {
        scp_alloc_count_bytes(g_allocSizes[slot], size);
        g_allocPointers[slot] = moved;
        g_allocSizes[slot] = size;
    }
    return moved;
}

void scp_free(void* block)
{
    if (!block) return;
    const int slot = scp_alloc_find(block);
    if (slot >= 0) {
        scp_alloc_count_bytes(g_allocSizes[slot], 0);
        g_allocPointers[slot] = nullptr;
        g_allocSizes[slot] = 0;
    }
    std::free(block);
}

void scp_alloc_reset()
{
    std::memset(g_allocPointers, 0, sizeof g_allocPointers);
    std::memset(g_allocSizes, 0, sizeof g_allocSizes);
    g_allocBytes = 0;
}

std::size_t scp_alloc_peak_bytes() { return g_allocPeak; }
void scp_alloc_reset_peak() { g_allocPeak = g_allocBytes; }

void scp_alloc_sweep()
{
    for (int i = 0; i < kScpAllocSlots; ++i) {
        if (g_allocPointers[i]) {
            OPENSSL_cleanse(g_allocPointers[i], g_allocSizes[i]);
            std::free(g_allocPointers[i]);
        }
    }
    scp_alloc_reset();
}

int scp_alloc_count()
{
    int count = 0;
    for (int i = 0; i < kScpAllocSlots; ++i)
        if (g_allocPointers[i]) ++count;
    return count;
}

char* scp_strdup(const char* text)
{
    const std::size_t len = text ? std::strlen(text) : 0;
    char* copy = static_cast<char*>(scp_alloc(len + 1));
    if (copy && len) std::memcpy(copy, text, len);
    return copy;
}

void scp_buf_init(ScpBuf* buf) { *buf = ScpBuf{nullptr, 0, 0}; }

void scp_buf_free(ScpBuf* buf)
{
    scp_free(buf->data);
    scp_buf_init(buf);
}

void scp_buf_wipe(ScpBuf* buf)
{
    if (buf->data) OPENSSL_cleanse(buf->data, buf->cap);
    scp_buf_free(buf);
}

int scp_buf_reserve(ScpBuf* buf, std::size_t extra)
{
    if (buf->cap - buf->len >= extra) return SCP_OK;
    if (extra > (SIZE_MAX / 2) - buf->len) return SCP_E_OUT_OF_MEMORY;
    std::size_t cap = buf->cap ? buf->cap : 256;
    while (cap - buf->len < extra) cap *= 2;
    auto* grown = static_cast<std::uint8_t*>(scp_realloc(buf->data, cap));
    if (!grown) return SCP_E_OUT_OF_MEMORY;
    buf->data = grown;
    buf->cap = cap;
    return SCP_OK;
}

int scp_buf_put(ScpBuf* buf, const void* data, std::size_t len)
{
    if (const int rc = scp_buf_reserve(buf, len)) return rc;
    if (len) std::memcpy(buf->data + buf->len, data, len);
    buf->len += len;
    return SCP_OK;
}

int scp_buf_put_byte(ScpBuf* buf, std::uint8_t value) { return scp_buf_put(buf, &value, 1); }

int scp_buf_put_u32(ScpBuf* buf, std::uint32_t value)
{
    std::uint8_t bytes[4];
    scp_store_u32(bytes, value);
    return scp_buf_put(buf, bytes, 4);
}

int scp_buf_put_u64(ScpBuf* buf, std::uint64_t value)
{
    if (const int rc = scp_buf_put_u32(buf, static_cast<std::uint32_t>(value >> 32))) return rc;
    return scp_buf_put_u32(buf, static_cast<std::uint32_t>(value));
}

int scp_buf_put_string(ScpBuf* buf, const void* data, std::size_t len)
{
    if (const int rc = scp_buf_put_u32(buf, static_cast<std::uint32_t>(len))) return rc;
    return scp_buf_put(buf, data, len);
}

int scp_buf_put_cstring(ScpBuf* buf, const char* text)
{
    return scp_buf_put_string(buf, text, text ? std::strlen(text) : 0);
}

void scp_buf_consume(ScpBuf* buf, std::size_t n)
{
    if (n >= buf->len) {
        buf->len = 0;
        return;
    }
    std::memmove(buf->data, buf->data + n, buf->len - n);
    buf->len -= n;
}

bool scp_get_byte(ScpReader* r, std::uint8_t* out)
{
    if (r->size - r->off < 1) return false;
    *out = r->data[r->off++];
    return true;
}

bool scp_get_bool(ScpReader* r, bool* out)
{
    std::uint8_t value = 0;
    if (!scp_get_byte(r, &value)) return false;
    *out = value != 0;
    return true;
}

bool scp_get_u32(ScpReader* r, std::uint32_t* out)
{
    if (r->size - r->off < 4) return false;
    *out = scp_load_u32(r->data + r->off);
    r->off += 4;
    return true;
}

bool scp_get_u64(ScpReader* r, std::uint64_t* out)
{
    if (r->size - r->off < 8) return false;
    *out = (static_cast<std::uint64_t>(scp_load_u32(r->data + r->off)) << 32) | scp_load_u32(r->data + r->off + 4);
    r->off += 8;
    return true;
}

bool scp_get_string(ScpReader* r, const std::uint8_t** out, std::size_t* len, std::size_t max)
{
    if (r->size - r->off < 4) return false;
    const std::uint32_t n = scp_load_u32(r->data + r->off);
    if (n > max || r->size - r->off - 4 < n) return false;
    *out = r->data + r->off + 4;
    *len = n;
    r->off += 4 + static_cast<std::size_t>(n);
    return true;
}

bool scp_get_bytes(ScpReader* r, const std::uint8_t** out, std::size_t n)
{
    if (r->size - r->off < n) return false;
    *out = r->data + r->off;
    r->off += n;
    return true;
}

std::uint32_t scp_load_u32(const std::uint8_t* p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

void scp_store_u32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}
