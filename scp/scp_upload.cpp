// ScpUploadFile: the job, the event loop, the receive routines and the
// upload steps in their two forms (SCP text lines, SFTP version 3 requests).
#include <cstdio>
#include <cstring>

#include <openssl/crypto.h>

#include "platform/deadline.h"
#include "platform/files.h"
#include "platform/terminal_text.h"
#include "platform/winsock.h"
#include "scp/scp.h"
#include "scp/scp_job.h"
#include "scp/scp_sftp.h"
#include "scp/scp_ssh.h"

ScpTransferFlags g_scpFlags;

int upload_path(JobInfo* job, const char* path);

namespace {
ScpEventCallback g_scpCallback = nullptr;
const SessionBackend* g_scpBackend = &scp_ssh_backend;

// What the last job's failure ran into (one job runs at a time).
char g_scpErrorDetail[512];

// The limit of the step under way before the channel is ready: the
// connection and version line, then the key exchange and login. Unset
// afterwards, when each wait has the job's time-out alone.
enum { SCP_STEP_NONE, SCP_STEP_CONNECT, SCP_STEP_LOGIN };
struct ScpStepLimit {
    int step;
    CDeadline deadline;
    int seconds;
    char peer[560];  // "host X port P"
    char what[640];
};
ScpStepLimit g_scpStep;

void scp_step_begin(int step, int seconds)
{
    g_scpStep.step = step;
    g_scpStep.seconds = seconds > 0 ? seconds : 1;
    g_scpStep.deadline = CDeadline::InSeconds(g_scpStep.seconds);
    if (step == SCP_STEP_CONNECT)
        std::snprintf(g_scpStep.what, sizeof g_scpStep.what, "%s sent no version line", g_scpStep.peer);
    else
        std::snprintf(g_scpStep.what, sizeof g_scpStep.what, "the key exchange and login with %s did not finish",
                      g_scpStep.peer);
}

void scp_step_end()
{
    g_scpStep.step = SCP_STEP_NONE;
    g_scpStep.deadline = CDeadline();
}

const char* const kErrorTexts[] = {
    "No errors",
    "Unable to initialise WinSock",
    "WinSock version is incompatible with 1.1",
    "Empty host name",
    "No such file or directory",
    "Target is not a directory",
    "Multiple-level wildcards unsupported",
    "Wildcard matched no files",
    "Unable to open file",
    "Unable to open directory",
    "Unable to create directory",
    "Unable to create file",
    "Error while writing",
    "Error while reading",
    "File type not supplied",
    "Error while sending data",
    "Error while receiving data",
    "Internal error",
    "Fatal error: Out of memory",
    "Network is down",
    "Host does not exist",
    "Host not found",
    "Could not connect",
    "SSH protocol version 2 not provided by server",
    "Unable to authenticate",
    "Permission denied",
    "Network error occurred",
    "Protocol error",
    "Connection timed out",
    "Server sent disconnect message",
    "Lost connection",
    "Operation unsupported",
    "Connection reset by user",
    "Connection abandoned",
    "the server's host key signature does not verify: the connection was stopped",
    "the server's RSA host key is shorter than 1024 bits: the connection was stopped",
    "the server's host key is not trusted: the connection was stopped before logging in",
    "The login or the password is wrong.",
};

constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kSendQueueLimit = 16384;

// ---------------------------------------------------------------- small helpers

// The last path component: after the last '/', then after the last '\' of
// that remainder; without either, after the first ':' or the whole path.
const char* scp_last_component(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    const char* rest = slash ? slash + 1 : path;
    const char* backslash = std::strrchr(rest, '\\');
    if (backslash) return backslash + 1;
    if (slash) return rest;
    const char* colon = std::strchr(path, ':');
    return colon ? colon + 1 : path;
}

char* scp_join(const char* a, const char* sep, const char* b)
{
    const std::size_t la = std::strlen(a), ls = std::strlen(sep), lb = std::strlen(b);
    char* out = static_cast<char*>(scp_alloc(la + ls + lb + 1));
    if (!out) return nullptr;
    std::memcpy(out, a, la);
    std::memcpy(out + la, sep, ls);
    std::memcpy(out + la + ls, b, lb);
    return out;
}

bool scp_has_socket(JobInfo* job)
{
    return job->session && g_scpBackend->get_socket(job->session) != winsock::INVALID_SOCKET;
}

int scp_send(JobInfo* job, const void* data, std::size_t len)
{
    if (!job->session) return 15;
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

// ---------------------------------------------------------------- SFTP requests

int scp_sftp_new_id(JobInfo* job, std::uint32_t* id)
{
    std::uint32_t candidate = kScpFirstRequestId;
    for (bool clash = true; clash;) {
        clash = false;
        for (std::size_t i = 0; i < job->sftpRequestCount; ++i)
            if (job->sftp_requests[i] == candidate) {
                ++candidate;
                clash = true;
            }
    }
    if (job->sftpRequestCount == job->sftpRequestCapacity) {
        const std::size_t cap = job->sftpRequestCapacity ? job->sftpRequestCapacity * 2 : 8;
        auto* grown = static_cast<std::uint32_t*>(scp_realloc(job->sftp_requests, cap * sizeof(std::uint32_t)));
        if (!grown) return 18;
        job->sftp_requests = grown;
        job->sftpRequestCapacity = cap;
    }
    job->sftp_requests[job->sftpRequestCount++] = candidate;
    *id = candidate;
    return 0;
}

bool scp_sftp_retire_id(JobInfo* job, std::uint32_t id)
{
    for (std::size_t i = 0; i < job->sftpRequestCount; ++i) {
        if (job->sftp_requests[i] == id) {
            job->sftp_requests[i] = job->sftp_requests[--job->sftpRequestCount];
            return true;
        }
    }
    return false;
}

// Reads one SFTP packet into body (type byte onwards). 0, 16 or a code;
// *none is set when the stream ended before any byte.
int scp_sftp_read_packet(JobInfo* job, ScpBuf* body, bool* none)
{
    *none = false;
    std::uint8_t lenBytes[4];
    std::size_t got = 0;
    int rc = recv_exact(job, lenBytes, 4, &got);
    if (rc) return rc;
    if (got == 0) *none = true;
    if (got < 4) return 16;
    const std::uint32_t len = scp_load_u32(lenBytes);
    if (len == 0 || len > kScpMaxSftpReply) return 16;
    body->len = 0;
    if ((rc = scp_buf_reserve(body, len)) != 0) return rc;
    if ((rc = recv_exact(job, body->data, len, &got)) != 0) return rc;
    if (got < len) return 16;
    body->len = len;
    return 0;
}

// Sends the request in req (identifier already in place) and reads its
// reply. The reply's identifier must be outstanding.
int scp_sftp_transact(JobInfo* job, ScpBuf* req, ScpBuf* body, ScpSftpReply* reply)
{
    int rc = scp_send(job, req->data, req->len);
    if (rc) return rc;
    bool none = false;
    if ((rc = scp_sftp_read_packet(job, body, &none)) != 0) return rc;
    if (scp_sftp_parse_reply(body->data, body->len, reply) != 0) return 16;
    if (!scp_sftp_retire_id(job, reply->id)) return 17;
    return 0;
}

// Begins a request with a fresh identifier.
int scp_sftp_request(JobInfo* job, ScpBuf* req, std::uint8_t type)
{
    std::uint32_t id = 0;
    req->len = 0;
    int rc = scp_sftp_new_id(job, &id);
    if (!rc) rc = scp_sftp_begin(req, type, id);
    return rc;
}

// A request that answers with a status; the status code is in *status.
int scp_sftp_status_request(JobInfo* job, ScpBuf* req, std::uint32_t* status, int wrongType)
{
    scp_sftp_end(req, 0);
    ScpBuf body{};
    ScpSftpReply reply{};
    int rc = scp_sftp_transact(job, req, &body, &reply);
    if (!rc && reply.type != SSH_FXP_STATUS) rc = wrongType;
    if (!rc) *status = reply.status;
    scp_buf_free(&body);
    return rc;
}

// STAT of a path: 0 with the attributes, or the mapped code.
int scp_sftp_stat(JobInfo* job, const char* path, ScpSftpAttrs* attrs)
{
    ScpBuf req{}, body{};
    ScpSftpReply reply{};
    int rc = scp_sftp_request(job, &req, SSH_FXP_STAT);
    if (!rc) rc = scp_buf_put_cstring(&req, path);
    if (!rc) {
        scp_sftp_end(&req, 0);
        rc = scp_sftp_transact(job, &req, &body, &reply);
    }
    if (!rc) {
        if (reply.type == SSH_FXP_ATTRS) *attrs = reply.attrs;
        else if (reply.type == SSH_FXP_STATUS) rc = scp_sftp_status_code(reply.status);
        else rc = 17;
    }
    scp_buf_free(&req);
    scp_buf_free(&body);
    return rc;
}

char* scp_sftp_child_path(JobInfo* job, const char* name)
{
    if (job->targetIsDirectory) return scp_join(job->target ? job->target : "", "/", name);
    return scp_strdup(job->target ? job->target : "");
}

// ---------------------------------------------------------------- the steps

int step_send_error(JobInfo* job, const char* message)
{
    if (job->using_sftp) return 0;
    const std::uint8_t one = 1;
    int rc = scp_send(job, &one, 1);
    if (!rc) rc = scp_send_text(job, message);
    // The job usually ends right after this: the message must not stay queued.
    if (!rc && job->session) rc = scp_session_flush(job->session);
    return rc;
}

int step_send_times(JobInfo* job, std::uint32_t mtime, std::uint32_t atime)
{
    if (job->using_sftp) {
        job->mtime = mtime;
        job->atime = atime;
        job->timesPending = true;
        return 0;
    }
    char line[64];
    std::snprintf(line, sizeof line, "T%lu 0 %lu 0\n", static_cast<unsigned long>(mtime), static_cast<unsigned long>(atime));
    int rc = scp_send_text(job, line);
    if (!rc) rc = read_ack(job);
    return rc;
}

int step_open_file(JobInfo* job, const char* name, std::uint32_t size, unsigned mode)
{
    if (!job->using_sftp) {
        char head[64];
        std::snprintf(head, sizeof head, "C%04o %lu ", mode, static_cast<unsigned long>(size));
        int rc = scp_send_text(job, head);
        if (!rc) rc = scp_send_text(job, name);
        if (!rc) rc = scp_send_text(job, "\n");
        if (!rc) rc = read_ack(job);
        return rc;
    }
    char* path = scp_sftp_child_path(job, name);
    if (!path) return 18;
    ScpBuf req{}, body{};
    ScpSftpReply reply{};
    int rc = scp_sftp_request(job, &req, SSH_FXP_OPEN);
    if (!rc) rc = scp_buf_put_cstring(&req, path);
    if (!rc) rc = scp_buf_put_u32(&req, SSH_FXF_WRITE_CREAT_TRUNC);
    if (!rc) rc = scp_buf_put_u32(&req, 0);
    if (!rc) {
        scp_sftp_end(&req, 0);
        rc = scp_sftp_transact(job, &req, &body, &reply);
    }
    if (!rc && reply.type != SSH_FXP_HANDLE) rc = 8;
    if (!rc) {
        job->handle.len = 0;
        rc = scp_buf_put(&job->handle, reply.handle, reply.handleLen);
        job->handleOpen = rc == 0;
        job->writeOffset = 0;
    }
    scp_buf_free(&req);
    scp_buf_free(&body);
    scp_free(path);
    return rc;
}

int step_send_block(JobInfo* job, const std::uint8_t* data, std::size_t len)
{
    if (!job->using_sftp) {
        int rc = scp_send(job, data, len);
        while (!rc && job->session && g_scpBackend->queued_bytes(job->session) > kSendQueueLimit) {
            // What the window allows goes out first; wait only for the rest.
            rc = scp_session_flush(job->session);
            if (rc || g_scpBackend->queued_bytes(job->session) <= kSendQueueLimit) break;
            const int round = pump_once(job);
            if (round < 0) return 26;
            rc = round;
        }
        return rc;
    }
    ScpBuf req{};
    int rc = scp_sftp_request(job, &req, SSH_FXP_WRITE);
    if (!rc) rc = scp_buf_put_string(&req, job->handle.data, job->handle.len);
    if (!rc) rc = scp_buf_put_u64(&req, job->writeOffset);
    if (!rc) rc = scp_buf_put_string(&req, data, len);
    std::uint32_t status = 1;
    if (!rc) rc = scp_sftp_status_request(job, &req, &status, 12);
    if (!rc && status != 0) rc = 12;
    if (!rc) job->writeOffset += len;
    scp_buf_free(&req);
    return rc;
}

int step_finish_file(JobInfo* job)
{
    if (!job->using_sftp) {
        const std::uint8_t zero = 0;
        int rc = scp_send(job, &zero, 1);
        if (!rc) rc = read_ack(job);
        return rc;
    }
    if (!job->handleOpen) return 8;
    ScpBuf req{};
    int rc = 0;
    std::uint32_t status = 0;
    if (job->timesPending) {
        rc = scp_sftp_request(job, &req, SSH_FXP_FSETSTAT);
        if (!rc) rc = scp_buf_put_string(&req, job->handle.data, job->handle.len);
        if (!rc) rc = scp_buf_put_u32(&req, SSH_FILEXFER_ATTR_ACMODTIME);
        if (!rc) rc = scp_buf_put_u32(&req, job->atime);
        if (!rc) rc = scp_buf_put_u32(&req, job->mtime);
        if (!rc) rc = scp_sftp_status_request(job, &req, &status, 17);
        if (!rc && status != 0) rc = scp_sftp_status_code(status);
    }
    if (!rc) rc = scp_sftp_request(job, &req, SSH_FXP_CLOSE);
    if (!rc) rc = scp_buf_put_string(&req, job->handle.data, job->handle.len);
    if (!rc) rc = scp_sftp_status_request(job, &req, &status, 17);
    job->handleOpen = false;
    job->timesPending = false;
    scp_buf_free(&req);
    return rc;
}

int step_create_directory(JobInfo* job, const char* name, unsigned mode)
{
    if (!job->using_sftp) {
        char head[32];
        std::snprintf(head, sizeof head, "D%04o 0 ", mode);
        int rc = scp_send_text(job, head);
        if (!rc) rc = scp_send_text(job, name);
        if (!rc) rc = scp_send_text(job, "\n");
        if (!rc) rc = read_ack(job);
        return rc;
    }
    char* path = scp_sftp_child_path(job, name);
    if (!path) return 18;
    ScpBuf req{};
    std::uint32_t status = 0;
    int rc = scp_sftp_request(job, &req, SSH_FXP_MKDIR);
    if (!rc) rc = scp_buf_put_cstring(&req, path);
    if (!rc) rc = scp_buf_put_u32(&req, 0);
    if (!rc) rc = scp_sftp_status_request(job, &req, &status, 17);  // status not checked
    scp_buf_free(&req);
    ScpSftpAttrs attrs{};
    if (!rc) rc = scp_sftp_stat(job, path, &attrs);
    if (!rc && !((attrs.flags & SSH_FILEXFER_ATTR_PERMISSIONS) && (attrs.permissions & 0x4000))) rc = 10;
    if (!rc) {
        job->target = path;  // the caller keeps and restores the previous one
        job->targetIsDirectory = true;
        return 0;
    }
    scp_free(path);
    return rc;
}

int step_leave_directory(JobInfo* job)
{
    if (!job->using_sftp) {
        int rc = scp_send_text(job, "E\n");
        if (!rc) rc = read_ack(job);
        return rc;
    }
    scp_free(job->target);
    job->target = nullptr;
    return 0;
}

int prepare_target(JobInfo* job, const char* remote_path)
{
    if (!job->using_sftp) return read_ack(job);
    ScpBuf req{}, body{};
    int rc = scp_sftp_begin(&req, SSH_FXP_INIT, 0);
    if (!rc) rc = scp_buf_put_u32(&req, 3);
    if (!rc) {
        scp_sftp_end(&req, 0);
        rc = scp_send(job, req.data, req.len);
    }
    bool none = false;
    if (!rc) {
        rc = scp_sftp_read_packet(job, &body, &none);
        if (rc && none) rc = 22;
    }
    if (!rc && (body.len < 5 || body.data[0] != SSH_FXP_VERSION || scp_load_u32(body.data + 1) >= 4)) rc = 17;
    scp_buf_free(&req);
    scp_buf_free(&body);
    if (rc) return rc;
    ScpSftpAttrs attrs{};
    job->targetIsDirectory = false;
    const int statRc = scp_sftp_stat(job, remote_path, &attrs);
    if (statRc == 16 || statRc == 18 || statRc == 15) return statRc;  // the stream itself failed
    if (statRc == 0 && (attrs.flags & SSH_FILEXFER_ATTR_PERMISSIONS)) job->targetIsDirectory = (attrs.permissions & 0x4000) != 0;
    if (g_scpFlags.targetMustBeDirectory && !job->targetIsDirectory) {
        abandon_session(job);
        return 5;
    }
    scp_free(job->target);
    job->target = scp_strdup(remote_path);
    if (!job->target) return 18;
    job->timesPending = false;
    return 0;
}

// ---------------------------------------------------------------- upload

int upload_matches(JobInfo* job, const char* pattern);

int upload_directory(JobInfo* job, const char* path)
{
    const char* name = scp_last_component(path);
    char* saved = job->target;
    const bool savedIsDirectory = job->targetIsDirectory;
    job->target = saved ? scp_strdup(saved) : nullptr;
    if (saved && !job->target) {
        job->target = saved;
        return 18;
    }
    int rc = step_create_directory(job, name, 0755);
    if (!rc) {
        char* pattern = scp_join(path, "/", "*");
        rc = pattern ? upload_matches(job, pattern) : 18;
        scp_free(pattern);
        const int leave = rc ? 0 : step_leave_directory(job);
        if (!rc) rc = leave;
    }
    scp_free(job->target);
    job->target = saved;
    job->targetIsDirectory = savedIsDirectory;
    return rc;
}

int upload_file(JobInfo* job, const char* path)
{
    const char* name = scp_last_component(path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        char message[600];
        std::snprintf(message, sizeof message, "scp: %.500s: Cannot open file\n", path);
        step_send_error(job, message);
        return 8;
    }
    int rc = scp_files_record(job, file);
    if (rc) {
        CloseHandle(file);
        return rc;
    }
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (high != 0) {
        // 4 GiB or more: the size does not fit the 32-bit field.
        scp_files_close(job, file);
        return 13;
    }
    FILETIME access{}, write{};
    GetFileTime(file, nullptr, &access, &write);
    rc = step_send_times(job, FileTimeToUnixSeconds(write), FileTimeToUnixSeconds(access));
    if (!rc) rc = step_open_file(job, name, size, 0644);
    std::uint8_t block[kBlockSize];
    std::uint32_t sent = 0;
    std::uint32_t lastSecond = 0;
    bool reported = false;
    while (!rc && sent < size) {
        const DWORD want = size - sent > kBlockSize ? static_cast<DWORD>(kBlockSize) : size - sent;
        DWORD got = 0;
        if (!ReadFile(file, block, want, &got) || got < want) {
            abandon_session(job);
            rc = 13;
            break;
        }
        rc = step_send_block(job, block, got);
        if (rc) {
            abandon_session(job);
            break;
        }
        sent += got;
        const std::uint32_t now = CurrentUnixSeconds();
        if (!reported || now != lastSecond || sent == size) {
            scp_job_event(job, SCP_EVENT_PROGRESS, name, nullptr,
                          static_cast<std::int32_t>(static_cast<double>(sent) * 100.0 / static_cast<double>(size)));
            lastSecond = now;
            reported = true;
        }
    }
    scp_files_close(job, file);
    if (!rc) rc = step_finish_file(job);
    return rc;
}

}  // namespace

int upload_path(JobInfo* job, const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        char message[600];
        std::snprintf(message, sizeof message, "scp: %.500s: %s file or directory\n", path, "No such");
        step_send_error(job, message);
        return 4;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!g_scpFlags.recursive) return 0;
        const char* name = scp_last_component(path);
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return 0;
        return upload_directory(job, path);
    }
    return upload_file(job, path);
}

