// A console file holding a fleet of real-sized servers: 5,000 hosts whose
// lshw prints about 161 KB each, every one different (serials, MAC
// addresses, sizes, slot counts), built without any network. Prints the
// file's size beside the text it holds and the older UTF-16 form, the
// times of the first save (every host packed), a later save, writing and
// opening the file, and of the built `ferrodex` reading it (tree, find,
// the three exports) with its peak memory; baselines measured in the same
// run: packing the same texts with zlib one by one, inflating them, and a
// plain copy of the file.
//   fleet_size_bench [HOSTS] [BYTES_PER_HOST]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "console/console_file.h"
#include "platform/atomic_file.h"
#include "platform/snapin_contract.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/stored_picture.h"
#include "platform/text.h"
#include "sshcore/zlib_stream.h"
#include "tests/support/lshw_fleet.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }
double Mb(double bytes) { return bytes / 1e6; }

std::string ReadText(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    std::string reason;
    ReadFileLimited(path, 1u << 20, bytes, reason);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the program with its output to `out`; gives its exit code, seconds
// and peak resident memory in MB. The peak comes from time(1): a process
// started from this one would carry this one's peak over its exec.
int Run(const std::vector<std::string>& program, const std::string& out, double& seconds, double& peakMb)
{
    const std::string peakFile = out + ".peak";
    std::vector<std::string> args{"/usr/bin/time", "-f", "%M", "-o", peakFile};
    args.insert(args.end(), program.begin(), program.end());
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    seconds = Since(start);
    peakMb = std::atof(ReadText(peakFile).c_str()) / 1024.0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned hosts = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 5000;
    const std::size_t perHost = argc > 2 ? static_cast<std::size_t>(std::atoll(argv[2])) : 161 * 1024;
    const std::string capabilities =
        fleetxml::ProcessorCapabilities(ReadText(std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/root.xml"));
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("fdx-fleet-size-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "fleet.fdx").string();

    // The fleet, 100 hosts to a group.
    auto root = std::make_unique<CRootNode>();
    std::size_t textBytes = 0;
    std::size_t wideBytes = 0;
    double zlibSeconds = 0;
    double takeSeconds = 0;
    std::size_t zlibBytes = 0;
    std::vector<std::string> packings;
    CGroupNode* group = nullptr;
    for (unsigned i = 0; i < hosts; ++i) {
        if (i % 100 == 0) {
            group = static_cast<CGroupNode*>(&root->AppendChild(std::make_unique<CGroupNode>(root.get())));
            group->SetName(u"rack-" + IntToDecimal(i / 100));
        }
        auto& host = static_cast<CHostNode&>(group->AppendChild(std::make_unique<CHostNode>(group)));
        host.m_bstrHost = u"srv-" + IntToDecimal(i) + u".example";
        host.SetName(host.m_bstrHost);
        host.m_bstrLogin = u"ops";
        const std::string xml = fleetxml::HostXml(capabilities, i, perHost);
        textBytes += xml.size();
        const std::u16string wide = AnsiToWide(xml);
        wideBytes += 16 + 2 * (host.m_bstrHost.size() + 2 + wide.size());
        // The baseline: zlib over the same text, one host at a time.
        auto start = Clock::now();
        std::string packed;
        PackPicture(wide, packed);
        zlibSeconds += Since(start);
        zlibBytes += packed.size();
        packings.push_back(std::move(packed));
        // What a scan's arrival costs: the host packs the text it takes.
        start = Clock::now();
        host.m_picture.SetText(wide);
        takeSeconds += Since(start);
    }
    std::printf("fleet: %u hosts, lshw text %.1f MB (%.1f KB each)\n", hosts, Mb(static_cast<double>(textBytes)),
                static_cast<double>(textBytes) / hosts / 1024);
    std::printf("zlib of the same texts, one by one       %8.2f s  %8.1f MB (baseline)\n", zlibSeconds,
                Mb(static_cast<double>(zlibBytes)));

    std::printf("take every host's picture (packed)       %8.2f s\n", takeSeconds);
    std::vector<std::uint8_t> stream;
    auto start = Clock::now();
    const auto firstSave = start;
    {
        com_ptr<IStream> out = CreateMemoryStream();
        if (FAILED(SaveInventory(*root, out.get()))) {
            std::fprintf(stderr, "fleet_size_bench: the inventory does not save\n");
            return 1;
        }
        stream = MemoryStreamBytes(out.get());
    }
    const double saveSeconds = Since(firstSave);
    // The baseline of an open: inflating the same packed texts, nothing else.
    start = Clock::now();
    for (const std::string& packed : packings) {
        std::vector<std::uint8_t> text;
        sshcore::InflateWhole({reinterpret_cast<const std::uint8_t*>(packed.data()) + 4, packed.size() - 4}, text,
                                kMaxPictureBytes);
    }
    std::printf("zlib inflate of the same, one by one     %8.2f s (baseline)\n", Since(start));
    packings.clear();
    std::printf("save                                     %8.2f s  %8.1f MB stream\n", saveSeconds,
                Mb(static_cast<double>(stream.size())));
    start = Clock::now();
    {
        com_ptr<IStream> out = CreateMemoryStream();
        SaveInventory(*root, out.get());
        if (MemoryStreamBytes(out.get()) != stream) {
            std::fprintf(stderr, "fleet_size_bench: a second save differs\n");
            return 1;
        }
    }
    std::printf("save again                               %8.2f s\n", Since(start));
    std::printf("the same in the UTF-16 form of earlier versions: %.1f MB (their cap: 64 MiB)\n",
                Mb(static_cast<double>(wideBytes)));

    start = Clock::now();
    std::string error;
    if (!WriteConsoleFile(file, {{CLSID_Ferrodex, stream}}, error)) {
        std::fprintf(stderr, "fleet_size_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("write the console file                   %8.2f s  %8.1f MB (cap %zu MiB: %.0f%% used)\n",
                Since(start), Mb(static_cast<double>(std::filesystem::file_size(file))), kMaxConsoleFile >> 20,
                100.0 * static_cast<double>(std::filesystem::file_size(file)) / static_cast<double>(kMaxConsoleFile));
    start = Clock::now();
    std::filesystem::copy_file(file, folder / "copy.fdx");
    std::printf("plain copy of the file                   %8.2f s (baseline)\n", Since(start));

    start = Clock::now();
    std::vector<ConsoleFileInstance> instances;
    bool missing = false;
    auto back = std::make_unique<CRootNode>();
    if (!ReadConsoleFile(file, instances, missing, error) || instances.size() != 1) {
        std::fprintf(stderr, "fleet_size_bench: %s\n", error.c_str());
        return 1;
    }
    {
        com_ptr<IStream> in = CreateMemoryStream(std::move(instances[0].stream));
        if (FAILED(LoadInventory(*back, in.get()))) {
            std::fprintf(stderr, "fleet_size_bench: the file does not load\n");
            return 1;
        }
    }
    std::printf("open (read the file, unpack every host)  %8.2f s\n", Since(start));
    for (std::size_t g = 0; g < root->GetChildren().size(); ++g)
        for (std::size_t h = 0; h < root->GetChildren()[g]->GetChildren().size(); ++h)
            if (static_cast<CHostNode&>(*root->GetChildren()[g]->GetChildren()[h]).m_picture.Text() !=
                static_cast<CHostNode&>(*back->GetChildren().at(g)->GetChildren().at(h)).m_picture.Text()) {
                std::fprintf(stderr, "fleet_size_bench: host %zu/%zu came back otherwise\n", g, h);
                return 1;
            }
    std::printf("every host's XML came back unchanged\n");
    root.reset();
    back.reset();

    // The console host on the file, as a user would run it.
    const std::string ferrodex = std::string(FDX_BINARY_DIR) + "/console/ferrodex";
    const std::string registry = (folder / "registry").string();
    setenv("FERRODEX_REGISTRY", registry.c_str(), 1);
    double seconds = 0;
    double peak = 0;
    const std::string sink = (folder / "out").string();
    if (Run({ferrodex, "register"}, sink, seconds, peak) != 0) {
        std::fprintf(stderr, "fleet_size_bench: %s register failed\n", ferrodex.c_str());
        return 1;
    }
    const auto exportOf = [&](const char* format) {
        return std::vector<std::string>{"export", "--format", format, "-o", sink + "." + format};
    };
    const std::string allName = "(" + std::to_string(hosts) + " hosts)";
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> commands = {
        {"ferrodex tree", file, {"tree"}},
        {"ferrodex find " + allName, file, {"find", "class=disk size>7TB"}},
        {"ferrodex export csv " + allName, file, exportOf("csv")},
        {"ferrodex export html " + allName, file, exportOf("html")},
        {"ferrodex export json " + allName, file, exportOf("json")},
    };
    for (const auto& [what, console, args] : commands) {
        std::vector<std::string> line{ferrodex, "--console", console};
        line.insert(line.end(), args.begin(), args.end());
        const int code = Run(line, sink, seconds, peak);
        std::printf("%-40s %8.2f s  peak %7.0f MB  exit %d  output %.1f MB\n", what.c_str(), seconds, peak, code,
                    Mb(static_cast<double>(std::filesystem::exists(args.back()) && args.size() > 2
                                               ? std::filesystem::file_size(args.back())
                                               : std::filesystem::file_size(sink))));
    }
    std::filesystem::remove_all(folder);
    return 0;
}
