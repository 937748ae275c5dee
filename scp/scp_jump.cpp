// The route through the jump hosts: each hop is a session of the library's
// own engine with a job of its own (its arena, sockets and error detail),
// whose channel is a forwarded connection to the next host.
#include "scp/scp_jump.h"

#include <chrono>
#include <cstdio>
#include <cstring>


#include "platform/deadline.h"
#include "scp/scp_job.h"
#include "scp/scp_mem.h"
#include "scp/scp_ssh.h"

namespace {

// The most channel data a relay keeps queued for the jump host before it
// stops reading the local end.
constexpr std::size_t kRelayQueueLimit = 1024 * 1024;
// How long a relay waits at a time before it looks at its stop flag again.
constexpr std::int64_t kRelaySliceMs = 200;
constexpr int kRelayReadSize = 32768;

// The jump host's name in front of what its session ran into.
void scp_jump_blame(JobInfo* pOwner, const ScpJumpHost& jump, int nPort, const JobInfo* pHopJob, int rc)
{
    char cause[kScpErrorDetailSize];
    if (pHopJob && pHopJob->errorDetail[0]) std::snprintf(cause, sizeof cause, "%s", pHopJob->errorDetail);
    else scp_format_error(rc, cause, sizeof cause);
    char text[kScpErrorDetailSize];
    std::snprintf(text, sizeof text, "jump host %.200s port %d: %.280s", jump.host, nPort, cause);
    scp_job_error_detail(pOwner, text);
}

}  // namespace

int CScpJumpRoute::Open(JobInfo* pJob, const char* pszHost, int nPort, winsock::SOCKET* pVia)
{
    *pVia = winsock::INVALID_SOCKET;
    const ScpJobOptions* pOptions = pJob->options;
    if (!pOptions || pOptions->jump_count == 0) return SCP_E_INTERNAL;
    if (pOptions->jump_count > kScpMaxJumpHosts) {
        scp_job_error_detail(pJob, "more jump hosts than the two an upload may pass through");
        return SCP_E_UNSUPPORTED;
    }
    winsock::SOCKET via = winsock::INVALID_SOCKET;
    for (std::uint32_t i = 0; i < pOptions->jump_count; ++i) {
        const bool fLast = i + 1 == pOptions->jump_count;
        const ScpJumpHost& next = pOptions->jumps[fLast ? i : i + 1];
        const char* pszNext = fLast ? pszHost : next.host;
        const int nNext = fLast ? nPort : (next.port > 0 ? next.port : 22);
        winsock::SOCKET nextVia = winsock::INVALID_SOCKET;
        const int rc = OpenHop(pJob, pOptions->jumps[i], via, pszNext, nNext, &nextVia);
        if (rc) return rc;
        via = nextVia;
    }
    *pVia = via;
    return SCP_OK;
}

