#include "sshcore/reader.h"

void StoreUint32(std::uint8_t* out, std::uint32_t value)
{
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t LoadUint32(const std::uint8_t* in)
{
    return (std::uint32_t(in[0]) << 24) | (std::uint32_t(in[1]) << 16) | (std::uint32_t(in[2]) << 8) | in[3];
}

void AppendUint32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    std::uint8_t bytes[4];
    StoreUint32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void AppendString(std::vector<std::uint8_t>& out, ByteView bytes)
{
    AppendUint32(out, static_cast<std::uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendMpint(std::vector<std::uint8_t>& out, ByteView magnitude)
{
    while (!magnitude.empty() && magnitude.front() == 0) magnitude = magnitude.subspan(1);
    const bool pad = !magnitude.empty() && (magnitude.front() & 0x80) != 0;
    AppendUint32(out, static_cast<std::uint32_t>(magnitude.size() + (pad ? 1 : 0)));
    if (pad) out.push_back(0);
    out.insert(out.end(), magnitude.begin(), magnitude.end());
}

bool CSshReader::Need(std::size_t n)
{
    if (m_data.size() - m_nPos < n) {
        m_bFailed = true;
        return false;
    }
    return true;
}

std::uint8_t CSshReader::GetByte()
{
    if (!Need(1)) return 0;
    return m_data[m_nPos++];
}

std::uint32_t CSshReader::GetUint32()
{
    if (!Need(4)) return 0;
    const std::uint32_t value = LoadUint32(m_data.data() + m_nPos);
    m_nPos += 4;
    return value;
}

std::uint64_t CSshReader::GetUint64()
{
    if (!Need(8)) return 0;
    const std::uint64_t value = (std::uint64_t{LoadUint32(m_data.data() + m_nPos)} << 32) |
                                LoadUint32(m_data.data() + m_nPos + 4);
    m_nPos += 8;
    return value;
}

bool CSshReader::GetBool()
{
    if (!Need(1)) return false;
    return m_data[m_nPos++] != 0;
}

ByteView CSshReader::GetString(std::size_t limit)
{
    if (!Need(4)) return {};
    const std::uint32_t length = LoadUint32(m_data.data() + m_nPos);
    if ((length & 0x80000000u) != 0 || length > limit || m_data.size() - m_nPos - 4 < length) {
        m_bFailed = true;
        return {};
    }
    const ByteView value = m_data.subspan(m_nPos + 4, length);
    m_nPos += 4 + length;
    return value;
}

std::string CSshReader::GetText(std::size_t limit)
{
    const ByteView bytes = GetString(limit);
    return std::string(AsText(bytes));
}

ByteView CSshReader::GetMpintBytes(std::size_t limit) { return GetString(limit); }

sshcore::CBigNum CSshReader::GetMpint(std::size_t limit)
{
    return sshcore::CBigNum::FromMpint(GetMpintBytes(limit));
}

ByteView CSshReader::GetRaw(std::size_t size)
{
    if (!Need(size)) return {};
    const ByteView value = m_data.subspan(m_nPos, size);
    m_nPos += size;
    return value;
}
