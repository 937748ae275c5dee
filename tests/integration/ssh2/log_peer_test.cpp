// The packet log of a real login and command against OpenSSH's sshd: at the
// default level it holds neither the login name nor what the command wrote;
// at the full level it holds both.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"

namespace {

// The command writes a word that is not in the command itself.
constexpr const char* kCommand = "echo log-marker-$((6*7))";
constexpr const char* kOutput = "log-marker-42";

class PacketLogPeerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (SshdPeer::Available()) s_peer = std::make_unique<SshdPeer>();
    }
    static void TearDownTestSuite() { s_peer.reset(); }
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        ASSERT_TRUE(s_peer && s_peer->running()) << (s_peer ? s_peer->logText() : "");
    }

    // Logs in, runs the command and disconnects; the log's text.
    static std::string SessionLog(const CSessionEnvironment& env)
    {
        EXPECT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(s_peer->port()), 20, nullptr, nullptr), 0);
        EXPECT_EQ(CSSH2::Login(SshdPeer::User(), SshdPeer::Password(), 1, HKP_STORE, HKP_ASK), 0)
            << CSSH2::GetOutput();
        EXPECT_EQ(CSSH2::Exec(kCommand), 0);
        EXPECT_EQ(CSSH2::GetOutput(), std::string(kOutput) + "\n");
        EXPECT_EQ(CSSH2::Disconnect(), 0);
        return env.LogText();
    }

    static std::unique_ptr<SshdPeer> s_peer;
};
std::unique_ptr<SshdPeer> PacketLogPeerTest::s_peer;

TEST_F(PacketLogPeerTest, DefaultLevelKeepsNoLoginNameAndNoOutput)
{
    CSessionEnvironment env(nullptr);
    const std::string log = SessionLog(env);
    ASSERT_NE(log.find("Outgoing packet: Type: 50 / 0x32 (SSH2_MSG_USERAUTH_REQUEST)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Incoming packet: Type: 94 / 0x5e (SSH2_MSG_CHANNEL_DATA) Length: "), std::string::npos);
    EXPECT_EQ(log.find(SshdPeer::User()), std::string::npos);
    EXPECT_EQ(log.find(SshdPeer::Password()), std::string::npos);
    EXPECT_EQ(log.find(kOutput), std::string::npos);
    EXPECT_EQ(log.find("log-marker"), std::string::npos);  // nor the command
    EXPECT_EQ(LoggedBytes(log), "");                         // no dump rows at all
}

TEST_F(PacketLogPeerTest, FullLevelKeepsThePayloadsButNoPassword)
{
    CSessionEnvironment env("full");
    const std::string bytes = LoggedBytes(SessionLog(env));
    EXPECT_NE(bytes.find(SshdPeer::User()), std::string::npos);
    EXPECT_NE(bytes.find(kOutput), std::string::npos);
    EXPECT_NE(bytes.find(kCommand), std::string::npos);
    EXPECT_EQ(bytes.find(SshdPeer::Password()), std::string::npos);
}

TEST_F(PacketLogPeerTest, OffWritesNoFile)
{
    CSessionEnvironment env("off");
    SessionLog(env);
    EXPECT_FALSE(std::filesystem::exists(env.LogPath()));
}

}  // namespace
