// Byte helpers of the engine's unit tests: SSH strings and numbers, and the
// packets a detached session sent before it had keys.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "scp/scp_mem.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const ScpBuf& b) { return Bytes(b.data, b.data + b.len); }
inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

inline void PutU32(Bytes& out, std::uint32_t v)
{
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutString(Bytes& out, const Bytes& s)
{
    PutU32(out, static_cast<std::uint32_t>(s.size()));
    Append(out, s);
}
inline void PutString(Bytes& out, const std::string& s) { PutString(out, ToBytes(s)); }

// The payloads of the plain packets in a capture after its identification
// line, which goes to *line when asked for.
inline std::vector<Bytes> SentPackets(const Bytes& capture, std::string* line = nullptr)
{
    std::vector<Bytes> out;
    std::size_t off = 0;
    while (off < capture.size() && capture[off] != '\n') ++off;
    if (line) *line = std::string(capture.begin(), capture.begin() + static_cast<long>(std::min(off + 1, capture.size())));
    ++off;
    while (capture.size() > off && capture.size() - off >= 5) {
        const std::uint32_t len = scp_load_u32(&capture[off]);
        const std::uint8_t pad = capture[off + 4];
        out.emplace_back(capture.begin() + static_cast<long>(off + 5), capture.begin() + static_cast<long>(off + 4 + len - pad));
        off += 4 + len;
    }
    return out;
}
