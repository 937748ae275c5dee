// The project's socket calls over Windows Sockets 2. The system's header
// comes first and its values are taken into `native` before the project's
// header, whose constants bear the same names, replaces its macros.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace native {
constexpr int kAfInet = AF_INET;
constexpr int kSockStream = SOCK_STREAM;
const ::SOCKET kInvalid = INVALID_SOCKET;
constexpr int kError = SOCKET_ERROR;
constexpr int kEaiAgain = EAI_AGAIN;
constexpr int kEaiFail = EAI_FAIL;
}  // namespace native

#undef INVALID_SOCKET
#undef SOCKET_ERROR
#undef INADDR_NONE
#undef INADDR_ANY
#undef AF_INET
#undef SOCK_STREAM
#undef SOL_SOCKET
#undef SO_OOBINLINE
#undef SO_KEEPALIVE
#undef IPPROTO_TCP
#undef TCP_NODELAY

#include "platform/winsock.h"

namespace winsock {

namespace {

thread_local std::string t_resolverError;

::SOCKET Native(SOCKET s) { return static_cast<::SOCKET>(s); }

int Fail(int error)
{
    ::WSASetLastError(error);
    return SOCKET_ERROR;
}

::sockaddr_in ToNative(const sockaddr_in* address)
{
    ::sockaddr_in out{};
    out.sin_family = static_cast<short>(address->sin_family);
    out.sin_port = address->sin_port;
    out.sin_addr.s_addr = address->sin_addr;
    return out;
}

// The time left before a deadline as a select time-out; null without one.
timeval* TimeLeft(const CDeadline& until, timeval& room)
{
    if (!until.IsSet()) return nullptr;
    const std::int64_t ms = std::min<std::int64_t>(until.RemainingMs(), 24LL * 3600 * 1000);
    room.tv_sec = static_cast<long>(ms / 1000);
    room.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return &room;
}

bool SetBlocking(SOCKET s, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(Native(s), FIONBIO, &nonBlocking) == 0;
}

}  // namespace

int WSAStartup(std::uint16_t versionRequested, WSADATA* data)
{
    ::WSADATA native{};
    const int rc = ::WSAStartup(MAKEWORD(2, 2), &native);
    if (rc == 0 && data != nullptr) {
        data->wVersion = versionRequested;
        data->wHighVersion = native.wHighVersion;
        std::memcpy(data->szDescription, native.szDescription, sizeof data->szDescription);
        std::memcpy(data->szSystemStatus, native.szSystemStatus, sizeof data->szSystemStatus);
    }
    return rc;
}

int WSACleanup() { return ::WSACleanup(); }
int WSAGetLastError() { return ::WSAGetLastError(); }
void WSASetLastError(int error) { ::WSASetLastError(error); }

SOCKET socket(int family, int type, int protocol)
{
    const ::SOCKET s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return s == native::kInvalid ? INVALID_SOCKET : static_cast<SOCKET>(s);
}

int bind(SOCKET s, const sockaddr_in* address)
{
    if (address == nullptr) return Fail(WSAEFAULT);
    const ::sockaddr_in native = ToNative(address);
    return ::bind(Native(s), reinterpret_cast<const ::sockaddr*>(&native), sizeof native);
}

int connect(SOCKET s, const sockaddr_in* address)
{
    if (address == nullptr) return Fail(WSAEFAULT);
    const ::sockaddr_in native = ToNative(address);
    return ::connect(Native(s), reinterpret_cast<const ::sockaddr*>(&native), sizeof native);
}

int setsockopt(SOCKET s, int level, int name, const void* value, int length)
{
    return ::setsockopt(Native(s), level, name, static_cast<const char*>(value), length);
}

int send(SOCKET s, const void* buffer, int length, int flags)
{
    return ::send(Native(s), static_cast<const char*>(buffer), length, flags);
}

int recv(SOCKET s, void* buffer, int length, int flags)
{
    return ::recv(Native(s), static_cast<char*>(buffer), length, flags);
}

int closesocket(SOCKET s) { return ::closesocket(Native(s)); }

int select_readable(SOCKET s, long seconds, long microseconds)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(s), &readable);
    timeval limit{seconds, microseconds};
    const int rc = ::select(0, &readable, nullptr, nullptr, &limit);
    return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

int wait_readable(SOCKET s, const CDeadline& until)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(s), &readable);
    timeval room{};
    const int rc = ::select(0, &readable, nullptr, nullptr, TimeLeft(until, room));
    return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

