// Uploads to a scripted paramiko server, for what real servers rarely do:
// odd acknowledgements, refusals, silence, SFTP statuses and identifiers,
// cancellation, and the quirks of old server versions. The server also
// agrees group exchange and zlib compression, which sshd does not.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/integration/scp/scp_test_util.h"
#include "tests/integration/ssh2/scripted_peer.h"

namespace {

class Scripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScriptedPeer::Available()) FDX_PEER_MISSING() << "python3-paramiko is not installed";
        WriteFileBytes(m_local.file("data.bin"), PatternBytes(3 * 4096 + 10, 3));
        ::mkdir(m_local.file("tree").c_str(), 0755);
        WriteFileBytes(m_local.file("tree/inner.txt"), "inner");
        m_server = std::make_unique<ScriptedPeer>(std::vector<std::string>{"sftp-ok"});
    }

    // One upload as `user` (which names the scenario) to `server`, the shared
    // one unless given; `io`, when given, brings the time-out and cancel
    // event and takes the finished run. The server's report: m_results.
    int Upload(const std::string& user, const std::string& local, const std::string& remote = "/up",
               UploadRun* io = nullptr, ScriptedPeer* server = nullptr)
    {
        ScriptedPeer& to = server ? *server : *m_server;
        UploadRun run = PeerRun(to.port(), local, remote, io ? io->options.timeout_seconds : 10);
        run.user = user;
        run.cancelOnEvent = io ? io->cancelOnEvent : -1;
        const int code = run.Run();
        m_results = to.Results();
        if (io) *io = run;
        return code;
    }

    TempRegistry m_registry;
    TempDir m_local;
    std::unique_ptr<ScriptedPeer> m_server;
    std::string m_results;
};

TEST_F(Scripted, SftpUploadWithGroupExchangeAndCompression)
{
    EXPECT_EQ(Upload("sftp-ok", m_local.file("data.bin")), 0) << m_results;
    EXPECT_NE(m_results.find("init version 3"), std::string::npos) << m_results;
    EXPECT_NE(m_results.find("open /up/data.bin"), std::string::npos) << m_results;
    EXPECT_NE(m_results.find("agreed diffie-hellman-group-exchange-sha1 aes256-cbc hmac-sha1 zlib"), std::string::npos)
        << m_results;
    // A target that is no directory is written itself.
    EXPECT_EQ(Upload("sftp-ok", m_local.file("data.bin"), "/up/named.txt"), 0) << m_results;
    EXPECT_NE(m_results.find("open /up/named.txt"), std::string::npos) << m_results;
    // Without compression on the server's side.
    ScriptedPeer plain({"sftp-ok", "--no-compression"});
    EXPECT_EQ(Upload("sftp-ok", m_local.file("data.bin"), "/up", nullptr, &plain), 0) << m_results;
}

