// SFTP uploads with many writes in flight against the scripted server: the
// server's own write length, the one-request setting, and another host key
// in a key exchange the server starts while writes arrive. The writer
// itself (replies out of order, a refused write, sizes, windows) is proved
// in-process in tests/scp; new keys amid writes against sshd in
// scp_rekey_test.cpp.

#include <openssl/sha.h>

#include <cstdio>

#include "platform/registry.h"
#include "scp/scp_ssh.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/integration/ssh2/scripted_peer.h"

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

// The "file PATH SIZE SHA256 LARGEST" line of a report: the largest write,
// or -1 when the file line is not there or its bytes differ.
long LargestWriteIfIntact(const std::string& results, const std::string& path, const std::string& bytes)
{
    const std::string head = "file " + path + " " + std::to_string(bytes.size()) + " " + Sha256Hex(bytes) + " ";
    const std::size_t at = results.find(head);
    if (at == std::string::npos) return -1;
    return std::stol(results.substr(at + head.size()));
}

class Pipelined : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScriptedPeer::Available()) FDX_PEER_MISSING() << "python3-paramiko is not installed";
    }

    // Uploads bytes as /up/NAME to a fresh server started with args, as
    // the user that names the scenario.
    int Upload(const std::vector<std::string>& args, const std::string& scenario, const std::string& bytes,
               std::string* results, std::uint32_t requests = 0)
    {
        WriteFileBytes(m_local.file("data.bin"), bytes);
        ScriptedPeer server(args);
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

TEST_F(Pipelined, TheServersLimitsAndTheOneRequestSetting)
{
    const std::string bytes = PatternBytes(1024 * 1024 + 1, 14);
    std::string results;
    // The server asks for writes of at most 20000 bytes.
    ASSERT_EQ(Upload({"sftp-ok", "--modern"}, "sftp-limits:20000", bytes, &results), 0) << results;
    EXPECT_NE(results.find("extended limits@openssh.com"), std::string::npos) << results;
    EXPECT_EQ(LargestWriteIfIntact(results, "/up/data.bin", bytes), 20000) << results;
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
