#include "scp/scp_ssh.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include "platform/terminal_text.h"
#include "scp/scp_crypto.h"
#include "scp/scp_job.h"
#include "scp/scp_match.h"
#include "scp/scp_negotiate.h"
#include "scp/scp_packet.h"
#include "scp/scp_store.h"
#include "ssh2/crypto/hostkey_trust.h"

namespace {

enum : std::uint8_t {
    MSG_DISCONNECT = 1,
    MSG_IGNORE = 2,
    MSG_UNIMPLEMENTED = 3,
    MSG_DEBUG = 4,
    MSG_SERVICE_REQUEST = 5,
    MSG_SERVICE_ACCEPT = 6,
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

constexpr char kClientVersion[] = "SSH-2.0-Pavlet";
constexpr std::uint32_t kLocalWindow = 16384;
constexpr std::uint32_t kLocalMaxPacket = 16384;
constexpr std::uint32_t kFirstChannelId = 256;
constexpr std::size_t kMaxVersionLine = 255;
constexpr std::size_t kSocketQueueFlush = 16384;
// Channel data is sent in pieces of up to this size; smaller amounts wait
// for more data or for the next wait for input.
constexpr std::size_t kChannelPiece = 16384;

// The key-exchange methods, in the order offered.
enum ScpKexKind { KEX_DH_FIXED, KEX_GEX_OLD, KEX_GEX, KEX_ECDH };
struct ScpKexMethod {
    const char* name;
    int kind;
    int hash;
    int group;  // KEX_DH_FIXED: the MODP group number; KEX_ECDH: ScpEcdhKind
};
const ScpKexMethod kKexMethods[] = {
    {"curve25519-sha256", KEX_ECDH, SCP_HASH_SHA256, SCP_ECDH_X25519},
    {"curve25519-sha256@libssh.org", KEX_ECDH, SCP_HASH_SHA256, SCP_ECDH_X25519},
    {"ecdh-sha2-nistp256", KEX_ECDH, SCP_HASH_SHA256, SCP_ECDH_P256},
    {"diffie-hellman-group14-sha256", KEX_DH_FIXED, SCP_HASH_SHA256, 14},
    {"diffie-hellman-group16-sha512", KEX_DH_FIXED, SCP_HASH_SHA512, 16},
    {"diffie-hellman-group-exchange-sha256", KEX_GEX, SCP_HASH_SHA256, 0},
    {"diffie-hellman-group-exchange-sha1", KEX_GEX_OLD, SCP_HASH_SHA1, 0},
    {"diffie-hellman-group1-sha1", KEX_DH_FIXED, SCP_HASH_SHA1, 1},
};
constexpr char kStrictClient[] = "kex-strict-c-v00@openssh.com";
constexpr char kStrictServer[] = "kex-strict-s-v00@openssh.com";
// The group sizes asked for in the current group exchange request.
constexpr std::uint32_t kGexMin = 2048;
constexpr std::uint32_t kGexMax = 8192;

enum ScpAuthWait { AUTH_WAIT_NONE, AUTH_WAIT_PK_QUERY, AUTH_WAIT_PK_SIGNED, AUTH_WAIT_PASSWORD };
enum ScpChosen { CH_KEX, CH_HOSTKEY, CH_CIPHER_OUT, CH_CIPHER_IN, CH_MAC_OUT, CH_MAC_IN, CH_COMP_OUT, CH_COMP_IN, CH_COUNT };

}  // namespace

namespace {
// The names of the latest key exchange (all point to static text).
const char* g_lastChosen[CH_COUNT];
bool g_lastStrict;
}  // namespace

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
    int versionStage;  // 0 looking for "SSH-", 1 protocol version, 2 rest of line
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

