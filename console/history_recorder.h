// Keeps every scan the console sees in the scan history beside the console
// file. A history that cannot be written never stops the console: the scan
// is shown as always and a warning says it was not recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "console/host_core.h"

// The history file of a console file named with --console: its name with
// the extension replaced by ".history.db" (lab.fdx gives lab.history.db), in
// the same folder. An empty name is the default console file, whose history
// is `history.db` beside it. Empty when no folder can be made.
std::string HistoryFileFor(const std::string& consoleFile);

// The key the history keeps a host's scans under: the console's identity
// and the host's, so that a renamed host keeps its history and a copy of the
// console file has one of its own; the path GROUP/HOST for a host without
// an identity yet (one never saved).
std::string HistoryKey(const std::string& consoleId, const std::string& hostId, const std::string& path);
std::string HistoryKeyOf(const CConsoleHost& console, HSCOPEITEM host, const std::string& path);
// Lets each host of the console adopt the entries older versions kept under
// its path, while there are such entries (the groups are expanded, which
// contacts no host). A history that is missing or cannot be read is left
// alone.
void AdoptOlderHistory(CConsoleHost& console, const std::string& historyFile);

class CHistoryRecorder final : public IScanSink {
public:
    using Warn = std::function<void(const std::string& text)>;
    // Records the scans of `host` in `historyFile`, keeping `keep` entries
    // per host; `warn` tells the user of a scan that was not recorded (by
    // default a warning message box). Installs itself as the host's scan
    // sink until destroyed.
    CHistoryRecorder(CConsoleHost& host, std::string historyFile, int keep, Warn warn = {});
    ~CHistoryRecorder() override;
    CHistoryRecorder(const CHistoryRecorder&) = delete;
    CHistoryRecorder& operator=(const CHistoryRecorder&) = delete;

    // Looks at the item and its children for scans not recorded yet.
    void OnHostsMayHaveScanned(HSCOPEITEM item) override;

private:
    void RecordIfNew(HSCOPEITEM item);

    CConsoleHost& m_host;
    std::string m_historyFile;
    int m_nKeep;
    Warn m_warn;
    // The scan time recorded last per host item.
    std::map<HSCOPEITEM, std::int64_t> m_recorded;
};
