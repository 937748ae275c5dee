// What the real-server peers of the tests have in common: a private folder,
// a free loopback port, a server process that goes with the test process
// and is stopped when its owner goes, and a wait until it accepts.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace peer {

// Files laid over others, {source, target}, in a mount namespace of the
// server's own.
using BindMounts = std::vector<std::pair<std::string, std::string>>;

int FreeLoopbackPort();
// Runs a program to completion with its output discarded; true on exit 0.
bool RunQuietly(const std::vector<std::string>& args);
std::string ReadWholeFile(const std::string& path);

// A folder under $TMPDIR (or /tmp) named prefix-XXXXXX, readable by the
// test users; removed with the object.
class CTempFolder {
public:
    explicit CTempFolder(const char* prefix);
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;
    const std::string& path() const { return m_path; }  // empty when it could not be made

private:
    std::string m_path;
};

// One server process.
class CServerProcess {
public:
    CServerProcess() = default;
    ~CServerProcess() { Stop(); }
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // Starts argv[0] with standard input and output on /dev/null and
    // standard error appended to errorPath, then waits up to ten seconds
    // for it to accept on port. On failure the reason is in *why (with the
    // text of logPath when the server exited).
    bool Start(const std::vector<std::string>& argv, const std::string& errorPath, const BindMounts& mounts, int port,
               const std::string& logPath, std::string* why);
    // SIGTERM, then SIGKILL after two seconds.
    void Stop();

private:
    pid_t m_pid = -1;
};

}  // namespace peer
