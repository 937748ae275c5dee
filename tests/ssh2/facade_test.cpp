// The facade's state rules, without a server.
#include <gtest/gtest.h>

#include "ssh2/ssh2.h"
#include "tests/ssh2/session_env.h"

namespace {

TEST(FacadeTest, OperationsOutOfOrder)
{
    CSessionEnvironment env;
    EXPECT_EQ(CSSH2::Login("u", "p", 1, HKP_STORE, HKP_ASK), SSH_NOT_CONNECTED);
    EXPECT_EQ(CSSH2::Exec("true"), SSH_NOT_LOGINED);
    EXPECT_EQ(CSSH2::GetExitStatus(), 0u);
    EXPECT_EQ(CSSH2::GetOutput(), "");

    CSSH2 session;
    EXPECT_EQ(session.ExecStep("true"), SSH_NOT_LOGINED);
    EXPECT_EQ(session.LoginStep("u", "p"), SSH_NOT_CONNECTED);
    EXPECT_EQ(session.DisconnectStep(), SSH_NOT_CONNECTED);
    EXPECT_EQ(session.ConnectStep(nullptr, 22, 0), SSH_EMPTY_HOST);
    EXPECT_EQ(session.Socket().TimeoutSeconds(), 10);
}

TEST(FacadeTest, TimeoutOfZeroKeepsTheDefault)
{
    CSessionEnvironment env;
    for (const auto& [given, kept] : {std::pair{0, 10}, std::pair{-5, 10}, std::pair{1, 1}, std::pair{300, 300}}) {
        CSSH2 session;
        session.ConnectStep("127.0.0.1", 1, given);  // nobody listens on port 1
        EXPECT_EQ(session.Socket().TimeoutSeconds(), kept) << given;
        EXPECT_EQ(session.State(), SS_IDLE);
    }
}

TEST(FacadeTest, SocketErrorMapping)
{
    EXPECT_EQ(CSshSocket::MapError(11001), SSH_HOST_NOT_EXIST);
    EXPECT_EQ(CSshSocket::MapError(11002), SSH_HOST_NOT_FOUND);
    EXPECT_EQ(CSshSocket::MapError(10050), SSH_NETWORK_DOWN);
    EXPECT_EQ(CSshSocket::MapError(10060), SSH_TIMEOUT);
    for (int other : {0, 10022, 10054, 10057, 10061, 11003}) EXPECT_EQ(CSshSocket::MapError(other), SSH_SOCKET_ERROR);
}

}  // namespace
