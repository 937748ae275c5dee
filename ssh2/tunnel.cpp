#include "ssh2/tunnel.h"

#include <algorithm>
#include <cstring>

#include "ssh2/errors.h"
#include "ssh2/messages.h"
#include "ssh2/transport.h"

namespace {

const char* RefusalName(std::uint32_t reason)
{
    switch (reason) {
    case 1: return "forwarding is not allowed there";
    case 2: return "the connection failed";
    case 3: return "it does not know the channel type";
    case 4: return "it is short of resources";
    default: return "it gave an unknown reason";
    }
}

// A server's text as one line of printable ASCII, cut to `limit` bytes.
std::string OneLine(std::string_view text, std::size_t limit)
{
    std::string line;
    for (const char c : text.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        line += byte < 32 || byte >= 127 ? '?' : c;
    }
    return line;
}

}  // namespace

CSshTunnel::CSshTunnel(CSshTransport& transport, std::string jump) : m_transport(transport), m_strJump(std::move(jump))
{
}

std::string CSshTunnel::Target() const { return "host " + m_strHost + " port " + std::to_string(m_nPort); }

void CSshTunnel::Raise(int code, std::string failure)
{
    m_strFailure = std::move(failure);
    throw static_cast<ESSHErrors>(code);
}

void CSshTunnel::Open(const std::string& host, std::uint32_t port)
{
    m_strHost = host;
    m_nPort = port;
    CSshPacketBuilder& out = m_transport.Start(SSH_MSG_CHANNEL_OPEN);
    out.PutString(std::string_view("direct-tcpip"));
    out.PutUint32(kLocalId);
    out.PutUint32(kWindow);
    out.PutUint32(kMaxPacket);
    out.PutString(std::string_view(host));
    out.PutUint32(port);
    // The originator: nothing listens for us, so say where we are not.
    out.PutString(std::string_view("127.0.0.1"));
    out.PutUint32(0);
    m_transport.Send();

    for (;;) {
        const std::uint8_t type = m_transport.ReadPacket();
        if (type == SSH_MSG_CHANNEL_OPEN_CONFIRMATION) break;
        if (type == SSH_MSG_CHANNEL_OPEN_FAILURE) {
            CSshReader reader = m_transport.Reader();
            const std::uint32_t recipient = reader.GetUint32();
            const std::uint32_t reason = reader.GetUint32();
            const std::string text = reader.GetText(CSshTransport::kMaxPacketLength);
            if (reader.Failed() || recipient != kLocalId) Raise(SSH_WRONG_CHANNEL, m_strJump + ": a malformed refusal to forward");
            std::string failure = m_strJump + " refused to forward to " + Target() + ": " + RefusalName(reason);
            if (!text.empty()) failure += " (" + OneLine(text, kMaxReason) + ")";
            Raise(reason == 2 || reason == 4 ? SSH_SOCKET_ERROR : SSH_UNSUPPORTED_CHANNEL, std::move(failure));
        }
        // Extensions, debug messages and window news of nothing of ours.
        if (type == SSH_MSG_EXT_INFO || type == SSH_MSG_DEBUG || type == SSH_MSG_CHANNEL_WINDOW_ADJUST) continue;
        Raise(SSH_UNEXPECTED_PACKET,
              m_strJump + ": message " + std::to_string(type) + " instead of the forwarded connection");
    }
    SChannelOpenConfirmation confirmation;
    if (!ParseChannelOpenConfirmation(m_transport.Payload(), confirmation) || confirmation.recipient != kLocalId)
        Raise(SSH_WRONG_CHANNEL, m_strJump + ": a malformed answer to the forwarding");
    m_nRemoteId = confirmation.sender;
    m_nRemoteWindow = confirmation.window;
    m_nRemoteMaxPacket = confirmation.maxPacket;
    m_nLocalWindow = kWindow;
    m_nTaken = 0;
    m_pending.clear();
    m_nPendingOffset = 0;
    m_bOpen = true;
    m_bEnded = false;
}

void CSshTunnel::TakeData()
{
    SChannelData data;
    if (!ParseChannelData(m_transport.Payload(), data)) Raise(SSH_RECEIVE_ERROR, m_strJump + ": malformed channel data");
    if (data.recipient != kLocalId) return;
    // Extended data has no meaning on a forwarded connection: dropped, but
    // counted against the window all the same.
    const std::size_t size = data.data.size();
    if (size > m_nLocalWindow)
        Raise(SSH_RECEIVE_ERROR, m_strJump + " sent more than the forwarded connection's window allows (" +
                                     std::to_string(size) + " bytes, " + std::to_string(m_nLocalWindow) + " allowed)");
    m_nLocalWindow -= static_cast<std::uint32_t>(size);
    if (m_transport.Type() == SSH_MSG_CHANNEL_DATA) {
        if (m_nPendingOffset == m_pending.size()) {
            m_pending.clear();
            m_nPendingOffset = 0;
        }
        m_pending.insert(m_pending.end(), data.data.begin(), data.data.end());
    } else {
        m_nTaken += static_cast<std::uint32_t>(size);
    }
}

