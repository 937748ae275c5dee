// The text forms of the module's string table and dialog templates.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/resources.h"

// Lines of an id and a quoted text; malformed lines are skipped.
std::map<UINT, std::u16string> ParseStringTable(std::string_view text);

// Template `id` of the dialog text; false when it is missing or malformed.
bool ParseDialogTemplate(std::string_view text, int id, DialogTemplate& out);
