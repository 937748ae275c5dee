// The upload library: copies a local file, directory tree or wildcard match
// to a remote host over an SSH-2 session of its own, over SFTP when the
// server grants the subsystem and through the remote scp program otherwise.
//
// Procedural interface: every call returns 0 or an ESCPErrors code. Each
// ScpUploadFile owns what it allocates and shares no state with another:
// several may run one after the other or at once on different threads.
#pragma once

#include <cstddef>
#include <cstdint>

enum ESCPErrors {
    SCP_OK = 0,
    SCP_E_WINSOCK_INIT = 1,
    SCP_E_WINSOCK_VERSION = 2,
    SCP_E_EMPTY_HOST = 3,
    SCP_E_NO_SUCH_FILE = 4,
    SCP_E_NOT_A_DIRECTORY = 5,
    SCP_E_MULTI_LEVEL_WILDCARD = 6,
    SCP_E_WILDCARD_NO_MATCH = 7,
    SCP_E_OPEN_FILE = 8,
    SCP_E_OPEN_DIRECTORY = 9,
    SCP_E_CREATE_DIRECTORY = 10,
    SCP_E_CREATE_FILE = 11,
    SCP_E_WRITE = 12,
    SCP_E_READ = 13,
    SCP_E_NO_FILE_TYPE = 14,
    SCP_E_SEND = 15,
    SCP_E_RECEIVE = 16,
    SCP_E_INTERNAL = 17,
    SCP_E_OUT_OF_MEMORY = 18,
    SCP_E_NETWORK_DOWN = 19,
    SCP_E_HOST_DOES_NOT_EXIST = 20,
    SCP_E_HOST_NOT_FOUND = 21,
    SCP_E_CONNECT = 22,
    SCP_E_PROTOCOL_VERSION = 23,
    SCP_E_AUTHENTICATE = 24,
    SCP_E_PERMISSION_DENIED = 25,
    SCP_E_NETWORK = 26,
    SCP_E_PROTOCOL = 27,
    SCP_E_TIMED_OUT = 28,
    SCP_E_DISCONNECTED = 29,
    SCP_E_LOST_CONNECTION = 30,
    SCP_E_UNSUPPORTED = 31,
    SCP_E_CANCELLED = 32,
    SCP_E_ABANDONED = 33,
    // The host-key checks: the signature over the exchange does not verify;
    // an RSA key shorter than the least we accept; a key that is not trusted
    // (changed, of a new type for a known host, or never seen while the
    // store is damaged) and no yes for it.
    SCP_E_HOSTKEY_SIGNATURE = 34,
    SCP_E_HOSTKEY_TOO_SMALL = 35,
    SCP_E_HOSTKEY_REFUSED = 36,
    // The server refused the password: it is not sent a second time.
    SCP_E_WRONG_PASSWORD = 37,
};

// What to do with a host key that is not in the store (new_host_key_policy),
// or that is not to be trusted without a yes (changed_host_key_policy: a
// changed key, a key of a new type for a known host, a key never seen while
// the store is damaged). For the latter only HOSTKEY_ACCEPT_AND_STORE or a
// nonzero answer to HOSTKEY_ASK goes on; anything else stops the session
// before authentication with SCP_E_HOSTKEY_REFUSED.
enum {
    HOSTKEY_REJECT = 0,
    HOSTKEY_ACCEPT_ONCE = 1,
    HOSTKEY_ACCEPT_AND_STORE = 2,
    HOSTKEY_ASK = 3,
};

enum {
    SCP_EVENT_ERROR = 0,
    SCP_EVENT_CONNECTED = 1,
    SCP_EVENT_AUTHENTICATED = 2,
    SCP_EVENT_FINISHED = 3,
    SCP_EVENT_PROGRESS = 4,
    SCP_EVENT_HOSTKEY = 5,
    SCP_EVENT_STAGE = 6,
};

