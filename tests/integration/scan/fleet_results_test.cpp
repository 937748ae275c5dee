// What `ferrodex refresh` says of each host is as complete as a host
// refresh: a host without lshw is told to allow the deployment (and, when it
// is allowed, that no engine package is installed); a scan whose sudo was
// refused goes on without root and says why, in the table, the JSON and a
// note; a changed host key stops the host unless it is named with
// --accept-changed-host-key, which tells both fingerprints.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/console/run_ferrodex.h"
#include "tests/scan/scan_fixture.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";
// An RSA key the changed host had before.
const std::string kOldRsa = "0x10001,0x" + std::string(256, 'c');

class FleetResultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        console = "--console " + dir.file("fleet.fdx");
        WriteFakeLshw(dir.file("lshw"), LshwSample("user.xml"));
        withoutLshw = std::make_unique<SshdPeer>(LshwSshd("/dev/null"));  // a host without lshw
        server = std::make_unique<SshdPeer>(
            LshwSshd(dir.file("lshw"), {"ListenAddress 127.0.0.2", "ListenAddress 127.0.0.3"}));
        ASSERT_TRUE(withoutLshw->running()) << withoutLshw->logText();
        ASSERT_TRUE(server->running()) << server->logText();
        ASSERT_EQ(Ferrodex("group add Lab").status, 0);
        Add("127.0.0.1", withoutLshw->port(), "");
        Add("127.0.0.2", server->port(), " --sudo");  // the test login may not use sudo
        Add("127.0.0.3", server->port(), "");
        // The third host had another key before.
        RegWriteString(HKEY_CURRENT_USER, kHostKeys, ChangedKeyName(), AnsiToWide(kOldRsa));
    }

    RunResult Ferrodex(const std::string& args, const std::string& input = "")
    {
        return RunFerrodexLine(console + " " + args, input);
    }
    void Add(const std::string& address, int port, const std::string& more)
    {
        const RunResult added = Ferrodex("host add Lab " + address + " --port " + std::to_string(port) + " --login " +
                                         SshdPeer::User() + more);
        ASSERT_EQ(added.status, 0) << added.err;
    }
    std::u16string ChangedKeyName() const
    {
        return AnsiToWide("rsa2@" + std::to_string(server->port()) + ":127.0.0.3");
    }
    std::string Password() const { return std::string(SshdPeer::Password()) + "\n"; }

    TempRegistry registry;
    TempDir dir;
    std::string console;
    std::unique_ptr<SshdPeer> withoutLshw, server;
};

TEST_F(FleetResultsTest, EachHostSaysWhatAHostRefreshWouldSay)
{
    const RunResult refresh = Ferrodex("refresh --json --password-stdin", Password());
    EXPECT_EQ(refresh.status, 1);
    const std::string missing = RefreshRecordOf(refresh.out, "Lab/127.0.0.1");
    EXPECT_NE(missing.find("\"ok\":false"), std::string::npos) << missing;
    EXPECT_NE(missing.find("lshw is missing"), std::string::npos) << missing;
    EXPECT_NE(missing.find("--yes"), std::string::npos) << missing;

    // sudo refused: scanned all the same, without root, and said why.
    const std::string sudo = RefreshRecordOf(refresh.out, "Lab/127.0.0.2");
    EXPECT_NE(sudo.find("\"ok\":true"), std::string::npos) << sudo << refresh.err;
    EXPECT_NE(sudo.find("\"sudo\":true"), std::string::npos) << sudo;
    EXPECT_NE(sudo.find("\"root\":false"), std::string::npos) << sudo;
    EXPECT_NE(sudo.find("\"rootReason\":\""), std::string::npos) << sudo;
    EXPECT_NE(refresh.err.find("Note: Lab/127.0.0.2: "), std::string::npos) << refresh.err;

    // A changed key stops the host before its login; the stored key stays.
    const std::string changed = RefreshRecordOf(refresh.out, "Lab/127.0.0.3");
    EXPECT_NE(changed.find("\"ok\":false"), std::string::npos) << changed;
    std::u16string stored;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, ChangedKeyName(), stored));
    EXPECT_EQ(WideToAnsi(stored), kOldRsa);

    // The table says the same for a reader.
    const RunResult table = Ferrodex("refresh Lab/127.0.0.2 --password-stdin", Password());
    EXPECT_EQ(table.status, 0) << table.out << table.err;
    EXPECT_NE(table.out.find("ROOT"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("  no\n"), std::string::npos) << table.out;

    // Allowed to deploy, the host without lshw says that no engine package
    // is installed here.
    const RunResult deploy = Ferrodex("refresh Lab/127.0.0.1 --yes --json --password-stdin", Password());
    EXPECT_EQ(deploy.status, 1);
    EXPECT_NE(RefreshRecordOf(deploy.out, "Lab/127.0.0.1").find("engine package"), std::string::npos)
        << deploy.out << deploy.err;
}

