// Files that another user could have put beside the console file, through
// the real program: a planted history is not believed by any command, a
// FIFO in its place ends them at once, and the folder that allows either
// is named in a warning.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/history_recorder.h"
#include "history/history_store.h"
#include "tests/console/command_fixture.h"
#include "tests/support/peer_required.h"

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class TrustedFilesTest : public CCommandFixture {
protected:
    TrustedFilesTest()
    {
        m_env.deadlineMs = 20000;
        ::mkdir(m_shared.c_str(), 0700);
        ::chmod(m_shared.c_str(), 01777);  // as /tmp is
        m_console = m_shared + "/lab.fdx";
        m_history = HistoryFileFor(m_console);
    }

    RunResult Run(const std::vector<std::string>& args)
    {
        RunResult result = CCommandFixture::Run(args);
        EXPECT_FALSE(result.timedOut) << ::testing::PrintToString(args) << " still ran after 20 seconds";
        return result;
    }

    // Two different scans of G/h, so that history, diff and the reports
    // have something to show.
    void RecordTwoScans()
    {
        std::string error;
        const std::unique_ptr<CHistoryStore> store = CHistoryStore::Open(m_history, true, error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->Record({"G/h", "h", 22, "root", "<list><node id=\"a\"/></list>", 1000, {}}, 10, error));
        ASSERT_TRUE(store->Record({"G/h", "h", 22, "root", "<list><node id=\"b\"/></list>", 2000, {}}, 10, error));
    }

    std::string m_shared = m_dir.file("shared");
    std::string m_history;
};

TEST_F(TrustedFilesTest, AHistoryOfAnotherUserIsBelievedByNoCommand)
{
    const RunResult added = Run({"group", "add", "G"});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_TRUE(Contains(added.err, "Warning: console file " + m_console + " is in " + m_shared))
        << "the shared folder is named: " << added.err;
    const RunResult privateFolder = RunOn(m_dir.file("own.fdx"), {"group", "add", "G"});
    EXPECT_EQ(privateFolder.err, "") << "a folder of the user's own is no risk";
    RecordTwoScans();
    const RunResult own = Run({"history", "G/h"});
    ASSERT_EQ(own.status, 0) << own.err;
    EXPECT_NE(own.out, "");

    const passwd* other = ::getpwnam("fdxtest");
    if (other == nullptr || ::chown(m_history.c_str(), other->pw_uid, other->pw_gid) != 0)
        FDX_PEER_MISSING() << "no user fdxtest to own the planted history, or not root";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"history", "G/h"},
                                                 std::vector<std::string>{"diff", "G/h"}}) {
        const RunResult refused = Run(args);
        EXPECT_NE(refused.status, 0) << args[0] << " believed a planted history:\n" << refused.out;
        EXPECT_TRUE(Contains(refused.err, m_history + " belongs to another user")) << refused.err;
        EXPECT_FALSE(Contains(refused.out, "2000")) << refused.out;
    }
    // The reports are written without its marks, with a warning.
    const RunResult json = Run({"export", "--format", "json"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(Contains(json.err, "belongs to another user")) << json.err;
    EXPECT_FALSE(Contains(json.out, "\"changes\"")) << json.out;
}

TEST_F(TrustedFilesTest, AFifoInPlaceOfTheHistoryEndsEveryCommandAtOnce)
{
    ASSERT_EQ(Run({"group", "add", "G"}).status, 0);
    ASSERT_EQ(::mkfifo(m_history.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"history", "G/h"}, std::vector<std::string>{"diff", "G/h"},
          std::vector<std::string>{"export", "--format", "json"}, std::vector<std::string>{"export", "--format", "html"},
          std::vector<std::string>{"history", "prune"}}) {
        const RunResult result = Run(args);
        EXPECT_TRUE(Contains(result.err, m_history + " is a FIFO")) << ::testing::PrintToString(args) << result.err;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(m_history.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "left as it was";
}

}  // namespace
