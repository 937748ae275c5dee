// Per-user folders and private files.
#pragma once

#include <string>

// The user's state folder for this product, created (owner-only) when
// missing: $XDG_STATE_HOME/ferrodex, else ~/.local/state/ferrodex. Empty
// when it cannot be made.
std::string UserStateFolder();

// The user's data folder for this product, created (owner-only) when
// missing: $XDG_DATA_HOME/ferrodex, else ~/.local/share/ferrodex. Empty when
// it cannot be made.
std::string UserDataFolder();

// Creates the file if needed and empties it, readable and writable by its
// owner only (an existing file's permissions are narrowed as well).
bool PrepareOwnerOnlyFile(const std::string& path);
