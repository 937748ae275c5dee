// The upload library's own SSH-2 client engine: version exchange with server
// quirk detection, key exchange, host-key check, user authentication and one
// session channel that runs a subsystem or command, with a fallback.
//
// It is driven from outside: the job waits for the socket to become readable
// and hands each readable moment to scp_session_read_input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/winsock.h"
#include "scp/scp.h"
#include "scp/scp_mem.h"

struct JobInfo;
struct ScpSession;

enum ScpQuirk {
    SCP_QUIRK_SHORT_HMAC = 0,
    SCP_QUIRK_KDF_NO_SECRET,
    SCP_QUIRK_RSA_SIG_PAD,
    SCP_QUIRK_PK_SESSION_ID,
    SCP_QUIRK_NO_GEX,
    SCP_QUIRK_COUNT
};
// Quirk settings: always on, always off, detect from the server's version.
enum { SCP_QUIRK_ON = 0, SCP_QUIRK_OFF = 1, SCP_QUIRK_DETECT = 2 };

enum ScpCipherPref { SCP_PREF_AES = 0, SCP_PREF_BLOWFISH, SCP_PREF_3DES, SCP_PREF_WARN, SCP_PREF_DES };

struct SessionConfig {
    char host[512];
    int port;
    char remoteCommand[1024];
    const char* remoteCommandPtr;
    int remoteCommandIsSubsystem;
    const char* fallbackCommand;
    int fallbackIsSubsystem;
    int compression;
    int cipherPrefs[5];
    int allowSingleDes;
    int noteKeyboardInteractive;
    // The key files, one path per line, offered in that order (room for the
    // most a host keeps, each path with a home folder put before it).
    char keyFile[10240];
    char user[100];
    char password[100];
    // The key file's passphrase (empty: the password is tried); the agent
    // of SSH_AUTH_SOCK when nonzero.
    char passphrase[256];
    int useAgent;
    int newHostKeyPolicy;
    int changedHostKeyPolicy;
    std::uint32_t userData;
    JobInfo* job;
    int quirks[SCP_QUIRK_COUNT];
    // Nonzero: the session runs over viaSocket, already connected, instead
    // of a connection of its own.
    int viaSocketSet;
    winsock::SOCKET viaSocket;
    // Not empty: the channel is a forwarded connection to this host and
    // port (a jump host's), not a session.
    char forwardHost[512];
    int forwardPort;
};

void scp_session_config_defaults(SessionConfig* cfg);

// Puts a key-file list (one path per line) into the configuration. A list
// longer than the room loses its last paths whole: no cut path is tried.
void SetSessionKeyFiles(SessionConfig* cfg, const char* files);

struct SessionBackend {
    int (*open)(ScpSession** session, const SessionConfig* cfg, bool noDelay);
    void (*release)(ScpSession* session);
    void (*apply_config)(ScpSession* session, const SessionConfig* cfg);
    int (*send)(ScpSession* session, const std::uint8_t* data, std::size_t len, std::size_t* queued);
    std::size_t (*queued_bytes)(ScpSession* session);
    void (*set_size)(ScpSession* session, int width, int height);
    int (*send_special)(ScpSession* session, int code);
    const char* const* (*list_specials)(ScpSession* session, int* count);
    winsock::SOCKET (*get_socket)(ScpSession* session);
    int (*exit_status)(ScpSession* session);
    bool (*ready_to_send)(ScpSession* session);
    int (*line_discipline_option)(ScpSession* session, int option);
    void (*attach_line_discipline)(ScpSession* session, void* discipline);
    void (*attach_log)(ScpSession* session, void* log);
    void (*unthrottle)(ScpSession* session, int buffered);
    int default_port;
};

constexpr int kScpSpecialEof = 12;
// exit_status before the session has closed.
constexpr int kScpNoExitStatus = -1;

extern const SessionBackend scp_ssh_backend;

bool scp_session_fallback_used(ScpSession* session);
// Writes out what waits in the socket's send queue; called before every wait
// for input. 0 or a code (the session is then closed).
int scp_session_flush(ScpSession* session);
// One receive of up to 20480 bytes from the socket, fed through the state
// machines. Returns 0 or a code; end of input closes the socket quietly.
int scp_session_read_input(ScpSession* session);

// For tests and fuzzing: a session without a socket (what it sends is kept
// in *capture when given), fed with bytes as if they had been received.
int scp_session_create_detached(ScpSession** session, const SessionConfig* cfg, ScpBuf* capture);
int scp_session_feed(ScpSession* session, const std::uint8_t* data, std::size_t len);

// Inspection for tests.
enum ScpSessionState {
    SCP_SS_VERSION,
    SCP_SS_KEXINIT,
    SCP_SS_KEX_GROUP,
    SCP_SS_KEX_REPLY,
    SCP_SS_NEWKEYS,
    SCP_SS_SERVICE,
    SCP_SS_AUTH,
    SCP_SS_CHANNEL_OPEN,
    SCP_SS_CHANNEL_REQUEST,
    SCP_SS_READY,
    SCP_SS_CLOSED
};
int scp_session_state(const ScpSession* session);
unsigned scp_session_quirks(const ScpSession* session);
const char* scp_session_server_version(const ScpSession* session);
// The names negotiated: kex, host key, cipher out/in, mac out/in, compression out/in.
const char* scp_session_chosen(const ScpSession* session, int which);

// The names negotiated by the latest key exchange on this thread (the same
// order), kept after the session is gone; for tests and diagnostics.
const char* scp_session_last_chosen(int which);
// Whether that key exchange was strict.
bool scp_session_last_strict();
// The key exchanges after the first in the latest session of this thread.
int scp_session_last_rekeys();

// Quirk flags (bit per ScpQuirk) detected from a software version under the
// given settings.
unsigned scp_detect_quirks(const char* softwareVersion, const int settings[SCP_QUIRK_COUNT]);
// The ciphers offered for the preference order; *accepted: how many of them
// may be agreed (the rest lie below the warning line).
std::vector<std::string> scp_cipher_offer_names(const int prefs[5], bool allowDes, std::size_t* accepted);
