// The transport of the upload library's SSH-2 engine: the version exchange
// with quirk detection, the socket's send queue, packets in and out, the
// messages every state handles the same way and the dispatch of the others
// to the key exchange, the authentication and the channel.
#include "scp/scp_ssh.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/terminal_text.h"
#include "scp/scp_job.h"
#include "scp/scp_match.h"
#include "scp/scp_packet.h"
#include "scp/scp_session.h"
#include "sshcore/algorithms.h"

bool scp_list_contains(const std::uint8_t* list, std::size_t len, const char* name)
{
    return sshcore::NameListContains(std::string_view(reinterpret_cast<const char*>(list), len), name);
}

// Writes the socket's send queue out.
int scp_socket_flush(ScpSession* s)
{
    if (s->sockOut.len == 0) return SCP_OK;
    if (s->sock == winsock::INVALID_SOCKET) {
        s->sockOut.len = 0;
        return SCP_E_SEND;
    }
    std::size_t off = 0;
    int rc = SCP_OK;
    while (off < s->sockOut.len) {
        const std::size_t left = s->sockOut.len - off;
        const int n = winsock::send(s->sock, s->sockOut.data + off, static_cast<int>(left > 0x40000000 ? 0x40000000 : left), 0);
        if (n <= 0) {
            rc = winsock::WSAGetLastError() == winsock::WSAETIMEDOUT ? SCP_E_TIMED_OUT : SCP_E_NETWORK;
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
    if (s->detached) return SCP_OK;
    if (s->sock == winsock::INVALID_SOCKET) return SCP_E_SEND;
    if (const int rc = scp_buf_put(&s->sockOut, data, len)) return rc;
    return s->sockOut.len >= kSocketQueueFlush ? scp_socket_flush(s) : SCP_OK;
}

// Sends the message held in s->msg as one packet (or holds it back). A
// window adjustment still owed to the server goes out in the same write, so
// that two small writes never wait on each other's acknowledgement.
int scp_send_msg(ScpSession* s)
{
    s->wire.len = 0;
    int rc = SCP_OK;
    // While keys are exchanged only the transport's own messages go out;
    // the rest waits for our NEWKEYS.
    if (s->kexPending && s->msg.len > 0 && s->msg.data[0] >= MSG_USERAUTH_REQUEST) {
        rc = scp_buf_put_u32(&s->deferred, static_cast<std::uint32_t>(s->msg.len));
        return rc ? rc : scp_buf_put(&s->deferred, s->msg.data, s->msg.len);
    }
    if (s->adjustOwed && s->channelOpen && !s->holding && !s->kexPending) {
        std::uint8_t adjust[9];
        adjust[0] = MSG_CHANNEL_WINDOW_ADJUST;
        scp_store_u32(adjust + 1, s->remoteId);
        scp_store_u32(adjust + 5, s->adjustOwed);
        s->localWindow += s->adjustOwed;
        s->adjustOwed = 0;
        rc = scp_packet_build(&s->pout, s->pool, adjust, sizeof adjust, &s->wire);
    }
    if (!rc) rc = scp_packet_build(&s->pout, s->pool, s->msg.data, s->msg.len, &s->wire);
    if (rc) return rc;
    scp_rekey_count(&s->rekeyClock, true, s->wire.len);
    if (s->holding) return scp_buf_put(&s->held, s->wire.data, s->wire.len);
    return scp_session_write_raw(s, s->wire.data, s->wire.len);
}

int scp_msg_start(ScpSession* s, std::uint8_t type)
{
    s->msg.len = 0;
    return scp_buf_put_byte(&s->msg, type);
}

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

int scp_session_port(const ScpSession* s) { return s->cfg.port < 0 ? 22 : s->cfg.port; }

// The server's extensions: server-sig-algs is kept (cut at a name when it
// is longer than its place), the others are not used.
int scp_handle_ext_info(ScpSession* s, const std::uint8_t* payload, std::size_t len)
{
    constexpr std::uint32_t kMaxExtensions = 64;
    ScpReader r = scp_reader(payload + 1, len - 1);
    std::uint32_t count = 0;
    if (!scp_get_u32(&r, &count) || count > kMaxExtensions) return SCP_E_RECEIVE;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t *name = nullptr, *value = nullptr;
        std::size_t nameLen = 0, valueLen = 0;
        if (!scp_get_string(&r, &name, &nameLen, 256) || !scp_get_string(&r, &value, &valueLen, 16384))
            return SCP_E_RECEIVE;
        if (std::string_view(reinterpret_cast<const char*>(name), nameLen) != "server-sig-algs") continue;
        std::size_t keep = valueLen;
        if (keep >= sizeof s->serverSigAlgs) {
            keep = sizeof s->serverSigAlgs - 1;
            while (keep > 0 && value[keep] != ',') --keep;
        }
        std::memcpy(s->serverSigAlgs, value, keep);
        s->serverSigAlgs[keep] = '\0';
        s->extInfo = true;
    }
    return SCP_OK;
}

namespace {

int scp_handle_packet(ScpSession* s, const std::uint8_t* payload, std::size_t len, std::uint32_t seq)
{
    const std::uint8_t type = payload[0];
    int rc = SCP_OK;
    // Strict key exchange: until the server's first NEWKEYS only the next
    // key-exchange message may come, nothing else.
    if (s->strict && !s->firstKexDone) {
        std::uint8_t expected = MSG_NEWKEYS;
        if (s->state == SCP_SS_KEX_GROUP) expected = MSG_KEX_DH_GEX_GROUP;
        else if (s->state == SCP_SS_KEX_REPLY) expected = s->gex ? MSG_KEX_DH_GEX_REPLY : MSG_KEXDH_REPLY;
        if (type != expected || s->skipGuess) return SCP_E_AUTHENTICATE;
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
        return SCP_E_DISCONNECTED;
    }
    case MSG_IGNORE:
    case MSG_DEBUG:
    case MSG_UNIMPLEMENTED: return SCP_OK;
    case MSG_EXT_INFO:
        // Only after the first key exchange, before the login ends.
        if (!s->firstKexDone || s->authenticated) return SCP_E_RECEIVE;
        return scp_handle_ext_info(s, payload, len);
    case MSG_GLOBAL_REQUEST: {
        ScpReader r = scp_reader(payload + 1, len - 1);
        const std::uint8_t* name = nullptr;
        std::size_t nameLen = 0;
        bool wantReply = false;
        if (!scp_get_string(&r, &name, &nameLen, 1024) || !scp_get_bool(&r, &wantReply)) return SCP_E_RECEIVE;
        if (!wantReply) return SCP_OK;
        rc = scp_msg_start(s, MSG_REQUEST_FAILURE);
        if (!rc) rc = scp_send_msg(s);
        return rc;
    }
    default: break;
    }
    const bool known = (type >= MSG_DISCONNECT && type <= MSG_EXT_INFO) || type == 20 || type == 21 || (type >= 30 && type <= 33) ||
                       (type >= 50 && type <= 53) || type == 60 || type == 61 || (type >= 80 && type <= 82) ||
                       (type >= 90 && type <= 100);
    if (!known) {
        rc = scp_msg_start(s, MSG_UNIMPLEMENTED);
        if (!rc) rc = scp_buf_put_u32(&s->msg, seq);
        if (!rc) rc = scp_send_msg(s);
        return rc;
    }
    // A later key exchange, the server's or its answer to ours.
    if (type == MSG_KEXINIT && s->firstKexDone) return scp_handle_later_kexinit(s, payload, len, seq);
    switch (s->state) {
    case SCP_SS_KEXINIT:
        if (type != MSG_KEXINIT) return SCP_E_AUTHENTICATE;
        return scp_handle_kexinit(s, payload, len, seq);
    case SCP_SS_KEX_GROUP:
        if (s->skipGuess) {
            s->skipGuess = false;
            return SCP_OK;
        }
        if (type != MSG_KEX_DH_GEX_GROUP) return SCP_E_AUTHENTICATE;
        return scp_handle_group(s, payload, len);
    case SCP_SS_KEX_REPLY:
        if (s->skipGuess) {
            s->skipGuess = false;
            return SCP_OK;
        }
        if (type != (s->gex ? MSG_KEX_DH_GEX_REPLY : MSG_KEX_ECDH_REPLY)) return SCP_E_AUTHENTICATE;
        return scp_handle_kex_reply(s, payload, len);
    case SCP_SS_NEWKEYS:
        if (type != MSG_NEWKEYS) return SCP_E_RECEIVE;
        // Strict key exchange: the server's sequence numbers start again.
        if (s->strict) s->pin.seq = 0;
        if (s->rekeying) return scp_finish_rekey(s);
        s->firstKexDone = true;
        scp_rekey_restart(s);
        rc = scp_install_keys(s, false);
        if (!rc) rc = scp_msg_start(s, MSG_SERVICE_REQUEST);
        if (!rc) rc = scp_buf_put_cstring(&s->msg, "ssh-userauth");
        if (!rc) rc = scp_send_msg(s);
        s->state = SCP_SS_SERVICE;
        return rc;
    case SCP_SS_SERVICE:
        if (type != MSG_SERVICE_ACCEPT) return SCP_E_AUTHENTICATE;
        s->state = SCP_SS_AUTH;
        return scp_send_auth_none(s);
    case SCP_SS_AUTH: return scp_handle_auth(s, type, payload, len);
    case SCP_SS_CHANNEL_OPEN:
    case SCP_SS_CHANNEL_REQUEST:
    case SCP_SS_READY: return scp_handle_channel_state(s, type, payload, len);
    default: return SCP_E_RECEIVE;
    }
}

// The version exchange: finds "SSH-", the protocol version and the line.
// True once the line is complete, false when more bytes are needed.
bool scp_version_take(ScpSession* s, ScpBuf* in)
{
    std::size_t i = 0;
    bool done = false;
    for (; i < in->len && !done; ++i) {
        const char c = static_cast<char>(in->data[i]);
        switch (s->versionStage) {
        case SCP_VERSION_SEEK:
            if (c == "SSH-"[s->matched]) ++s->matched;
            else s->matched = c == 'S' ? 1 : 0;
            if (s->matched == 4) {
                s->versionStage = SCP_VERSION_PROTOCOL;
                std::memcpy(s->serverLine, "SSH-", 4);
                s->serverLineLen = 4;
            }
            break;
        case SCP_VERSION_PROTOCOL:
        case SCP_VERSION_REST:
            if (c == '\n') {
                done = true;
                break;
            }
            if (c == '\r') s->lineCut = true;
            if (!s->lineCut && s->serverLineLen < kMaxVersionLine) s->serverLine[s->serverLineLen++] = c;
            if (s->versionStage == SCP_VERSION_PROTOCOL) {
                if (c == '-') s->versionStage = SCP_VERSION_REST;
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
    if (scp_protocol_below_199(s->protocol)) return SCP_E_PROTOCOL_VERSION;
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
    int rc = SCP_OK;
    while (!rc && !s->closed) {
        if (s->state == SCP_SS_VERSION) {
            if (!scp_version_take(s, &s->inbuf)) break;
            rc = scp_version_done(s);
            continue;
        }
        bool got = false;
        rc = scp_packet_take(&s->pin, &s->inbuf, &got);
        if (rc || !got) break;
        scp_rekey_count(&s->rekeyClock, false, s->pin.payload.len);
        rc = scp_handle_packet(s, s->pin.payload.data, s->pin.payload.len, s->pin.payloadSeq);
    }
    return rc;
}

}  // namespace

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
    scp_buf_wipe(&s->deferred);
    scp_buf_free(&s->hostKeyBlob);
    scp_buf_wipe(&s->kMpint);
    scp_buf_free(&s->qc);
    scp_ecdh_end(&s->ecdh);
    scp_buf_free(&s->channelOut);
    scp_bn_free(s->p);
    scp_bn_free(s->g);
    scp_bn_free(s->x);
    scp_bn_free(s->e);
    scp_bn_free(s->k);
    scp_wipe(s->cfg.password, sizeof s->cfg.password);
    scp_wipe(s->cfg.passphrase, sizeof s->cfg.passphrase);
    scp_buf_free(&s->keyBlob);
    scp_wipe(s, sizeof *s);
    scp_free(s);
}

int scp_session_new(ScpSession** out, const SessionConfig* cfg)
{
    auto* s = static_cast<ScpSession*>(scp_alloc(sizeof(ScpSession)));
    if (!s) return SCP_E_OUT_OF_MEMORY;
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
    scp_kex_count_rekey(0);
    *out = s;
    return SCP_OK;
}

bool scp_session_fallback_used(ScpSession* s) { return s && s->fallbackUsed; }

int scp_session_flush(ScpSession* s)
{
    if (!s || s->closed) return SCP_OK;
    int rc = scp_flush_channel(s);
    if (!rc && !s->detached && s->sock != winsock::INVALID_SOCKET) rc = scp_socket_flush(s);
    return rc ? scp_session_fail(s, rc) : SCP_OK;
}

int scp_session_read_input(ScpSession* s)
{
    if (!s || s->sock == winsock::INVALID_SOCKET) return SCP_OK;
    std::uint8_t buffer[20480];
    const int n = winsock::recv(s->sock, buffer, sizeof buffer, 0);
    if (n == 0) {
        scp_session_close_quietly(s);
        return SCP_OK;
    }
    if (n < 0) return scp_session_fail(s, winsock::WSAGetLastError() == winsock::WSAETIMEDOUT ? SCP_E_TIMED_OUT : SCP_E_NETWORK);
    scp_random_add_tick(s->pool);
    return scp_session_feed(s, buffer, static_cast<std::size_t>(n));
}

int scp_session_feed(ScpSession* s, const std::uint8_t* data, std::size_t len)
{
    if (s->closed) return SCP_OK;
    int rc = scp_buf_put(&s->inbuf, data, len);
    if (!rc) rc = scp_session_process(s);
    if (rc) return scp_session_fail(s, rc);
    return SCP_OK;
}

int scp_session_create_detached(ScpSession** out, const SessionConfig* cfg, ScpBuf* capture)
{
    const int rc = scp_session_new(out, cfg);
    if (rc) return rc;
    (*out)->detached = true;
    (*out)->capture = capture;
    return SCP_OK;
}

int scp_session_state(const ScpSession* s) { return s->state; }
unsigned scp_session_quirks(const ScpSession* s) { return s->quirks; }
const char* scp_session_server_version(const ScpSession* s) { return s->serverLine; }
const char* scp_session_last_chosen(int which) { return which >= 0 && which < CH_COUNT ? scp_kex_last_chosen(which) : nullptr; }
bool scp_session_last_strict() { return scp_kex_last_strict(); }

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