int wait_writable(SOCKET s, const CDeadline& until)
{
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(Native(s), &writable);
    timeval room{};
    const int rc = ::select(0, nullptr, &writable, nullptr, TimeLeft(until, room));
    return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

int connect_until(SOCKET s, const sockaddr_in* address, const CDeadline& until)
{
    if (address == nullptr) return Fail(WSAEFAULT);
    if (!SetBlocking(s, false)) return SOCKET_ERROR;
    const ::sockaddr_in native = ToNative(address);
    int rc = ::connect(Native(s), reinterpret_cast<const ::sockaddr*>(&native), sizeof native);
    int error = rc == 0 ? 0 : ::WSAGetLastError();
    if (rc != 0 && error == WSAEWOULDBLOCK) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(Native(s), &writable);
        FD_SET(Native(s), &failed);
        timeval room{};
        const int ready = ::select(0, nullptr, &writable, &failed, TimeLeft(until, room));
        if (ready == 0) {
            error = WSAETIMEDOUT;
        } else if (ready < 0) {
            error = ::WSAGetLastError();
        } else {
            int soError = 0;
            int size = sizeof soError;
            ::getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size);
            error = FD_ISSET(Native(s), &failed) ? (soError != 0 ? soError : WSAECONNREFUSED) : soError;
        }
    }
    SetBlocking(s, true);
    return error == 0 ? 0 : Fail(error);
}

int send_until(SOCKET s, const void* buffer, int length, const CDeadline& until)
{
    for (;;) {
        const int ready = wait_writable(s, until);
        if (ready < 0) return SOCKET_ERROR;
        if (ready == 0) return Fail(WSAETIMEDOUT);
        const int n = ::send(Native(s), static_cast<const char*>(buffer), length, 0);
        if (n != native::kError) return n;
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return SOCKET_ERROR;
    }
}

int socket_pair(SOCKET ends[2])
{
    // The system has no socket pairs: two ends of a loopback connection.
    ends[0] = ends[1] = INVALID_SOCKET;
    const SOCKET listener = socket(native::kAfInet, native::kSockStream, 0);
    if (listener == INVALID_SOCKET) return SOCKET_ERROR;
    ::sockaddr_in address{};
    address.sin_family = native::kAfInet;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    SOCKET first = INVALID_SOCKET;
    SOCKET second = INVALID_SOCKET;
    bool ok = ::bind(Native(listener), reinterpret_cast<::sockaddr*>(&address), sizeof address) == 0 &&
              ::getsockname(Native(listener), reinterpret_cast<::sockaddr*>(&address), &size) == 0 &&
              ::listen(Native(listener), 1) == 0;
    if (ok) first = socket(native::kAfInet, native::kSockStream, 0);
    ok = ok && first != INVALID_SOCKET &&
         ::connect(Native(first), reinterpret_cast<const ::sockaddr*>(&address), sizeof address) == 0;
    if (ok) {
        const ::SOCKET accepted = ::accept(Native(listener), nullptr, nullptr);
        ok = accepted != native::kInvalid;
        if (ok) second = static_cast<SOCKET>(accepted);
    }
    const int error = ok ? 0 : ::WSAGetLastError();
    ::closesocket(Native(listener));
    if (!ok) {
        if (first != INVALID_SOCKET) ::closesocket(Native(first));
        return Fail(error);
    }
    ends[0] = first;
    ends[1] = second;
    return 0;
}

int wait_readable_either(SOCKET first, SOCKET second, const CDeadline& until)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(first), &readable);
    FD_SET(Native(second), &readable);
    timeval room{};
    const int rc = ::select(0, &readable, nullptr, nullptr, TimeLeft(until, room));
    if (rc <= 0) return rc < 0 ? -1 : 0;
    return (FD_ISSET(Native(first), &readable) ? 1 : 0) | (FD_ISSET(Native(second), &readable) ? 2 : 0);
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
        ::WSASetLastError(WSAEFAULT);
        return false;
    }
    ::addrinfo hints{};
    hints.ai_family = native::kAfInet;
    hints.ai_socktype = native::kSockStream;
    ::addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name, nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        const int error = rc == native::kEaiAgain ? WSATRY_AGAIN : rc == native::kEaiFail ? WSANO_RECOVERY : WSAHOST_NOT_FOUND;
        t_resolverError = rc == 0 ? "no IPv4 address" : error_text(error);
        if (result) ::freeaddrinfo(result);
        ::WSASetLastError(error);
        return false;
    }
    *address = reinterpret_cast<const ::sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return true;
}

std::uint16_t htons(std::uint16_t value) { return ::htons(value); }
std::uint16_t ntohs(std::uint16_t value) { return ::ntohs(value); }
std::uint32_t htonl(std::uint32_t value) { return ::htonl(value); }
std::uint32_t ntohl(std::uint32_t value) { return ::ntohl(value); }

}  // namespace winsock
