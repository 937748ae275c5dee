// The registry export format: the text form of the hive files.
#include <cstdio>

#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

void AppendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

void AppendHex(std::string& out, std::string_view prefix, const std::vector<std::uint8_t>& data)
{
    out += prefix;
    std::size_t column = prefix.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += HexLower(&data[i], 1);
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
}

// A string value that reads back unchanged from the quoted form: whole
// UTF-16 code units, one terminator at the end, no control characters.
bool PrintableString(const std::vector<std::uint8_t>& data, std::u16string& text)
{
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) return false;
        text += c;
    }
    return data[data.size() - 2] == 0 && data[data.size() - 1] == 0;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at text[pos] (just after the opening quote); moves pos
// past the closing quote.
bool ReadQuoted(std::string_view text, std::size_t& pos, std::string& out)
{
    out.clear();
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '"') return true;
        if (c == '\\') {
            if (pos >= text.size()) return false;
            out += text[pos++];
        } else {
            out += c;
        }
    }
    return false;
}

bool ReadHexBytes(std::string_view text, std::vector<std::uint8_t>& out)
{
    out.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ',' || c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (text.size() - i < 2) return false;
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        if (out.size() >= kRegMaxValueSize) return false;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        i += 2;
    }
    return true;
}

bool ReadValue(std::string_view data, RegistryValue& value)
{
    if (data.starts_with("\"")) {
        std::size_t pos = 1;
        std::string text;
        if (!ReadQuoted(data, pos, text) || pos != data.size()) return false;
        value.type = REG_SZ;
        value.data.clear();
        for (char16_t c : AnsiToWide(text)) {
            value.data.push_back(static_cast<std::uint8_t>(c));
            value.data.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        value.data.push_back(0);
        value.data.push_back(0);
        return value.data.size() <= kRegMaxValueSize;
    }
    if (data.starts_with("dword:")) {
        const std::string_view digits = data.substr(6);
        if (digits.size() != 8) return false;
        std::uint32_t v = 0;
        for (char c : digits) {
            const int h = HexValue(c);
            if (h < 0) return false;
            v = (v << 4) | static_cast<std::uint32_t>(h);
        }
        value.type = REG_DWORD;
        value.data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                      static_cast<std::uint8_t>(v >> 24)};
        return true;
    }
    if (data.starts_with("hex:")) {
        value.type = REG_BINARY;
        return ReadHexBytes(data.substr(4), value.data);
    }
    if (data.starts_with("hex(")) {
        const std::size_t close = data.find("):");
        if (close == std::string_view::npos || close < 5 || close > 12) return false;
        std::uint32_t type = 0;
        for (std::size_t i = 4; i < close; ++i) {
            const int h = HexValue(data[i]);
            if (h < 0) return false;
            type = (type << 4) | static_cast<std::uint32_t>(h);
        }
        value.type = type;
        return ReadHexBytes(data.substr(close + 2), value.data);
    }
    return false;
}

}  // namespace

bool ParseRegistryText(std::string_view text, std::vector<RegistryKeyRecord>& keys, std::string* error)
{
    bool whole = true;
    auto skip = [&](std::size_t line, const std::string& what) {
        if (whole && error) *error = "line " + std::to_string(line) + ": " + what;
        whole = false;
    };
    if (text.size() > kRegMaxHiveSize) {
        skip(0, "the file is larger than " + std::to_string(kRegMaxHiveSize) + " bytes");
        text = text.substr(0, kRegMaxHiveSize);
    }
    std::size_t pos = 0;
    std::size_t lineNumber = 0;
    // Index of the key that values belong to; none after a malformed key
    // line, so that its values are never filed under another key.
    constexpr std::size_t kNoKey = ~std::size_t{0};
    std::size_t current = kNoKey;
    while (pos < text.size()) {
        // Gather one logical line: a trailing "\" continues a hex list.
        std::string line;
        bool tooLong = false;
        const std::size_t firstLine = ++lineNumber;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view piece = text.substr(pos, end - pos);
            pos = end + 1;
            if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
            if (!line.empty()) {
                while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) piece.remove_prefix(1);
            }
            const bool continued = !piece.empty() && piece.back() == '\\';
            if (continued) piece.remove_suffix(1);
            if (!tooLong && kRegMaxLineLength - line.size() < piece.size()) {
                tooLong = true;
                line.clear();
            }
            if (!tooLong) line.append(piece);
            if (!continued) break;
            ++lineNumber;
        }
        if (tooLong) {
            skip(firstLine, "line longer than " + std::to_string(kRegMaxLineLength) + " bytes");
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (firstLine == 1 || line == kHeader) {
            if (line == kHeader) continue;
            skip(firstLine, "missing header");
        }
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) {
                skip(firstLine, "malformed key line");
                current = kNoKey;
                continue;
            }
            keys.push_back(RegistryKeyRecord{AnsiToWide(std::string_view(line).substr(1, line.size() - 2)), {}});
            current = keys.size() - 1;
            continue;
        }
        if (current == kNoKey) {
            skip(firstLine, "value outside a key");
            continue;
        }
        RegistryValue value;
        std::size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else if (line[0] == '"') {
            at = 1;
            std::string name;
            if (!ReadQuoted(line, at, name)) {
                skip(firstLine, "unterminated value name");
                continue;
            }
            value.name = AnsiToWide(name);
            if (value.name.size() > kRegMaxNameLength) {
                skip(firstLine, "value name too long");
                continue;
            }
        } else {
            skip(firstLine, "unexpected text");
            continue;
        }
        if (at >= line.size() || line[at] != '=') {
            skip(firstLine, "missing '='");
            continue;
        }
        if (!ReadValue(std::string_view(line).substr(at + 1), value)) {
            skip(firstLine, "malformed value");
            continue;
        }
        keys[current].values.push_back(std::move(value));
    }
    return whole;
}

std::string FormatRegistryText(const std::vector<RegistryKeyRecord>& keys, std::u16string_view hiveName)
{
    std::string out(kHeader);
    out += "\n";
    for (const auto& key : keys) {
        out += "\n[" + WideToAnsi(key.path) + "]\n";
        for (const auto& value : key.values) {
            if (value.name.empty()) {
                out += "@=";
            } else {
                AppendQuoted(out, WideToAnsi(value.name));
                out += '=';
            }
            std::u16string text;
            if (value.type == REG_SZ && PrintableString(value.data, text)) {
                AppendQuoted(out, WideToAnsi(text));
            } else if (value.type == REG_DWORD && value.data.size() == 4) {
                char digits[16];
                const std::uint32_t v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                        (static_cast<std::uint32_t>(value.data[3]) << 24);
                std::snprintf(digits, sizeof digits, "dword:%08x", v);
                out += digits;
            } else if (value.type == REG_BINARY) {
                AppendHex(out, "hex:", value.data);
            } else {
                char prefix[20];
                std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
                AppendHex(out, prefix, value.data);
            }
            out += '\n';
        }
    }
    return out;
}
