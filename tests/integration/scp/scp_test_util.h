// Helpers of the upload tests: running an upload while recording its
// events, and local and remote folders for the files. The tests of this
// folder take the headers below from here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scp/scp.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

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

// The detail of this thread's last failed upload, "" after a success.
std::string LastDetail();

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
bool IsDirectory(const std::string& path);
bool Exists(const std::string& path);

// Uploads to an sshd of the test's own (Start: skipped, or failed under
// FERRODEX_REQUIRE_PEERS=1, where there is none), from a local folder into
// a remote one, with a registry of the test's own.
class CScpSshdTest : public ::testing::Test {
protected:
    void SetUp() override;  // skipped (or failed) without an sshd
    void Start(const SshdOptions& options = {});
    UploadRun NewRun(const std::string& localName)
    {
        return PeerRun(m_peer->port(), m_local.file(localName), m_remote.path());
    }

    TempRegistry m_registry;
    TempDir m_local;
    RemoteDir m_remote;
    std::unique_ptr<SshdPeer> m_peer;
};

// Uploads to a stock sshd or Dropbear of the test's own (StartStock: skipped,
// or failed under FERRODEX_REQUIRE_PEERS=1, where there is none).
class CScpStockTest : public ::testing::Test {
protected:
    void StartStock(EServerKind kind, const std::string& hostKeyType = "");
    std::string Log() const { return m_server ? m_server->logText() : ""; }

    TempRegistry m_registry;
    TempDir m_local;
    RemoteDir m_remote;
    std::unique_ptr<CTestServer> m_server;
    int m_port = 0;
};
