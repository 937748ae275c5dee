// Bytes as the SSH wire writes them: big-endian numbers, a reader of the
// fields of a message that never goes past its end, and their writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/bignum.h"

using ByteView = std::span<const std::uint8_t>;

inline ByteView AsBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
inline std::string_view AsText(ByteView bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

void StoreUint32(std::uint8_t* out, std::uint32_t value);
std::uint32_t LoadUint32(const std::uint8_t* in);

// The same fields appended to a message being built.
void AppendUint32(std::vector<std::uint8_t>& out, std::uint32_t value);
void AppendString(std::vector<std::uint8_t>& out, ByteView bytes);
inline void AppendString(std::vector<std::uint8_t>& out, std::string_view text) { AppendString(out, AsBytes(text)); }
// An unsigned big-endian number as an mpint: leading zeros dropped, one
// added when the top bit is set so it does not read as negative.
void AppendMpint(std::vector<std::uint8_t>& out, ByteView magnitude);

// Reads the fields of a payload without ever going past its end. A failed
// read leaves the position where it was, returns an empty value and marks
// the reader as failed.
class CSshReader {
public:
    explicit CSshReader(ByteView data, std::size_t position = 0) : m_data(data), m_nPos(position) {}

    std::uint8_t GetByte();
    std::uint32_t GetUint32();
    std::uint64_t GetUint64();
    bool GetBool();
    // A string of at most `limit` bytes (a longer one fails).
    ByteView GetString(std::size_t limit = SIZE_MAX);
    std::string GetText(std::size_t limit = SIZE_MAX);
    // The content of an mpint; fails like GetString.
    ByteView GetMpintBytes(std::size_t limit = 16384);
    sshcore::CBigNum GetMpint(std::size_t limit = 16384);
    ByteView GetRaw(std::size_t size);

    std::size_t Position() const { return m_nPos; }
    std::size_t Remaining() const { return m_data.size() - m_nPos; }
    bool AtEnd() const { return m_nPos == m_data.size(); }
    bool Failed() const { return m_bFailed; }
    bool Ok() const { return !m_bFailed; }

private:
    bool Need(std::size_t n);
    ByteView m_data;
    std::size_t m_nPos;
    bool m_bFailed = false;
};
