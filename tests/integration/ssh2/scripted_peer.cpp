#include "tests/integration/ssh2/scripted_peer.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {
constexpr const char* kPython = "/usr/bin/python3";
}

bool ScriptedPeer::Available()
{
    static const bool available =
        ::access(kPython, X_OK) == 0 && std::system("/usr/bin/python3 -c 'import paramiko' 2>/dev/null") == 0;
    return available;
}

ScriptedPeer::ScriptedPeer(std::vector<std::string> args)
{
    const std::string script = SourceDir() + "/tests/support/scripted_server.py";
    int fds[2];
    if (::pipe(fds) != 0) return;
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<std::string> all{kPython, script};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(kPython, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_fdOut = fds[0];
    // Wait (at most 10 s) for the "PORT n" line.
    while (m_buffered.find('\n') == std::string::npos) {
        pollfd p{m_fdOut, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return;
        char chunk[256];
        const ssize_t got = ::read(m_fdOut, chunk, sizeof chunk);
        if (got <= 0) return;
        m_buffered.append(chunk, static_cast<std::size_t>(got));
    }
    const std::string first = m_buffered.substr(0, m_buffered.find('\n'));
    m_buffered.erase(0, first.size() + 1);
    if (first.rfind("PORT ", 0) == 0) m_nPort = std::atoi(first.c_str() + 5);
}

std::string ScriptedPeer::Results()
{
    std::string results;
    for (;;) {
        const std::size_t end = m_buffered.find('\n');
        if (end != std::string::npos) {
            const std::string line = m_buffered.substr(0, end);
            m_buffered.erase(0, end + 1);
            if (line == "RESULT done") break;
            if (line.rfind("RESULT ", 0) == 0) results += line.substr(7) + "\n";
            continue;
        }
        pollfd p{m_fdOut, POLLIN, 0};
        if (m_fdOut < 0 || ::poll(&p, 1, 20000) <= 0) break;
        char chunk[4096];
        const ssize_t got = ::read(m_fdOut, chunk, sizeof chunk);
        if (got <= 0) break;
        m_buffered.append(chunk, static_cast<std::size_t>(got));
    }
    return results;
}

ScriptedPeer::~ScriptedPeer()
{
    if (m_fdOut >= 0) ::close(m_fdOut);
    if (m_pid > 0) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, &status, 0);
        }
    }
}
