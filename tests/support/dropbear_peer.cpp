#include "tests/support/dropbear_peer.h"

#include <unistd.h>

#include <filesystem>

#include "tests/support/sshd_peer.h"

namespace {

constexpr const char* kDropbear = "/usr/sbin/dropbear";
constexpr const char* kDropbearKey = "/usr/bin/dropbearkey";

}  // namespace

bool DropbearPeer::Available(std::string* why)
{
    std::string reason;
    if (::access(kDropbear, X_OK) != 0 || ::access(kDropbearKey, X_OK) != 0)
        reason = "dropbear is not installed (run scripts/setup-peers.sh as root)";
    else if (!SshdPeer::Available(&reason)) {
        // The same test user and the same need for root.
    }
    if (why) *why = reason;
    return reason.empty();
}

DropbearPeer::DropbearPeer(DropbearOptions o)
{
    if (!Available(&m_startError)) return;
    m_pFolder = std::make_unique<peer::CTempFolder>("fdx-dropbear");
    if (m_pFolder->path().empty()) {
        m_startError = "cannot create a temporary folder";
        return;
    }
    const std::vector<std::string> keygen{kDropbearKey, "-t", o.hostKeyType, "-f", hostKeyPath()};
    if (!peer::RunQuietly(keygen)) {
        m_startError = "dropbearkey failed for key type " + o.hostKeyType;
        return;
    }
    for (int attempt = 0; attempt < 3 && !m_bRunning; ++attempt) m_bRunning = Start(o);
}

bool DropbearPeer::Start(const DropbearOptions& o)
{
    m_nPort = peer::FreeLoopbackPort();
    if (m_nPort == 0) {
        m_startError = "no free port";
        return false;
    }
    const std::string folder = m_pFolder->path();
    const std::string log = folder + "/dropbear.log";
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    // -F: stay in the foreground; -E: messages to standard error (the log).
    std::vector<std::string> argv{kDropbear, "-F", "-E", "-p", "127.0.0.1:" + std::to_string(m_nPort), "-r",
                                  hostKeyPath(), "-P", folder + "/dropbear.pid"};
    argv.insert(argv.end(), o.extraArgs.begin(), o.extraArgs.end());
    return m_process.Start(argv, log, o.bindMounts, m_nPort, log, &m_startError);
}

std::string DropbearPeer::hostKeyPath() const
{
    return m_pFolder && !m_pFolder->path().empty() ? m_pFolder->path() + "/host_key" : std::string();
}

std::string DropbearPeer::logText() const
{
    std::string text = m_pFolder ? peer::ReadWholeFile(m_pFolder->path() + "/dropbear.log") : std::string();
    if (!m_startError.empty()) text = m_startError + "\n" + text;
    return text;
}
