// Times `ferrodex host refresh --yes` of a host without lshw (deployment of
// the engine package and the first scan) with the package's prebuilt lshw,
// and with the same package stripped of its prebuilt binaries, so that the
// host builds lshw from the source; interleaved in the same run against the
// same local sshd, the deployment user's home reset before each refresh.
//   engine_bench PACKAGE VERSION [RUNS]
#include <pwd.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kUser = "fdxdeploy";

// Runs a shell command with `input` on its standard input; its exit status.
int Run(const std::string& command, const std::string& input = "")
{
    FILE* pipe = ::popen(("exec >/dev/null 2>&1; " + command).c_str(), "w");
    if (pipe == nullptr) return -1;
    std::fwrite(input.data(), 1, input.size(), pipe);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// No lshw in the user's home, and Debian's stock ~/.bashrc.
void ResetHome()
{
    const std::string home = std::string("/home/") + kUser;
    std::error_code ignored;
    for (const char* path : {"/.local/bin/lshw", "/.local/lib/lshw", "/.local/share/lshw"})
        std::filesystem::remove_all(home + path, ignored);
    std::filesystem::copy_file("/etc/skel/.bashrc", home + "/.bashrc", std::filesystem::copy_options::overwrite_existing,
                               ignored);
}

bool Register(const std::string& package, const std::string& version, const std::string& architectures)
{
    return Run(std::string(FDX_ENGINE_REGISTER) + " --package '" + package + "' --version '" + version + "' --key '" +
               FDX_SIGNING_KEY + "' --architectures '" + architectures + "'") == 0;
}

struct Figures {
    double min = 0;
    double median = 0;
};

Figures Summary(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: engine_bench PACKAGE VERSION [RUNS]\n");
        return 2;
    }
    const std::string package = std::filesystem::absolute(argv[1]).string();
    const std::string version = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    std::string why;
    if (!SshdPeer::Available(&why) || ::getpwnam(kUser) == nullptr) {
        std::fprintf(stderr, "no test peer: %s\n", why.empty() ? "no user fdxdeploy" : why.c_str());
        return 1;
    }
    TempRegistry registry;
    TempDir dir;

    // The same package without its prebuilt binaries.
    const std::string folder = "lshw-" + version;
    const std::string sourceOnly = dir.file("source-only/" + folder + ".tar.gz");
    std::filesystem::create_directories(dir.file("stage"));
    std::filesystem::create_directories(dir.file("source-only"));
    if (Run("tar -C '" + dir.file("stage") + "' -xzf '" + package + "' && rm -rf '" + dir.file("stage/" + folder) +
            "/prebuilt' && tar -C '" + dir.file("stage") + "' -czf '" + sourceOnly + "' '" + folder + "'") != 0) {
        std::fprintf(stderr, "cannot unpack %s\n", package.c_str());
        return 1;
    }

    SshdOptions options;
    options.bindMounts = {{"/dev/null", "/usr/bin/lshw"}};
    SshdPeer peer(options);
    if (!peer.running()) {
        std::fprintf(stderr, "sshd did not start: %s\n", peer.logText().c_str());
        return 1;
    }
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    const std::string ferrodex = std::string(FDX_FERRODEX) + " --console " + dir.file("bench.fdx");
    const std::string port = std::to_string(peer.port());
    if (Run(ferrodex + " group add Lab") != 0 ||
        Run(ferrodex + " host add Lab 127.0.0.1 --port " + port + " --login " + kUser + " --password-stdin",
            password) != 0) {
        std::fprintf(stderr, "cannot set up the inventory with %s\n", FDX_FERRODEX);
        return 1;
    }
    const std::string refresh =
        ferrodex + " host refresh Lab/127.0.0.1 --login " + kUser + " --password-stdin --yes";

    std::vector<double> prebuilt, source;
    for (int i = 0; i < runs; ++i) {
        for (const bool withBinaries : {true, false}) {
            if (!(withBinaries ? Register(package, version, "x86_64 aarch64") : Register(sourceOnly, version, ""))) {
                std::fprintf(stderr, "cannot register the package\n");
                return 1;
            }
            ResetHome();
            const auto start = Clock::now();
            if (Run(refresh, password) != 0) {
                std::fprintf(stderr, "the refresh failed (%s)\n", withBinaries ? "prebuilt" : "from source");
                ResetHome();
                return 1;
            }
            (withBinaries ? prebuilt : source)
                .push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    ResetHome();
    const Figures a = Summary(prebuilt);
    const Figures b = Summary(source);
    std::printf("deployment + first scan of a host without lshw, %d runs each (ferrodex host refresh --yes)\n", runs);
    std::printf("prebuilt static lshw   min %8.1f ms   median %8.1f ms\n", a.min, a.median);
    std::printf("built from the source  min %8.1f ms   median %8.1f ms\n", b.min, b.median);
    std::printf("speed-up (median) %.1fx\n", b.median / a.median);
    return 0;
}
