#include <gtest/gtest.h>

#include <string>

#include "platform/terminal_text.h"

namespace {

struct FilterCase {
    const char* what;
    std::string in;
    std::string out;
    ELineFeeds lineFeeds = ELineFeeds::Shown;
};

const FilterCase kCases[] = {
    // What a terminal would act on is written out.
    {"escape sequence", "a\x1b[2Jb", "a\\x1b[2Jb"},
    {"window title", "\x1b]0;title\x07", "\\x1b]0;title\\x07"},
    {"NUL", std::string("a\0b", 3), "a\\x00b"},
    {"carriage return", "ok\rforged", "ok\\x0dforged"},
    {"backspace", "x\by", "x\\x08y"},
    {"unit separator", "\x1f", "\\x1f"},
    {"DEL", "\x7f", "\\x7f"},
    {"C1 CSI", "\xC2\x9B" "31m", "\\u009b31m"},
    {"C1 first and last", "\xC2\x80\xC2\x9F", "\\u0080\\u009f"},
    {"bidi embedding", "\xE2\x80\xAA", "\\u202a"},
    {"bidi override", "txt.\xE2\x80\xAE" "exe", "txt.\\u202eexe"},
    {"bidi isolates", "\xE2\x81\xA6\xE2\x81\xA9", "\\u2066\\u2069"},
    // Characters that take no room hide text between look-alike names.
    {"zero-width space and joiner", "ad\xE2\x80\x8Bmin\xE2\x80\x8D", "ad\\u200bmin\\u200d"},
    {"marks LRM, RLM, ALM", "\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", "\\u200e\\u200f\\u061c"},
    {"byte order mark, soft hyphen, tag", "\xEF\xBB\xBF\xC2\xAD\xF3\xA0\x80\x81", "\\ufeff\\u00ad\\ue0001"},
    // Line feeds: shown in one-line text, kept in multi-line text.
    {"line feed in a value", "a\nb", "a\\x0ab"},
    {"line feed in a message", "a\nb", "a\nb", ELineFeeds::Kept},
    {"carriage return in a message", "a\r\nb", "a\\x0d\nb", ELineFeeds::Kept},
    // Kept as they are.
    {"tab", "a\tb", "a\tb"},
    {"plain ASCII", "Intel(R) Xeon(R) ~ {x} \\x1b", "Intel(R) Xeon(R) ~ {x} \\x1b"},
    {"Latin-1 letters", "Caf\xC3\xA9 \xC2\xA0\xC2\xA9", "Caf\xC3\xA9 \xC2\xA0\xC2\xA9"},
    {"right-to-left letters", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"},
    {"neighbours of the invisible ranges", "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x80\x90",
     "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x80\x90"},
    {"CJK and emoji", "\xE4\xB8\xAD \xF0\x9F\x98\x80", "\xE4\xB8\xAD \xF0\x9F\x98\x80"},
    // Malformed UTF-8: one U+FFFD per byte that starts no valid sequence.
    {"lone continuation byte", "a\x80z", "a\xEF\xBF\xBDz"},
    {"truncated sequence", "\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"truncated at the end", "ok\xF0\x9F\x98", "ok\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"overlong ESC", "\xC0\x9B", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"overlong three bytes", "\xE0\x80\x9B", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"encoded surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"lead bytes no sequence has", "\xF8\x80\x80\xFF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"escape hidden after a bad lead", "\xC3\x1b[2J", "\xEF\xBF\xBD\\x1b[2J"},
};

}  // namespace

TEST(TerminalText, FiltersEveryClassOfCharacter)
{
    for (const FilterCase& c : kCases)
        EXPECT_EQ(TerminalText(std::string_view(c.in), c.lineFeeds), c.out) << c.what;
}

TEST(TerminalText, WideTextTakesTheSameWay)
{
    EXPECT_EQ(TerminalText(u"\u001b[1m\u0085\u202e\u00e9", ELineFeeds::Shown), "\\x1b[1m\\u0085\\u202e\xC3\xA9");
    EXPECT_EQ(TerminalText(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(TerminalText(u"\U0001F600\n"), "\xF0\x9F\x98\x80\\x0a");
}

TEST(TerminalText, CodePointsBeyondUnicodeBecomeReplacementCharacters)
{
    EXPECT_EQ(TerminalCodePoints(std::u32string{U'a', char32_t(0x110000), char32_t(0xDFFF), U'\x9b'}),
              std::u32string(U"a\uFFFD\uFFFD\\u009b"));
}

TEST(TerminalText, OutputHoldsNoControlByteWhateverTheInput)
{
    // Every single byte, and every byte after a lead byte: nothing a terminal
    // acts on comes through, in either mode.
    for (int first = 0; first < 256; ++first) {
        for (int second : {0x1b, 0x80, 0x9b, 0xbf}) {
            const std::string in{char(first), char(second), '.'};
            for (ELineFeeds mode : {ELineFeeds::Shown, ELineFeeds::Kept}) {
                const std::string out = TerminalText(std::string_view(in), mode);
                for (unsigned char b : out) {
                    EXPECT_FALSE(b < 0x20 && b != '\t' && !(b == '\n' && mode == ELineFeeds::Kept)) << first;
                    EXPECT_NE(b, 0x7f) << first;
                }
                EXPECT_EQ(out.find("\xC2\x9B"), std::string::npos) << first;
            }
        }
    }
}
