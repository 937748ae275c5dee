// New key exchanges in the middle of an upload to a real sshd or a stock
// Dropbear: started by the server (RekeyLimit) under strict key exchange,
// and started by us: keys that turn an hour old as the upload starts (the
// keys' clock moved forward), a lowered byte limit, and a 64-bit block
// cipher's limit. The limits themselves are proved in-process in tests/scp.

#include <chrono>

#include "scp/scp_rekey.h"
#include "scp/scp_ssh.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/shifted_clock.h"

namespace {

enum class Server { Sshd, Dropbear };

struct RekeyCase {
    Server server;
    bool scpForm;
};

std::string RekeyCaseName(const ::testing::TestParamInfo<RekeyCase>& p)
{
    return std::string(p.param.server == Server::Sshd ? "Sshd" : "Dropbear") + (p.param.scpForm ? "_Scp" : "_Sftp");
}

// How far the keys' clock jumps when the upload stage begins (the channel
// is ready, no file data has gone yet).
std::chrono::milliseconds g_shiftAtUpload{0};

std::int32_t ShiftAtUploadStage(int event, const char*, const char*, std::int32_t value, std::uint32_t)
{
    if (event == SCP_EVENT_STAGE && value == SCP_STAGE_UPLOADING) ShiftedClock::Advance(g_shiftAtUpload);
    return event == SCP_EVENT_HOSTKEY ? 1 : 0;
}

class OurRekey : public CScpStockTest, public ::testing::WithParamInterface<RekeyCase> {
protected:
    void SetUp() override
    {
        StartStock(GetParam().server == Server::Sshd ? EServerKind::StockSshd : EServerKind::StockDropbear);
        scp_rekey_set_clock_for_testing(&ShiftedClock::NowMs);
    }

    void TearDown() override
    {
        scp_rekey_set_clock_for_testing(nullptr);
        scp_rekey_set_bytes_for_testing(0);
        g_shiftAtUpload = std::chrono::milliseconds(0);
    }

    // Uploads size bytes under the name, checks the copy and returns the
    // key exchanges after the first (-1 when the upload failed).
    int UploadIntact(std::size_t size, const std::string& name)
    {
        const std::string bytes = PatternBytes(size, static_cast<unsigned>(size + name.size()));
        const std::string local = m_local.file(name);
        WriteFileBytes(local, bytes);
        ScpJobOptions options{};
        options.timeout_seconds = 60;
        options.use_scp = GetParam().scpForm ? 1 : 0;
        const int code = ScpUploadFile("127.0.0.1", m_port, SshdPeer::User(), SshdPeer::Password(),
                                       local.c_str(), m_remote.path().c_str(), ShiftAtUploadStage, &options);
        EXPECT_EQ(code, 0) << name << " " << LastDetail() << Log();
        EXPECT_TRUE(ReadWholeFile(m_remote.path() + "/" + name) == bytes) << name << Log();
        return code ? -1 : scp_session_last_rekeys();
    }

    ShiftedClock m_clock;
};

TEST_P(OurRekey, KeysTurningAnHourOldBringOneExchangeAndYoungerKeysNone)
{
    // A minute short of the hour: the upload ends under the first keys.
    g_shiftAtUpload = std::chrono::minutes(59);
    EXPECT_EQ(UploadIntact(2u * 1024 * 1024, "young.bin"), 0);
    // The hour passed: the first data packet waits behind our KEXINIT, and
    // the new keys start an hour of their own, so no second exchange.
    g_shiftAtUpload = std::chrono::seconds(kScpRekeySeconds);
    EXPECT_EQ(UploadIntact(2u * 1024 * 1024, "hour.bin"), 1);
}

TEST_P(OurRekey, ALoweredByteLimitBringsExchangesThroughoutTheUpload)
{
    // The file's bytes do not compress: about 16 limits pass on the wire.
    scp_rekey_set_bytes_for_testing(256 * 1024);
    const int exchanges = UploadIntact(4u * 1024 * 1024, "bytes.bin");
    RecordProperty("exchanges", exchanges);
    EXPECT_GE(exchanges, 8);
}

INSTANTIATE_TEST_SUITE_P(Peers, OurRekey,
                         ::testing::Values(RekeyCase{Server::Sshd, false}, RekeyCase{Server::Dropbear, true}),
                         RekeyCaseName);

class SshdRekey : public CScpSshdTest {
protected:
    // Uploads size bytes to a server with the given options and checks the
    // copy; returns the number of key exchanges after the first.
    int UploadIntact(const SshdOptions& options, std::size_t size, const std::string& name)
    {
        Start(options);
        if (!m_peer || !m_peer->running()) return -1;
        const std::string bytes = PatternBytes(size, static_cast<unsigned>(size));
        WriteFileBytes(m_local.file(name), bytes);
        UploadRun run = NewRun(name);
        run.options.timeout_seconds = 60;
        EXPECT_EQ(run.Run(), 0) << name << " " << LastDetail() << m_peer->logText();
        EXPECT_TRUE(ReadWholeFile(m_remote.path() + "/" + name) == bytes) << name;
        return scp_session_last_rekeys();
    }
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
