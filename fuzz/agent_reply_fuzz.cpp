// Feeds arbitrary bytes to the parsers of a key agent's replies.
#include <cstddef>
#include <cstdint>

#include "ssh2/crypto/agent_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<sshcrypto::SAgentIdentity> keys;
    if (sshcrypto::ParseAgentIdentities({data, size}, keys))
        for (const auto &key : keys) (void)key.TypeName();
    std::vector<std::uint8_t> signature;
    (void)sshcrypto::ParseAgentSignature({data, size}, signature);
    return 0;
}
