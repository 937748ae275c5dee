// Unit tests of the upload library's pieces that need no network: pattern
// matcher, quirk detection, host-key store, error texts, allocation table,
// SFTP codec (through it the bounded reader over the shared one),
// acknowledgements and the open-files table.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "scp/scp.h"
#include "scp/scp_job.h"
#include "scp/scp_match.h"
#include "scp/scp_mem.h"
#include "scp/scp_sftp.h"
#include "scp/scp_ssh.h"
#include "scp/scp_store.h"
#include "sshcore/hostkey_trust.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ScpMatch, PatternsOfTheQuirkTable)
{
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    };
    const Case cases[] = {
        {"* VShell", "2.0.12 VShell", true},
        {"* VShell", "2.0.12 VShell extra", false},
        {"2.1.0*", "2.1.0 SSH Secure Shell", true},
        {"2.1.0*", "2.1.1", false},
        {"2.1 *", "2.1 x", true},
        {"2.1 *", "2.1.0 x", false},
        {"OpenSSH_2.[5-9]*", "OpenSSH_2.5.2", true},
        {"OpenSSH_2.[5-9]*", "OpenSSH_2.4.9", false},
        {"OpenSSH_3.[0-2]*", "OpenSSH_3.2.3p1", true},
        {"OpenSSH_3.[0-2]*", "OpenSSH_3.3", false},
        {"[^a-c]x", "dx", true},
        {"[^a-c]x", "bx", false},
        {"[]]", "]", true},
        {"\\*", "*", true},
        {"\\*", "a", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"*", "", true},
        {"**a**", "bab", true},
        {"[abc", "a", false},  // a set without its end matches nothing
        {"", "", true},
        {"", "a", false},
    };
    for (const Case& c : cases) EXPECT_EQ(scp_match_pattern(c.pattern, c.text), c.match) << c.pattern << " / " << c.text;
}