    // Authentication.
    int authWait;
    bool canPublicKey;
    bool canPassword;
    bool canKeyboardInteractive;
    bool publicKeyTried;
    int passwordAttempts;

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

namespace {

// ---------------------------------------------------------------- helpers

bool scp_list_contains(const std::uint8_t* list, std::size_t len, const char* name)
{
    const std::size_t n = std::strlen(name);
    std::size_t start = 0;
    while (start <= len) {
        std::size_t end = start;
        while (end < len && list[end] != ',') ++end;
        if (end - start == n && std::memcmp(list + start, name, n) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Writes the socket's send queue out.
int scp_socket_flush(ScpSession* s)
{
    if (s->sockOut.len == 0) return 0;
    if (s->sock == winsock::INVALID_SOCKET) {
        s->sockOut.len = 0;
        return 15;
    }
    std::size_t off = 0;
    int rc = 0;
    while (off < s->sockOut.len) {
        const std::size_t left = s->sockOut.len - off;
        const int n = winsock::send(s->sock, s->sockOut.data + off, static_cast<int>(left > 0x40000000 ? 0x40000000 : left), 0);
        if (n <= 0) {
            rc = winsock::WSAGetLastError() == winsock::WSAETIMEDOUT ? 28 : 26;
            break;
        }
        off += static_cast<std::size_t>(n);
    }
    s->sockOut.len = 0;
    scp_random_add_tick(s->pool);
    return rc;
}

// Queues bytes for the socket; the queue goes out once it holds a full
// channel window's worth, and before every wait for input.
int scp_session_write_raw(ScpSession* s, const std::uint8_t* data, std::size_t len)
{
    if (s->capture) {
        if (const int rc = scp_buf_put(s->capture, data, len)) return rc;
    }
    if (s->detached) return 0;
    if (s->sock == winsock::INVALID_SOCKET) return 15;
    if (const int rc = scp_buf_put(&s->sockOut, data, len)) return rc;
    return s->sockOut.len >= kSocketQueueFlush ? scp_socket_flush(s) : 0;
}

// Sends the message held in s->msg as one packet (or holds it back). A
// window adjustment still owed to the server goes out in the same write, so
// that two small writes never wait on each other's acknowledgement.
int scp_send_msg(ScpSession* s)
{
    s->wire.len = 0;
    int rc = 0;
    if (s->adjustOwed && s->channelOpen && !s->holding) {
        std::uint8_t adjust[9];
        adjust[0] = 93;  // SSH_MSG_CHANNEL_WINDOW_ADJUST
        scp_store_u32(adjust + 1, s->remoteId);
        scp_store_u32(adjust + 5, s->adjustOwed);
        s->localWindow += s->adjustOwed;
        s->adjustOwed = 0;
        rc = scp_packet_build(&s->pout, s->pool, adjust, sizeof adjust, &s->wire);
    }
    if (!rc) rc = scp_packet_build(&s->pout, s->pool, s->msg.data, s->msg.len, &s->wire);
    if (rc) return rc;
    if (s->holding) return scp_buf_put(&s->held, s->wire.data, s->wire.len);
    return scp_session_write_raw(s, s->wire.data, s->wire.len);
}

int scp_msg_start(ScpSession* s, std::uint8_t type)
{
    s->msg.len = 0;
    return scp_buf_put_byte(&s->msg, type);
}

int scp_socket_flush(ScpSession* s);

void scp_session_close_quietly(ScpSession* s)
{
    if (s->sock != winsock::INVALID_SOCKET) scp_socket_flush(s);  // best effort
    s->sockOut.len = 0;
    if (s->job) scp_job_close_sockets(s->job);
    s->sock = winsock::INVALID_SOCKET;
    s->state = SCP_SS_CLOSED;
    s->closed = true;
}

// A fatal error: close the sockets and save the seed before the code goes up.
int scp_session_fail(ScpSession* s, int code)
{
    scp_session_close_quietly(s);
    if (s->job && s->job->poolSeeded) scp_random_save_seed(s->pool);
    return code;
}

int scp_send_disconnect(ScpSession* s, std::uint32_t reason, const char* text)
{
    int rc = scp_msg_start(s, MSG_DISCONNECT);
    if (!rc) rc = scp_buf_put_u32(&s->msg, reason);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, text);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, "en");
    if (!rc) rc = scp_send_msg(s);
    return rc;
}

// ---------------------------------------------------------------- key exchange

const char* const kMacNames[] = {"hmac-sha2-256-etm@openssh.com",
                                 "hmac-sha2-512-etm@openssh.com",
                                 "hmac-sha2-256",
                                 "hmac-sha2-512",
                                 "hmac-sha1",
                                 "hmac-md5",
                                 "none"};
constexpr std::size_t kMacCount = sizeof kMacNames / sizeof kMacNames[0];

struct ScpBnFree {
    void operator()(BIGNUM* n) const { BN_clear_free(n); }
};
using ScpBn = std::unique_ptr<BIGNUM, ScpBnFree>;

bool scp_kex_usable(const ScpKexMethod& m, bool noGex) { return !noGex || (m.kind != KEX_GEX && m.kind != KEX_GEX_OLD); }

const char* const kHostKeyNames[] = {"ssh-ed25519", "ecdsa-sha2-nistp256", "rsa-sha2-512", "rsa-sha2-256",
                                     "ssh-rsa",     "ssh-dss"};

int scp_session_port(const ScpSession* s) { return s->cfg.port < 0 ? 22 : s->cfg.port; }

std::vector<std::string> scp_hostkey_offer(const ScpSession* s)
{
    const std::vector<std::string> names(kHostKeyNames, kHostKeyNames + sizeof kHostKeyNames / sizeof kHostKeyNames[0]);
    return sshcrypto::OrderHostKeyOffer(
        names, sshcrypto::HostKeyOfferHints(static_cast<std::uint32_t>(scp_session_port(s)), s->cfg.host));
}

const char* const kCompressionOn[] = {"zlib", "zlib@openssh.com", "zlib", "none"};
const char* const kCompressionOff[] = {"none", "zlib@openssh.com", "zlib", "none"};

// What we offer, list by list, exactly as our KEXINIT carries it.
ScpOffer scp_client_offer(const ScpSession* s)
{
    ScpOffer offer;
    const bool noGex = (s->quirks >> SCP_QUIRK_NO_GEX) & 1;
    for (const ScpKexMethod& method : kKexMethods)
        if (scp_kex_usable(method, noGex)) offer.lists[SCP_OFFER_KEX].emplace_back(method.name);
    offer.lists[SCP_OFFER_KEX].emplace_back(kStrictClient);
    // The algorithms of the keys already stored for the host come first, so
    // that a server that still has its old key presents it.
    offer.lists[SCP_OFFER_HOSTKEY] = scp_hostkey_offer(s);
    const std::vector<std::string> ciphers =
        scp_cipher_offer_names(s->cfg.cipherPrefs, s->cfg.allowSingleDes != 0, &offer.acceptedCiphers);
    const std::vector<std::string> macs(kMacNames, kMacNames + kMacCount);
    const char* const* comp = s->cfg.compression ? kCompressionOn : kCompressionOff;
    const std::vector<std::string> compression(comp, comp + 4);
    for (int dir = 0; dir < 2; ++dir) {
        offer.lists[SCP_OFFER_CIPHER_OUT + dir] = ciphers;
        offer.lists[SCP_OFFER_MAC_OUT + dir] = macs;
        offer.lists[SCP_OFFER_COMP_OUT + dir] = compression;
    }
    return offer;
}

int scp_put_name_list(ScpBuf* m, const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
    return scp_buf_put_string(m, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

int scp_build_kexinit(ScpSession* s)
{
    ScpBuf* m = &s->msg;
    int rc = scp_msg_start(s, MSG_KEXINIT);
    std::uint8_t cookie[16];
    scp_random_bytes(s->pool, cookie, sizeof cookie);
    if (!rc) rc = scp_buf_put(m, cookie, sizeof cookie);
    const ScpOffer offer = scp_client_offer(s);
    for (const std::vector<std::string>& list : offer.lists)
        if (!rc) rc = scp_put_name_list(m, list);
    for (int i = 0; i < 2 && !rc; ++i) rc = scp_buf_put_cstring(m, "");
    if (!rc) rc = scp_buf_put_byte(m, 0);
    if (!rc) rc = scp_buf_put_u32(m, 0);
    if (!rc) {
        s->kexinitClient.len = 0;
        rc = scp_buf_put(&s->kexinitClient, m->data, m->len);
    }
    if (!rc) rc = scp_send_msg(s);
    return rc;
}

// The static text of an agreed name (the session keeps pointers only).
const char* scp_static_name(const char* const* names, std::size_t count, const std::string& name)
{
    for (std::size_t i = 0; i < count; ++i)
        if (name == names[i]) return names[i];
    return nullptr;
}

int scp_start_dh(ScpSession* s)
{
    // x of 2n random bits, e = g^x mod p.
    const int bits = 2 * s->keyBits;
    std::uint8_t bytes[64];
    const int nbytes = (bits + 7) / 8;
    scp_random_bytes(s->pool, bytes, static_cast<std::size_t>(nbytes));
    if (bits % 8) bytes[0] &= static_cast<std::uint8_t>((1u << (bits % 8)) - 1);
    BN_clear_free(s->x);
    BN_free(s->e);
    s->x = BN_bin2bn(bytes, nbytes, nullptr);
    OPENSSL_cleanse(bytes, sizeof bytes);
    s->e = BN_new();
    BN_CTX* ctx = BN_CTX_new();
    int ok = s->x && s->e && ctx && !BN_is_zero(s->x);
    if (ok && BN_cmp(s->x, s->p) >= 0) ok = BN_mod(s->x, s->x, s->p, ctx);
    ok = ok && BN_mod_exp(s->e, s->g, s->x, s->p, ctx);
    BN_CTX_free(ctx);
    if (!ok) return 18;
    int rc = scp_msg_start(s, s->kex->kind == KEX_DH_FIXED ? MSG_KEXDH_INIT : MSG_KEX_DH_GEX_INIT);
    if (!rc) rc = scp_buf_put_mpint(&s->msg, s->e);
    if (!rc) rc = scp_send_msg(s);
    if (!rc) s->state = SCP_SS_KEX_REPLY;
    return rc;
}

bool scp_is_aead(const ScpCipherInfo& info) { return info.mode == SCP_MODE_GCM || info.mode == SCP_MODE_CHACHA; }

int scp_handle_kexinit(ScpSession* s, const std::uint8_t* payload, std::size_t len, std::uint32_t seq)
{
    int rc = scp_buf_put(&s->kexinitServer, payload, len);
    if (rc) return rc;
    ScpReader r = scp_reader(payload, len);
    std::uint8_t type = 0;
    const std::uint8_t* cookie = nullptr;
    const std::uint8_t* lists[10] = {};
    std::size_t lens[10] = {};
    if (!scp_get_byte(&r, &type) || !scp_get_bytes(&r, &cookie, 16)) return 16;
    for (int i = 0; i < 10; ++i)
        if (!scp_get_string(&r, &lists[i], &lens[i], 4096)) return 16;
    bool follows = false;
    if (!scp_get_bool(&r, &follows)) return 16;

    // Strict key exchange: the server's KEXINIT must have been its first packet.
    if (!s->haveSessionId && scp_list_contains(lists[0], lens[0], kStrictServer)) {
        if (seq != 0) return 24;
        s->strict = true;
    }
    ScpOffer theirs;
    for (int i = 0; i < SCP_OFFER_COUNT; ++i)
        theirs.lists[i] = scp_split_name_list(std::string_view(reinterpret_cast<const char*>(lists[i]), lens[i]));
    const ScpAgreement agreed = scp_negotiate(scp_client_offer(s), theirs);
    if (!agreed.ok) {
        scp_job_error_detail(agreed.failure.c_str());
        if (!scp_send_disconnect(s, 3, "No common algorithm\n")) scp_socket_flush(s);
        return 24;
    }
    s->kex = nullptr;
    for (const ScpKexMethod& method : kKexMethods)
        if (!s->kex && agreed.names[SCP_OFFER_KEX] == method.name) s->kex = &method;
    s->chosen[CH_KEX] = s->kex ? s->kex->name : nullptr;
    s->chosen[CH_HOSTKEY] = scp_static_name(kHostKeyNames, sizeof kHostKeyNames / sizeof kHostKeyNames[0],
                                            agreed.names[SCP_OFFER_HOSTKEY]);
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    const auto cipherIndex = [&](const std::string& name) {
        const ScpCipherInfo* info = scp_cipher_by_name(name.data(), name.size());
        return info ? static_cast<int>(info - table) : -1;
    };
    s->cipherOut = cipherIndex(agreed.names[SCP_OFFER_CIPHER_OUT]);
    s->cipherIn = cipherIndex(agreed.names[SCP_OFFER_CIPHER_IN]);
    if (!s->chosen[CH_KEX] || !s->chosen[CH_HOSTKEY] || s->cipherOut < 0 || s->cipherIn < 0) return 17;
    s->chosen[CH_CIPHER_OUT] = table[s->cipherOut].name;
    s->chosen[CH_CIPHER_IN] = table[s->cipherIn].name;
    s->chosen[CH_MAC_OUT] = scp_static_name(kMacNames, kMacCount, agreed.names[SCP_OFFER_MAC_OUT]);
    s->chosen[CH_MAC_IN] = scp_static_name(kMacNames, kMacCount, agreed.names[SCP_OFFER_MAC_IN]);
    s->chosen[CH_COMP_OUT] = scp_static_name(kCompressionOn, 4, agreed.names[SCP_OFFER_COMP_OUT]);
    s->chosen[CH_COMP_IN] = scp_static_name(kCompressionOn, 4, agreed.names[SCP_OFFER_COMP_IN]);
    if (!s->chosen[CH_MAC_OUT] || !s->chosen[CH_MAC_IN] || !s->chosen[CH_COMP_OUT] || !s->chosen[CH_COMP_IN])
        return 17;
    // A guessed packet that follows is dropped unless the guess was ours.
    if (follows) {
        const char* firstKex = reinterpret_cast<const char*>(lists[0]);
        const std::size_t n = std::strlen(s->chosen[CH_KEX]);
        const bool right = lens[0] >= n && std::memcmp(firstKex, s->chosen[CH_KEX], n) == 0 &&
                           (lens[0] == n || firstKex[n] == ',');
        s->skipGuess = !right;
    }
    // n: the longer key of the two ciphers.
    int bits = table[s->cipherOut].keyBits;
    if (table[s->cipherIn].keyBits > bits) bits = table[s->cipherIn].keyBits;
    const int kind = s->kex->kind;
    // The older methods keep their 160-bit cap (the exponent's size too).
    if (kind == KEX_GEX_OLD || (kind == KEX_DH_FIXED && s->kex->group == 1)) bits = bits > 160 ? 160 : bits;
    s->keyBits = bits;
    s->gex = kind == KEX_GEX_OLD || kind == KEX_GEX;
    if (kind == KEX_ECDH) {
        s->qc.len = 0;
        rc = scp_ecdh_start(&s->ecdh, s->kex->group, nullptr, &s->qc);
        if (!rc) rc = scp_msg_start(s, MSG_KEX_ECDH_INIT);
        if (!rc) rc = scp_buf_put_string(&s->msg, s->qc.data, s->qc.len);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) s->state = SCP_SS_KEX_REPLY;
        return rc;
    }
    if (kind == KEX_GEX_OLD) {
        s->gexBits = 512u << ((static_cast<unsigned>(bits) - 1) / 64);
        rc = scp_msg_start(s, MSG_KEX_DH_GEX_REQUEST_OLD);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->gexBits);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) s->state = SCP_SS_KEX_GROUP;
        return rc;
    }
    if (kind == KEX_GEX) {
        // Our choice: a group as strong as the cipher key, no stronger
        // (a longer group costs time and buys nothing).
        s->gexBits = bits <= 128 ? 3072 : bits <= 192 ? 7680 : 8192;
        rc = scp_msg_start(s, MSG_KEX_DH_GEX_REQUEST);
        if (!rc) rc = scp_buf_put_u32(&s->msg, kGexMin);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->gexBits);
        if (!rc) rc = scp_buf_put_u32(&s->msg, kGexMax);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) s->state = SCP_SS_KEX_GROUP;
        return rc;
    }
    BN_free(s->p);
    BN_free(s->g);
    const int group = s->kex->group;
    s->p = group == 16 ? BN_get_rfc3526_prime_4096(nullptr)
                       : group == 14 ? BN_get_rfc3526_prime_2048(nullptr) : BN_get_rfc2409_prime_1024(nullptr);
    s->g = BN_new();
    if (!s->p || !s->g || !BN_set_word(s->g, 2)) return 18;
    return scp_start_dh(s);
}

