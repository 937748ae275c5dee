#include "console/export_changes.h"

#include "console/history_recorder.h"
#include "console/host_diff.h"
#include "console/node_path.h"
#include "platform/text.h"

namespace {

// A report path ("a/b" escaped, a "general" child standing for its parent's
// rows) as the diff names the node.
std::string DiffPath(const std::u16string& nodePath, bool rowsOfParent)
{
    std::vector<std::u16string> names = ParseNodePath(nodePath);
    if (rowsOfParent && names.size() > 1 && names.back() == u"general") names.pop_back();
    std::string path;
    for (const std::u16string& name : names) path += (path.empty() ? "" : "/") + WideToAnsi(name);
    return path;
}

}  // namespace

HostChanges GroupChanges(const std::vector<ScanChange>& changes)
{
    HostChanges grouped;
    grouped.count = changes.size();
    for (const ScanChange& change : changes) {
        switch (change.kind) {
        case EChange::Added:
            grouped.nodes.insert(change.path);
            break;
        case EChange::Removed:
            grouped.removed.push_back(change.path);
            break;
        case EChange::RowChanged:
            grouped.nodes.insert(change.path);
            grouped.rows.emplace(change.path, change.row);
            break;
        }
    }
    return grouped;
}

CHistoryTimes::CHistoryTimes(const std::string& historyFile)
{
    bool missing = false;
    std::string error;
    m_store = OpenHistoryFile(historyFile, missing, error);
}

CHistoryTimes::~CHistoryTimes() = default;
CExportHistory::CExportHistory(std::map<std::string, HostChanges> hosts) : m_hosts(std::move(hosts)) {}
CExportHistory::~CExportHistory() = default;

namespace {

// The host as the history is asked about it.
HistoryHost AskedOf(const FleetHost& host)
{
    const std::string path = WideToAnsi(FleetHostPath(host));
    HistoryHost asked = HistoryHost::OfKey(host.historyKey.empty() ? path : host.historyKey);
    asked.path = path;
    asked.address = WideToAnsi(host.address);
    asked.port = host.port;
    return asked;
}

}  // namespace

void CHistoryTimes::Fill(FleetHost& host)
{
    if (!m_store || !host.scanned || host.scanTime) return;
    std::string error;
    const std::string path = WideToAnsi(FleetHostPath(host));
    std::vector<ScanEntry> entries = m_store->ListOf(AskedOf(host), error);
    if (error.empty() && entries.empty() && !host.historyKey.empty()) entries = m_store->List(path, error);
    if (error.empty() && !entries.empty()) host.scanTime = AnsiToWide(IsoUtcTime(entries.back().lastSeen));
}

CExportHistory::CExportHistory(const std::string& historyFile, const std::vector<FleetHost>& fleet,
                               std::string& warning)
{
    bool missing = false;
    std::string error;
    m_store = OpenHistoryFile(historyFile, missing, error);
    if (!m_store) {
        if (!missing) warning = "the history " + HistoryShownAs(historyFile) + " cannot be read (" + error + "): no changes marked";
        return;
    }
    for (const FleetHost& host : fleet) {
        if (!host.scanned) continue;
        // Each host's own answer: one without two scans says nothing of the next.
        const std::string key = WideToAnsi(FleetHostPath(host));
        HostDiff diff;
        std::string hostError;
        if (DiffHostScansIn(*m_store, AskedOf(host), "", "", diff, hostError))
            m_hosts.emplace(key, GroupChanges(diff.changes));
    }
}

CExportHistory::CExportHistory(const std::string& historyFile, std::string& warning)
{
    bool missing = false;
    std::string error;
    m_store = OpenHistoryFile(historyFile, missing, error);
    if (!m_store) {
        if (!missing) warning = "the history " + HistoryShownAs(historyFile) + " cannot be read (" + error + "): no changes marked";
        return;
    }
    m_lazyFile = historyFile;
}

const HostChanges* CExportHistory::Find(const FleetHost& host) const
{
    const std::string key = WideToAnsi(FleetHostPath(host));
    if (const auto it = m_hosts.find(key); it != m_hosts.end()) return &it->second;
    if (m_lazyFile.empty() || !host.scanned || m_without.contains(key)) return nullptr;
    HostDiff diff;
    std::string error;
    if (!DiffHostScansIn(*m_store, AskedOf(host), "", "", diff, error)) {
        m_without.insert(key);
        return nullptr;
    }
    return &m_hosts.emplace(key, GroupChanges(diff.changes)).first->second;
}

ExportChanges CExportHistory::Marks() const
{
    ExportChanges marks;
    marks.nodeChanged = [this](const FleetHost& host, const std::u16string& nodePath) {
        const HostChanges* changes = Find(host);
        return changes && changes->nodes.contains(DiffPath(nodePath, false));
    };
    marks.rowChanged = [this](const FleetHost& host, const std::u16string& nodePath, const std::u16string& row) {
        const HostChanges* changes = Find(host);
        if (!changes) return false;
        const std::string name = WideToAnsi(row);
        return changes->rows.contains({DiffPath(nodePath, false), name}) ||
               changes->rows.contains({DiffPath(nodePath, true), name});
    };
    marks.changeCount = [this](const FleetHost& host) -> std::optional<std::size_t> {
        const HostChanges* changes = Find(host);
        return changes ? std::optional(changes->count) : std::nullopt;
    };
    marks.removed = [this](const FleetHost& host) {
        const HostChanges* changes = Find(host);
        return changes ? changes->removed : std::vector<std::string>();
    };
    return marks;
}
