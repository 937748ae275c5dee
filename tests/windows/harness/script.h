// The console's script: one command a line, words separated by blanks,
// "..." keeping blanks (\" and \\ inside), '#' starting a comment outside
// quotes. Node paths name display names below the root joined with '/'
// ("\/" for a '/' inside a name, "\\" for a backslash); "" is the root.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// False with a reason for an unterminated quote or a stray escape.
bool SplitWords(std::string_view line, std::vector<std::string>& words, std::string& error);

std::vector<std::wstring> ParseNodePath(std::wstring_view path);

// What the user does with the next dialog or message box: texts and check
// states of its controls by id, then the button pressed.
struct DialogAnswer {
    int button = 0;
    std::map<int, std::wstring> texts;
    std::map<int, bool> checks;
};

// "IDOK", "IDCANCEL", "IDYES", "IDNO" or a number; nothing otherwise.
std::optional<int> ButtonId(std::string_view name);
std::string ButtonName(int id);

// The words after "answer": the button, then "ID=text" (a text), "+ID"
// (checked) and "-ID" (cleared), in any order.
bool ParseAnswer(const std::vector<std::string>& words, DialogAnswer& answer, std::string& error);
