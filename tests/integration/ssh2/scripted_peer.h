// Runs tests/support/scripted_server.py as a child process: it serves one
// connection on a loopback port and reports what it saw.
#pragma once

#include <string>
#include <vector>

class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<std::string> args);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // 0 when the server did not start.
    int port() const { return m_nPort; }
    // Waits for the server to finish and returns its "RESULT" lines (without
    // the prefix), joined with line feeds.
    std::string Results();
    // Whether the python with paramiko is there.
    static bool Available();

private:
    int m_nPort = 0;
    int m_fdOut = -1;
    int m_pid = -1;
    std::string m_buffered;
};
