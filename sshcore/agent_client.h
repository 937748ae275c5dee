// A client of the SSH key agent named by SSH_AUTH_SOCK: it lists the
// agent's keys and asks it to sign. An agent that is absent, dead, slow or
// refusing gives no keys or no signature, never an error or a hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sshcore {

struct SAgentIdentity {
    std::vector<std::uint8_t> publicBlob;
    std::string comment;
    std::string TypeName() const; // the blob's leading name
};

// The signature flags of a sign request for RSA keys.
constexpr std::uint32_t kAgentRsaSha256 = 2;
constexpr std::uint32_t kAgentRsaSha512 = 4;

// The most an agent's reply may hold, and the most keys taken from it.
constexpr std::size_t kMaxAgentReply = 256 * 1024;
constexpr std::size_t kMaxAgentKeys = 64;

// The reply parsers (the bytes after the length): false for a failure
// reply or anything malformed.
bool ParseAgentIdentities(std::span<const std::uint8_t> reply, std::vector<SAgentIdentity> &keys);
bool ParseAgentSignature(std::span<const std::uint8_t> reply, std::vector<std::uint8_t> &signature);

class CAgentClient {
public:
    // The socket's path; empty: no agent. Each exchange must end within `limit`.
    explicit CAgentClient(std::string socketPath, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // The agent of SSH_AUTH_SOCK, or none when it is not set.
    static CAgentClient FromEnvironment();

    bool Present() const { return !m_strPath.empty(); }
    std::vector<SAgentIdentity> Identities() const;
    // The SSH signature blob, or empty when the agent does not sign.
    std::vector<std::uint8_t> Sign(std::span<const std::uint8_t> publicBlob, std::span<const std::uint8_t> data,
                                   std::uint32_t flags) const;

private:
    bool Exchange(const std::vector<std::uint8_t> &request, std::vector<std::uint8_t> &reply) const;
    std::string m_strPath;
    std::chrono::milliseconds m_limit;
};

} // namespace sshcore