enum {
    SCP_HOSTKEY_CHANGED = 0,       // another key of this type is stored
    SCP_HOSTKEY_ABSENT = 1,        // nothing stored for the host
    SCP_HOSTKEY_NEW_TYPE = 2,      // a key of another type is stored
    SCP_HOSTKEY_UNVERIFIABLE = 3,  // nothing stored, but the store was damaged
};

enum {
    SCP_STAGE_STARTING = 1,
    SCP_STAGE_NEGOTIATING = 2,
    SCP_STAGE_UPLOADING = 3,
    SCP_STAGE_CLOSING = 5,
};

// A jump host the upload goes through: the session to the next host (or the
// target) runs over a forwarded connection it opens. Its key is checked with
// the target's policies and callback; it logs in with its own ways below.
struct ScpJumpHost {
    const char* host = "";
    int port = 22;
    const char* user = "";
    // The hop's own login ways, tried in this order: the agent's keys when
    // use_agent is nonzero, the key file with its passphrase, then the
    // password (and keyboard-interactive answered with it) when it is not
    // empty. The target's key file, agent setting and password are never
    // offered to a hop.
    const char* password = "";
    const char* key_file = "";
    const char* key_passphrase = "";
    std::uint32_t use_agent = 0;
};
constexpr std::uint32_t kScpMaxJumpHosts = 2;

struct ScpJobOptions {
    std::uint32_t user_data = 0;
    std::int16_t new_host_key_policy = HOSTKEY_ACCEPT_AND_STORE;
    std::int16_t changed_host_key_policy = HOSTKEY_REJECT;
    // Key logins: a private key file (OpenSSH or PEM) with its passphrase,
    // and the keys of the agent named by SSH_AUTH_SOCK when use_agent is
    // nonzero. Tried in that order (agent, key file), then the password,
    // then keyboard-interactive answered with the password.
    const char* key_file = "";
    const char* key_passphrase = "";
    std::uint32_t use_agent = 0;
    std::uint32_t compression = 1;
    // The longest wait for the server at any one time once the channel is
    // ready.
    std::int16_t timeout_seconds = 300;
    // Limits of the steps before it: the TCP connection and the server's
    // version line; the key exchange, login and the channel's request.
    std::int16_t connect_timeout_seconds = 30;
    std::int16_t login_timeout_seconds = 60;
    volatile std::uint32_t cancel_requested = 0;
    // Nonzero: copy through the remote scp program without asking for SFTP.
    std::uint32_t use_scp = 0;
    // Out: the most bytes the upload's own blocks held at one time.
    std::size_t peak_memory_bytes = 0;
    // SFTP writes in flight at most: 0 takes the DWORD registry value
    // "SftpRequests" under Software\Quillon\Corvel, or 64 without one; 1
    // sends 4096-byte writes one at a time, each answered before the next,
    // for a server that cannot take more.
    std::uint32_t sftp_requests = 0;
    // The jump hosts in the order they are passed through (jumps[0] is
    // connected to directly); at most kScpMaxJumpHosts.
    std::uint32_t jump_count = 0;
    ScpJumpHost jumps[kScpMaxJumpHosts] = {};
};

// event, text, detail, value, user_data; only SCP_EVENT_HOSTKEY reads the
// answer (nonzero = trust and store the key). SCP_EVENT_HOSTKEY: text the
// host, detail the key's fingerprints ("ssh-rsa 2048 aa:bb:.. SHA256:..."),
// value one of SCP_HOSTKEY_*.
using ScpEventCallback = std::int32_t (*)(int event, const char* text, const char* detail,
                                          std::int32_t value, std::uint32_t user_data);

int ScpUploadFile(const char* host, int port, const char* user, const char* password,
                  const char* local_path, const char* remote_path, ScpEventCallback callback,
                  ScpJobOptions* options);

// Copies the text of a code into buffer (cut to size - 1, always terminated).
void scp_format_error(int code, char* buffer, std::size_t size);
// What the last failed ScpUploadFile of the calling thread ran into, in words ("connect to host X
// port 22: Connection refused"), or "" when it said no more than its code.
void scp_last_error_detail(char* buffer, std::size_t size);