TEST(ScpMatch, QuirksDetectedFromServerVersions)
{
    int detect[SCP_QUIRK_COUNT];
    for (int& q : detect) q = SCP_QUIRK_DETECT;
    const unsigned shortHmac = 1u << SCP_QUIRK_SHORT_HMAC, noSecret = 1u << SCP_QUIRK_KDF_NO_SECRET,
                   rsaPad = 1u << SCP_QUIRK_RSA_SIG_PAD, pkId = 1u << SCP_QUIRK_PK_SESSION_ID;
    struct Case {
        const char* version;
        unsigned quirks;
    };
    const Case cases[] = {
        {"2.1.0 SSH Secure Shell", shortHmac},
        {"2.0.0 SSH Secure Shell", shortHmac | noSecret},
        {"2.0.10 F-Secure", shortHmac | noSecret},
        {"2.0.12 VShell", 0},
        {"2.3.0 x", shortHmac},
        {"OpenSSH_2.5.2", rsaPad},
        {"OpenSSH_2.1.1", pkId},
        {"OpenSSH_3.1p1", rsaPad},
        {"OpenSSH_9.2p1 Debian-2+deb12u3", 0},
        {"paramiko_2.12.0", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(scp_detect_quirks(c.version, detect), c.quirks) << c.version;

    int forced[SCP_QUIRK_COUNT];
    for (int& q : forced) q = SCP_QUIRK_OFF;
    EXPECT_EQ(scp_detect_quirks("2.0.0 SSH Secure Shell", forced), 0u);
    forced[SCP_QUIRK_NO_GEX] = SCP_QUIRK_ON;
    EXPECT_EQ(scp_detect_quirks("OpenSSH_9.2p1", forced), 1u << SCP_QUIRK_NO_GEX);
}

// The library's own writer of the cache's value names (the shared rule's
// escapes are tested with it) gives the same names, and refuses to cut one.
TEST(ScpHostKeyStore, ValueNamesAreTheSharedCacheNames)
{
    char name[128];
    for (const char* host : {"", "h", ".host name", "a.b\\c*d?e%f\x01g\x7f", "fe80::1%eth0"}) {
        ASSERT_TRUE(scp_hostkey_value_name("rsa2", 2222, host, name, sizeof name));
        EXPECT_EQ(std::string(name), sshcore::HostKeyValueName("rsa2", 2222, host));
    }
    EXPECT_FALSE(scp_hostkey_value_name("rsa2", 22, ".host", name, 15));
    EXPECT_TRUE(scp_hostkey_value_name("rsa2", 22, ".host", name, 16));
}

TEST(ScpErrors, TextsAreCutAndTerminated)
{
    char text[128];
    scp_format_error(SCP_E_HOSTKEY_SIGNATURE, text, sizeof text);
    EXPECT_STREQ(text, "the server's host key signature does not verify: the connection was stopped");
    for (int code : {-1, SCP_E_WRONG_PASSWORD + 1, 1000}) {
        scp_format_error(code, text, sizeof text);
        EXPECT_STREQ(text, "Unknown error");
    }
    char small[5];
    std::memset(small, 'x', sizeof small);
    scp_format_error(0, small, sizeof small);
    EXPECT_STREQ(small, "No e");
    char one[1] = {'x'};
    scp_format_error(5, one, 1);
    EXPECT_EQ(one[0], '\0');
}

std::vector<std::uint8_t> Body(std::initializer_list<int> bytes)
{
    std::vector<std::uint8_t> out;
    for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

TEST(ScpSftp, RequestsAreFramedWithLengthTypeAndId)
{
    CScpLocalArena arena;
    ScpBuf buf{};
    ASSERT_EQ(scp_sftp_begin(&buf, SSH_FXP_INIT, 0), 0);
    ASSERT_EQ(scp_buf_put_u32(&buf, 3), 0);
    scp_sftp_end(&buf, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(buf.data, buf.data + buf.len), Body({0, 0, 0, 5, 1, 0, 0, 0, 3}));
    buf.len = 0;
    ASSERT_EQ(scp_sftp_begin(&buf, SSH_FXP_STAT, 256), 0);
    ASSERT_EQ(scp_buf_put_cstring(&buf, "/t"), 0);
    scp_sftp_end(&buf, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(buf.data, buf.data + buf.len),
              Body({0, 0, 0, 11, 17, 0, 0, 1, 0, 0, 0, 0, 2, '/', 't'}));
    scp_buf_free(&buf);
    EXPECT_EQ(scp_arena_count(arena.get()), 0);
}

TEST(ScpSftp, RepliesParseAndEveryTruncationFails)
{
    struct Case {
        std::vector<std::uint8_t> body;
        std::uint8_t type;
    };
    const Case cases[] = {
        // STATUS with message and language, id 256, code 3
        {Body({101, 0, 0, 1, 0, 0, 0, 0, 3, 0, 0, 0, 2, 'n', 'o', 0, 0, 0, 0}), SSH_FXP_STATUS},
        // HANDLE "h1"
        {Body({102, 0, 0, 1, 0, 0, 0, 0, 2, 'h', '1'}), SSH_FXP_HANDLE},
        // ATTRS with size, uid/gid, permissions 040755, times and one extension
        {Body({105, 0, 0, 1, 0, 0x80, 0, 0, 0x0f, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0x41, 0xed,
               0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0, 0, 1, 'k', 0, 0, 0, 1, 'v'}),
         SSH_FXP_ATTRS},
    };
    for (const Case& c : cases) {
        ScpSftpReply reply{};
        ASSERT_EQ(scp_sftp_parse_reply(c.body.data(), c.body.size(), &reply), 0);
        EXPECT_EQ(reply.type, c.type);
        EXPECT_EQ(reply.id, 256u);
        for (std::size_t cut = 0; cut < c.body.size(); ++cut) {
            // A STATUS may end right after its code.
            if (c.type == SSH_FXP_STATUS && cut >= 9) continue;
            EXPECT_EQ(scp_sftp_parse_reply(c.body.data(), cut, &reply), SCP_E_RECEIVE) << "cut at " << cut;
        }
    }
    ScpSftpReply attrs{};
    ASSERT_EQ(scp_sftp_parse_reply(cases[2].body.data(), cases[2].body.size(), &attrs), 0);
    EXPECT_EQ(attrs.attrs.size, 9u);
    EXPECT_EQ(attrs.attrs.permissions, 040755u);
    EXPECT_EQ(attrs.attrs.atime, 5u);
    EXPECT_EQ(attrs.attrs.mtime, 6u);
    ScpSftpReply handle{};
    ASSERT_EQ(scp_sftp_parse_reply(cases[1].body.data(), cases[1].body.size(), &handle), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(handle.handle), handle.handleLen), "h1");
    // A handle longer than 256 bytes is refused.
    std::vector<std::uint8_t> big = Body({102, 0, 0, 1, 0, 0, 0, 1, 1});
    big.resize(big.size() + 257, 'x');
    EXPECT_EQ(scp_sftp_parse_reply(big.data(), big.size(), &handle), SCP_E_RECEIVE);
}

// A job without a session: its reads end at the pending bytes.
class DetachedJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(scp_job_create(&m_job, &m_options), 0);
    }
    void TearDown() override
    {
        scp_job_destroy(m_job);
        // The job's blocks went with it; none was left in the caller's.
        EXPECT_EQ(scp_arena_count(m_arena.get()), 0);
    }
    CScpLocalArena m_arena;
    void Pending(const std::string& bytes)
    {
        m_job->pending.len = 0;
        ASSERT_EQ(scp_buf_put(&m_job->pending, bytes.data(), bytes.size()), 0);
    }
    ScpJobOptions m_options{};
    JobInfo* m_job = nullptr;
};

