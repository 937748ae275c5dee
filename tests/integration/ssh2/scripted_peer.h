// Runs tests/support/scripted_server.py as a child process on a loopback
// port and reads back what it saw: the client's modes serve one connection,
// the upload library's serve one after another, each ending with "done".
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
    // Its "RESULT" lines (without the prefix), each ending in a line feed,
    // up to the end of the current connection's report ("done") or of the
    // server; at most 20 seconds of silence are waited for.
    std::string Results();
    // Whether the python with paramiko is there.
    static bool Available();

private:
    int m_nPort = 0;
    int m_fdOut = -1;
    int m_pid = -1;
    std::string m_buffered;
};
