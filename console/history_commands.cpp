#include "console/history_commands.h"

#include <cstdio>

#include "console/commands.h"
#include "console/history_recorder.h"
#include "console/json_writer.h"
#include "console/node_path.h"
#include "console/host_diff.h"
#include "history/history_store.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

int Fail(const std::string& text)
{
    std::fprintf(stderr, "Error: %s\n", TerminalText(text).c_str());
    return 1;
}

// The host path as the history keys it; empty when it names no host.
std::string HostKey(const std::string& path)
{
    const std::vector<std::u16string> names = ParseNodePath(AnsiToWide(path));
    if (names.size() != 2) return {};
    return WideToAnsi(FormatNodePath(names));
}

std::unique_ptr<CHistoryStore> OpenHistory(const CommandContext& context, bool& missing, std::string& error)
{
    return OpenHistoryFile(HistoryLocationOf(context), missing, error);
}

void WriteScanJson(CJsonWriter& json, const ScanEntry& entry)
{
    json.BeginObject();
    json.Key("id");
    json.Number(entry.id);
    json.Key("firstSeen");
    json.String(IsoUtcTime(entry.firstSeen));
    json.Key("lastSeen");
    json.String(IsoUtcTime(entry.lastSeen));
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
    HistoryHost asked = HistoryHostOfPath(context, host);
    if (auto store = OpenHistory(context, missing, error)) {
        entries = store->ListOf(asked, error);
        // Entries an older version kept under the path, not adopted yet.
        if (error.empty() && entries.empty() && asked.key != host) {
            asked.key = host;
            entries = store->ListOf(asked, error);
        }
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
            std::printf("%6s  %-20s  %-20s  %s\n", "SCAN", "FIRST SEEN", "LAST SEEN", "LOGIN@ADDRESS:PORT  SIZE");
        for (const ScanEntry& entry : entries) {
            std::printf("%6lld  %s  %s  %s@%s:%d  %lld bytes\n", static_cast<long long>(entry.id),
                        IsoUtcTime(entry.firstSeen).c_str(), IsoUtcTime(entry.lastSeen).c_str(),
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
    // As diff(1): 0 when the scans are the same, 1 when they differ, 2 when
    // they cannot be compared.
    constexpr int kTrouble = 2;
    const std::string host = HostKey(path);
    if (host.empty()) {
        Fail("\"" + path + "\" does not name a host: write GROUP/HOST");
        return kTrouble;
    }
    HostDiff result;
    std::string error;
    if (!DiffHostScans(HistoryLocationOf(context), HistoryHostOfPath(context, host), options.from, options.to, result,
                       error)) {
        Fail(error);
        return kTrouble;
    }
    const std::vector<ScanChange>& changes = result.changes;
    const ScanEntry& old = result.from;
    const ScanEntry& now = result.to;
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
                    static_cast<long long>(old.id), IsoUtcTime(old.firstSeen).c_str(),
                    static_cast<long long>(now.id), IsoUtcTime(now.firstSeen).c_str(), changes.size(),
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
    return changes.empty() ? 0 : 1;
}

int CommandHistoryPrune(const CommandContext& context, const std::string& path)
{
    std::string host;
    if (!path.empty()) {
        host = HostKey(path);
        if (host.empty()) return Fail("\"" + path + "\" does not name a host: write GROUP/HOST");
        host = HistoryKeyOfPath(context, host);
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

int CommandHistoryPush(const CommandContext& context)
{
    const std::string local = HistoryFileFor(context.consoleFile);
    const std::string shared = ChosenHistory(context.history);
    if (shared.empty() || shared == local)
        return Fail("no shared history is chosen: name one with --history or the setting HistoryDatabase");
    bool missing = false;
    std::string error;
    std::unique_ptr<CHistoryStore> from = OpenHistoryFile(local, missing, error);
    if (!from) {
        if (!missing) return Fail(error);
        std::printf("0 scans sent: %s holds none\n", TerminalText(local).c_str());
        return 0;
    }
    std::unique_ptr<CHistoryStore> to = OpenHistoryLocation(shared, true, error);
    if (!to) return Fail(error);
    std::size_t sent = 0;
    std::size_t there = 0;
    std::size_t unkeyed = 0;
    for (const std::string& key : from->Keys(error)) {
        // Kept under a path GROUP/HOST (a host never saved, or an older
        // version's entries): in a shared history that path would be every
        // console's. They go once their host has its identity.
        if (key.find('/') != std::string::npos) {
            unkeyed += from->List(key, error).size();
            continue;
        }
        for (const ScanEntry& listed : from->List(key, error)) {
            const std::optional<ScanEntry> entry = from->Get(key, listed.id, error);
            if (!entry) continue;  // pruned meanwhile
            bool added = false;
            if (!to->Merge(key, *entry, added, error))
                return Fail(error + " (" + std::to_string(sent) + " scans were sent before; run the push again)");
            ++(added ? sent : there);
        }
        if (!error.empty()) break;
    }
    if (!error.empty()) return Fail(error);
    std::printf("%zu scan%s sent to %s, %zu there already\n", sent, sent == 1 ? "" : "s",
                TerminalText(HistoryShownAs(shared)).c_str(), there);
    if (unkeyed > 0)
        std::fprintf(stderr, "Note: %zu scan%s of hosts without an identity yet stay in %s until their console "
                             "file is saved\n",
                     unkeyed, unkeyed == 1 ? "" : "s", TerminalText(local).c_str());
    return 0;
}
