// The session channel of the upload library's SSH-2 engine: its opening,
// the subsystem or command request with its fallback, the data both ways
// within the windows, end-of-file, close and the exit status.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/terminal_text.h"
#include "scp/scp_job.h"
#include "scp/scp_packet.h"
#include "scp/scp_session.h"

namespace {

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
    if (s->eofSent || !s->channelOpen) return SCP_OK;
    int rc = scp_msg_start(s, MSG_CHANNEL_EOF);
    if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
    if (!rc) rc = scp_send_msg(s);
    s->eofSent = true;
    s->eofPending = false;
    return rc;
}

}  // namespace

// Sends what the remote window allows of the data waiting in the channel,
// then a pending end-of-file once nothing is left.
int scp_flush_channel(ScpSession* s)
{
    int rc = scp_rekey_if_due(s);
    // What went out is dropped from the queue once, at the end.
    std::size_t sent = 0;
    while (!rc && s->ready && !s->kexPending && s->channelOpen && s->channelOut.len > sent && s->remoteWindow > 0) {
        std::size_t n = s->channelOut.len - sent;
        if (n > s->remoteWindow) n = s->remoteWindow;
        if (n > s->remoteMaxPacket) n = s->remoteMaxPacket;
        if (n > kChannelPiece) n = kChannelPiece;
        rc = scp_msg_start(s, MSG_CHANNEL_DATA);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
        if (!rc) rc = scp_buf_put_string(&s->msg, s->channelOut.data + sent, n);
        if (!rc) rc = scp_send_msg(s);
        if (!rc) {
            sent += n;
            s->remoteWindow -= static_cast<std::uint32_t>(n);
            rc = scp_rekey_if_due(s);
        }
    }
    scp_buf_consume(&s->channelOut, sent);
    if (!rc && s->ready && !s->kexPending && s->eofPending && s->channelOut.len == 0) rc = scp_send_eof(s);
    return rc;
}

namespace {

// The server would not open the forwarded connection: why, in its words.
int scp_forward_refused(ScpSession* s, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload + 1, len - 1);
    std::uint32_t recipient = 0;
    std::uint32_t reason = 0;
    const std::uint8_t* text = nullptr;
    std::size_t textLen = 0;
    if (!scp_get_u32(&r, &recipient) || !scp_get_u32(&r, &reason) || !scp_get_string(&r, &text, &textLen, 256))
        return SCP_E_RECEIVE;
    static const char* const kReasons[] = {"", "administratively prohibited", "connect failed",
                                           "unknown channel type", "resource shortage"};
    const std::string said = TerminalText(std::string_view(reinterpret_cast<const char*>(text), textLen), ELineFeeds::Shown);
    char detail[900];
    std::snprintf(detail, sizeof detail, "it refused to open a connection to %.300s port %d: %s%s%.200s",
                  s->cfg.forwardHost, s->cfg.forwardPort, reason >= 1 && reason <= 4 ? kReasons[reason] : "refused",
                  said.empty() ? "" : ", ", said.c_str());
    scp_job_error_detail(s->job, detail);
    return SCP_E_CONNECT;
}

int scp_channel_closed(ScpSession* s)
{
    s->channelOpen = false;
    s->ready = false;
    scp_session_close_quietly(s);
    scp_job_event(s->job, SCP_EVENT_STAGE, nullptr, nullptr, SCP_STAGE_CLOSING);
    return SCP_OK;
}

int scp_handle_channel(ScpSession* s, std::uint8_t type, const std::uint8_t* payload, std::size_t len)
{
    ScpReader r = scp_reader(payload + 1, len - 1);
    std::uint32_t recipient = 0;
    if (!scp_get_u32(&r, &recipient)) return SCP_E_RECEIVE;
    const bool ours = s->channelOpen && recipient == s->localId;
    int rc = SCP_OK;
    switch (type) {
    case MSG_CHANNEL_OPEN_CONFIRMATION:
    case MSG_CHANNEL_OPEN_FAILURE: return SCP_OK;
    case MSG_CHANNEL_WINDOW_ADJUST: {
        std::uint32_t add = 0;
        if (!scp_get_u32(&r, &add)) return SCP_E_RECEIVE;
        if (!ours) return SCP_OK;
        s->remoteWindow = (0xFFFFFFFFu - s->remoteWindow < add) ? 0xFFFFFFFFu : s->remoteWindow + add;
        return scp_flush_channel(s);
    }
    case MSG_CHANNEL_DATA:
    case MSG_CHANNEL_EXTENDED_DATA: {
        std::uint32_t code = 1;
        if (type == MSG_CHANNEL_EXTENDED_DATA && !scp_get_u32(&r, &code)) return SCP_E_RECEIVE;
        const std::uint8_t* data = nullptr;
        std::size_t n = 0;
        if (!scp_get_string(&r, &data, &n, kScpMaxPacket)) return SCP_E_RECEIVE;
        if (!ours) return SCP_OK;
        // The server may send no more than the window it was given.
        if (n > s->localWindow) {
            scp_job_error_detail(s->job, "the server sent more channel data than the window allows");
            return SCP_E_RECEIVE;
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
    case MSG_CHANNEL_EOF: return SCP_OK;
    case MSG_CHANNEL_CLOSE:
        if (!ours) return SCP_OK;
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
        if (!scp_get_string(&r, &name, &nameLen, 256) || !scp_get_bool(&r, &wantReply)) return SCP_E_RECEIVE;
        if (!ours) {
            char text[80];
            std::snprintf(text, sizeof text, "Received channel request for nonexistent channel %u",
                          static_cast<unsigned>(recipient));
            scp_send_disconnect(s, SCP_DISCONNECT_BY_APPLICATION, text);
            return SCP_E_INTERNAL;
        }
        bool ok = false;
        if (nameLen == 11 && std::memcmp(name, "exit-status", 11) == 0) {
            std::uint32_t status = 0;
            if (!scp_get_u32(&r, &status)) return SCP_E_RECEIVE;
            s->exitStatus = static_cast<int>(status & 0x7fffffff);
            ok = true;
        }
        if (!wantReply) return SCP_OK;
        rc = scp_msg_start(s, ok ? MSG_CHANNEL_SUCCESS : MSG_CHANNEL_FAILURE);
        if (!rc) rc = scp_buf_put_u32(&s->msg, s->remoteId);
        if (!rc) rc = scp_send_msg(s);
        return rc;
    }
    default: return SCP_E_RECEIVE;
    }
}

}  // namespace

