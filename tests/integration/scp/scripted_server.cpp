#include "tests/integration/scp/scripted_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {
constexpr const char* kPython = "/usr/bin/python3";
}

ScriptedServer::ScriptedServer(const std::vector<std::string>& args)
{
    int fds[2];
    if (::pipe(fds) != 0) return;
    const std::string script = SourceDir() + "/tests/support/scripted_server.py";
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv{const_cast<char*>(kPython), const_cast<char*>(script.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(kPython, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_out = ::fdopen(fds[0], "r");
    // The port line, read byte by byte so nothing after it is buffered.
    std::string line;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    std::sscanf(line.c_str(), "PORT %d", &m_port);
}

ScriptedServer::~ScriptedServer()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out) std::fclose(m_out);
}

std::string ScriptedServer::Results()
{
    std::string text;
    if (!m_out) return text;
    const int fd = ::fileno(m_out);
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            const std::string line = m_pending.substr(0, end + 1);
            m_pending.erase(0, end + 1);
            if (line == "RESULT done\n") break;
            text += line;
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        char chunk[512];
        if (::poll(&p, 1, 20000) <= 0) break;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        m_pending.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

bool ScriptedServer::Available() { return std::system("/usr/bin/python3 -c 'import paramiko' 2>/dev/null") == 0; }
