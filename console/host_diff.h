// Two scans of a host taken from the history and compared as the views show
// them; shared by `ferrodex diff` and the terminal console's "Changes Since
// Last Scan".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/host_core.h"
#include "history/history_store.h"
#include "history/scan_diff.h"

struct HostDiff {
    ScanEntry from;  // without the XML
    ScanEntry to;
    std::vector<ScanChange> changes;
};

// Compares the scans `from` and `to` (a scan id or an ISO time each; empty
// `to` is the last scan, empty `from` the one before `to`) of the host
// GROUP/HOST in the history file, kept under `key` (HistoryKey; empty: the
// path). False with a reason, as the user reads it, when there is no such
// scan or the history cannot be read.
bool DiffHostScans(const std::string& historyFile, const std::string& host, const std::string& from,
                   const std::string& to, HostDiff& result, std::string& error, const std::string& key = {});
// The same for a host asked about as HistoryHost (its `path` is GROUP/HOST):
// a shared history compares the scans of every console that has the host.
bool DiffHostScans(const std::string& historyFile, const HistoryHost& asked, const std::string& from,
                   const std::string& to, HostDiff& result, std::string& error);
// The same in a history open already.
bool DiffHostScansIn(CHistoryStore& store, const HistoryHost& asked, const std::string& from, const std::string& to,
                     HostDiff& result, std::string& error);

// Opens a history file (or a shared history) for reading; null with
// `missing` set (and no message) when there is no file yet, else null with
// a reason.
std::unique_ptr<CHistoryStore> OpenHistoryFile(const std::string& file, bool& missing, std::string& error);

// The changes as a list view: Change, Node, Name, Old value, New value.
ResultView ChangesView(const HostDiff& diff);

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS][Z]" (or a space for the T), UTC:
// seconds since 1970; nothing for any other text or an impossible date.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);
// The scan WHEN names among `entries` (oldest first): digits are a scan id;
// a time names the host's picture then, the last scan first seen at or
// before it.
std::optional<std::size_t> FindScan(const std::vector<ScanEntry>& entries, const std::string& when);