int scp_handle_group(ScpSession* s, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload, len);
    std::uint8_t type = 0;
    scp_get_byte(&r, &type);
    BN_free(s->p);
    BN_free(s->g);
    s->p = s->g = nullptr;
    if (!scp_get_mpint(&r, &s->p) || !scp_get_mpint(&r, &s->g)) return 17;
    if (BN_num_bits(s->p) < 512 || BN_num_bits(s->p) > 8192 || BN_is_zero(s->g) || BN_is_one(s->g)) return 17;
    if (s->kex->kind == KEX_GEX) {
        // The group asked for: 2048 to 8192 bits, 1 < g < p - 1.
        if (BN_num_bits(s->p) < static_cast<int>(kGexMin) || !BN_is_odd(s->p)) return 17;
        const ScpBn pm1(BN_dup(s->p));
        if (!pm1) return 18;
        if (!BN_sub_word(pm1.get(), 1) || BN_cmp(s->g, pm1.get()) >= 0) return 17;
    }
    return scp_start_dh(s);
}

int scp_hash_key(ScpSession* s, char letter, std::uint8_t* out, std::size_t outLen)
{
    const bool noSecret = (s->quirks >> SCP_QUIRK_KDF_NO_SECRET) & 1;
    return scp_kex_derive(s->kex->hash, noSecret ? nullptr : s->kMpint.data, noSecret ? 0 : s->kMpint.len, s->h, s->hLen,
                          letter, s->sessionId, s->sessionIdLen, out, outLen);
}

int scp_mac_kind(const char* name)
{
    if (std::strcmp(name, "hmac-sha1") == 0) return SCP_MAC_SHA1;
    if (std::strcmp(name, "hmac-md5") == 0) return SCP_MAC_MD5;
    if (std::strcmp(name, "hmac-sha2-256") == 0) return SCP_MAC_SHA256;
    if (std::strcmp(name, "hmac-sha2-512") == 0) return SCP_MAC_SHA512;
    if (std::strcmp(name, "hmac-sha2-256-etm@openssh.com") == 0) return SCP_MAC_SHA256_ETM;
    if (std::strcmp(name, "hmac-sha2-512-etm@openssh.com") == 0) return SCP_MAC_SHA512_ETM;
    return SCP_MAC_NONE;
}

// Starts a direction's compression: "zlib" with the new keys,
// "zlib@openssh.com" once the user is authenticated.
int scp_start_compression(ScpSession* s, bool outgoing)
{
    ScpZlib* zlib = outgoing ? &s->pout.zlib : &s->pin.zlib;
    const char* name = s->chosen[outgoing ? CH_COMP_OUT : CH_COMP_IN];
    if (zlib->stream || !name) return 0;
    const bool now = std::strcmp(name, "zlib") == 0 || (s->authenticated && std::strcmp(name, "zlib@openssh.com") == 0);
    return now ? scp_zlib_start(zlib, outgoing) : 0;
}

int scp_install_keys(ScpSession* s, bool outgoing)
{
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    const ScpCipherInfo* info = &table[outgoing ? s->cipherOut : s->cipherIn];
    // An authenticated cipher uses no MAC: no MAC key is derived.
    const int kind = scp_is_aead(*info) ? SCP_MAC_NONE : scp_mac_kind(s->chosen[outgoing ? CH_MAC_OUT : CH_MAC_IN]);
    std::size_t macKeyLen = scp_mac_key_len(kind);
    if (kind == SCP_MAC_SHA1 && ((s->quirks >> SCP_QUIRK_SHORT_HMAC) & 1)) macKeyLen = 16;
    std::uint8_t iv[64], key[64], mackey[64];
    int rc = 0;
    if (info->ivBytes) rc = scp_hash_key(s, outgoing ? 'A' : 'B', iv, static_cast<std::size_t>(info->ivBytes));
    if (!rc) rc = scp_hash_key(s, outgoing ? 'C' : 'D', key, static_cast<std::size_t>(info->keyBytes));
    if (!rc && macKeyLen) rc = scp_hash_key(s, outgoing ? 'E' : 'F', mackey, macKeyLen);
    ScpCipher* cipher = outgoing ? &s->pout.cipher : &s->pin.cipher;
    ScpMac* mac = outgoing ? &s->pout.mac : &s->pin.mac;
    if (!rc) rc = scp_cipher_start(cipher, info, key, iv, outgoing);
    if (!rc) rc = scp_mac_start(mac, kind, mackey, macKeyLen);
    if (!rc) rc = scp_start_compression(s, outgoing);
    OPENSSL_cleanse(iv, sizeof iv);
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(mackey, sizeof mackey);
    return rc;
}

int scp_check_host_key(ScpSession* s, const ScpHostKey* key, const std::uint8_t* blob, std::size_t blobLen)
{
    const std::uint32_t port = static_cast<std::uint32_t>(scp_session_port(s));
    const sshcrypto::SHostKeyCheck check = sshcrypto::CheckHostKeyTrust(key->cacheType, key->text, port, s->cfg.host);
    auto remember = [&] { return sshcrypto::StoreHostKey(key->cacheType, port, s->cfg.host, key->text); };
    auto ask = [&](int what) {
        if (!scp_job_has_callback()) return false;
        const std::string detail =
            std::string(key->fingerprint) + " " + sshcrypto::Sha256Fingerprint(std::span(blob, blobLen));
        return scp_job_event(s->job, SCP_EVENT_HOSTKEY, s->cfg.host, detail.c_str(), what) != 0;
    };
    switch (check.trust) {
    case sshcrypto::EHostKeyTrust::Match:
        return 0;
    case sshcrypto::EHostKeyTrust::FirstContact:
        switch (s->cfg.newHostKeyPolicy) {
        case HOSTKEY_ACCEPT_ONCE: return 0;
        case HOSTKEY_ACCEPT_AND_STORE: remember(); return 0;
        case HOSTKEY_ASK:
            if (!ask(SCP_HOSTKEY_ABSENT)) return SCP_E_HOSTKEY_REFUSED;
            remember();
            return 0;
        default: return SCP_E_HOSTKEY_REFUSED;
        }
    case sshcrypto::EHostKeyTrust::Revoked:
        // Listed as revoked by the user: no answer lets it through.
        return SCP_E_HOSTKEY_REFUSED;
    case sshcrypto::EHostKeyTrust::Changed:
    case sshcrypto::EHostKeyTrust::NewType:
    case sshcrypto::EHostKeyTrust::Unverifiable: {
        const int what = check.trust == sshcrypto::EHostKeyTrust::Changed   ? SCP_HOSTKEY_CHANGED
                         : check.trust == sshcrypto::EHostKeyTrust::NewType ? SCP_HOSTKEY_NEW_TYPE
                                                                            : SCP_HOSTKEY_UNVERIFIABLE;
        // Nothing but the caller's own yes or the user's goes on.
        if (s->cfg.changedHostKeyPolicy == HOSTKEY_ACCEPT_AND_STORE ||
            (s->cfg.changedHostKeyPolicy == HOSTKEY_ASK && ask(what))) {
            remember();
            return 0;
        }
        return SCP_E_HOSTKEY_REFUSED;
    }
    }
    return SCP_E_HOSTKEY_REFUSED;
}

