#include "console/json_writer.h"

#include <cstdint>
#include <cstdio>

#include "platform/text.h"

namespace {

// Length of the valid UTF-8 sequence at text[pos], 0 when invalid.
std::size_t Utf8Sequence(std::string_view text, std::size_t pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) { length = 2; code = lead & 0x1F; }
    else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; code = lead & 0x0F; }
    else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; code = lead & 0x07; }
    else return 0;
    if (text.size() - pos < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(pos + i) & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
        return 0;
    return length;
}

// The code point of the valid sequence of `length` bytes at text[pos].
char32_t CodePoint(std::string_view text, std::size_t pos, std::size_t length)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (length == 1) return byte(pos);
    char32_t code = byte(pos) & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (byte(pos + i) & 0x3F);
    return code;
}

}  // namespace

std::string JsonQuote(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t pos = 0; pos < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        switch (c) {
        case '"': out += "\\\""; ++pos; continue;
        case '\\': out += "\\\\"; ++pos; continue;
        case '\n': out += "\\n"; ++pos; continue;
        case '\r': out += "\\r"; ++pos; continue;
        case '\t': out += "\\t"; ++pos; continue;
        case '\b': out += "\\b"; ++pos; continue;
        case '\f': out += "\\f"; ++pos; continue;
        default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++pos;
            continue;
        }
        const std::size_t length = Utf8Sequence(text, pos);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++pos;
            continue;
        }
        // C1 controls, the bidirectional overrides and isolates and the two
        // line separators are escaped too: the same text, but nothing that a
        // terminal or an editor acts on when the output is looked at.
        const char32_t point = CodePoint(text, pos, length);
        if ((point >= 0x80 && point <= 0x9F) || (point >= 0x2028 && point <= 0x202E) ||
            (point >= 0x2066 && point <= 0x2069)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(point));
            out += escaped;
        } else {
            out.append(text.substr(pos, length));
        }
        pos += length;
    }
    out += '"';
    return out;
}

void CJsonWriter::BeforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first.empty()) {
        if (!m_first.back()) m_out += ',';
        m_first.back() = false;
    }
}

void CJsonWriter::BeginObject()
{
    BeforeValue();
    m_out += '{';
    m_first.push_back(true);
}

void CJsonWriter::EndObject()
{
    m_out += '}';
    m_first.pop_back();
}

void CJsonWriter::BeginArray()
{
    BeforeValue();
    m_out += '[';
    m_first.push_back(true);
}

void CJsonWriter::EndArray()
{
    m_out += ']';
    m_first.pop_back();
}

void CJsonWriter::Key(std::string_view key)
{
    BeforeValue();
    m_out += JsonQuote(key);
    m_out += ':';
    m_afterKey = true;
}

void CJsonWriter::String(std::string_view text)
{
    BeforeValue();
    m_out += JsonQuote(text);
}

void CJsonWriter::String(std::u16string_view text) { String(WideToAnsi(text)); }

void CJsonWriter::Number(long long value)
{
    BeforeValue();
    m_out += std::to_string(value);
}

void CJsonWriter::Bool(bool value)
{
    BeforeValue();
    m_out += value ? "true" : "false";
}

void CJsonWriter::Null()
{
    BeforeValue();
    m_out += "null";
}
