// The text forms of the string table and the dialog templates, read the
// same way wherever the resources live.
#include "platform/resource_text.h"

#include "platform/text.h"

namespace {

// A cursor over resource text that never reads past its end.
class TextReader {
public:
    explicit TextReader(std::string_view text) : m_text(text) {}

    bool AtEnd() const { return m_pos >= m_text.size(); }

    void SkipBlanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\r')) ++m_pos;
    }

    // Skips the rest of the line and its line feed.
    void NextLine()
    {
        const std::size_t end = m_text.find('\n', m_pos);
        m_pos = end == std::string_view::npos ? m_text.size() : end + 1;
    }

    bool AtLineEnd()
    {
        SkipBlanks();
        return AtEnd() || m_text[m_pos] == '\n' || m_text[m_pos] == '#';
    }

    // A run of characters up to white space.
    std::string_view Word()
    {
        SkipBlanks();
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != ' ' && m_text[m_pos] != '\t' && m_text[m_pos] != '\n' &&
               m_text[m_pos] != '\r')
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

    // A quoted text with the escapes \n, \t, \" and \\.
    bool Quoted(std::string& out)
    {
        SkipBlanks();
        out.clear();
        if (AtEnd() || m_text[m_pos] != '"') return false;
        ++m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
            const char c = m_text[m_pos++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) return false;
            const char e = m_text[m_pos++];
            out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
        return false;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

bool ParseNumber(std::string_view text, int& out)
{
    if (text.empty() || text.size() > 9) return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

}  // namespace

std::map<UINT, std::u16string> ParseStringTable(std::string_view text)
{
    std::map<UINT, std::u16string> table;
    TextReader reader(text);
    while (!reader.AtEnd()) {
        if (!reader.AtLineEnd()) {
            int id = 0;
            std::string entry;
            if (ParseNumber(reader.Word(), id) && reader.Quoted(entry)) table[static_cast<UINT>(id)] = AnsiToWide(entry);
        }
        reader.NextLine();
    }
    return table;
}

bool ParseDialogTemplate(std::string_view source, int id, DialogTemplate& out)
{
    TextReader reader(source);
    bool inside = false;
    while (!reader.AtEnd()) {
        if (reader.AtLineEnd()) {
            reader.NextLine();
            continue;
        }
        const std::string_view word = reader.Word();
        if (!inside) {
            int number = 0;
            std::string title;
            if (word == "dialog" && ParseNumber(reader.Word(), number) && number == id && reader.Quoted(title)) {
                out = DialogTemplate{};
                out.id = id;
                out.title = AnsiToWide(title);
                inside = true;
            }
        } else if (word == "end") {
            return true;
        } else {
            DialogControlTemplate control;
            control.kind = std::string(word);
            std::string text;
            if (!ParseNumber(reader.Word(), control.id) || !reader.Quoted(text)) return false;
            control.text = AnsiToWide(text);
            while (!reader.AtLineEnd()) {
                const std::string_view option = reader.Word();
                if (option == "hidden") control.visible = false;
                else if (option == "focus") control.focus = true;
                else if (option.starts_with("limit=") && !ParseNumber(option.substr(6), control.limit)) return false;
            }
            out.controls.push_back(std::move(control));
        }
        reader.NextLine();
    }
    return false;
}