int CScpJumpRoute::OpenHop(JobInfo* pOwner, const ScpJumpHost& jump, winsock::SOCKET via, const char* pszNextHost,
                           int nNextPort, winsock::SOCKET* pNextVia)
{
    const int nPort = jump.port > 0 ? jump.port : 22;
    if (!jump.host || !*jump.host) {
        if (via != winsock::INVALID_SOCKET) winsock::closesocket(via);
        scp_job_error_detail(pOwner, "a jump host without a name");
        return SCP_E_EMPTY_HOST;
    }
    SHop& hop = m_aHops[m_nHops];
    int rc = scp_job_create(&hop.pJob, pOwner->options);
    if (rc) {
        if (via != winsock::INVALID_SOCKET) winsock::closesocket(via);
        return rc;
    }
    ++m_nHops;  // from here on the destructor ends it
    JobInfo* pHopJob = hop.pJob;
    pHopJob->callback = pOwner->callback;
    pHopJob->user_data = pOwner->user_data;
    const ScpJobOptions* pOptions = pOwner->options;
    {
        const CScpArenaScope scope(&pHopJob->arena);
        auto* cfg = static_cast<SessionConfig*>(scp_alloc(sizeof(SessionConfig)));
        if (!cfg) {
            if (via != winsock::INVALID_SOCKET) winsock::closesocket(via);
            return SCP_E_OUT_OF_MEMORY;
        }
        scp_session_config_defaults(cfg);
        std::snprintf(cfg->host, sizeof cfg->host, "%s", jump.host);
        cfg->port = nPort;
        if (jump.user) std::snprintf(cfg->user, sizeof cfg->user, "%s", jump.user);
        if (jump.password) std::snprintf(cfg->password, sizeof cfg->password, "%s", jump.password);
        // The hop's own ways only: the target's key file, agent and password
        // stay with the target.
        SetSessionKeyFiles(cfg, jump.key_file ? jump.key_file : "");
        if (jump.key_passphrase)
            std::snprintf(cfg->passphrase, sizeof cfg->passphrase, "%s", jump.key_passphrase);
        cfg->useAgent = jump.use_agent ? 1 : 0;
        cfg->compression = 0;  // what it carries is compressed already, or encrypted
        cfg->newHostKeyPolicy = pOptions->new_host_key_policy;
        cfg->changedHostKeyPolicy = pOptions->changed_host_key_policy;
        cfg->userData = pOwner->user_data;
        cfg->job = pHopJob;
        if (via != winsock::INVALID_SOCKET) {
            cfg->viaSocketSet = 1;
            cfg->viaSocket = via;
        }
        std::snprintf(cfg->forwardHost, sizeof cfg->forwardHost, "%s", pszNextHost);
        cfg->forwardPort = nNextPort;
        // The pair is there before the channel opens: what the next host
        // sends may come in the same read as the confirmation.
        winsock::SOCKET ends[2] = {winsock::INVALID_SOCKET, winsock::INVALID_SOCKET};
        if (winsock::socket_pair(ends) != 0) {
            if (via != winsock::INVALID_SOCKET) winsock::closesocket(via);
            scp_free(cfg);
            scp_jump_blame(pOwner, jump, nPort, nullptr, SCP_E_NETWORK);
            return SCP_E_NETWORK;
        }
        hop.relayEnd = ends[0];
        pHopJob->relayOut = ends[0];
        *pNextVia = ends[1];
        scp_job_limit_connect(pHopJob, cfg->host, cfg->port, pOptions->connect_timeout_seconds);
        const SessionBackend* backend = scp_job_backend();
        rc = backend->open(&pHopJob->session, cfg, true);
        scp_wipe(cfg->password, sizeof cfg->password);
        scp_wipe(cfg->passphrase, sizeof cfg->passphrase);
        scp_free(cfg);
        while (!rc && !backend->ready_to_send(pHopJob->session)) {
            const int round = pump_once(pHopJob);
            if (round > 0) rc = round;
            else if (round < 0) {
                if (!pHopJob->errorDetail[0]) scp_job_error_detail(pHopJob, "it closed the connection during the login");
                rc = SCP_E_LOST_CONNECTION;
            }
        }
        scp_job_limit_end(pHopJob);
    }
    if (rc) {
        winsock::closesocket(*pNextVia);
        *pNextVia = winsock::INVALID_SOCKET;
        scp_jump_blame(pOwner, jump, nPort, pHopJob, rc);
        return rc;
    }
    // The relay raises no events: nothing reaches the caller from another thread.
    pHopJob->callback = nullptr;
    try {
        hop.thread = std::thread(&CScpJumpRoute::Relay, this, &hop);
    } catch (...) {
        winsock::closesocket(*pNextVia);
        *pNextVia = winsock::INVALID_SOCKET;
        return SCP_E_OUT_OF_MEMORY;
    }
    return SCP_OK;
}

void CScpJumpRoute::Relay(SHop* pHop)
{
    JobInfo* pJob = pHop->pJob;
    const CScpArenaScope scope(&pJob->arena);
    const SessionBackend* backend = scp_job_backend();
    ScpSession* pSession = pJob->session;
    bool fLocalEnded = false;
    std::uint8_t buffer[kRelayReadSize];
    while (!m_fStop.load()) {
        if (scp_session_flush(pSession) != 0) break;
        const winsock::SOCKET sock = backend->get_socket(pSession);
        if (sock == winsock::INVALID_SOCKET) break;
        // The local end is read only while the jump host takes what came before.
        const bool fReadLocal = !fLocalEnded && backend->queued_bytes(pSession) < kRelayQueueLimit;
        const int ready = winsock::wait_readable_either(sock, fReadLocal ? pHop->relayEnd : sock,
                                                        CDeadline::In(std::chrono::milliseconds(kRelaySliceMs)));
        if (ready < 0) break;
        if (ready & 1) {
            if (scp_session_read_input(pSession) != 0) break;
            if (backend->get_socket(pSession) == winsock::INVALID_SOCKET) break;
        }
        if (fReadLocal && (ready & 2)) {
            const int n = winsock::recv(pHop->relayEnd, buffer, sizeof buffer, 0);
            if (n > 0) {
                if (backend->send(pSession, buffer, static_cast<std::size_t>(n), nullptr) != 0) break;
            } else {
                fLocalEnded = true;
                if (backend->send_special(pSession, kScpSpecialEof) != 0) break;
            }
        }
    }
    scp_wipe(buffer, sizeof buffer);
    // The session over this hop sees the end of its connection.
    pJob->relayOut = winsock::INVALID_SOCKET;
    winsock::closesocket(pHop->relayEnd);
    pHop->relayEnd = winsock::INVALID_SOCKET;
    scp_job_close_sockets(pJob);
}

CScpJumpRoute::~CScpJumpRoute()
{
    m_fStop.store(true);
    // The last hop first: each relays for the one after it.
    for (std::uint32_t i = m_nHops; i-- > 0;) {
        SHop& hop = m_aHops[i];
        if (hop.thread.joinable()) hop.thread.join();
        if (hop.relayEnd != winsock::INVALID_SOCKET) winsock::closesocket(hop.relayEnd);
        if (hop.pJob) {
            {
                const CScpArenaScope scope(&hop.pJob->arena);
                abandon_session(hop.pJob);
            }
            scp_job_destroy(hop.pJob);
        }
    }
}