// The server's reply, both forms: string K_S, then mpint f (Diffie-Hellman)
// or string Q_S (ECDH), then the signature over the exchange hash H.
int scp_handle_kex_reply(ScpSession* s, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload, len);
    std::uint8_t type = 0;
    const std::uint8_t *blob = nullptr, *sig = nullptr, *qs = nullptr;
    std::size_t blobLen = 0, sigLen = 0, qsLen = 0;
    BIGNUM* f = nullptr;
    const bool ecdh = s->kex->kind == KEX_ECDH;
    scp_get_byte(&r, &type);
    if (!scp_get_string(&r, &blob, &blobLen, 8192)) return 16;
    if (ecdh ? !scp_get_string(&r, &qs, &qsLen, 256) : !scp_get_mpint(&r, &f)) return 16;
    if (!scp_get_string(&r, &sig, &sigLen, 8192)) {
        BN_free(f);
        return 16;
    }
    int rc = 0;
    s->kMpint.len = 0;
    if (ecdh) {
        rc = scp_ecdh_finish(&s->ecdh, qs, qsLen, &s->kMpint);
        scp_ecdh_end(&s->ecdh);
    } else {
        // 1 < f < p - 1
        const ScpBn pm1(BN_dup(s->p));
        const std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
        rc = (pm1 && ctx && BN_sub_word(pm1.get(), 1)) ? 0 : 18;
        if (!rc && (BN_cmp(f, BN_value_one()) <= 0 || BN_cmp(f, pm1.get()) >= 0)) rc = 24;
        BN_clear_free(s->k);
        s->k = rc ? nullptr : BN_new();
        if (!rc && (!s->k || !BN_mod_exp(s->k, f, s->x, s->p, ctx.get()))) rc = 18;
        if (!rc) rc = scp_buf_put_mpint(&s->kMpint, s->k);
    }
    ScpHostKey key{};
    if (!rc) rc = scp_hostkey_parse(blob, blobLen, &key);
    if (!rc && key.type != scp_hostkey_alg_type(s->chosen[CH_HOSTKEY])) rc = 24;
    ScpExchangeParts parts{};
    parts.clientVersion = kClientVersion;
    parts.serverVersion = s->serverLine;
    parts.kexinitClient = s->kexinitClient.data;
    parts.kexinitClientLen = s->kexinitClient.len;
    parts.kexinitServer = s->kexinitServer.data;
    parts.kexinitServerLen = s->kexinitServer.len;
    parts.hostKey = blob;
    parts.hostKeyLen = blobLen;
    parts.gex = s->kex->kind == KEX_GEX ? SCP_GEX_RANGE : s->kex->kind == KEX_GEX_OLD ? SCP_GEX_OLD : SCP_GEX_NONE;
    parts.gexMin = kGexMin;
    parts.gexBits = s->gexBits;
    parts.gexMax = kGexMax;
    parts.p = s->p;
    parts.g = s->g;
    parts.e = ecdh ? nullptr : s->e;
    parts.f = f;
    parts.qc = s->qc.data;
    parts.qcLen = s->qc.len;
    parts.qs = qs;
    parts.qsLen = qsLen;
    parts.kMpint = s->kMpint.data;
    parts.kLen = s->kMpint.len;
    s->hLen = scp_hash_len(s->kex->hash);
    if (!rc) rc = scp_exchange_hash(s->kex->hash, &parts, s->h);
    BN_free(f);
    if (!rc && scp_hostkey_verify_alg(&key, s->chosen[CH_HOSTKEY], sig, sigLen, s->h, s->hLen) != 0)
        rc = SCP_E_HOSTKEY_SIGNATURE;
    if (!rc) rc = scp_check_host_key(s, &key, blob, blobLen);
    scp_hostkey_free(&key);
    if (rc) return rc;
    for (int i = 0; i < CH_COUNT; ++i) g_lastChosen[i] = s->chosen[i];
    g_lastStrict = s->strict;
    if (!s->haveSessionId) {
        std::memcpy(s->sessionId, s->h, s->hLen);
        s->sessionIdLen = s->hLen;
        s->haveSessionId = true;
    }
    rc = scp_msg_start(s, MSG_NEWKEYS);
    if (!rc) rc = scp_send_msg(s);
    // Strict key exchange: our sequence numbers start again after NEWKEYS.
    if (!rc && s->strict) s->pout.seq = 0;
    if (!rc) rc = scp_install_keys(s, true);
    if (!rc) s->state = SCP_SS_NEWKEYS;
    return rc;
}

// ---------------------------------------------------------------- authentication

int scp_put_auth_head(ScpSession* s, const char* method)
{
    int rc = scp_msg_start(s, MSG_USERAUTH_REQUEST);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, s->cfg.user);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, "ssh-connection");
    if (!rc) rc = scp_buf_put_cstring(&s->msg, method);
    return rc;
}

int scp_send_auth_none(ScpSession* s)
{
    int rc = scp_put_auth_head(s, "none");
    if (!rc) rc = scp_send_msg(s);
    s->authWait = AUTH_WAIT_NONE;
    return rc;
}

// The IGNORE message that pads the write of a password packet of the given
// wire length, so that the password's length does not show.
int scp_send_password_padding(ScpSession* s, std::size_t passwordWire, std::size_t switchBytes)
{
    const long b = s->pout.cipher.info->blockSize;
    long l = (b - static_cast<long>(passwordWire) + 255);
    l = l > 0 ? (l / b) * b : 0;
    l -= static_cast<long>(switchBytes);
    if (l < 0) l = 0;
    std::uint8_t noise[512];
    scp_random_bytes(s->pool, noise, static_cast<std::size_t>(l));
    int rc = scp_msg_start(s, MSG_IGNORE);
    if (!rc) rc = scp_buf_put_string(&s->msg, noise, static_cast<std::size_t>(l));
    if (!rc) rc = scp_send_msg(s);
    return rc;
}

int scp_send_password(ScpSession* s)
{
    int rc = 0;
    const bool cipherActive = scp_cipher_active(&s->pout.cipher);
    std::size_t switchBytes = 0;
    if (s->pout.zlib.stream && !s->pout.zlib.stored) {
        // Stop compressing, so the password's length does not show through
        // the compressed size.
        const std::size_t before = s->pout.carry.len;
        rc = scp_zlib_stop_compressing(&s->pout.zlib, &s->pout.carry);
        switchBytes = s->pout.carry.len - before;
        if (switchBytes == 0) switchBytes = s->pout.zlib.totalIn == 0 ? 7 : 4;
    }
    // With delayed compression the server compresses what follows the
    // password once it accepts it: the padding goes out first instead.
    const char* comp = s->chosen[CH_COMP_OUT];
    const bool paddingFirst = cipherActive && !s->pout.zlib.stream && comp && std::strcmp(comp, "zlib@openssh.com") == 0;
    s->holding = true;
    s->held.len = 0;
    if (!rc) rc = scp_put_auth_head(s, "password");
    if (!rc) rc = scp_buf_put_byte(&s->msg, 0);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, s->cfg.password);
    ScpBuf password{};
    if (!rc && paddingFirst) {
        rc = scp_buf_put(&password, s->msg.data, s->msg.len);
        if (!rc) rc = scp_send_password_padding(s, scp_packet_wire_len(&s->pout, password.len), 0);
        s->msg.len = 0;
        if (!rc) rc = scp_buf_put(&s->msg, password.data, password.len);
    }
    scp_buf_wipe(&password);
    if (!rc) rc = scp_send_msg(s);
    // Wipe the copy of the password in the message buffer.
    if (s->msg.data) OPENSSL_cleanse(s->msg.data, s->msg.cap);
    if (!rc && cipherActive && !paddingFirst) rc = scp_send_password_padding(s, s->held.len, switchBytes);
    s->holding = false;
    if (!rc) rc = scp_session_write_raw(s, s->held.data, s->held.len);
    if (s->held.data) OPENSSL_cleanse(s->held.data, s->held.cap);
    if (s->pout.scratch.data) OPENSSL_cleanse(s->pout.scratch.data, s->pout.scratch.cap);
    s->held.len = 0;
    s->authWait = AUTH_WAIT_PASSWORD;
    return rc;
}

