// The session record of the upload library's SSH-2 engine and the routines
// its parts call in one another: the transport (version exchange, packets,
// dispatch), the key exchange, the authentication and the channel. Private
// to scp/: callers outside use scp_ssh.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scp/scp.h"
#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"
#include "scp/scp_job.h"
#include "scp/scp_packet.h"
#include "scp/scp_rekey.h"
#include "scp/scp_ssh.h"

enum : std::uint8_t {
    MSG_DISCONNECT = 1,
    MSG_IGNORE = 2,
    MSG_UNIMPLEMENTED = 3,
    MSG_DEBUG = 4,
    MSG_SERVICE_REQUEST = 5,
    MSG_SERVICE_ACCEPT = 6,
    MSG_EXT_INFO = 7,
    MSG_KEXINIT = 20,
    MSG_NEWKEYS = 21,
    MSG_KEXDH_INIT = 30,
    MSG_KEXDH_REPLY = 31,
    MSG_KEX_DH_GEX_REQUEST_OLD = 30,
    MSG_KEX_DH_GEX_GROUP = 31,
    MSG_KEX_DH_GEX_INIT = 32,
    MSG_KEX_DH_GEX_REPLY = 33,
    MSG_KEX_DH_GEX_REQUEST = 34,
    MSG_KEX_ECDH_INIT = 30,
    MSG_KEX_ECDH_REPLY = 31,
    MSG_USERAUTH_REQUEST = 50,
    MSG_USERAUTH_FAILURE = 51,
    MSG_USERAUTH_SUCCESS = 52,
    MSG_USERAUTH_BANNER = 53,
    MSG_USERAUTH_PK_OK = 60,
    MSG_USERAUTH_INFO_REQUEST = 60,
    MSG_USERAUTH_INFO_RESPONSE = 61,
    MSG_GLOBAL_REQUEST = 80,
    MSG_REQUEST_FAILURE = 82,
    MSG_CHANNEL_OPEN = 90,
    MSG_CHANNEL_OPEN_CONFIRMATION = 91,
    MSG_CHANNEL_OPEN_FAILURE = 92,
    MSG_CHANNEL_WINDOW_ADJUST = 93,
    MSG_CHANNEL_DATA = 94,
    MSG_CHANNEL_EXTENDED_DATA = 95,
    MSG_CHANNEL_EOF = 96,
    MSG_CHANNEL_CLOSE = 97,
    MSG_CHANNEL_REQUEST = 98,
    MSG_CHANNEL_SUCCESS = 99,
    MSG_CHANNEL_FAILURE = 100,
};

// The reasons of a DISCONNECT we send.
enum : std::uint32_t {
    SCP_DISCONNECT_KEY_EXCHANGE_FAILED = 3,
    SCP_DISCONNECT_BY_APPLICATION = 11,
};

// The data-type code of standard error in extended channel data.
constexpr std::uint32_t kScpExtendedStderr = 1;

inline constexpr char kClientVersion[] = "SSH-2.0-Pavlet";
// The channel window we grant, given back once half of it is used, and the
// largest data packet we take.
constexpr std::uint32_t kLocalWindow = kScpLocalWindow;
constexpr std::uint32_t kLocalMaxPacket = 32768;
constexpr std::uint32_t kFirstChannelId = 256;
constexpr std::size_t kMaxVersionLine = 255;
constexpr std::size_t kSocketQueueFlush = 256 * 1024;
// Channel data is sent in pieces of up to this size (and the server's
// largest packet); smaller amounts wait for more data or for the next wait
// for input.
constexpr std::size_t kChannelPiece = 32768;

enum ScpKexKind { KEX_DH_FIXED, KEX_GEX_OLD, KEX_GEX, KEX_ECDH };
struct ScpKexMethod {
    const char* name;
    int kind;
    int hash;
    int group;  // KEX_DH_FIXED: the MODP group number; KEX_ECDH: ScpEcdhKind
};

