#include "inventory/import/yaml_reader.h"

#include "inventory/import/host_record.h"
#include "inventory/import/text_lines.h"

namespace hostimport {

namespace {

constexpr int kMaxDepth = 64;

struct SLine {
    int number = 0;
    std::size_t indent = 0;
    std::string_view content;
};

struct SFailure {
    int line;
    std::string what;
};

// The content without a trailing comment (a "#" after a blank, outside
// quotes).
std::string_view StripComment(std::string_view text)
{
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if ((c == '\\' && quote == '"' && i + 1 < text.size()) ||
                (c == '\'' && quote == '\'' && i + 1 < text.size() && text[i + 1] == '\''))
                ++i;
            else if (c == quote)
                quote = 0;
            continue;
        }
        if ((c == '"' || c == '\'') && (i == 0 || text[i - 1] == ' ' || text[i - 1] == ':')) quote = c;
        if (c == '#' && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '\t')) return Trim(text.substr(0, i));
    }
    return Trim(text);
}

// A quoted scalar at the start of text; `used` is how many bytes it took.
std::string Quoted(std::string_view text, std::size_t& used, int line)
{
    const char quote = text[0];
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == '\'' && c == '\'') {
            if (i + 1 < text.size() && text[i + 1] == '\'') {
                out += '\'';
                ++i;
                continue;
            }
            used = i + 1;
            return out;
        }
        if (quote == '"' && c == '"') {
            used = i + 1;
            return out;
        }
        if (quote == '"' && c == '\\') {
            if (i + 1 >= text.size()) break;
            const char e = text[++i];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            default: throw SFailure{line, std::string("the escape \\") + e + " is not read here"};
            }
            continue;
        }
        out += c;
    }
    throw SFailure{line, "a quote is not closed"};
}

class CParser {
public:
    explicit CParser(std::vector<SLine> lines) : m_lines(std::move(lines)) {}

    SYamlNode Document()
    {
        SYamlNode node;
        if (m_lines.empty()) return node;
        if (m_lines[0].indent != 0) throw SFailure{m_lines[0].number, "the document does not start at the left edge"};
        node = Map(0, 0);
        if (m_next < m_lines.size()) throw SFailure{m_lines[m_next].number, "the indentation does not fit the lines above"};
        return node;
    }

private:
    SYamlNode Map(std::size_t indent, int depth)
    {
        if (depth > kMaxDepth) throw SFailure{m_lines[m_next].number, "nested too deep"};
        SYamlNode node;
        node.kind = SYamlNode::EKind::Map;
        node.line = m_lines[m_next].number;
        while (m_next < m_lines.size() && m_lines[m_next].indent == indent) {
            const SLine& line = m_lines[m_next++];
            SYamlEntry entry;
            entry.line = line.number;
            std::string_view rest = Key(line, entry.key);
            entry.value = Value(line, rest, indent, depth);
            node.entries.push_back(std::move(entry));
        }
        return node;
    }

    // Reads "key:" and returns what follows the colon.
    static std::string_view Key(const SLine& line, std::string& key)
    {
        std::string_view text = line.content;
        if (text.front() == '-' && (text.size() == 1 || text[1] == ' '))
            throw SFailure{line.number, "lists are not read here"};
        std::size_t colon = 0;
        if (text.front() == '"' || text.front() == '\'') {
            std::size_t used = 0;
            key = Quoted(text, used, line.number);
            text.remove_prefix(used);
            text = Trim(text);
            if (text.empty() || text.front() != ':') throw SFailure{line.number, "a key is followed by \":\""};
            colon = 0;
        } else {
            colon = 0;
            for (; colon < text.size(); ++colon)
                if (text[colon] == ':' && (colon + 1 == text.size() || text[colon + 1] == ' ')) break;
            if (colon == text.size()) throw SFailure{line.number, "a line is written \"key: value\""};
            key = std::string(Trim(text.substr(0, colon)));
            if (key.empty()) throw SFailure{line.number, "a key is empty"};
            const char first = key.front();
            if (first == '{' || first == '[' || first == '&' || first == '*' || first == '!' || first == '?')
                throw SFailure{line.number, "complex keys, anchors and tags are not read here"};
        }
        return Trim(text.substr(colon + 1));
    }

    SYamlNode Value(const SLine& line, std::string_view rest, std::size_t indent, int depth)
    {
        SYamlNode node;
        node.line = line.number;
        if (rest.empty()) {
            if (m_next < m_lines.size() && m_lines[m_next].indent > indent) return Map(m_lines[m_next].indent, depth + 1);
            return node;
        }
        if (m_next < m_lines.size() && m_lines[m_next].indent > indent)
            throw SFailure{m_lines[m_next].number, "a value on its own line follows a key that has one"};
        if (rest == "{}") {
            node.kind = SYamlNode::EKind::Map;
            return node;
        }
        if (rest == "~" || rest == "null" || rest == "Null" || rest == "NULL") return node;
        const char first = rest.front();
        if (first == '"' || first == '\'') {
            std::size_t used = 0;
            node.scalar = Quoted(rest, used, line.number);
            if (!Trim(rest.substr(used)).empty()) throw SFailure{line.number, "text after a quoted value"};
            node.kind = SYamlNode::EKind::Scalar;
            return node;
        }
        if (first == '{' || first == '[' || first == '&' || first == '*' || first == '!' || first == '|' || first == '>' ||
            first == '%' || first == '@' || first == '`')
            throw SFailure{line.number, "flow collections, anchors, tags and block scalars are not read here"};
        node.kind = SYamlNode::EKind::Scalar;
        node.scalar = std::string(rest);
        return node;
    }

    std::vector<SLine> m_lines;
    std::size_t m_next = 0;
};

}  // namespace

bool ParseYaml(std::string_view text, SYamlNode& document, int& errorLine, std::string& error)
{
    document = SYamlNode();
    std::vector<SLine> lines;
    try {
        for (const STextLine& line : SplitLines(text)) {
            if (line.tooLong) throw SFailure{line.number, "the line is too long or holds a NUL byte"};
            std::size_t indent = 0;
            while (indent < line.text.size() && line.text[indent] == ' ') ++indent;
            std::string_view content = line.text.substr(indent);
            if (!content.empty() && content.front() == '\t') throw SFailure{line.number, "a tab indents the line"};
            content = StripComment(content);
            if (content.empty()) continue;
            if (indent == 0 && content == "---" && lines.empty()) continue;
            if (indent == 0 && (content == "..." || content == "---")) break;
            lines.push_back({line.number, indent, content});
        }
        CParser parser(std::move(lines));
        document = parser.Document();
        return true;
    } catch (const SFailure& failure) {
        errorLine = failure.line;
        error = failure.what;
        return false;
    }
}

}  // namespace hostimport
