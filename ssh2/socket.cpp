#include "ssh2/socket.h"

#include <climits>

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
    sockaddr_in remote{};
    remote.sin_family = static_cast<std::int16_t>(AF_INET);
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    std::uint32_t address = inet_addr(host);
    if (address == INADDR_NONE) {
        if (!gethostbyname(host, &address)) {
            WSASetLastError(WSAEINVAL);
            RaiseLastError();
        }
    }
    remote.sin_addr = address;
    if (connect(m_handle, &remote) == SOCKET_ERROR) RaiseLastError();
}

void CSshSocket::SendAll(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
        const int sent = send(m_handle, data, chunk, 0);
        if (sent == SOCKET_ERROR || sent <= 0) RaiseLastError();
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

std::size_t CSshSocket::ReceiveSome(std::uint8_t* buffer, std::size_t capacity)
{
    const int ready = select_readable(m_handle, m_nTimeoutSeconds, 0);
    if (ready == 0) {
        WSASetLastError(WSAETIMEDOUT);
        RaiseLastError();
    }
    if (ready < 0) RaiseLastError();
    const int chunk = capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(capacity);
    const int got = recv(m_handle, buffer, chunk, 0);
    if (got == 0) {
        WSASetLastError(WSAENOTCONN);
        RaiseLastError();
    }
    if (got < 0) RaiseLastError();
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
