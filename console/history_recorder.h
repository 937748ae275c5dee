// Keeps every scan the console sees in the scan history beside the console
// file. A history that cannot be written never stops the console: the scan
// is shown as always and a warning says it was not recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "console/host_core.h"

class CHistoryStore;
struct ScanRecord;

// The history file of a console file named with --console: its name with
// the extension replaced by ".history.db" (lab.fdx gives lab.history.db), in
// the same folder. An empty name is the default console file, whose history
// is `history.db` beside it. Empty when no folder can be made.
std::string HistoryFileFor(const std::string& consoleFile);

// The setting that names a history every console of this user writes to
// beside its own file (a PostgreSQL URL or connection string, or an SQLite
// file's path); the option --history overrides it.
inline constexpr char kHistoryDatabaseSetting[] = "HistoryDatabase";
// The history chosen by `option` (--history), else by the setting; empty
// when neither names one.
std::string ChosenHistory(const std::string& option);
// Why a chosen history is refused (a shared location carrying a password,
// or one libpq cannot read); empty when it is not.
std::string CheckHistoryChoice(const std::string& chosen);
// Where the commands of a console read the history: the chosen one, else
// the file beside the console file.
std::string HistoryLocationFor(const std::string& consoleFile, const std::string& chosen);
// How long connecting to a shared history may take (ConnectTimeoutSeconds).
int HistoryConnectTimeout();
// Opens a history for a command: an SQLite file that must exist, or a
// shared database.
std::unique_ptr<CHistoryStore> OpenHistoryLocation(const std::string& location, bool create, std::string& error);
// How messages name a history: a shared one without any secret, a file by its path.
std::string HistoryShownAs(const std::string& location);

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
    // With `shared` (another history, see ChosenHistory) every scan is
    // written there as well; the file keeps it when the other cannot take it.
    CHistoryRecorder(CConsoleHost& host, std::string historyFile, int keep, Warn warn = {}, std::string shared = {});
    ~CHistoryRecorder() override;
    CHistoryRecorder(const CHistoryRecorder&) = delete;
    CHistoryRecorder& operator=(const CHistoryRecorder&) = delete;

    // Looks at the item and its children for scans not recorded yet.
    void OnHostsMayHaveScanned(HSCOPEITEM item) override;
    // Connects to the shared history now (before scans that take a while),
    // so that a history that cannot be reached is told at once. False (with
    // a warning) when it cannot be.
    bool ConnectShared();

private:
    void RecordIfNew(HSCOPEITEM item);
    // Writes the scan to the shared history too; a warning names one that
    // did not reach it.
    void RecordShared(const ScanRecord& record, bool keptLocally);
    void Warning(const std::string& text);

    CConsoleHost& m_host;
    std::string m_historyFile;
    int m_nKeep;
    Warn m_warn;
    // The scan time recorded last per host item.
    std::map<HSCOPEITEM, std::int64_t> m_recorded;
    std::string m_shared;
    std::unique_ptr<CHistoryStore> m_sharedStore;
    // The shared history failed once: this command stops trying.
    bool m_bSharedDown = false;
};