// ---------------------------------------------------------------- job record

std::int32_t scp_job_event(JobInfo* job, int event, const char* text, const char* detail, std::int32_t value)
{
    if (!g_scpCallback) return 0;
    // The time the user takes to answer is not the server's.
    const auto asked = CDeadline::Clock::now();
    const std::int32_t answer = g_scpCallback(event, text, detail, value, job ? job->user_data : 0);
    g_scpStep.deadline =
        g_scpStep.deadline.Later(std::chrono::duration_cast<std::chrono::milliseconds>(CDeadline::Clock::now() - asked));
    return answer;
}

bool scp_job_has_callback() { return g_scpCallback != nullptr; }

int scp_job_receive(JobInfo* job, const std::uint8_t* data, std::size_t len, bool extended)
{
    if (extended) {
        // The remote side's error text, filtered: it goes to a terminal or the log.
        const std::string shown = TerminalText(std::string_view(reinterpret_cast<const char*>(data), len), ELineFeeds::Kept);
        std::fwrite(shown.data(), 1, shown.size(), stderr);
        return 0;
    }
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
            scp_job_error_detail(text);
            return 16;
        }
        if (job->pending.cap - job->pending.len < extra) {
            const std::size_t cap = job->pending.len + extra + 4096;
            auto* grown = static_cast<std::uint8_t*>(scp_realloc(job->pending.data, cap));
            if (!grown) return 18;
            job->pending.data = grown;
            job->pending.cap = cap;
        }
        std::memcpy(job->pending.data + job->pending.len, data + take, extra);
        job->pending.len += extra;
    }
    return 0;
}

