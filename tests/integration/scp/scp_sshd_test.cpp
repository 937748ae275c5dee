// Uploads to a real OpenSSH sshd: over the internal-sftp subsystem, and over
// the remote "scp -t" sink when the subsystem is not configured.

#include <sys/stat.h>
#include <unistd.h>

#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/test_helpers.h"

namespace {

enum class Form { Sftp, Scp };

std::string FormName(Form f) { return f == Form::Sftp ? "Sftp" : "Scp"; }

// An sshd that also takes the older public-key types.
class SshdFixture : public CScpSshdTest {
protected:
    void StartPeer(bool sftpSubsystem)
    {
        SshdOptions options;
        options.sftpSubsystem = sftpSubsystem;
        options.extraConfig = {"PubkeyAcceptedAlgorithms +ssh-rsa,ssh-dss"};
        Start(options);
    }
    UploadRun NewRun(const std::string& local, const std::string& remote) { return PeerRun(m_peer->port(), local, remote); }
};

class SshdUpload : public SshdFixture, public ::testing::WithParamInterface<Form> {
protected:
    void SetUp() override { StartPeer(GetParam() == Form::Sftp); }

    // Uploads one file of the given size and checks the copy.
    void UploadAndCompare(std::size_t size)
    {
        const std::string name = "file-" + std::to_string(size) + ".bin";
        const std::string bytes = PatternBytes(size, static_cast<unsigned>(size));
        WriteFileBytes(m_local.file(name), bytes);
        SetFileTimes(m_local.file(name), 1000000000, 1000000100);
        UploadRun run = NewRun(m_local.file(name), m_remote.path());
        ASSERT_EQ(run.Run(), 0) << m_peer->logText();
        const std::string copy = m_remote.path() + "/" + name;
        struct stat times{};
        ASSERT_EQ(::stat(copy.c_str(), &times), 0);  // before reading touches the access time
        EXPECT_EQ(times.st_mtime, 1000000000);
        EXPECT_EQ(times.st_atime, 1000000100);
        EXPECT_EQ(times.st_mode & 0777, 0644u);
        EXPECT_EQ(ReadWholeFile(copy), bytes);
        EXPECT_EQ(run.Count(SCP_EVENT_ERROR), 0);
        EXPECT_EQ(run.Count(SCP_EVENT_AUTHENTICATED), 1);
        std::vector<std::int32_t> stages;
        for (const auto& e : run.events)
            if (e.event == SCP_EVENT_STAGE) stages.push_back(e.value);
        EXPECT_EQ(stages, (std::vector<std::int32_t>{1, 2, 3, 5}));
        EXPECT_EQ(run.events.front().event, SCP_EVENT_STAGE);
        EXPECT_EQ(run.events.back().event, SCP_EVENT_FINISHED);
        // A file without data reports no progress; others end at 100.
        if (size == 0) {
            EXPECT_EQ(run.Count(SCP_EVENT_PROGRESS), 0);
        } else {
            ASSERT_GE(run.Count(SCP_EVENT_PROGRESS), 1);
            EXPECT_EQ(run.events[run.events.size() - 3].value, 100);
        }
    }
};

TEST_P(SshdUpload, CopiesSmallFilesByteForByteWithTimes)
{
    for (std::size_t size : {0u, 1u, 4096u, 4097u}) {
        SCOPED_TRACE(size);
        UploadAndCompare(size);
    }
}

TEST_P(SshdUpload, CopiesALargerFile)
{
    // One 10 MiB transfer in the suite: the sink form, which outgrows the
    // server's 2 MiB channel window several times and must wait for window
    // and resume; SFTP, one request at a time, gets a few hundred writes.
    UploadAndCompare(GetParam() == Form::Scp ? 10u * 1024 * 1024 : 3 * 1024 * 1024 + 3);
}

TEST_P(SshdUpload, CopiesADirectoryTreeWithoutDotEntries)
{
    const std::string top = m_local.file("tree");
    ::mkdir(top.c_str(), 0755);
    ::mkdir((top + "/sub").c_str(), 0755);
    ::mkdir((top + "/sub/empty").c_str(), 0755);
    WriteFileBytes(top + "/a.txt", "alpha\n");
    WriteFileBytes(top + "/sub/b.bin", PatternBytes(5000, 7));
    UploadRun run = NewRun(top, m_remote.path());
    ASSERT_EQ(run.Run(), 0) << m_peer->logText();
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/tree/a.txt"), "alpha\n");
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/tree/sub/b.bin"), PatternBytes(5000, 7));
    EXPECT_TRUE(IsDirectory(m_remote.path() + "/tree/sub/empty"));

    // "." and ".." as the local path are skipped without a word.
    UploadRun dot = NewRun(top + "/.", m_remote.path() + "/dot");
    EXPECT_EQ(dot.Run(), 0);
    UploadRun dotdot = NewRun(top + "/sub/..", m_remote.path() + "/dotdot");
    EXPECT_EQ(dotdot.Run(), 0);
    EXPECT_FALSE(Exists(m_remote.path() + "/dot"));
    EXPECT_FALSE(Exists(m_remote.path() + "/dotdot"));
}

TEST_P(SshdUpload, WildcardSendsEveryMatchIntoADirectory)
{
    WriteFileBytes(m_local.file("one.txt"), "1");
    WriteFileBytes(m_local.file("two.txt"), "22");
    WriteFileBytes(m_local.file("skip.dat"), "x");
    UploadRun run = NewRun(m_local.file("*.txt"), m_remote.path());
    ASSERT_EQ(run.Run(), 0) << m_peer->logText();
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/one.txt"), "1");
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/two.txt"), "22");
    EXPECT_FALSE(Exists(m_remote.path() + "/skip.dat"));

    // A single file to a target that is no directory is written as that name.
    UploadRun renamed = NewRun(m_local.file("one.txt"), m_remote.path() + "/renamed.txt");
    ASSERT_EQ(renamed.Run(), 0);
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/renamed.txt"), "1");
    // A target that must be a directory but is a file.
    WriteFileBytes(m_remote.path() + "/plain", "p");
    UploadRun notDir = NewRun(m_local.file("?ne.txt"), m_remote.path() + "/plain");
    // The sink, started with -d, refuses the target with an error line (16).
    EXPECT_EQ(notDir.Run(), GetParam() == Form::Sftp ? SCP_E_NOT_A_DIRECTORY : SCP_E_RECEIVE);
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/plain"), "p");
}

INSTANTIATE_TEST_SUITE_P(Forms, SshdUpload, ::testing::Values(Form::Sftp, Form::Scp),
                         [](const ::testing::TestParamInfo<Form>& p) { return FormName(p.param); });

// Logins and what is refused before any byte goes, over SFTP only.
class SshdSession : public SshdFixture {
protected:
    void SetUp() override
    {
        StartPeer(true);
        WriteFileBytes(m_local.file("k.txt"), "key");
    }

