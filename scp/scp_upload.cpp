// ScpUploadFile: the walk over the local files, directories and wildcard
// matches, the steps each takes in the form the session runs (SFTP or the
// scp sink), and the entry points of the library.
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/winsock.h"
#include "scp/scp.h"
#include "scp/scp_job.h"
#include "scp/scp_jump.h"
#include "scp/scp_steps.h"
#include "scp/scp_ssh.h"

int upload_path(JobInfo* job, const char* path);

namespace {

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

// The scp sink's data goes in reads of this size.
constexpr std::size_t kBlockSize = 64 * 1024;

}  // namespace

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

namespace {

// ---------------------------------------------------------------- the steps

int step_send_error(JobInfo* job, const char* message)
{
    return job->using_sftp ? SCP_OK : scp_sink_send_error(job, message);
}

int step_send_times(JobInfo* job, std::uint32_t mtime, std::uint32_t atime)
{
    return job->using_sftp ? scp_sftp_send_times(job, mtime, atime) : scp_sink_send_times(job, mtime, atime);
}

int step_open_file(JobInfo* job, const char* name, std::uint32_t size, unsigned mode)
{
    return job->using_sftp ? scp_sftp_open_file(job, name) : scp_sink_open_file(job, name, size, mode);
}

int step_send_block(JobInfo* job, const std::uint8_t* data, std::size_t len)
{
    return job->using_sftp ? scp_sftp_send_block(job, data, len) : scp_sink_send_block(job, data, len);
}

int step_finish_file(JobInfo* job) { return job->using_sftp ? scp_sftp_finish_file(job) : scp_sink_finish_file(job); }

int step_create_directory(JobInfo* job, const char* name, unsigned mode)
{
    return job->using_sftp ? scp_sftp_create_directory(job, name) : scp_sink_create_directory(job, name, mode);
}

int step_leave_directory(JobInfo* job)
{
    return job->using_sftp ? scp_sftp_leave_directory(job) : scp_sink_leave_directory(job);
}

int prepare_target(JobInfo* job, const char* remote_path)
{
    return job->using_sftp ? scp_sftp_prepare_target(job, remote_path) : scp_sink_prepare_target(job);
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
        return SCP_E_OUT_OF_MEMORY;
    }
    int rc = step_create_directory(job, name, 0755);
    if (!rc) {
        char* pattern = scp_join(path, "/", "*");
        rc = pattern ? upload_matches(job, pattern) : SCP_E_OUT_OF_MEMORY;
        scp_free(pattern);
        const int leave = rc ? SCP_OK : step_leave_directory(job);
        if (!rc) rc = leave;
    }
    scp_free(job->target);
    job->target = saved;
    job->targetIsDirectory = savedIsDirectory;
    return rc;
}

}  // namespace

void scp_report_progress(JobInfo* job, const char* name, std::uint64_t done, std::uint64_t size, ScpProgress* progress)
{
    const std::uint32_t now = CurrentUnixSeconds();
    if (progress->reported && now == progress->lastSecond && done != size) return;
    scp_job_event(job, SCP_EVENT_PROGRESS, name, nullptr,
                  static_cast<std::int32_t>(static_cast<double>(done) * 100.0 / static_cast<double>(size)));
    progress->lastSecond = now;
    progress->reported = true;
}

namespace {

int upload_file(JobInfo* job, const char* path)
{
    const char* name = scp_last_component(path);
    HANDLE file = CreateFileUtf8(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        char message[600];
        std::snprintf(message, sizeof message, "scp: %.500s: Cannot open file\n", path);
        step_send_error(job, message);
        return SCP_E_OPEN_FILE;
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
        return SCP_E_READ;
    }
    FILETIME access{}, write{};
    GetFileTime(file, nullptr, &access, &write);
    rc = step_send_times(job, FileTimeToUnixSeconds(write), FileTimeToUnixSeconds(access));
    if (!rc) rc = step_open_file(job, name, size, 0644);
    if (!rc && job->using_sftp) {
        rc = scp_sftp_send_file(job, file, name, size);
        scp_files_close(job, file);
        if (rc == SCP_E_WRITE) {
            // The session is still whole: the file is closed, the code stays.
            step_finish_file(job);
            return rc;
        }
        if (rc) {
            abandon_session(job);
            return rc;
        }
        return step_finish_file(job);
    }
    auto* block = static_cast<std::uint8_t*>(rc ? nullptr : scp_alloc(kBlockSize));
    if (!rc && !block) rc = SCP_E_OUT_OF_MEMORY;
    std::uint32_t sent = 0;
    ScpProgress progress{};
    while (!rc && sent < size) {
        const DWORD want = size - sent > kBlockSize ? static_cast<DWORD>(kBlockSize) : size - sent;
        DWORD got = 0;
        if (!ReadFile(file, block, want, &got) || got < want) {
            abandon_session(job);
            rc = SCP_E_READ;
            break;
        }
        rc = step_send_block(job, block, got);
        if (rc) {
            abandon_session(job);
            break;
        }
        sent += got;
        scp_report_progress(job, name, sent, size, &progress);
    }
    scp_free(block);
    scp_files_close(job, file);
    if (!rc) rc = step_finish_file(job);
    return rc;
}

}  // namespace

