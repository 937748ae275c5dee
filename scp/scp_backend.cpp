// The socket backend of the upload library's SSH-2 engine: resolving the
// host and connecting within the connect limit, and the table of entry
// points the job drives a session through.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/deadline.h"
#include "scp/scp_job.h"
#include "scp/scp_session.h"

namespace {

int scp_backend_open(ScpSession** out, const SessionConfig* cfg, bool noDelay)
{
    *out = nullptr;
    const int port = cfg->port < 0 ? 22 : cfg->port;
    char text[900];
    if (cfg->viaSocketSet) {
        // Through a jump host: the connection is there already.
        ScpSession* s = nullptr;
        if (const int rc = scp_session_new(&s, cfg)) {
            winsock::closesocket(cfg->viaSocket);
            return rc;
        }
        if (s->job) scp_job_register_socket(s->job, cfg->viaSocket);
        s->sock = cfg->viaSocket;
        *out = s;
        return SCP_OK;
    }
    std::uint32_t address = winsock::inet_addr(cfg->host);
    if (address == winsock::INADDR_NONE) {
        if (!winsock::gethostbyname(cfg->host, &address)) {
            std::snprintf(text, sizeof text, "Could not resolve hostname %s: %s", cfg->host,
                          winsock::resolver_error_text().c_str());
            scp_job_error_detail(cfg->job, text);
            switch (winsock::WSAGetLastError()) {
            case winsock::WSAENETDOWN: return SCP_E_NETWORK_DOWN;
            case winsock::WSAHOST_NOT_FOUND: return SCP_E_HOST_DOES_NOT_EXIST;
            case winsock::WSATRY_AGAIN: return SCP_E_HOST_NOT_FOUND;
            default: return SCP_E_NETWORK;
            }
        }
    }
    ScpSession* s = nullptr;
    int rc = scp_session_new(&s, cfg);
    if (rc) return rc;
    const winsock::SOCKET sock = winsock::socket(winsock::AF_INET, winsock::SOCK_STREAM, 0);
    if (sock == winsock::INVALID_SOCKET) rc = SCP_E_NETWORK;
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
            rc = error == winsock::WSAETIMEDOUT ? SCP_E_TIMED_OUT : SCP_E_NETWORK;
            const std::string cause = winsock::error_text(error);
            if (error == winsock::WSAETIMEDOUT)
                std::snprintf(text, sizeof text, "connect to host %s port %d: %s after %d second%s", cfg->host, port,
                              cause.c_str(), seconds, seconds == 1 ? "" : "s");
            else
                std::snprintf(text, sizeof text, "connect to host %s port %d: %s", cfg->host, port, cause.c_str());
            scp_job_error_detail(cfg->job, text);
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
    return SCP_OK;
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
    if (!s || s->closed || (!s->detached && s->sock == winsock::INVALID_SOCKET)) return SCP_E_SEND;
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
    if (!s || code != kScpSpecialEof || s->closed) return SCP_OK;
    // Sent after the data still waiting in the channel.
    s->eofPending = true;
    return s->ready ? scp_flush_channel(s) : SCP_OK;
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
    if (!s || !s->closed) return kScpNoExitStatus;
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
    cfg->viaSocket = winsock::INVALID_SOCKET;
    for (int& q : cfg->quirks) q = SCP_QUIRK_DETECT;
}

void SetSessionKeyFiles(SessionConfig* cfg, const char* files)
{
    const std::size_t room = sizeof cfg->keyFile - 1;
    std::size_t length = std::strlen(files);
    if (length > room) {
        // Whole paths only: up to the last line break that fits.
        length = room;
        while (length > 0 && files[length] != '\n') --length;
    }
    std::memcpy(cfg->keyFile, files, length);
    cfg->keyFile[length] = '\0';
}
