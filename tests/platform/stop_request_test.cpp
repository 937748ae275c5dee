// Stop signals as requests: the first is recorded, not obeyed; a second
// SIGTERM ends a program that never got to the first, but joins the first
// while the program acts on it; a terminal gone is a hang-up; and nothing
// outlives the catcher.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "platform/stop_request.h"
#include "platform/terminal.h"

TEST(StopRequest, ASecondSignalEndsOnlyAProgramThatIsNotActingOnTheFirst)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    {
        CStopRequestCatcher catcher;
        ::raise(SIGTERM);
        EXPECT_EQ(PendingStopRequest(), EStopRequest::Terminate);
        // SIGHUP and SIGINT after it do not replace it.
        AcknowledgeStopRequest();
        ::raise(SIGHUP);
        ::raise(SIGINT);
        EXPECT_EQ(PendingStopRequest(), EStopRequest::Terminate);
        EXPECT_EQ(TakeStopRequest(), EStopRequest::Terminate);
        EXPECT_EQ(PendingStopRequest(), EStopRequest::None);
        // Acknowledging nothing does nothing: a later second signal ends.
        AcknowledgeStopRequest();
    }
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
            ::raise(SIGHUP);
            std::_Exit(PendingStopRequest() == EStopRequest::HangUp ? 7 : 1);
        },
        ::testing::ExitedWithCode(7), "");
    // A terminal gone is the program's own request: the SIGHUP that the
    // closing terminal sends after it is the first signal, not a second.
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

TEST(StopRequest, AProgramsOwnRequestIsLikeItsSignalAndNeverReplacesOne)
{
    CStopRequestCatcher catcher;
    RequestStop(EStopRequest::HangUp);
    EXPECT_EQ(PendingStopRequest(), EStopRequest::HangUp);
    RequestStop(EStopRequest::Terminate);
    EXPECT_EQ(TakeStopRequest(), EStopRequest::HangUp);
    EXPECT_EQ(128 + StopSignalNumber(EStopRequest::Terminate), 143);
    EXPECT_EQ(128 + StopSignalNumber(EStopRequest::HangUp), 129);
    EXPECT_EQ(128 + StopSignalNumber(EStopRequest::Interrupt), 130);
    EXPECT_EQ(StopSignalNumber(EStopRequest::None), 0);
}

TEST(StopRequest, AnInputWhoseOtherEndClosedIsGone)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_FALSE(InputGone(ends[0]));
    ASSERT_EQ(::write(ends[1], "k", 1), 1);
    EXPECT_FALSE(InputGone(ends[0]));  // a key waiting is no end
    ::close(ends[1]);
    EXPECT_TRUE(InputGone(ends[0]));
    ::close(ends[0]);
    EXPECT_TRUE(InputGone(ends[0]));  // no descriptor at all
}
