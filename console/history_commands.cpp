#include "console/history_commands.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "console/history_recorder.h"
#include "console/json_writer.h"
#include "console/node_path.h"
#include "console/scan_snapshot.h"
#include "history/history_store.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

int Fail(const std::string& text)
{
    std::fprintf(stderr, "Error: %s\n", TerminalText(text).c_str());
    return 1;
}

// "2026-12-07 00:40:12 UTC".
std::string FormatTime(std::int64_t value)
{
    using namespace std::chrono;
    const sys_seconds when{seconds(value)};
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{when - day};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld UTC", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

}  // namespace

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

namespace {

// The host path as the history keys it; empty when it names no host.
std::string HostKey(const std::string& path)
{
    const std::vector<std::u16string> names = ParseNodePath(AnsiToWide(path));
    if (names.size() != 2) return {};
    return WideToAnsi(FormatNodePath(names));
}

// Opens the history for reading; null (with `missing` set and no message)
// when there is none yet.
std::unique_ptr<CHistoryStore> OpenHistory(const CommandContext& context, bool& missing, std::string& error)
{
    missing = false;
    const std::string file = HistoryFileFor(context.consoleFile);
    if (file.empty()) {
        error = "no folder for the history can be made";
        return nullptr;
    }
    if (std::FILE* probe = std::fopen(file.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        missing = true;
        return nullptr;
    }
    std::unique_ptr<CHistoryStore> store = CHistoryStore::Open(file, false, error);
    if (!store) error = "the history " + file + " cannot be read: " + error;
    return store;
}

void WriteScanJson(CJsonWriter& json, const ScanEntry& entry)
{
    json.BeginObject();
    json.Key("id");
    json.Number(entry.id);
    json.Key("firstSeen");
    json.String(FormatTime(entry.firstSeen));
    json.Key("lastSeen");
    json.String(FormatTime(entry.lastSeen));
    json.Key("address");
    json.String(entry.address);
    json.Key("port");
    json.Number(entry.port);
    json.Key("login");
    json.String(entry.login);
    json.Key("bytes");
    json.Number(entry.size);
    json.EndObject();
}

const char* ChangeName(EChange kind)
{
    switch (kind) {
    case EChange::Added: return "added";
    case EChange::Removed: return "removed";
    case EChange::RowChanged: break;
    }
    return "changed";
}

}  // namespace

int CommandHistory(const CommandContext& context, const std::string& path, bool json)
{
    const std::string host = HostKey(path);
    if (host.empty()) return Fail("\"" + path + "\" does not name a host: write GROUP/HOST");
    bool missing = false;
    std::string error;
    std::vector<ScanEntry> entries;
    if (auto store = OpenHistory(context, missing, error)) {
        entries = store->List(host, error);
    }
    if (!error.empty()) return Fail(error);
    if (json) {
        CJsonWriter writer;
        writer.BeginArray();
        for (const ScanEntry& entry : entries) WriteScanJson(writer, entry);
        writer.EndArray();
        std::printf("%s\n", writer.Text().c_str());
    } else {
        if (!entries.empty())
            std::printf("%6s  %-23s  %-23s  %s\n", "SCAN", "FIRST SEEN", "LAST SEEN", "LOGIN@ADDRESS:PORT  SIZE");
        for (const ScanEntry& entry : entries) {
            std::printf("%6lld  %s  %s  %s@%s:%d  %lld bytes\n", static_cast<long long>(entry.id),
                        FormatTime(entry.firstSeen).c_str(), FormatTime(entry.lastSeen).c_str(),
                        TerminalText(entry.login).c_str(), TerminalText(entry.address).c_str(), entry.port,
                        static_cast<long long>(entry.size));
        }
        if (entries.empty()) std::fprintf(stderr, "No scan of %s is in the history.\n", TerminalText(host).c_str());
    }
    std::fflush(stdout);
    return 0;
}

int CommandDiff(const CommandContext& context, const std::string& path, const DiffOptions& options)
{
    const std::string host = HostKey(path);
    if (host.empty()) return Fail("\"" + path + "\" does not name a host: write GROUP/HOST");
    bool missing = false;
    std::string error;
    std::unique_ptr<CHistoryStore> store = OpenHistory(context, missing, error);
    if (!store) return Fail(missing ? "no scan of " + host + " is in the history" : error);
    const std::vector<ScanEntry> entries = store->List(host, error);
    if (!error.empty()) return Fail(error);
    std::optional<std::size_t> to = options.to.empty() && !entries.empty() ? std::optional(entries.size() - 1)
                                                                            : FindScan(entries, options.to);
    if (!to) return Fail(entries.empty() ? "no scan of " + host + " is in the history"
                                         : "no scan of " + host + " matches \"" + options.to + "\"");
    std::optional<std::size_t> from;
    if (!options.from.empty()) {
        from = FindScan(entries, options.from);
        if (!from) return Fail("no scan of " + host + " matches \"" + options.from + "\"");
    } else if (*to > 0) {
        from = *to - 1;
    } else {
        return Fail("the history holds only one scan of " + host + ": nothing to compare it with");
    }
    std::vector<SnapshotNode> before;
    std::vector<SnapshotNode> after;
    for (auto [index, nodes] : {std::pair{*from, &before}, std::pair{*to, &after}}) {
        const std::optional<ScanEntry> entry = store->Get(host, entries[index].id, error);
        if (!entry) return Fail(error.empty() ? "scan " + std::to_string(entries[index].id) + " is gone" : error);
        if (!SnapshotOfXml(AnsiToWide(entry->xml), *nodes, error))
            return Fail("scan " + std::to_string(entry->id) + ": " + error);
    }
    const std::vector<ScanChange> changes = DiffScans(before, after);
    const ScanEntry& old = entries[*from];
    const ScanEntry& now = entries[*to];
    if (options.json) {
        CJsonWriter json;
        json.BeginObject();
        json.Key("host");
        json.String(host);
        json.Key("from");
        WriteScanJson(json, old);
        json.Key("to");
        WriteScanJson(json, now);
        json.Key("changes");
        json.BeginArray();
        for (const ScanChange& change : changes) {
            json.BeginObject();
            json.Key("change");
            json.String(ChangeName(change.kind));
            json.Key("path");
            json.String(change.path);
            if (change.kind == EChange::RowChanged) {
                json.Key("name");
                json.String(change.row);
                json.Key("old");
                json.String(change.oldValue);
                json.Key("new");
                json.String(change.newValue);
            }
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
        std::printf("%s\n", json.Text().c_str());
    } else {
        std::printf("%s: scan %lld (%s) to scan %lld (%s): %zu change%s\n", TerminalText(host).c_str(),
                    static_cast<long long>(old.id), FormatTime(old.firstSeen).c_str(),
                    static_cast<long long>(now.id), FormatTime(now.firstSeen).c_str(), changes.size(),
                    changes.size() == 1 ? "" : "s");
        for (const ScanChange& change : changes) {
            if (change.kind == EChange::RowChanged)
                std::printf("~ %s  %s: %s -> %s\n", TerminalText(change.path).c_str(),
                            TerminalText(change.row).c_str(), TerminalText(change.oldValue).c_str(),
                            TerminalText(change.newValue).c_str());
            else
                std::printf("%c %s\n", change.kind == EChange::Added ? '+' : '-', TerminalText(change.path).c_str());
        }
    }
    std::fflush(stdout);
    return 0;
}

int CommandHistoryPrune(const CommandContext& context, const std::string& path)
{
    std::string host;
    if (!path.empty()) {
        host = HostKey(path);
        if (host.empty()) return Fail("\"" + path + "\" does not name a host: write GROUP/HOST");
    }
    bool missing = false;
    std::string error;
    std::unique_ptr<CHistoryStore> store = OpenHistory(context, missing, error);
    if (!store) return missing ? 0 : Fail(error);
    std::int64_t removed = 0;
    if (!store->Prune(context.historyKeep, host, removed, error)) return Fail("the history was not pruned: " + error);
    std::printf("%lld scan%s removed, at most %d kept per host\n", static_cast<long long>(removed),
                removed == 1 ? "" : "s", context.historyKeep);
    return 0;
}
