// Values shared by the whole module: its resources, the changed-state flag
// of the saved inventory and the main password.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/resources.h"

// The module whose resources (strings, dialogs, pages, images) are used.
extern HINSTANCE g_hInstance;
// The saved inventory has changed since the last load or save.
extern bool g_bDirty;
// The main password; empty when none is known.
extern std::u16string g_bstrMainPassword;

// Empties `list`, then appends every non-empty piece of string-table entry
// `id` split at "|".
void LoadStringList(UINT id, std::vector<std::u16string>& list);
// "res://" + the module's full path + "/" + page, as task memory for the
// console to free; null when out of memory.
LPOLESTR BuildResourceUrl(std::u16string_view page);
