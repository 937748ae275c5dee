// New keys in the middle of a session, against real servers: an sshd whose
// RekeyLimit passes many times during one long output and one long input,
// paramiko asked to renegotiate between two data packets, and our own limits
// (lowered through the test hook, or the keys' clock moved an hour on)
// starting exchanges with sshd and Dropbear.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/scripted_peer.h"
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

std::string Sha256Hex(const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += {kHex[digest[i] >> 4], kHex[digest[i] & 15]};
    return hex;
}

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
    EXPECT_EQ(Sha256Hex(output), Sha256Hex(ExpectedStream(bytes)));
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

TEST(RekeySshdTest, ServerLimitPassesManyTimesInA32MiBOutputAndAfterwardsTheSessionGoesOn)
{
    SKIP_WITHOUT_SSHD();
    CSessionEnvironment env("headers");
    SLargeOutput room;
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"RekeyLimit 1M"};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    ASSERT_EQ(Login(peer.port()), 0) << CSSH2::LastFailure().text;
    // Debian's sshd offers the strict exchange: its sequence numbers start
    // again at every NEWKEYS, or the first packet after one fails its MAC.
    EXPECT_TRUE(CSSH2::Current()->StrictKeyExchange());
    const int exchanges = ReadStream(32u << 20);
    EXPECT_GE(exchanges, 16);
    // The next command on the same connection, and the log kept its
    // headers-only form throughout.
    ASSERT_EQ(CSSH2::Exec("echo after"), 0);
    EXPECT_EQ(CSSH2::GetOutput(), "after\n");
    CSSH2::Disconnect();
    const std::string log = env.LogText();
    EXPECT_NE(log.find("Incoming packet: Type: 20 / 0x14 (SSH2_MSG_KEXINIT)"), std::string::npos);
    EXPECT_EQ(log.find("  00000000:  "), std::string::npos);
}

// Both sshd and paramiko start new compression streams with new keys.
TEST(RekeySshdTest, CompressedSessionStartsNewStreamsWithNewKeys)
{
    SKIP_WITHOUT_SSHD();
    CSessionEnvironment env("headers");
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"RekeyLimit 256K", "Compression yes"};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    ASSERT_EQ(Login(peer.port(), 1), 0) << CSSH2::LastFailure().text;
    ASSERT_EQ(CSSH2::Current()->Agreed()[7], "zlib@openssh.com");
    EXPECT_GE(ReadStream(2u << 20), 2);
    ASSERT_EQ(CSSH2::Exec("echo after"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), "after\n");
}

TEST(RekeySshdTest, InputWrittenWhileTheServerChangesKeysArrivesWhole)
{
    SKIP_WITHOUT_SSHD();
    CSessionEnvironment env("headers");
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"RekeyLimit 1M", "Ciphers aes128-ctr", "MACs hmac-sha2-256"};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    ASSERT_EQ(Login(peer.port()), 0) << CSSH2::LastFailure().text;
    const std::string input = ExpectedStream(8u << 20);
    ASSERT_EQ(CSSH2::ExecWithInput("sha256sum", input), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), Sha256Hex(input) + "  -\n");
    // sshd changes keys after each MiB it received, but bytes that arrive
    // during an exchange count toward one limit: how many exchanges there
    // are depends on timing; more than one means input crossed a change.
    EXPECT_GE(CSSH2::Current()->LaterKeyExchanges(), 2);
}

TEST(RekeySshdTest, OurOwnLimitStartsExchangesWithEachCipherKind)
{
    SKIP_WITHOUT_SSHD();
    CSessionEnvironment env("headers");
    const SRekeyBytes limit(256 * 1024);
    SshdOptions options;
    options.legacyAlgorithms = false;
    // Each login agrees on another cipher through the server's preference.
    for (const char* cipher : {"chacha20-poly1305@openssh.com", "aes256-gcm@openssh.com", "aes128-ctr"}) {
        SCOPED_TRACE(cipher);
        SshdOptions one = options;
        one.extraConfig = {std::string("Ciphers ") + cipher};
        SshdPeer server(one);
        ASSERT_TRUE(server.running()) << server.logText();
        ASSERT_EQ(Login(server.port()), 0) << CSSH2::LastFailure().text;
        EXPECT_EQ(CSSH2::Current()->Agreed()[2], cipher);
        ExpectExchangesAfterALongOutput(3u << 20);
        CSSH2::Disconnect();
    }
}