TEST_F(DetachedJob, ReadAckCodes)
{
    struct Case {
        std::string bytes;
        int code;
        std::size_t left;
    };
    const Case cases[] = {
        {std::string(1, '\0') + "rest", SCP_OK, 4},
        {"\x01scp: warning\nnext", SCP_E_RECEIVE, 4},
        {"\x02scp: fatal\n", SCP_E_INTERNAL, 0},
        {"\x07odd", SCP_E_INTERNAL, 0},
        {"", SCP_E_LOST_CONNECTION, 0},
        {"\x01no line end", SCP_E_RECEIVE, 0},
        {"\x01" + std::string(3000, 'x'), SCP_E_RECEIVE, 3000 - 2048},
    };
    for (const Case& c : cases) {
        Pending(c.bytes);
        EXPECT_EQ(read_ack(m_job), c.code) << c.bytes.substr(0, 20);
        EXPECT_EQ(m_job->pending.len, c.left);
    }
}

TEST_F(DetachedJob, ChannelDataFillsTheWaitingReadThenThePendingBuffer)
{
    std::uint8_t buffer[8] = {};
    Pending("ab");
    m_job->recvBuffer = buffer + 2;
    m_job->recvWanted = 3;
    m_job->recvGot = 0;
    ASSERT_EQ(scp_job_receive(m_job, reinterpret_cast<const std::uint8_t*>("cdefg"), 5, false), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 2), 3), "cde");
    EXPECT_EQ(m_job->recvWanted, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m_job->pending.data), m_job->pending.len), "abfg");
    // Extended data never reaches the stream.
    ASSERT_EQ(scp_job_receive(m_job, reinterpret_cast<const std::uint8_t*>(""), 0, true), 0);
    std::size_t got = 0;
    ASSERT_EQ(recv_exact(m_job, buffer, 4, &got), 0);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abfg");
    ASSERT_EQ(recv_exact(m_job, buffer, 1, &got), 0);
    EXPECT_EQ(got, 0u);  // end of stream
}

TEST_F(DetachedJob, OpenFilesTableGrowsAndClosesEverything)
{
    TempDir dir;
    const std::string path = dir.file("f");
    std::ofstream{path};
    std::vector<HANDLE> handles;
    for (int i = 0; i < 250; ++i) {
        HANDLE h = CreateFileUtf8(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_EQ(scp_files_record(m_job, h), 0);
        handles.push_back(h);
    }
    EXPECT_EQ(m_job->fileCapacity, 400);
    EXPECT_EQ(m_job->fileCount, 250);
    scp_files_close(m_job, handles[3]);
    EXPECT_EQ(m_job->fileCount, 249);
    EXPECT_EQ(m_job->files[3], INVALID_HANDLE_VALUE);
    // The rest are closed by the job's end (the leak checker watches).
}

TEST(ScpLocalPaths, ClassificationAndWildcards)
{
    TempDir dir;
    std::ofstream{dir.file("a1.txt")};
    EXPECT_EQ(classify_local_path(dir.file("a1.txt").c_str()), SCP_LOCAL_EXISTS);
    EXPECT_EQ(classify_local_path(dir.path().c_str()), SCP_LOCAL_EXISTS);
    EXPECT_EQ(classify_local_path(dir.file("a?.txt").c_str()), SCP_LOCAL_MATCHES);
    EXPECT_EQ(classify_local_path(dir.file("*.txt").c_str()), SCP_LOCAL_MATCHES);
    EXPECT_EQ(classify_local_path(dir.file("b*").c_str()), SCP_LOCAL_MISSING);
    EXPECT_EQ(classify_local_path(dir.file("none").c_str()), SCP_LOCAL_MISSING);
    EXPECT_EQ(classify_local_path(""), SCP_LOCAL_MISSING);
    EXPECT_TRUE(MatchWildcard("*", "."));
    EXPECT_TRUE(MatchWildcard("a*b?c", "aXXbYc"));
    EXPECT_FALSE(MatchWildcard("a*b?c", "aXXbc"));
    EXPECT_TRUE(MatchWildcard("**", ""));
    EXPECT_FALSE(MatchWildcard("?", ""));
}

TEST(ScpUpload, RefusesBeforeConnecting)
{
    CScpLocalArena arena;
    TempRegistry registry;
    ScpJobOptions options{};
    options.cancel_requested = 1;  // cleared by the call
    EXPECT_EQ(ScpUploadFile("127.0.0.1", 22, "u", "p", "/nonexistent/file", "/tmp", nullptr, &options), SCP_E_NO_SUCH_FILE);
    EXPECT_EQ(options.cancel_requested, 0u);
    TempDir dir;
    std::ofstream{dir.file("x")};
    EXPECT_EQ(ScpUploadFile("", 22, "u", "p", dir.file("x").c_str(), "/tmp", nullptr, &options), SCP_E_EMPTY_HOST);
    EXPECT_EQ(ScpUploadFile(nullptr, 22, "u", "p", dir.file("x").c_str(), "/tmp", nullptr, &options), SCP_E_EMPTY_HOST);
    // The uploads' blocks were their jobs', never the caller's.
    EXPECT_EQ(scp_arena_count(arena.get()), 0);
}

}  // namespace
