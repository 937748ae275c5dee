// `ferrodex refresh --jobs 8` over sixteen hosts of one real sshd (each
// host its own loopback address), one of them unreachable and one that
// never finishes its command: the others are scanned, those two report
// within their limits, everything found is saved, and no worker outlives
// the command.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <string>

#include "tests/scan/scan_fixture.h"
#include "tests/support/peer_process.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"
#include "tests/support/test_server.h"

namespace {

RunResult Ferrodex(const std::string& args, const std::string& input = "") { return RunFerrodexLine(args, input); }

using Result = RunResult;

// The console file keeps no password: each host's is asked for, one line
// of standard input each.
constexpr int kHosts = 16;

class FleetRefreshTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        console = "--console " + dir.file("fleet.fdx");
        WriteFakeLshw(dir.file("lshw"), LshwSample("user.xml"));
        SshdOptions options = LshwSshd(dir.file("lshw"), {"MaxStartups 64", "MaxSessions 64"});
        // 127.0.0.1 to .14 answer; .15 is named with a port nobody listens
        // on; .16 is a second server where every command never ends.
        for (int i = 2; i <= 14; ++i) options.extraConfig.push_back("ListenAddress 127.0.0." + std::to_string(i));
        server = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(server->running()) << server->logText();
        hanging = std::make_unique<SshdPeer>(
            LshwSshd(dir.file("lshw"), {"ListenAddress 127.0.0.16", "ForceCommand exec sleep 60"}));
        ASSERT_TRUE(hanging->running()) << hanging->logText();
        closedPort = closed.port();
        ASSERT_NE(closedPort, 0);

        for (int i = 1; i <= kHosts; ++i) {
            const int port = i == 15 ? closedPort : i == 16 ? hanging->port() : server->port();
            ASSERT_TRUE(AddPeerHost(console, "Fleet", "127.0.0." + std::to_string(i), port));
        }
    }

    TempRegistry registry;
    TempDir dir;
    std::string console;
    std::unique_ptr<SshdPeer> server;
    std::unique_ptr<SshdPeer> hanging;
    CHeldPort closed;  // host 15's port: refuses every connection
    int closedPort = 0;
};

TEST_F(FleetRefreshTest, TheOthersFinishAndTheTwoFailuresReportWithinTheirLimits)
{
    const auto started = std::chrono::steady_clock::now();
    const Result refresh = Ferrodex(console + " refresh --jobs 8 --timeout 3 --json" + TestLogin(), PasswordLines(kHosts));
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(refresh.status, 1) << "two hosts failed";
    EXPECT_EQ(CountOccurrences(refresh.out, "\"ok\":true"), 14u) << refresh.out << refresh.err << server->logText();
    EXPECT_EQ(CountOccurrences(refresh.out, "\"ok\":false"), 2u) << refresh.out;
    // The hung host names the command's limit; the unreachable one the
    // refused connection. A generous bound: the command's 3 s, not its 600.
    const std::size_t hung = refresh.out.find("\"host\":\"Fleet/127.0.0.16\"");
    ASSERT_NE(hung, std::string::npos) << refresh.out;
    const std::string hungLine = refresh.out.substr(hung, refresh.out.find('\n', hung) - hung);
    EXPECT_NE(hungLine.find("3 seconds"), std::string::npos) << hungLine;
    EXPECT_LT(seconds, 120);

    // Everything found was saved: the fourteen pictures are in the file,
    // and a second run of one host fails alone.
    const Result tree = Ferrodex(console + " tree --json");
    ASSERT_EQ(tree.status, 0) << tree.err;
    const Result picture = Ferrodex(console + " export --format csv");
    ASSERT_EQ(picture.status, 0) << picture.err;
    EXPECT_EQ(CountOccurrences(picture.out, ",yes,"), 14u) << picture.out << refresh.err << refresh.out;
    const Result one = Ferrodex(console + " refresh Fleet/127.0.0.15 --timeout 3" + TestLogin(), PasswordLines());
    EXPECT_EQ(one.status, 1);
    EXPECT_NE(one.out.find("1 hosts, 1 failed"), std::string::npos) << one.out << one.err;
    EXPECT_EQ(CountOccurrences(one.out, "Fleet/"), 1u) << one.out;
    // No worker outlives its command: nothing of ours still talks to the
    // server. Workers are forks of the command and keep its arguments, the
    // console file among them, which no other test's processes name.
    int status = 0;
    EXPECT_EQ(ShellOutput("pgrep -f -c -- '^" + BinaryDir() + "/console/ferrodex .*" + console + "'", &status), "0\n");
}

}  // namespace
