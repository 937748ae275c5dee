// The module whose resources (strings, dialogs, pages, images) are used, and
// the ways its string table is read beyond one entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "platform/resources.h"

extern HINSTANCE g_hInstance;

// Empties `list`, then appends every non-empty piece of string-table entry
// `id` split at "|".
void LoadStringList(UINT id, std::vector<std::u16string>& list);
// "res://" + the module's full path + "/" + page, as task memory for the
// console to free; null when out of memory.
LPOLESTR BuildResourceUrl(std::u16string_view page);
