// Text helpers of the terminal face: UTF-16 to terminal characters, the
// number of columns a character takes, cutting, padding and word wrapping.
// Pure functions; nothing here touches the terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal_text.h"

namespace fdx::tui {

// UTF-16 to UTF-32 (wchar_t is 32 bits on Linux); unpaired surrogates
// become U+FFFD, everything else is kept as it is.
std::wstring DecodeUtf16(std::u16string_view text);
// The same, made safe to print through the platform's terminal filter
// (control characters and bidirectional overrides written out visibly, a line
// feed kept only for multi-line text); a tab becomes a space.
std::wstring ToTerminal(std::u16string_view text, ELineFeeds lineFeeds = ELineFeeds::Shown);
// UTF-32 back to UTF-16 (for text the user typed).
std::u16string FromTerminal(std::wstring_view text);

// Columns one character takes: 0 for combining marks, 2 for wide East Asian
// and emoji characters, 1 otherwise.
int CharColumns(wchar_t c);
int TextColumns(std::wstring_view text);

// The longest prefix of `text` that fits in `columns`; when the text is cut
// and `ellipsis` is set, its last column becomes "…" (or "~" in ASCII mode).
std::wstring FitColumns(std::wstring_view text, int columns, bool ellipsis = true, bool ascii = false);
// `text` cut to `columns` and padded with spaces to exactly that many.
std::wstring PadColumns(std::wstring_view text, int columns, bool ellipsis = true, bool ascii = false);
// The part of `text` that starts at display column `skip` (a wide character
// cut in half becomes a space).
std::wstring SkipColumns(std::wstring_view text, int skip);

// Word wrap to `columns` (at least 1). Explicit "\n" breaks a line; a word
// longer than a line is split. Runs of spaces between words collapse only
// where a line breaks. An empty text gives one empty line.
std::vector<std::wstring> WrapText(std::wstring_view text, int columns);

// Wraps text line by line like WrapText, but a line's continuation keeps
// its indent, and the item marker of a list line ("- ", "* ", "\u2022 ",
// "12. ") hangs: its text lines up after the marker.
std::vector<std::wstring> WrapIndented(std::wstring_view text, int columns);

// UTF-8 to terminal characters the same way (malformed bytes become U+FFFD).
std::wstring Utf8ToTerminal(std::string_view text, ELineFeeds lineFeeds = ELineFeeds::Shown);
// Text already in terminal characters filtered once more (line feeds shown):
// what is drawn on one line never holds a character the terminal acts on.
std::wstring OneTerminalLine(std::wstring_view text);

}  // namespace fdx::tui
