// An in-memory byte stream for the transport: reads come from a buffer the
// test fills (in chunks of a chosen size), writes are collected.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "ssh2/errors.h"
#include "ssh2/socket.h"

class CMemoryStream : public ISshStream {
public:
    std::size_t ReceiveSome(std::uint8_t* buffer, std::size_t capacity) override
    {
        if (m_nPos == input.size()) throw SSH_SOCKET_ERROR;  // the peer closed
        const std::size_t n = std::min({capacity, chunk, input.size() - m_nPos});
        std::memcpy(buffer, input.data() + m_nPos, n);
        m_nPos += n;
        ++reads;
        return n;
    }
    void SendAll(const std::uint8_t* data, std::size_t size) override
    {
        output.insert(output.end(), data, data + size);
        ++writes;
    }
    void Feed(const std::vector<std::uint8_t>& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
    void Feed(const std::string& text) { input.insert(input.end(), text.begin(), text.end()); }
    std::size_t Consumed() const { return m_nPos; }

    std::vector<std::uint8_t> input, output;
    std::size_t chunk = SIZE_MAX;
    int reads = 0, writes = 0;

private:
    std::size_t m_nPos = 0;
};
