// The scripted paramiko server of the upload tests (scripted_server.py),
// run as a child process on a free loopback port for as long as the object
// lives; its report lines are read back per connection.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

class ScriptedServer {
public:
    explicit ScriptedServer(const std::vector<std::string>& args);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return m_port; }

    // The server's report lines up to the end of the current connection
    // (at most 20 seconds of waiting).
    std::string Results();

    static bool Available();

private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
    std::string m_pending;
    int m_port = 0;
};
