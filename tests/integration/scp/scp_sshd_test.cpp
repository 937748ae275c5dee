// Uploads to a real OpenSSH sshd: over the internal-sftp subsystem, and over
// the remote "scp -t" sink when the subsystem is not configured.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

enum class Form { Sftp, Scp };

std::string FormName(Form f) { return f == Form::Sftp ? "Sftp" : "Scp"; }

// An sshd that also takes the older public-key types, with a local and a
// remote folder for the files.
std::size_t CountFailedPasswords(const std::string& log)
{
    std::size_t count = 0;
    for (std::size_t at = log.find("Failed password"); at != std::string::npos; at = log.find("Failed password", at + 1))
        ++count;
    return count;
}

class SshdFixture : public ::testing::Test {
protected:
    void StartPeer(bool sftpSubsystem)
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        SshdOptions options;
        options.sftpSubsystem = sftpSubsystem;
        options.extraConfig = {"PubkeyAcceptedAlgorithms +ssh-rsa,ssh-dss"};
        m_peer = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(m_peer->running()) << m_peer->logText();
        ASSERT_FALSE(m_remote.path().empty());
    }

    UploadRun NewRun(const std::string& local, const std::string& remote) { return PeerRun(m_peer->port(), local, remote); }

    TempRegistry m_registry;
    TempDir m_local;
    RemoteDir m_remote;
    std::unique_ptr<SshdPeer> m_peer;
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
        EXPECT_EQ(run.Count(SCP_EVENT_FINISHED), 1);
        EXPECT_EQ(run.Count(SCP_EVENT_ERROR), 0);
        EXPECT_EQ(run.Count(SCP_EVENT_AUTHENTICATED), 1);
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

    // A target that must be a directory but is a file.
    WriteFileBytes(m_remote.path() + "/plain", "p");
    UploadRun notDir = NewRun(m_local.file("?ne.txt"), m_remote.path() + "/plain");
    // The sink, started with -d, refuses the target with an error line (16).
    EXPECT_EQ(notDir.Run(), GetParam() == Form::Sftp ? SCP_E_NOT_A_DIRECTORY : SCP_E_RECEIVE);
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/plain"), "p");
}

TEST_P(SshdUpload, ReportsStagesInOrder)
{
    WriteFileBytes(m_local.file("s.txt"), "stages");
    UploadRun run = NewRun(m_local.file("s.txt"), m_remote.path() + "/renamed.txt");
    ASSERT_EQ(run.Run(), 0);
    EXPECT_EQ(ReadWholeFile(m_remote.path() + "/renamed.txt"), "stages");
    std::vector<std::int32_t> stages;
    for (const auto& e : run.events)
        if (e.event == SCP_EVENT_STAGE) stages.push_back(e.value);
    EXPECT_EQ(stages, (std::vector<std::int32_t>{1, 2, 3, 5}));
    EXPECT_EQ(run.events.front().event, SCP_EVENT_STAGE);
    EXPECT_EQ(run.events.back().event, SCP_EVENT_FINISHED);
}

TEST_P(SshdUpload, AWrongPasswordIsTriedOnceAndNamed)
{
    WriteFileBytes(m_local.file("w.txt"), "w");
    UploadRun run = NewRun(m_local.file("w.txt"), m_remote.path());
    run.password = "not-the-password";
    const int code = run.Run();
    EXPECT_EQ(code, SCP_E_WRONG_PASSWORD);
    char text[256];
    scp_format_error(code, text, sizeof text);
    EXPECT_STREQ(text, "The login or the password is wrong.");
    EXPECT_EQ(CountFailedPasswords(m_peer->logText()), 1u) << m_peer->logText();
    ASSERT_EQ(run.Count(SCP_EVENT_ERROR), 1);
    EXPECT_EQ(run.events.back().value, code);
    EXPECT_FALSE(Exists(m_remote.path() + "/w.txt"));
}

INSTANTIATE_TEST_SUITE_P(Forms, SshdUpload, ::testing::Values(Form::Sftp, Form::Scp),
                         [](const ::testing::TestParamInfo<Form>& p) { return FormName(p.param); });

// Connection failures and the host-key policies, over SFTP only.
class SshdSession : public SshdFixture {
protected:
    void SetUp() override
    {
        StartPeer(true);
        WriteFileBytes(m_local.file("k.txt"), "key");
    }

    UploadRun NewRun() { return SshdFixture::NewRun(m_local.file("k.txt"), m_remote.path()); }

    std::string ValueName() const { return "rsa2@" + std::to_string(m_peer->port()) + ":127.0.0.1"; }

    std::string Stored() const { return StoredHostKey(ValueName()); }

    void Store(const std::string& text) const
    {
        RegWriteString(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel\\SshHostKeys", AnsiToWide(ValueName()),
                       AnsiToWide(text));
    }
};

TEST_F(SshdSession, NewHostKeyIsStoredAndThenMatches)
{
    UploadRun first = NewRun();
    ASSERT_EQ(first.Run(), 0) << m_peer->logText();
    const std::string stored = Stored();
    EXPECT_TRUE(std::regex_match(stored, std::regex("0x[0-9a-f]+,0x[0-9a-f]+"))) << stored;
    // A random seed was written for the next session.
    std::vector<std::uint8_t> seed;
    ASSERT_TRUE(RegReadBinary(HKEY_LOCAL_MACHINE, u"Software\\Quillon\\Corvel", u"RandomSeed", seed));
    EXPECT_EQ(seed.size(), 600u);

    UploadRun second = NewRun();
    second.options.new_host_key_policy = HOSTKEY_REJECT;
    second.options.changed_host_key_policy = HOSTKEY_REJECT;
    EXPECT_EQ(second.Run(), 0);
}

