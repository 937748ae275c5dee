// A strict little JSON reader for checking the commands' output in tests.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;  // in document order

    // Out of line: a pair holding the type itself is complete only there.
    JsonValue();
    JsonValue(const JsonValue&);
    JsonValue(JsonValue&&) noexcept;
    JsonValue& operator=(const JsonValue&);
    JsonValue& operator=(JsonValue&&) noexcept;
    ~JsonValue();

    const JsonValue* Find(const std::string& key) const;
    bool Has(const std::string& key) const { return Find(key) != nullptr; }
    const JsonValue& operator[](const std::string& key) const;
    const JsonValue& operator[](std::size_t index) const { return items.at(index); }
};

// Parses a whole document (surrounding white space allowed); false with a
// reason on anything that is not strict JSON.
bool ParseJson(const std::string& text, JsonValue& out, std::string* error = nullptr);
