// The registry entries that make the snap-in known to consoles.
#pragma once

#include <string>

#include "platform/com.h"

// Writes the entries for a module at `modulePath`; keys that cannot be
// created are skipped.
void RegisterModule(const std::string& modulePath);
// Removes every entry with all its subkeys; missing keys are no error.
void UnregisterModule();
