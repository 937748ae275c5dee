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
    // Read through a small buffer of its own and appended, so that no unit
    // is written twice (a resized text would be filled with zeros first);
    // room for the whole text is made at once only when the stream shows
    // that the text is there, so a damaged count costs nothing.
    char16_t chunk[4096];
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
