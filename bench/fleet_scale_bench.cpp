// `ferrodex refresh --jobs 32` over 512 hosts whose lshw prints a real-sized
// document (about 161 KB), against one local sshd: 32 groups of the same
// sixteen loopback addresses. Prints the parent's peak memory (sampled from
// /proc while it runs), the wall time, and the processor time per scan of
// ferrodex and its workers; beside them, in the same run, the stock ssh
// client fetching the same 512 documents 32 at a time (sshpass for the
// password), whose processor time per fetch is the baseline.
//   fleet_scale_bench [GROUPS]
#include <fcntl.h>
#include <sys/resource.h>
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
constexpr int kAddresses = 16;
constexpr std::size_t kDocumentBytes = 161 * 1024;

struct SRun {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;  // the process and every child it waited for
    long peakKiB = 0;       // the process's own resident peak
};

// Runs `argv` with `input` on its standard input and its output thrown
// away, sampling its resident memory until it ends.
SRun Measure(const std::vector<std::string>& argv, const std::string& input)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[0], 0);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[0]);
    if (!input.empty() && ::write(pipeFds[1], input.data(), input.size()) < 0) std::perror("write");
    ::close(pipeFds[1]);
    SRun run;
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    for (;;) {
        int wstatus = 0;
        rusage usage{};
        const pid_t done = ::wait4(pid, &wstatus, WNOHANG, &usage);
        if (done == pid) {
            run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
            run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
            break;
        }
        std::ifstream file(status);
        std::string line;
        while (std::getline(file, line))
            if (line.rfind("VmHWM:", 0) == 0) run.peakKiB = std::max(run.peakKiB, std::atol(line.c_str() + 6));
        ::usleep(20000);
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return run;
}

std::string Address(int i) { return "127.0.0." + std::to_string(i); }

// lshw's document from the stored one, grown with memory banks to a real
// server's size.
std::string RealSizedDocument()
{
    std::ifstream file(std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/user.xml");
    std::stringstream read;
    read << file.rdbuf();
    std::string xml = read.str();
    const std::size_t end = xml.rfind("</node>");
    if (end == std::string::npos) return xml;
    std::string banks;
    for (int bank = 0; xml.size() + banks.size() < kDocumentBytes; ++bank)
        banks += "<node id=\"bank:" + std::to_string(bank) +
                 "\" claimed=\"true\" class=\"memory\" handle=\"DMI:0011\"><description>DIMM DDR4 Synchronous "
                 "Registered (Buffered) 3200 MHz (0.3 ns)</description><product>M393A4K40DB3-CWE</product>"
                 "<vendor>Samsung</vendor><physid>" + std::to_string(bank) + "</physid><serial>S" +
                 std::to_string(1000000 + bank) + "</serial><slot>P0_DIMM_" + std::to_string(bank) +
                 "</slot><size units=\"bytes\">34359738368</size><width units=\"bits\">64</width><clock "
                 "units=\"Hz\">3200000000</clock></node>\n";
    xml.insert(end, banks);
    return xml;
}

}  // namespace

int main(int argc, char** argv)
{
    const int groups = argc > 1 ? std::max(1, std::atoi(argv[1])) : 32;
    const int hosts = groups * kAddresses;
    std::string why;
    if (!SshdPeer::Available(&why)) {
        std::fprintf(stderr, "no test peer: %s\n", why.c_str());
        return 1;
    }
    TempRegistry registry;
    TempDir dir;
    const std::string document = RealSizedDocument();
    std::ofstream(dir.file("document.xml")) << document;
    const std::string lshw = dir.file("lshw");
    std::ofstream(lshw) << "#!/bin/sh\nexec cat " << dir.file("document.xml") << "\n";
    ::chmod(lshw.c_str(), 0755);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("document.xml").c_str(), 0644);

    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"MaxStartups 100", "MaxSessions 64"};
    for (int i = 2; i <= kAddresses; ++i) options.extraConfig.push_back("ListenAddress " + Address(i));
    options.bindMounts = {{lshw, "/usr/bin/lshw"}};
    SshdPeer peer(options);
    if (!peer.running()) {
        std::fprintf(stderr, "sshd did not start: %s\n", peer.logText().c_str());
        return 1;
    }
    const std::string console = dir.file("bench.fdx");
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    const auto ferrodex = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {FDX_FERRODEX, "--console", console});
        return args;
    };
    for (int g = 0; g < groups; ++g) {
        const std::string group = "Rack" + std::to_string(g);
        if (Measure(ferrodex({"group", "add", group}), "").status != 0) return 1;
        for (int i = 1; i <= kAddresses; ++i)
            if (Measure(ferrodex({"host", "add", group, Address(i), "--port", std::to_string(peer.port()), "--login",
                                  SshdPeer::User(), "--password-stdin"}),
                        password)
                    .status != 0)
                return 1;
    }
    // The first run stores the host keys; the second is measured.
    Measure(ferrodex({"refresh", "--jobs", "32", "--password-stdin"}), password);
    const SRun ours = Measure(ferrodex({"refresh", "--jobs", "32", "--password-stdin"}), password);
    struct stat file{};
    ::stat(console.c_str(), &file);

    // The stock client, 32 at a time, each fetching one document.
    std::ofstream list(dir.file("hosts"));
    for (int g = 0; g < groups; ++g)
        for (int i = 1; i <= kAddresses; ++i) list << Address(i) << "\n";
    list.close();
    const std::string fetch =
        "xargs -P 32 -I ADDRESS sshpass -e ssh -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null "
        "-o LogLevel=ERROR -p " + std::to_string(peer.port()) + " " + SshdPeer::User() + "@ADDRESS lshw -xml < " +
        dir.file("hosts");
    ::setenv("SSHPASS", SshdPeer::Password(), 1);
    const SRun stock = Measure({"/bin/sh", "-c", fetch}, "");

    std::printf("%d hosts, a %zu-byte document each, --jobs 32\n", hosts, document.size());
    std::printf("ferrodex refresh: status %d, %.1f s, parent peak %ld KiB, %.1f ms of processor per scan, "
                "console file %lld bytes\n",
                ours.status, ours.seconds, ours.peakKiB, 1000 * ours.cpuSeconds / hosts,
                static_cast<long long>(file.st_size));
    std::printf("stock ssh x %d:   status %d, %.1f s, %.1f ms of processor per fetch (baseline)\n", hosts,
                stock.status, stock.seconds, 1000 * stock.cpuSeconds / hosts);
    std::printf("processor per scan against the stock fetch: %.2f\n",
                stock.cpuSeconds > 0 ? ours.cpuSeconds / stock.cpuSeconds : 0.0);
    return ours.status == 0 ? 0 : 1;
}