    UploadRun NewRun() { return SshdFixture::NewRun(m_local.file("k.txt"), m_remote.path()); }
};

TEST_F(SshdSession, AWrongPasswordIsTriedOnceAndNamed)
{
    UploadRun run = NewRun();
    run.password = "not-the-password";
    const int code = run.Run();
    EXPECT_EQ(code, SCP_E_WRONG_PASSWORD);
    EXPECT_EQ(CountOccurrences(m_peer->logText(), "Failed password"), 1u) << m_peer->logText();
    ASSERT_EQ(run.Count(SCP_EVENT_ERROR), 1);
    EXPECT_EQ(run.events.back().value, code);
    EXPECT_FALSE(Exists(m_remote.path() + "/k.txt"));
}

TEST_F(SshdSession, PublicKeyFromEitherFileFormatAndType)
{
    struct Case {
        const char* type;
        const char* format;
        const char* passphrase;
        bool keyUsed;
    };
    // The formats themselves are read in-process (tests/ssh2, tests/scp).
    const Case cases[] = {
        {"rsa", "PEM", "", true},
        {"dsa", "PEM", "", false},                // DSA keys are not used: password login instead
        {"rsa", "RFC4716", "fdx-test-pw", true},  // protected: the password opens it
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.type << " " << c.format << " '" << c.passphrase << "'");
        const std::string key = m_local.file("id" + std::to_string(n++));
        const std::string command = std::string("ssh-keygen -q -t ") + c.type + " -N '" + c.passphrase + "' -m " +
                                    c.format + " -f " + key;
        ASSERT_EQ(std::system(command.c_str()), 0);
        ASSERT_EQ(std::system(("cp " + key + ".pub " + m_peer->folder() + "/authorized_keys && chmod 644 " +
                               m_peer->folder() + "/authorized_keys")
                                  .c_str()),
                  0);
        const std::size_t logBefore = m_peer->logText().size();
        UploadRun run = NewRun();
        if (!*c.passphrase && c.keyUsed) run.password = "wrong";  // only the key can succeed
        run.options.key_file = key.c_str();
        EXPECT_EQ(run.Run(), 0) << m_peer->logText();
        const std::string log = m_peer->logText().substr(logBefore);
        EXPECT_EQ(log.find("Accepted publickey") != std::string::npos, c.keyUsed) << log;
    }
}

TEST_F(SshdSession, FilesOf4GiBOrMoreAreRefused)
{
    const std::string big = m_local.file("big.bin");
    WriteFileBytes(big, "");
    ASSERT_EQ(::truncate(big.c_str(), 4LL * 1024 * 1024 * 1024), 0);  // sparse
    UploadRun run = NewRun();
    run.localPath = big;
    EXPECT_EQ(run.Run(), SCP_E_READ);
    EXPECT_FALSE(Exists(m_remote.path() + "/big.bin"));
}

}  // namespace
