// Fuzz target: a host node's endpoint and picture record as its data object
// gives them. Any input is refused or gives a port of 0-65535 and an address
// no longer than the bytes allow; a picture record says sudo only when it is
// long enough to carry the flags.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "console/node_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<HostPicture> picture = ParseHostPicture(std::span(data, size));
    if (picture.has_value() != (size >= 4)) std::abort();
    if (picture && picture->sudo.has_value() != (size >= 8)) std::abort();
    // A login method only from the flags' second byte, and only a known one.
    if (picture && picture->loginMethod && (size < 8 || data[5] == 0 || data[5] > 3)) std::abort();
    const std::optional<HostEndpoint> endpoint = ParseHostEndpoint(std::span(data, size));
    if (!endpoint) return 0;
    if (size < 4 || endpoint->port < 0 || endpoint->port > 65535) std::abort();
    if (endpoint->address.size() > (size - 4) / 2) std::abort();
    for (char16_t unit : endpoint->address)
        if (unit == u'\0') std::abort();
    return 0;
}
