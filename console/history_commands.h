// The commands over the scan history: list a host's scans, compare two of
// them, and prune old ones. They read the history file beside the console
// file and never contact a host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/commands.h"
#include "history/history_store.h"

struct DiffOptions {
    std::string from;  // a scan id or an ISO time; empty: the scan before `to`
    std::string to;    // empty: the last scan
    bool json = false;
};

int CommandHistory(const CommandContext& context, const std::string& path, bool json);
int CommandDiff(const CommandContext& context, const std::string& path, const DiffOptions& options);
int CommandHistoryPrune(const CommandContext& context, const std::string& path);

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS][Z]" (or a space for the T), UTC:
// seconds since 1970; nothing for any other text or an impossible date.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);
// The scan WHEN names among `entries` (oldest first): digits are a scan id;
// a time names the host's picture then, the last scan first seen at or
// before it.
std::optional<std::size_t> FindScan(const std::vector<ScanEntry>& entries, const std::string& when);
