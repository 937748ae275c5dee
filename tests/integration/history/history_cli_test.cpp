// `ferrodex` against a real sshd whose lshw is a stand-in: refreshes are
// recorded in the history beside the console file, `history` and `diff`
// tell what changed, and a locked or damaged history costs neither the scan
// nor the console file.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"
#include "tests/support/test_server.h"

namespace {

RunResult Ferrodex(const std::string& args, const std::string& input = "") { return RunFerrodexLine(args, input); }

using Result = RunResult;

class HistoryCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string why = ServerUnavailable(EServerKind::StockSshd); !why.empty()) FDX_PEER_MISSING() << why;
        WriteFakeLshw(dir.file("lshw"), LshwSample("root.xml"));
        server = StartServer({EServerKind::StockSshd, true, {{dir.file("lshw"), "/usr/bin/lshw"}}, {}});
        ASSERT_TRUE(server->running()) << server->logText();
        console = "--console " + dir.file("lab.fdx");
        ASSERT_TRUE(AddPeerHost(console, "Lab", "127.0.0.1", server->port()));
    }
    Result Refresh() { return Ferrodex(console + " host refresh Lab/127.0.0.1" + TestLogin(), PasswordLines()); }

    TempRegistry registry;
    TempDir dir;
    std::unique_ptr<CTestServer> server;
    std::string console;
    std::string history = dir.file("lab.history.db");
};

TEST_F(HistoryCliTest, TwoScansOfChangedHardwareAreRecordedAndDiffSaysWhatChanged)
{
    Result first = Refresh();
    ASSERT_EQ(first.status, 0) << first.err << server->logText();
    ASSERT_TRUE(std::filesystem::exists(history)) << "beside the console file, named after it";
    EXPECT_EQ(std::filesystem::status(history).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // The same hardware again is folded into the first entry.
    ASSERT_EQ(Refresh().status, 0);
    Result list = Ferrodex(console + " history Lab/127.0.0.1");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2) << "a heading and one scan: " << list.out;
    EXPECT_NE(list.out.find(std::string(SshdPeer::User()) + "@127.0.0.1"), std::string::npos) << list.out;

    // A memory size changed and a value with a terminal escape in it.
    std::string changed = LshwSample("root.xml");
    changed.replace(changed.find("25769803776"), 11, "17179869184");
    changed.replace(changed.find("<product>AMD EPYC</product>"), 27, "<product>AMD EPYC\x1b[2J</product>");
    WriteFakeLshw(dir.file("lshw"), changed);
    ASSERT_EQ(Refresh().status, 0);

    list = Ferrodex(console + " history Lab/127.0.0.1 --json");
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("\"id\":2"), std::string::npos) << list.out;

    // As diff(1): 1 when the scans differ, 0 when they do not, 2 on trouble.
    const Result diff = Ferrodex(console + " diff Lab/127.0.0.1");
    ASSERT_EQ(diff.status, 1) << diff.err;
    EXPECT_NE(diff.out.find("2 changes"), std::string::npos) << diff.out;
    EXPECT_NE(diff.out.find("~ core/memory  size: 24 Gb -> 16 Gb"), std::string::npos) << diff.out;
    EXPECT_EQ(diff.out.find('\x1b'), std::string::npos) << "server text is filtered";

    const Result json = Ferrodex(console + " diff Lab/127.0.0.1 --from 1 --to 2 --json");
    ASSERT_EQ(json.status, 1) << json.err;
    EXPECT_NE(json.out.find("\"new\":\"AMD EPYC\\u001b[2J\""), std::string::npos) << json.out;
    // The picture at a time long after the last scan is the last one.
    const Result same = Ferrodex(console + " diff Lab/127.0.0.1 --from 2 --to 2099-01-01T00:00:00Z");
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_NE(same.out.find(": 0 changes"), std::string::npos) << same.out;
    EXPECT_EQ(Ferrodex(console + " diff Lab/127.0.0.1 --from 1999-01-01").status, 2) << "no scan then";

    // Retention.
    const Result prune = Ferrodex(console + " --keep 1 history prune");
    ASSERT_EQ(prune.status, 0) << prune.err;
    EXPECT_NE(prune.out.find("1 scan removed"), std::string::npos) << prune.out;
    EXPECT_EQ(Ferrodex(console + " diff Lab/127.0.0.1").status, 2) << "one scan left";
}

