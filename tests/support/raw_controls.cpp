#include "tests/support/raw_controls.h"

#include <cstdio>

std::string FirstRawControl(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto found = [&](const char* what, std::size_t at) {
        char where[96];
        std::snprintf(where, sizeof where, "%s at %zu", what, at);
        return std::string(where);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = byte(i);
        if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) return found("an ASCII control", i);
        if (b == 0xC2 && text.size() - i > 1 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F)
            return found("a C1 control", i);
        if (b == 0xE2 && text.size() - i > 2) {
            const unsigned char b1 = byte(i + 1), b2 = byte(i + 2);
            if ((b1 == 0x80 && b2 >= 0xAA && b2 <= 0xAE) || (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9))
                return found("a bidirectional override", i);
        }
    }
    return {};
}