int scp_send_pk_query(ScpSession* s)
{
    ScpPrivKey key{};
    // The query needs only the public half: unprotected keys load without a
    // passphrase; a protected PEM key is loaded with the password.
    int rc = scp_privkey_load(s->cfg.keyFile, s->cfg.password, &key);
    if (rc) return -1;
    ScpBuf blob{};
    rc = scp_privkey_public_blob(&key, &blob);
    if (!rc) rc = scp_put_auth_head(s, "publickey");
    if (!rc) rc = scp_buf_put_byte(&s->msg, 0);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, scp_privkey_algorithm(&key));
    if (!rc) rc = scp_buf_put_string(&s->msg, blob.data, blob.len);
    if (!rc) rc = scp_send_msg(s);
    scp_buf_free(&blob);
    scp_privkey_free(&key);
    s->authWait = AUTH_WAIT_PK_QUERY;
    return rc;
}

int scp_send_pk_signed(ScpSession* s)
{
    ScpPrivKey key{};
    if (scp_privkey_load(s->cfg.keyFile, s->cfg.password, &key) != 0) {
        // A key that cannot be loaded: carry on with "none".
        s->publicKeyTried = true;
        return scp_send_auth_none(s);
    }
    ScpBuf blob{}, signedData{}, sig{};
    int rc = scp_privkey_public_blob(&key, &blob);
    if (!rc) rc = scp_put_auth_head(s, "publickey");
    if (!rc) rc = scp_buf_put_byte(&s->msg, 1);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, scp_privkey_algorithm(&key));
    if (!rc) rc = scp_buf_put_string(&s->msg, blob.data, blob.len);
    if (!rc) {
        if ((s->quirks >> SCP_QUIRK_PK_SESSION_ID) & 1) rc = scp_buf_put(&signedData, s->sessionId, s->sessionIdLen);
        else rc = scp_buf_put_string(&signedData, s->sessionId, s->sessionIdLen);
    }
    if (!rc) rc = scp_buf_put(&signedData, s->msg.data, s->msg.len);
    if (!rc) rc = scp_privkey_sign(&key, signedData.data, signedData.len, &sig);
    if (!rc) rc = scp_buf_put_string(&s->msg, sig.data, sig.len);
    if (!rc) rc = scp_send_msg(s);
    scp_buf_free(&blob);
    scp_buf_free(&signedData);
    scp_buf_free(&sig);
    scp_privkey_free(&key);
    s->authWait = AUTH_WAIT_PK_SIGNED;
    return rc;
}

int scp_open_channel(ScpSession* s)
{
    s->localId = kFirstChannelId;
    int rc = scp_msg_start(s, MSG_CHANNEL_OPEN);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, "session");
    if (!rc) rc = scp_buf_put_u32(&s->msg, s->localId);
    if (!rc) rc = scp_buf_put_u32(&s->msg, kLocalWindow);
    if (!rc) rc = scp_buf_put_u32(&s->msg, kLocalMaxPacket);
    if (!rc) rc = scp_send_msg(s);
    s->localWindow = kLocalWindow;
    s->state = SCP_SS_CHANNEL_OPEN;
    return rc;
}

// What to try next after a failure (or at the start).
int scp_auth_next(ScpSession* s)
{
    if (s->cfg.keyFile[0] && s->canPublicKey && !s->publicKeyTried && scp_privkey_recognised(s->cfg.keyFile)) {
        const int rc = scp_send_pk_query(s);
        if (rc >= 0) return rc;
        s->publicKeyTried = true;
    }
    if (s->canPassword && s->passwordAttempts == 0) {
        ++s->passwordAttempts;
        return scp_send_password(s);
    }
    // Nothing we can try: say so and close without a code of our own.
    scp_send_disconnect(s, 11, "No supported authentication methods available\n");
    scp_session_close_quietly(s);
    return 0;
}

int scp_handle_auth(ScpSession* s, std::uint8_t type, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload + 1, len - 1);
    switch (type) {
    case MSG_USERAUTH_BANNER: return 0;
    case MSG_USERAUTH_SUCCESS: {
        scp_job_event(s->job, 2, nullptr, nullptr, 0);
        // Delayed compression starts now, both ways.
        s->authenticated = true;
        int rc = scp_start_compression(s, false);
        if (!rc) rc = scp_start_compression(s, true);
        return rc ? rc : scp_open_channel(s);
    }
    case MSG_USERAUTH_PK_OK:
        if (s->authWait != AUTH_WAIT_PK_QUERY) return 16;
        return scp_send_pk_signed(s);
    case MSG_USERAUTH_FAILURE: {
        const std::uint8_t* methods = nullptr;
        std::size_t methodsLen = 0;
        bool partial = false;
        if (!scp_get_string(&r, &methods, &methodsLen, 4096) || !scp_get_bool(&r, &partial)) return 16;
        s->canPublicKey = scp_list_contains(methods, methodsLen, "publickey");
        s->canPassword = scp_list_contains(methods, methodsLen, "password");
        if (s->cfg.noteKeyboardInteractive)
            s->canKeyboardInteractive = scp_list_contains(methods, methodsLen, "keyboard-interactive");
        if (s->authWait == AUTH_WAIT_PASSWORD && !partial) {
            // A rejected password is not sent again.
            scp_send_disconnect(s, 11, "Wrong password\n");
            return SCP_E_WRONG_PASSWORD;
        }
        if (s->authWait == AUTH_WAIT_PK_QUERY || s->authWait == AUTH_WAIT_PK_SIGNED) s->publicKeyTried = true;
        return scp_auth_next(s);
    }
    default: return 16;
    }
}

// ---------------------------------------------------------------- channel

int scp_send_request(ScpSession* s, const char* command, bool subsystem)
{
    const char* kind = subsystem ? "subsystem" : (command && *command ? "exec" : "shell");
    int rc = scp_msg_start(s, MSG_CHANNEL_REQUEST);
    if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, kind);
    if (!rc) rc = scp_buf_put_byte(&s->msg, 1);
    if (!rc && (subsystem || (command && *command))) rc = scp_buf_put_cstring(&s->msg, command);
    if (!rc) rc = scp_send_msg(s);
    return rc;
}

int scp_send_eof(ScpSession* s)
{
    if (s->eofSent || !s->channelOpen) return 0;
    int rc = scp_msg_start(s, MSG_CHANNEL_EOF);
    if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
    if (!rc) rc = scp_send_msg(s);
    s->eofSent = true;
    s->eofPending = false;
    return rc;
}

// Sends what the remote window allows of the data waiting in the channel,
// then a pending end-of-file once nothing is left.
int scp_flush_channel(ScpSession* s)
{
    int rc = 0;
    while (!rc && s->ready && s->channelOpen && s->channelOut.len > 0 && s->remoteWindow > 0) {
        std::size_t n = s->channelOut.len;
        if (n > s->remoteWindow) n = s->remoteWindow;
        if (n > s->remoteMaxPacket) n = s->remoteMaxPacket;
        if (n > kChannelPiece) n = kChannelPiece;
        rc = scp_msg_start(s, MSG_CHANNEL_DATA);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
        if (!rc) rc = scp_buf_put_string(&s->msg, s->channelOut.data, n);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) {
            scp_buf_consume(&s->channelOut, n);
            s->remoteWindow -= static_cast<std::uint32_t>(n);
        }
    }
    if (!rc && s->ready && s->eofPending && s->channelOut.len == 0) rc = scp_send_eof(s);
    return rc;
}

int scp_channel_closed(ScpSession* s)
{
    s->channelOpen = false;
    s->ready = false;
    scp_session_close_quietly(s);
    scp_job_event(s->job, 6, nullptr, nullptr, 5);
    return 0;
}

