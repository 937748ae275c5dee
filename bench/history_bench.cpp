// Records scans of about 300 KB in the history (new pictures and identical
// ones that fold) and compares two of them: reading both through the
// snap-in, then the node-level comparison. Prints times and sizes.
//   history_bench [XML_FILE] [TARGET_BYTES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "console/scan_snapshot.h"
#include "console/snapin_module.h"
#include "history/history_store.h"
#include "history/scan_diff.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The machine's XML grown to `target` bytes with copies of its PCI subtree
// under new ids; `variant` changes one value in every tenth copy.
std::string Grow(const std::string& xml, std::size_t target, int variant)
{
    const std::size_t start = xml.find("<node id=\"pci\"");
    const std::size_t stop = xml.find("<node id=\"pnp00:00\"");
    if (start == std::string::npos || stop == std::string::npos) return xml;
    const std::string subtree = xml.substr(start, stop - start);
    std::string copies;
    for (int i = 0; xml.size() + copies.size() < target; ++i) {
        std::string copy = subtree;
        copy.replace(copy.find("id=\"pci\""), 8, "id=\"pci:" + std::to_string(i) + "\"");
        if (variant != 0 && i % 10 == 0) {
            const std::size_t at = copy.find("<vendor>");
            if (at != std::string::npos) copy.insert(at + 8, "rev" + std::to_string(variant) + " ");
        }
        copies += copy;
    }
    std::string grown = xml;
    grown.insert(stop, copies);
    return grown;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/root.xml";
    const std::size_t target = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 300000;
    std::ifstream in(path, std::ios::binary);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (xml.empty()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::random_device random;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("fdx-history-bench-" + std::to_string(random()));
    std::filesystem::create_directory(folder);
    setenv("FERRODEX_REGISTRY", folder.c_str(), 1);
    std::string error;
    {
        const std::unique_ptr<CSnapinModule> module =
            CSnapinModule::Load(std::string(FDX_BINARY_DIR) + "/snapin/libferrodex-snapin.so", error);
        if (!module || FAILED(module->Register())) {
            std::fprintf(stderr, "the module: %s\n", error.c_str());
            return 1;
        }
    }
    const std::string before = Grow(xml, target, 0);
    const std::string after = Grow(xml, target, 1);

    // Inserts: 20 distinct pictures, then 20 identical ones that fold.
    const std::string file = (folder / "bench.history.db").string();
    int status = 0;
    if (auto store = CHistoryStore::Open(file, true, error)) {
        constexpr int kScans = 20;
        auto start = Clock::now();
        for (int i = 0; i < kScans && status == 0; ++i)
            if (!store->Record({"Lab/srv", "10.0.0.1", 22, "root", Grow(xml, target, i + 2), i, {}}, 50, error)) status = 1;
        const double distinct = Seconds(Clock::now() - start) / kScans;
        start = Clock::now();
        for (int i = 0; i < kScans && status == 0; ++i)
            if (!store->Record({"Lab/srv", "10.0.0.1", 22, "root", before, 100 + i, {}}, 50, error)) status = 1;
        const double folded = Seconds(Clock::now() - start) / kScans;
        std::printf("scan size           %zu bytes\n", before.size());
        std::printf("record, new picture %.2f ms per scan\n", distinct * 1e3);
        std::printf("record, folded      %.2f ms per scan\n", folded * 1e3);
        std::printf("history file        %ju bytes for %zu entries (+ WAL %ju bytes)\n",
                    static_cast<std::uintmax_t>(std::filesystem::file_size(file)), store->List("Lab/srv", error).size(),
                    std::filesystem::exists(file + "-wal")
                        ? static_cast<std::uintmax_t>(std::filesystem::file_size(file + "-wal"))
                        : std::uintmax_t{0});
    } else {
        status = 1;
    }

    // The comparison: both scans read through the snap-in, then compared.
    std::vector<SnapshotNode> old;
    std::vector<SnapshotNode> now;
    auto start = Clock::now();
    const bool read = SnapshotOfXml(AnsiToWide(before), old, error) && SnapshotOfXml(AnsiToWide(after), now, error);
    const double reading = Seconds(Clock::now() - start);
    start = Clock::now();
    const std::vector<ScanChange> changes = DiffScans(old, now);
    const double comparing = Seconds(Clock::now() - start);
    if (!read) status = 1;
    std::printf("diff: read 2 scans  %.1f ms (through the snap-in)\n", reading * 1e3);
    std::printf("diff: compare       %.2f ms, %zu changes\n", comparing * 1e3, changes.size());
    if (status != 0) std::fprintf(stderr, "failed: %s\n", error.c_str());
    std::filesystem::remove_all(folder);
    return status;
}
