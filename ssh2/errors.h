// Result codes of the SSH-2 client. Inside the library they travel as
// exceptions; the facade turns them into integers (0 = success).
#pragma once

enum ESSHErrors {
    SSH_NO_ERRORS = 0,
    SSH_WINSOCK_INIT = 1,        // "Unable to initialise WinSock"
    SSH_INTERNAL_ERROR = 2,      // "Internal error"
    SSH_EMPTY_HOST = 3,          // "Empty host name"
    SSH_ALREADY_CONNECTED = 4,   // "Already connected"
    SSH_NOT_CONNECTED = 5,       // "Not connected"
    SSH_NOT_LOGINED = 6,         // "Not logined"
    SSH_AUTH_FAILED = 7,         // "Unable to authenticate"
    SSH_RECEIVE_ERROR = 8,       // "Error while receiving data"
    SSH_CIPHER_ERROR = 9,        // "Can not set the cipher"
    SSH_HOSTKEY_MISMATCH = 10,   // "Hostkey didn`t math with signature"
    SSH_UNEXPECTED_PACKET = 11,  // "Received unexpected packet"
    SSH_ABANDONED = 12,          // "Connection abandoned"
    SSH_WRONG_CHANNEL = 13,      // "Received packet for wrong channel"
    SSH_UNSUPPORTED_CHANNEL = 14,  // "Unsupported channel type requested"
    SSH_SERVER_DISCONNECT = 15,  // "Server sent disconnect message"
    SSH_SOCKET_ERROR = 16,       // "Socket error"
    SSH_TIMEOUT = 17,            // "Connection Timeout"
    SSH_NETWORK_DOWN = 18,       // "Network is down"
    SSH_HOST_NOT_EXIST = 19,     // "Host not exist"
    SSH_HOST_NOT_FOUND = 20,     // "Host not found"
    SSH_UNKNOWN_ERROR = 21,      // "Unknown ssh error"
    // The host-key checks: the signature over the exchange does not verify,
    // the key was not trusted (changed, of a new type, or unverifiable, and
    // no explicit yes), an RSA key shorter than the least we accept.
    SSH_HOSTKEY_SIGNATURE = 22,
    SSH_HOSTKEY_REFUSED = 23,
    SSH_HOSTKEY_TOO_SMALL = 24,
    // The server refused the password (or the answer to its prompt): the
    // login stops at the first refusal.
    SSH_WRONG_PASSWORD = 25,
};
