#include "tests/console/json_value.h"

#include <cstdlib>
#include <stdexcept>

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) {}

    bool Document(JsonValue& out)
    {
        Blank();
        if (!Value(out, 0)) return false;
        Blank();
        return m_pos == m_text.size() || Fail("text after the value");
    }
    std::string error;

private:
    bool Fail(const std::string& why)
    {
        if (error.empty()) error = why + " at " + std::to_string(m_pos);
        return false;
    }
    void Blank()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\r'))
            ++m_pos;
    }
    bool Literal(const char* word)
    {
        const std::string w(word);
        if (m_text.compare(m_pos, w.size(), w) != 0) return Fail("bad literal");
        m_pos += w.size();
        return true;
    }
    bool Value(JsonValue& out, int depth)
    {
        if (depth > 200) return Fail("too deep");
        if (m_pos >= m_text.size()) return Fail("end of text");
        const char c = m_text[m_pos];
        if (c == '{' || c == '[') return Container(out, depth, c == '{');
        if (c == '"') {
            out.kind = JsonValue::Kind::String;
            return String(out.text);
        }
        if (c == 't') { out.kind = JsonValue::Kind::Bool; out.boolean = true; return Literal("true"); }
        if (c == 'f') { out.kind = JsonValue::Kind::Bool; return Literal("false"); }
        if (c == 'n') { out.kind = JsonValue::Kind::Null; return Literal("null"); }
        const char* start = m_text.c_str() + m_pos;
        char* end = nullptr;
        out.number = std::strtod(start, &end);
        if (end == start) return Fail("bad value");
        out.kind = JsonValue::Kind::Number;
        m_pos += static_cast<std::size_t>(end - start);
        return true;
    }
    bool String(std::string& out)
    {
        ++m_pos;
        while (m_pos < m_text.size()) {
            const unsigned char c = static_cast<unsigned char>(m_text[m_pos++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("raw control character in a string");
            if (c != '\\') {
                out.push_back(static_cast<char>(c));
                continue;
            }
            if (m_pos >= m_text.size()) break;
            const char e = m_text[m_pos++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (m_text.size() - m_pos < 4) return Fail("short \\u escape");
                const unsigned code = static_cast<unsigned>(std::stoul(m_text.substr(m_pos, 4), nullptr, 16));
                m_pos += 4;
                if (code >= 0xD800 && code <= 0xDFFF) return Fail("test reader takes no surrogate escapes");
                if (code < 0x80) {
                    out.push_back(static_cast<char>(code));
                } else if (code < 0x800) {
                    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
                    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                }
                break;
            }
            default: return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }
    // An array, or with `object` an object: values, or keys and values,
    // between commas.
    bool Container(JsonValue& out, int depth, bool object)
    {
        out.kind = object ? JsonValue::Kind::Object : JsonValue::Kind::Array;
        const char close = object ? '}' : ']';
        ++m_pos;
        Blank();
        if (m_pos < m_text.size() && m_text[m_pos] == close) { ++m_pos; return true; }
        for (;;) {
            Blank();
            std::string key;
            if (object) {
                if (m_pos >= m_text.size() || m_text[m_pos] != '"') return Fail("expected a key");
                if (!String(key)) return false;
                if (out.Has(key)) return Fail("duplicate key " + key);
                Blank();
                if (m_pos >= m_text.size() || m_text[m_pos++] != ':') return Fail("expected :");
                Blank();
            }
            JsonValue value;
            if (!Value(value, depth + 1)) return false;
            if (object)
                out.members.emplace_back(std::move(key), std::move(value));
            else
                out.items.push_back(std::move(value));
            Blank();
            if (m_pos >= m_text.size()) return Fail("unterminated container");
            if (m_text[m_pos] == close) { ++m_pos; return true; }
            if (m_text[m_pos++] != ',') return Fail("expected ,");
        }
    }

    const std::string& m_text;
    std::size_t m_pos = 0;
};

}  // namespace

JsonValue::JsonValue() = default;
JsonValue::JsonValue(const JsonValue&) = default;
JsonValue::JsonValue(JsonValue&&) noexcept = default;
JsonValue& JsonValue::operator=(const JsonValue&) = default;
JsonValue& JsonValue::operator=(JsonValue&&) noexcept = default;
JsonValue::~JsonValue() = default;

const JsonValue* JsonValue::Find(const std::string& key) const
{
    for (const auto& member : members)
        if (member.first == key) return &member.second;
    return nullptr;
}

const JsonValue& JsonValue::operator[](const std::string& key) const
{
    const JsonValue* value = Find(key);
    if (value == nullptr) throw std::out_of_range("no member " + key);
    return *value;
}

bool ParseJson(const std::string& text, JsonValue& out, std::string* error)
{
    Parser parser(text);
    out = JsonValue{};
    const bool ok = parser.Document(out);
    if (!ok && error != nullptr) *error = parser.error;
    return ok;
}
