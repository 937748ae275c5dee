// The library's allocator with its per-owner arenas, growable byte buffers
// and the bounded reader (over the foundation's) used for every byte that
// arrives from the network.
#pragma once

#include <cstddef>
#include <cstdint>

// The blocks of one owner: an upload's job, or a test. Every block allocated
// while an arena is current on the thread is recorded in it (whichever
// arena is current when it is freed or resized), and the blocks still
// recorded when the owner ends are wiped and freed with it. Arenas share
// nothing: two uploads never see each other's blocks or counts.
struct ScpBlockHeader;
struct ScpArena {
    ScpBlockHeader* head;
    int count;           // blocks recorded
    std::size_t bytes;   // bytes in recorded blocks
    std::size_t peak;    // the most bytes has been since init or the last reset of the peak
};

void scp_arena_init(ScpArena* arena);
// Wipes and frees every block still recorded; the arena is empty after.
void scp_arena_sweep(ScpArena* arena);
int scp_arena_count(const ScpArena* arena);
std::size_t scp_arena_peak_bytes(const ScpArena* arena);
void scp_arena_reset_peak(ScpArena* arena);

// The arena current on this thread (nullptr: blocks are recorded nowhere).
ScpArena* scp_arena_current();

// Makes an arena current on this thread for the scope's life, then the one
// before it again.
class CScpArenaScope {
public:
    explicit CScpArenaScope(ScpArena* arena);
    ~CScpArenaScope();
    CScpArenaScope(const CScpArenaScope&) = delete;
    CScpArenaScope& operator=(const CScpArenaScope&) = delete;

private:
    ScpArena* m_pPrevious;
};

// An arena of the caller's own (a test, a fuzz input), current on this
// thread for its life; what is left in it is wiped and freed at its end.
class CScpLocalArena {
public:
    CScpLocalArena();
    ~CScpLocalArena();
    CScpLocalArena(const CScpLocalArena&) = delete;
    CScpLocalArena& operator=(const CScpLocalArena&) = delete;
    ScpArena* get() { return &m_arena; }

private:
    ScpArena m_arena;
    CScpArenaScope m_scope;
};

// The library's allocator: zeroed blocks, recorded in the current arena.
void* scp_alloc(std::size_t size);
void* scp_realloc(void* block, std::size_t size);
void scp_free(void* block);
// Overwrites memory in a way the compiler does not drop (for secrets).
void scp_wipe(void* data, std::size_t len);
char* scp_strdup(const char* text);

// A growable buffer in tracked memory. Zero-initialised means empty.
struct ScpBuf {
    std::uint8_t* data;
    std::size_t len;
    std::size_t cap;
};

void scp_buf_init(ScpBuf* buf);
void scp_buf_free(ScpBuf* buf);
// Overwrites the contents before freeing.
void scp_buf_wipe(ScpBuf* buf);
// 0 or 18 (out of memory).
int scp_buf_reserve(ScpBuf* buf, std::size_t extra);
int scp_buf_put(ScpBuf* buf, const void* data, std::size_t len);
int scp_buf_put_byte(ScpBuf* buf, std::uint8_t value);
int scp_buf_put_u32(ScpBuf* buf, std::uint32_t value);
int scp_buf_put_u64(ScpBuf* buf, std::uint64_t value);
int scp_buf_put_string(ScpBuf* buf, const void* data, std::size_t len);
int scp_buf_put_cstring(ScpBuf* buf, const char* text);
// Drops the first n bytes.
void scp_buf_consume(ScpBuf* buf, std::size_t n);

// A reader over untrusted bytes: each accessor checks what remains and
// leaves the reader unchanged when it fails (returns false).
struct ScpReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t off;
};

inline ScpReader scp_reader(const std::uint8_t* data, std::size_t size) { return ScpReader{data, size, 0}; }
bool scp_get_byte(ScpReader* r, std::uint8_t* out);
bool scp_get_bool(ScpReader* r, bool* out);
bool scp_get_u32(ScpReader* r, std::uint32_t* out);
bool scp_get_u64(ScpReader* r, std::uint64_t* out);
// A 32-bit length then that many bytes, refused when longer than max.
bool scp_get_string(ScpReader* r, const std::uint8_t** out, std::size_t* len, std::size_t max);
bool scp_get_bytes(ScpReader* r, const std::uint8_t** out, std::size_t n);
inline std::size_t scp_remaining(const ScpReader* r) { return r->size - r->off; }

std::uint32_t scp_load_u32(const std::uint8_t* p);
void scp_store_u32(std::uint8_t* p, std::uint32_t value);
