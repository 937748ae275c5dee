#include "tests/support/peer_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace peer {
namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// In a forked child: points a descriptor at /dev/null without touching the
// stdio buffers it shares with the parent (freopen would flush them twice).
void ToDevNull(int fd, int flags)
{
    const int null = ::open("/dev/null", flags | O_CLOEXEC);
    if (null >= 0) ::dup2(null, fd);
}

bool WaitForExit(pid_t pid, int* status)
{
    return ::waitpid(pid, status, WNOHANG) == pid;
}

}  // namespace

int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address = Loopback(0);
    int port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool RunQuietly(const std::vector<std::string>& args)
{
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ToDevNull(1, O_WRONLY);
        ToDevNull(2, O_WRONLY);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CTempFolder::CTempFolder(const char* prefix)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    m_path = pattern;
    ::chmod(m_path.c_str(), 0755);
}

CTempFolder::~CTempFolder()
{
    if (m_path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool CServerProcess::Start(const std::vector<std::string>& argv, const std::string& errorPath,
                           const BindMounts& mounts, int port, const std::string& logPath, std::string* why)
{
    Stop();
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid < 0) {
        *why = "fork failed";
        return false;
    }
    if (m_pid == 0) {
        // The server goes with the test process, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ToDevNull(0, O_RDONLY);
        ToDevNull(1, O_WRONLY);
        const int err = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (err >= 0) ::dup2(err, 2);
        if (!mounts.empty()) {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                ::_exit(126);
            for (const auto& [source, target] : mounts)
                if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) ::_exit(126);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (WaitForExit(m_pid, &status)) {
            m_pid = -1;
            *why = argv[0] + " exited at start-up: " + ReadWholeFile(logPath);
            return false;
        }
        if (Accepts(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    *why = argv[0] + " did not accept connections in time";
    Stop();
    return false;
}

void CServerProcess::Stop()
{
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (WaitForExit(m_pid, &status)) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

}  // namespace peer
