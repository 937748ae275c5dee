// Key exchanges after the first, in the upload library's engine: the
// server's KEXINIT at any time once the first keys are in use, or one of
// ours when the keys are due for renewal. From our KEXINIT to our NEWKEYS
// only key-exchange messages go out (the rest is deferred, channel data
// waits in its queue); the server's NEWKEYS ends the exchange and the state
// it interrupted goes on.

#include "scp/scp_session.h"

namespace {
// Per thread, as the other "last session" values: a jump host's relay
// thread runs a session of its own beside the upload's.
thread_local int g_lastRekeys;
}  // namespace

void scp_kex_count_rekey(int count) { g_lastRekeys = count; }
int scp_session_last_rekeys() { return g_lastRekeys; }

int scp_send_deferred(ScpSession* s)
{
    s->kexPending = false;
    int rc = SCP_OK;
    ScpReader r = scp_reader(s->deferred.data, s->deferred.len);
    const std::uint8_t* payload = nullptr;
    std::size_t len = 0;
    while (!rc && scp_get_string(&r, &payload, &len, s->deferred.len)) {
        s->msg.len = 0;
        rc = scp_buf_put(&s->msg, payload, len);
        if (!rc) rc = scp_send_msg(s);
    }
    scp_buf_wipe(&s->deferred);
    return rc;
}

void scp_rekey_restart(ScpSession* s)
{
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    if (s->cipherOut < 0 || s->cipherIn < 0) return;
    const ScpCipherInfo& out = table[s->cipherOut];
    const ScpCipherInfo& in = table[s->cipherIn];
    scp_rekey_start(&s->rekeyClock, scp_rekey_limit(out.blockSize, out.mode == SCP_MODE_CHACHA),
                    scp_rekey_limit(in.blockSize, in.mode == SCP_MODE_CHACHA));
}

int scp_rekey_if_due(ScpSession* s)
{
    if (s->rekeying || s->kexPending || !s->firstKexDone || s->closed || s->state != SCP_SS_READY ||
        !scp_rekey_due(&s->rekeyClock))
        return SCP_OK;
    s->rekeying = true;
    s->theirKexinit = false;
    s->resumeState = s->state;
    return scp_build_kexinit(s);
}

int scp_handle_later_kexinit(ScpSession* s, const std::uint8_t* payload, std::size_t len, std::uint32_t seq)
{
    // One KEXINIT of the server's per exchange.
    if (s->theirKexinit) return SCP_E_AUTHENTICATE;
    if (!s->rekeying) {
        s->rekeying = true;
        s->resumeState = s->state;
    }
    s->theirKexinit = true;
    int rc = SCP_OK;
    if (!s->kexPending) rc = scp_build_kexinit(s);
    return rc ? rc : scp_handle_kexinit(s, payload, len, seq);
}

int scp_finish_rekey(ScpSession* s)
{
    const int rc = scp_install_keys(s, false);
    s->rekeying = false;
    s->theirKexinit = false;
    s->state = s->resumeState;
    scp_kex_count_rekey(++s->rekeys);
    scp_rekey_restart(s);
    if (rc) return rc;
    // What waited for the window or the new keys goes now.
    return scp_flush_channel(s);
}
