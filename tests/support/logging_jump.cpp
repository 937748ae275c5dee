#include "tests/support/logging_jump.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kPython = "/usr/bin/python3";

}  // namespace

bool CLoggingJump::Available(std::string* why)
{
    const bool ok = std::system((std::string(kPython) + " -c 'import paramiko' 2>/dev/null").c_str()) == 0;
    if (why) *why = ok ? std::string() : std::string(kPython) + " has no paramiko (run scripts/setup-peers.sh as root)";
    return ok;
}

CLoggingJump::CLoggingJump(SLoggingJumpOptions options)
{
    if (!Available(&m_startError)) return;
    m_pFolder = std::make_unique<peer::CTempFolder>("fdx-jumplog");
    if (m_pFolder->path().empty()) {
        m_startError = "cannot create a temporary folder";
        return;
    }
    const std::string script = SourceDir() + "/tests/support/logging_jump.py";
    const std::string errors = m_pFolder->path() + "/stderr.log";
    // The port may be taken between the probe and the server's bind: try again.
    for (int attempt = 0; attempt < 3 && !m_bRunning; ++attempt) {
        m_nPort = peer::FreeLoopbackPort();
        if (m_nPort == 0) {
            m_startError = "no free port";
            return;
        }
        std::vector<std::string> argv{kPython,   script, "--port", std::to_string(m_nPort),
                                      "--log",   m_pFolder->path() + "/offers.log",
                                      "--password", options.password};
        if (options.keyLogins >= 0) {
            argv.push_back("--key-logins");
            argv.push_back(std::to_string(options.keyLogins));
        }
        for (const std::string& key : options.authorizedKeys) {
            argv.push_back("--authorized");
            argv.push_back(key);
        }
        m_bRunning = m_process.Start(argv, errors, {}, m_nPort, errors, &m_startError);
    }
}

CLoggingJump::~CLoggingJump() { m_process.Stop(); }

std::string CLoggingJump::errorText() const
{
    if (!m_pFolder || m_pFolder->path().empty()) return m_startError;
    return m_startError + peer::ReadWholeFile(m_pFolder->path() + "/stderr.log");
}

std::vector<std::string> CLoggingJump::Lines() const
{
    std::vector<std::string> lines;
    if (!m_pFolder) return lines;
    std::ifstream in(m_pFolder->path() + "/offers.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> CLoggingJump::Lines(const std::string& kind) const
{
    std::vector<std::string> lines;
    for (std::string& line : Lines())
        if (line.rfind(kind + " ", 0) == 0) lines.push_back(std::move(line));
    return lines;
}

bool CLoggingJump::Saw(const std::string& text) const
{
    for (const std::string& line : Lines())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

std::string PublicKeyBase64(const std::string& keyPath)
{
    std::ifstream in(keyPath + ".pub");
    std::string type;
    std::string key;
    in >> type >> key;
    return key;
}
