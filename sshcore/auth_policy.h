// How both engines log in with a key: which signature algorithm a key signs
// with for a server, what the agent is asked for, and when an RSA key that
// the server refused is asked about again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sshcore {

// The signature algorithm a key of `keyType` uses with a server whose
// server-sig-algs extension is `serverSigAlgs`: RSA keys take rsa-sha2-512,
// then rsa-sha2-256, when the server lists them, and ssh-rsa when it lists
// neither or when `legacyRsa` asks for it; other keys sign as their type.
std::string SignatureAlgorithmFor(std::string_view keyType, std::string_view serverSigAlgs, bool legacyRsa);

// The agent's flags for a signature of that algorithm.
std::uint32_t AgentSignFlags(std::string_view algorithm);

// Whether a key the server refused on query, offered with `algorithm`, is
// offered once more with ssh-rsa: sshd names every rsa-sha2 algorithm in
// server-sig-algs even when its accepted algorithms list only ssh-rsa.
bool RetryAsLegacyRsa(std::string_view algorithm);

}  // namespace sshcore
