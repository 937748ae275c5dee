#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CLocalSocket::~CLocalSocket()
{
    Close();
}

void CLocalSocket::Close()
{
    if (m_nFd >= 0) ::close(m_nFd);
    m_nFd = -1;
}

bool CLocalSocket::Wait(short events, const CDeadline &deadline)
{
    for (;;) {
        const std::int64_t left = deadline.RemainingMs();
        if (deadline.IsSet() && left <= 0) return false;
        pollfd p{m_nFd, events, 0};
        const int timeout = left > 60000 ? 60000 : static_cast<int>(left);
        const int ready = ::poll(&p, 1, timeout);
        if (ready > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (ready < 0 && errno != EINTR) return false;
        if (ready == 0 && !deadline.IsSet()) return false;
    }
}

bool CLocalSocket::Connect(const std::string &path, const CDeadline &deadline)
{
    Close();
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    m_nFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_nFd < 0) return false;
    if (::connect(m_nFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS && errno != EAGAIN) {
        Close();
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (!Wait(POLLOUT, deadline) || ::getsockopt(m_nFd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        Close();
        return false;
    }
    return true;
}

bool CLocalSocket::SendAll(const std::uint8_t *data, std::size_t size, const CDeadline &deadline)
{
    while (size > 0 && m_nFd >= 0) {
        const ssize_t sent = ::send(m_nFd, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!Wait(POLLOUT, deadline)) return false;
        } else {
            return false;
        }
    }
    return size == 0;
}

bool CLocalSocket::ReceiveAll(std::uint8_t *data, std::size_t size, const CDeadline &deadline)
{
    while (size > 0 && m_nFd >= 0) {
        const ssize_t got = ::recv(m_nFd, data, size, 0);
        if (got > 0) {
            data += got;
            size -= static_cast<std::size_t>(got);
        } else if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!Wait(POLLIN, deadline)) return false;
        } else {
            return false; // closed, or an error
        }
    }
    return size == 0;
}
