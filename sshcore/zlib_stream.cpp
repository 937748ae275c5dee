#include "sshcore/zlib_stream.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "sshcore/digest.h"

namespace sshcore {

struct CZlibStream::State {
    z_stream z{};
};

CZlibStream::CZlibStream(bool deflate) : m_pState(std::make_unique<State>()), m_bDeflate(deflate)
{
    const int rc = deflate ? deflateInit(&m_pState->z, Z_DEFAULT_COMPRESSION) : inflateInit(&m_pState->z);
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (rc != Z_OK) throw std::runtime_error("zlib stream");
}

CZlibStream::~CZlibStream()
{
    if (m_bDeflate) deflateEnd(&m_pState->z);
    else inflateEnd(&m_pState->z);
}

EZlibStatus CZlibStream::Run(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out, std::size_t limit)
{
    z_stream& z = m_pState->z;
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    const std::size_t start = out.size();
    std::uint8_t chunk[8192];
    EZlibStatus status = EZlibStatus::Ok;
    for (;;) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int rc = m_bDeflate ? deflate(&z, Z_PARTIAL_FLUSH) : inflate(&z, Z_SYNC_FLUSH);
        const std::size_t produced = sizeof chunk - z.avail_out;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            status = m_bDeflate ? EZlibStatus::Failed : EZlibStatus::Corrupt;
            break;
        }
        if (limit - (out.size() - start) < produced) {
            status = EZlibStatus::TooLarge;
            break;
        }
        out.insert(out.end(), chunk, chunk + produced);
        // Z_BUF_ERROR: no progress was possible, every byte was taken.
        if (rc == Z_BUF_ERROR || z.avail_out != 0) break;
    }
    Cleanse(chunk, sizeof chunk);
    z.next_out = nullptr;
    z.avail_out = 0;
    if (status == EZlibStatus::Ok && z.avail_in != 0)
        status = m_bDeflate ? EZlibStatus::Failed : EZlibStatus::Corrupt;
    z.next_in = nullptr;
    z.avail_in = 0;
    if (status == EZlibStatus::Ok) m_nTotalIn += data.size();
    return status;
}

EZlibStatus CZlibStream::SetLevel(int level, std::vector<std::uint8_t>& out)
{
    if (!m_bDeflate) return EZlibStatus::Failed;
    z_stream& z = m_pState->z;
    std::uint8_t chunk[256];
    z.next_in = nullptr;
    z.avail_in = 0;
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    const int rc = deflateParams(&z, level, Z_DEFAULT_STRATEGY);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    z.next_out = nullptr;
    z.avail_out = 0;
    return rc == Z_OK || rc == Z_BUF_ERROR ? EZlibStatus::Ok : EZlibStatus::Failed;
}

std::size_t CZlibStream::PendingBits() const
{
    if (!m_bDeflate) return 0;
    unsigned pending = 0;
    int bits = 0;
    deflatePending(&m_pState->z, &pending, &bits);
    return static_cast<std::size_t>(pending) * 8 + static_cast<std::size_t>(bits);
}

namespace {

// zlib counts in uInt: a larger buffer is handed over in parts.
constexpr std::size_t kMaxZlibPart = std::size_t{1} << 30;

}  // namespace

EZlibStatus DeflateWhole(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out, int level)
{
    z_stream z{};
    const int started = deflateInit(&z, level);
    if (started == Z_MEM_ERROR) throw std::bad_alloc();
    if (started != Z_OK) return EZlibStatus::Failed;
    const std::size_t start = out.size();
    // Room for the worst case at once: one growth, no copies of the output.
    if (data.size() <= kMaxZlibPart) out.resize(start + deflateBound(&z, static_cast<uLong>(data.size())));
    std::size_t taken = 0;
    std::size_t made = start;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (out.size() - made < 64) out.resize(out.size() + std::max<std::size_t>(64 * 1024, out.size() / 4));
        const std::size_t part = std::min(kMaxZlibPart, data.size() - taken);
        z.next_in = const_cast<Bytef*>(data.data() + taken);
        z.avail_in = static_cast<uInt>(part);
        const std::size_t room = std::min(kMaxZlibPart, out.size() - made);
        z.next_out = out.data() + made;
        z.avail_out = static_cast<uInt>(room);
        const bool last = taken + part == data.size();
        rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        taken += part - z.avail_in;
        made += room - z.avail_out;
        if (rc == Z_BUF_ERROR) rc = Z_OK;  // no progress possible: more room follows
    }
    deflateEnd(&z);
    out.resize(made);
    if (rc != Z_STREAM_END) {
        out.resize(start);
        return EZlibStatus::Failed;
    }
    return EZlibStatus::Ok;
}

EZlibStatus InflateWhole(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out, std::size_t limit)
{
    z_stream z{};
    const int started = inflateInit(&z);
    if (started == Z_MEM_ERROR) throw std::bad_alloc();
    if (started != Z_OK) return EZlibStatus::Failed;
    const std::size_t start = out.size();
    std::size_t taken = 0;
    std::uint8_t chunk[16384];
    EZlibStatus status = EZlibStatus::Ok;
    for (;;) {
        const std::size_t part = std::min(kMaxZlibPart, data.size() - taken);
        z.next_in = const_cast<Bytef*>(data.data() + taken);
        z.avail_in = static_cast<uInt>(part);
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int rc = inflate(&z, Z_NO_FLUSH);
        taken += part - z.avail_in;
        const std::size_t produced = sizeof chunk - z.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            status = rc == Z_MEM_ERROR ? EZlibStatus::Failed : EZlibStatus::Corrupt;
            break;
        }
        if (limit - (out.size() - start) < produced) {
            status = EZlibStatus::TooLarge;
            break;
        }
        out.insert(out.end(), chunk, chunk + produced);
        if (rc == Z_STREAM_END) {
            // Bytes after the stream's end are no part of it.
            if (taken != data.size()) status = EZlibStatus::Corrupt;
            break;
        }
        // No progress with all input taken: the stream was cut short.
        if (rc == Z_BUF_ERROR || (produced == 0 && taken == data.size())) {
            status = EZlibStatus::Corrupt;
            break;
        }
    }
    inflateEnd(&z);
    if (status != EZlibStatus::Ok) out.resize(start);
    return status;
}

}  // namespace sshcore
