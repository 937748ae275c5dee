#include "console/html_text.h"

#include <cctype>
#include <cstdint>

namespace {

// Longest tag or character reference looked at; longer runs are text.
constexpr std::size_t kMaxTag = 4096;
constexpr std::size_t kMaxReference = 12;

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t code)
{
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Decodes "&...;" at html[pos]; returns the characters consumed (0: not a
// reference, keep the "&" as text).
std::size_t DecodeReference(std::string_view html, std::size_t pos, std::string& out)
{
    const std::size_t end = html.find(';', pos);
    if (end == std::string_view::npos || end - pos > kMaxReference || end == pos + 1) return 0;
    const std::string_view name = html.substr(pos + 1, end - pos - 1);
    if (name[0] == '#') {
        const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        std::uint32_t code = 0;
        for (char c : digits) {
            const int value = std::isdigit(static_cast<unsigned char>(c))                 ? c - '0'
                              : hex && std::isxdigit(static_cast<unsigned char>(c)) ? std::tolower(c) - 'a' + 10
                                                                                        : -1;
            if (value < 0) return 0;
            code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
            if (code > 0x10FFFF) code = 0x110000;  // stays invalid, never wraps
        }
        AppendUtf8(out, code);
        return end - pos + 1;
    }
    static const struct {
        std::string_view name;
        std::uint32_t code;
    } kNamed[] = {{"amp", '&'},     {"lt", '<'},      {"gt", '>'},      {"quot", '"'},    {"apos", '\''},
                  {"nbsp", ' '},    {"copy", 0xA9},   {"reg", 0xAE},    {"mdash", 0x2014}, {"ndash", 0x2013},
                  {"hellip", 0x2026}, {"laquo", 0xAB}, {"raquo", 0xBB}};
    for (const auto& entry : kNamed) {
        if (name == entry.name) {
            AppendUtf8(out, entry.code);
            return end - pos + 1;
        }
    }
    return 0;
}

// The value of attribute `name` inside a tag's text, or empty.
std::string Attribute(std::string_view tag, std::string_view name)
{
    const std::string lower = Lower(tag);
    std::size_t at = 0;
    while ((at = lower.find(name, at)) != std::string::npos) {
        const bool startsWord = at > 0 && std::isspace(static_cast<unsigned char>(lower[at - 1]));
        std::size_t pos = at + name.size();
        at = pos;
        if (!startsWord) continue;
        while (pos < tag.size() && std::isspace(static_cast<unsigned char>(tag[pos]))) ++pos;
        if (pos >= tag.size() || tag[pos] != '=') continue;
        ++pos;
        while (pos < tag.size() && std::isspace(static_cast<unsigned char>(tag[pos]))) ++pos;
        if (pos >= tag.size()) return {};
        const char quote = tag[pos];
        if (quote == '"' || quote == '\'') {
            const std::size_t close = tag.find(quote, pos + 1);
            return std::string(tag.substr(pos + 1, close == std::string_view::npos ? std::string_view::npos
                                                                                     : close - pos - 1));
        }
        std::size_t stop = pos;
        while (stop < tag.size() && !std::isspace(static_cast<unsigned char>(tag[stop])) && tag[stop] != '>') ++stop;
        return std::string(tag.substr(pos, stop - pos));
    }
    return {};
}

// Collects text with collapsed white space and controlled line breaks.
class TextBuilder {
public:
    void Text(std::string_view text)
    {
        for (char c : text) {
            if (std::isspace(static_cast<unsigned char>(c))) {
                m_pendingSpace = !m_out.empty() && m_out.back() != '\n';
                continue;
            }
            if (m_pendingSpace) m_out.push_back(' ');
            m_pendingSpace = false;
            m_out.push_back(c);
        }
    }
    // Ends the current line; `blank` leaves an empty line after it.
    void Break(bool blank)
    {
        m_pendingSpace = false;
        if (m_out.empty()) return;
        if (m_out.back() != '\n') m_out.push_back('\n');
        if (blank && (m_out.size() < 2 || m_out[m_out.size() - 2] != '\n')) m_out.push_back('\n');
    }
    std::string Finish()
    {
        while (!m_out.empty() && (m_out.back() == '\n' || m_out.back() == ' ')) m_out.pop_back();
        if (!m_out.empty()) m_out.push_back('\n');
        return std::move(m_out);
    }

private:
    std::string m_out;
    bool m_pendingSpace = false;
};

}  // namespace

std::string HtmlToText(std::string_view html)
{
    TextBuilder text;
    std::string skipUntil;  // closing tag that ends a skipped element
    std::size_t pos = 0;
    while (pos < html.size()) {
        const char c = html[pos];
        if (c == '<') {
            if (html.compare(pos, 4, "<!--") == 0) {
                const std::size_t end = html.find("-->", pos + 4);
                pos = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            const std::size_t end = html.find('>', pos + 1);
            if (end == std::string_view::npos || end - pos > kMaxTag) {
                if (skipUntil.empty()) text.Text("<");
                ++pos;
                continue;
            }
            const std::string_view tag = html.substr(pos + 1, end - pos - 1);
            pos = end + 1;
            const bool closing = !tag.empty() && tag[0] == '/';
            const std::size_t start = closing ? 1 : 0;
            std::size_t stop = start;
            while (stop < tag.size() && std::isalnum(static_cast<unsigned char>(tag[stop]))) ++stop;
            const std::string name = (closing ? "/" : "") + Lower(tag.substr(start, stop - start));
            if (!skipUntil.empty()) {
                if (name == skipUntil) skipUntil.clear();
                continue;
            }
            if (name == "script" || name == "style" || name == "title") {
                skipUntil = "/" + name;
            } else if (name == "br") {
                text.Break(false);
            } else if (name == "p" || name == "/p" || name == "div" || name == "/div" || name == "ul" ||
                       name == "/ul" || name == "ol" || name == "/ol" || name == "table" || name == "/table" ||
                       (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') ||
                       (name.size() == 3 && name[0] == '/' && name[1] == 'h' && name[2] >= '1' && name[2] <= '6')) {
                text.Break(true);
            } else if (name == "li") {
                text.Break(false);
                text.Text("* ");
            } else if (name == "tr" || name == "/li" || name == "/tr") {
                text.Break(false);
            } else if (name == "td" || name == "th") {
                text.Text(" ");
            } else if (name == "img") {
                const std::string alt = Attribute(tag, "alt");
                if (!alt.empty()) text.Text("[" + alt + "]");
            }
            continue;
        }
        if (!skipUntil.empty()) {
            ++pos;
            continue;
        }
        if (c == '&') {
            std::string decoded;
            if (const std::size_t used = DecodeReference(html, pos, decoded); used != 0) {
                text.Text(decoded);
                pos += used;
                continue;
            }
        }
        const std::size_t next = html.find_first_of("<&", pos + 1);
        text.Text(html.substr(pos, (next == std::string_view::npos ? html.size() : next) - pos));
        pos = next == std::string_view::npos ? html.size() : next;
    }
    return text.Finish();
}
