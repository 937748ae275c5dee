// Saves and loads an inventory of 1,000 hosts, each holding a real lshw XML,
// and prints the speed beside a plain copy of the same number of bytes made
// in the same run; every operation starts with cold caches.
//   persistence_bench [XML_FILE] [HOSTS]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <iterator>
#include <string>
#include <vector>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

// Rounds of the three operations; in each round every operation runs once,
// one after the other, and the best time of each counts, so that load from
// elsewhere on the machine touches all of them alike.
constexpr int kRounds = 40;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Larger than the processor's last-level cache (32 MiB on the build machine).
constexpr std::size_t kCacheSpan = 64u << 20;

// Writes a buffer larger than the caches, so that the next operation finds
// none of its bytes there, whichever operation ran before it.
void EvictCaches(std::vector<std::uint8_t>& span)
{
    for (std::size_t i = 0; i < span.size(); i += 64) span[i] = static_cast<std::uint8_t>(i);
    asm volatile("" : : "r"(span.data()) : "memory");
}

// Times one run of `body` into `best` when it beats it, starting with cold
// caches. What `body` returns is destroyed after the clock has stopped: the
// operation is timed, not the freeing of its result.
template <typename F>
void Time(double& best, std::vector<std::uint8_t>& span, F&& body)
{
    EvictCaches(span);
    const auto start = Clock::now();
    auto result = body();
    best = std::min(best, Seconds(Clock::now() - start));
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/root.xml";
    const int hosts = argc > 2 ? std::atoi(argv[2]) : 1000;
    std::ifstream in(path, std::ios::binary);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (xml.empty()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::u16string wideXml = AnsiToWide(xml);

    CRootNode root;
    for (int g = 0; g < hosts / 10; ++g) {
        auto& group = static_cast<CGroupNode&>(root.AppendChild(std::make_unique<CGroupNode>(&root)));
        group.SetName(u"group " + IntToDecimal(g));
        for (int h = 0; h < 10; ++h) {
            auto& host = static_cast<CHostNode&>(group.AppendChild(std::make_unique<CHostNode>(&group)));
            host.m_bstrHost = u"host-" + IntToDecimal(g * 10 + h) + u".example";
            host.SetName(host.m_bstrHost);
            host.m_picture.SetText(wideXml);
        }
    }

    std::vector<std::uint8_t> saved;
    {
        com_ptr<IStream> stream = CreateMemoryStream();
        SaveInventory(root, stream.get());
        saved = MemoryStreamBytes(stream.get());
    }
    // The console file's bytes are in memory before a load, as after reading
    // the file: only the load is timed.
    com_ptr<IStream> savedStream = CreateMemoryStream(saved);
    std::vector<std::uint8_t> span(kCacheSpan);
    double save = 1e30;
    double load = 1e30;
    double plain = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        Time(save, span, [&] {
            com_ptr<IStream> stream = CreateMemoryStream();
            SaveInventory(root, stream.get());
            return stream;
        });
        Time(load, span, [&] {
            auto back = std::make_unique<CRootNode>();
            savedStream->Seek(0, STREAM_SEEK_SET, nullptr);
            LoadInventory(*back, savedStream.get());
            return back;
        });
        // The baseline: the same bytes copied into a new buffer.
        Time(plain, span, [&] {
            std::vector<std::uint8_t> copy(saved.begin(), saved.end());
            asm volatile("" : : "r"(copy.data()) : "memory");
            return copy;
        });
    }

    const double mb = static_cast<double>(saved.size()) / 1e6;
    std::printf("inventory: %d hosts, %.1f MB in the console file (XML of %zu bytes each)\n", hosts, mb, xml.size());
    std::printf("save  %8.1f MB/s\n", mb / save);
    std::printf("load  %8.1f MB/s\n", mb / load);
    std::printf("copy  %8.1f MB/s (plain copy of the same bytes)\n", mb / plain);
    std::printf("ratio save/copy %.3f, load/copy %.3f (target: at least 0.8)\n", plain / save, plain / load);
    return 0;
}
