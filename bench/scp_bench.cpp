// Uploads a 64 MiB file with ScpUploadFile over SFTP and over the scp sink,
// beside the stock OpenSSH sftp and "scp -O" clients sending the same file
// to the same private sshd in the same run (no compression, password on
// every side). Twice: with the older algorithms on both sides (group1,
// ssh-rsa, aes256-cbc, hmac-sha1), then with stock servers and each
// client's own defaults. Prints the median MiB/s of each, the ratios, and
// where our time goes.
//
//   scp_bench [rounds] [MiB]
#include <pwd.h>
#include <sys/stat.h>
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
#include "scp/scp.h"
#include "tests/support/sshd_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Phases {
    double connected = 0;      // TCP open (event 1)
    double authenticated = 0;  // event 2
    double uploading = 0;      // channel ready, target prepared (event 6/3)
    double total = 0;
};

Clock::time_point g_start;
Phases g_phases;

double Since() { return std::chrono::duration<double, std::milli>(Clock::now() - g_start).count(); }

std::int32_t Note(int event, const char*, const char*, std::int32_t value, std::uint32_t)
{
    if (event == SCP_EVENT_CONNECTED) g_phases.connected = Since();
    if (event == SCP_EVENT_AUTHENTICATED) g_phases.authenticated = Since();
    if (event == SCP_EVENT_STAGE && value == SCP_STAGE_UPLOADING) g_phases.uploading = Since();
    return 0;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

Phases OurRun(int port, const std::string& local, const std::string& remote)
{
    ScpJobOptions options;
    options.timeout_seconds = 60;
    options.compression = 0;  // as the stock clients are told (Compression=no)
    g_phases = Phases{};
    g_start = Clock::now();
    const int rc = ScpUploadFile("127.0.0.1", port, SshdPeer::User(), SshdPeer::Password(), local.c_str(),
                                 remote.c_str(), Note, &options);
    g_phases.total = Since();
    if (rc != 0) {
        char text[128];
        scp_format_error(rc, text, sizeof text);
        std::fprintf(stderr, "ScpUploadFile failed: %d %s\n", rc, text);
        std::exit(1);
    }
    return g_phases;
}

std::vector<std::string> CommonOptions(bool older)
{
    std::vector<std::string> options = {"-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
                                        "-o", "Compression=no", "-o", "PubkeyAuthentication=no",
                                        "-o", "PreferredAuthentications=password"};
    if (older)
        options.insert(options.end(), {"-o", "KexAlgorithms=diffie-hellman-group1-sha1", "-o",
                                       "HostKeyAlgorithms=ssh-rsa", "-o", "Ciphers=aes256-cbc", "-o", "MACs=hmac-sha1"});
    return options;
}

double StockScp(int port, const std::string& local, const std::string& remote, const std::string& askpass, bool older)
{
    std::vector<std::string> args = {"/usr/bin/scp", "-q", "-O", "-P", std::to_string(port)};
    for (auto& o : CommonOptions(older)) args.push_back(o);
    args.push_back(local);
    args.push_back(std::string(SshdPeer::User()) + "@127.0.0.1:" + remote);
    return RunStockClient(std::move(args), askpass);
}

double StockSftp(int port, const std::string& batch, const std::string& askpass, bool older)
{
    std::vector<std::string> args = {"/usr/bin/sftp", "-q", "-P", std::to_string(port)};
    for (auto& o : CommonOptions(older)) args.push_back(o);
    args.push_back(std::string(SshdPeer::User()) + "@127.0.0.1");
    return RunStockClient(std::move(args), askpass, batch.c_str());  // commands from standard input
}

std::string MakeRemoteDir()
{
    std::string pattern = "/tmp/fdx-scp-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) return "";
    if (const passwd* pw = ::getpwnam(SshdPeer::User())) {
        if (::chown(pattern.c_str(), pw->pw_uid, pw->pw_gid) != 0) return "";
    }
    return pattern;
}

bool Measure(bool older, int rounds, std::size_t mib, const std::string& local, const std::string& remote,
             const std::string& batch, const std::string& askpass)
{
    SshdOptions withSubsystem;
    withSubsystem.legacyAlgorithms = older;
    SshdPeer withSftp(withSubsystem);  // our library uses SFTP here
    SshdOptions noSubsystem;
    noSubsystem.legacyAlgorithms = older;
    noSubsystem.sftpSubsystem = false;
    SshdPeer withoutSftp(noSubsystem);  // and the scp sink here
    if (!withSftp.running() || !withoutSftp.running() || remote.empty()) {
        std::fprintf(stderr, "scp_bench: sshd did not start: %s\n", withSftp.logText().c_str());
        return false;
    }
    // Warm-up: host keys stored, caches filled.
    OurRun(withSftp.port(), local, remote + "/ours-sftp.bin");
    OurRun(withoutSftp.port(), local, remote + "/ours-scp.bin");

    std::vector<double> ourSftp, ourScp, stockSftp, stockScp, setup, prepare;
    for (int i = 0; i < rounds; ++i) {
        Phases p = OurRun(withSftp.port(), local, remote + "/ours-sftp.bin");
        ourSftp.push_back(p.total);
        setup.push_back(p.authenticated);
        prepare.push_back(p.uploading - p.authenticated);
        ourScp.push_back(OurRun(withoutSftp.port(), local, remote + "/ours-scp.bin").total);
        stockSftp.push_back(StockSftp(withSftp.port(), batch, askpass, older));
        stockScp.push_back(StockScp(withSftp.port(), local, remote + "/stock-scp.bin", askpass, older));
    }
    const double size = static_cast<double>(mib);
    auto rate = [size](double ms) { return size / (ms / 1000.0); };
    const double a = Median(ourSftp), b = Median(stockSftp), c = Median(ourScp), d = Median(stockScp);
    std::printf("upload of %zu MiB to sshd on 127.0.0.1, median of %d rounds, %s\n", mib, rounds,
                older ? "older algorithms (group1, ssh-rsa, aes256-cbc, hmac-sha1)" : "stock sshd, default algorithms");
    std::printf("  %-28s %9.0f ms %8.1f MiB/s\n", "ScpUploadFile over SFTP", a, rate(a));
    std::printf("  %-28s %9.0f ms %8.1f MiB/s\n", "stock sftp", b, rate(b));
    std::printf("  %-28s %9.0f ms %8.1f MiB/s\n", "ScpUploadFile over scp sink", c, rate(c));
    std::printf("  %-28s %9.0f ms %8.1f MiB/s\n", "stock scp -O", d, rate(d));
    std::printf("ratios (ours / stock throughput): SFTP %.2f, SCP %.2f\n", b / a, d / c);
    const double data = a - Median(setup) - Median(prepare);
    std::printf("our SFTP upload: %.0f ms to log in, %.0f ms to open the channel and prepare the target, "
                "%.0f ms of data = %.1f MiB/s while writing (writes of 32 KiB or the server's length, many in "
                "flight)\n",
                Median(setup), Median(prepare), data, data > 0 ? size / (data / 1000.0) : 0.0);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::size_t mib = argc > 2 ? static_cast<std::size_t>(std::max(1, std::atoi(argv[2]))) : 64;
    std::string why;
    if (!SshdPeer::Available(&why)) {
        std::fprintf(stderr, "scp_bench: %s\n", why.c_str());
        return 1;
    }
    char dirTemplate[] = "/tmp/fdx-scp-bench-local-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    setenv("FERRODEX_REGISTRY", (dir + "/registry").c_str(), 1);
    const std::string local = dir + "/payload.bin", askpass = dir + "/askpass.sh", batch = dir + "/batch";
    {
        std::ofstream out(local, std::ios::binary);
        std::vector<char> block(1 << 20);
        std::uint32_t x = 12345;
        for (std::size_t i = 0; i < mib; ++i) {
            for (auto& c : block) {
                x = x * 1103515245u + 12345u;
                c = static_cast<char>(x >> 24);
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        std::ofstream a(askpass);
        a << "#!/bin/sh\necho '" << SshdPeer::Password() << "'\n";
    }
    std::filesystem::permissions(askpass, std::filesystem::perms::owner_all);
    const std::string remote = MakeRemoteDir();
    {
        std::ofstream b(batch);
        b << "put " << local << " " << remote << "/stock-sftp.bin\n";
    }

    for (const bool older : {true, false})
        if (!Measure(older, rounds, mib, local, remote, batch, askpass)) return 1;
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(remote);
    return 0;
}
