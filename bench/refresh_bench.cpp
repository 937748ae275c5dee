// Times a whole "Refresh Information" of a host that has lshw, made through
// `ferrodex host refresh`, beside the stock OpenSSH client running the same
// two commands against the same local sshd in the same run: once with the
// older algorithms on both sides, once with a stock sshd and each client's
// own defaults.   refresh_bench [RUNS]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs a shell command with `input` on its standard input; its exit status.
int Run(const std::string& command, const std::string& input)
{
    FILE* pipe = ::popen(("exec >/dev/null 2>&1; " + command).c_str(), "w");
    if (pipe == nullptr) return -1;
    std::fwrite(input.data(), 1, input.size(), pipe);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Figures {
    double min = 0;
    double median = 0;
};

Figures Time(int runs, const std::string& command, const std::string& input)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (Run(command, input) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

// One server, one inventory; false when the set-up fails.
bool Measure(bool older, int runs)
{
    TempDir dir;
    SshdOptions options;
    options.legacyAlgorithms = older;
    SshdPeer peer(options);
    if (!peer.running()) {
        std::fprintf(stderr, "sshd did not start: %s\n", peer.logText().c_str());
        return false;
    }
    const std::string port = std::to_string(peer.port());
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    const std::string ferrodex = std::string(FDX_FERRODEX) + " --console " + dir.file("bench.fdx");
    if (Run(ferrodex + " group add Lab", "") != 0 ||
        Run(ferrodex + " host add Lab 127.0.0.1 --port " + port + " --login " + SshdPeer::User() + " --password-stdin",
            password) != 0) {
        std::fprintf(stderr, "cannot set up the inventory with %s\n", FDX_FERRODEX);
        return false;
    }
    const std::string refresh = ferrodex + " host refresh Lab/127.0.0.1 --login " + SshdPeer::User() +
                                " --password-stdin --yes";
    Run(refresh, password);  // stores the host key

    // Without compression, as our client runs; with the older algorithms,
    // those our client agrees with such a server.
    const std::string algorithms = older ? "-o KexAlgorithms=diffie-hellman-group1-sha1 -o HostKeyAlgorithms=ssh-rsa "
                                           "-o Ciphers=aes256-cbc -o MACs=hmac-sha1 "
                                         : "";
    const std::string ssh = "sshpass -e ssh -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null " +
                            algorithms +
                            "-o Compression=no -o PubkeyAuthentication=no -o PreferredAuthentications=password -p " +
                            port + " " + SshdPeer::User() + "@127.0.0.1 ";
    const std::string stock = ssh + "'(which lshw 2>/dev/null || (echo no; false)) && lshw -xml > lshw.xml' && " + ssh +
                              "'cat lshw.xml'";

    // Interleaved, so that both see the same machine.
    std::vector<double> oursAll, theirsAll;
    for (int i = 0; i < runs; ++i) {
        oursAll.push_back(Time(1, refresh, password).min);
        theirsAll.push_back(Time(1, stock, "").min);
    }
    std::sort(oursAll.begin(), oursAll.end());
    std::sort(theirsAll.begin(), theirsAll.end());
    const Figures ours{oursAll.front(), oursAll[oursAll.size() / 2]};
    const Figures theirs{theirsAll.front(), theirsAll[theirsAll.size() / 2]};
    std::printf("refresh of a host with lshw, %d runs each, password, %s\n", runs,
                older ? "older algorithms (group1, ssh-rsa, aes256-cbc, hmac-sha1)" : "stock sshd, default algorithms");
    std::printf("ferrodex host refresh   min %7.1f ms   median %7.1f ms\n", ours.min, ours.median);
    std::printf("stock ssh, two commands min %7.1f ms   median %7.1f ms\n", theirs.min, theirs.median);
    std::printf("ratio (median) %.2f, (min) %.2f   target: within 1.20\n", ours.median / theirs.median,
                ours.min / theirs.min);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::string why;
    if (!SshdPeer::Available(&why)) {
        std::fprintf(stderr, "no test peer: %s\n", why.c_str());
        return 1;
    }
    if (Run("command -v sshpass", "") != 0) {
        std::fprintf(stderr, "sshpass is missing (apt-get install sshpass)\n");
        return 1;
    }
    ::setenv("SSHPASS", SshdPeer::Password(), 1);
    TempRegistry registry;
    for (const bool older : {true, false})
        if (!Measure(older, runs)) return 1;
    return 0;
}
