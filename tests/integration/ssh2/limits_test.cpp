// The client's limits against servers that misbehave on purpose: each step
// ends at its own deadline and says which, a command's end is its own, and
// no server makes the client keep more than its output limit.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/scripted_peer.h"
#include "tests/ssh2/session_env.h"
#include "tests/support/peer_required.h"

// After the client's headers: the system's define some WinSock names as macros.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* kUser = "tester";
constexpr const char* kPassword = "secret-pw";

class LimitsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScriptedPeer::Available())
            FDX_PEER_MISSING() << "python3 with paramiko is missing (scripts/setup-peers.sh)";
    }
    void TearDown() override
    {
        CSSH2::Disconnect();
        CSSH2::SetLimits({});
    }
    // Starts the server; Connect's result, then Login's.
    int Start(std::vector<std::string> args)
    {
        m_peer = std::make_unique<ScriptedPeer>(std::move(args));
        if (m_peer->port() == 0) return -1;
        const int rc = CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_peer->port()), 30, nullptr, nullptr);
        if (rc != 0) return rc;
        return CSSH2::Login(kUser, kPassword, 1, HKP_STORE, HKP_ASK);
    }
    std::string Peer() const { return "host 127.0.0.1 port " + std::to_string(m_peer->port()); }

    CSessionEnvironment env;
    std::unique_ptr<ScriptedPeer> m_peer;
};

TEST_F(LimitsTest, ASilentServerEndsAtTheConnectionsLimit)
{
    CSSH2::SetLimits({.connectSeconds = 1});
    EXPECT_EQ(Start({"raw-silent"}), SSH_TIMEOUT);
    const SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_CONNECT);
    EXPECT_EQ(failure.amount, 1u);
    EXPECT_EQ(failure.text, Peer() + " sent no version line within 1 second");
}

TEST_F(LimitsTest, AKeyExchangeThatStopsHalfWayEndsAtTheLoginsLimit)
{
    CSSH2::SetLimits({.loginSeconds = 2});
    EXPECT_EQ(Start({"raw-stall", "--hold", "3"}), SSH_TIMEOUT);
    const SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_LOGIN);
    EXPECT_EQ(failure.text, "the key exchange and login with " + Peer() + " did not finish within 2 seconds");
    EXPECT_EQ(m_peer->Results(), "20,30\n") << "the server saw our KEXINIT and key exchange init";
}

// The user's time to answer a host-key question does not count against the
// server: a login whose question takes longer than the login's limit still
// succeeds.
TEST_F(LimitsTest, TheUsersAnswerIsNotTheServersTime)
{
    CSSH2::SetLimits({.loginSeconds = 3});
    struct SAnswer {
        static int Slowly(int, const char*, const char*, int, void* data)
        {
            ++*static_cast<int*>(data);
            std::this_thread::sleep_for(std::chrono::milliseconds(4000));
            return 1;
        }
    };
    int asked = 0;
    m_peer = std::make_unique<ScriptedPeer>(std::vector<std::string>{"paramiko"});
    ASSERT_NE(m_peer->port(), 0);
    ASSERT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(m_peer->port()), 30, SAnswer::Slowly, &asked), 0);
    EXPECT_EQ(CSSH2::Login(kUser, kPassword, 1, HKP_ASK, HKP_ASK), 0) << CSSH2::LastFailure().text;
    EXPECT_EQ(asked, 1);
}

TEST_F(LimitsTest, ACommandThatNeverEndsEndsAtTheCommandsLimit)
{
    CSSH2::SetLimits({.commandSeconds = 2});
    ASSERT_EQ(Start({"paramiko", "--hang"}), 0);
    EXPECT_EQ(CSSH2::Exec("sleep 1000"), SSH_TIMEOUT);
    SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_COMMAND);
    EXPECT_EQ(failure.amount, 2u);
    EXPECT_EQ(failure.text, "the command did not finish within 2 seconds");
    // The session is closed: nothing more waits on that server.
    EXPECT_EQ(CSSH2::Exec("again"), SSH_SOCKET_ERROR);
    failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_NONE);
    EXPECT_EQ(failure.text, "the connection to " + Peer() + " is closed");
}