int scp_open_channel(ScpSession* s)
{
    s->localId = kFirstChannelId;
    const bool forward = s->cfg.forwardHost[0] != '\0';
    int rc = scp_msg_start(s, MSG_CHANNEL_OPEN);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, forward ? "direct-tcpip" : "session");
    if (!rc) rc = scp_buf_put_u32(&s->msg, s->localId);
    if (!rc) rc = scp_buf_put_u32(&s->msg, kLocalWindow);
    if (!rc) rc = scp_buf_put_u32(&s->msg, kLocalMaxPacket);
    if (forward) {
        // Where to, and where from: the originator is this end of the tunnel.
        if (!rc) rc = scp_buf_put_cstring(&s->msg, s->cfg.forwardHost);
        if (!rc) rc = scp_buf_put_u32(&s->msg, static_cast<std::uint32_t>(s->cfg.forwardPort));
        if (!rc) rc = scp_buf_put_cstring(&s->msg, "127.0.0.1");
        if (!rc) rc = scp_buf_put_u32(&s->msg, 0);
    }
    if (!rc) rc = scp_send_msg(s);
    s->localWindow = kLocalWindow;
    s->state = SCP_SS_CHANNEL_OPEN;
    return rc;
}

int scp_handle_channel_state(ScpSession* s, std::uint8_t type, const std::uint8_t* payload, std::size_t len)
{
    switch (s->state) {
    case SCP_SS_CHANNEL_OPEN: {
        if (type == MSG_CHANNEL_OPEN_FAILURE && s->cfg.forwardHost[0]) return scp_forward_refused(s, payload, len);
        if (type != MSG_CHANNEL_OPEN_CONFIRMATION) return SCP_E_AUTHENTICATE;
        ScpReader r = scp_reader(payload + 1, len - 1);
        std::uint32_t recipient = 0;
        if (!scp_get_u32(&r, &recipient) || !scp_get_u32(&r, &s->remoteId) || !scp_get_u32(&r, &s->remoteWindow) ||
            !scp_get_u32(&r, &s->remoteMaxPacket))
            return SCP_E_RECEIVE;
        if (recipient != s->localId) return SCP_E_INTERNAL;
        if (s->remoteMaxPacket == 0) s->remoteMaxPacket = 1;
        s->channelOpen = true;
        if (s->cfg.forwardHost[0]) {
            // A forwarded connection asks for nothing more.
            s->ready = true;
            s->state = SCP_SS_READY;
            return scp_flush_channel(s);
        }
        s->state = SCP_SS_CHANNEL_REQUEST;
        return scp_send_request(s, s->cfg.remoteCommandPtr, s->cfg.remoteCommandIsSubsystem != 0);
    }
    case SCP_SS_CHANNEL_REQUEST:
        if (type == MSG_CHANNEL_FAILURE || type == MSG_CHANNEL_SUCCESS) {
            ScpReader r = scp_reader(payload + 1, len - 1);
            std::uint32_t recipient = 0;
            if (!scp_get_u32(&r, &recipient)) return SCP_E_RECEIVE;
            if (recipient != s->localId) return SCP_E_INTERNAL;
            if (type == MSG_CHANNEL_FAILURE) {
                if (s->fallbackUsed || !s->cfg.fallbackCommand) return SCP_E_INTERNAL;
                s->fallbackUsed = true;
                return scp_send_request(s, s->cfg.fallbackCommand, s->cfg.fallbackIsSubsystem != 0);
            }
            s->ready = true;
            s->state = SCP_SS_READY;
            return scp_flush_channel(s);  // data first, then a pending end-of-file
        }
        if (type >= MSG_CHANNEL_OPEN_CONFIRMATION && type <= MSG_CHANNEL_REQUEST)
            return scp_handle_channel(s, type, payload, len);
        return SCP_E_RECEIVE;
    case SCP_SS_READY:
        if (type >= MSG_CHANNEL_OPEN_CONFIRMATION && type <= MSG_CHANNEL_REQUEST)
            return scp_handle_channel(s, type, payload, len);
        return SCP_E_RECEIVE;
    default: return SCP_E_RECEIVE;
    }
}
