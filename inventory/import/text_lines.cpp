#include "inventory/import/text_lines.h"

#include "inventory/import/host_record.h"

namespace hostimport {

std::vector<STextLine> SplitLines(std::string_view text)
{
    std::vector<STextLine> lines;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        STextLine entry;
        entry.number = ++number;
        entry.tooLong = line.size() > kMaxLine || line.find('\0') != std::string_view::npos;
        entry.text = line.substr(0, kMaxLine);
        lines.push_back(entry);
    }
    return lines;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool SplitWords(std::string_view text, std::vector<std::string>& words)
{
    words.clear();
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\'' || text[i + 1] == '\\')) {
            word += text[++i];
            inWord = true;
            continue;
        }
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            else
                word += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        word += c;
        inWord = true;
    }
    if (quote != 0) return false;
    if (inWord) words.push_back(std::move(word));
    return true;
}

namespace {
char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool SameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i])) return false;
    return true;
}

std::string LowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = LowerChar(c);
    return out;
}

bool ParsePort(std::string_view text, int& port)
{
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

bool PlainValue(std::string_view text)
{
    if (text.empty() || text.size() > 255) return false;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 32 || u == 127 || c == '"' || c == '\'' || c == '\\') return false;
    }
    return true;
}

namespace {
bool Base64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=';
}
}  // namespace

std::string Excerpt(std::string_view text)
{
    constexpr std::size_t kMinRun = 20;
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() <= kMaxExcerpt;) {
        std::size_t end = i;
        bool coded = false;
        while (end < text.size() && Base64Char(text[end])) {
            const char c = text[end++];
            coded = coded || (c >= '0' && c <= '9') || c == '+' || c == '/';
        }
        if (end - i >= kMinRun && coded) {
            out += "[...]";
            i = end;
        } else if (end > i) {
            out += text.substr(i, end - i);
            i = end;
        } else {
            out += text[i++];
        }
    }
    if (out.size() > kMaxExcerpt) {
        // Cut on a character's first byte, so no UTF-8 sequence is split.
        std::size_t cut = kMaxExcerpt - 3;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        out += "...";
    }
    return out;
}

}  // namespace hostimport
