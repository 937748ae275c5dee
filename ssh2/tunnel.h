// A forwarded TCP connection through a logged-in session: a "direct-tcpip"
// channel that the jump host connects to the next host. The next session's
// transport reads and writes it as it would a socket; the waits happen on
// the jump session's own connection, within its deadlines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ssh2/socket.h"

class CSshTransport;

// The stream a session's transport uses: its own socket, or the tunnel
// through its jump host once that is open.
class CSshStreamRoute final : public ISshStream {
public:
    explicit CSshStreamRoute(ISshStream& first) : m_pTarget(&first) {}
    void Set(ISshStream& target) { m_pTarget = &target; }
    std::size_t ReceiveSome(std::uint8_t* buffer, std::size_t capacity) override
    {
        return m_pTarget->ReceiveSome(buffer, capacity);
    }
    void SendAll(const std::uint8_t* data, std::size_t size) override { m_pTarget->SendAll(data, size); }

private:
    ISshStream* m_pTarget;
};

class CSshTunnel final : public ISshStream {
public:
    // Our window and largest packet for the forwarded bytes: the window is
    // given back once half of it is taken, a packet fits the transport's
    // receive buffer.
    static constexpr std::uint32_t kWindow = 512 * 1024;
    static constexpr std::uint32_t kMaxPacket = 32 * 1024;
    static constexpr std::uint32_t kLocalId = 512;
    // The longest reason text taken from a refusal.
    static constexpr std::size_t kMaxReason = 256;

    // `jump` names the jump host in messages ("jump host b port 22").
    CSshTunnel(CSshTransport& transport, std::string jump);
    CSshTunnel(const CSshTunnel&) = delete;
    CSshTunnel& operator=(const CSshTunnel&) = delete;

    // Asks the jump host to connect to host:port; raises when it refuses
    // (SSH_UNSUPPORTED_CHANNEL when forwarding is not allowed there,
    // SSH_SOCKET_ERROR when it could not connect), Failure() saying why.
    void Open(const std::string& host, std::uint32_t port);
    std::size_t ReceiveSome(std::uint8_t* buffer, std::size_t capacity) override;
    void SendAll(const std::uint8_t* data, std::size_t size) override;
    // Ends the channel on our side; sends nothing once it is closed.
    void Close();

    const std::string& Failure() const { return m_strFailure; }
    bool IsOpen() const { return m_bOpen; }

private:
    // Reads one packet of the jump session and takes what it carries for
    // the channel.
    void ReadOne();
    void TakeData();
    [[noreturn]] void Raise(int code, std::string failure);
    std::string Target() const;

    CSshTransport& m_transport;
    std::string m_strJump;
    std::string m_strHost;
    std::uint32_t m_nPort = 0;
    bool m_bOpen = false;
    bool m_bEnded = false;  // the jump host sent EOF or CLOSE
    std::uint32_t m_nRemoteId = 0;
    std::uint32_t m_nRemoteWindow = 0;
    std::uint32_t m_nRemoteMaxPacket = 0;
    std::uint32_t m_nLocalWindow = kWindow;
    std::uint32_t m_nTaken = 0;  // bytes taken since the window was last given back
    std::vector<std::uint8_t> m_pending;
    std::size_t m_nPendingOffset = 0;
    std::string m_strFailure;
};
