// The user authentication of the upload library's SSH-2 engine: "none"
// first, then as the server's list of methods allows the keys (the agent's,
// then the key file's; scp_auth_pubkey.cpp), the password, and
// keyboard-interactive answering one echo-off prompt with the password.
// A password or answer the server refuses ends the login at once: it is
// never sent a second time.
#include <cstdio>
#include <cstring>
#include <string>

#include "scp/scp_crypto.h"
#include "scp/scp_job.h"
#include "scp/scp_packet.h"
#include "scp/scp_session.h"
#include "sshcore/auth_policy.h"
#include "sshcore/hostkey_trust.h"

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

namespace {

// The most prompts of one keyboard-interactive request.
constexpr std::uint32_t kMaxPrompts = 16;

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
    int rc = SCP_OK;
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
    if (s->msg.data) scp_wipe(s->msg.data, s->msg.cap);
    if (!rc && cipherActive && !paddingFirst) rc = scp_send_password_padding(s, s->held.len, switchBytes);
    s->holding = false;
    if (!rc) rc = scp_session_write_raw(s, s->held.data, s->held.len);
    if (s->held.data) scp_wipe(s->held.data, s->held.cap);
    if (s->pout.scratch.data) scp_wipe(s->pout.scratch.data, s->pout.scratch.cap);
    s->held.len = 0;
    s->authWait = AUTH_WAIT_PASSWORD;
    return rc;
}

void scp_wipe_sent(ScpSession* s)
{
    if (s->msg.data) scp_wipe(s->msg.data, s->msg.cap);
    if (s->pout.scratch.data) scp_wipe(s->pout.scratch.data, s->pout.scratch.cap);
}

int scp_send_kbdint(ScpSession* s)
{
    int rc = scp_put_auth_head(s, "keyboard-interactive");
    if (!rc) rc = scp_buf_put_cstring(&s->msg, "");  // language
    if (!rc) rc = scp_buf_put_cstring(&s->msg, "");  // submethods
    if (!rc) rc = scp_send_msg(s);
    s->kbdintTried = true;
    s->authWait = AUTH_WAIT_KBDINT;
    return rc;
}

// Nothing of ours fits: which methods the server takes, in words, and the
// end of the connection.
int scp_auth_give_up(ScpSession* s)
{
    char text[400];
    std::string shown;
    for (const char* p = s->methods; *p; ++p)
        shown += (*p >= 0x21 && *p <= 0x7e) ? *p : '?';
    if (s->keysOffered > 0 && !s->canPassword && !s->canKeyboardInteractive)
        std::snprintf(text, sizeof text, "The server accepted none of the %d key%s offered; it accepts only: %s",
                      s->keysOffered, s->keysOffered == 1 ? "" : "s", shown.c_str());
    else
        std::snprintf(text, sizeof text, "The server accepts only: %s", shown.empty() ? "(nothing)" : shown.c_str());
    scp_job_error_detail(s->job, text);
    scp_send_disconnect(s, SCP_DISCONNECT_BY_APPLICATION, "No supported authentication methods available\n");
    return SCP_E_AUTHENTICATE;
}

// What to try next after a failure (or at the start).
int scp_auth_next(ScpSession* s)
{
    if (s->canPublicKey && !s->publicKeyTried) {
        const int rc = scp_auth_offer_next_key(s);
        if (rc != kScpNoKeyLeft) return rc;
    }
    const bool havePassword = s->cfg.password[0] != '\0' && !s->passwordWithheld;
    if (s->passwordWithheld && s->cfg.password[0] != '\0' && (s->canPassword || s->canKeyboardInteractive)) {
        // Only the password could go on, and it is not sent to this key.
        scp_job_error_detail(s->job, sshcore::kPasswordWithheldText);
        scp_send_disconnect(s, SCP_DISCONNECT_BY_APPLICATION, "No supported authentication methods available\n");
        return SCP_E_AUTHENTICATE;
    }
    if (havePassword && s->canPassword && s->passwordAttempts == 0) {
        ++s->passwordAttempts;
        return scp_send_password(s);
    }
    if (havePassword && s->canKeyboardInteractive && !s->kbdintTried && s->passwordAttempts == 0)
        return scp_send_kbdint(s);
    return scp_auth_give_up(s);
}

