// The text the stock tools show for a socket error number, the same on
// every system since the numbers are Windows Sockets' own.
#include "platform/winsock.h"

namespace winsock {

std::string error_text(int wsaError)
{
    switch (wsaError) {
    case WSAECONNREFUSED: return "Connection refused";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAENETUNREACH: return "Network is unreachable";
    case WSAEHOSTUNREACH: return "No route to host";
    case WSAENETDOWN: return "Network is down";
    case WSAECONNRESET: return "Connection reset by peer";
    case WSAECONNABORTED: return "Software caused connection abort";
    case WSAENOTCONN: return "Connection closed by remote host";
    case WSAEADDRINUSE: return "Address already in use";
    case WSAEINVAL: return "Invalid argument";
    case WSAENOTSOCK: return "Bad socket";
    case WSAHOST_NOT_FOUND: return "Name or service not known";
    case WSATRY_AGAIN: return "Temporary failure in name resolution";
    case WSANO_RECOVERY: return "Non-recoverable failure in name resolution";
    default: return "socket error " + std::to_string(wsaError);
    }
}

}  // namespace winsock
