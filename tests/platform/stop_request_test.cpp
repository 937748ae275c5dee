// Stop signals as requests: a second SIGTERM or SIGHUP ends a program that
// never got to the first, joins the first while the program acts on it, and
// follows a request the program made itself (its terminal gone) as a first.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "platform/stop_request.h"
#include "platform/terminal.h"

TEST(StopRequest, ASecondSignalEndsOnlyAProgramThatIsNotActingOnTheFirst)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CStopRequestCatcher catcher;
            ::raise(SIGTERM);
            ::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EXIT(
        {
            CStopRequestCatcher catcher;
            ::raise(SIGHUP);
            AcknowledgeStopRequest();
            ::raise(SIGTERM);
            ::raise(SIGINT);
            std::_Exit(PendingStopRequest() == EStopRequest::HangUp ? 7 : 1);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_EXIT(
        {
            CStopRequestCatcher catcher;
            RequestStop(EStopRequest::HangUp);
            ::raise(SIGHUP);
            if (PendingStopRequest() != EStopRequest::HangUp) std::_Exit(1);
            ::raise(SIGHUP);
            std::_Exit(2);
        },
        ::testing::KilledBySignal(SIGHUP), "");
}

TEST(StopRequest, AnInputWhoseOtherEndClosedIsAHangUpOnceWatched)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    CStopRequestCatcher catcher;
    StopWhenInputGone(ends[0]);
    ASSERT_EQ(::write(ends[1], "k", 1), 1);
    EXPECT_EQ(PendingStopRequest(), EStopRequest::None);  // a key waiting is no end
    ::close(ends[1]);
    EXPECT_EQ(PendingStopRequest(), EStopRequest::HangUp);
    StopWhenInputGone(-1);
    EXPECT_EQ(TakeStopRequest(), EStopRequest::HangUp);
    EXPECT_EQ(PendingStopRequest(), EStopRequest::None);
    ::close(ends[0]);
}
