// A small JSON writer for the commands' machine-readable output: objects,
// arrays, strings with proper escaping, numbers and booleans.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CJsonWriter {
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The key of the next value inside an object.
    void Key(std::string_view key);
    // UTF-8 text; invalid sequences are written as U+FFFD.
    void String(std::string_view text);
    void String(std::u16string_view text);
    void Number(long long value);
    void Bool(bool value);
    void Null();
    // The document so far.
    const std::string& Text() const { return m_out; }

private:
    void BeforeValue();

    std::string m_out;
    std::vector<bool> m_first;  // per open container: no element written yet
    bool m_afterKey = false;
};

// `text` as a JSON string literal, quotes included. Every control character
// (C0, DEL, C1), the bidirectional overrides and isolates and U+2028/U+2029
// are written as escapes, so the text stays exact yet inert on a terminal.
std::string JsonQuote(std::string_view text);
