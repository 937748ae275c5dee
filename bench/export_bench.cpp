// A console of 1,000 hosts, each holding a real lshw output of the tests'
// data: how long reading their trees through the snap-in takes, and each
// export's time and size.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "console/export_writers.h"
#include "console/fleet_collect.h"
#include "console/fleet_commands.h"
#include "console/host_core.h"
#include "console/inventory_image.h"
#include "console/snapin_module.h"
#include "platform/text.h"

namespace {

constexpr int kHosts = 1000;

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

template <typename F>
void Measure(const char* what, F&& write)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string out = write();
    std::printf("%-28s %8.3f s  %10.1f MB\n", what, Seconds(start), static_cast<double>(out.size()) / 1e6);
}

}  // namespace

int main()
{
    char folder[] = "/tmp/fdx-export-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("FERRODEX_REGISTRY", folder, 1);
    std::string error;
    const std::unique_ptr<CSnapinModule> module =
        CSnapinModule::Load(std::string(FDX_BINARY_DIR) + "/snapin/libferrodex-snapin.so", error);
    if (!module || module->Register() != S_OK) {
        std::fprintf(stderr, "export_bench: the snap-in module cannot be registered: %s\n", error.c_str());
        return 1;
    }
    const std::u16string root = AnsiToWide(Read(std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/root.xml"));
    const std::u16string laptop = AnsiToWide(Read(std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/laptop.xml"));
    std::vector<InventoryImageHost> hosts;
    for (int i = 0; i < kHosts; ++i)
        hosts.push_back({u"Group " + AnsiToWide(std::to_string(i / 100)), u"host" + AnsiToWide(std::to_string(i)),
                         i % 2 == 0 ? root : laptop});
    const std::vector<std::uint8_t> image = InventoryImageWithHosts(hosts);
    std::printf("%d hosts, console file %.1f MB\n", kHosts, static_cast<double>(image.size()) / 1e6);

    CScriptUserInterface ui(FleetReadAnswers());
    IUserInterface* previous = SetUserInterface(&ui);
    std::vector<FleetHost> fleet;
    {
        CConsoleHost console;
        auto start = std::chrono::steady_clock::now();
        if (HostStatus status = console.OpenImage(image); !status) {
            std::fprintf(stderr, "export_bench: %s\n", status.message.c_str());
            return 1;
        }
        console.Expand(console.RootItem());
        std::printf("%-28s %8.3f s\n", "open the console", Seconds(start));
        start = std::chrono::steady_clock::now();
        if (!CollectFleet(console, console.RootItem(), {}, fleet, error,
                          [&](std::size_t, std::size_t, const std::u16string&) { ui.NextHost(); })) {
            std::fprintf(stderr, "export_bench: %s\n", error.c_str());
            return 1;
        }
        std::printf("%-28s %8.3f s\n", "read 1,000 trees", Seconds(start));
    }
    SetUserInterface(previous);
    std::size_t scanned = 0;
    for (const FleetHost& host : fleet) scanned += host.scanned ? 1 : 0;
    if (ui.Failed() || scanned != fleet.size()) {
        std::fprintf(stderr, "export_bench: %zu of %zu hosts read\n", scanned, fleet.size());
        return 1;
    }
    Measure("export html", [&] { return ExportFleetHtml(fleet); });
    Measure("export json", [&] { return ExportFleetJson(fleet); });
    Measure("export csv", [&] { return ExportFleetCsv(fleet); });
    std::filesystem::remove_all(folder);
    return 0;
}
