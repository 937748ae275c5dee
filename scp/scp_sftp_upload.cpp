// The upload's steps over SFTP version 3: the version exchange, a STAT of
// the target, OPEN/WRITE/FSETSTAT/CLOSE for each file and MKDIR for each
// directory. The other requests are answered before the next goes out; a
// file's writes go many at a time (scp_sftp_writer.h).
#include <cstdint>
#include <cstdio>

#include "platform/product_settings.h"
#include "platform/text.h"
#include "platform/settings.h"
#include "scp/scp.h"
#include "scp/scp_job.h"
#include "scp/scp_sftp.h"
#include "scp/scp_sftp_writer.h"
#include "scp/scp_ssh.h"
#include "scp/scp_steps.h"

namespace {

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
        if (!grown) return SCP_E_OUT_OF_MEMORY;
        job->sftp_requests = grown;
        job->sftpRequestCapacity = cap;
    }
    job->sftp_requests[job->sftpRequestCount++] = candidate;
    *id = candidate;
    return SCP_OK;
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
    if (got < 4) return SCP_E_RECEIVE;
    const std::uint32_t len = scp_load_u32(lenBytes);
    if (len == 0 || len > kScpMaxSftpReply) return SCP_E_RECEIVE;
    body->len = 0;
    if ((rc = scp_buf_reserve(body, len)) != 0) return rc;
    if ((rc = recv_exact(job, body->data, len, &got)) != 0) return rc;
    if (got < len) return SCP_E_RECEIVE;
    body->len = len;
    return SCP_OK;
}

// Sends the request in req (identifier already in place) and reads its
// reply. The reply's identifier must be outstanding.
int scp_sftp_transact(JobInfo* job, ScpBuf* req, ScpBuf* body, ScpSftpReply* reply)
{
    int rc = scp_send(job, req->data, req->len);
    if (rc) return rc;
    bool none = false;
    if ((rc = scp_sftp_read_packet(job, body, &none)) != 0) return rc;
    if (scp_sftp_parse_reply(body->data, body->len, reply) != 0) return SCP_E_RECEIVE;
    if (!scp_sftp_retire_id(job, reply->id)) return SCP_E_INTERNAL;
    return SCP_OK;
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
        else rc = SCP_E_INTERNAL;
    }
    scp_buf_free(&req);
    scp_buf_free(&body);
    return rc;
}

// The first identifier of the pipelined writes, far from those of the
// other requests (which start at kScpFirstRequestId and are reused).
constexpr std::uint32_t kScpFirstWriteId = 0x10000;
// The job's setting of SFTP requests in flight, else the registry's
// (kSftpRequestsSetting under the library's key); 0 leaves the library's
// default.
std::uint32_t scp_sftp_requests_setting(const JobInfo* job)
{
    if (job->options && job->options->sftp_requests) return job->options->sftp_requests;
    return ProductSettingValue(WideToAnsi(kSftpRequestsSetting));
}

// Asks a server that offers it for its limits, and plans the writes.
int scp_sftp_choose_plan(JobInfo* job, bool offersLimits)
{
    const std::uint32_t requests = scp_sftp_requests_setting(job);
    job->sftpNextWriteId = kScpFirstWriteId;
    job->sftpPlan = scp_sftp_plan(requests, nullptr);
    if (!offersLimits || job->sftpPlan.requests == 1) return SCP_OK;
    ScpBuf req{}, body{};
    std::uint32_t id = 0;
    int rc = scp_sftp_new_id(job, &id);
    if (!rc) rc = scp_sftp_limits_request(&req, id);
    if (!rc) rc = scp_send(job, req.data, req.len);
    bool none = false;
    if (!rc) rc = scp_sftp_read_packet(job, &body, &none);
    if (!rc) {
        scp_sftp_retire_id(job, id);
        ScpSftpLimits limits{};
        const int parsed = scp_sftp_parse_limits(body.data, body.len, id, &limits);
        // A refusal leaves the defaults; a damaged reply ends the upload.
        if (parsed == SCP_OK) job->sftpPlan = scp_sftp_plan(requests, &limits);
        else if (parsed != SCP_E_UNSUPPORTED) rc = parsed;
    }
    scp_buf_free(&req);
    scp_buf_free(&body);
    return rc;
}

