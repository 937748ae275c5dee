#include "ssh2/packet.h"

void CSshPacketBuilder::Start(std::uint8_t type)
{
    m_data.assign(kHeader, 0);
    m_data.push_back(type);
}

void CSshPacketBuilder::PutByte(std::uint8_t value) { m_data.push_back(value); }

void CSshPacketBuilder::PutUint32(std::uint32_t value) { AppendUint32(m_data, value); }

void CSshPacketBuilder::PutBool(bool value) { m_data.push_back(value ? 1 : 0); }

void CSshPacketBuilder::PutString(std::string_view text) { PutString(AsBytes(text)); }

void CSshPacketBuilder::PutString(ByteView bytes) { AppendString(m_data, bytes); }

void CSshPacketBuilder::PutMpint(const sshcore::CBigNum& value)
{
    const std::vector<std::uint8_t> bytes = value.ToMpint();
    PutString(ByteView(bytes));
}

void CSshPacketBuilder::PutRaw(ByteView bytes) { m_data.insert(m_data.end(), bytes.begin(), bytes.end()); }

void CSshPacketBuilder::StartNameList()
{
    m_nNameListStart = m_data.size();
    PutUint32(0);
}

void CSshPacketBuilder::AppendToNameList(std::string_view name)
{
    if (m_data.size() > m_nNameListStart + 4) m_data.push_back(',');
    PutRaw(AsBytes(name));
}

void CSshPacketBuilder::EndNameList()
{
    StoreUint32(m_data.data() + m_nNameListStart, static_cast<std::uint32_t>(m_data.size() - m_nNameListStart - 4));
}

