// Values shared by the whole module beyond its resources: the changed-state
// flag of the saved inventory and the main password.
#pragma once

#include <string>

#include "res/module_strings.h"

// The saved inventory has changed since the last load or save.
extern bool g_bDirty;
// The main password; empty when none is known.
extern std::u16string g_bstrMainPassword;