int scp_handle_channel(ScpSession* s, std::uint8_t type, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload + 1, len - 1);
    std::uint32_t recipient = 0;
    if (!scp_get_u32(&r, &recipient)) return 16;
    const bool ours = s->channelOpen && recipient == s->localId;
    int rc = 0;
    switch (type) {
    case MSG_CHANNEL_OPEN_CONFIRMATION:
    case MSG_CHANNEL_OPEN_FAILURE: return 0;
    case MSG_CHANNEL_WINDOW_ADJUST: {
        std::uint32_t add = 0;
        if (!scp_get_u32(&r, &add)) return 16;
        if (!ours) return 0;
        s->remoteWindow = (0xFFFFFFFFu - s->remoteWindow < add) ? 0xFFFFFFFFu : s->remoteWindow + add;
        return scp_flush_channel(s);
    }
    case MSG_CHANNEL_DATA:
    case MSG_CHANNEL_EXTENDED_DATA: {
        std::uint32_t code = 1;
        if (type == MSG_CHANNEL_EXTENDED_DATA && !scp_get_u32(&r, &code)) return 16;
        const std::uint8_t* data = nullptr;
        std::size_t n = 0;
        if (!scp_get_string(&r, &data, &n, kScpMaxPacket)) return 16;
        if (!ours) return 0;
        // The server may send no more than the window it was given.
        if (n > s->localWindow) {
            scp_job_error_detail("the server sent more channel data than the window allows");
            return 16;
        }
        s->localWindow -= static_cast<std::uint32_t>(n);
        if (s->job && n && code == 1) rc = scp_job_receive(s->job, data, n, type == MSG_CHANNEL_EXTENDED_DATA);
        if (rc) return scp_session_fail(s, rc);
        if (n && !s->closed && s->channelOpen) {
            // Give back the window, less what is kept unread: with the next
            // packet we send, or at once when half of it is used up.
            const std::size_t buffered = scp_job_buffered(s->job);
            const std::uint32_t target =
                buffered >= kLocalWindow ? 0 : kLocalWindow - static_cast<std::uint32_t>(buffered);
            s->adjustOwed = target > s->localWindow ? target - s->localWindow : 0;
            if (s->adjustOwed && s->localWindow < kLocalWindow / 2) {
                const std::uint32_t owed = s->adjustOwed;
                s->adjustOwed = 0;
                rc = scp_msg_start(s, MSG_CHANNEL_WINDOW_ADJUST);
                if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
                if (!rc) rc = scp_buf_put_u32(&s->msg, owed);
                if (!rc) rc = scp_send_msg(s);
                s->localWindow += owed;
            }
        }
        return rc;
    }
    case MSG_CHANNEL_EOF: return 0;
    case MSG_CHANNEL_CLOSE:
        if (!ours) return 0;
        if (!s->closeSent) {
            rc = scp_msg_start(s, MSG_CHANNEL_CLOSE);
            if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
            if (!rc) rc = scp_send_msg(s);
            s->closeSent = true;
        }
        if (rc) return rc;
        return scp_channel_closed(s);
    case MSG_CHANNEL_REQUEST: {
        const std::uint8_t* name = nullptr;
        std::size_t nameLen = 0;
        bool wantReply = false;
        if (!scp_get_string(&r, &name, &nameLen, 256) || !scp_get_bool(&r, &wantReply)) return 16;
        if (!ours) {
            char text[80];
            std::snprintf(text, sizeof text, "Received channel request for nonexistent channel %u",
                          static_cast<unsigned>(recipient));
            scp_send_disconnect(s, 11, text);
            return 17;
        }
        bool ok = false;
        if (nameLen == 11 && std::memcmp(name, "exit-status", 11) == 0) {
            std::uint32_t status = 0;
            if (!scp_get_u32(&r, &status)) return 16;
            s->exitStatus = static_cast<int>(status & 0x7fffffff);
            ok = true;
        }
        if (!wantReply) return 0;
        rc = scp_msg_start(s, ok ? MSG_CHANNEL_SUCCESS : MSG_CHANNEL_FAILURE);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
        if (!rc) rc = scp_send_msg(s);
        return rc;
    }
    default: return 16;
    }
}

int scp_handle_packet(ScpSession* s, const std::uint8_t* payload, std::size_t len, std::uint32_t seq)
{
    const std::uint8_t type = payload[0];
    int rc = 0;
    // Strict key exchange: until the server's first NEWKEYS only the next
    // key-exchange message may come, nothing else.
    if (s->strict && !s->firstKexDone) {
        std::uint8_t expected = MSG_NEWKEYS;
        if (s->state == SCP_SS_KEX_GROUP) expected = MSG_KEX_DH_GEX_GROUP;
        else if (s->state == SCP_SS_KEX_REPLY) expected = s->gex ? MSG_KEX_DH_GEX_REPLY : MSG_KEXDH_REPLY;
        if (type != expected || s->skipGuess) return 24;
    }
    // Messages handled the same way in every state.
    switch (type) {
    case MSG_DISCONNECT: {
        ScpReader r = scp_reader(payload + 1, len - 1);
        std::uint32_t reason = 0;
        const std::uint8_t* text = nullptr;
        std::size_t textLen = 0;
        if (scp_get_u32(&r, &reason) && scp_get_string(&r, &text, &textLen, 1024))
            std::fprintf(stderr, "Server sent disconnect message: %s\n",
                         TerminalText(std::string_view(reinterpret_cast<const char*>(text), textLen)).c_str());
        return 29;
    }
    case MSG_IGNORE:
    case MSG_DEBUG:
    case MSG_UNIMPLEMENTED: return 0;
    case MSG_GLOBAL_REQUEST: {
        ScpReader r = scp_reader(payload + 1, len - 1);
        const std::uint8_t* name = nullptr;
        std::size_t nameLen = 0;
        bool wantReply = false;
        if (!scp_get_string(&r, &name, &nameLen, 1024) || !scp_get_bool(&r, &wantReply)) return 16;
        if (!wantReply) return 0;
        rc = scp_msg_start(s, MSG_REQUEST_FAILURE);
        if (!rc) rc = scp_send_msg(s);
        return rc;
    }
    default: break;
    }
    const bool known = (type >= 1 && type <= 6) || type == 20 || type == 21 || (type >= 30 && type <= 33) ||
                       (type >= 50 && type <= 53) || type == 60 || type == 61 || (type >= 80 && type <= 82) ||
                       (type >= 90 && type <= 100);
    if (!known) {
        rc = scp_msg_start(s, MSG_UNIMPLEMENTED);
        if (!rc) rc = scp_buf_put_u32(&s->msg, seq);
        if (!rc) rc = scp_send_msg(s);
        return rc;
    }
    switch (s->state) {
    case SCP_SS_KEXINIT:
        if (type != MSG_KEXINIT) return 24;
        return scp_handle_kexinit(s, payload, len, seq);
    case SCP_SS_KEX_GROUP:
        if (s->skipGuess) {
            s->skipGuess = false;
            return 0;
        }
        if (type != MSG_KEX_DH_GEX_GROUP) return 24;
        return scp_handle_group(s, payload, len);
    case SCP_SS_KEX_REPLY:
        if (s->skipGuess) {
            s->skipGuess = false;
            return 0;
        }
        if (type != (s->gex ? MSG_KEX_DH_GEX_REPLY : MSG_KEX_ECDH_REPLY)) return 24;
        return scp_handle_kex_reply(s, payload, len);
    case SCP_SS_NEWKEYS:
        if (type != MSG_NEWKEYS) return 16;
        // Strict key exchange: the server's sequence numbers start again.
        if (s->strict) s->pin.seq = 0;
        s->firstKexDone = true;
        rc = scp_install_keys(s, false);
        if (!rc) rc = scp_msg_start(s, MSG_SERVICE_REQUEST);
        if (!rc) rc = scp_buf_put_cstring(&s->msg, "ssh-userauth");
        if (!rc) rc = scp_send_msg(s);
        s->state = SCP_SS_SERVICE;
        return rc;
    case SCP_SS_SERVICE:
        if (type != MSG_SERVICE_ACCEPT) return 24;
        s->state = SCP_SS_AUTH;
        return scp_send_auth_none(s);
    case SCP_SS_AUTH: return scp_handle_auth(s, type, payload, len);
    case SCP_SS_CHANNEL_OPEN: {
        if (type != MSG_CHANNEL_OPEN_CONFIRMATION) return 24;
        ScpReader r = scp_reader(payload + 1, len - 1);
        std::uint32_t recipient = 0;
        if (!scp_get_u32(&r, &recipient) || !scp_get_u32(&r, &s->remoteId) || !scp_get_u32(&r, &s->remoteWindow) ||
            !scp_get_u32(&r, &s->remoteMaxPacket))
            return 16;
        if (recipient != s->localId) return 17;
        if (s->remoteMaxPacket == 0) s->remoteMaxPacket = 1;
        s->channelOpen = true;
        s->state = SCP_SS_CHANNEL_REQUEST;
        return scp_send_request(s, s->cfg.remoteCommandPtr, s->cfg.remoteCommandIsSubsystem != 0);
    }
    case SCP_SS_CHANNEL_REQUEST:
        if (type == MSG_CHANNEL_FAILURE || type == MSG_CHANNEL_SUCCESS) {
            ScpReader r = scp_reader(payload + 1, len - 1);
            std::uint32_t recipient = 0;
            if (!scp_get_u32(&r, &recipient)) return 16;
            if (recipient != s->localId) return 17;
            if (type == MSG_CHANNEL_FAILURE) {
                if (s->fallbackUsed || !s->cfg.fallbackCommand) return 17;
                s->fallbackUsed = true;
                return scp_send_request(s, s->cfg.fallbackCommand, s->cfg.fallbackIsSubsystem != 0);
            }
            s->ready = true;
            s->state = SCP_SS_READY;
            return scp_flush_channel(s);  // data first, then a pending end-of-file
        }
        if (type >= MSG_CHANNEL_OPEN_CONFIRMATION && type <= MSG_CHANNEL_REQUEST)
            return scp_handle_channel(s, type, payload, len);
        return 16;
    case SCP_SS_READY:
        if (type >= MSG_CHANNEL_OPEN_CONFIRMATION && type <= MSG_CHANNEL_REQUEST)
            return scp_handle_channel(s, type, payload, len);
        return 16;
    default: return 16;
    }
}

