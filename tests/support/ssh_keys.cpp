#include "tests/support/ssh_keys.h"

#include "tests/support/test_helpers.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

std::string MakeKey(const std::string& path, const std::string& type, const std::string& bits,
                    const std::string& passphrase)
{
    std::string command = "ssh-keygen -q -C '' -a 2 -t " + type + " -N '" + passphrase + "' -f " + path;
    if (!bits.empty()) command += " -b " + bits;
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return {};
    return path;
}

void Authorize(const std::string& key, const std::string& authorizedKeys)
{
    std::ifstream pub(key + ".pub");
    std::string line;
    std::getline(pub, line);
    std::ofstream(authorizedKeys, std::ios::app) << line << "\n";
    ::chmod(authorizedKeys.c_str(), 0644);
}

CTestAgent::CTestAgent(const std::string& socket) : m_strSocket(socket)
{
    const std::string out = ShellOutput("ssh-agent -s -a " + socket + " 2>/dev/null");
    const std::size_t at = out.find("SSH_AGENT_PID=");
    if (at != std::string::npos) m_nPid = std::atoi(out.c_str() + at + 14);
}

CTestAgent::~CTestAgent()
{
    if (m_nPid > 0) ::kill(m_nPid, SIGTERM);
}

bool CTestAgent::Add(const std::string& key) const
{
    const std::string add = "SSH_AUTH_SOCK=" + m_strSocket + " SSH_ASKPASS_REQUIRE=never ssh-add -q " + key;
    return std::system((add + " </dev/null >/dev/null 2>&1").c_str()) == 0;
}
