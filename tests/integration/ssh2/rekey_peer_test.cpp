// New keys in the middle of a session, against real servers: an sshd whose
// RekeyLimit passes many times during one long output and one long input,
// and our own limits (lowered through the test hook, or the keys' clock
// moved an hour on) starting exchanges with sshd and Dropbear. The limits
// themselves (byte counts, 64-bit blocks, the hour, a server's KEXINIT
// between two data packets) are proved in-process in tests/ssh2.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/dropbear_peer.h"
#include "tests/support/peer_required.h"
#include "tests/support/shifted_clock.h"
#include "tests/support/sshd_peer.h"

namespace {

#define SKIP_WITHOUT_SSHD()                                      \
    do {                                                         \
        std::string why;                                         \
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why; \
    } while (0)

// Puts the byte limit back whatever the test did.
struct SRekeyBytes {
    explicit SRekeyBytes(std::uint64_t bytes) { CSshTransport::SetRekeyBytesForTesting(bytes); }
    ~SRekeyBytes() { CSshTransport::SetRekeyBytesForTesting(0); }
};

// The transport reads the shifted clock while the object lives.
struct SShiftedKeysClock {
    ShiftedClock clock;
    SShiftedKeysClock() { CSshTransport::SetRekeyClockForTesting(&ShiftedClock::Now); }
    ~SShiftedKeysClock() { CSshTransport::SetRekeyClockForTesting(nullptr); }
};

// Room for the long outputs below.
struct SLargeOutput {
    SSshLimits before = CSSH2::Limits();
    SLargeOutput()
    {
        SSshLimits limits = before;
        limits.maxOutput = 64u << 20;
        CSSH2::SetLimits(limits);
    }
    ~SLargeOutput() { CSSH2::SetLimits(before); }
};

// A known, not repetitive stream of `bytes` bytes on the server, and the
// same on our side: a packet lost, doubled or decrypted with the wrong key
// changes it.
constexpr const char* kStreamCommand = "openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f "
                                       "-iv 00000000000000000000000000000000 -in /dev/zero 2>/dev/null | head -c ";

std::string ExpectedStream(std::size_t bytes)
{
    std::string out(bytes, '\0');
    const unsigned char key[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const unsigned char iv[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ctr(), nullptr, key, iv);
    int written = 0;
    const std::string zeros(bytes, '\0');
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &written,
                      reinterpret_cast<const unsigned char*>(zeros.data()), static_cast<int>(bytes));
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

int Login(int port, unsigned char compress = 0)
{
    const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 20, nullptr, nullptr);
    if (rc != 0) return rc;
    return CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), compress, HKP_STORE, HKP_ASK);
}

// Reads `bytes` of the stream, checks it, and returns the exchanges that
// came after the first one.
int ReadStream(std::size_t bytes)
{
    const std::string command = kStreamCommand + std::to_string(bytes);
    EXPECT_EQ(CSSH2::Exec(command.c_str()), 0) << CSSH2::LastFailure().text;
    const std::string output = CSSH2::GetOutput();
    EXPECT_EQ(output.size(), bytes);
    EXPECT_TRUE(output == ExpectedStream(bytes));
    EXPECT_EQ(CSSH2::GetExitStatus(), 0u);
    return CSSH2::Current() ? CSSH2::Current()->LaterKeyExchanges() : -1;
}

// Our own exchanges: how many finish during the output depends on how far
// the server has gone within the window when our KEXINIT reaches it, but
// one has finished by the end of the next command, and every byte of the
// output arrived in order.
void ExpectExchangesAfterALongOutput(std::size_t bytes)
{
    ReadStream(bytes);
    ASSERT_EQ(CSSH2::Exec("echo after"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), "after\n");
    EXPECT_GE(CSSH2::Current()->LaterKeyExchanges(), 1);
}

// A current sshd of each test's own, its packet log at the headers level.
class RekeySshdTest : public ::testing::Test {
protected:
    void SetUp() override { SKIP_WITHOUT_SSHD(); }
    // Starts an sshd with these lines and logs in to it.
    void StartAndLogin(std::vector<std::string> config, unsigned char compress = 0)
    {
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.extraConfig = std::move(config);
        m_peer = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(m_peer->running()) << m_peer->logText();
        ASSERT_EQ(Login(m_peer->port(), compress), 0) << CSSH2::LastFailure().text;
    }