// The version exchange: finds "SSH-", the protocol version and the line.
// Returns 1 once the line is complete, 0 when more bytes are needed.
int scp_version_take(ScpSession* s, ScpBuf* in)
{
    std::size_t i = 0;
    int done = 0;
    for (; i < in->len && !done; ++i) {
        const char c = static_cast<char>(in->data[i]);
        switch (s->versionStage) {
        case 0:
            if (c == "SSH-"[s->matched]) ++s->matched;
            else s->matched = c == 'S' ? 1 : 0;
            if (s->matched == 4) {
                s->versionStage = 1;
                std::memcpy(s->serverLine, "SSH-", 4);
                s->serverLineLen = 4;
            }
            break;
        case 1:
        case 2:
            if (c == '\n') {
                done = 1;
                break;
            }
            if (c == '\r') s->lineCut = true;
            if (!s->lineCut && s->serverLineLen < kMaxVersionLine) s->serverLine[s->serverLineLen++] = c;
            if (s->versionStage == 1) {
                if (c == '-') s->versionStage = 2;
                else if (s->protocolLen < sizeof s->protocol - 1) s->protocol[s->protocolLen++] = c;
            }
            break;
        }
    }
    scp_buf_consume(in, i);
    if (done) s->serverLine[s->serverLineLen] = '\0';
    return done;
}

// Compares "major.minor" numerically with 1.99.
bool scp_protocol_below_199(const char* version)
{
    long major = 0, minor = 0;
    const char* p = version;
    while (*p >= '0' && *p <= '9') major = major * 10 + (*p++ - '0');
    if (*p == '.') ++p;
    while (*p >= '0' && *p <= '9') minor = minor * 10 + (*p++ - '0');
    return major < 1 || (major == 1 && minor < 99);
}

int scp_version_done(ScpSession* s)
{
    s->protocol[s->protocolLen] = '\0';
    // The software version: the text after the second '-'.
    const char* software = std::strchr(s->serverLine + 4, '-');
    software = software ? software + 1 : "";
    s->quirks = scp_detect_quirks(software, s->cfg.quirks);
    if (scp_protocol_below_199(s->protocol)) return 23;
    char line[64];
    std::snprintf(line, sizeof line, "%s\n", kClientVersion);
    int rc = scp_session_write_raw(s, reinterpret_cast<const std::uint8_t*>(line), std::strlen(line));
    if (rc) return rc;
    if (s->job && !s->job->poolSeeded) {
        scp_random_seed(s->pool);
        s->job->poolSeeded = true;
    }
    s->state = SCP_SS_KEXINIT;
    return scp_build_kexinit(s);
}

int scp_session_process(ScpSession* s)
{
    int rc = 0;
    while (!rc && !s->closed) {
        if (s->state == SCP_SS_VERSION) {
            if (!scp_version_take(s, &s->inbuf)) break;
            rc = scp_version_done(s);
            continue;
        }
        bool got = false;
        rc = scp_packet_take(&s->pin, &s->inbuf, &got);
        if (rc || !got) break;
        rc = scp_handle_packet(s, s->pin.payload.data, s->pin.payload.len, s->pin.payloadSeq);
    }
    return rc;
}

void scp_session_free(ScpSession* s)
{
    scp_buf_free(&s->inbuf);
    scp_buf_wipe(&s->sockOut);
    scp_packet_in_free(&s->pin);
    scp_packet_out_free(&s->pout);
    scp_buf_free(&s->wire);
    scp_buf_wipe(&s->msg);
    scp_buf_wipe(&s->held);
    scp_buf_free(&s->kexinitClient);
    scp_buf_free(&s->kexinitServer);
    scp_buf_wipe(&s->kMpint);
    scp_buf_free(&s->qc);
    scp_ecdh_end(&s->ecdh);
    scp_buf_free(&s->channelOut);
    BN_free(s->p);
    BN_free(s->g);
    BN_clear_free(s->x);
    BN_free(s->e);
    BN_clear_free(s->k);
    OPENSSL_cleanse(s->cfg.password, sizeof s->cfg.password);
    OPENSSL_cleanse(s, sizeof *s);
    scp_free(s);
}

int scp_session_new(ScpSession** out, const SessionConfig* cfg)
{
    auto* s = static_cast<ScpSession*>(scp_alloc(sizeof(ScpSession)));
    if (!s) return 18;
    s->cfg = *cfg;
    // The command pointer refers to the in-record buffer when it did before.
    if (cfg->remoteCommandPtr == cfg->remoteCommand) s->cfg.remoteCommandPtr = s->cfg.remoteCommand;
    s->job = cfg->job;
    s->sock = winsock::INVALID_SOCKET;
    s->pool = s->job ? &s->job->pool : &s->ownPool;
    if (!s->job) scp_random_init(&s->ownPool);
    s->exitStatus = -1;
    s->cipherOut = s->cipherIn = -1;
    s->state = SCP_SS_VERSION;
    *out = s;
    return 0;
}

// ---------------------------------------------------------------- backend

int scp_backend_open(ScpSession** out, const SessionConfig* cfg, bool noDelay)
{
    *out = nullptr;
    const int port = cfg->port < 0 ? 22 : cfg->port;
    char text[900];
    std::uint32_t address = winsock::inet_addr(cfg->host);
    if (address == winsock::INADDR_NONE) {
        if (!winsock::gethostbyname(cfg->host, &address)) {
            std::snprintf(text, sizeof text, "Could not resolve hostname %s: %s", cfg->host,
                          winsock::resolver_error_text().c_str());
            scp_job_error_detail(text);
            switch (winsock::WSAGetLastError()) {
            case winsock::WSAENETDOWN: return 19;
            case winsock::WSAHOST_NOT_FOUND: return 20;
            case winsock::WSATRY_AGAIN: return 21;
            default: return 26;
            }
        }
    }
    ScpSession* s = nullptr;
    int rc = scp_session_new(&s, cfg);
    if (rc) return rc;
    const winsock::SOCKET sock = winsock::socket(winsock::AF_INET, winsock::SOCK_STREAM, 0);
    if (sock == winsock::INVALID_SOCKET) rc = 26;
    if (!rc) {
        if (s->job) scp_job_register_socket(s->job, sock);
        const int on = 1;
        winsock::setsockopt(sock, winsock::SOL_SOCKET, winsock::SO_OOBINLINE, &on, sizeof on);
        if (noDelay) winsock::setsockopt(sock, winsock::IPPROTO_TCP, winsock::TCP_NODELAY, &on, sizeof on);
        winsock::sockaddr_in local{winsock::AF_INET, 0, winsock::INADDR_ANY};
        winsock::sockaddr_in remote{winsock::AF_INET, winsock::htons(static_cast<std::uint16_t>(port)), address};
        const int seconds = s->job && s->job->options ? s->job->options->connect_timeout_seconds : 30;
        const CDeadline limit = CDeadline::InSeconds(seconds > 0 ? seconds : 1);
        if (winsock::bind(sock, &local) != 0 || winsock::connect_until(sock, &remote, limit) != 0) {
            const int error = winsock::WSAGetLastError();
            rc = error == winsock::WSAETIMEDOUT ? 28 : 26;
            const std::string cause = winsock::error_text(error);
            if (error == winsock::WSAETIMEDOUT)
                std::snprintf(text, sizeof text, "connect to host %s port %d: %s after %d second%s", cfg->host, port,
                              cause.c_str(), seconds, seconds == 1 ? "" : "s");
            else
                std::snprintf(text, sizeof text, "connect to host %s port %d: %s", cfg->host, port, cause.c_str());
            scp_job_error_detail(text);
        }
        if (!s->job && rc) winsock::closesocket(sock);
    }
    if (rc) {
        if (s->job) scp_job_close_sockets(s->job);
        scp_session_free(s);
        return rc;
    }
    s->sock = sock;
    *out = s;
    return 0;
}

void scp_backend_release(ScpSession* s)
{
    if (!s) return;
    if (!s->job && s->sock != winsock::INVALID_SOCKET) winsock::closesocket(s->sock);
    scp_session_free(s);
}

void scp_backend_apply_config(ScpSession* s, const SessionConfig* cfg)
{
    s->cfg = *cfg;
    if (cfg->remoteCommandPtr == cfg->remoteCommand) s->cfg.remoteCommandPtr = s->cfg.remoteCommand;
}

int scp_backend_send(ScpSession* s, const std::uint8_t* data, std::size_t len, std::size_t* queued)
{
    if (queued) *queued = 0;
    if (!s || s->closed || (!s->detached && s->sock == winsock::INVALID_SOCKET)) return 15;
    int rc = scp_buf_put(&s->channelOut, data, len);
    if (!rc && s->channelOut.len >= kChannelPiece) rc = scp_flush_channel(s);
    if (rc) rc = scp_session_fail(s, rc);
    if (queued) *queued = s->channelOut.len;
    return rc;
}

std::size_t scp_backend_queued(ScpSession* s) { return s ? s->channelOut.len + s->sockOut.len : 0; }

void scp_backend_set_size(ScpSession*, int, int) {}

int scp_backend_special(ScpSession* s, int code)
{
    if (!s || code != kScpSpecialEof || s->closed) return 0;
    // Sent after the data still waiting in the channel.
    s->eofPending = true;
    return s->ready ? scp_flush_channel(s) : 0;
}

const char* const* scp_backend_specials(ScpSession*, int* count)
{
    static const char* const kSpecials[] = {"IGNORE message", "Break"};
    *count = 2;
    return kSpecials;
}

