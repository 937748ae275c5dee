// The system's socket headers define several of the WinSock names as
// macros; their values are taken first, then the macros are dropped.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace native {
constexpr int kAfInet = AF_INET;
constexpr int kSockStream = SOCK_STREAM;
constexpr int kSolSocket = SOL_SOCKET;
constexpr int kSoOobInline = SO_OOBINLINE;
constexpr int kSoKeepAlive = SO_KEEPALIVE;
constexpr int kIpProtoTcp = IPPROTO_TCP;
constexpr int kTcpNoDelay = TCP_NODELAY;
inline std::uint16_t ToNet16(std::uint16_t v) { return htons(v); }
inline std::uint16_t FromNet16(std::uint16_t v) { return ntohs(v); }
inline std::uint32_t ToNet32(std::uint32_t v) { return htonl(v); }
inline std::uint32_t FromNet32(std::uint32_t v) { return ntohl(v); }
}  // namespace native

#undef AF_INET
#undef SOCK_STREAM
#undef SOL_SOCKET
#undef SO_OOBINLINE
#undef SO_KEEPALIVE
#undef IPPROTO_TCP
#undef TCP_NODELAY
#undef INADDR_ANY
#undef INADDR_NONE
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

#include "platform/winsock.h"

namespace winsock {
namespace {

thread_local int t_lastError = 0;
thread_local std::string t_resolverError;

int Fail();

// Poll until the deadline, in slices that fit poll's millisecond count.
int PollUntil(SOCKET s, short events, const CDeadline& until)
{
    for (;;) {
        ::pollfd pfd{static_cast<int>(s), events, 0};
        const std::int64_t left = until.RemainingMs();
        const int slice = left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
        const int rc = ::poll(&pfd, 1, slice);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return Fail();
        if (rc > 0) {
            if (pfd.revents & POLLNVAL) {
                t_lastError = WSAENOTSOCK;
                return SOCKET_ERROR;
            }
            return 1;
        }
        if (until.Passed()) return 0;
    }
}

int FromErrno(int e)
{
    switch (e) {
    case EINTR: return WSAEINTR;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EAGAIN: return WSAEWOULDBLOCK;
    case ENOTSOCK: case EBADF: return WSAENOTSOCK;
    case EADDRINUSE: return WSAEADDRINUSE;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOTCONN: return WSAENOTCONN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return 10000 + (e & 0xFF);
    }
}

int Fail()
{
    t_lastError = FromErrno(errno);
    return SOCKET_ERROR;
}

int NativeLevel(int level)
{
    return level == SOL_SOCKET ? native::kSolSocket : level == IPPROTO_TCP ? native::kIpProtoTcp : level;
}

int NativeOption(int level, int name)
{
    if (level == SOL_SOCKET) {
        switch (name) {
        case SO_OOBINLINE: return native::kSoOobInline;
        case SO_KEEPALIVE: return native::kSoKeepAlive;
        default: return -1;
        }
    }
    if (level == IPPROTO_TCP && name == TCP_NODELAY) return native::kTcpNoDelay;
    return -1;
}

::sockaddr_in ToNative(const sockaddr_in* address)
{
    ::sockaddr_in result{};
    result.sin_family = native::kAfInet;
    result.sin_port = address->sin_port;
    result.sin_addr.s_addr = address->sin_addr;
    return result;
}

}  // namespace

int WSAStartup(std::uint16_t versionRequested, WSADATA* data)
{
    if (data == nullptr) return WSAEFAULT;
    std::memset(data, 0, sizeof(*data));
    data->wVersion = versionRequested;
    data->wHighVersion = versionRequested;
    std::strcpy(data->szDescription, "POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    return 0;
}

int WSACleanup() { return 0; }
int WSAGetLastError() { return t_lastError; }
void WSASetLastError(int error) { t_lastError = error; }

SOCKET socket(int family, int type, int protocol)
{
    if (family != AF_INET || type != SOCK_STREAM) {
        t_lastError = WSAEINVAL;
        return INVALID_SOCKET;
    }
    const int fd = ::socket(native::kAfInet, native::kSockStream | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        Fail();
        return INVALID_SOCKET;
    }
    return fd;
}

int bind(SOCKET s, const sockaddr_in* address)
{
    const ::sockaddr_in target = ToNative(address);
    if (::bind(static_cast<int>(s), reinterpret_cast<const ::sockaddr*>(&target), sizeof(target)) != 0) return Fail();
    return 0;
}

int connect(SOCKET s, const sockaddr_in* address)
{
    const ::sockaddr_in target = ToNative(address);
    int rc;
    do {
        rc = ::connect(static_cast<int>(s), reinterpret_cast<const ::sockaddr*>(&target), sizeof(target));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return Fail();
    return 0;
}

int setsockopt(SOCKET s, int level, int name, const void* value, int length)
{
    const int option = NativeOption(level, name);
    if (option < 0 || value == nullptr || length < 0) {
        t_lastError = WSAEINVAL;
        return SOCKET_ERROR;
    }
    if (::setsockopt(static_cast<int>(s), NativeLevel(level), option, value, static_cast<socklen_t>(length)) != 0)
        return Fail();
    return 0;
}

int send(SOCKET s, const void* buffer, int length, int flags)
{
    if (length < 0) {
        t_lastError = WSAEINVAL;
        return SOCKET_ERROR;
    }
    ssize_t n;
    do {
        n = ::send(static_cast<int>(s), buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    return static_cast<int>(n);
}

int recv(SOCKET s, void* buffer, int length, int flags)
{
    if (length < 0) {
        t_lastError = WSAEINVAL;
        return SOCKET_ERROR;
    }
    ssize_t n;
    do {
        n = ::recv(static_cast<int>(s), buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    return static_cast<int>(n);
}

int closesocket(SOCKET s)
{
    if (s < 0) {
        t_lastError = WSAENOTSOCK;
        return SOCKET_ERROR;
    }
    if (::close(static_cast<int>(s)) != 0) return Fail();
    return 0;
}

int select_readable(SOCKET s, long seconds, long microseconds)
{
    ::pollfd pfd{static_cast<int>(s), POLLIN, 0};
    long long ms = static_cast<long long>(seconds) * 1000 + microseconds / 1000;
    if (ms > 0x7FFFFFFF) ms = 0x7FFFFFFF;
    int rc;
    do {
        rc = ::poll(&pfd, 1, static_cast<int>(ms));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return Fail();
    if (rc > 0 && (pfd.revents & POLLNVAL)) {
        t_lastError = WSAENOTSOCK;
        return SOCKET_ERROR;
    }
    return rc > 0 ? 1 : 0;
}

int wait_readable(SOCKET s, const CDeadline& until) { return PollUntil(s, POLLIN, until); }
int wait_writable(SOCKET s, const CDeadline& until) { return PollUntil(s, POLLOUT, until); }

int connect_until(SOCKET s, const sockaddr_in* address, const CDeadline& until)
{
    const int fd = static_cast<int>(s);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return Fail();
    const ::sockaddr_in target = ToNative(address);
    int rc = ::connect(fd, reinterpret_cast<const ::sockaddr*>(&target), sizeof(target));
    int error = rc == 0 ? 0 : errno;
    if (rc != 0 && (error == EINPROGRESS || error == EINTR)) {
        const int ready = PollUntil(s, POLLOUT, until);
        if (ready < 0) {
            ::fcntl(fd, F_SETFL, flags);
            return SOCKET_ERROR;
        }
        if (ready == 0) {
            ::fcntl(fd, F_SETFL, flags);
            t_lastError = WSAETIMEDOUT;
            return SOCKET_ERROR;
        }
        socklen_t length = sizeof error;
        if (::getsockopt(fd, native::kSolSocket, SO_ERROR, &error, &length) != 0) error = errno;
    }
    ::fcntl(fd, F_SETFL, flags);
    if (error != 0) {
        t_lastError = FromErrno(error);
        return SOCKET_ERROR;
    }
    return 0;
}

int send_until(SOCKET s, const void* buffer, int length, const CDeadline& until)
{
    if (length < 0) {
        t_lastError = WSAEINVAL;
        return SOCKET_ERROR;
    }
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(s), buffer, static_cast<std::size_t>(length),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail();
        const int ready = PollUntil(s, POLLOUT, until);
        if (ready < 0) return SOCKET_ERROR;
        if (ready == 0) {
            t_lastError = WSAETIMEDOUT;
            return SOCKET_ERROR;
        }
    }
}

int socket_pair(SOCKET ends[2])
{
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return Fail();
    ends[0] = fds[0];
    ends[1] = fds[1];
    return 0;
}

int wait_readable_either(SOCKET first, SOCKET second, const CDeadline& until)
{
    for (;;) {
        ::pollfd pfds[2] = {{static_cast<int>(first), POLLIN, 0}, {static_cast<int>(second), POLLIN, 0}};
        const std::int64_t left = until.RemainingMs();
        const int slice = left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
        const int rc = ::poll(pfds, 2, slice);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return Fail();
        if (rc > 0) {
            if ((pfds[0].revents | pfds[1].revents) & POLLNVAL) {
                t_lastError = WSAENOTSOCK;
                return SOCKET_ERROR;
            }
            return (pfds[0].revents ? 1 : 0) | (pfds[1].revents ? 2 : 0);
        }
        if (until.Passed()) return 0;
    }
}

std::string resolver_error_text() { return t_resolverError; }

std::uint32_t inet_addr(const char* text)
{
    if (text == nullptr) return INADDR_NONE;
    ::in_addr address{};
    if (::inet_pton(native::kAfInet, text, &address) != 1) return INADDR_NONE;
    return address.s_addr;
}

bool gethostbyname(const char* name, std::uint32_t* address)
{
    if (name == nullptr || address == nullptr) {
        t_lastError = WSAEFAULT;
        return false;
    }
    ::addrinfo hints{};
    hints.ai_family = native::kAfInet;
    hints.ai_socktype = native::kSockStream;
    ::addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name, nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        t_lastError = rc == EAI_AGAIN ? WSATRY_AGAIN : rc == EAI_FAIL ? WSANO_RECOVERY : WSAHOST_NOT_FOUND;
        t_resolverError = rc == 0            ? "no IPv4 address"
                          : rc == EAI_SYSTEM ? error_text(FromErrno(errno))
                                             : ::gai_strerror(rc);
        if (result) ::freeaddrinfo(result);
        return false;
    }
    *address = reinterpret_cast<const ::sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return true;
}

std::uint16_t htons(std::uint16_t value) { return native::ToNet16(value); }
std::uint16_t ntohs(std::uint16_t value) { return native::FromNet16(value); }
std::uint32_t htonl(std::uint32_t value) { return native::ToNet32(value); }
std::uint32_t ntohl(std::uint32_t value) { return native::FromNet32(value); }

}  // namespace winsock
