// The job of one upload and its event loop: the record with its open files
// and sockets, the caller's callback, the step limits, the channel data kept
// for the reads, and the waits for the server within those limits.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/deadline.h"
#include "platform/files.h"
#include "platform/terminal_text.h"
#include "platform/winsock.h"
#include "scp/scp_job.h"
#include "scp/scp_ssh.h"

namespace {
const SessionBackend* const g_scpBackend = &scp_ssh_backend;

// What the last failed upload of this thread ran into.
thread_local char t_lastDetail[kScpErrorDetailSize];

void scp_step_begin(JobInfo* job, int step, int seconds)
{
    ScpStepLimit& limit = job->step;
    limit.step = step;
    limit.seconds = seconds > 0 ? seconds : 1;
    limit.deadline = CDeadline::InSeconds(limit.seconds);
    if (step == SCP_STEP_CONNECT)
        std::snprintf(limit.what, sizeof limit.what, "%s sent no version line", limit.peer);
    else
        std::snprintf(limit.what, sizeof limit.what, "the key exchange and login with %s did not finish", limit.peer);
}

}  // namespace

const SessionBackend* scp_job_backend() { return g_scpBackend; }

void scp_job_limit_connect(JobInfo* job, const char* host, int port, int seconds)
{
    std::snprintf(job->step.peer, sizeof job->step.peer, "host %s port %d", host, port);
    scp_step_begin(job, SCP_STEP_CONNECT, seconds);
}

void scp_job_limit_end(JobInfo* job)
{
    job->step.step = SCP_STEP_NONE;
    job->step.deadline = CDeadline();
}

void scp_job_keep_detail(const JobInfo* job)
{
    std::snprintf(t_lastDetail, sizeof t_lastDetail, "%s", job ? job->errorDetail : "");
}

const char* scp_job_last_detail() { return t_lastDetail; }

bool scp_has_socket(JobInfo* job)
{
    return job->session && g_scpBackend->get_socket(job->session) != winsock::INVALID_SOCKET;
}

int scp_send(JobInfo* job, const void* data, std::size_t len)
{
    if (!job->session) return SCP_E_SEND;
    std::size_t queued = 0;
    return g_scpBackend->send(job->session, static_cast<const std::uint8_t*>(data), len, &queued);
}

int scp_send_text(JobInfo* job, const char* text) { return scp_send(job, text, std::strlen(text)); }

// Sends end-of-file and reads one byte, which normally ends when the server
// closes the channel.
void scp_finish_channel(JobInfo* job)
{
    if (!scp_has_socket(job)) return;
    g_scpBackend->send_special(job->session, kScpSpecialEof);
    std::uint8_t byte = 0;
    std::size_t got = 0;
    recv_exact(job, &byte, 1, &got);
}

void scp_winsock_release(JobInfo* job)
{
    if (job->winsockStarted) {
        winsock::WSACleanup();
        job->winsockStarted = false;
    }
}

// ---------------------------------------------------------------- job record

std::int32_t scp_job_event(JobInfo* job, int event, const char* text, const char* detail, std::int32_t value)
{
    if (!job || !job->callback) return 0;
    // The time the user takes to answer is not the server's.
    const auto asked = CDeadline::Clock::now();
    const std::int32_t answer = job->callback(event, text, detail, value, job->user_data);
    job->step.deadline =
        job->step.deadline.Later(std::chrono::duration_cast<std::chrono::milliseconds>(CDeadline::Clock::now() - asked));
    return answer;
}

bool scp_job_has_callback(const JobInfo* job) { return job && job->callback; }

namespace {

// A jump host's channel data, written on to the session that runs over it;
// a reader that takes nothing for the job's time-out ends it.
int scp_job_relay(JobInfo* job, const std::uint8_t* data, std::size_t len)
{
    const long seconds = job->options && job->options->timeout_seconds > 0 ? job->options->timeout_seconds : 300;
    const CDeadline limit = CDeadline::InSeconds(seconds);
    std::size_t off = 0;
    while (off < len) {
        const std::size_t left = len - off;
        const int n = winsock::send_until(job->relayOut, data + off, static_cast<int>(left > 0x10000 ? 0x10000 : left), limit);
        if (n <= 0) return SCP_E_SEND;
        off += static_cast<std::size_t>(n);
    }
    return SCP_OK;
}

}  // namespace

