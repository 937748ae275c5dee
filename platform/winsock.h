// Stream sockets with the Windows Sockets calling conventions and error
// numbers. Every failing call leaves its error for WSAGetLastError.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com.h"
#include "platform/deadline.h"

#ifdef _WIN32
// The system's error header names these numbers as macros; here they are
// the constants below, with the same values, inside this namespace.
#undef WSAEINTR
#undef WSAEFAULT
#undef WSAEINVAL
#undef WSAEWOULDBLOCK
#undef WSAENOTSOCK
#undef WSAEADDRINUSE
#undef WSAENETDOWN
#undef WSAENETUNREACH
#undef WSAECONNABORTED
#undef WSAECONNRESET
#undef WSAENOTCONN
#undef WSAETIMEDOUT
#undef WSAECONNREFUSED
#undef WSAEHOSTUNREACH
#undef WSASYSNOTREADY
#undef WSAVERNOTSUPPORTED
#undef WSANOTINITIALISED
#undef WSAHOST_NOT_FOUND
#undef WSATRY_AGAIN
#undef WSANO_RECOVERY
#undef WSANO_DATA
#endif

namespace winsock {

using SOCKET = std::intptr_t;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFFu;
constexpr std::uint32_t INADDR_ANY = 0;
constexpr int AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_OOBINLINE = 0x0100;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int IPPROTO_TCP = 6;
constexpr int TCP_NODELAY = 0x0001;

constexpr int WSAEINTR = 10004;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

struct WSADATA {
    std::uint16_t wVersion;
    std::uint16_t wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
};

struct sockaddr_in {
    std::int16_t sin_family;
    std::uint16_t sin_port;  // network byte order
    std::uint32_t sin_addr;  // network byte order
};

// Start-up always grants the version asked for.
int WSAStartup(std::uint16_t versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int family, int type, int protocol);
int bind(SOCKET s, const sockaddr_in* address);
int connect(SOCKET s, const sockaddr_in* address);
int setsockopt(SOCKET s, int level, int name, const void* value, int length);
// Never raises a signal on a closed connection.
int send(SOCKET s, const void* buffer, int length, int flags);
int recv(SOCKET s, void* buffer, int length, int flags);
int closesocket(SOCKET s);
// Waits for one socket to become readable: 1 ready, 0 time-out, -1 error.
int select_readable(SOCKET s, long seconds, long microseconds);

// Waits until the socket is readable (writable) or the deadline passes: 1
// ready, 0 deadline passed, -1 error. Without a deadline it waits for ever:
// callers always give one.
int wait_readable(SOCKET s, const CDeadline& until);
int wait_writable(SOCKET s, const CDeadline& until);
// connect that gives up when the deadline passes (WSAETIMEDOUT); the socket
// is left blocking, as it was.
int connect_until(SOCKET s, const sockaddr_in* address, const CDeadline& until);
// send that waits for room only until the deadline (WSAETIMEDOUT); returns
// the bytes written, at least 1, or SOCKET_ERROR.
int send_until(SOCKET s, const void* buffer, int length, const CDeadline& until);
// Two connected stream sockets, each end's bytes read at the other: 0, or
// SOCKET_ERROR with the error set.
int socket_pair(SOCKET ends[2]);
// Waits until either socket is readable or the deadline passes: a bit mask
// (1 the first, 2 the second), 0 deadline passed, -1 error.
int wait_readable_either(SOCKET first, SOCKET second, const CDeadline& until);

// The text the stock tools show for a WinSock error ("Connection refused").
std::string error_text(int wsaError);
// The resolver's own text for the last failed gethostbyname on this thread
// ("Name or service not known").
std::string resolver_error_text();

// Dotted IPv4 text to an address in network byte order; INADDR_NONE when the
// text is not a dotted address.
std::uint32_t inet_addr(const char* text);
// Looks a name up; true with the first IPv4 address (network byte order),
// else false with WSAHOST_NOT_FOUND, WSATRY_AGAIN or WSANO_RECOVERY set.
bool gethostbyname(const char* name, std::uint32_t* address);

std::uint16_t htons(std::uint16_t value);
std::uint16_t ntohs(std::uint16_t value);
std::uint32_t htonl(std::uint32_t value);
std::uint32_t ntohl(std::uint32_t value);

}  // namespace winsock
