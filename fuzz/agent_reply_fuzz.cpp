// Feeds arbitrary bytes to the parsers of a key agent's replies.
#include <cstddef>
#include <cstdint>

#include "sshcore/agent_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<sshcore::SAgentIdentity> keys;
    if (sshcore::ParseAgentIdentities({data, size}, keys))
        for (const auto &key : keys) (void)key.TypeName();
    std::vector<std::uint8_t> signature;
    (void)sshcore::ParseAgentSignature({data, size}, signature);
    return 0;
}
