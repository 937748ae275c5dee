// Node paths of the commands: display names joined with "/" below the root
// node, a "/" inside a name written "\/" and a backslash "\\".
#pragma once

#include <string>
#include <vector>

// Splits a path into names. The empty path names the root (no names); every
// other text gives at least one name, so "Lab/" names the child "" of Lab.
std::vector<std::u16string> ParseNodePath(std::u16string_view path);
// Joins names back into a path, escaping as ParseNodePath expects.
std::u16string FormatNodePath(const std::vector<std::u16string>& names);
