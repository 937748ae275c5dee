// Bounded reading of the text formats an import understands: lines with
// their numbers, and shell-like words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostimport {

struct STextLine {
    int number = 0;
    std::string_view text;  // without its line end
    bool tooLong = false;   // longer than kMaxLine (text is then cut)
};

// Splits text at "\n" (a "\r" before it is dropped). A NUL byte ends no
// line but makes the line unusable: such lines come back tooLong as well.
std::vector<STextLine> SplitLines(std::string_view text);

// Cuts blanks (space, tab) from both ends.
std::string_view Trim(std::string_view text);

// Splits at blanks into words; "..." and '...' group blanks into a word and
// are removed, a backslash before a quote or a backslash keeps it. False on
// an unclosed quote.
bool SplitWords(std::string_view text, std::vector<std::string>& words);

// Case-insensitive ASCII comparison.
bool SameWord(std::string_view a, std::string_view b);
std::string LowerAscii(std::string_view text);

// A decimal port 1..65535; false on anything else.
bool ParsePort(std::string_view text, int& port);

// A host address or login that can be used as it is: not empty, no blank,
// no control character, no quote, at most 255 bytes.
bool PlainValue(std::string_view text);

// A piece of an imported file's text as a note may quote it: runs of 20 or
// more characters that could be base64 (letters, digits, "+", "/", "=")
// and hold a digit, "+" or "/" are shown as "[...]", and the whole is cut
// to kMaxExcerpt bytes (ending in "..."). A file that is not what it was
// taken for (a key, a password database) is never echoed whole.
inline constexpr std::size_t kMaxExcerpt = 48;
std::string Excerpt(std::string_view text);

}  // namespace hostimport
