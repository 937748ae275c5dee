// Connect + Login + Exec "cat FILE" + Disconnect with our client, beside the
// stock OpenSSH client doing the same against the same server in the same
// run, password on both sides. Three times: once with the older algorithms
// forced on both sides (group1, ssh-rsa, aes128-cbc, hmac-sha1), once with a
// stock sshd and each client's own defaults, and once with an sshd that
// asks for new keys every 4 MiB (RekeyLimit 4M).
//
//   ssh2_bench [rounds-small] [rounds-large] [--no-log]
// --no-log points the state folder somewhere unusable, so that the packet
// log stays closed: it shows what the log costs.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/stock_client.h"
#include "ssh2/ssh2.h"
#include "tests/support/sshd_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double OurRun(int port, const std::string& file, std::size_t expected)
{
    const auto start = Clock::now();
    int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 30, nullptr, nullptr);
    if (rc == 0) rc = CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 0, HKP_STORE, HKP_ASK);
    if (rc == 0) rc = CSSH2::Exec(("cat " + file).c_str());
    const std::size_t got = rc == 0 ? CSSH2::GetOutput().size() : 0;
    CSSH2::Disconnect();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (rc != 0 || got != expected) {
        std::fprintf(stderr, "our client failed: code %d, %zu of %zu bytes: %s\n", rc, got, expected,
                     CSSH2::LastFailure().text.c_str());
        std::exit(1);
    }
    return ms;
}

double StockRun(int port, const std::string& file, const std::string& askpass, bool older)
{
    std::vector<std::string> args = {"/usr/bin/ssh", "-q", "-p", std::to_string(port), "-o",
                                     "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null"};
    if (older)
        args.insert(args.end(), {"-o", "KexAlgorithms=diffie-hellman-group1-sha1", "-o", "HostKeyAlgorithms=ssh-rsa",
                                 "-o", "Ciphers=aes128-cbc", "-o", "MACs=hmac-sha1"});
    args.insert(args.end(), {"-o", "Compression=no", "-o", "PubkeyAuthentication=no", "-o",
                             "PreferredAuthentications=password", std::string(SshdPeer::User()) + "@127.0.0.1",
                             "cat " + file});
    return RunStockClient(std::move(args), askpass);
}

void Compare(const char* label, int rounds, int port, const std::string& file, std::size_t size,
             const std::string& askpass, bool older)
{
    std::vector<double> ours, theirs;
    // Alternate, so that both see the same machine load.
    for (int i = 0; i < rounds; ++i) {
        ours.push_back(OurRun(port, file, size));
        theirs.push_back(StockRun(port, file, askpass, older));
    }
    const double a = Median(ours), b = Median(theirs);
    std::printf("%-8s ours %8.1f ms   ssh %8.1f ms   ratio %.2f   (medians of %d; best %.1f / %.1f)\n", label, a, b,
                a / b, rounds, *std::min_element(ours.begin(), ours.end()),
                *std::min_element(theirs.begin(), theirs.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    const int smallRounds = argc > 1 ? std::atoi(argv[1]) : 15;
    const int largeRounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string why;
    if (!SshdPeer::Available(&why)) {
        std::fprintf(stderr, "cannot run: %s\n", why.c_str());
        return 1;
    }
    char pattern[] = "/tmp/fdx-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                          std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                          std::filesystem::perms::others_exec);
    setenv("FERRODEX_REGISTRY", (dir + "/registry").c_str(), 1);
    const bool noLog = argc > 3 && std::string(argv[3]) == "--no-log";
    setenv("XDG_STATE_HOME", noLog ? "/dev/null/none" : (dir + "/state").c_str(), 1);

    const std::string small = dir + "/small.xml", large = dir + "/large.bin", askpass = dir + "/askpass.sh";
    {
        std::ofstream s(small, std::ios::binary);
        std::string line = "<node id=\"cpu\" class=\"processor\"><product>Example CPU</product></node>\n";
        for (std::size_t n = 0; n < 200 * 1024; n += line.size()) s << line;
        std::ofstream l(large, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 7919) >> 3);
        for (int i = 0; i < 32; ++i) l.write(block.data(), static_cast<std::streamsize>(block.size()));
        std::ofstream a(askpass);
        a << "#!/bin/sh\necho '" << SshdPeer::Password() << "'\n";
    }
    std::filesystem::permissions(askpass, std::filesystem::perms::owner_all);
    const std::size_t smallSize = std::filesystem::file_size(small), largeSize = std::filesystem::file_size(large);
    // Room for the 32 MiB output.
    SSshLimits limits = CSSH2::Limits();
    limits.maxOutput = 64u << 20;
    CSSH2::SetLimits(limits);

    enum { OLDER, STOCK, REKEYING };
    for (const int kind : {OLDER, STOCK, REKEYING}) {
        const bool older = kind == OLDER;
        SshdOptions options;
        options.legacyAlgorithms = false;
        if (older)
            options.extraConfig = {"KexAlgorithms diffie-hellman-group1-sha1", "HostKeyAlgorithms ssh-rsa",
                                   "Ciphers aes128-cbc", "MACs hmac-sha1"};
        if (kind == REKEYING) options.extraConfig = {"RekeyLimit 4M"};
        SshdPeer peer(options);
        if (!peer.running()) {
            std::fprintf(stderr, "sshd did not start:\n%s\n", peer.logText().c_str());
            return 1;
        }
        std::printf("%s\n", older             ? "older algorithms forced on both sides (group1, ssh-rsa, aes128-cbc, hmac-sha1)"
                             : kind == STOCK ? "stock sshd, each client with its own default algorithms"
                                             : "stock sshd asking for new keys every 4 MiB (RekeyLimit 4M)");
        // Warm up both (host key cache, page cache).
        OurRun(peer.port(), small, smallSize);
        StockRun(peer.port(), small, askpass, older);

        if (kind != REKEYING) Compare("200 KB", smallRounds, peer.port(), small, smallSize, askpass, older);
        Compare("32 MiB", largeRounds, peer.port(), large, largeSize, askpass, older);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