TEST_F(FleetResultsTest, AChangedKeyIsTrustedOnlyForTheHostsNamedAndTold)
{
    // Not for a whole group or fleet.
    const RunResult unnamed = Ferrodex("refresh Lab --accept-changed-host-key --password-stdin", Password());
    EXPECT_NE(unnamed.status, 0);
    EXPECT_NE(unnamed.err.find("GROUP/HOST"), std::string::npos) << unnamed.err;

    const RunResult named =
        Ferrodex("refresh Lab/127.0.0.3 --accept-changed-host-key --json --password-stdin", Password());
    EXPECT_NE(named.err.find("Lab/127.0.0.3 changed and was accepted"), std::string::npos) << named.err;
    EXPECT_NE(named.err.find("SHA256:"), std::string::npos) << named.err;
    std::u16string stored;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, ChangedKeyName(), stored));
    EXPECT_NE(WideToAnsi(stored), kOldRsa);
    // The password waited for a connection with the stored key: the next
    // run logs in.
    EXPECT_EQ(server->logText().find(std::string("Accepted password for ") + SshdPeer::User() + " from 127.0.0.1"),
              std::string::npos);
    const RunResult again = Ferrodex("refresh Lab/127.0.0.3 --json --password-stdin", Password());
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(RefreshRecordOf(again.out, "Lab/127.0.0.3").find("\"ok\":true"), std::string::npos) << again.out;
}

// Three hosts print nearly the whole output limit, the others a normal
// document: every normal host's scan is saved, a picture that packs to more
// than the console file keeps for one host is refused with that reason, and
// the refresh holds packed pictures only (the peak of ferrodex and its
// workers stays far below the raw outputs put together).
TEST(FleetSizeTest, HostsNearTheOutputLimitLeaveTheOthersSaved)
{
    FDX_REQUIRE_SSHD();
    TempRegistry registry;
    TempDir dir;
    // The address the client reached tells the stand-in which host it is.
    const std::string lshw = dir.file("lshw");
    std::ofstream(lshw) << "#!/bin/sh\n"
                           "set -- $SSH_CONNECTION\n"
                           "big() { printf '<?xml version=\"1.0\"?><node id=\"big\" class=\"system\"><product>';"
                           " \"$@\"; printf '</product><node id=\"core\" class=\"bus\"/></node>\\n'; }\n"
                           "case \"$3\" in\n"
                           "127.0.0.2) big sh -c 'head -c 11500000 /dev/urandom | base64 -w0' ;;\n"
                           "127.0.0.3|127.0.0.4) big sh -c 'head -c 15500000 /dev/zero | tr \"\\\\0\" x' ;;\n"
                           "*) cat <<'XML'\n" +
                               LshwSample("user.xml") + "\nXML\n;;\n"
                           "esac\n";
    ASSERT_EQ(::chmod(lshw.c_str(), 0755), 0);
    SshdOptions options = LshwSshd(lshw);
    for (int i = 2; i <= 7; ++i) options.extraConfig.push_back("ListenAddress 127.0.0." + std::to_string(i));
    SshdPeer server(options);
    ASSERT_TRUE(server.running()) << server.logText();
    const std::string console = "--console " + dir.file("fleet.fdx") + " ";
    ASSERT_EQ(RunFerrodexLine(console + "group add Lab").status, 0);
    for (int i = 2; i <= 7; ++i)
        ASSERT_EQ(RunFerrodexLine(console + "host add Lab 127.0.0." + std::to_string(i) + " --port " +
                                  std::to_string(server.port()) + " --login " + SshdPeer::User())
                      .status,
                  0);

    rusage before{};
    ::getrusage(RUSAGE_CHILDREN, &before);
    const RunResult refresh = RunFerrodexLine(console + "refresh --jobs 6 --json --password-stdin",
                                              std::string(SshdPeer::Password()) + "\n");
    rusage after{};
    ::getrusage(RUSAGE_CHILDREN, &after);
    EXPECT_EQ(refresh.status, 1) << refresh.err;
    for (int i = 3; i <= 7; ++i) {
        const std::string record = RefreshRecordOf(refresh.out, "Lab/127.0.0." + std::to_string(i));
        EXPECT_NE(record.find("\"saved\":true"), std::string::npos) << record << refresh.err;
    }
    const std::string refused = RefreshRecordOf(refresh.out, "Lab/127.0.0.2");
    EXPECT_NE(refused.find("\"ok\":false"), std::string::npos) << refused;
    EXPECT_NE(refused.find("too large for the console file"), std::string::npos) << refused;
    // Six raw outputs of 15.5 MB, held as UTF-16 and a tree each, took
    // gigabytes; a packed fleet stays within a few hundred megabytes.
    const long peakKiB = std::max(after.ru_maxrss, before.ru_maxrss);
#if defined(__SANITIZE_ADDRESS__)
    constexpr long kBoundMiB = 1200;  // the sanitizer's own shadow and quarantine
#else
    constexpr long kBoundMiB = 400;
#endif
    EXPECT_LT(peakKiB, kBoundMiB * 1024) << "peak of ferrodex and its workers";
    std::printf("peak resident size of ferrodex and its workers: %ld MiB\n", peakKiB / 1024);

    const RunResult tree = RunFerrodexLine(console + "tree Lab --json");
    EXPECT_EQ(tree.status, 0) << tree.err;
    const RunResult found = RunFerrodexLine(console + "find id=core");
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(CountOccurrences(found.out, "Lab/"), 5u) << found.out << "the five saved pictures are in the file";
}

}  // namespace