int upload_path(JobInfo* job, const char* path)
{
    const DWORD attributes = GetFileAttributesUtf8(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        char message[600];
        std::snprintf(message, sizeof message, "scp: %.500s: %s file or directory\n", path, "No such");
        step_send_error(job, message);
        return SCP_E_NO_SUCH_FILE;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!job->flags.recursive) return SCP_OK;
        const char* name = scp_last_component(path);
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return SCP_OK;
        return upload_directory(job, path);
    }
    return upload_file(job, path);
}

int classify_local_path(const char* path)
{
    if (!path || !*path) return SCP_LOCAL_MISSING;
    if (GetFileAttributesUtf8(path) != INVALID_FILE_ATTRIBUTES) return SCP_LOCAL_EXISTS;
    const char* last = scp_last_component(path);
    if (!std::strpbrk(last, "*?")) return SCP_LOCAL_MISSING;
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileUtf8(path, &entry);
    if (search == INVALID_HANDLE_VALUE) return SCP_LOCAL_MISSING;
    FindClose(search);
    return SCP_LOCAL_MATCHES;
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
    if (!dir) return SCP_E_OUT_OF_MEMORY;
    std::memcpy(dir, pattern, dirLen);
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileUtf8(pattern, &entry);
    int rc = SCP_OK;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) continue;
            char* path = scp_join(dir, "", entry.cFileName);
            rc = path ? upload_path(job, path) : SCP_E_OUT_OF_MEMORY;
            scp_free(path);
        } while (!rc && FindNextFileUtf8(search, &entry));
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
    job->flags.recursive = true;
    job->flags.preserveTimes = true;
    job->flags.targetMustBeDirectory = false;
    const int kind = classify_local_path(local_path);
    if (kind == SCP_LOCAL_MISSING) return SCP_E_NO_SUCH_FILE;
    if (kind == SCP_LOCAL_MATCHES) job->flags.targetMustBeDirectory = true;
    if (!host || !*host) return SCP_E_EMPTY_HOST;

    const char* remote = remote_path ? remote_path : "";
    // The path reaches the remote shell as one single-quoted word.
    const std::size_t commandSize = 4 * std::strlen(remote) + 32;
    char* command = static_cast<char*>(scp_alloc(commandSize));
    if (!command) return SCP_E_OUT_OF_MEMORY;
    const int flagsLength = std::snprintf(command, commandSize, "scp%s%s%s -t ", job->flags.recursive ? " -r" : "",
                                          job->flags.preserveTimes ? " -p" : "",
                                          job->flags.targetMustBeDirectory ? " -d" : "");
    scp_quote_for_shell(remote, command + flagsLength, commandSize - static_cast<std::size_t>(flagsLength));
    if (job->options && job->options->use_scp && std::strlen(command) >= sizeof(SessionConfig::remoteCommand)) return SCP_E_INTERNAL;

    auto* cfg = static_cast<SessionConfig*>(scp_alloc(sizeof(SessionConfig)));
    if (!cfg) return SCP_E_OUT_OF_MEMORY;
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
    SetSessionKeyFiles(cfg, keyFile);
    if (job->options && job->options->key_passphrase)
        std::snprintf(cfg->passphrase, sizeof cfg->passphrase, "%s", job->options->key_passphrase);
    cfg->useAgent = job->options && job->options->use_agent ? 1 : 0;
    cfg->compression = job->options ? static_cast<int>(job->options->compression != 0) : 0;
    cfg->newHostKeyPolicy = job->options ? job->options->new_host_key_policy : 2;
    cfg->changedHostKeyPolicy = job->options ? job->options->changed_host_key_policy : 0;
    cfg->userData = job->user_data;
    cfg->job = job;
    // Through the jump hosts, when there are any: the route lives as long as the upload.
    CScpJumpRoute route;
    if (job->options && job->options->jump_count > 0) {
        winsock::SOCKET via = winsock::INVALID_SOCKET;
        if (const int jumpRc = route.Open(job, cfg->host, cfg->port, &via)) {
            scp_wipe(cfg->password, sizeof cfg->password);
            scp_wipe(cfg->passphrase, sizeof cfg->passphrase);
            scp_free(cfg);
            return jumpRc;
        }
        cfg->viaSocketSet = 1;
        cfg->viaSocket = via;
    }
    scp_job_limit_connect(job, cfg->host, cfg->port, job->options ? job->options->connect_timeout_seconds : 30);
    const SessionBackend* backend = scp_job_backend();
    int rc = backend->open(&job->session, cfg, false);
    scp_wipe(cfg->password, sizeof cfg->password);
    scp_wipe(cfg->passphrase, sizeof cfg->passphrase);
    scp_free(cfg);
    if (rc) {
        scp_job_limit_end(job);
        abandon_session(job);
        return rc;
    }
    scp_job_event(job, SCP_EVENT_CONNECTED, nullptr, nullptr, 0);
    scp_job_event(job, SCP_EVENT_STAGE, nullptr, nullptr, SCP_STAGE_NEGOTIATING);

    while (!backend->ready_to_send(job->session)) {
        const int round = pump_once(job);
        if (round > 0) {
            scp_job_limit_end(job);
            return round;
        }
        if (round < 0) break;
    }
    scp_job_limit_end(job);
    job->using_sftp = !scpOnly && !scp_session_fallback_used(job->session);
    if (!backend->ready_to_send(job->session)) {
        // The server closed the connection before the channel was ready.
        abandon_session(job);
        return job->using_sftp ? SCP_E_RECEIVE : SCP_E_LOST_CONNECTION;
    }

    scp_job_event(job, SCP_EVENT_STAGE, nullptr, nullptr, SCP_STAGE_UPLOADING);
    if ((rc = prepare_target(job, remote)) != 0) return rc;

    switch (classify_local_path(local_path)) {
    case SCP_LOCAL_MISSING: {
        char message[600];
        std::snprintf(message, sizeof message, "scp: %.500s: No such file or directory", local_path);
        step_send_error(job, message);
        return SCP_E_NO_SUCH_FILE;
    }
    case SCP_LOCAL_EXISTS: rc = upload_path(job, local_path); break;
    default: rc = upload_matches(job, local_path); break;
    }
    if (rc) return rc;
    scp_finish_channel(job);
    if (job->poolSeeded) scp_random_save_seed(&job->pool);
    return SCP_OK;
}

}  // namespace

void scp_last_error_detail(char* buffer, std::size_t size)
{
    if (!buffer || size == 0) return;
    std::snprintf(buffer, size, "%s", scp_job_last_detail());
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
    JobInfo* job = nullptr;
    int rc = scp_job_create(&job, options);
    if (rc) {
        scp_job_keep_detail(nullptr);
        return rc;
    }
    job->callback = callback;
    if (options) options->cancel_requested = 0;
    {
        // Every block of this upload is the job's, and goes with it.
        const CScpArenaScope scope(&job->arena);
        scp_job_event(job, SCP_EVENT_STAGE, nullptr, nullptr, SCP_STAGE_STARTING);
        winsock::WSADATA data{};
        if (winsock::WSAStartup(0x0101, &data) != 0) {
            rc = SCP_E_WINSOCK_INIT;
        } else {
            job->winsockStarted = true;
            if (data.wVersion != 0x0101) rc = SCP_E_WINSOCK_VERSION;
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
        // What a failure ran into; a success leaves nothing to report.
        scp_job_keep_detail(rc ? job : nullptr);
        if (options) options->peak_memory_bytes = scp_arena_peak_bytes(&job->arena);
    }
    scp_job_destroy(job);
    return rc;
}