std::size_t scp_job_buffered(const JobInfo* job) { return job ? job->pending.len : 0; }

void scp_job_error_detail(const char* text)
{
    if (g_scpErrorDetail[0] == '\0' && text) std::snprintf(g_scpErrorDetail, sizeof g_scpErrorDetail, "%s", text);
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
    auto* job = static_cast<JobInfo*>(scp_alloc(sizeof(JobInfo)));
    if (!job) return 18;
    job->options = options;
    job->user_data = options ? options->user_data : 0;
    job->socket = winsock::INVALID_SOCKET;
    for (auto& slot : job->sockets) slot = winsock::INVALID_SOCKET;
    job->files = static_cast<HANDLE*>(scp_alloc(kScpInitialFileSlots * sizeof(HANDLE)));
    if (!job->files) {
        scp_free(job);
        return 18;
    }
    for (int i = 0; i < kScpInitialFileSlots; ++i) job->files[i] = INVALID_HANDLE_VALUE;
    job->fileCapacity = kScpInitialFileSlots;
    scp_random_init(&job->pool);
    *out = job;
    return 0;
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
    OPENSSL_cleanse(&job->pool, sizeof job->pool);
    scp_free(job);
}

int scp_files_record(JobInfo* job, HANDLE file)
{
    if (job->fileCount == job->fileCapacity) {
        const int cap = job->fileCapacity * 2;
        auto* grown = static_cast<HANDLE*>(scp_realloc(job->files, static_cast<std::size_t>(cap) * sizeof(HANDLE)));
        if (!grown) return 18;
        for (int i = job->fileCapacity; i < cap; ++i) grown[i] = INVALID_HANDLE_VALUE;
        job->files = grown;
        job->fileCapacity = cap;
    }
    for (int i = 0; i < job->fileCapacity; ++i) {
        if (job->files[i] == INVALID_HANDLE_VALUE) {
            job->files[i] = file;
            ++job->fileCount;
            return 0;
        }
    }
    return 17;
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
    if (!scp_has_socket(job)) return -1;
    const winsock::SOCKET sock = g_scpBackend->get_socket(job->session);
    const long timeout = job->options ? job->options->timeout_seconds : 300;
    if (const int rc = scp_session_flush(job->session)) return rc;
    // The version line has come: the key exchange and login have a limit of
    // their own.
    if (g_scpStep.step == SCP_STEP_CONNECT && scp_session_state(job->session) != SCP_SS_VERSION)
        scp_step_begin(SCP_STEP_LOGIN, job->options ? job->options->login_timeout_seconds : 60);
    const CDeadline limit = CDeadline::Earlier(g_scpStep.deadline, CDeadline::InSeconds(timeout));
    const int ready = winsock::wait_readable(sock, limit);
    if (ready == 0) {
        char text[sizeof g_scpStep.what + 40];
        if (g_scpStep.deadline.IsSet() && g_scpStep.deadline.Passed())
            std::snprintf(text, sizeof text, "%s within %d second%s", g_scpStep.what, g_scpStep.seconds,
                          g_scpStep.seconds == 1 ? "" : "s");
        else
            std::snprintf(text, sizeof text, "the server sent nothing for %ld second%s", timeout,
                          timeout == 1 ? "" : "s");
        scp_job_error_detail(text);
        scp_job_close_sockets(job);  // nothing more is awaited from this server
        return 28;
    }
    if (ready < 0) return -1;
    const int rc = scp_session_read_input(job->session);
    if (rc > 0) return rc;
    if (job->options && job->options->cancel_requested) {
        job->options->cancel_requested = 0;
        scp_finish_channel(job);
        scp_job_close_sockets(job);
        return 32;
    }
    return 0;
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
            return 0;  // end of stream: *got stays 0
        }
        if (rc > 0) {
            job->recvWanted = 0;
            job->recvBuffer = nullptr;
            return rc;
        }
    }
    *got = job->recvGot;
    job->recvBuffer = nullptr;
    return 0;
}