int scp_job_receive(JobInfo* job, const std::uint8_t* data, std::size_t len, bool extended)
{
    if (extended) {
        // The remote side's error text, filtered: it goes to a terminal or the log.
        const std::string shown = TerminalText(std::string_view(reinterpret_cast<const char*>(data), len), ELineFeeds::Kept);
        std::fwrite(shown.data(), 1, shown.size(), stderr);
        return SCP_OK;
    }
    if (job->relayOut != winsock::INVALID_SOCKET) return scp_job_relay(job, data, len);
    std::size_t take = 0;
    if (job->recvWanted > 0) {
        take = len < job->recvWanted ? len : job->recvWanted;
        std::memcpy(job->recvBuffer + job->recvGot, data, take);
        job->recvGot += take;
        job->recvWanted -= take;
    }
    if (take < len) {
        const std::size_t extra = len - take;
        if (job->pending.len > kScpMaxPending || kScpMaxPending - job->pending.len < extra) {
            char text[160];
            std::snprintf(text, sizeof text, "the server sent more than %zu bytes that were not asked for",
                          kScpMaxPending);
            scp_job_error_detail(job, text);
            return SCP_E_RECEIVE;
        }
        if (job->pending.cap - job->pending.len < extra) {
            const std::size_t cap = job->pending.len + extra + 4096;
            auto* grown = static_cast<std::uint8_t*>(scp_realloc(job->pending.data, cap));
            if (!grown) return SCP_E_OUT_OF_MEMORY;
            job->pending.data = grown;
            job->pending.cap = cap;
        }
        std::memcpy(job->pending.data + job->pending.len, data + take, extra);
        job->pending.len += extra;
    }
    return SCP_OK;
}

std::size_t scp_job_buffered(const JobInfo* job) { return job ? job->pending.len : 0; }

void scp_job_error_detail(JobInfo* job, const char* text)
{
    if (job && job->errorDetail[0] == '\0' && text) std::snprintf(job->errorDetail, sizeof job->errorDetail, "%s", text);
}

void scp_job_register_socket(JobInfo* job, winsock::SOCKET s)
{
    for (auto& slot : job->sockets) {
        if (slot == winsock::INVALID_SOCKET) {
            slot = s;
            break;
        }
    }
    job->socket = s;
}

void scp_job_close_sockets(JobInfo* job)
{
    for (auto& slot : job->sockets) {
        if (slot != winsock::INVALID_SOCKET) {
            winsock::closesocket(slot);
            slot = winsock::INVALID_SOCKET;
        }
    }
    job->socket = winsock::INVALID_SOCKET;
}

int scp_job_create(JobInfo** out, ScpJobOptions* options)
{
    *out = nullptr;
    JobInfo* job = nullptr;
    {
        // The record holds the arena: it is recorded in none.
        const CScpArenaScope none(nullptr);
        job = static_cast<JobInfo*>(scp_alloc(sizeof(JobInfo)));
    }
    if (!job) return SCP_E_OUT_OF_MEMORY;
    scp_arena_init(&job->arena);
    const CScpArenaScope scope(&job->arena);
    job->options = options;
    job->user_data = options ? options->user_data : 0;
    job->socket = winsock::INVALID_SOCKET;
    for (auto& slot : job->sockets) slot = winsock::INVALID_SOCKET;
    job->relayOut = winsock::INVALID_SOCKET;
    job->files = static_cast<HANDLE*>(scp_alloc(kScpInitialFileSlots * sizeof(HANDLE)));
    if (!job->files) {
        scp_free(job);
        return SCP_E_OUT_OF_MEMORY;
    }
    for (int i = 0; i < kScpInitialFileSlots; ++i) job->files[i] = INVALID_HANDLE_VALUE;
    job->fileCapacity = kScpInitialFileSlots;
    scp_random_init(&job->pool);
    *out = job;
    return SCP_OK;
}

void scp_job_destroy(JobInfo* job)
{
    if (!job) return;
    if (job->session) {
        g_scpBackend->release(job->session);
        job->session = nullptr;
    }
    scp_job_close_sockets(job);
    scp_files_close_all(job);
    scp_free(job->files);
    scp_buf_free(&job->pending);
    scp_buf_free(&job->handle);
    scp_free(job->sftp_requests);
    scp_free(job->target);
    scp_free(job->savedTarget);
    // Whatever the upload left behind goes with it.
    scp_arena_sweep(&job->arena);
    scp_wipe(&job->pool, sizeof job->pool);
    scp_free(job);
}

int scp_files_record(JobInfo* job, HANDLE file)
{
    if (job->fileCount == job->fileCapacity) {
        const int cap = job->fileCapacity * 2;
        auto* grown = static_cast<HANDLE*>(scp_realloc(job->files, static_cast<std::size_t>(cap) * sizeof(HANDLE)));
        if (!grown) return SCP_E_OUT_OF_MEMORY;
        for (int i = job->fileCapacity; i < cap; ++i) grown[i] = INVALID_HANDLE_VALUE;
        job->files = grown;
        job->fileCapacity = cap;
    }
    for (int i = 0; i < job->fileCapacity; ++i) {
        if (job->files[i] == INVALID_HANDLE_VALUE) {
            job->files[i] = file;
            ++job->fileCount;
            return SCP_OK;
        }
    }
    return SCP_E_INTERNAL;
}

