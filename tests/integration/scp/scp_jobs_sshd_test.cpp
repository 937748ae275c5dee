// Uploads that share a process: one after the other and two at once on two
// threads, against a real sshd. Each upload keeps its own memory, events,
// limits and error detail; none leaves a block in its caller's arena.

#include <thread>

#include "platform/registry.h"
#include "scp/scp_mem.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/test_helpers.h"

namespace {

class SshdJobs : public CScpSshdTest {
protected:
    void SetUp() override { Start(); }
};

TEST_F(SshdJobs, UploadsOneAfterTheOtherAndAtOnceKeepTheirOwn)
{
    CScpLocalArena caller;
    // One after the other: the second starts from nothing the first left.
    UploadRun first = NewRun("first.bin");
    ASSERT_TRUE(UploadsIntact(first, PatternBytes(300 * 1024, 1))) << m_peer->logText();
    // Failures between them name the host, the port and the cause.
    const CHeldPort held;  // bound, never listening: refuses connections
    UploadRun refused = PeerRun(held.port(), m_local.file("first.bin"), m_remote.path());
    EXPECT_EQ(refused.Run(), SCP_E_NETWORK);
    EXPECT_EQ(LastDetail(), "connect to host 127.0.0.1 port " + std::to_string(held.port()) + ": Connection refused");
    UploadRun unknown = NewRun("first.bin");
    unknown.host = "no-such-host.invalid";
    const int code = unknown.Run();
    EXPECT_TRUE(code == SCP_E_HOST_DOES_NOT_EXIST || code == SCP_E_HOST_NOT_FOUND) << code;
    const std::string resolve = "Could not resolve hostname no-such-host.invalid: ";
    EXPECT_EQ(LastDetail().rfind(resolve, 0), 0u) << LastDetail();
    EXPECT_GT(LastDetail().size(), resolve.size()) << LastDetail();
    UploadRun second = NewRun("second.bin");
    ASSERT_TRUE(UploadsIntact(second, PatternBytes(200 * 1024, 2)));
    EXPECT_EQ(LastDetail(), "") << "the detail of a failed upload stays with it";
    EXPECT_GT(first.options.peak_memory_bytes, 0u);
    EXPECT_GT(second.options.peak_memory_bytes, 0u);
    EXPECT_EQ(scp_arena_count(caller.get()), 0);

    // Two at once, and a third that fails beside them: each sees only its
    // own events, its own outcome and its own detail.
    WriteFileBytes(m_local.file("a.bin"), PatternBytes(2 * 1024 * 1024, 3));
    WriteFileBytes(m_local.file("b.bin"), PatternBytes(1024 * 1024 + 17, 4));
    UploadRun a = NewRun("a.bin");
    UploadRun b = NewRun("b.bin");
    UploadRun c = PeerRun(held.port(), m_local.file("a.bin"), m_remote.path());
    std::string detailA, detailB, detailC;
    int leftA = -1, leftB = -1;
    auto upload = [](UploadRun* run, std::string* detail, int* left) {
        CScpLocalArena own;
        run->Run();
        *detail = LastDetail();
        if (left) *left = scp_arena_count(own.get());
    };
    std::thread ta(upload, &a, &detailA, &leftA);
    std::thread tb(upload, &b, &detailB, &leftB);
    std::thread tc(upload, &c, &detailC, nullptr);
    ta.join();
    tb.join();
    tc.join();
    EXPECT_EQ(a.code, SCP_OK) << m_peer->logText();
    EXPECT_EQ(b.code, SCP_OK);
    EXPECT_EQ(c.code, SCP_E_NETWORK);
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/a.bin"), PatternBytes(2 * 1024 * 1024, 3));
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/b.bin"), PatternBytes(1024 * 1024 + 17, 4));
    EXPECT_EQ(detailA, "");
    EXPECT_EQ(detailB, "");
    EXPECT_NE(detailC.find("Connection refused"), std::string::npos) << detailC;
    for (const UploadRun* run : {&a, &b}) {
        EXPECT_EQ(run->Count(SCP_EVENT_FINISHED), 1);
        EXPECT_EQ(run->Count(SCP_EVENT_ERROR), 0);
        EXPECT_EQ(run->Count(SCP_EVENT_AUTHENTICATED), 1);
    }
    EXPECT_EQ(c.Count(SCP_EVENT_ERROR), 1);
    EXPECT_EQ(c.Count(SCP_EVENT_FINISHED), 0);
    EXPECT_EQ(leftA, 0);
    EXPECT_EQ(leftB, 0);
}

}  // namespace