int read_ack(JobInfo* job)
{
    std::uint8_t byte = 0;
    std::size_t got = 0;
    int rc = recv_exact(job, &byte, 1, &got);
    if (rc) return rc;
    if (got == 0) {
        abandon_session(job);
        return 30;
    }
    if (byte == 0) return 0;
    // The rest of the line holds the remote's message (not reported).
    for (int i = 0; i < 2048; ++i) {
        std::uint8_t c = 0;
        rc = recv_exact(job, &c, 1, &got);
        if (rc) return rc;
        if (got == 0 || c == '\n') break;
    }
    if (byte == 1) return 16;
    abandon_session(job);
    return 17;
}

void abandon_session(JobInfo* job)
{
    scp_finish_channel(job);
    scp_job_close_sockets(job);
    scp_winsock_release(job);
    if (job->poolSeeded) scp_random_save_seed(&job->pool);
}

int classify_local_path(const char* path)
{
    if (!path || !*path) return 0;
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return 1;
    const char* last = scp_last_component(path);
    if (!std::strpbrk(last, "*?")) return 0;
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    return 2;
}

namespace {

// Uploads every match of a pattern: the directory part (up to and including
// its last '/', '\' or ':') joined with each matching name.
int upload_matches(JobInfo* job, const char* pattern)
{
    const char* cut = nullptr;
    for (const char* p = pattern; *p; ++p)
        if (*p == '/' || *p == '\\' || *p == ':') cut = p + 1;
    const std::size_t dirLen = cut ? static_cast<std::size_t>(cut - pattern) : 0;
    char* dir = static_cast<char*>(scp_alloc(dirLen + 1));
    if (!dir) return 18;
    std::memcpy(dir, pattern, dirLen);
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileA(pattern, &entry);
    int rc = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) continue;
            char* path = scp_join(dir, "", entry.cFileName);
            rc = path ? upload_path(job, path) : 18;
            scp_free(path);
        } while (!rc && FindNextFileA(search, &entry));
        FindClose(search);
    }
    scp_free(dir);
    return rc;
}