void scp_files_close(JobInfo* job, HANDLE file)
{
    for (int i = 0; i < job->fileCapacity; ++i) {
        if (job->files[i] == file) {
            CloseHandle(file);
            job->files[i] = INVALID_HANDLE_VALUE;
            --job->fileCount;
            return;
        }
    }
}

void scp_files_close_all(JobInfo* job)
{
    for (int i = 0; job->files && i < job->fileCapacity; ++i) {
        if (job->files[i] != INVALID_HANDLE_VALUE) {
            CloseHandle(job->files[i]);
            job->files[i] = INVALID_HANDLE_VALUE;
        }
    }
    job->fileCount = 0;
}

// ---------------------------------------------------------------- receiving

int pump_once(JobInfo* job)
{
    if (!scp_has_socket(job)) return kScpStreamEnded;
    const winsock::SOCKET sock = g_scpBackend->get_socket(job->session);
    const long timeout = job->options ? job->options->timeout_seconds : 300;
    if (const int rc = scp_session_flush(job->session)) return rc;
    // The version line has come: the key exchange and login have a limit of
    // their own.
    ScpStepLimit& step = job->step;
    if (step.step == SCP_STEP_CONNECT && scp_session_state(job->session) != SCP_SS_VERSION)
        scp_step_begin(job, SCP_STEP_LOGIN, job->options ? job->options->login_timeout_seconds : 60);
    const CDeadline limit = CDeadline::Earlier(step.deadline, CDeadline::InSeconds(timeout));
    const int ready = winsock::wait_readable(sock, limit);
    if (ready == 0) {
        char text[sizeof step.what + 40];
        if (step.deadline.IsSet() && step.deadline.Passed())
            std::snprintf(text, sizeof text, "%s within %d second%s", step.what, step.seconds,
                          step.seconds == 1 ? "" : "s");
        else
            std::snprintf(text, sizeof text, "the server sent nothing for %ld second%s", timeout,
                          timeout == 1 ? "" : "s");
        scp_job_error_detail(job, text);
        scp_job_close_sockets(job);  // nothing more is awaited from this server
        return SCP_E_TIMED_OUT;
    }
    if (ready < 0) return kScpStreamEnded;
    const int rc = scp_session_read_input(job->session);
    if (rc > 0) return rc;
    if (job->options && job->options->cancel_requested) {
        job->options->cancel_requested = 0;
        scp_finish_channel(job);
        scp_job_close_sockets(job);
        return SCP_E_CANCELLED;
    }
    return SCP_OK;
}

int recv_exact(JobInfo* job, std::uint8_t* buffer, std::size_t len, std::size_t* got)
{
    *got = 0;
    std::size_t have = job->pending.len < len ? job->pending.len : len;
    if (have) {
        std::memcpy(buffer, job->pending.data, have);
        scp_buf_consume(&job->pending, have);
        // Room again for what the server may send.
        if (job->session) g_scpBackend->unthrottle(job->session, static_cast<int>(job->pending.len));
    }
    job->recvBuffer = buffer;
    job->recvGot = have;
    job->recvWanted = len - have;
    while (job->recvWanted > 0) {
        const int rc = pump_once(job);
        if (rc < 0) {
            job->recvWanted = 0;
            job->recvBuffer = nullptr;
            return SCP_OK;  // end of stream: *got stays 0
        }
        if (rc > 0) {
            job->recvWanted = 0;
            job->recvBuffer = nullptr;
            return rc;
        }
    }
    *got = job->recvGot;
    job->recvBuffer = nullptr;
    return SCP_OK;
}

int read_ack(JobInfo* job)
{
    std::uint8_t byte = 0;
    std::size_t got = 0;
    int rc = recv_exact(job, &byte, 1, &got);
    if (rc) return rc;
    if (got == 0) {
        abandon_session(job);
        return SCP_E_LOST_CONNECTION;
    }
    if (byte == 0) return SCP_OK;
    // The rest of the line holds the remote's message (not reported).
    for (int i = 0; i < 2048; ++i) {
        std::uint8_t c = 0;
        rc = recv_exact(job, &c, 1, &got);
        if (rc) return rc;
        if (got == 0 || c == '\n') break;
    }
    if (byte == 1) return SCP_E_RECEIVE;
    abandon_session(job);
    return SCP_E_INTERNAL;
}

void abandon_session(JobInfo* job)
{
    scp_finish_channel(job);
    scp_job_close_sockets(job);
    scp_winsock_release(job);
    if (job->poolSeeded) scp_random_save_seed(&job->pool);
}

