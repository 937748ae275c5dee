#include "tests/support/sshd_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";
constexpr const char* kKeygen = "/usr/bin/ssh-keygen";

int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Runs a program to completion with its output discarded; true on exit 0.
bool RunQuietly(const std::vector<std::string>& args)
{
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
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

}  // namespace

const char* SshdPeer::User() { return "fdxtest"; }
const char* SshdPeer::Password() { return "fdx-test-pw"; }

bool SshdPeer::Available(std::string* why)
{
    std::string reason;
    if (::access(kSshd, X_OK) != 0)
        reason = "sshd is not installed (run scripts/setup-peers.sh as root)";
    else if (::getpwnam(User()) == nullptr)
        reason = std::string("test user ") + User() + " does not exist (run scripts/setup-peers.sh as root)";
    else if (::geteuid() != 0)
        reason = "sshd needs root to log other users in";
    if (why) *why = reason;
    return reason.empty();
}

SshdPeer::SshdPeer(SshdOptions o)
{
    std::string why;
    if (!Available(&why)) {
        m_startError = why;
        return;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fdx-sshd-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_startError = "cannot create a temporary folder";
        return;
    }
    m_folder = pattern;
    ::chmod(m_folder.c_str(), 0755);
    // The port may be taken between the probe and sshd's bind: try again.
    for (int attempt = 0; attempt < 3 && !m_bRunning; ++attempt) {
        Stop();
        m_bRunning = Start(o);
    }
}

SshdPeer::~SshdPeer()
{
    Stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

bool SshdPeer::Start(const SshdOptions& o)
{
    const std::string key = hostKeyPath();
    if (!std::filesystem::exists(key)) {
        std::vector<std::string> args{kKeygen, "-q", "-N", "", "-f", key, "-t", o.hostKeyType};
        if (o.hostKeyType == "rsa") {
            args.push_back("-b");
            args.push_back("2048");
        }
        if (!RunQuietly(args)) {
            m_startError = "ssh-keygen failed for key type " + o.hostKeyType;
            return false;
        }
    }
    m_nPort = FreeLoopbackPort();
    if (m_nPort == 0) {
        m_startError = "no free port";
        return false;
    }
    const std::string config = m_folder + "/sshd_config";
    {
        std::ofstream out(config, std::ios::trunc);
        out << "Port " << m_nPort << "\n"
            << "ListenAddress 127.0.0.1\n"
            << "HostKey " << key << "\n"
            << "PidFile " << m_folder << "/sshd.pid\n"
            << "UsePAM no\n"
            << "PasswordAuthentication yes\n"
            << "KbdInteractiveAuthentication no\n"
            << "PermitRootLogin no\n"
            << "StrictModes no\n"
            << "AuthorizedKeysFile " << m_folder << "/authorized_keys .ssh/authorized_keys\n"
            << "LogLevel VERBOSE\n";
        if (o.legacyAlgorithms)
            out << "KexAlgorithms +diffie-hellman-group1-sha1\n"
                << "HostKeyAlgorithms +ssh-rsa,ssh-dss\n"
                << "Ciphers +aes128-cbc,aes192-cbc,aes256-cbc,3des-cbc\n"
                << "MACs +hmac-sha1,hmac-md5\n";
        if (o.sftpSubsystem) out << "Subsystem sftp internal-sftp\n";
        for (const auto& line : o.extraConfig) out << line << "\n";
        if (!out) {
            m_startError = "cannot write " + config;
            return false;
        }
    }
    const std::string log = m_folder + "/sshd.log";
    std::filesystem::remove(log);

    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid < 0) {
        m_startError = "fork failed";
        return false;
    }
    if (m_pid == 0) {
        // The server goes with the test process, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        std::freopen("/dev/null", "r", stdin);
        std::freopen("/dev/null", "w", stdout);
        if (!o.bindMounts.empty()) {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                ::_exit(126);
            for (const auto& [source, target] : o.bindMounts)
                if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) ::_exit(126);
        }
        ::execl(kSshd, kSshd, "-f", config.c_str(), "-D", "-E", log.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_startError = "sshd exited at start-up: " + ReadWholeFile(log);
            return false;
        }
        if (Accepts(m_nPort)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_startError = "sshd did not accept connections in time";
    return false;
}

void SshdPeer::Stop()
{
    m_bRunning = false;
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

bool SshdPeer::running() const { return m_bRunning; }
int SshdPeer::port() const { return m_nPort; }
std::string SshdPeer::folder() const { return m_folder; }
std::string SshdPeer::hostKeyPath() const { return m_folder.empty() ? std::string() : m_folder + "/host_key"; }

std::string SshdPeer::logText() const
{
    std::string text = m_folder.empty() ? std::string() : ReadWholeFile(m_folder + "/sshd.log");
    if (!m_startError.empty()) text = m_startError + "\n" + text;
    return text;
}