void CSshTunnel::ReadOne()
{
    const std::uint8_t type = m_transport.ReadPacket();
    switch (type) {
    case SSH_MSG_CHANNEL_DATA:
    case SSH_MSG_CHANNEL_EXTENDED_DATA:
        TakeData();
        return;
    case SSH_MSG_CHANNEL_WINDOW_ADJUST: {
        CSshReader reader = m_transport.Reader();
        const std::uint32_t recipient = reader.GetUint32();
        const std::uint32_t bytes = reader.GetUint32();
        if (reader.Failed()) Raise(SSH_RECEIVE_ERROR, m_strJump + ": a malformed window adjustment");
        if (recipient != kLocalId) return;
        m_nRemoteWindow = bytes > 0xFFFFFFFFu - m_nRemoteWindow ? 0xFFFFFFFFu : m_nRemoteWindow + bytes;
        return;
    }
    case SSH_MSG_CHANNEL_REQUEST: {
        SChannelRequest request;
        if (!ParseChannelRequest(m_transport.Payload(), request))
            Raise(SSH_RECEIVE_ERROR, m_strJump + ": a malformed channel request");
        if (request.wantReply) {
            m_transport.Start(SSH_MSG_CHANNEL_FAILURE).PutUint32(m_nRemoteId);
            m_transport.Send();
        }
        return;
    }
    case SSH_MSG_CHANNEL_EOF:
        m_bEnded = true;
        return;
    case SSH_MSG_CHANNEL_CLOSE:
        m_bEnded = true;
        Close();
        return;
    case SSH_MSG_EXT_INFO:
    case SSH_MSG_DEBUG:
    case SSH_MSG_CHANNEL_SUCCESS:
    case SSH_MSG_CHANNEL_FAILURE:
        return;
    default:
        Raise(SSH_UNEXPECTED_PACKET, m_strJump + ": unexpected message " + std::to_string(type) +
                                         " on the forwarded connection to " + Target());
    }
}

std::size_t CSshTunnel::ReceiveSome(std::uint8_t* buffer, std::size_t capacity)
{
    while (m_nPendingOffset == m_pending.size()) {
        if (m_bEnded || !m_bOpen)
            Raise(SSH_SOCKET_ERROR, m_strJump + " closed the forwarded connection to " + Target());
        ReadOne();
    }
    const std::size_t size = std::min(capacity, m_pending.size() - m_nPendingOffset);
    std::memcpy(buffer, m_pending.data() + m_nPendingOffset, size);
    m_nPendingOffset += size;
    m_nTaken += static_cast<std::uint32_t>(size);
    // The window comes back once half of it was taken, in one adjustment.
    if (m_nTaken >= kWindow / 2 && m_bOpen && !m_bEnded) {
        CSshPacketBuilder& adjust = m_transport.Start(SSH_MSG_CHANNEL_WINDOW_ADJUST);
        adjust.PutUint32(m_nRemoteId);
        adjust.PutUint32(m_nTaken);
        m_transport.Send();
        m_nLocalWindow += m_nTaken;
        m_nTaken = 0;
    }
    return size;
}

void CSshTunnel::SendAll(const std::uint8_t* data, std::size_t size)
{
    std::size_t sent = 0;
    while (sent < size) {
        if (m_bEnded || !m_bOpen)
            Raise(SSH_SOCKET_ERROR, m_strJump + " closed the forwarded connection to " + Target());
        const std::uint32_t largest = std::min(kMaxPacket, m_nRemoteMaxPacket);
        if (m_nRemoteWindow == 0 || largest == 0) {
            // What comes meanwhile is kept for the next read.
            ReadOne();
            continue;
        }
        const std::size_t chunk = std::min<std::size_t>({size - sent, m_nRemoteWindow, largest});
        CSshPacketBuilder& out = m_transport.Start(SSH_MSG_CHANNEL_DATA);
        out.PutUint32(m_nRemoteId);
        out.PutString(ByteView(data + sent, chunk));
        m_transport.Send();
        sent += chunk;
        m_nRemoteWindow -= static_cast<std::uint32_t>(chunk);
    }
}

void CSshTunnel::Close()
{
    if (!m_bOpen) return;
    m_bOpen = false;
    m_transport.Start(SSH_MSG_CHANNEL_CLOSE).PutUint32(m_nRemoteId);
    m_transport.Send();
}
