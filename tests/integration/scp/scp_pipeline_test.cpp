// SFTP uploads with many writes in flight against the scripted server:
// replies out of order and late, a refused write among those in flight, a
// server's own write length, a window that opens slowly, sizes at the
// edges of a write, the one-request setting, and a new key exchange the
// server starts while writes arrive.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "scp/scp.h"
#include "scp/scp_ssh.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/integration/scp/scripted_server.h"
#include "tests/support/peer_required.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Sha256Hex(const std::string& bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    std::string hex;
    char two[3];
    for (unsigned char b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

std::string LastDetail()
{
    char detail[512];
    scp_last_error_detail(detail, sizeof detail);
    return detail;
}

// The "file PATH SIZE SHA256 LARGEST" line of a report: the largest write,
// or -1 when the file line is not there or its bytes differ.
long LargestWriteIfIntact(const std::string& results, const std::string& path, const std::string& bytes)
{
    const std::string head = "RESULT file " + path + " " + std::to_string(bytes.size()) + " " + Sha256Hex(bytes) + " ";
    const std::size_t at = results.find(head);
    if (at == std::string::npos) return -1;
    return std::stol(results.substr(at + head.size()));
}

class Pipelined : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScriptedServer::Available()) FDX_PEER_MISSING() << "python3-paramiko is not installed";
    }

    // Uploads bytes as /up/NAME to a fresh server started with args, as
    // the user that names the scenario.
    int Upload(const std::vector<std::string>& args, const std::string& scenario, const std::string& bytes,
               std::string* results, std::uint32_t requests = 0)
    {
        WriteFileBytes(m_local.file("data.bin"), bytes);
        ScriptedServer server(args);
        EXPECT_NE(server.port(), 0);
        UploadRun run = PeerRun(server.port(), m_local.file("data.bin"), "/up", 20);
        run.user = scenario;
        run.options.sftp_requests = requests;
        const int code = run.Run();
        *results = server.Results();
        return code;
    }

    TempRegistry m_registry;
    TempDir m_local;
};

TEST_F(Pipelined, RepliesOutOfOrderAndLateStillGiveTheWholeFile)
{
    const std::string bytes = PatternBytes(3 * 1024 * 1024 + 5, 11);
    for (const char* scenario : {"sftp-reorder", "sftp-delay"}) {
        std::string results;
        ASSERT_EQ(Upload({"sftp-ok", "--modern"}, scenario, bytes, &results), 0) << scenario << results;
        EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 32768) << scenario << results;
    }
}

TEST_F(Pipelined, TheFifthWriteRefusedStopsTheUploadWithItsOffset)
{
    std::string results;
    EXPECT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-fail5", PatternBytes(2 * 1024 * 1024, 12), &results), SCP_E_WRITE)
        << results;
    EXPECT_NE(results.find("RESULT refused write at 131072\n"), std::string::npos) << results;
    EXPECT_NE(LastDetail().find("at offset 131072"), std::string::npos) << LastDetail();
    // The file was still closed: every write in flight had its answer first.
    EXPECT_NE(results.find("RESULT file /up/data.bin "), std::string::npos) << results;
}

TEST_F(Pipelined, SizesAtTheEdgesOfAWrite)
{
    for (std::size_t size : {std::size_t{0}, std::size_t{32768}, std::size_t{32769}}) {
        const std::string bytes = PatternBytes(size, 13);
        std::string results;
        ASSERT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-reorder", bytes, &results), 0) << size << results;
        EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), size == 0 ? 0 : 32768) << size << results;
    }
}

TEST_F(Pipelined, TheServersLimitsAndTheOneRequestSetting)
{
    const std::string bytes = PatternBytes(1024 * 1024 + 1, 14);
    std::string results;
    // The server asks for writes of at most 20000 bytes.
    ASSERT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-limits:20000", bytes, &results), 0) << results;
    EXPECT_NE(results.find("RESULT extended limits@openssh.com"), std::string::npos) << results;
    EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 20000) << results;
    // A server that does not offer the extension is not asked.
    ASSERT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-ok", bytes, &results), 0) << results;
    EXPECT_EQ(results.find("RESULT extended"), std::string::npos) << results;
    // One request at a time: the old behaviour, whatever the server offers.
    ASSERT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-limits:200000", bytes, &results, 1), 0) << results;
    EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 4096) << results;
    // The same from the registry when the job says nothing; the job's own
    // setting wins over it.
    RegWriteDword(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel", u"SftpRequests", 1);
    ASSERT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-limits:200000", bytes, &results), 0) << results;
    EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 4096) << results;
    ASSERT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-limits:200000", bytes, &results, 8), 0) << results;
    EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 200000) << results;
}

TEST_F(Pipelined, AWindowThatOpensSlowly)
{
    // The server grants a window smaller than two writes and takes its
    // channel's bytes in small pieces with pauses.
    const std::string bytes = PatternBytes(512 * 1024 + 77, 15);
    std::string results;
    ASSERT_EQ(Upload({"sftp-ok", "--modern", "--window", "40000"}, "sftp-slowread", bytes, &results), 0) << results;
    EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 32768) << results;
}

TEST_F(Pipelined, TheServerStartsNewKeyExchangesBetweenWrites)
{
    // Two renegotiations while writes keep arriving: between two channel
    // data packets the server's KEXINIT comes; older and current
    // algorithms both.
    const std::string bytes = PatternBytes(4 * 1024 * 1024 + 9, 16);
    for (bool modern : {false, true}) {
        std::vector<std::string> args{"sftp-ok"};
        if (modern) args.push_back("--modern");
        std::string results;
        ASSERT_EQ(Upload(args, "sftp-rekey", bytes, &results), 0) << modern << results;
        EXPECT_NE(results.find("RESULT rekeyed 2\n"), std::string::npos) << modern << results;
        EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 32768) << modern << results;
        EXPECT_GE(scp_session_last_rekeys(), 2) << modern;
    }
}

TEST_F(Pipelined, AnotherHostKeyInALaterExchangeIsRefused)
{
    // The session's first key was trusted; a renegotiation that shows
    // another one ends the upload, whatever the store would say of it.
    std::string results;
    EXPECT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-rekey-newkey", PatternBytes(2 * 1024 * 1024, 17), &results),
              SCP_E_HOSTKEY_REFUSED)
        << results;
    EXPECT_EQ(LastDetail(), "the server's host key changed in a later key exchange");
}

}  // namespace