// A server that never answers the channel's opening is told apart from a
// command that never ends, within the same limit.
TEST_F(LimitsTest, AChannelNeverOpenedEndsAtTheCommandsLimitAndSaysSo)
{
    CSSH2::SetLimits({.commandSeconds = 2});
    ASSERT_EQ(Start({"paramiko", "--open-stall"}), 0);
    EXPECT_EQ(CSSH2::Exec("lshw -xml"), SSH_TIMEOUT);
    const SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_CHANNEL);
    EXPECT_EQ(failure.amount, 2u);
    EXPECT_EQ(failure.text, "the host did not open a channel for the command within 2 seconds");
}

TEST_F(LimitsTest, EachCommandEndsWithItsOwnStatusSignalOrNone)
{
    ASSERT_EQ(Start({"paramiko", "--commands", "5", "--endings", "0,3,KILL,none,0"}), 0);
    struct SEnding {
        std::uint32_t status;
        const char* signal;
    };
    const SEnding expected[] = {{0, ""}, {3, ""}, {CSSH2::kNoExitStatus, "KILL"}, {CSSH2::kNoExitStatus, ""}, {0, ""}};
    for (const SEnding& ending : expected) {
        ASSERT_EQ(CSSH2::Exec("command"), 0);
        EXPECT_EQ(CSSH2::GetOutput(), "hello\nwarn\n");
        EXPECT_EQ(CSSH2::GetExitStatus(), ending.status);
        EXPECT_EQ(CSSH2::GetExitSignal(), ending.signal);
    }
}

// Under AddressSanitizer freed blocks stay resident for a while (its
// quarantine), so the process's size says nothing of what the client keeps.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeansSomething = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeansSomething = false;
#else
constexpr bool kResidentSizeMeansSomething = true;
#endif
#else
constexpr bool kResidentSizeMeansSomething = true;
#endif

long MaxRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(LimitsTest, OutputPastTheLimitEndsTheCommandAndMemoryStaysBounded)
{
    ASSERT_EQ(Start({"paramiko", "--extra", std::to_string(20 << 20)}), 0);
    const long before = MaxRssKiB();
    EXPECT_EQ(CSSH2::Exec("flood"), SSH_RECEIVE_ERROR);
    const long grown = MaxRssKiB() - before;
    const SSshFailure failure = CSSH2::LastFailure();
    EXPECT_EQ(failure.limit, SL_OUTPUT);
    EXPECT_EQ(failure.amount, 16u << 20);
    EXPECT_EQ(failure.text, "the command's output is larger than 16 MiB");
    EXPECT_LE(CSSH2::Current()->Output().capacity(), std::size_t{16} << 20);
    if (kResidentSizeMeansSomething) {
        EXPECT_LT(grown, 64 * 1024) << "KiB";
    }
}

// A port that nothing listens on: bound once to learn a free one, then let go.
int RefusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 0;
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(ConnectionErrorTest, NamesHostPortAndCause)
{
    CSessionEnvironment env;
    const int port = RefusedPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(CSSH2::Connect("127.0.0.1", static_cast<unsigned>(port), 10, nullptr, nullptr), SSH_SOCKET_ERROR);
    EXPECT_EQ(CSSH2::LastFailure().text,
              "connect to host 127.0.0.1 port " + std::to_string(port) + ": Connection refused");
    EXPECT_EQ(CSSH2::Current(), nullptr);

    EXPECT_EQ(CSSH2::Connect("no-such-host.invalid", 22, 10, nullptr, nullptr), SSH_SOCKET_ERROR);
    const std::string text = CSSH2::LastFailure().text;
    const std::string prefix = "Could not resolve hostname no-such-host.invalid: ";
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    EXPECT_GT(text.size(), prefix.size()) << text;

    // A later success leaves no old failure behind.
    EXPECT_EQ(CSSH2::Connect("", 22, 10, nullptr, nullptr), SSH_EMPTY_HOST);
    EXPECT_EQ(CSSH2::LastFailure().text, "");
}

}  // namespace