enum ScpAuthWait { AUTH_WAIT_NONE, AUTH_WAIT_PK_QUERY, AUTH_WAIT_PK_SIGNED, AUTH_WAIT_PASSWORD, AUTH_WAIT_KBDINT };
enum ScpChosen { CH_KEX, CH_HOSTKEY, CH_CIPHER_OUT, CH_CIPHER_IN, CH_MAC_OUT, CH_MAC_IN, CH_COMP_OUT, CH_COMP_IN, CH_COUNT };

// Where the version exchange is: looking for "SSH-", in the protocol
// version, in the rest of the line.
enum ScpVersionStage { SCP_VERSION_SEEK = 0, SCP_VERSION_PROTOCOL, SCP_VERSION_REST };

struct ScpSession {
    SessionConfig cfg;
    JobInfo* job;
    winsock::SOCKET sock;
    bool detached;
    ScpBuf* capture;
    ScpRandomPool* pool;
    ScpRandomPool ownPool;  // used when there is no job
    int state;

    // Version exchange.
    int versionStage;  // ScpVersionStage
    std::size_t matched;  // bytes of "SSH-" matched so far
    char protocol[10];
    std::size_t protocolLen;
    char serverLine[kMaxVersionLine + 1];
    std::size_t serverLineLen;
    bool lineCut;
    unsigned quirks;

    ScpBuf inbuf;
    ScpBuf sockOut;  // the socket's send queue
    ScpPacketIn pin;
    ScpPacketOut pout;
    ScpBuf wire;
    ScpBuf msg;
    bool holding;
    ScpBuf held;

    // Key exchange.
    ScpBuf kexinitClient;
    ScpBuf kexinitServer;
    const char* chosen[CH_COUNT];
    int cipherOut;
    int cipherIn;
    bool gex;
    const ScpKexMethod* kex;
    bool skipGuess;
    int keyBits;
    std::uint32_t gexBits;
    BIGNUM* p;
    BIGNUM* g;
    BIGNUM* x;
    BIGNUM* e;
    BIGNUM* k;
    ScpEcdh ecdh;
    ScpBuf qc;  // our ECDH public value
    std::uint8_t h[kScpMaxHash];
    std::size_t hLen;
    std::uint8_t sessionId[kScpMaxHash];
    std::size_t sessionIdLen;
    bool haveSessionId;
    ScpBuf kMpint;
    bool strict;        // the server takes part in strict key exchange
    bool firstKexDone;  // the server's first NEWKEYS has been read
    bool authenticated;

    // New keys after the first: our KEXINIT went out and our NEWKEYS not
    // yet (what is not key exchange waits in deferred, as length and
    // payload); a later exchange is under way until the server's NEWKEYS,
    // after which the state it interrupted goes on.
    bool kexPending;
    bool rekeying;
    bool theirKexinit;
    int resumeState;
    ScpBuf deferred;
    ScpBuf hostKeyBlob;  // the server's key of the first exchange
    ScpRekeyClock rekeyClock;
    int rekeys;

    // Authentication.
    int authWait;
    bool canPublicKey;
    bool canPassword;
    bool canKeyboardInteractive;
    bool publicKeyTried;  // no key is left to offer
    int passwordAttempts;
    int nextKey;          // the next key to offer: the agent's first, then the key files'
    int keysOffered;
    bool keyFromAgent;    // the key of the query under way
    int keyFileIndex;     // its key file in the list, when not the agent's
    ScpBuf keyBlob;       // its public blob
    char keyAlgorithm[32];
    // The key offered next is the one just refused under rsa-sha2, now as ssh-rsa.
    bool retryLegacyRsa;
    bool kbdintTried;
    bool kbdintAnswered;  // the password went out as an answer
    // The host key needed a yes and got one on this connection: no password
    // or keyboard-interactive answer goes out (sshcore::WithholdsPassword).
    bool passwordWithheld;
    char methods[256];    // what the server's last failure listed
    bool extInfo;
    char serverSigAlgs[1024];

    // The channel.
    bool channelOpen;
    std::uint32_t localId;
    std::uint32_t remoteId;
    std::uint32_t remoteWindow;
    std::uint32_t remoteMaxPacket;
    std::uint32_t localWindow;
    std::uint32_t adjustOwed;  // window to give back with the next packet
    ScpBuf channelOut;
    bool eofPending;
    bool eofSent;
    bool closeSent;
    bool ready;
    bool fallbackUsed;
    int exitStatus;
    bool closed;
};

