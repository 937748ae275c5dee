#include "platform/terminal_text.h"

#include <cstdio>

#include "platform/text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The visible form: "\xHH" for the ASCII controls, "\uHHHH" beyond them.
void AppendVisible(std::u32string& out, char32_t c)
{
    char text[12];
    const int length = c < 0x80 ? std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(c))
                                : std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
    for (int i = 0; i < length; ++i) out.push_back(static_cast<unsigned char>(text[i]));
}

}  // namespace

bool IsShownVisibly(char32_t c, ELineFeeds lineFeeds)
{
    if (c == U'\t') return false;
    if (c == U'\n') return lineFeeds == ELineFeeds::Shown;
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::u32string TerminalCodePoints(std::u32string_view text, ELineFeeds lineFeeds)
{
    std::u32string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
        if (IsShownVisibly(c, lineFeeds)) {
            AppendVisible(out, c);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string TerminalText(std::u16string_view text, ELineFeeds lineFeeds)
{
    return CodePointsToUtf8(TerminalCodePoints(Utf16ToCodePoints(text), lineFeeds));
}

std::string TerminalText(std::string_view text, ELineFeeds lineFeeds) { return TerminalText(AnsiToWide(text), lineFeeds); }
