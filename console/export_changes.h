// What changed in each host since its previous scan, taken from the history
// file and handed to the HTML report as its marks.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "console/export_writers.h"
#include "console/fleet_model.h"
#include "history/scan_diff.h"

// The changes of one host, keyed by node paths of ids joined with "/".
struct HostChanges {
    std::set<std::string> nodes;                         // added nodes and nodes with a changed row
    std::set<std::pair<std::string, std::string>> rows;  // (node, row) whose value changed
    std::vector<std::string> removed;                    // nodes that went
    std::size_t count = 0;
};

// Groups the diff's changes as the report asks for them.
HostChanges GroupChanges(const std::vector<ScanChange>& changes);

class CHistoryStore;

// When each host's picture was last scanned, as the history beside the
// console file records it: the console file keeps no time, so a host not
// scanned in this session takes its time from there.
class CHistoryTimes {
public:
    explicit CHistoryTimes(const std::string& historyFile);
    ~CHistoryTimes();
    // Sets the host's scan time from the history when it has none.
    void Fill(FleetHost& host);

private:
    std::unique_ptr<CHistoryStore> m_store;
};

// The marks for `fleet` from the history file: a host with fewer than two
// scans gets none. A history that cannot be read gives no marks and a
// `warning`; a missing one gives neither.
class CExportHistory {
public:
    CExportHistory(const std::string& historyFile, const std::vector<FleetHost>& fleet, std::string& warning);
    // The same for hosts read one at a time: each host's changes are read
    // when the report first asks for them.
    CExportHistory(const std::string& historyFile, std::string& warning);
    explicit CExportHistory(std::map<std::string, HostChanges> hosts);
    ~CExportHistory();

    ExportChanges Marks() const;

private:
    const HostChanges* Find(const FleetHost& host) const;

    mutable std::map<std::string, HostChanges> m_hosts;  // by "GROUP/HOST"
    // Set for a history read as it is asked: the file, and the hosts asked
    // about that have no changes to give.
    std::string m_lazyFile;
    mutable std::set<std::string> m_without;
    std::unique_ptr<CHistoryStore> m_store;  // one connection for every host
};
