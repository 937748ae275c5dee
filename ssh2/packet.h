// Building outgoing packets and reading fields of incoming ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/algorithms.h"
#include "sshcore/bignum.h"
#include "sshcore/reader.h"


// An outgoing packet: five header bytes (length and padding length, filled
// in when the packet is finished) followed by the payload, whose first byte
// is the message type.
class CSshPacketBuilder {
public:
    static constexpr std::size_t kHeader = 5;

    void Start(std::uint8_t type);
    void PutByte(std::uint8_t value);
    void PutUint32(std::uint32_t value);
    void PutBool(bool value);
    void PutString(std::string_view text);
    void PutString(ByteView bytes);
    void PutMpint(const sshcore::CBigNum& value);
    void PutRaw(ByteView bytes);
    // A name-list written piece by piece: names joined with ",".
    void StartNameList();
    void AppendToNameList(std::string_view name);
    void EndNameList();

    std::vector<std::uint8_t>& Data() { return m_data; }
    const std::vector<std::uint8_t>& Data() const { return m_data; }
    ByteView Payload() const { return ByteView(m_data).subspan(kHeader); }
    std::uint8_t Type() const { return m_data.size() > kHeader ? m_data[kHeader] : 0; }

private:
    std::vector<std::uint8_t> m_data;
    std::size_t m_nNameListStart = 0;
};

// Name lists as the foundation reads them.
using sshcore::NameListContains;
