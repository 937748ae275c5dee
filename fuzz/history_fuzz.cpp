// The history's readers of stored or handed-over bytes: the scan a host
// node hands the console ("FERRODEX_HOST_SCAN"), the times a user names a
// scan by, and the comparison of two hardware trees of any shape (repeated
// ids, missing or repeated tie-breakers, deep nesting) built from the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "console/host_diff.h"
#include "console/node_data.h"
#include "history/scan_diff.h"

namespace {

constexpr const char* kIds[] = {"disk", "bank", "cpu", "pci", "disk", ""};
constexpr const char* kRows[] = {"businfo", "serial", "size", "vendor"};
constexpr const char* kValues[] = {"", "A1", "B2", "scsi@0:0.0.0", "16 GiB"};

// Reads the bytes as steps building two forests: a child, back to the
// parent, a row, or the switch to the second forest.
void Build(std::span<const std::uint8_t> bytes, std::vector<SnapshotNode>& first, std::vector<SnapshotNode>& second)
{
    std::vector<SnapshotNode>* forest = &first;
    std::vector<std::vector<std::size_t>> path;  // indexes from the forest down
    auto current = [&]() -> SnapshotNode* {
        if (path.empty() || path.back().empty()) return nullptr;
        SnapshotNode* node = &(*forest)[path.back()[0]];
        for (std::size_t i = 1; i < path.back().size(); ++i) node = &node->children[path.back()[i]];
        return node;
    };
    path.emplace_back();
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const std::uint8_t op = bytes[i] & 3;
        const std::uint8_t arg = bytes[i + 1];
        if (op == 0) {
            SnapshotNode child;
            child.id = kIds[arg % std::size(kIds)];
            SnapshotNode* parent = current();
            std::vector<SnapshotNode>& siblings = parent != nullptr ? parent->children : *forest;
            if (path.back().size() >= 100) continue;
            siblings.push_back(std::move(child));
            path.back().push_back(siblings.size() - 1);
        } else if (op == 1) {
            if (!path.back().empty()) path.back().pop_back();
        } else if (op == 2) {
            if (SnapshotNode* node = current())
                node->rows.emplace_back(kRows[arg % std::size(kRows)], kValues[(arg >> 2) % std::size(kValues)]);
        } else if (forest == &first) {
            forest = &second;
            path.back().clear();
        }
    }
}

std::size_t Count(const std::vector<ScanChange>& changes, EChange kind)
{
    std::size_t count = 0;
    for (const ScanChange& change : changes) count += change.kind == kind;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto scan = ParseHostScan(bytes)) {
        if (scan->xml.empty()) std::abort();
    }
    ParseIsoTime(std::string_view(reinterpret_cast<const char*>(data), size));

    std::vector<SnapshotNode> first;
    std::vector<SnapshotNode> second;
    Build(bytes, first, second);
    if (!DiffScans(first, first).empty()) std::abort();
    const std::vector<ScanChange> forward = DiffScans(first, second);
    const std::vector<ScanChange> backward = DiffScans(second, first);
    if (Count(forward, EChange::Added) != Count(backward, EChange::Removed)) std::abort();
    if (Count(forward, EChange::RowChanged) != Count(backward, EChange::RowChanged)) std::abort();
    return 0;
}
