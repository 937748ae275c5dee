// What the tests that drive `ferrodex` against a real server share: the
// test login's options and password line, and a host added with them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/console/run_ferrodex.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/test_helpers.h"

// Returns from the calling test (or its SetUp) when sshd cannot run here.
#define FDX_REQUIRE_SSHD() \
    if (std::string whySshd; !SshdPeer::Available(&whySshd)) FDX_PEER_MISSING() << whySshd

// A server with today's algorithms and `config`, where `lshw` stands in
// for the host's.
inline SshdOptions LshwSshd(const std::string& lshw, std::vector<std::string> config = {})
{
    return {.extraConfig = std::move(config), .legacyAlgorithms = false, .bindMounts = {{lshw, "/usr/bin/lshw"}}};
}

// Writes a stand-in lshw at `path` that prints `xml`, once the file `gate`
// exists when one is named (it gives up after a minute). Written in place:
// a server sees the file through a bind mount of this very file.
inline void WriteFakeLshw(const std::string& path, const std::string& xml, const std::string& gate = "")
{
    std::ofstream out(path, std::ios::trunc);
    out << "#!/bin/sh\n";
    if (!gate.empty())
        out << "i=0; while [ ! -e '" << gate << "' ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n";
    out << "cat <<'FDX_XML_END'\n" << xml << (xml.ends_with('\n') ? "" : "\n") << "FDX_XML_END\n";
    out.close();
    std::filesystem::permissions(path, std::filesystem::perms(0755));
}

// " --login USER --password-stdin" for the test login.
inline std::string TestLogin() { return std::string(" --login ") + SshdPeer::User() + " --password-stdin"; }

// The test login's password, once a line for each of `count` questions.
inline std::string PasswordLines(int count = 1)
{
    std::string lines;
    for (int i = 0; i < count; ++i) lines += std::string(SshdPeer::Password()) + "\n";
    return lines;
}

// `CONSOLE host add GROUP ADDRESS --port PORT` with the test login and
// `more`, after adding GROUP (which may be there already).
inline ::testing::AssertionResult AddPeerHost(const std::string& console, const std::string& group,
                                              const std::string& address, int port, const std::string& more = "")
{
    RunFerrodexLine(console + " group add " + group);
    const RunResult add = RunFerrodexLine(
        console + " host add " + group + " " + address + " --port " + std::to_string(port) + TestLogin() + more,
        PasswordLines());
    if (add.status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "host add " << group << " " << address << ": " << add.err;
}
