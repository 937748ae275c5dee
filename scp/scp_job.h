// The per-call job record of ScpUploadFile and the routines the SSH engine
// calls back into: channel data delivery, events and the socket table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/deadline.h"
#include "platform/files.h"
#include "platform/winsock.h"
#include "scp/scp.h"
#include "scp/scp_mem.h"
#include "scp/scp_sftp_writer.h"
#include "scp/scp_store.h"

struct ScpSession;
struct SessionBackend;

constexpr int kScpInitialFileSlots = 100;
constexpr int kScpMaxSockets = 4;
constexpr std::size_t kScpErrorDetailSize = 512;

// The transfer's flags.
struct ScpTransferFlags {
    bool recursive;
    bool preserveTimes;
    bool targetMustBeDirectory;
};

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

// Everything one upload holds belongs to its job: the blocks it allocates
// (in the job's arena), its flags, limits, callback and error detail.
struct JobInfo {
    std::uint32_t user_data;
    ScpJobOptions* options;
    ScpArena arena;
    ScpEventCallback callback;
    ScpTransferFlags flags;
    ScpStepLimit step;
    // What the failure ran into, in words; the first record stays.
    char errorDetail[kScpErrorDetailSize];

    // The open-local-files table.
    HANDLE* files;
    int fileCount;
    int fileCapacity;

    // The session and its sockets.
    winsock::SOCKET socket;
    ScpSession* session;
    winsock::SOCKET sockets[kScpMaxSockets];
    bool winsockStarted;

    bool using_sftp;

    // Receive state of the channel data stream.
    std::uint8_t* recvBuffer;
    std::size_t recvWanted;
    std::size_t recvGot;
    ScpBuf pending;

    ScpRandomPool pool;
    bool poolSeeded;

    // SFTP state.
    std::uint32_t* sftp_requests;  // outstanding identifiers, unordered
    std::size_t sftpRequestCount;
    std::size_t sftpRequestCapacity;
    char* target;
    char* savedTarget;
    bool targetIsDirectory;
    bool timesPending;
    std::uint32_t mtime;
    std::uint32_t atime;
    ScpBuf handle;
    bool handleOpen;
    std::uint64_t writeOffset;
    // How writes are cut and how many go at once (from the server's
    // limits and the job's setting), and the identifier of the next write.
    ScpSftpPlan sftpPlan;
    std::uint32_t sftpNextWriteId;

    // A jump host's job: the channel's data goes to this socket.
    winsock::SOCKET relayOut;
};

// The channel window the session grants the server.
constexpr std::uint32_t kScpLocalWindow = 1024 * 1024;
// The largest amount of channel data kept that no read asked for yet; the
// channel's window keeps the server below it.
constexpr std::size_t kScpMaxPending = kScpLocalWindow + 64 * 1024;

// Records what a failure ran into, in words, for scp_last_error_detail; the
// first record of a job stays (nothing without a job).
void scp_job_error_detail(JobInfo* job, const char* text);
// Bytes of channel data kept that no read asked for yet.
std::size_t scp_job_buffered(const JobInfo* job);

// Raises an event through the job's callback; 0 without one.
std::int32_t scp_job_event(JobInfo* job, int event, const char* text, const char* detail, std::int32_t value);
bool scp_job_has_callback(const JobInfo* job);
// Channel data from the session (extended data goes to standard error).
int scp_job_receive(JobInfo* job, const std::uint8_t* data, std::size_t len, bool extended);
void scp_job_register_socket(JobInfo* job, winsock::SOCKET s);
// Closes every socket of the session and clears the job's socket.
void scp_job_close_sockets(JobInfo* job);

// Record helpers, exposed for tests. The job's record and everything in
// its arena go with scp_job_destroy.
int scp_job_create(JobInfo** out, ScpJobOptions* options);
void scp_job_destroy(JobInfo* job);
int scp_files_record(JobInfo* job, HANDLE file);
void scp_files_close(JobInfo* job, HANDLE file);
void scp_files_close_all(JobInfo* job);

// The session backend the job drives (the SSH-2 engine).
const SessionBackend* scp_job_backend();
// The connection's limit (and the key exchange's after it, which the event
// loop starts once the version line is in), and its end once the channel is
// ready.
void scp_job_limit_connect(JobInfo* job, const char* host, int port, int seconds);
void scp_job_limit_end(JobInfo* job);
// Keeps the job's error detail as this thread's last one (what
// scp_last_error_detail reports), and reads it.
void scp_job_keep_detail(const JobInfo* job);
const char* scp_job_last_detail();

// Channel data to the server through the job's session.
bool scp_has_socket(JobInfo* job);
int scp_send(JobInfo* job, const void* data, std::size_t len);
int scp_send_text(JobInfo* job, const char* text);
// Sends end-of-file and reads one byte, which normally ends when the server
// closes the channel.
void scp_finish_channel(JobInfo* job);
void scp_winsock_release(JobInfo* job);

// The receive routines and one round of the event loop: pump_once returns 0,
// a code, or kScpStreamEnded when the connection has gone.
constexpr int kScpStreamEnded = -1;
int pump_once(JobInfo* job);
// Reads exactly len bytes; *got < len means end of stream.
int recv_exact(JobInfo* job, std::uint8_t* buffer, std::size_t len, std::size_t* got);
int read_ack(JobInfo* job);
void abandon_session(JobInfo* job);

// Classification of the local path.
enum ScpLocalPath { SCP_LOCAL_MISSING = 0, SCP_LOCAL_EXISTS = 1, SCP_LOCAL_MATCHES = 2 };
int classify_local_path(const char* path);
