// The steps of an upload in their two forms: the remote scp program as a
// sink (text lines and acknowledgements) and SFTP version 3 requests. Each
// returns 0 or an ESCPErrors code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

struct JobInfo;

// Progress events of one file: at most one a second, and one at the end.
struct ScpProgress {
    std::uint32_t lastSecond;
    bool reported;
};
void scp_report_progress(JobInfo* job, const char* name, std::uint64_t done, std::uint64_t size, ScpProgress* progress);

// The scp sink.
int scp_sink_prepare_target(JobInfo* job);
int scp_sink_send_error(JobInfo* job, const char* message);
int scp_sink_send_times(JobInfo* job, std::uint32_t mtime, std::uint32_t atime);
int scp_sink_open_file(JobInfo* job, const char* name, std::uint32_t size, unsigned mode);
int scp_sink_send_block(JobInfo* job, const std::uint8_t* data, std::size_t len);
int scp_sink_finish_file(JobInfo* job);
int scp_sink_create_directory(JobInfo* job, const char* name, unsigned mode);
int scp_sink_leave_directory(JobInfo* job);

// SFTP: the version exchange and the target's STAT first; a file's times
// are set when it is closed; the directory made becomes the target until
// the walk leaves it.
int scp_sftp_prepare_target(JobInfo* job, const char* remote_path);
int scp_sftp_send_times(JobInfo* job, std::uint32_t mtime, std::uint32_t atime);
int scp_sftp_open_file(JobInfo* job, const char* name);
int scp_sftp_send_block(JobInfo* job, const std::uint8_t* data, std::size_t len);
// A whole file's bytes as writes many at a time, as planned when the target
// was prepared. A refused write leaves the session usable (the file can be
// closed) and says at which offset in the job's error detail.
int scp_sftp_send_file(JobInfo* job, HANDLE file, const char* name, std::uint64_t size);
int scp_sftp_finish_file(JobInfo* job);
int scp_sftp_create_directory(JobInfo* job, const char* name);
int scp_sftp_leave_directory(JobInfo* job);

// Paths: the last component (after the last '/', then after the last '\'
// of that remainder; without either, after the first ':' or the whole
// path), and a + sep + b in tracked memory (nullptr when out of memory).
const char* scp_last_component(const char* path);
char* scp_join(const char* a, const char* sep, const char* b);
