#include "console/host_diff.h"

#include <chrono>
#include <cstdio>

#include "console/history_recorder.h"
#include "console/scan_snapshot.h"
#include "history/pg_history_store.h"
#include "platform/paths.h"
#include "platform/text.h"

// Parses "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS][Z]" or the same with a space:
// seconds since 1970, UTC.
std::optional<std::int64_t> ParseIsoTime(std::string_view text)
{
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    auto digits = [&](std::size_t at, std::size_t count, auto& out) {
        if (text.size() < at + count) return false;
        unsigned value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
        }
        out = static_cast<std::remove_reference_t<decltype(out)>>(value);
        return true;
    };
    if (!digits(0, 4, year) || text.size() < 10 || text[4] != '-' || !digits(5, 2, month) || text[7] != '-' ||
        !digits(8, 2, day))
        return std::nullopt;
    std::size_t at = 10;
    if (at < text.size()) {
        if ((text[at] != 'T' && text[at] != ' ') || !digits(at + 1, 2, hour) || text.size() < at + 6 ||
            text[at + 3] != ':' || !digits(at + 4, 2, minute))
            return std::nullopt;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!digits(at + 1, 2, second)) return std::nullopt;
            at += 3;
        }
        if (at < text.size() && text[at] == 'Z') ++at;
        if (at != text.size()) return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{month}, std::chrono::day{day}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    return sys_days{date}.time_since_epoch() / seconds(1) + hour * 3600 + minute * 60 + second;
}

// A scan named by WHEN among `entries` (oldest first): a number is a scan
// id; a time names the scan that was the host's picture then (the last one
// first seen at or before it).
std::optional<std::size_t> FindScan(const std::vector<ScanEntry>& entries, const std::string& when)
{
    if (!when.empty() && when.find_first_not_of("0123456789") == std::string::npos && when.size() < 19) {
        const std::int64_t id = std::stoll(when);
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].id == id) return i;
        return std::nullopt;
    }
    const std::optional<std::int64_t> time = ParseIsoTime(when);
    if (!time) return std::nullopt;
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].firstSeen <= *time) found = i;
    return found;
}


std::unique_ptr<CHistoryStore> OpenHistoryFile(const std::string& file, bool& missing, std::string& error)
{
    missing = false;
    if (file.empty()) {
        error = "no folder for the history can be made";
        return nullptr;
    }
    if (IsSharedHistoryLocation(file)) return OpenHistoryLocation(file, false, error);
    // Only looked at here, never opened: whatever is there is checked by
    // the store before anything is read.
    SFileIdentity there;
    if (!IdentityOfPath(file, there)) {
        missing = true;
        return nullptr;
    }
    std::unique_ptr<CHistoryStore> store = CHistoryStore::Open(file, false, error);
    if (!store) error = "the history " + file + " cannot be read: " + error;
    return store;
}

bool DiffHostScans(const std::string& historyFile, const std::string& host, const std::string& from,
                   const std::string& to, HostDiff& result, std::string& error, const std::string& key)
{
    HistoryHost asked = HistoryHost::OfKey(key.empty() ? host : key);
    asked.path = host;
    return DiffHostScans(historyFile, asked, from, to, result, error);
}

bool DiffHostScans(const std::string& historyFile, const HistoryHost& asked, const std::string& from,
                   const std::string& to, HostDiff& result, std::string& error)
{
    error.clear();
    bool missing = false;
    std::unique_ptr<CHistoryStore> store = OpenHistoryFile(historyFile, missing, error);
    if (!store) {
        if (missing) error = "no scan of " + asked.path + " is in the history";
        return false;
    }
    return DiffHostScansIn(*store, asked, from, to, result, error);
}

bool DiffHostScansIn(CHistoryStore& store, const HistoryHost& asked, const std::string& from, const std::string& to,
                     HostDiff& result, std::string& error)
{
    const std::string& host = asked.path;
    HistoryHost kept = asked;
    error.clear();
    std::vector<ScanEntry> entries = store.ListOf(kept, error);
    // Entries an older version kept under the path, not adopted yet.
    if (error.empty() && entries.empty() && kept.key != host) {
        kept.key = host;
        entries = store.ListOf(kept, error);
    }
    if (!error.empty()) return false;
    if (entries.empty()) {
        error = "no scan of " + host + " is in the history";
        return false;
    }
    const std::optional<std::size_t> last = to.empty() ? std::optional(entries.size() - 1) : FindScan(entries, to);
    if (!last) {
        error = "no scan of " + host + " matches \"" + to + "\"";
        return false;
    }
    std::optional<std::size_t> first;
    if (!from.empty()) {
        first = FindScan(entries, from);
        if (!first) {
            error = "no scan of " + host + " matches \"" + from + "\"";
            return false;
        }
    } else if (*last > 0) {
        first = *last - 1;
    } else {
        error = "the history holds only one scan of " + host + ": nothing to compare it with";
        return false;
    }
    std::vector<SnapshotNode> before;
    std::vector<SnapshotNode> after;
    for (auto [index, nodes] : {std::pair{*first, &before}, std::pair{*last, &after}}) {
        const std::optional<ScanEntry> entry = store.GetOf(kept, entries[index].id, error);
        if (!entry) {
            if (error.empty()) error = "scan " + std::to_string(entries[index].id) + " is gone";
            return false;
        }
        if (!SnapshotOfXml(AnsiToWide(entry->xml), *nodes, error)) {
            error = "scan " + std::to_string(entry->id) + ": " + error;
            return false;
        }
    }
    result.from = entries[*first];
    result.to = entries[*last];
    result.changes = DiffScans(before, after);
    return true;
}

ResultView ChangesView(const HostDiff& diff)
{
    ResultView view;
    view.kind = ResultKind::List;
    for (const char16_t* title : {u"Change", u"Node", u"Name", u"Old value", u"New value"})
        view.columns.push_back({title, 0, 0});
    for (const ScanChange& change : diff.changes) {
        ResultRowView row;
        row.cells.push_back(change.kind == EChange::Added     ? u"added"
                            : change.kind == EChange::Removed ? u"removed"
                                                              : u"changed");
        row.cells.push_back(AnsiToWide(change.path));
        row.cells.push_back(AnsiToWide(change.row));
        row.cells.push_back(AnsiToWide(change.oldValue));
        row.cells.push_back(AnsiToWide(change.newValue));
        view.rows.push_back(std::move(row));
    }
    return view;
}
