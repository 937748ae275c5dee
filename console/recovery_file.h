// The recovery file of a console file ("<file>.recovery", beside the file a
// link names): the unsaved console as the terminal console held it when a
// signal ended it or its terminal went away. It is a console file like any
// other, written owner-only, so it holds the snap-ins' streams exactly as a
// save would (an encrypted inventory stays encrypted); the next start offers
// it. A first line names the version of the console file its changes were
// made on, so that a save of the recovered console asks before it writes
// over what another ferrodex saved meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/atomic_file.h"

class CConsoleHost;

std::string RecoveryFileOf(const std::string& consoleFile);

// Writes the host's unsaved console to the recovery file of its console
// file, with `base`: the console file as it was when the changes began
// (when it was read, or last saved). False with a reason when it cannot.
bool WriteRecoveryFile(CConsoleHost& host, const FileStamp& base, std::string& error);

// The bytes of a recovery file that is there, and the version of the
// console file they were based on (none for a file written without one);
// false when there is none or it cannot be read (`error` then says why,
// empty when there is none).
bool ReadRecoveryFile(const std::string& consoleFile, std::vector<std::uint8_t>& bytes,
                      std::optional<FileStamp>& base, std::string& error);

// Removes the recovery file of a console file, if any.
void RemoveRecoveryFile(const std::string& consoleFile);

// The first line as written, and read back from the start of `bytes`
// (which then loses it); false leaves `bytes` as they are.
std::string RecoveryBaseLine(const FileStamp& base);
bool TakeRecoveryBaseLine(std::vector<std::uint8_t>& bytes, FileStamp& base);