TEST_F(SshdSession, ChangedHostKeyGoesOnOnlyWithAYes)
{
    const std::string old = "0x23,0xbeef";
    struct Case {
        std::int16_t policy;
        bool callback;
        std::int32_t answer;
        int code;
        bool replaced;
    };
    const Case cases[] = {
        // Only the caller's own yes (accept and store) or the user's goes on,
        // and then stores the key but sends no password on that session.
        {HOSTKEY_REJECT, true, 0, SCP_E_HOSTKEY_REFUSED, false},
        {HOSTKEY_ACCEPT_ONCE, true, 0, SCP_E_HOSTKEY_REFUSED, false},
        {HOSTKEY_ACCEPT_AND_STORE, true, 0, SCP_E_AUTHENTICATE, true},
        {HOSTKEY_ASK, true, 0, SCP_E_HOSTKEY_REFUSED, false},
        {HOSTKEY_ASK, true, 1, SCP_E_AUTHENTICATE, true},
        {HOSTKEY_ASK, false, 1, SCP_E_HOSTKEY_REFUSED, false},
        {7, true, 1, SCP_E_HOSTKEY_REFUSED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "policy " << c.policy << " callback " << c.callback << " answer " << c.answer);
        Store(old);
        UploadRun run = NewRun();
        run.options.changed_host_key_policy = c.policy;
        run.withCallback = c.callback;
        run.hostKeyAnswer = c.answer;
        EXPECT_EQ(run.Run(), c.code);
        EXPECT_EQ(Stored() != old, c.replaced);
        if (c.policy == HOSTKEY_ASK && c.callback) {
            ASSERT_EQ(run.Count(SCP_EVENT_HOSTKEY), 1);
            for (const auto& e : run.events) {
                if (e.event != SCP_EVENT_HOSTKEY) continue;
                EXPECT_EQ(e.text, "127.0.0.1");
                EXPECT_EQ(e.value, 0);  // changed, not new
                EXPECT_TRUE(std::regex_match(e.detail, std::regex("ssh-rsa 2048 ([0-9a-f]{2}:){15}[0-9a-f]{2} SHA256:[A-Za-z0-9+/]{43}")))
                    << e.detail;
            }
        }
    }
}

TEST_F(SshdSession, ConnectionFailuresHaveTheirCodes)
{
    UploadRun closed = NewRun();
    {
        // A port nobody listens on: the peer's port after it stopped.
        SshdPeer other;
        ASSERT_TRUE(other.running());
        closed.port = other.port();
    }
    EXPECT_EQ(closed.Run(), SCP_E_NETWORK);
    EXPECT_EQ(closed.Count(SCP_EVENT_CONNECTED), 0);

    UploadRun unknown = NewRun();
    unknown.host = "no-such-host.invalid";
    const int code = unknown.Run();
    EXPECT_TRUE(code == SCP_E_HOST_DOES_NOT_EXIST || code == SCP_E_HOST_NOT_FOUND) << code;

    UploadRun empty = NewRun();
    empty.host = "";
    EXPECT_EQ(empty.Run(), SCP_E_EMPTY_HOST);

    UploadRun missing = NewRun();
    missing.localPath = m_local.file("absent.txt");
    EXPECT_EQ(missing.Run(), SCP_E_NO_SUCH_FILE);
    EXPECT_EQ(missing.Count(SCP_EVENT_CONNECTED), 0);
}

TEST_F(SshdSession, PublicKeyFromEitherFileFormatAndType)
{
    struct Case {
        const char* type;
        const char* format;
        const char* passphrase;
        bool keyUsed;
    };
    const Case cases[] = {
        {"rsa", "PEM", "", true},
        {"rsa", "RFC4716", "", true},  // the OpenSSH format
        {"dsa", "PEM", "", false},     // DSA keys are not used: password login instead
        {"dsa", "RFC4716", "", false},
        {"rsa", "PEM", "fdx-test-pw", true},      // protected: the password opens it
        {"rsa", "RFC4716", "fdx-test-pw", true},  // bcrypt-protected: the same
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
    {
        FILE* f = std::fopen(big.c_str(), "w");
        ASSERT_TRUE(f);
        std::fclose(f);
    }
    ASSERT_EQ(::truncate(big.c_str(), 4LL * 1024 * 1024 * 1024), 0);  // sparse
    UploadRun run = NewRun();
    run.localPath = big;
    EXPECT_EQ(run.Run(), SCP_E_READ);
    EXPECT_FALSE(Exists(m_remote.path() + "/big.bin"));
}

TEST(SshdDsaHostKey, StoredUnderItsOwnType)
{
    std::string why;
    if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
    SshdOptions options;
    options.hostKeyType = "dsa";
    options.extraConfig = {"HostKeyAlgorithms ssh-dss"};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    TempRegistry registry;
    TempDir local;
    RemoteDir remote;
    UploadRun run = PeerRun(peer.port(), local.file("d.txt"), remote.path());
    ASSERT_TRUE(UploadsIntact(run, "dsa")) << peer.logText();
    const std::string stored = StoredHostKey("dss@" + std::to_string(peer.port()) + ":127.0.0.1");
    EXPECT_TRUE(std::regex_match(stored, std::regex("0x[0-9a-f]+,0x[0-9a-f]+,0x[0-9a-f]+,0x[0-9a-f]+"))) << stored;
}

}  // namespace
