// What the tests that drive `ferrodex` against a real server share: the
// test login's options and password line, and a host added with them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/console/run_ferrodex.h"
#include "tests/support/sshd_peer.h"

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
