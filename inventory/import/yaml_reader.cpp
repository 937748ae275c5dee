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
    std::string_view raw;  // with its comment: a block scalar's text
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
        if ((c == '"' || c == '\'') && (i == 0 || std::string_view(" :,[{").find(text[i - 1]) != std::string_view::npos)) quote = c;
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
        if (m_lines[0].content.front() == '{' || m_lines[0].content.front() == '[') {
            std::size_t at = 0;
            node = Flow(m_lines[0].content, at, m_lines[0].number, 0);
            if (!Trim(m_lines[0].content.substr(at)).empty() || m_lines.size() > 1)
                throw SFailure{m_lines[0].number, "text after a flow collection"};
            return node;
        }
        node = IsItem(m_lines[0].content) ? Sequence(0, 0) : Map(0, 0);
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
            throw SFailure{line.number, "a list item stands where a key belongs"};
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
            if (m_next < m_lines.size() && IsItem(m_lines[m_next].content) && m_lines[m_next].indent >= indent)
                return Sequence(m_lines[m_next].indent, depth + 1);
            if (m_next < m_lines.size() && m_lines[m_next].indent > indent) return Map(m_lines[m_next].indent, depth + 1);
            return node;
        }
        if (rest.rfind("!vault", 0) == 0 && (rest.size() == 6 || rest[6] == ' ')) {
            // The encrypted text follows as a block scalar; it is never opened.
            const std::string_view style = Trim(rest.substr(6));
            if (style.empty() || (style.front() != '|' && style.front() != '>'))
                throw SFailure{line.number, "a !vault value is a block scalar"};
            BlockScalar(indent);
            node.kind = SYamlNode::EKind::Scalar;
            node.vault = true;
            return node;
        }
        const char first = rest.front();
        if (first == '|' || first == '>') {
            if (rest.size() > 3 || rest.find_first_not_of("|>+-123456789") != std::string_view::npos)
                throw SFailure{line.number, "text after a block scalar's indicator"};
            node.kind = SYamlNode::EKind::Scalar;
            node.scalar = BlockScalar(indent);
            return node;
        }
        SYamlNode value = InlineValue(rest, line.number, depth);
        if (m_next < m_lines.size() && m_lines[m_next].indent > indent)
            throw SFailure{m_lines[m_next].number, "a value on its own line follows a key that has one"};
        return value;
    }

    // A value that stands on the line: flow, quoted or plain.
    SYamlNode InlineValue(std::string_view rest, int number, int depth)
    {
        SYamlNode node;
        node.line = number;
        if (rest == "~" || rest == "null" || rest == "Null" || rest == "NULL") return node;
        const char first = rest.front();
        if (first == '{' || first == '[') {
            std::size_t at = 0;
            node = Flow(rest, at, number, depth);
            if (!Trim(rest.substr(at)).empty()) throw SFailure{number, "text after a flow collection"};
            return node;
        }
        if (first == '"' || first == '\'') {
            std::size_t used = 0;
            node.scalar = Quoted(rest, used, number);
            if (!Trim(rest.substr(used)).empty()) throw SFailure{number, "text after a quoted value"};
            node.kind = SYamlNode::EKind::Scalar;
            return node;
        }
        if (first == '&' || first == '*' || first == '!' || first == '%' || first == '@' || first == '`' || first == '}' ||
            first == ']')
            throw SFailure{number, "anchors, aliases and tags are not read here"};
        node.kind = SYamlNode::EKind::Scalar;
        node.scalar = std::string(rest);
        return node;
    }

    static bool IsItem(std::string_view content) { return content == "-" || content.rfind("- ", 0) == 0; }

    // "- item" lines at `indent`; an item that is "key: value" starts a
    // mapping that the lines below it continue.
    SYamlNode Sequence(std::size_t indent, int depth)
    {
        if (depth > kMaxDepth) throw SFailure{m_lines[m_next].number, "nested too deep"};
        SYamlNode node;
        node.kind = SYamlNode::EKind::List;
        node.line = m_lines[m_next].number;
        while (m_next < m_lines.size() && m_lines[m_next].indent == indent && IsItem(m_lines[m_next].content)) {
            SLine& line = m_lines[m_next];
            const std::string_view after = line.content.substr(1);
            const std::size_t blanks = after.find_first_not_of(' ');
            if (blanks == std::string_view::npos) {
                ++m_next;
                SYamlNode item;
                item.line = line.number;
                if (m_next < m_lines.size() && m_lines[m_next].indent > indent) {
                    item = IsItem(m_lines[m_next].content) ? Sequence(m_lines[m_next].indent, depth + 1)
                                                           : Map(m_lines[m_next].indent, depth + 1);
                }
                node.items.push_back(std::move(item));
                continue;
            }
            const std::string_view text = after.substr(blanks);
            if (IsItem(text) || LooksLikeKey(text)) {
                // The item's text becomes a line of its own, indented where it starts.
                line.indent = indent + 1 + blanks;
                line.content = text;
                node.items.push_back(IsItem(text) ? Sequence(line.indent, depth + 1) : Map(line.indent, depth + 1));
                continue;
            }
            ++m_next;
            node.items.push_back(InlineValue(text, line.number, depth + 1));
        }
        return node;
    }

    static bool LooksLikeKey(std::string_view text)
    {
        if (text.empty() || text.front() == '{' || text.front() == '[' || text.front() == '"' || text.front() == '\'')
            return false;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == ':' && (i + 1 == text.size() || text[i + 1] == ' ')) return true;
        return false;
    }

    // The lines indented deeper than `indent`, joined by line ends (blank
    // lines are gone: the text serves no connection setting, only the
    // reading of what follows it).
    std::string BlockScalar(std::size_t indent)
    {
        std::string text;
        while (m_next < m_lines.size() && m_lines[m_next].indent > indent) {
            if (!text.empty()) text += '\n';
            text += m_lines[m_next++].raw;
        }
        return text;
    }

    // A flow mapping or sequence starting at text[at].
    SYamlNode Flow(std::string_view text, std::size_t& at, int number, int depth)
    {
        if (depth > kMaxDepth) throw SFailure{number, "nested too deep"};
        SYamlNode node;
        node.line = number;
        const char open = text[at++];
        const char close = open == '{' ? '}' : ']';
        node.kind = open == '{' ? SYamlNode::EKind::Map : SYamlNode::EKind::List;
        for (;;) {
            SkipBlanks(text, at);
            if (at >= text.size()) throw SFailure{number, "a flow collection is not closed on its line"};
            if (text[at] == close) {
                ++at;
                return node;
            }
            if (open == '{') {
                SYamlEntry entry;
                entry.line = number;
                SYamlNode key = FlowScalar(text, at, number, true);
                entry.key = key.scalar;
                SkipBlanks(text, at);
                if (at < text.size() && text[at] == ':') {
                    ++at;
                    SkipBlanks(text, at);
                    if (at < text.size() && text[at] != ',' && text[at] != '}') entry.value = FlowItem(text, at, number, depth);
                }
                if (entry.key.empty()) throw SFailure{number, "a key is empty"};
                node.entries.push_back(std::move(entry));
            } else {
                node.items.push_back(FlowItem(text, at, number, depth));
            }
            SkipBlanks(text, at);
            if (at < text.size() && text[at] == ',') {
                ++at;
                continue;
            }
            if (at < text.size() && text[at] == close) continue;
            throw SFailure{number, "a flow collection's items are separated by \",\""};
        }
    }

    SYamlNode FlowItem(std::string_view text, std::size_t& at, int number, int depth)
    {
        if (text[at] == '{' || text[at] == '[') return Flow(text, at, number, depth + 1);
        return FlowScalar(text, at, number, false);
    }

    // A scalar inside a flow collection: quoted, or plain up to "," or the
    // closing bracket (and, for a key, ": ").
    static SYamlNode FlowScalar(std::string_view text, std::size_t& at, int number, bool key)
    {
        SYamlNode node;
        node.line = number;
        node.kind = SYamlNode::EKind::Scalar;
        if (text[at] == '"' || text[at] == '\'') {
            std::size_t used = 0;
            node.scalar = Quoted(text.substr(at), used, number);
            at += used;
            return node;
        }
        const char first = text[at];
        if (first == '&' || first == '*' || first == '!' || first == '?')
            throw SFailure{number, "anchors, aliases, tags and complex keys are not read here"};
        const std::size_t start = at;
        while (at < text.size() && text[at] != ',' && text[at] != '}' && text[at] != ']' && text[at] != '{' &&
               text[at] != '[') {
            if (text[at] == ':' && (at + 1 == text.size() || text[at + 1] == ' ' || text[at + 1] == ',' ||
                                    text[at + 1] == '}' || (key && text[at + 1] != '/')))
                break;
            ++at;
        }
        node.scalar = std::string(Trim(text.substr(start, at - start)));
        if (node.scalar == "~" || node.scalar == "null") node = SYamlNode{};
        return node;
    }

    static void SkipBlanks(std::string_view text, std::size_t& at)
    {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
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
            lines.push_back({line.number, indent, content, Trim(line.text.substr(indent))});
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
