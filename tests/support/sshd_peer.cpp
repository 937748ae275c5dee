#include "tests/support/sshd_peer.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";
constexpr const char* kKeygen = "/usr/bin/ssh-keygen";
constexpr const char* kPackagedConfig = "/etc/ssh/sshd_config";

}  // namespace

const char* SshdPeer::User()
{
    // Tests that look at the account's files and processes run with one of
    // their own (CTest sets it), so that no other test's logins show there.
    static const std::string user = [] {
        const char* account = std::getenv("FDX_TEST_ACCOUNT");
        return std::string(account != nullptr && *account != '\0' ? account : "fdxtest");
    }();
    return user.c_str();
}
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
    m_pFolder = std::make_unique<peer::CTempFolder>("fdx-sshd");
    if (folder().empty()) {
        m_startError = "cannot create a temporary folder";
        return;
    }
    // The port may be taken between the probe and sshd's bind: try again.
    for (int attempt = 0; attempt < 3 && !m_bRunning; ++attempt) m_bRunning = Start(o);
}

SshdPeer::~SshdPeer()
{
    m_process.Stop();
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
        if (!peer::RunQuietly(args)) {
            m_startError = "ssh-keygen failed for key type " + o.hostKeyType;
            return false;
        }
    }
    m_nPort = peer::FreeLoopbackPort();
    if (m_nPort == 0) {
        m_startError = "no free port";
        return false;
    }
    const std::string log = folder() + "/sshd.log";
    std::filesystem::remove(log);
    if (o.packagedConfig) {
        // Debian's own file, untouched; only where to listen, the key and
        // the pid file are given on the command line (which wins).
        const std::vector<std::string> argv{kSshd, "-f", kPackagedConfig, "-D", "-E", log,
                                            "-o", "Port=" + std::to_string(m_nPort),
                                            "-o", "ListenAddress=127.0.0.1",
                                            "-o", "HostKey=" + key,
                                            "-o", "PidFile=" + folder() + "/sshd.pid"};
        return m_process.Start(argv, log, o.bindMounts, m_nPort, log, &m_startError);
    }
    const std::string config = folder() + "/sshd_config";
    {
        std::ofstream out(config, std::ios::trunc);
        out << "Port " << m_nPort << "\n"
            << "ListenAddress 127.0.0.1\n"
            << "HostKey " << key << "\n"
            << "PidFile " << folder() << "/sshd.pid\n";
        // sshd keeps the first value of a keyword: the test's own lines come
        // before the defaults and the algorithm lists so that they win.
        for (const auto& line : o.extraConfig) out << line << "\n";
        out << "UsePAM " << (o.usePam ? "yes" : "no") << "\n"
            << "PasswordAuthentication " << (o.passwordLogins ? "yes" : "no") << "\n"
            << "KbdInteractiveAuthentication " << (o.keyboardInteractive ? "yes" : "no") << "\n"
            << "PermitRootLogin no\n"
            << "StrictModes no\n"
            << "AuthorizedKeysFile " << folder() << "/authorized_keys .ssh/authorized_keys\n"
            << "LogLevel " << o.logLevel << "\n";
        if (o.legacyAlgorithms)
            out << "KexAlgorithms diffie-hellman-group1-sha1\n"
                << "HostKeyAlgorithms ssh-rsa,ssh-dss\n"
                << "Ciphers aes128-cbc,aes192-cbc,aes256-cbc,3des-cbc\n"
                << "MACs hmac-sha1,hmac-md5\n";
        if (o.sftpSubsystem) out << "Subsystem sftp internal-sftp\n";
        if (!out) {
            m_startError = "cannot write " + config;
            return false;
        }
    }
    return m_process.Start({kSshd, "-f", config, "-D", "-E", log}, log, o.bindMounts, m_nPort, log, &m_startError);
}

bool SshdPeer::running() const { return m_bRunning; }
int SshdPeer::port() const { return m_nPort; }
std::string SshdPeer::folder() const { return m_pFolder ? m_pFolder->path() : std::string(); }
std::string SshdPeer::hostKeyPath() const { return folder().empty() ? std::string() : folder() + "/host_key"; }

std::string SshdPeer::logText() const
{
    std::string text = folder().empty() ? std::string() : peer::ReadWholeFile(folder() + "/sshd.log");
    if (!m_startError.empty()) text = m_startError + "\n" + text;
    return text;
}
