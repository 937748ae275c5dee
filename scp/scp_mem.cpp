#include "scp/scp_mem.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "scp/scp.h"
#include "sshcore/digest.h"
#include "sshcore/reader.h"

// Every block starts with its header; the caller's bytes follow it.
struct alignas(std::max_align_t) ScpBlockHeader {
    ScpArena* arena;  // nullptr: recorded nowhere
    ScpBlockHeader* prev;
    ScpBlockHeader* next;
    std::size_t size;
};

namespace {
thread_local ScpArena* t_currentArena = nullptr;

// The most a block may hold: its header must still fit beside it.
constexpr std::size_t kMaxBlock = SIZE_MAX / 2;

ScpBlockHeader* scp_block_header(void* block) { return static_cast<ScpBlockHeader*>(block) - 1; }

void scp_arena_link(ScpArena* arena, ScpBlockHeader* h)
{
    h->arena = arena;
    h->prev = nullptr;
    h->next = nullptr;
    if (!arena) return;
    h->next = arena->head;
    if (arena->head) arena->head->prev = h;
    arena->head = h;
    ++arena->count;
    arena->bytes += h->size;
    if (arena->bytes > arena->peak) arena->peak = arena->bytes;
}

void scp_arena_unlink(ScpBlockHeader* h)
{
    ScpArena* arena = h->arena;
    if (!arena) return;
    if (h->prev) h->prev->next = h->next;
    else arena->head = h->next;
    if (h->next) h->next->prev = h->prev;
    --arena->count;
    arena->bytes -= h->size;
    h->prev = h->next = nullptr;
}
}  // namespace

void scp_arena_init(ScpArena* arena) { *arena = ScpArena{nullptr, 0, 0, 0}; }

void scp_arena_sweep(ScpArena* arena)
{
    while (arena->head) {
        ScpBlockHeader* h = arena->head;
        scp_arena_unlink(h);
        scp_wipe(h + 1, h->size);
        std::free(h);
    }
}

int scp_arena_count(const ScpArena* arena) { return arena->count; }
std::size_t scp_arena_peak_bytes(const ScpArena* arena) { return arena->peak; }
void scp_arena_reset_peak(ScpArena* arena) { arena->peak = arena->bytes; }

ScpArena* scp_arena_current() { return t_currentArena; }

CScpArenaScope::CScpArenaScope(ScpArena* arena) : m_pPrevious(t_currentArena) { t_currentArena = arena; }
CScpArenaScope::~CScpArenaScope() { t_currentArena = m_pPrevious; }

CScpLocalArena::CScpLocalArena() : m_arena{nullptr, 0, 0, 0}, m_scope(&m_arena) {}
CScpLocalArena::~CScpLocalArena() { scp_arena_sweep(&m_arena); }

void* scp_alloc(std::size_t size)
{
    if (size > kMaxBlock) return nullptr;
    auto* h = static_cast<ScpBlockHeader*>(std::calloc(1, sizeof(ScpBlockHeader) + size));
    if (!h) return nullptr;
    h->size = size;
    scp_arena_link(t_currentArena, h);
    return h + 1;
}

void* scp_realloc(void* block, std::size_t size)
{
    if (!block) return scp_alloc(size);
    if (size > kMaxBlock) return nullptr;
    ScpBlockHeader* h = scp_block_header(block);
    ScpArena* arena = h->arena;
    // The block keeps its arena; the list is mended around the move.
    scp_arena_unlink(h);
    auto* moved = static_cast<ScpBlockHeader*>(std::realloc(h, sizeof(ScpBlockHeader) + size));
    if (!moved) {
        scp_arena_link(arena, h);
        return nullptr;
    }
    moved->size = size;
    scp_arena_link(arena, moved);
    return moved + 1;
}

void scp_wipe(void* data, std::size_t len) { sshcore::Cleanse(data, len); }

void scp_free(void* block)
{
    if (!block) return;
    ScpBlockHeader* h = scp_block_header(block);
    scp_arena_unlink(h);
    std::free(h);
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
    if (buf->data) scp_wipe(buf->data, buf->cap);
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

namespace {

// Reads one field through the foundation's reader; the library's reader
// moves on only when the field was read whole.
template <typename Read>
bool ReadField(ScpReader* r, Read read)
{
    CSshReader reader(ByteView(r->data, r->size), r->off);
    read(reader);
    if (reader.Failed()) return false;
    r->off = reader.Position();
    return true;
}

} // namespace

bool scp_get_byte(ScpReader* r, std::uint8_t* out)
{
    std::uint8_t value = 0;
    if (!ReadField(r, [&](CSshReader& reader) { value = reader.GetByte(); })) return false;
    *out = value;
    return true;
}

bool scp_get_bool(ScpReader* r, bool* out)
{
    bool value = false;
    if (!ReadField(r, [&](CSshReader& reader) { value = reader.GetBool(); })) return false;
    *out = value;
    return true;
}

bool scp_get_u32(ScpReader* r, std::uint32_t* out)
{
    std::uint32_t value = 0;
    if (!ReadField(r, [&](CSshReader& reader) { value = reader.GetUint32(); })) return false;
    *out = value;
    return true;
}

bool scp_get_u64(ScpReader* r, std::uint64_t* out)
{
    std::uint64_t value = 0;
    if (!ReadField(r, [&](CSshReader& reader) { value = reader.GetUint64(); })) return false;
    *out = value;
    return true;
}

bool scp_get_string(ScpReader* r, const std::uint8_t** out, std::size_t* len, std::size_t max)
{
    ByteView value;
    if (!ReadField(r, [&](CSshReader& reader) { value = reader.GetString(max); })) return false;
    *out = value.data();
    *len = value.size();
    return true;
}

bool scp_get_bytes(ScpReader* r, const std::uint8_t** out, std::size_t n)
{
    ByteView value;
    if (!ReadField(r, [&](CSshReader& reader) { value = reader.GetRaw(n); })) return false;
    *out = value.data();
    return true;
}

std::uint32_t scp_load_u32(const std::uint8_t* p) { return LoadUint32(p); }

void scp_store_u32(std::uint8_t* p, std::uint32_t value) { StoreUint32(p, value); }
