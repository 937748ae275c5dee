// The upload's steps in the form of the remote scp program run as a sink
// ("scp -t"): text lines for times, files and directories, the file's bytes,
// and an acknowledgement byte read after each.
#include <cstdio>

#include "scp/scp_job.h"
#include "scp/scp_steps.h"
#include "scp/scp_ssh.h"

namespace {
// The most channel data kept queued while a file's bytes go out: beyond
// it the upload waits for the server's window.
constexpr std::size_t kSendQueueLimit = 256 * 1024;
}  // namespace

int scp_sink_prepare_target(JobInfo* job) { return read_ack(job); }

int scp_sink_send_error(JobInfo* job, const char* message)
{
    const std::uint8_t one = 1;
    int rc = scp_send(job, &one, 1);
    if (!rc) rc = scp_send_text(job, message);
    // The job usually ends right after this: the message must not stay queued.
    if (!rc && job->session) rc = scp_session_flush(job->session);
    return rc;
}

int scp_sink_send_times(JobInfo* job, std::uint32_t mtime, std::uint32_t atime)
{
    char line[64];
    std::snprintf(line, sizeof line, "T%lu 0 %lu 0\n", static_cast<unsigned long>(mtime), static_cast<unsigned long>(atime));
    int rc = scp_send_text(job, line);
    if (!rc) rc = read_ack(job);
    return rc;
}

int scp_sink_open_file(JobInfo* job, const char* name, std::uint32_t size, unsigned mode)
{
    char head[64];
    std::snprintf(head, sizeof head, "C%04o %lu ", mode, static_cast<unsigned long>(size));
    int rc = scp_send_text(job, head);
    if (!rc) rc = scp_send_text(job, name);
    if (!rc) rc = scp_send_text(job, "\n");
    if (!rc) rc = read_ack(job);
    return rc;
}

int scp_sink_send_block(JobInfo* job, const std::uint8_t* data, std::size_t len)
{
    const SessionBackend* backend = scp_job_backend();
    int rc = scp_send(job, data, len);
    while (!rc && job->session && backend->queued_bytes(job->session) > kSendQueueLimit) {
        // What the window allows goes out first; wait only for the rest.
        rc = scp_session_flush(job->session);
        if (rc || backend->queued_bytes(job->session) <= kSendQueueLimit) break;
        const int round = pump_once(job);
        if (round < 0) return SCP_E_NETWORK;
        rc = round;
    }
    return rc;
}

int scp_sink_finish_file(JobInfo* job)
{
    const std::uint8_t zero = 0;
    int rc = scp_send(job, &zero, 1);
    if (!rc) rc = read_ack(job);
    return rc;
}

int scp_sink_create_directory(JobInfo* job, const char* name, unsigned mode)
{
    char head[32];
    std::snprintf(head, sizeof head, "D%04o 0 ", mode);
    int rc = scp_send_text(job, head);
    if (!rc) rc = scp_send_text(job, name);
    if (!rc) rc = scp_send_text(job, "\n");
    if (!rc) rc = read_ack(job);
    return rc;
}

int scp_sink_leave_directory(JobInfo* job)
{
    int rc = scp_send_text(job, "E\n");
    if (!rc) rc = read_ack(job);
    return rc;
}
