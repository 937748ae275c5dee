// Waits of the socket layer end at their deadline and say so; a refused
// connection and an unknown name say why in the stock tools' words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/deadline.h"
#include "platform/winsock.h"
#include "tests/support/test_helpers.h"

namespace {

using namespace std::chrono_literals;

// A connected pair over loopback: a listener of the test's, the client's
// socket and the accepted one. Closed at the end.
struct LoopbackPair {
    LoopbackPair()
    {
        listener = winsock::socket(winsock::AF_INET, winsock::SOCK_STREAM, 0);
        winsock::sockaddr_in address{winsock::AF_INET, 0, winsock::htonl(0x7F000001)};
        EXPECT_EQ(winsock::bind(listener, &address), 0);
        port = Listen(listener);
        client = winsock::socket(winsock::AF_INET, winsock::SOCK_STREAM, 0);
        address.sin_port = winsock::htons(static_cast<std::uint16_t>(port));
        EXPECT_EQ(winsock::connect_until(client, &address, CDeadline::In(5s)), 0);
        server = Accept(listener);
    }
    ~LoopbackPair()
    {
        for (winsock::SOCKET s : {listener, client, server})
            if (s != winsock::INVALID_SOCKET) winsock::closesocket(s);
    }
    static int Listen(winsock::SOCKET s);
    static winsock::SOCKET Accept(winsock::SOCKET s);

    winsock::SOCKET listener = winsock::INVALID_SOCKET;
    winsock::SOCKET client = winsock::INVALID_SOCKET;
    winsock::SOCKET server = winsock::INVALID_SOCKET;
    int port = 0;
};

TEST(SocketDeadline, AWaitEndsAtItsDeadlineAndNotBeforeData)
{
    LoopbackPair pair;
    EXPECT_EQ(winsock::wait_readable(pair.client, CDeadline::In(50ms)), 0);
    EXPECT_EQ(winsock::wait_readable(pair.client, CDeadline::In(0ms)), 0);
    ASSERT_EQ(winsock::send(pair.server, "x", 1, 0), 1);
    EXPECT_EQ(winsock::wait_readable(pair.client, CDeadline::In(5s)), 1);
    EXPECT_EQ(winsock::wait_writable(pair.client, CDeadline::In(5s)), 1);
}

TEST(SocketDeadline, ASendToAPeerThatNeverReadsEndsAtItsDeadline)
{
    LoopbackPair pair;
    const std::vector<char> block(1 << 20, 'x');
    int result = 0;
    // The peer reads nothing: the buffers fill, then the deadline passes.
    for (int i = 0; i < 256 && result != winsock::SOCKET_ERROR; ++i)
        result = winsock::send_until(pair.client, block.data(), static_cast<int>(block.size()), CDeadline::In(200ms));
    EXPECT_EQ(result, winsock::SOCKET_ERROR);
    EXPECT_EQ(winsock::WSAGetLastError(), winsock::WSAETIMEDOUT);
}

TEST(SocketDeadline, ARefusedConnectionAndAnUnknownNameSayWhy)
{
    const CHeldPort held;  // bound and never listening: refused for as long as it lives
    ASSERT_NE(held.port(), 0);
    const winsock::SOCKET s = winsock::socket(winsock::AF_INET, winsock::SOCK_STREAM, 0);
    const winsock::sockaddr_in address{winsock::AF_INET, winsock::htons(static_cast<std::uint16_t>(held.port())),
                                       winsock::htonl(0x7F000001)};
    EXPECT_EQ(winsock::connect_until(s, &address, CDeadline::In(5s)), winsock::SOCKET_ERROR);
    EXPECT_EQ(winsock::WSAGetLastError(), winsock::WSAECONNREFUSED);
    EXPECT_EQ(winsock::error_text(winsock::WSAECONNREFUSED), "Connection refused");
    winsock::closesocket(s);

    std::uint32_t resolved = 0;
    EXPECT_FALSE(winsock::gethostbyname("no-such-host.invalid", &resolved));
    EXPECT_FALSE(winsock::resolver_error_text().empty());
}

TEST(SocketDeadline, TheEarlierOfTwoDeadlinesAndAnUnsetOne)
{
    const CDeadline none;
    const CDeadline soon = CDeadline::In(1s);
    const CDeadline late = CDeadline::In(1h);
    EXPECT_FALSE(none.IsSet());
    EXPECT_FALSE(none.Passed());
    EXPECT_EQ(none.RemainingMs(), CDeadline::kNone);
    EXPECT_EQ(CDeadline::Earlier(none, soon), soon);
    EXPECT_EQ(CDeadline::Earlier(late, none), late);
    EXPECT_EQ(CDeadline::Earlier(late, soon), soon);
    EXPECT_EQ(CDeadline::Earlier(soon, late), soon);
    EXPECT_TRUE(CDeadline::In(-1s).Passed());
    EXPECT_EQ(CDeadline::In(-1s).RemainingMs(), 0);
}

}  // namespace

// The system's calls, after the layer's header (whose names they define as macros).
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int LoopbackPair::Listen(winsock::SOCKET s)
{
    ::listen(static_cast<int>(s), 4);
    ::sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(static_cast<int>(s), reinterpret_cast<::sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

winsock::SOCKET LoopbackPair::Accept(winsock::SOCKET s) { return ::accept(static_cast<int>(s), nullptr, nullptr); }

}  // namespace