// Writes `value` as one word for the POSIX shell: single-quoted, each "'"
// as "'\\''". `out` holds at least 4 * strlen(value) + 3 bytes.
void scp_quote_for_shell(const char* value, char* out, std::size_t size)
{
    std::size_t at = 0;
    out[at++] = '\'';
    for (; *value != '\0' && at + 5 < size; ++value) {
        if (*value == '\'') {
            std::memcpy(out + at, "'\\''", 4);
            at += 4;
        } else {
            out[at++] = *value;
        }
    }
    out[at++] = '\'';
    out[at] = '\0';
}

int scp_transfer(JobInfo* job, const char* host, int port, const char* user, const char* password,
                 const char* local_path, const char* remote_path)
{
    g_scpFlags.recursive = true;
    g_scpFlags.preserveTimes = true;
    g_scpFlags.targetMustBeDirectory = false;
    const int kind = classify_local_path(local_path);
    if (kind == 0) return 4;
    if (kind == 2) g_scpFlags.targetMustBeDirectory = true;
    if (!host || !*host) return 3;

    const char* remote = remote_path ? remote_path : "";
    // The path reaches the remote shell as one single-quoted word.
    const std::size_t commandSize = 4 * std::strlen(remote) + 32;
    char* command = static_cast<char*>(scp_alloc(commandSize));
    if (!command) return 18;
    const int flagsLength = std::snprintf(command, commandSize, "scp%s%s%s -t ", g_scpFlags.recursive ? " -r" : "",
                                          g_scpFlags.preserveTimes ? " -p" : "",
                                          g_scpFlags.targetMustBeDirectory ? " -d" : "");
    scp_quote_for_shell(remote, command + flagsLength, commandSize - static_cast<std::size_t>(flagsLength));
    if (job->options && job->options->use_scp && std::strlen(command) >= sizeof(SessionConfig::remoteCommand)) return 17;

    auto* cfg = static_cast<SessionConfig*>(scp_alloc(sizeof(SessionConfig)));
    if (!cfg) return 18;
    scp_session_config_defaults(cfg);
    std::snprintf(cfg->host, sizeof cfg->host, "%s", host);
    cfg->port = port < 0 ? 22 : port;
    const bool scpOnly = job->options && job->options->use_scp;
    std::snprintf(cfg->remoteCommand, sizeof cfg->remoteCommand, "%s", scpOnly ? command : "sftp");
    cfg->remoteCommandPtr = cfg->remoteCommand;
    cfg->remoteCommandIsSubsystem = scpOnly ? 0 : 1;
    cfg->fallbackCommand = scpOnly ? nullptr : command;
    cfg->fallbackIsSubsystem = 0;
    if (user) std::snprintf(cfg->user, sizeof cfg->user, "%s", user);
    if (password) std::snprintf(cfg->password, sizeof cfg->password, "%s", password);
    const char* keyFile = job->options && job->options->key_file ? job->options->key_file : "";
    std::snprintf(cfg->keyFile, sizeof cfg->keyFile, "%s", keyFile);  // longer paths are cut
    cfg->compression = job->options ? static_cast<int>(job->options->compression != 0) : 0;
    cfg->newHostKeyPolicy = job->options ? job->options->new_host_key_policy : 2;
    cfg->changedHostKeyPolicy = job->options ? job->options->changed_host_key_policy : 0;
    cfg->userData = job->user_data;
    cfg->job = job;
    std::snprintf(g_scpStep.peer, sizeof g_scpStep.peer, "host %s port %d", cfg->host, cfg->port);
    scp_step_begin(SCP_STEP_CONNECT, job->options ? job->options->connect_timeout_seconds : 30);
    int rc = g_scpBackend->open(&job->session, cfg, false);
    OPENSSL_cleanse(cfg->password, sizeof cfg->password);
    scp_free(cfg);
    if (rc) {
        scp_step_end();
        abandon_session(job);
        return rc;
    }
    scp_job_event(job, SCP_EVENT_CONNECTED, nullptr, nullptr, 0);
    scp_job_event(job, SCP_EVENT_STAGE, nullptr, nullptr, SCP_STAGE_NEGOTIATING);

    while (!g_scpBackend->ready_to_send(job->session)) {
        const int round = pump_once(job);
        if (round > 0) {
            scp_step_end();
            return round;
        }
        if (round < 0) break;
    }
    scp_step_end();
    job->using_sftp = !scpOnly && !scp_session_fallback_used(job->session);
    if (!g_scpBackend->ready_to_send(job->session)) {
        // The server closed the connection before the channel was ready.
        abandon_session(job);
        return job->using_sftp ? 16 : 30;
    }

    scp_job_event(job, SCP_EVENT_STAGE, nullptr, nullptr, SCP_STAGE_UPLOADING);
    if ((rc = prepare_target(job, remote)) != 0) return rc;

    switch (classify_local_path(local_path)) {
    case 0: {
        char message[600];
        std::snprintf(message, sizeof message, "scp: %.500s: No such file or directory", local_path);
        step_send_error(job, message);
        return 4;
    }
    case 1: rc = upload_path(job, local_path); break;
    default: rc = upload_matches(job, local_path); break;
    }
    if (rc) return rc;
    scp_finish_channel(job);
    if (job->poolSeeded) scp_random_save_seed(&job->pool);
    return 0;
}

}  // namespace

