// Fuzz target: a host node's endpoint and picture record as its data object
// gives them. Any input is refused or gives a port of 0-65535 and an address
// no longer than the bytes allow; a picture record says sudo only when it is
// long enough to carry the flags. A host's tree is refused or reads whole,
// no deeper than its bound and with no more text than the bytes hold.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "console/node_data.h"

namespace {

std::size_t Units(const std::vector<FleetNode>& nodes, std::size_t depth)
{
    if (depth > kMaxHostTreeDepth + 1) std::abort();
    std::size_t units = 0;
    for (const FleetNode& node : nodes) {
        units += node.name.size() + node.hwClass.size() + Units(node.children, depth + 1);
        for (const FleetRow& row : node.rows) units += row.first.size() + row.second.size();
    }
    return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<HostPicture> picture = ParseHostPicture(std::span(data, size));
    if (picture.has_value() != (size >= 4)) std::abort();
    if (picture && picture->sudo.has_value() != (size >= 8)) std::abort();
    // A login method only from the flags' second byte, and only a known one.
    if (picture && picture->loginMethod && (size < 8 || data[5] == 0 || data[5] > 3)) std::abort();
    if (const auto tree = ParseHostTree(std::span(data, size)); tree && 2 * Units(*tree, 0) > size) std::abort();
    // A failure's text only with its time, and never longer than the bytes.
    if (const auto result = ParseHostResult(std::span(data, size));
        result && (size < 16 || result->failedAt.has_value() == result->failure.empty() ||
                   result->failure.size() > (size - 16) / 2))
        std::abort();
    const std::optional<HostEndpoint> endpoint = ParseHostEndpoint(std::span(data, size));
    if (!endpoint) return 0;
    if (size < 4 || endpoint->port < 0 || endpoint->port > 65535) std::abort();
    if (endpoint->address.size() > (size - 4) / 2) std::abort();
    for (char16_t unit : endpoint->address)
        if (unit == u'\0') std::abort();
    return 0;
}
