// The user's known_hosts file as both engines read it, looked up for a few
// host names and a key of each kind: any bytes, no crash, and a verdict that
// never says matched and mismatched at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sshcore/known_hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto entries = sshcore::ParseKnownHosts(text);
    for (const auto& entry : entries)
        if (entry.blob.empty() || entry.line < 1) std::abort();
    const std::vector<std::uint8_t> blob = entries.empty() ? std::vector<std::uint8_t>{1, 2, 3} : entries.front().blob;
    for (const char* host : {"srv", "127.0.0.1", "a.example.com"}) {
        for (std::uint32_t port : {22u, 2222u}) {
            const auto verdict = sshcore::CheckKnownHosts(entries, host, port, "ssh-ed25519", blob);
            if (verdict.matched && verdict.mismatched) std::abort();
        }
    }
    return 0;
}