    std::unique_ptr<SshdPeer> m_peer;
    CSessionEnvironment m_env{"headers"};  // declared last: disconnects before the server stops
};

TEST_F(RekeySshdTest, ServerLimitPassesManyTimesDuringALongOutputAndALongInput)
{
    SLargeOutput room;
    ASSERT_NO_FATAL_FAILURE(StartAndLogin({"RekeyLimit 1M", "Ciphers aes128-ctr", "MACs hmac-sha2-256"}));
    // Debian's sshd offers the strict exchange: its sequence numbers start
    // again at every NEWKEYS, or the first packet after one fails its MAC.
    EXPECT_TRUE(CSSH2::Current()->StrictKeyExchange());
    const int exchanges = ReadStream(16u << 20);
    EXPECT_GE(exchanges, 8);
    // Input written while the server changes keys arrives whole (echoed
    // back). Bytes that arrive during an exchange count toward one limit:
    // how many exchanges there are depends on timing.
    const std::string input = ExpectedStream(8u << 20);
    ASSERT_EQ(CSSH2::ExecWithInput("cat", input), 0) << CSSH2::LastFailure().text;
    EXPECT_TRUE(CSSH2::GetOutput() == input);
    EXPECT_GE(CSSH2::Current()->LaterKeyExchanges(), exchanges + 2);
    CSSH2::Disconnect();
    // The log kept its headers-only form throughout.
    const std::string log = m_env.LogText();
    EXPECT_NE(log.find("Incoming packet: Type: 20 / 0x14 (SSH2_MSG_KEXINIT)"), std::string::npos);
    EXPECT_EQ(log.find("  00000000:  "), std::string::npos);
}

// Both sshd and paramiko start new compression streams with new keys.
TEST_F(RekeySshdTest, CompressedSessionStartsNewStreamsWithNewKeys)
{
    ASSERT_NO_FATAL_FAILURE(StartAndLogin({"RekeyLimit 256K", "Compression yes"}, 1));
    ASSERT_EQ(CSSH2::Current()->Agreed()[7], "zlib@openssh.com");
    EXPECT_GE(ReadStream(2u << 20), 2);
    ASSERT_EQ(CSSH2::Exec("echo after"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), "after\n");
}

TEST_F(RekeySshdTest, OurOwnLimitStartsExchangesWithEachCipherKind)
{
    const SRekeyBytes limit(256 * 1024);
    // Each login agrees on another cipher through the server's preference.
    for (const char* cipher : {"chacha20-poly1305@openssh.com", "aes256-gcm@openssh.com", "aes128-ctr"}) {
        SCOPED_TRACE(cipher);
        ASSERT_NO_FATAL_FAILURE(StartAndLogin({std::string("Ciphers ") + cipher}));
        EXPECT_EQ(CSSH2::Current()->Agreed()[2], cipher);
        ExpectExchangesAfterALongOutput(3u << 20);
        CSSH2::Disconnect();
    }
}

TEST(RekeyDropbearTest, OurLimitMakesDropbearChangeKeysDuringAnOutput)
{
    std::string why;
    if (!DropbearPeer::Available(&why)) FDX_PEER_MISSING() << why;
    CSessionEnvironment env("headers");
    const SRekeyBytes limit(512 * 1024);
    DropbearPeer peer;
    ASSERT_TRUE(peer.running()) << peer.logText();
    ASSERT_EQ(Login(peer.port()), 0) << CSSH2::LastFailure().text;
    ExpectExchangesAfterALongOutput(3u << 20);
}

// A minute short of the hour the next command runs under the first keys;
// at the hour its first packet waits behind our KEXINIT, and the new keys
// start an hour of their own. Then a long output read under them.
TEST_F(RekeySshdTest, KeysAnHourOldAreChangedBeforeTheNextCommand)
{
    using std::chrono::minutes;
    const SShiftedKeysClock clock;
    ASSERT_NO_FATAL_FAILURE(StartAndLogin({}));
    ShiftedClock::Advance(minutes(59));
    ASSERT_EQ(CSSH2::Exec("echo young"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::Current()->LaterKeyExchanges(), 0);
    ShiftedClock::Advance(minutes(1));
    EXPECT_EQ(ReadStream(1u << 20), 1);
    ASSERT_EQ(CSSH2::Exec("echo after"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::Current()->LaterKeyExchanges(), 1);
    CSSH2::Disconnect();
}

}  // namespace
