#include "script.h"

#include <charconv>

#include "text.h"

namespace {

struct NamedButton {
    const char* name;
    int id;
};
constexpr NamedButton kButtons[] = {{"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4},
                                    {"IDIGNORE", 5}, {"IDYES", 6}, {"IDNO", 7}};

std::optional<int> Number(std::string_view text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end || text.empty() || value < 0 || value > 0xFFFF) return std::nullopt;
    return value;
}

}  // namespace

bool SplitWords(std::string_view line, std::vector<std::string>& words, std::string& error)
{
    words.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c == '#') break;
        std::string word;
        bool quoted = false;
        while (i < line.size()) {
            const char d = line[i];
            if (!quoted && (d == ' ' || d == '\t' || d == '\r' || d == '\n')) break;
            if (d == '"') {
                quoted = !quoted;
                ++i;
                continue;
            }
            if (quoted && d == '\\') {
                if (i + 1 >= line.size() || (line[i + 1] != '"' && line[i + 1] != '\\')) {
                    error = "a backslash inside quotes escapes only \" and \\";
                    return false;
                }
                word.push_back(line[i + 1]);
                i += 2;
                continue;
            }
            word.push_back(d);
            ++i;
        }
        if (quoted) {
            error = "a quote is not closed";
            return false;
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::vector<std::wstring> ParseNodePath(std::wstring_view path)
{
    std::vector<std::wstring> names;
    if (path.empty()) return names;
    std::wstring name;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == L'\\' && i + 1 < path.size() && (path[i + 1] == L'/' || path[i + 1] == L'\\')) {
            name.push_back(path[++i]);
        } else if (path[i] == L'/') {
            names.push_back(std::move(name));
            name.clear();
        } else {
            name.push_back(path[i]);
        }
    }
    names.push_back(std::move(name));
    return names;
}

std::optional<int> ButtonId(std::string_view name)
{
    for (const NamedButton& button : kButtons)
        if (name == button.name) return button.id;
    return Number(name);
}

std::string ButtonName(int id)
{
    for (const NamedButton& button : kButtons)
        if (id == button.id) return button.name;
    return std::to_string(id);
}

bool ParseAnswer(const std::vector<std::string>& words, DialogAnswer& answer, std::string& error)
{
    answer = DialogAnswer{};
    bool haveButton = false;
    for (const std::string& word : words) {
        if (word.size() > 1 && (word[0] == '+' || word[0] == '-')) {
            const std::optional<int> id = Number(std::string_view(word).substr(1));
            if (!id) {
                error = "\"" + word + "\" names no control";
                return false;
            }
            answer.checks[*id] = word[0] == '+';
            continue;
        }
        if (const std::size_t equals = word.find('='); equals != std::string::npos) {
            const std::optional<int> id = Number(std::string_view(word).substr(0, equals));
            if (!id) {
                error = "\"" + word + "\" names no control";
                return false;
            }
            answer.texts[*id] = Widen(std::string_view(word).substr(equals + 1));
            continue;
        }
        const std::optional<int> button = ButtonId(word);
        if (!button || haveButton) {
            error = haveButton ? "an answer presses one button" : "\"" + word + "\" is no button";
            return false;
        }
        answer.button = *button;
        haveButton = true;
    }
    if (!haveButton) {
        error = "an answer needs a button (IDOK, IDCANCEL, IDYES, IDNO)";
        return false;
    }
    return true;
}
