#include "sshcore/auth_policy.h"

#include "sshcore/agent_client.h"
#include "sshcore/algorithms.h"

namespace sshcore {

std::string SignatureAlgorithmFor(std::string_view keyType, std::string_view serverSigAlgs, bool legacyRsa)
{
    if (keyType != "ssh-rsa") return std::string(keyType);
    if (!legacyRsa)
        for (const char* name : {"rsa-sha2-512", "rsa-sha2-256"})
            if (NameListContains(serverSigAlgs, name)) return name;
    return "ssh-rsa";
}

std::uint32_t AgentSignFlags(std::string_view algorithm)
{
    if (algorithm == "rsa-sha2-512") return kAgentRsaSha512;
    if (algorithm == "rsa-sha2-256") return kAgentRsaSha256;
    return 0;
}

bool RetryAsLegacyRsa(std::string_view algorithm) { return algorithm == "rsa-sha2-512" || algorithm == "rsa-sha2-256"; }

}  // namespace sshcore
