// Fuzz target: a jump route. Any input is refused or gives at most two hops,
// each with a host and a port in range, whose written form reads back to
// the same hops.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scan/jump_route.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<SJumpHop> hops;
    if (!ParseJumpRoute(text, hops)) return 0;
    if (hops.size() > kMaxJumpHops || size > kMaxJumpRouteBytes) std::abort();
    for (const SJumpHop& hop : hops)
        if (hop.host.empty() || hop.port < 1 || hop.port > 65535) std::abort();
    std::vector<SJumpHop> again;
    if (!ParseJumpRoute(FormatJumpRoute(hops), again) || again.size() != hops.size()) std::abort();
    for (std::size_t i = 0; i < hops.size(); ++i)
        if (again[i].user != hops[i].user || again[i].host != hops[i].host || again[i].port != hops[i].port)
            std::abort();
    return 0;
}
