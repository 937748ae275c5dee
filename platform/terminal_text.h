// The one filter for text on its way to a terminal. Text that came from a
// host, a server or an imported file must never move the cursor, clear the
// screen, retitle the window or reorder what is shown: every control
// character and every bidirectional override or isolate is written out
// visibly instead (ESC as "\x1b", U+202E as "\u202e"), and malformed
// encodings become U+FFFD. Machine formats such as JSON keep the exact text
// and escape it on their own; this is for people's terminals only.
#pragma once

#include <string>
#include <string_view>

// Whether a line feed is kept (for text that is multi-line by nature, such as
// a message box's text or an error a server sent) or shown as "\n" (for a
// name or a value that is shown on one line).
enum class ELineFeeds { Shown, Kept };

// True when the character is written out visibly: C0 controls other than
// tab (and line feed when kept), DEL, C1 controls, and the bidirectional
// embeddings, overrides and isolates (U+202A-U+202E, U+2066-U+2069).
bool IsShownVisibly(char32_t c, ELineFeeds lineFeeds);

// True for the invisible format characters that can hide or reorder text
// where bidirectional overrides are not enough: the implicit direction marks
// (U+200E, U+200F, U+061C), zero-width spaces and joiners, word joiners and
// invisible operators, the byte order mark, the soft hyphen, interlinear
// annotation marks and tag characters. Other than IsShownVisibly these may
// be legitimate in a terminal's text; a report shows them.
bool IsInvisibleFormat(char32_t c);

// The visible form a character is written in: "\x1b" below U+0080, else
// "\u202e" (more digits beyond U+FFFF).
std::string VisibleForm(char32_t c);

// The filter over code points; unpaired surrogates and values beyond
// U+10FFFF become U+FFFD.
std::u32string TerminalCodePoints(std::u32string_view text, ELineFeeds lineFeeds = ELineFeeds::Shown);

// UTF-8 text (each malformed byte becomes U+FFFD) made safe, as UTF-8.
std::string TerminalText(std::string_view text, ELineFeeds lineFeeds = ELineFeeds::Shown);
// UTF-16 text (unpaired surrogates become U+FFFD) made safe, as UTF-8.
std::string TerminalText(std::u16string_view text, ELineFeeds lineFeeds = ELineFeeds::Shown);
// Literal text only: keeps a string literal from choosing the UTF-16 form.
inline std::string TerminalText(const char* text, ELineFeeds lineFeeds = ELineFeeds::Shown)
{
    return TerminalText(std::string_view(text), lineFeeds);
}
