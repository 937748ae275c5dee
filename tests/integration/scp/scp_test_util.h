// Helpers of the upload tests: running an upload while recording its
// events, and local and remote folders for the files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scp/scp.h"

struct RecordedEvent {
    int event;
    std::string text;
    std::string detail;
    std::int32_t value;
};

struct UploadRun {
    std::string host = "127.0.0.1";
    int port = 22;
    std::string user;
    std::string password;
    std::string localPath;
    std::string remotePath;
    bool withCallback = true;
    std::int32_t hostKeyAnswer = 1;
    // Set cancel_requested when this event (with value >= cancelAtValue) arrives.
    int cancelOnEvent = -1;
    ScpJobOptions options{};

    int code = -1;
    std::vector<RecordedEvent> events;
    int Run();
    int Count(int event) const;
};

// An upload as the test user, with the test password, to a peer on this host.
UploadRun PeerRun(int port, const std::string& localPath, const std::string& remotePath, int timeoutSeconds = 20);

// Writes bytes to run.localPath, uploads it into the folder run.remotePath
// and compares the copy there with them.
::testing::AssertionResult UploadsIntact(UploadRun& run, const std::string& bytes);

// The host-key store's text under a value name, "(missing)" when absent.
std::string StoredHostKey(const std::string& valueName);

// A folder owned by the test user (uploads land there), removed afterwards.
class RemoteDir {
public:
    RemoteDir();
    ~RemoteDir();
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string PatternBytes(std::size_t size, unsigned seed);
void SetFileTimes(const std::string& path, long mtime, long atime);
long FileMtime(const std::string& path);
bool IsDirectory(const std::string& path);
bool Exists(const std::string& path);
