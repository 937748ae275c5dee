// Console files whose snap-in state was sealed under a main password, kept
// in the registry (HKEY_CURRENT_USER\Software\Quillon\Corvel\SealedConsoleFiles)
// by canonical path and by file identity, so that such a file replaced by a
// plain one, or moved and then replaced, is noticed when it is opened: a
// plain file may bring the sudo flags and jump hosts the seal protected.
#pragma once

#include <string>

// Whether `path`, or the file it names now (by identity), was noted as sealed.
bool WasSealedConsoleFile(const std::string& path);
// Notes `path` and the file it names now as sealed, replacing what was noted
// for that path (a save writes a new file: its identity changes).
void NoteSealedConsoleFile(const std::string& path);
// Forgets `path` and the file it names now: it was accepted in plain form,
// or saved in plain form by the user.
void ForgetSealedConsoleFile(const std::string& path);
