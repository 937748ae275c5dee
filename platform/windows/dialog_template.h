// In-memory dialog templates (DLGTEMPLATEEX) laid out from this system's
// dialog descriptions: labels beside their fields, check boxes on rows of
// their own, OK and Cancel at the bottom right.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/resources.h"

// The template as the system's dialog calls take it (DWORD-aligned words).
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dialog, bool modeless);

// Whether a control kind holds text the user types.
bool IsTextField(const std::string& kind);
