// Node-level comparison of two pictures of a host's hardware. Nodes are
// matched by their path of ids; where siblings share an id, the bus info,
// then the serial number, tells them apart, then their order.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One hardware node as the views show it: its id, its Name/Value rows and
// its hardware children.
struct SnapshotNode {
    std::string id;
    std::vector<std::pair<std::string, std::string>> rows;
    std::vector<SnapshotNode> children;
};

enum class EChange { Added, Removed, RowChanged };

struct ScanChange {
    EChange kind = EChange::RowChanged;
    std::string path;  // ids joined with "/"; a repeated id carries "[bus info]" or "[serial]"
    std::string row;   // RowChanged: the row's name
    std::string oldValue;
    std::string newValue;
};

// What changed from `before` to `after` (top-level node lists), in tree
// order. A node that appears or goes is one change, not one per row.
std::vector<ScanChange> DiffScans(const std::vector<SnapshotNode>& before, const std::vector<SnapshotNode>& after);

// The value of the first row named `name`, empty when none.
std::string RowValue(const SnapshotNode& node, std::string_view name);
