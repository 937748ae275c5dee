#include "platform/random_id.h"
#include "platform/text.h"

#include <cstdint>
#include <random>

std::string NewRandomId()
{
    // The standard library's device draws on the system's random source.
    std::random_device device;
    std::uint8_t bytes[16] = {};
    for (std::size_t i = 0; i < sizeof bytes; i += 4) {
        const std::uint32_t word = device();
        for (std::size_t j = 0; j < 4; ++j) bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
    return HexLower(bytes, sizeof bytes);
}

bool IsRandomId(std::string_view text)
{
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}