TEST_F(HistoryCliTest, ALockedOrDamagedHistoryLeavesTheScanShownAndTheConsoleFileIntact)
{
    ASSERT_EQ(Refresh().status, 0);
    {
        // Another program holds the write lock through the whole refresh.
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(history.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM scans WHERE id < 0", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        WriteFakeLshw(dir.file("lshw"), LshwSample("user.xml"));
        const Result locked = Refresh();
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        EXPECT_EQ(locked.status, 0) << locked.err;
        EXPECT_NE(locked.err.find("not written to the history"), std::string::npos) << locked.err;
    }
    // The console file holds the new picture.
    const Result shown = Ferrodex(console + " tree Lab/127.0.0.1 --login x");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("core"), std::string::npos) << shown.out;

    const std::string garbage = "not a database at all " + std::string(5000, 'z');
    std::filesystem::remove(history + "-wal");
    std::filesystem::remove(history + "-shm");
    std::ofstream(history, std::ios::binary | std::ios::trunc) << garbage;
    const std::string before = ReadWholeFile(dir.file("lab.fdx"));
    WriteFakeLshw(dir.file("lshw"), LshwSample("root.xml"));
    const Result damaged = Refresh();
    EXPECT_EQ(damaged.status, 0) << damaged.err;
    EXPECT_NE(damaged.err.find("not written to the history"), std::string::npos) << damaged.err;
    EXPECT_EQ(ReadWholeFile(history), garbage) << "a damaged history is left for the user to look at";
    const std::string after = ReadWholeFile(dir.file("lab.fdx"));
    EXPECT_NE(after, before) << "the scan was saved";
    EXPECT_NE(Ferrodex(console + " history Lab/127.0.0.1").status, 0);
}

// The key the first scan stored is listed as ssh-keygen prints the same
// server's key, and once forgotten the next scan meets the server afresh.
// Then a group's list after the console file is opened again, and after a
// refresh that failed, still says when the host's picture was scanned: the
// history knows it.
TEST_F(HistoryCliTest, StoredHostKeyIsForgottenAndTheGroupListKeepsTheLastScan)
{
    ASSERT_EQ(Refresh().status, 0);
    const std::string port = std::to_string(server->port());
    const Result listed = Ferrodex(console + " known-hosts list 127.0.0.1:" + port);
    ASSERT_EQ(listed.status, 0) << listed.err;
    ASSERT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1) << listed.out;
    const std::string line = listed.out.substr(0, listed.out.size() - 1);

    const std::string keygen =
        ShellOutput("ssh-keyscan -p " + port + " 127.0.0.1 2>/dev/null | ssh-keygen -l -f - 2>/dev/null");
    EXPECT_NE(keygen.find(line + "\n"), std::string::npos) << "ours: " << line << "\nssh-keygen:\n" << keygen;

    EXPECT_EQ(Ferrodex(console + " known-hosts list 127.0.0.1:1").status, 1) << "another port holds nothing";
    const Result forgot = Ferrodex(console + " known-hosts forget [127.0.0.1]:" + port);
    EXPECT_EQ(forgot.status, 0) << forgot.err;
    EXPECT_EQ(forgot.out, "Forgot 1 host key of [127.0.0.1]:" + port + "\n");
    EXPECT_EQ(Ferrodex(console + " known-hosts list 127.0.0.1:" + port).status, 1);
    EXPECT_EQ(Ferrodex(console + " known-hosts forget 127.0.0.1:" + port).status, 1) << "nothing left to forget";

    const Result again = Refresh();
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("SHA256:"), std::string::npos) << "a first contact again: " << again.err;
    EXPECT_EQ(Ferrodex(console + " known-hosts list 127.0.0.1:" + port).out, listed.out);

    const Result history = Ferrodex(console + " history Lab/127.0.0.1 --json");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(history.out, found, std::regex("\"lastSeen\":\"([0-9T:Z-]{20})\""))) << history.out;
    const std::string scanned = found[1];
    const std::string row = "[\"127.0.0.1\",\"" + scanned + "\"";

    const Result reopened = Ferrodex(console + " show Lab --json");
    ASSERT_EQ(reopened.status, 0) << reopened.err;
    EXPECT_NE(reopened.out.find(row), std::string::npos) << reopened.out;
    const Result text = Ferrodex(console + " show Lab");
    EXPECT_NE(text.out.find("127.0.0.1  " + scanned), std::string::npos) << text.out;

    // A login that the server refuses: the refresh fails, the picture and
    // its time stay.
    ASSERT_EQ(Ferrodex(console + " host edit Lab/127.0.0.1 --login nobody-here").status, 0);
    const Result failed = Ferrodex(console + " refresh Lab --json --password-stdin", PasswordLines());
    EXPECT_EQ(failed.status, 1) << failed.out << failed.err;
    EXPECT_NE(failed.out.find("\"ok\":false"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("\"scanned\":\"" + scanned + "\""), std::string::npos) << failed.out;
    EXPECT_NE(Ferrodex(console + " show Lab --json").out.find(row), std::string::npos);
}

}  // namespace