// A keyboard-interactive request: answered when it asks for nothing, or for
// one thing without echo (the password, once); anything else is left for
// the next method.
int scp_handle_info_request(ScpSession* s, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload + 1, len - 1);
    const std::uint8_t* text = nullptr;
    std::size_t textLen = 0;
    std::uint32_t prompts = 0;
    if (!scp_get_string(&r, &text, &textLen, 4096) || !scp_get_string(&r, &text, &textLen, 4096) ||
        !scp_get_string(&r, &text, &textLen, 256) || !scp_get_u32(&r, &prompts) || prompts > kMaxPrompts)
        return SCP_E_RECEIVE;
    bool echo = true;
    for (std::uint32_t i = 0; i < prompts; ++i)
        if (!scp_get_string(&r, &text, &textLen, 4096) || !scp_get_bool(&r, &echo)) return SCP_E_RECEIVE;
    if (prompts == 1 && (echo || s->kbdintAnswered)) {
        // A question we cannot answer, or the password asked for again
        // (never sent twice): the login ends here.
        if (s->kbdintAnswered) {
            scp_send_disconnect(s, SCP_DISCONNECT_BY_APPLICATION, "Wrong password\n");
            return SCP_E_WRONG_PASSWORD;
        }
        return scp_auth_next(s);
    }
    if (prompts > 1) return scp_auth_next(s);
    int rc = scp_msg_start(s, MSG_USERAUTH_INFO_RESPONSE);
    if (!rc) rc = scp_buf_put_u32(&s->msg, prompts);
    if (!rc && prompts == 1) {
        rc = scp_buf_put_cstring(&s->msg, s->cfg.password);
        s->kbdintAnswered = true;
    }
    if (!rc) rc = scp_send_msg(s);
    scp_wipe_sent(s);
    return rc;
}

}  // namespace

int scp_handle_auth(ScpSession* s, std::uint8_t type, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload + 1, len - 1);
    switch (type) {
    case MSG_USERAUTH_BANNER: return SCP_OK;
    case MSG_USERAUTH_SUCCESS: {
        scp_job_event(s->job, SCP_EVENT_AUTHENTICATED, nullptr, nullptr, 0);
        // Delayed compression starts now, both ways.
        s->authenticated = true;
        int rc = scp_start_compression(s, false);
        if (!rc) rc = scp_start_compression(s, true);
        return rc ? rc : scp_open_channel(s);
    }
    case MSG_USERAUTH_PK_OK:  // also MSG_USERAUTH_INFO_REQUEST
        if (s->authWait == AUTH_WAIT_KBDINT) return scp_handle_info_request(s, payload, len);
        if (s->authWait != AUTH_WAIT_PK_QUERY) return SCP_E_RECEIVE;
        {
            const int rc = scp_auth_send_signed(s);
            return rc == kScpNoKeyLeft ? scp_auth_next(s) : rc;
        }
    case MSG_USERAUTH_FAILURE: {
        const std::uint8_t* methods = nullptr;
        std::size_t methodsLen = 0;
        bool partial = false;
        if (!scp_get_string(&r, &methods, &methodsLen, 4096) || !scp_get_bool(&r, &partial)) return SCP_E_RECEIVE;
        const std::size_t keep = methodsLen < sizeof s->methods - 1 ? methodsLen : sizeof s->methods - 1;
        std::memcpy(s->methods, methods, keep);
        s->methods[keep] = '\0';
        s->canPublicKey = scp_list_contains(methods, methodsLen, "publickey");
        s->canPassword = scp_list_contains(methods, methodsLen, "password");
        if (s->cfg.noteKeyboardInteractive)
            s->canKeyboardInteractive = scp_list_contains(methods, methodsLen, "keyboard-interactive");
        // An RSA key refused under rsa-sha2 is asked about once more with
        // ssh-rsa (the same rule as the client's).
        if (s->authWait == AUTH_WAIT_PK_QUERY && !partial && s->nextKey > 0 &&
            sshcore::RetryAsLegacyRsa(s->keyAlgorithm)) {
            s->retryLegacyRsa = true;
            --s->nextKey;
        }
        const bool secretRefused =
            s->authWait == AUTH_WAIT_PASSWORD || (s->authWait == AUTH_WAIT_KBDINT && s->kbdintAnswered);
        if (secretRefused && !partial) {
            // A rejected password is not sent again.
            scp_send_disconnect(s, SCP_DISCONNECT_BY_APPLICATION, "Wrong password\n");
            return SCP_E_WRONG_PASSWORD;
        }
        return scp_auth_next(s);
    }
    default: return SCP_E_RECEIVE;
    }
}
