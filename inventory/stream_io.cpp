#include "inventory/stream_io.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::uint32_t kChunk = 64 * 1024;

// Whether the stream holds at least `bytes` more bytes after its position
// (false when it cannot tell).
bool Holds(IStream* stream, std::uint64_t bytes)
{
    std::uint64_t position = 0;
    std::uint64_t size = 0;
    return SUCCEEDED(StreamPosition(stream, position)) && SUCCEEDED(StreamSize(stream, size)) &&
           size >= position && size - position >= bytes;
}

// The bytes of the memory block under a stream, locked for as long as this
// lives; none for a stream of another kind.
class CLockedBlock {
public:
    explicit CLockedBlock(IStream* stream)
    {
        if (FAILED(GetHGlobalFromStream(stream, &m_block)) || m_block == nullptr) return;
        m_size = GlobalSize(m_block);
        m_data = static_cast<const std::uint8_t*>(GlobalLock(m_block));
    }
    ~CLockedBlock()
    {
        if (m_data != nullptr) GlobalUnlock(m_block);
    }
    CLockedBlock(const CLockedBlock&) = delete;
    CLockedBlock& operator=(const CLockedBlock&) = delete;

    // The `bytes` bytes at `position`; null unless the block holds them all.
    const std::uint8_t* At(std::uint64_t position, std::uint64_t bytes) const
    {
        if (m_data == nullptr || position > m_size || m_size - position < bytes) return nullptr;
        return m_data + position;
    }

private:
    HGLOBAL m_block = nullptr;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace

bool CStreamReader::ReadU32(std::uint32_t& value)
{
    std::uint8_t bytes[4];
    ULONG read = 0;
    if (m_failed || FAILED(m_stream->Read(bytes, 4, &read)) || read != 4) {
        m_failed = true;
        return false;
    }
    value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    return true;
}

bool CStreamReader::ReadBytes(std::uint32_t count, std::string& out)
{
    out.clear();
    if (m_failed) return false;
    // Grows chunk by chunk, so a length from a damaged file costs no more
    // memory than the bytes that are really there.
    while (out.size() < count) {
        const std::size_t want = std::min<std::size_t>(kChunk, count - out.size());
        const std::size_t at = out.size();
        out.resize(at + want);
        ULONG read = 0;
        if (FAILED(m_stream->Read(out.data() + at, static_cast<ULONG>(want), &read)) || read != want) {
            out.clear();
            m_failed = true;
            return false;
        }
    }
    return true;
}

bool CStreamReader::ReadWide(std::uint32_t count, std::u16string& out)
{
    out.clear();
    if (count > 0x7FFFFFFFu) {
        m_failed = true;
        return false;
    }
    if (m_failed) return false;
    char16_t chunk[4096];
    // A long text in a memory block (the console host's stream is one) is
    // copied straight into a string of its size: one pass over the bytes.
    if constexpr (std::endian::native == std::endian::little) {
        if (count > std::size(chunk) && TakeWideFromBlock(count, out)) return !m_failed;
    }
    // Read through a small buffer of its own and appended, so that no unit
    // is written twice (a resized text would be filled with zeros first);
    // room for the whole text is made at once only when the stream shows
    // that the text is there, so a damaged count costs nothing.
    if (count > std::size(chunk) && Holds(m_stream, std::uint64_t{count} * 2)) out.reserve(count);
    while (out.size() < count) {
        const std::size_t want = std::min<std::size_t>(std::size(chunk), count - out.size());
        ULONG read = 0;
        const ULONG bytes = static_cast<ULONG>(want * 2);
        if (FAILED(m_stream->Read(chunk, bytes, &read)) || read != bytes) {
            out.clear();
            m_failed = true;
            return false;
        }
        if constexpr (std::endian::native == std::endian::big)
            for (std::size_t i = 0; i < want; ++i) chunk[i] = static_cast<char16_t>((chunk[i] >> 8) | (chunk[i] << 8));
        out.append(chunk, want);
    }
    return true;
}

bool CStreamReader::TakeWideFromBlock(std::uint32_t count, std::u16string& out)
{
    // The block may be larger than the stream: the stream's end counts too.
    const std::uint64_t bytes = std::uint64_t{count} * 2;
    if (!Holds(m_stream, bytes)) return false;
    const CLockedBlock block(m_stream);
    std::uint64_t position = 0;
    if (FAILED(StreamPosition(m_stream, position))) return false;
    const std::uint8_t* at = block.At(position, bytes);
    if (at == nullptr || reinterpret_cast<std::uintptr_t>(at) % alignof(char16_t) != 0) return false;
    if (FAILED(StreamSkip(m_stream, bytes))) {
        m_failed = true;
        return true;
    }
    out.assign(reinterpret_cast<const char16_t*>(at), count);
    return true;
}

bool CStreamReader::Skip(std::uint32_t count)
{
    std::string ignored;
    return ReadBytes(count, ignored);
}

void CStreamWriter::WriteU32(std::uint32_t value)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    WriteBytes(bytes, 4);
}

void CStreamWriter::WriteBytes(const void* data, std::size_t size)
{
    if (FAILED(m_result) || size == 0) return;
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size, 0x40000000));
        ULONG written = 0;
        const HRESULT hr = m_stream->Write(p, part, &written);
        if (FAILED(hr) || written != part) {
            m_result = FAILED(hr) ? hr : STG_E_WRITEFAULT;
            return;
        }
        p += part;
        size -= part;
    }
}

void CStreamWriter::WriteWide(std::u16string_view text)
{
    if constexpr (std::endian::native == std::endian::little) {
        WriteBytes(text.data(), text.size() * sizeof(char16_t));
    } else {
        std::string bytes(text.size() * 2, '\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
        }
        WriteBytes(bytes.data(), bytes.size());
    }
}
