// The user authentication of the upload library's SSH-2 engine: "none"
// first, then a key file (a query before the signed request) and the
// password, each at most once, as the server's list of methods allows.
#include <cstring>

#include <openssl/crypto.h>

#include "scp/scp_crypto.h"
#include "scp/scp_job.h"
#include "scp/scp_packet.h"
#include "scp/scp_session.h"

namespace {

// scp_send_pk_query: the key file could not be loaded (nothing was sent).
constexpr int kKeyNotUsable = -1;

int scp_put_auth_head(ScpSession* s, const char* method)
{
    int rc = scp_msg_start(s, MSG_USERAUTH_REQUEST);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, s->cfg.user);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, "ssh-connection");
    if (!rc) rc = scp_buf_put_cstring(&s->msg, method);
    return rc;
}

}  // namespace

int scp_send_auth_none(ScpSession* s)
{
    int rc = scp_put_auth_head(s, "none");
    if (!rc) rc = scp_send_msg(s);
    s->authWait = AUTH_WAIT_NONE;
    return rc;
}

namespace {

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
    if (rc) return kKeyNotUsable;
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
    return SCP_OK;
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
    case MSG_USERAUTH_PK_OK:
        if (s->authWait != AUTH_WAIT_PK_QUERY) return SCP_E_RECEIVE;
        return scp_send_pk_signed(s);
    case MSG_USERAUTH_FAILURE: {
        const std::uint8_t* methods = nullptr;
        std::size_t methodsLen = 0;
        bool partial = false;
        if (!scp_get_string(&r, &methods, &methodsLen, 4096) || !scp_get_bool(&r, &partial)) return SCP_E_RECEIVE;
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
    default: return SCP_E_RECEIVE;
    }
}

