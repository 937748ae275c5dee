// The library's tracked allocator, growable byte buffers and the bounded
// reader used for every byte that arrives from the network.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kScpAllocSlots = 1024;

// Every block of the library is recorded in a table of 1024 slots; a block
// allocated while all slots are taken still works but is not tracked.
void* scp_alloc(std::size_t size);
void* scp_realloc(void* block, std::size_t size);
void scp_free(void* block);
// Forgets every recorded block (does not free them).
void scp_alloc_reset();
// Frees every block still recorded and clears the table.
void scp_alloc_sweep();
// Number of blocks currently recorded (for tests).
int scp_alloc_count();
// The most bytes the recorded blocks held at one time since the last
// scp_alloc_reset_peak (for tests and measurements).
std::size_t scp_alloc_peak_bytes();
void scp_alloc_reset_peak();
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
