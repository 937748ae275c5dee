// The fleet as the console file holds it: every host's last picture of its
// hardware (the tree of nodes with their Name/Value rows, as the views show
// them). Searches and exports work on this model, never on a live host.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

using FleetRow = std::pair<std::u16string, std::u16string>;

struct FleetNode {
    std::u16string name;
    std::vector<FleetRow> rows;
    std::vector<FleetNode> children;
    // lshw's class of the hardware (disk, processor, memory, network ...);
    // empty for a "general" node.
    std::u16string hwClass = {};
};

struct FleetHost {
    std::u16string group;
    std::u16string name;
    std::u16string address;
    int port = 0;
    // How the host logs in ("password", "key-file", "agent"), when the
    // snap-in says; never a secret.
    std::optional<std::string> loginMethod;
    // The host holds a picture of its hardware; without one, `nodes` is empty.
    bool scanned = false;
    // When the picture was taken (the console file keeps it; a file of an
    // older release does not, and the history may tell).
    std::optional<std::u16string> scanTime;
    // The last refresh that failed after the picture was taken (or on a host
    // never scanned): when, and what went wrong in a few words.
    std::optional<std::u16string> lastErrorTime;
    std::u16string lastError;
    std::vector<FleetNode> nodes;
    // What the history keeps the host's scans under (HistoryKey).
    std::string historyKey;
};

// "GROUP/HOST", escaped as the commands take paths.
std::u16string FleetHostPath(const FleetHost& host);

// A node's class: its name without a trailing ":N" ("cpu:1" is a "cpu").
std::u16string FleetNodeClass(const std::u16string& name);
// A node's rows: its own, then those of its "general" child, which holds
// them for a node with children.
std::vector<const FleetRow*> FleetNodeRows(const FleetNode& node);
// The first value of the named row among `rows`; empty when there is none.
std::u16string FleetRowValue(const std::vector<const FleetRow*>& rows, std::u16string_view name);
// Whether a node is the "general" child that holds its parent's rows.
bool IsFleetGeneralNode(const FleetNode& node);