// Each request's status reaches its code (the whole mapping is proved
// in-process in tests/scp); odd acknowledgements, refusals, a source error
// the sink hears of, silence and a cancel from the callback end with theirs.
TEST_F(Scripted, EachOddAnswerSilenceAndCancelEndsWithItsCode)
{
    const struct {
        const char* scenario;
        int code;
    } cases[] = {
        {"sftp-status:open:3", SCP_E_OPEN_FILE},
        {"sftp-status:write:4", SCP_E_WRITE},
        {"sftp-status:fsetstat:8", SCP_E_UNSUPPORTED},
        {"sftp-badid", SCP_E_INTERNAL},
        {"sftp-version4", SCP_E_INTERNAL},
        {"refuse", SCP_E_INTERNAL},
    };
    for (const auto& c : cases) EXPECT_EQ(Upload(c.scenario, m_local.file("data.bin")), c.code) << c.scenario;
    // A created directory that cannot be looked at afterwards.
    EXPECT_EQ(Upload("sftp-status:mkdir-stat:3", m_local.file("tree")), SCP_E_PERMISSION_DENIED);

    EXPECT_EQ(Upload("ack:1", m_local.file("data.bin")), SCP_E_RECEIVE);
    // The fallback command went out on the same channel after the refusal.
    EXPECT_NE(m_results.find("subsystem sftp\nexec scp -r -p -t '/up'"), std::string::npos) << m_results;

    // A directory entry that names nothing: the sink hears why the upload stops.
    ASSERT_EQ(::symlink("/nonexistent/target", m_local.file("tree/dangling").c_str()), 0);
    EXPECT_EQ(Upload("sink", m_local.file("tree")), SCP_E_NO_SUCH_FILE);
    EXPECT_NE(m_results.find("sink message scp: " + m_local.file("tree/dangling") + ": No such file or directory"),
              std::string::npos)
        << m_results;

    UploadRun silent;
    silent.options.timeout_seconds = 1;
    silent.cancelOnEvent = -1;
    EXPECT_EQ(Upload("sftp-silent", m_local.file("data.bin"), "/up", &silent), SCP_E_TIMED_OUT);
    ASSERT_FALSE(silent.events.empty());
    EXPECT_EQ(silent.events.back().event, SCP_EVENT_ERROR);
    EXPECT_EQ(silent.events.back().text, "Connection timed out");

    UploadRun cancelled;
    cancelled.cancelOnEvent = SCP_EVENT_PROGRESS;
    cancelled.options.timeout_seconds = 10;
    EXPECT_EQ(Upload("sftp-ok", m_local.file("data.bin"), "/up", &cancelled), SCP_E_CANCELLED);
    EXPECT_EQ(cancelled.Count(SCP_EVENT_PROGRESS), 1);
    EXPECT_EQ(cancelled.options.cancel_requested, 0u);  // cleared when acted upon
}

long MaxRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Each step before the channel is ready ends at its own limit, and says
// which one it was.
TEST_F(Scripted, EachStepEndsAtItsOwnLimit)
{
    {
        ScriptedPeer server({"mute"});
        UploadRun run = PeerRun(server.port(), m_local.file("data.bin"), "/up", 60);
        run.options.connect_timeout_seconds = 2;
        EXPECT_EQ(run.Run(), SCP_E_TIMED_OUT);
        EXPECT_EQ(LastDetail(),
                  "host 127.0.0.1 port " + std::to_string(server.port()) + " sent no version line within 2 seconds");
    }
    {
        // The key exchange stops after the server's KEXINIT.
        ScriptedPeer server({"raw-stall"});
        UploadRun run = PeerRun(server.port(), m_local.file("data.bin"), "/up", 60);
        run.options.login_timeout_seconds = 2;
        EXPECT_EQ(run.Run(), SCP_E_TIMED_OUT);
        EXPECT_EQ(LastDetail(), "the key exchange and login with host 127.0.0.1 port " + std::to_string(server.port()) +
                                    " did not finish within 2 seconds");
    }
    // A limit passed before the channel was ready does not stay for the
    // next upload, which has the whole of its own.
    EXPECT_EQ(Upload("sftp-ok", m_local.file("data.bin")), 0);
    EXPECT_EQ(LastDetail(), "");
}

// A remote scp that answers an upload with an endless stream: what nobody
// asked for is held back by the channel's window, not kept.
TEST_F(Scripted, AFloodingServerIsHeldBackByTheWindow)
{
    WriteFileBytes(m_local.file("big.bin"), PatternBytes(8 * 1024 * 1024, 5));
    const long rssBefore = MaxRssKiB();
    UploadRun run;
    run.options.timeout_seconds = 20;
    // The stream is no acknowledgement: the upload fails.
    EXPECT_NE(Upload("flood", m_local.file("big.bin"), "/up", &run), 0);
    // The window is 1 MiB: what is kept unread stays within a few of them.
    EXPECT_LT(run.options.peak_memory_bytes, 6u * 1024 * 1024) << "the library's own blocks";
    EXPECT_LT(MaxRssKiB() - rssBefore, 64 * 1024) << "the process";
    // The server could send no more than a few windows' worth.
    const std::size_t at = m_results.find("flood sent ");
    ASSERT_NE(at, std::string::npos) << m_results;
    EXPECT_LT(std::stoul(m_results.substr(at + 11)), 4u * 1024 * 1024) << m_results;
}

}  // namespace