// The pipelined writer's view of the job and the local file.
struct ScpWriteContext {
    JobInfo* job;
    HANDLE file;
    const char* name;
    std::uint64_t size;
    ScpProgress progress;
};

int scp_write_send(void* context, const std::uint8_t* data, std::size_t len)
{
    return scp_send(static_cast<ScpWriteContext*>(context)->job, data, len);
}

std::size_t scp_write_queued(void* context)
{
    JobInfo* job = static_cast<ScpWriteContext*>(context)->job;
    return job->session ? scp_job_backend()->queued_bytes(job->session) : 0;
}

int scp_write_read(void* context, ScpBuf* body)
{
    bool none = false;
    return scp_sftp_read_packet(static_cast<ScpWriteContext*>(context)->job, body, &none);
}

int scp_write_read_file(void* context, std::uint8_t* buffer, std::size_t want, std::size_t* got)
{
    *got = 0;
    auto* c = static_cast<ScpWriteContext*>(context);
    while (*got < want) {
        const std::size_t left = want - *got;
        DWORD n = 0;
        if (!ReadFile(c->file, buffer + *got, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left), &n))
            return SCP_E_READ;
        if (n == 0) break;
        *got += n;
    }
    return SCP_OK;
}

void scp_write_progress(void* context, std::uint64_t done)
{
    auto* c = static_cast<ScpWriteContext*>(context);
    scp_report_progress(c->job, c->name, done, c->size, &c->progress);
}

char* scp_sftp_child_path(JobInfo* job, const char* name)
{
    if (job->targetIsDirectory) return scp_join(job->target ? job->target : "", "/", name);
    return scp_strdup(job->target ? job->target : "");
}


}  // namespace

int scp_sftp_send_times(JobInfo* job, std::uint32_t mtime, std::uint32_t atime)
{
    job->mtime = mtime;
    job->atime = atime;
    job->timesPending = true;
    return SCP_OK;
}