TEST(RekeySshdTest, A64BitBlockCipherChangesKeysBeforeItsLimitWithoutAnyHook)
{
    SKIP_WITHOUT_SSHD();
    CSessionEnvironment env("headers");
    SshdOptions options;
    options.legacyAlgorithms = false;
    options.extraConfig = {"Ciphers 3des-cbc"};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    ASSERT_EQ(Login(peer.port()), 0) << CSSH2::LastFailure().text;
    ASSERT_EQ(CSSH2::Current()->Agreed()[3], "3des-cbc");
    // 2^16 blocks of 8 bytes: 512 KiB per key.
    ExpectExchangesAfterALongOutput(3u << 20);
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
void ExpectOneExchangeWhenTheKeysTurnAnHourOld(int port)
{
    using std::chrono::minutes;
    const SShiftedKeysClock clock;
    ASSERT_EQ(Login(port), 0) << CSSH2::LastFailure().text;
    ShiftedClock::Advance(minutes(59));
    ASSERT_EQ(CSSH2::Exec("echo young"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), "young\n");
    EXPECT_EQ(CSSH2::Current()->LaterKeyExchanges(), 0);
    ShiftedClock::Advance(minutes(1));
    EXPECT_EQ(ReadStream(1u << 20), 1);
    ASSERT_EQ(CSSH2::Exec("echo after"), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(CSSH2::GetOutput(), "after\n");
    EXPECT_EQ(CSSH2::Current()->LaterKeyExchanges(), 1);
    CSSH2::Disconnect();
}

TEST(RekeySshdTest, KeysAnHourOldAreChangedBeforeTheNextCommand)
{
    SKIP_WITHOUT_SSHD();
    CSessionEnvironment env("headers");
    SshdOptions options;
    options.legacyAlgorithms = false;
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    ExpectOneExchangeWhenTheKeysTurnAnHourOld(peer.port());
}

TEST(RekeyDropbearTest, KeysAnHourOldAreChangedBeforeTheNextCommand)
{
    std::string why;
    if (!DropbearPeer::Available(&why)) FDX_PEER_MISSING() << why;
    CSessionEnvironment env("headers");
    DropbearPeer peer;
    ASSERT_TRUE(peer.running()) << peer.logText();
    ExpectOneExchangeWhenTheKeysTurnAnHourOld(peer.port());
}

class RekeyParamikoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScriptedPeer::Available()) FDX_PEER_MISSING() << "python3 with paramiko is not installed";
    }
    CSessionEnvironment env;
};

TEST_F(RekeyParamikoTest, KexInitBetweenTwoDataPacketsKeepsTheOutputInOrder)
{
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "delayed zlib" : "no compression");
        std::vector<std::string> args = {"paramiko", "--modern", "--rekey", "3000", "--commands", "2"};
        if (compress) args.push_back("--compress");
        ScriptedPeer peer(args);
        ASSERT_NE(peer.port(), 0);
        ASSERT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(peer.port()), 10, nullptr, nullptr), 0);
        ASSERT_EQ(CSSH2::Login("tester", "secret-pw", compress ? 1 : 0, HKP_STORE, HKP_ASK), 0)
            << CSSH2::GetOutput();
        for (int round = 1; round <= 2; ++round) {
            ASSERT_EQ(CSSH2::Exec("run"), 0) << CSSH2::LastFailure().text;
            const std::string expected = "hello\n" + std::string(3000, 'a') + std::string(3000, 'b') + "warn\n";
            EXPECT_EQ(CSSH2::GetOutput(), expected);
            EXPECT_EQ(CSSH2::Current()->LaterKeyExchanges(), round);
        }
        CSSH2::Disconnect();
        const std::string results = peer.Results();
        EXPECT_NE(results.find("command run\nrekeyed\ncommand run\nrekeyed\n"), std::string::npos) << results;
    }
}

}  // namespace