winsock::SOCKET scp_backend_socket(ScpSession* s) { return s ? s->sock : winsock::INVALID_SOCKET; }

int scp_backend_exit_status(ScpSession* s)
{
    if (!s || !s->closed) return -1;
    return s->exitStatus < 0 ? 0 : s->exitStatus;
}

bool scp_backend_ready(ScpSession* s) { return s && s->ready; }
int scp_backend_ldisc(ScpSession*, int) { return 0; }
void scp_backend_attach(ScpSession*, void*) {}

void scp_backend_unthrottle(ScpSession* s, int buffered)
{
    if (!s || !s->channelOpen || s->closed) return;
    const std::uint32_t target = buffered >= static_cast<int>(kLocalWindow) ? 0 : kLocalWindow - static_cast<std::uint32_t>(buffered);
    if (target <= s->localWindow + s->adjustOwed) return;
    // While unread data remains, the window is given back in halves, not
    // byte by byte as the reads take it.
    if (buffered > 0 && target - s->localWindow - s->adjustOwed < kLocalWindow / 2) return;
    // This adjustment brings the window to its target; nothing else is owed.
    const std::uint32_t add = target - s->localWindow;
    s->adjustOwed = 0;
    if (scp_msg_start(s, MSG_CHANNEL_WINDOW_ADJUST) == 0 && scp_buf_put_u32(&s->msg, s->remoteId) == 0 &&
        scp_buf_put_u32(&s->msg, add) == 0)
        scp_send_msg(s);
    s->localWindow = target;
}

}  // namespace

const SessionBackend scp_ssh_backend = {
    scp_backend_open,   scp_backend_release, scp_backend_apply_config, scp_backend_send,
    scp_backend_queued, scp_backend_set_size, scp_backend_special,     scp_backend_specials,
    scp_backend_socket, scp_backend_exit_status, scp_backend_ready,    scp_backend_ldisc,
    scp_backend_attach, scp_backend_attach,  scp_backend_unthrottle,   22,
};

void scp_session_config_defaults(SessionConfig* cfg)
{
    std::memset(cfg, 0, sizeof *cfg);
    cfg->port = 22;
    cfg->remoteCommandPtr = cfg->remoteCommand;
    cfg->cipherPrefs[0] = SCP_PREF_AES;
    cfg->cipherPrefs[1] = SCP_PREF_BLOWFISH;
    cfg->cipherPrefs[2] = SCP_PREF_3DES;
    cfg->cipherPrefs[3] = SCP_PREF_WARN;
    cfg->cipherPrefs[4] = SCP_PREF_DES;
    cfg->noteKeyboardInteractive = 1;
    cfg->newHostKeyPolicy = 2;
    cfg->changedHostKeyPolicy = 0;
    for (int& q : cfg->quirks) q = SCP_QUIRK_DETECT;
}

bool scp_session_fallback_used(ScpSession* s) { return s && s->fallbackUsed; }

int scp_session_flush(ScpSession* s)
{
    if (!s || s->closed) return 0;
    int rc = scp_flush_channel(s);
    if (!rc && !s->detached && s->sock != winsock::INVALID_SOCKET) rc = scp_socket_flush(s);
    return rc ? scp_session_fail(s, rc) : 0;
}

int scp_session_read_input(ScpSession* s)
{
    if (!s || s->sock == winsock::INVALID_SOCKET) return 0;
    std::uint8_t buffer[20480];
    const int n = winsock::recv(s->sock, buffer, sizeof buffer, 0);
    if (n == 0) {
        scp_session_close_quietly(s);
        return 0;
    }
    if (n < 0) return scp_session_fail(s, winsock::WSAGetLastError() == winsock::WSAETIMEDOUT ? 28 : 26);
    scp_random_add_tick(s->pool);
    return scp_session_feed(s, buffer, static_cast<std::size_t>(n));
}

int scp_session_feed(ScpSession* s, const std::uint8_t* data, std::size_t len)
{
    if (s->closed) return 0;
    int rc = scp_buf_put(&s->inbuf, data, len);
    if (!rc) rc = scp_session_process(s);
    if (rc) return scp_session_fail(s, rc);
    return 0;
}

int scp_session_create_detached(ScpSession** out, const SessionConfig* cfg, ScpBuf* capture)
{
    const int rc = scp_session_new(out, cfg);
    if (rc) return rc;
    (*out)->detached = true;
    (*out)->capture = capture;
    return 0;
}

int scp_session_state(const ScpSession* s) { return s->state; }
unsigned scp_session_quirks(const ScpSession* s) { return s->quirks; }
const char* scp_session_server_version(const ScpSession* s) { return s->serverLine; }
const char* scp_session_last_chosen(int which) { return which >= 0 && which < CH_COUNT ? g_lastChosen[which] : nullptr; }
bool scp_session_last_strict() { return g_lastStrict; }

const char* scp_session_chosen(const ScpSession* s, int which)
{
    return which >= 0 && which < CH_COUNT ? s->chosen[which] : nullptr;
}

unsigned scp_detect_quirks(const char* v, const int settings[SCP_QUIRK_COUNT])
{
    bool detected[SCP_QUIRK_COUNT] = {};
    const bool vshell = scp_match_pattern("* VShell", v);
    detected[SCP_QUIRK_SHORT_HMAC] = !vshell && (scp_match_pattern("2.1.0*", v) || scp_match_pattern("2.0.*", v) ||
                                                 scp_match_pattern("2.2.0*", v) || scp_match_pattern("2.3.0*", v) ||
                                                 scp_match_pattern("2.1 *", v));
    detected[SCP_QUIRK_KDF_NO_SECRET] = !vshell && (scp_match_pattern("2.0.0*", v) || scp_match_pattern("2.0.10*", v));
    detected[SCP_QUIRK_RSA_SIG_PAD] = scp_match_pattern("OpenSSH_2.[5-9]*", v) || scp_match_pattern("OpenSSH_3.[0-2]*", v);
    detected[SCP_QUIRK_PK_SESSION_ID] = scp_match_pattern("OpenSSH_2.[0-2]*", v);
    detected[SCP_QUIRK_NO_GEX] = false;
    unsigned flags = 0;
    for (int i = 0; i < SCP_QUIRK_COUNT; ++i) {
        const bool on = settings[i] == SCP_QUIRK_ON || (settings[i] == SCP_QUIRK_DETECT && detected[i]);
        if (on) flags |= 1u << i;
    }
    return flags;
}

namespace {
bool scp_family_usable(int family, bool allowDes)
{
    if (family == SCP_CIPHER_DES && !allowDes) return false;
    if (family == SCP_CIPHER_BLOWFISH || family == SCP_CIPHER_DES) return scp_crypto_legacy_available();
    return true;
}

int scp_pref_family(int pref)
{
    switch (pref) {
    case SCP_PREF_AES: return SCP_CIPHER_AES;
    case SCP_PREF_BLOWFISH: return SCP_CIPHER_BLOWFISH;
    case SCP_PREF_3DES: return SCP_CIPHER_3DES;
    case SCP_PREF_DES: return SCP_CIPHER_DES;
    default: return SCP_CIPHER_WARN;
    }
}
}  // namespace

std::vector<std::string> scp_cipher_offer_names(const int prefs[5], bool allowDes, std::size_t* accepted)
{
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    std::vector<std::string> names;
    *accepted = static_cast<std::size_t>(-1);
    for (int i = 0; i < 5; ++i) {
        const int family = scp_pref_family(prefs[i]);
        // Ciphers below the warning line are offered but never agreed (a
        // warning line in last place warns about nothing).
        if (family == SCP_CIPHER_WARN && i < 4 && *accepted == static_cast<std::size_t>(-1)) *accepted = names.size();
        if (family == SCP_CIPHER_WARN || !scp_family_usable(family, allowDes)) continue;
        for (std::size_t j = 0; j < count; ++j)
            if (table[j].family == family) names.emplace_back(table[j].name);
    }
    return names;
}

int scp_cipher_offer(const int prefs[5], bool allowDes, ScpBuf* out)
{
    std::size_t accepted = 0;
    std::string text;
    for (const std::string& name : scp_cipher_offer_names(prefs, allowDes, &accepted))
        text += (text.empty() ? "" : ",") + name;
    return scp_buf_put(out, text.data(), text.size());
}

int scp_cipher_choose(const int prefs[5], bool allowDes, const char* serverList, std::size_t serverLen)
{
    ScpOffer ours;
    const std::vector<std::string> names = scp_cipher_offer_names(prefs, allowDes, &ours.acceptedCiphers);
    const std::vector<std::string> theirs = scp_split_name_list(std::string_view(serverList, serverLen));
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (std::find(theirs.begin(), theirs.end(), names[i]) == theirs.end()) continue;
        if (i >= ours.acceptedCiphers) return -1;
        std::size_t count = 0;
        const ScpCipherInfo* table = scp_cipher_table(&count);
        return static_cast<int>(scp_cipher_by_name(names[i].data(), names[i].size()) - table);
    }
    return -1;
}