void scp_last_error_detail(char* buffer, std::size_t size)
{
    if (!buffer || size == 0) return;
    std::snprintf(buffer, size, "%s", g_scpErrorDetail);
}

void scp_format_error(int code, char* buffer, std::size_t size)
{
    if (!buffer || size == 0) return;
    const char* text = code >= 0 && code <= SCP_E_WRONG_PASSWORD ? kErrorTexts[code] : "Unknown error";
    std::snprintf(buffer, size, "%s", text);
}

int ScpUploadFile(const char* host, int port, const char* user, const char* password, const char* local_path,
                  const char* remote_path, ScpEventCallback callback, ScpJobOptions* options)
{
    scp_alloc_reset();
    g_scpErrorDetail[0] = '\0';
    scp_step_end();
    JobInfo* job = nullptr;
    int rc = scp_job_create(&job, options);
    if (rc) return rc;
    if (options) options->cancel_requested = 0;
    g_scpCallback = callback;

    scp_job_event(job, SCP_EVENT_STAGE, nullptr, nullptr, SCP_STAGE_STARTING);
    winsock::WSADATA data{};
    if (winsock::WSAStartup(0x0101, &data) != 0) {
        rc = 1;
    } else {
        job->winsockStarted = true;
        if (data.wVersion != 0x0101) rc = 2;
    }
    if (!rc) rc = scp_transfer(job, host, port, user, password, local_path, remote_path);
    scp_winsock_release(job);

    if (rc) {
        char text[128];
        scp_format_error(rc, text, sizeof text);
        scp_job_event(job, SCP_EVENT_ERROR, text, nullptr, rc);
    } else {
        scp_job_event(job, SCP_EVENT_FINISHED, nullptr, nullptr, 0);
    }
    scp_job_destroy(job);
    g_scpCallback = nullptr;
    scp_alloc_sweep();
    return rc;
}
