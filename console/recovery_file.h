// The recovery file of a console file ("<file>.recovery", beside the file a
// link names): the unsaved console as the terminal console held it when a
// signal ended it. It is a console file like any other, written owner-only,
// so it holds the snap-ins' streams exactly as a save would (an encrypted
// inventory stays encrypted); the next start offers it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CConsoleHost;

std::string RecoveryFileOf(const std::string& consoleFile);

// Writes the host's unsaved console to the recovery file of its console
// file. False with a reason when it cannot.
bool WriteRecoveryFile(CConsoleHost& host, std::string& error);

// The bytes of a recovery file that is there; false when there is none or it
// cannot be read (`error` then says why, empty when there is none).
bool ReadRecoveryFile(const std::string& consoleFile, std::vector<std::uint8_t>& bytes, std::string& error);

// Removes the recovery file of a console file, if any.
void RemoveRecoveryFile(const std::string& consoleFile);
