#include "platform/terminal_text.h"

#include <cstdio>

#include "platform/text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendVisible(std::u32string& out, char32_t c)
{
    for (char byte : VisibleForm(c)) out.push_back(static_cast<unsigned char>(byte));
}

}  // namespace

bool IsInvisibleFormat(char32_t c)
{
    return c == 0x00AD || c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x206F) ||
           c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE0000 && c <= 0xE007F);
}

bool IsShownVisibly(char32_t c, ELineFeeds lineFeeds)
{
    if (c == U'\t') return false;
    if (c == U'\n') return lineFeeds == ELineFeeds::Shown;
    // Controls, and every character that takes no room of its own: bidi
    // controls, zero-width spaces and joiners, the marks LRM/RLM/ALM, tags.
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || IsInvisibleFormat(c);
}

// "\xHH" for the ASCII controls, "\uHHHH" beyond them.
std::string VisibleForm(char32_t c)
{
    char text[16];
    const int length = c < 0x80 ? std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(c))
                                : std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
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
