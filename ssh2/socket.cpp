#include "ssh2/socket.h"

#include <chrono>
#include <climits>
#include <string>

#include "ssh2/errors.h"

using namespace winsock;

CSshSocket::~CSshSocket()
{
    Close();
    if (m_nStartupResult == 0) WSACleanup();
}

int CSshSocket::MapError(int wsaError)
{
    switch (wsaError) {
    case WSAHOST_NOT_FOUND: return SSH_HOST_NOT_EXIST;
    case WSATRY_AGAIN: return SSH_HOST_NOT_FOUND;
    case WSAENETDOWN: return SSH_NETWORK_DOWN;
    case WSAETIMEDOUT: return SSH_TIMEOUT;
    default: return SSH_SOCKET_ERROR;
    }
}

void CSshSocket::RaiseLastError()
{
    throw static_cast<ESSHErrors>(MapError(WSAGetLastError()));
}

void CSshSocket::Raise(int wsaError, std::string failure)
{
    m_strFailure = std::move(failure);
    throw static_cast<ESSHErrors>(MapError(wsaError));
}

void CSshSocket::RaiseDeadline()
{
    m_bDeadlinePassed = true;
    m_strFailure = m_strDeadlineMessage;
    Close();
    throw SSH_TIMEOUT;
}

void CSshSocket::SetDeadline(const CDeadline& deadline, std::string message)
{
    m_deadline = deadline;
    m_strDeadlineMessage = std::move(message);
}

void CSshSocket::ClearDeadline()
{
    m_deadline = CDeadline();
    m_strDeadlineMessage.clear();
}

void CSshSocket::PostponeDeadline(std::chrono::milliseconds span) { m_deadline = m_deadline.Later(span); }

void CSshSocket::ClearFailure()
{
    m_strFailure.clear();
    m_bDeadlinePassed = false;
}

CDeadline CSshSocket::WaitLimit() const
{
    return CDeadline::Earlier(m_deadline, CDeadline::InSeconds(m_nTimeoutSeconds));
}

void CSshSocket::Startup()
{
    m_nStartupResult = WSAStartup(0x0002, &m_startupData);
    if (m_nStartupResult == 0 && m_startupData.wVersion != 0x0002) {
        WSACleanup();
        m_nStartupResult = WSAVERNOTSUPPORTED;
    }
}

void CSshSocket::Create(int family, int type, int protocol)
{
    if (m_nStartupResult != 0) Startup();
    if (m_nStartupResult != 0) throw SSH_WINSOCK_INIT;
    const SOCKET handle = socket(family, type, protocol);
    if (handle == INVALID_SOCKET) RaiseLastError();
    Close();
    m_handle = handle;
    sockaddr_in local{};
    local.sin_family = static_cast<std::int16_t>(AF_INET);
    local.sin_port = 0;
    local.sin_addr = INADDR_ANY;
    if (bind(m_handle, &local) == SOCKET_ERROR) RaiseLastError();
}

void CSshSocket::SetOption(int name, const void* value, int length, int level)
{
    if (setsockopt(m_handle, level, name, value, length) == SOCKET_ERROR) RaiseLastError();
}

void CSshSocket::Connect(const char* host, unsigned port)
{
    const std::string name = host ? host : "";
    m_strPeer = "host " + name + " port " + std::to_string(port);
    sockaddr_in remote{};
    remote.sin_family = static_cast<std::int16_t>(AF_INET);
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    std::uint32_t address = inet_addr(name.c_str());
    if (address == INADDR_NONE) {
        if (!gethostbyname(name.c_str(), &address)) {
            // The lookup's own error is not mapped: every failed lookup is 16.
            Raise(WSAEINVAL, "Could not resolve hostname " + name + ": " + resolver_error_text());
        }
    }
    remote.sin_addr = address;
    const auto started = CDeadline::Clock::now();
    const CDeadline limit = m_deadline.IsSet() ? m_deadline : CDeadline::InSeconds(m_nTimeoutSeconds);
    if (connect_until(m_handle, &remote, limit) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        std::string text = "connect to " + m_strPeer + ": " + error_text(error);
        if (error == WSAETIMEDOUT) {
            m_bDeadlinePassed = m_deadline.IsSet() && m_deadline.Passed();
            const auto waited =
                std::chrono::duration_cast<std::chrono::seconds>(CDeadline::Clock::now() - started).count();
            text += " after " + std::to_string(waited) + (waited == 1 ? " second" : " seconds");
        }
        Raise(error, std::move(text));
    }
}

void CSshSocket::SendAll(const std::uint8_t* data, std::size_t size)
{
    if (size > 0 && m_handle == INVALID_SOCKET) Raise(WSAENOTCONN, "the connection to " + m_strPeer + " is closed");
    while (size > 0) {
        const CDeadline limit = WaitLimit();
        const int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
        const int sent = send_until(m_handle, data, chunk, limit);
        if (sent == SOCKET_ERROR || sent <= 0) {
            const int error = WSAGetLastError();
            if (error == WSAETIMEDOUT && m_deadline.IsSet() && m_deadline.Passed()) RaiseDeadline();
            if (error == WSAETIMEDOUT)
                Raise(error, m_strPeer + " took no data for " + std::to_string(m_nTimeoutSeconds) + " seconds");
            Raise(error, "sending to " + m_strPeer + ": " + error_text(error));
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

std::size_t CSshSocket::ReceiveSome(std::uint8_t* buffer, std::size_t capacity)
{
    if (m_handle == INVALID_SOCKET) Raise(WSAENOTCONN, "the connection to " + m_strPeer + " is closed");
    const int ready = wait_readable(m_handle, WaitLimit());
    if (ready == 0) {
        if (m_deadline.IsSet() && m_deadline.Passed()) RaiseDeadline();
        Raise(WSAETIMEDOUT, m_strPeer + " sent nothing for " + std::to_string(m_nTimeoutSeconds) + " seconds");
    }
    if (ready < 0) {
        const int error = WSAGetLastError();
        Raise(error, "waiting for " + m_strPeer + ": " + error_text(error));
    }
    const int chunk = capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(capacity);
    const int got = recv(m_handle, buffer, chunk, 0);
    if (got == 0) Raise(WSAENOTCONN, "Connection closed by " + m_strPeer);
    if (got < 0) {
        const int error = WSAGetLastError();
        Raise(error, "reading from " + m_strPeer + ": " + error_text(error));
    }
    return static_cast<std::size_t>(got);
}

void CSshSocket::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& count)
{
    if (count != 0) return;
    count = ReceiveSome(buffer, capacity);
}

void CSshSocket::Close()
{
    if (m_handle != INVALID_SOCKET) {
        closesocket(m_handle);
        m_handle = INVALID_SOCKET;
    }
}
