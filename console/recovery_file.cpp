#include "console/recovery_file.h"

#include <cstdio>

#include "console/console_file.h"
#include "console/host_core.h"
#include "platform/atomic_file.h"

std::string RecoveryFileOf(const std::string& consoleFile) { return ResolveFileLinks(consoleFile) + ".recovery"; }

bool WriteRecoveryFile(CConsoleHost& host, std::string& error)
{
    if (host.FilePath().empty()) {
        error = "the console has no file";
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (HostStatus status = host.SaveImage(bytes); !status) {
        error = status.message;
        return false;
    }
    const std::string path = RecoveryFileOf(host.FilePath());
    // A new file is owner-only; one that is there might not be.
    RemoveRecoveryFile(host.FilePath());
    std::string reason;
    if (!WriteFileAtomically(path, bytes, reason)) {
        error = "cannot write " + path + ": " + reason;
        return false;
    }
    return true;
}

bool ReadRecoveryFile(const std::string& consoleFile, std::vector<std::uint8_t>& bytes, std::string& error)
{
    error.clear();
    const std::string path = RecoveryFileOf(consoleFile);
    std::string reason;
    switch (ReadFileLimited(path, kMaxConsoleFile, bytes, reason)) {
    case FileReadResult::Ok: return true;
    case FileReadResult::Missing: return false;
    case FileReadResult::TooLarge:
    case FileReadResult::Failed: break;
    }
    error = "the recovery file " + path + " cannot be read: " + reason;
    return false;
}

void RemoveRecoveryFile(const std::string& consoleFile) { std::remove(RecoveryFileOf(consoleFile).c_str()); }
