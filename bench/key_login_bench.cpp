// Connect + key login + Exec "true" + Disconnect with our client, beside
// `ssh -i KEY` doing the same with the same key against the same sshd
// (password logins off) in the same run, alternating. One row per key: an
// Ed25519 key, an RSA key, and an Ed25519 key protected by a passphrase
// (its bcrypt derivation, 16 rounds as ssh-keygen makes it, is part of
// every login on both sides).
//
//   key_login_bench [rounds]
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

struct SKey {
    const char* label;
    const char* type;
    const char* bits;
    const char* passphrase;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double OurRun(int port, const std::string& key, const std::string& passphrase)
{
    const auto start = Clock::now();
    CSSH2::SetLoginKeys({key, passphrase, false});
    int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 30, nullptr, nullptr);
    if (rc == 0) rc = CSSH2::Login(SshdPeer::User(), "", 0, HKP_STORE, HKP_ASK);
    if (rc == 0) rc = CSSH2::Exec("true");
    const std::string failure = rc == 0 ? std::string() : CSSH2::LastFailure().text;
    CSSH2::Disconnect();
    CSSH2::SetLoginKeys({});
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (rc != 0) {
        std::fprintf(stderr, "our client failed: code %d %s\n", rc, failure.c_str());
        std::exit(1);
    }
    return ms;
}

double StockRun(int port, const std::string& key, const std::string& askpass)
{
    std::vector<std::string> args = {"/usr/bin/ssh", "-q", "-F", "/dev/null", "-p", std::to_string(port),
                                     "-i", key, "-o", "IdentitiesOnly=yes", "-o", "IdentityAgent=none",
                                     "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
                                     "-o", "Compression=no", "-o", "PasswordAuthentication=no",
                                     "-o", "KbdInteractiveAuthentication=no",
                                     std::string(SshdPeer::User()) + "@127.0.0.1", "true"};
    return RunStockClient(std::move(args), askpass);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::string why;
    if (!SshdPeer::Available(&why)) {
        std::fprintf(stderr, "cannot run: %s\n", why.c_str());
        return 1;
    }
    char pattern[] = "/tmp/fdx-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    setenv("FERRODEX_REGISTRY", (dir + "/registry").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);

    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"PasswordAuthentication no", "AuthenticationMethods publickey"};
    SshdPeer peer(options);
    if (!peer.running()) {
        std::fprintf(stderr, "sshd did not start:\n%s\n", peer.logText().c_str());
        return 1;
    }
    const SKey keys[] = {{"ed25519", "ed25519", "", ""},
                         {"rsa 3072", "rsa", "3072", ""},
                         {"ed25519 + passphrase", "ed25519", "", "bench pass phrase"}};
    std::printf("key login + exec \"true\" + disconnect, stock sshd; medians of %d rounds\n", rounds);
    int index = 0;
    for (const SKey& k : keys) {
        const std::string key = dir + "/id" + std::to_string(index++);
        std::string command = std::string("ssh-keygen -q -C '' -t ") + k.type + " -N '" + k.passphrase + "' -f " + key;
        if (*k.bits) command += std::string(" -b ") + k.bits;
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
            std::fprintf(stderr, "ssh-keygen failed\n");
            return 1;
        }
        std::ifstream pub(key + ".pub");
        std::string line;
        std::getline(pub, line);
        std::ofstream(peer.folder() + "/authorized_keys", std::ios::app) << line << "\n";
        const std::string askpass = key + ".askpass";
        std::ofstream(askpass) << "#!/bin/sh\necho '" << k.passphrase << "'\n";
        std::filesystem::permissions(askpass, std::filesystem::perms::owner_all);

        // Warm up both (host key cache, page cache).
        OurRun(peer.port(), key, k.passphrase);
        StockRun(peer.port(), key, askpass);
        std::vector<double> ours, theirs;
        for (int i = 0; i < rounds; ++i) {
            ours.push_back(OurRun(peer.port(), key, k.passphrase));
            theirs.push_back(StockRun(peer.port(), key, askpass));
        }
        const double a = Median(ours), b = Median(theirs);
        std::printf("%-22s ours %7.1f ms   ssh -i %7.1f ms   ratio %.2f   (best %.1f / %.1f)\n", k.label, a, b, a / b,
                    *std::min_element(ours.begin(), ours.end()), *std::min_element(theirs.begin(), theirs.end()));
    }
    std::filesystem::remove_all(dir);
    return 0;
}
