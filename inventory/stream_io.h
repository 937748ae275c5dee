// Bounded reading and checked writing of the saved inventory's fields.
#pragma once

#include <cstdint>
#include <string>

#include "platform/stream.h"

// Reads little-endian fields from a stream. A read that cannot be completed
// fails without reading past the field, and every later read fails too.
class CStreamReader {
public:
    explicit CStreamReader(IStream* stream) : m_stream(stream) {}

    bool ReadU32(std::uint32_t& value);
    // Reads exactly `count` bytes; never allocates more than the stream
    // actually delivers.
    bool ReadBytes(std::uint32_t count, std::string& out);
    // `count` UTF-16LE code units.
    bool ReadWide(std::uint32_t count, std::u16string& out);
    bool Skip(std::uint32_t count);
    bool Failed() const { return m_failed; }

private:
    // Copies `count` units straight from the memory block under the stream;
    // false, with nothing read, when the stream is no block or the text is
    // not all there (or not aligned).
    bool TakeWideFromBlock(std::uint32_t count, std::u16string& out);

    IStream* m_stream;
    bool m_failed = false;
};

// Writes little-endian fields; the first failing write's error is kept and
// every later write is skipped.
class CStreamWriter {
public:
    explicit CStreamWriter(IStream* stream) : m_stream(stream) {}

    void WriteU32(std::uint32_t value);
    void WriteBytes(const void* data, std::size_t size);
    void WriteWide(std::u16string_view text);
    // Records a failure that does not come from the stream.
    void Fail(HRESULT hr)
    {
        if (SUCCEEDED(m_result)) m_result = hr;
    }
    HRESULT Result() const { return m_result; }

private:
    IStream* m_stream;
    HRESULT m_result = S_OK;
};
