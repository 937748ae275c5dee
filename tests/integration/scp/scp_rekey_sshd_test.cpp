// New key exchanges in the middle of an upload to a real sshd: started by
// the server (RekeyLimit), under strict key exchange, and started by us
// before a 64-bit block cipher's limit.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "scp/scp.h"
#include "scp/scp_ssh.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

class SshdRekey : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        ASSERT_FALSE(m_remote.path().empty());
    }

    // Uploads size bytes to a server with the given options and checks the
    // copy; returns the number of key exchanges after the first.
    int UploadIntact(SshdOptions options, std::size_t size, const std::string& name)
    {
        SshdPeer peer(options);
        EXPECT_TRUE(peer.running()) << peer.logText();
        if (!peer.running()) return -1;
        const std::string bytes = PatternBytes(size, static_cast<unsigned>(size));
        WriteFileBytes(m_local.file(name), bytes);
        UploadRun run = PeerRun(peer.port(), m_local.file(name), m_remote.path(), 60);
        EXPECT_EQ(run.Run(), 0) << name << " " << LastDetailText() << peer.logText();
        EXPECT_TRUE(ReadWholeFile(m_remote.path() + "/" + name) == bytes) << name;
        return scp_session_last_rekeys();
    }

    static std::string LastDetailText()
    {
        char detail[512];
        scp_last_error_detail(detail, sizeof detail);
        return detail;
    }

    TempRegistry m_registry;
    TempDir m_local;
    RemoteDir m_remote;
};

TEST_F(SshdRekey, TheServerRekeysEveryMegabyteOfA32MiBUpload)
{
    for (bool sftp : {true, false}) {
        SCOPED_TRACE(sftp ? "sftp" : "scp sink");
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.sftpSubsystem = sftp;
        options.extraConfig = {"RekeyLimit 1M"};
        // (Compression shrinks what the server counts: fewer than 32 of them.)
        EXPECT_GE(UploadIntact(options, 32u * 1024 * 1024, sftp ? "sftp.bin" : "sink.bin"), 8);
        // Debian's sshd takes part in strict key exchange: the sequence
        // numbers started again at every NEWKEYS, or its MACs would fail.
        EXPECT_TRUE(scp_session_last_strict());
    }
}

TEST_F(SshdRekey, OlderAlgorithmsRekeyToo)
{
    SshdOptions options;
    options.extraConfig = {"RekeyLimit 1M"};
    EXPECT_GE(UploadIntact(options, 8u * 1024 * 1024, "older.bin"), 4);
}

TEST_F(SshdRekey, WeRekeyBeforeA64BitBlockCiphersLimit)
{
    // 3des-cbc has 8-byte blocks: new keys after 2^16 blocks (512 KiB)
    // whatever the server's own limit.
    SshdOptions options;
    options.extraConfig = {"Ciphers 3des-cbc"};
    EXPECT_GE(UploadIntact(options, 3u * 1024 * 1024, "des.bin"), 4);
    EXPECT_STREQ(scp_session_last_chosen(2), "3des-cbc");
}

}  // namespace
