// Times `ferrodex refresh --jobs 8` over sixteen hosts beside the same
// sixteen refreshed one after the other, in the same run: with
// `refresh --jobs 1`, and with sixteen `ferrodex host refresh` commands.
// The hosts are one local sshd listening on sixteen loopback addresses; its
// lshw waits one second and prints a stored document, as a remote host's
// lshw takes its time on the host's processor, not on ours.
//   fleet_bench [RUNS]
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kHosts = 16;

int Run(const std::string& command, const std::string& input)
{
    FILE* pipe = ::popen(("exec >/dev/null 2>&1; " + command).c_str(), "w");
    if (pipe == nullptr) return -1;
    std::fwrite(input.data(), 1, input.size(), pipe);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(const std::string& command, const std::string& input)
{
    const auto start = Clock::now();
    if (Run(command, input) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Host(int i) { return "127.0.0." + std::to_string(i); }

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string why;
    if (!SshdPeer::Available(&why)) {
        std::fprintf(stderr, "no test peer: %s\n", why.c_str());
        return 1;
    }
    TempRegistry registry;
    TempDir dir;
    std::ifstream xmlFile(std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/user.xml");
    std::stringstream xml;
    xml << xmlFile.rdbuf();
    const std::string lshw = dir.file("lshw");
    std::ofstream(lshw) << "#!/bin/sh\nsleep 1\ncat <<'FDX_END'\n" << xml.str() << "\nFDX_END\n";
    ::chmod(lshw.c_str(), 0755);

    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"MaxStartups 64", "MaxSessions 64"};
    for (int i = 2; i <= kHosts; ++i) options.extraConfig.push_back("ListenAddress " + Host(i));
    options.bindMounts = {{lshw, "/usr/bin/lshw"}};
    SshdPeer peer(options);
    if (!peer.running()) {
        std::fprintf(stderr, "sshd did not start: %s\n", peer.logText().c_str());
        return 1;
    }
    const std::string ferrodex = std::string(FDX_FERRODEX) + " --console " + dir.file("bench.fdx");
    const std::string login = std::string(" --login ") + SshdPeer::User() + " --password-stdin";
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    std::string passwords;
    for (int i = 0; i < kHosts; ++i) passwords += password;
    if (Run(ferrodex + " group add Lab", "") != 0) return 1;
    for (int i = 1; i <= kHosts; ++i)
        if (Run(ferrodex + " host add Lab " + Host(i) + " --port " + std::to_string(peer.port()) + login, password) != 0)
            return 1;
    Seconds(ferrodex + " refresh --jobs 8" + login, passwords);  // stores the host keys

    std::vector<double> parallel, oneJob, commands;
    for (int run = 0; run < runs; ++run) {
        parallel.push_back(Seconds(ferrodex + " refresh --jobs 8" + login, passwords));
        oneJob.push_back(Seconds(ferrodex + " refresh --jobs 1" + login, passwords));
        const auto start = Clock::now();
        for (int i = 1; i <= kHosts; ++i) Seconds(ferrodex + " host refresh Lab/" + Host(i) + login, password);
        commands.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    const double p = Median(parallel), one = Median(oneJob), many = Median(commands);
    std::printf("%d hosts, lshw answering after 1 s, %d runs, medians\n", kHosts, runs);
    std::printf("ferrodex refresh --jobs 8        %6.2f s\n", p);
    std::printf("ferrodex refresh --jobs 1        %6.2f s   ratio %.2f\n", one, p / one);
    std::printf("16 x ferrodex host refresh       %6.2f s   ratio %.2f   target: at most 0.30\n", many, p / many);
    return 0;
}
