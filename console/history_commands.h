// The commands over the scan history: list a host's scans, compare two of
// them, prune old ones, and push the local scans to the shared history.
// They read the chosen history (or the file beside the console file) and
// never contact a host.
#pragma once

#include <string>

#include "console/commands.h"

struct DiffOptions {
    std::string from;  // a scan id or an ISO time; empty: the scan before `to`
    std::string to;    // empty: the last scan
    bool json = false;
};

int CommandHistory(const CommandContext& context, const std::string& path, bool json);
int CommandDiff(const CommandContext& context, const std::string& path, const DiffOptions& options);
int CommandHistoryPrune(const CommandContext& context, const std::string& path);
// Sends the scans of the file beside the console file that the chosen
// shared history lacks (those a lost connection kept back); sending them
// again changes nothing.
int CommandHistoryPush(const CommandContext& context);

