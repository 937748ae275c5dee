#include "console/tui/tui_text.h"

#include <algorithm>
#include <utility>

#include "platform/text.h"

namespace fdx::tui {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool InRanges(char32_t c, const std::pair<char32_t, char32_t>* ranges, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if (c >= ranges[i].first && c <= ranges[i].second) return true;
    return false;
}

constexpr std::pair<char32_t, char32_t> kCombining[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
};

constexpr std::pair<char32_t, char32_t> kWide[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F}, {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
};

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t'; }

// The platform's terminal filter; a tab, which would jump, becomes a space.
std::wstring FilteredForTerminal(std::u32string_view points, ELineFeeds lineFeeds)
{
    const std::u32string shown = TerminalCodePoints(points, lineFeeds);
    std::wstring out(shown.begin(), shown.end());
    for (wchar_t& c : out)
        if (c == L'\t') c = L' ';
    return out;
}

}  // namespace

std::wstring DecodeUtf16(std::u16string_view text)
{
    const std::u32string points = Utf16ToCodePoints(text);
    return std::wstring(points.begin(), points.end());
}

std::wstring ToTerminal(std::u16string_view text, ELineFeeds lineFeeds)
{
    return FilteredForTerminal(Utf16ToCodePoints(text), lineFeeds);
}

std::wstring OneTerminalLine(std::wstring_view text)
{
    return FilteredForTerminal(std::u32string(text.begin(), text.end()), ELineFeeds::Shown);
}

std::u16string FromTerminal(std::wstring_view text)
{
    std::u16string out;
    // Room for a surrogate pair each: the buffer never moves, so no copy of
    // a typed secret is left behind in freed memory.
    out.reserve(2 * text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<char32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

int CharColumns(wchar_t wc)
{
    auto c = static_cast<char32_t>(wc);
    if (InRanges(c, kCombining, std::size(kCombining))) return 0;
    if (InRanges(c, kWide, std::size(kWide))) return 2;
    return 1;
}

int TextColumns(std::wstring_view text)
{
    int n = 0;
    for (wchar_t c : text) n += CharColumns(c);
    return n;
}

std::wstring FitColumns(std::wstring_view text, int columns, bool ellipsis, bool ascii)
{
    if (columns <= 0) return {};
    if (TextColumns(text) <= columns) return std::wstring(text);
    const int budget = ellipsis ? columns - 1 : columns;
    std::wstring out;
    int used = 0;
    for (wchar_t c : text) {
        const int w = CharColumns(c);
        if (used + w > budget) break;
        out.push_back(c);
        used += w;
    }
    if (ellipsis) {
        while (used < budget) {  // a wide character did not fit: fill the gap
            out.push_back(L' ');
            ++used;
        }
        out.push_back(ascii ? L'~' : L'\u2026');
    }
    return out;
}

std::wstring PadColumns(std::wstring_view text, int columns, bool ellipsis, bool ascii)
{
    std::wstring out = FitColumns(text, columns, ellipsis, ascii);
    int used = TextColumns(out);
    if (used < columns) out.append(static_cast<std::size_t>(columns - used), L' ');
    return out;
}

std::wstring SkipColumns(std::wstring_view text, int skip)
{
    if (skip <= 0) return std::wstring(text);
    int used = 0;
    std::size_t i = 0;
    for (; i < text.size() && used < skip; ++i) used += CharColumns(text[i]);
    std::wstring out;
    if (used > skip) out.append(static_cast<std::size_t>(used - skip), L' ');
    // Combining marks of a character that was skipped go with it.
    while (i < text.size() && CharColumns(text[i]) == 0) ++i;
    out.append(text.substr(i));
    return out;
}

std::vector<std::wstring> WrapText(std::wstring_view text, int columns)
{
    columns = std::max(columns, 1);
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(L'\n', start);
        std::wstring_view para = text.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start);
        // Wrap one paragraph.
        std::wstring line;
        int lineCols = 0;
        bool any = false;
        std::size_t i = 0;
        while (i < para.size()) {
            if (IsSpace(para[i])) {
                std::size_t j = i;
                while (j < para.size() && IsSpace(para[j])) ++j;
                if (j == para.size()) break;  // trailing spaces are dropped
                // The spaces stay only when the next word fits behind them.
                std::size_t k = j;
                while (k < para.size() && !IsSpace(para[k])) ++k;
                const int spaceCols = static_cast<int>(j - i);
                const int wordCols = TextColumns(para.substr(j, k - j));
                if (lineCols > 0 && lineCols + spaceCols + wordCols > columns) {
                    lines.push_back(std::move(line));
                    line.clear();
                    lineCols = 0;
                    any = true;
                } else {
                    line.append(para.substr(i, j - i));
                    lineCols += spaceCols;
                }
                i = j;
                continue;
            }
            std::size_t k = i;
            while (k < para.size() && !IsSpace(para[k])) ++k;
            std::wstring_view word = para.substr(i, k - i);
            int wordCols = TextColumns(word);
            if (lineCols > 0 && lineCols + wordCols > columns) {
                lines.push_back(std::move(line));
                line.clear();
                lineCols = 0;
                any = true;
            }
            // A word longer than a line is split.
            for (wchar_t c : word) {
                const int w = CharColumns(c);
                if (lineCols + w > columns && lineCols > 0) {
                    lines.push_back(std::move(line));
                    line.clear();
                    lineCols = 0;
                }
                line.push_back(c);
                lineCols += w;
            }
            i = k;
        }
        if (!line.empty() || !any) lines.push_back(std::move(line));
        if (end == std::wstring_view::npos) break;
        start = end + 1;
    }
    return lines;
}

std::vector<std::wstring> WrapIndented(std::wstring_view text, int columns)
{
    columns = std::max(columns, 1);
    std::vector<std::wstring> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(L'\n', start);
        std::wstring_view line = text.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start);
        std::size_t indent = 0;
        while (indent < line.size() && line[indent] == L' ') ++indent;
        std::size_t marker = indent;
        if (marker + 1 < line.size() && (line[marker] == L'-' || line[marker] == L'*' || line[marker] == L'\u2022') &&
            line[marker + 1] == L' ') {
            marker += 2;
        } else {
            std::size_t d = marker;
            while (d < line.size() && line[d] >= L'0' && line[d] <= L'9') ++d;
            if (d > marker && d + 1 < line.size() && line[d] == L'.' && line[d + 1] == L' ') marker = d + 2;
        }
        // A hanging indent that leaves too little room is dropped.
        const int hang = static_cast<int>(marker) * 2 <= columns ? static_cast<int>(marker) : 0;
        std::vector<std::wstring> pieces = WrapText(line.substr(static_cast<std::size_t>(hang)), columns - hang);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            std::wstring prefix = i == 0 ? std::wstring(line.substr(0, static_cast<std::size_t>(hang)))
                                         : std::wstring(static_cast<std::size_t>(hang), L' ');
            out.push_back(prefix + pieces[i]);
        }
        if (end == std::wstring_view::npos) break;
        start = end + 1;
    }
    return out;
}

std::wstring Utf8ToTerminal(std::string_view text, ELineFeeds lineFeeds) { return ToTerminal(AnsiToWide(text), lineFeeds); }

}  // namespace fdx::tui
