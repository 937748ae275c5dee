#include "console/scan_merge.h"

#include <algorithm>
#include <memory>

#include "console/history_recorder.h"
#include "console/node_path.h"
#include "console/paste_data.h"
#include "history/history_store.h"
#include "platform/text.h"

namespace {

// The only child of `parent` named `name`; 0 when there is none or more.
HSCOPEITEM OnlyChild(CConsoleHost& console, HSCOPEITEM parent, const std::u16string& name)
{
    HSCOPEITEM found = 0;
    for (HSCOPEITEM child : console.Children(parent)) {
        if (console.DisplayName(child) != name) continue;
        if (found != 0) return 0;
        found = child;
    }
    return found;
}

// Whether the history holds a picture of `path` other than this one, seen
// after it: another ferrodex scanned the host later. A history that cannot
// be read says nothing, and this session's scan is taken.
bool HistoryKnowsNewer(CHistoryStore* history, const std::string& key, const HostScanView& scan)
{
    if (history == nullptr) return false;
    std::string error;
    const std::optional<std::int64_t> other = history->LastSeenOther(key, ContentHash(WideToAnsi(scan.xml)), error);
    return other && *other > scan.when;
}

HostStatus MergeOnce(const std::string& path, CHistoryStore* history, const std::vector<SSessionScan>& scans,
                     SScanMergeOutcome& outcome, CConsoleHost& console)
{
    if (HostStatus status = console.Open(path); !status) return status;
    const HSCOPEITEM root = console.RootItem();
    if (root == 0) return HostStatus::Fail("console file " + path + " holds no inventory");
    // Groups list their hosts without contacting any; hosts stay closed.
    console.Expand(root);
    for (const SSessionScan& entry : scans) {
        const std::u16string nodePath = FormatNodePath({entry.group, entry.host});
        const HSCOPEITEM group = OnlyChild(console, root, entry.group);
        if (group != 0 && !console.WasExpanded(group)) console.Expand(group);
        const HSCOPEITEM host = group != 0 ? OnlyChild(console, group, entry.host) : 0;
        if (host == 0) {
            outcome.gone.push_back(nodePath);
            continue;
        }
        if (HistoryKnowsNewer(history, entry.historyKey, entry.scan)) {
            outcome.older.push_back(nodePath);
            continue;
        }
        if (console.Paste(host, MakePictureData(entry.scan.xml).get()) != S_OK)
            return HostStatus::Fail("the host " + WideToAnsi(nodePath) + " of " + path + " did not take its scan");
        outcome.carried.push_back(nodePath);
    }
    return HostStatus::Ok();
}

}  // namespace

bool SScanMergeOutcome::Dropped(const std::u16string& path) const
{
    return std::find(older.begin(), older.end(), path) != older.end() ||
           std::find(gone.begin(), gone.end(), path) != gone.end();
}

std::vector<SSessionScan> CollectSessionScans(CConsoleHost& console)
{
    std::vector<SSessionScan> scans;
    const HSCOPEITEM root = console.RootItem();
    if (root == 0) return scans;
    for (HSCOPEITEM group : console.Children(root)) {
        for (HSCOPEITEM host : console.Children(group)) {
            SSessionScan entry;
            if (!console.HostScan(host, entry.scan)) continue;
            entry.group = console.DisplayName(group);
            entry.host = console.DisplayName(host);
            entry.historyKey = HistoryKeyOf(console, host, WideToAnsi(FormatNodePath({entry.group, entry.host})));
            scans.push_back(std::move(entry));
        }
    }
    return scans;
}

HostStatus MergeSessionScans(CConsoleFileGuard& guard, const std::string& historyFile,
                             const std::vector<SSessionScan>& scans, SScanMergeOutcome& outcome)
{
    std::string error;
    std::unique_ptr<CHistoryStore> history =
        historyFile.empty() ? nullptr : CHistoryStore::Open(historyFile, false, error);
    for (int attempt = 0; attempt < kScanMergeAttempts; ++attempt) {
        outcome = {};
        guard.NoteReread();
        CConsoleHost console;
        if (HostStatus status = MergeOnce(guard.Path(), history.get(), scans, outcome, console); !status)
            return status;
        // Everyone who saves takes the lock first; a file changed all the
        // same (by a program that does not) is read again.
        if (guard.ChangedSinceRead()) continue;
        if (HostStatus status = console.Save(); !status) return status;
        guard.NoteSaved();
        return HostStatus::Ok();
    }
    return HostStatus::Fail("console file " + guard.Path() + " kept changing while this command's scans were added to it");
}