// ---- transport (scp_ssh.cpp)
// Whether a comma-separated name list holds name.
bool scp_list_contains(const std::uint8_t* list, std::size_t len, const char* name);
// Writes the socket's send queue out.
int scp_socket_flush(ScpSession* s);
// Queues bytes for the socket; the queue goes out once it holds a full
// channel window's worth, and before every wait for input.
int scp_session_write_raw(ScpSession* s, const std::uint8_t* data, std::size_t len);
// Starts the message in s->msg with its type; scp_send_msg sends it as one
// packet (or holds it back while a password packet is assembled).
int scp_msg_start(ScpSession* s, std::uint8_t type);
int scp_send_msg(ScpSession* s);
int scp_send_disconnect(ScpSession* s, std::uint32_t reason, const char* text);
void scp_session_close_quietly(ScpSession* s);
// A fatal error: close the sockets and save the seed before the code goes up.
int scp_session_fail(ScpSession* s, int code);
int scp_session_port(const ScpSession* s);
// EXT_INFO: keeps the server's server-sig-algs.
int scp_handle_ext_info(ScpSession* s, const std::uint8_t* payload, std::size_t len);
int scp_session_new(ScpSession** out, const SessionConfig* cfg);
void scp_session_free(ScpSession* s);

// ---- key exchange (scp_kex.cpp)
int scp_build_kexinit(ScpSession* s);
int scp_handle_kexinit(ScpSession* s, const std::uint8_t* payload, std::size_t len, std::uint32_t seq);
int scp_handle_group(ScpSession* s, const std::uint8_t* payload, std::size_t len);
int scp_handle_kex_reply(ScpSession* s, const std::uint8_t* payload, std::size_t len);
// Takes the server's keys into use after its NEWKEYS.
int scp_install_keys(ScpSession* s, bool outgoing);
// Starts a direction's compression when its method asks for it now.
int scp_start_compression(ScpSession* s, bool outgoing);
// The chosen names of the latest key exchange, for scp_session_last_chosen.
const char* scp_kex_last_chosen(int which);
bool scp_kex_last_strict();
// A key exchange after the first: the server's KEXINIT (or its answer to
// ours) and the server's NEWKEYS that ends it.
int scp_handle_later_kexinit(ScpSession* s, const std::uint8_t* payload, std::size_t len, std::uint32_t seq);
int scp_finish_rekey(ScpSession* s);
// Our NEWKEYS is out: what waited during the exchange goes, under the new keys.
int scp_send_deferred(ScpSession* s);
// Starts a key exchange of our own when the keys in use are due for renewal.
int scp_rekey_if_due(ScpSession* s);
// The keys of both directions are new: their limits and age start again.
void scp_rekey_restart(ScpSession* s);
// Key exchanges after the first in the latest session.
void scp_kex_count_rekey(int count);

// ---- authentication (scp_auth.cpp; the keys in scp_auth_pubkey.cpp)
int scp_send_auth_none(ScpSession* s);
// The head of a USERAUTH_REQUEST in s->msg: user, service, method.
int scp_put_auth_head(ScpSession* s, const char* method);
// Offers the next key the server may take (a query, without signature), or
// returns kScpNoKeyLeft when none is left to offer.
constexpr int kScpNoKeyLeft = -1;
int scp_auth_offer_next_key(ScpSession* s);
// Signs for the key the server would take and sends the request; a key
// that cannot sign passes to the next one (or kScpNoKeyLeft).
int scp_auth_send_signed(ScpSession* s);
int scp_handle_auth(ScpSession* s, std::uint8_t type, const std::uint8_t* payload, std::size_t len);

// ---- the channel (scp_channel.cpp)
int scp_open_channel(ScpSession* s);
// The messages of the states from the channel's opening on.
int scp_handle_channel_state(ScpSession* s, std::uint8_t type, const std::uint8_t* payload, std::size_t len);
// Sends what the remote window allows of the data waiting in the channel,
// then a pending end-of-file once nothing is left.
int scp_flush_channel(ScpSession* s);
