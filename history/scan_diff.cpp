#include "history/scan_diff.h"

#include <map>
#include <tuple>

namespace {

// Deeper trees than the views build are not compared further.
constexpr int kMaxDepth = 64;

// What tells a node apart from siblings with the same id.
std::string Discriminator(const SnapshotNode& node)
{
    if (std::string bus = RowValue(node, "businfo"); !bus.empty()) return bus;
    return RowValue(node, "serial");
}

std::string Label(const SnapshotNode& node, bool repeated, std::size_t occurrence)
{
    if (!repeated) return node.id;
    const std::string key = Discriminator(node);
    if (!key.empty()) return node.id + "[" + key + "]";
    return node.id + "#" + std::to_string(occurrence + 1);
}

// The siblings keyed by (id, discriminator, occurrence of that pair), with
// the label a path shows.
struct Keyed {
    const SnapshotNode* node;
    std::string label;
};
using Key = std::tuple<std::string, std::string, std::size_t>;
using KeyMap = std::map<Key, Keyed>;

KeyMap KeySiblings(const std::vector<SnapshotNode>& nodes, std::vector<Key>& order)
{
    std::map<std::string, std::size_t> idCount;
    for (const SnapshotNode& node : nodes) ++idCount[node.id];
    std::map<std::pair<std::string, std::string>, std::size_t> seen;
    KeyMap keyed;
    for (const SnapshotNode& node : nodes) {
        const bool repeated = idCount[node.id] > 1;
        std::string key = repeated ? Discriminator(node) : std::string();
        const std::size_t occurrence = seen[{node.id, key}]++;
        auto index = std::make_tuple(node.id, key, occurrence);
        keyed.emplace(index, Keyed{&node, Label(node, repeated, occurrence)});
        order.push_back(std::move(index));
    }
    return keyed;
}

std::string Join(const std::string& path, const std::string& label)
{
    return path.empty() ? label : path + "/" + label;
}

void DiffRows(const SnapshotNode& before, const SnapshotNode& after, const std::string& path,
              std::vector<ScanChange>& changes)
{
    // Rows with the same name are paired in order.
    std::map<std::string, std::vector<const std::string*>> old;
    for (const auto& [name, value] : before.rows) old[name].push_back(&value);
    std::map<std::string, std::size_t> used;
    for (const auto& [name, value] : after.rows) {
        const std::size_t index = used[name]++;
        auto found = old.find(name);
        if (found != old.end() && index < found->second.size()) {
            if (*found->second[index] != value)
                changes.push_back({EChange::RowChanged, path, name, *found->second[index], value});
        } else {
            changes.push_back({EChange::RowChanged, path, name, std::string(), value});
        }
    }
    for (const auto& [name, values] : old) {
        const std::size_t kept = used.count(name) ? used[name] : 0;
        for (std::size_t i = kept; i < values.size(); ++i)
            changes.push_back({EChange::RowChanged, path, name, *values[i], std::string()});
    }
}

void DiffLevel(const std::vector<SnapshotNode>& before, const std::vector<SnapshotNode>& after,
               const std::string& path, int depth, std::vector<ScanChange>& changes)
{
    if (depth > kMaxDepth) return;
    std::vector<Key> oldOrder;
    std::vector<Key> newOrder;
    const KeyMap oldNodes = KeySiblings(before, oldOrder);
    const KeyMap newNodes = KeySiblings(after, newOrder);
    for (const auto& key : oldOrder) {
        if (newNodes.count(key) == 0)
            changes.push_back({EChange::Removed, Join(path, oldNodes.at(key).label), {}, {}, {}});
    }
    for (const auto& key : newOrder) {
        const Keyed& now = newNodes.at(key);
        const std::string here = Join(path, now.label);
        auto found = oldNodes.find(key);
        if (found == oldNodes.end()) {
            changes.push_back({EChange::Added, here, {}, {}, {}});
            continue;
        }
        DiffRows(*found->second.node, *now.node, here, changes);
        DiffLevel(found->second.node->children, now.node->children, here, depth + 1, changes);
    }
}

}  // namespace

std::string RowValue(const SnapshotNode& node, std::string_view name)
{
    for (const auto& [rowName, value] : node.rows)
        if (rowName == name) return value;
    return {};
}

std::vector<ScanChange> DiffScans(const std::vector<SnapshotNode>& before, const std::vector<SnapshotNode>& after)
{
    std::vector<ScanChange> changes;
    DiffLevel(before, after, std::string(), 1, changes);
    return changes;
}