int scp_sftp_open_file(JobInfo* job, const char* name)
{
    char* path = scp_sftp_child_path(job, name);
    if (!path) return SCP_E_OUT_OF_MEMORY;
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
    if (!rc && reply.type != SSH_FXP_HANDLE) rc = SCP_E_OPEN_FILE;
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

int scp_sftp_send_block(JobInfo* job, const std::uint8_t* data, std::size_t len)
{
    ScpBuf req{};
    int rc = scp_sftp_request(job, &req, SSH_FXP_WRITE);
    if (!rc) rc = scp_buf_put_string(&req, job->handle.data, job->handle.len);
    if (!rc) rc = scp_buf_put_u64(&req, job->writeOffset);
    if (!rc) rc = scp_buf_put_string(&req, data, len);
    std::uint32_t status = 1;
    if (!rc) rc = scp_sftp_status_request(job, &req, &status, SCP_E_WRITE);
    if (!rc && status != SSH_FX_OK) rc = SCP_E_WRITE;
    if (!rc) job->writeOffset += len;
    scp_buf_free(&req);
    return rc;
}

int scp_sftp_finish_file(JobInfo* job)
{
    if (!job->handleOpen) return SCP_E_OPEN_FILE;
    ScpBuf req{};
    int rc = SCP_OK;
    std::uint32_t status = 0;
    if (job->timesPending) {
        rc = scp_sftp_request(job, &req, SSH_FXP_FSETSTAT);
        if (!rc) rc = scp_buf_put_string(&req, job->handle.data, job->handle.len);
        if (!rc) rc = scp_buf_put_u32(&req, SSH_FILEXFER_ATTR_ACMODTIME);
        if (!rc) rc = scp_buf_put_u32(&req, job->atime);
        if (!rc) rc = scp_buf_put_u32(&req, job->mtime);
        if (!rc) rc = scp_sftp_status_request(job, &req, &status, SCP_E_INTERNAL);
        if (!rc && status != SSH_FX_OK) rc = scp_sftp_status_code(status);
    }
    if (!rc) rc = scp_sftp_request(job, &req, SSH_FXP_CLOSE);
    if (!rc) rc = scp_buf_put_string(&req, job->handle.data, job->handle.len);
    if (!rc) rc = scp_sftp_status_request(job, &req, &status, SCP_E_INTERNAL);
    job->handleOpen = false;
    job->timesPending = false;
    scp_buf_free(&req);
    return rc;
}

int scp_sftp_create_directory(JobInfo* job, const char* name)
{
    char* path = scp_sftp_child_path(job, name);
    if (!path) return SCP_E_OUT_OF_MEMORY;
    ScpBuf req{};
    std::uint32_t status = 0;
    int rc = scp_sftp_request(job, &req, SSH_FXP_MKDIR);
    if (!rc) rc = scp_buf_put_cstring(&req, path);
    if (!rc) rc = scp_buf_put_u32(&req, 0);
    if (!rc) rc = scp_sftp_status_request(job, &req, &status, SCP_E_INTERNAL);  // status not checked
    scp_buf_free(&req);
    ScpSftpAttrs attrs{};
    if (!rc) rc = scp_sftp_stat(job, path, &attrs);
    if (!rc && !((attrs.flags & SSH_FILEXFER_ATTR_PERMISSIONS) && (attrs.permissions & kScpSftpDirectoryBit))) rc = SCP_E_CREATE_DIRECTORY;
    if (!rc) {
        job->target = path;  // the caller keeps and restores the previous one
        job->targetIsDirectory = true;
        return SCP_OK;
    }
    scp_free(path);
    return rc;
}

int scp_sftp_leave_directory(JobInfo* job)
{
    scp_free(job->target);
    job->target = nullptr;
    return SCP_OK;
}

int scp_sftp_prepare_target(JobInfo* job, const char* remote_path)
{
    ScpBuf req{}, body{};
    int rc = scp_sftp_begin(&req, SSH_FXP_INIT, 0);
    if (!rc) rc = scp_buf_put_u32(&req, kScpSftpVersion);
    if (!rc) {
        scp_sftp_end(&req, 0);
        rc = scp_send(job, req.data, req.len);
    }
    bool none = false;
    if (!rc) {
        rc = scp_sftp_read_packet(job, &body, &none);
        if (rc && none) rc = SCP_E_CONNECT;
    }
    ScpSftpVersion version{};
    if (!rc && (scp_sftp_parse_version(body.data, body.len, &version) != SCP_OK || version.version > kScpSftpVersion))
        rc = SCP_E_INTERNAL;
    scp_buf_free(&req);
    scp_buf_free(&body);
    if (!rc) rc = scp_sftp_choose_plan(job, version.offersLimits);
    if (rc) return rc;
    ScpSftpAttrs attrs{};
    job->targetIsDirectory = false;
    const int statRc = scp_sftp_stat(job, remote_path, &attrs);
    if (statRc == SCP_E_RECEIVE || statRc == SCP_E_OUT_OF_MEMORY || statRc == SCP_E_SEND) return statRc;  // the stream itself failed
    if (statRc == 0 && (attrs.flags & SSH_FILEXFER_ATTR_PERMISSIONS)) job->targetIsDirectory = (attrs.permissions & kScpSftpDirectoryBit) != 0;
    if (job->flags.targetMustBeDirectory && !job->targetIsDirectory) {
        abandon_session(job);
        return SCP_E_NOT_A_DIRECTORY;
    }
    scp_free(job->target);
    job->target = scp_strdup(remote_path);
    if (!job->target) return SCP_E_OUT_OF_MEMORY;
    job->timesPending = false;
    return SCP_OK;
}


int scp_sftp_send_file(JobInfo* job, HANDLE file, const char* name, std::uint64_t size)
{
    if (!job->handleOpen) return SCP_E_OPEN_FILE;
    ScpWriteContext context{job, file, name, size, ScpProgress{}};
    const ScpSftpIo io{&context, scp_write_send, scp_write_queued, scp_write_read, scp_write_read_file, scp_write_progress};
    ScpSftpWriteResult result{};
    const int rc = scp_sftp_write_file(&io, &job->sftpPlan, job->handle.data, job->handle.len, size,
                                       &job->sftpNextWriteId, &result);
    if (rc == SCP_E_WRITE) {
        char text[700];
        std::snprintf(text, sizeof text, "the server refused the write at offset %llu of %.500s (status %u)",
                      static_cast<unsigned long long>(result.failedOffset), name,
                      static_cast<unsigned>(result.failedStatus));
        scp_job_error_detail(job, text);
    }
    if (!rc) job->writeOffset = size;
    return rc;
}
