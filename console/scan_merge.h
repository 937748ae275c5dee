// Carrying a command's scans into a console file that another ferrodex
// saved while the command ran. Scans are per host: the file as it is now
// keeps its hosts and every inventory edit of the other writer, and each
// host this command scanned takes this command's picture unless the history
// knows a newer, different one. Only scans travel; a host the file no longer
// holds loses its scan.
#pragma once

#include <string>
#include <vector>

#include "console/file_guard.h"
#include "console/host_core.h"

// One host scanned in this session, by its place in the tree.
struct SSessionScan {
    std::u16string group;
    std::u16string host;
    std::string historyKey;  // HistoryKey of the host
    HostScanView scan;
};

// The hosts of `console` scanned in this session (under groups already
// expanded; nothing is expanded here, so nothing is scanned).
std::vector<SSessionScan> CollectSessionScans(CConsoleHost& console);

// What became of each scan, by GROUP/HOST path.
struct SScanMergeOutcome {
    std::vector<std::u16string> carried;  // the file shows this session's scan
    std::vector<std::u16string> older;    // another ferrodex's newer scan is kept
    std::vector<std::u16string> gone;     // the host is no longer in the file
    // The scan of `path` (GROUP/HOST) did not reach the file.
    bool Dropped(const std::u16string& path) const;
};

// How many times the file is read again when it changes during a merge.
constexpr int kScanMergeAttempts = 3;

// Reads the console file at the guard's path as it is now (the caller holds
// the guard's lock), gives its hosts the scans, and saves it through the
// guard; a file that changes again meanwhile is read again, at most
// kScanMergeAttempts times. `historyFile` (may be empty) says which scans are
// newer.
HostStatus MergeSessionScans(CConsoleFileGuard& guard, const std::string& historyFile,
                             const std::vector<SSessionScan>& scans, SScanMergeOutcome& outcome);
