// Keys and an agent for tests that log in with them: key files made by
// ssh-keygen, authorized for a private server, and a private ssh-agent.
#pragma once

#include <string>

// A key made by ssh-keygen: its path, empty when ssh-keygen failed.
std::string MakeKey(const std::string& path, const std::string& type, const std::string& bits,
                    const std::string& passphrase);

// Appends the key's public half to an authorized_keys file.
void Authorize(const std::string& key, const std::string& authorizedKeys);

// An ssh-agent on a socket of the test's folder, stopped with the object.
class CTestAgent {
public:
    explicit CTestAgent(const std::string& socket);
    ~CTestAgent();
    CTestAgent(const CTestAgent&) = delete;
    CTestAgent& operator=(const CTestAgent&) = delete;
    bool running() const { return m_nPid > 0; }
    // Gives the agent a key file without a passphrase.
    bool Add(const std::string& key) const;

private:
    std::string m_strSocket;
    int m_nPid = 0;
};
