// The worker processes of a fleet refresh and what travels between them
// and their parent: bounded in both directions, and nothing left behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/root_node.h"
#include "platform/worker_process.h"
#include "scan/fleet_refresh.h"

namespace {

std::string PumpUntilDone(CWorkerProcess& worker, int timeoutMs, CWorkerProcess::EState& state)
{
    const CDeadline until = CDeadline::In(std::chrono::milliseconds(timeoutMs));
    CWorkerProcess* one[] = {&worker};
    state = worker.Pump();
    while (state == CWorkerProcess::EState::Running && !until.Passed()) {
        CWorkerProcess::WaitForAny(one, 50);
        state = worker.Pump();
    }
    return worker.Answer();
}

TEST(WorkerProcessTest, EchoesItsInputAndReportsItsStatus)
{
    CWorkerProcess worker;
    std::string reason;
    ASSERT_TRUE(worker.Start(
        [](int in, int out) {
            char buffer[256];
            ssize_t n;
            while ((n = ::read(in, buffer, sizeof buffer)) > 0)
                if (::write(out, buffer, static_cast<std::size_t>(n)) != n) return 9;
            return 7;
        },
        1024, reason))
        << reason;
    ASSERT_TRUE(worker.Send("host record", CDeadline::InSeconds(5)));
    CWorkerProcess::EState state;
    EXPECT_EQ(PumpUntilDone(worker, 5000, state), "host record");
    EXPECT_EQ(state, CWorkerProcess::EState::Finished);
    EXPECT_EQ(worker.ExitStatus(), 7);
    EXPECT_FALSE(worker.Running());
}

TEST(WorkerProcessTest, AnAnswerOverItsBoundKillsTheWorker)
{
    CWorkerProcess worker;
    std::string reason;
    ASSERT_TRUE(worker.Start(
        [](int, int out) {
            const std::string chunk(4096, 'x');
            for (;;)
                if (::write(out, chunk.data(), chunk.size()) < 0) return 1;
        },
        10000, reason));
    CWorkerProcess::EState state;
    PumpUntilDone(worker, 10000, state);
    EXPECT_EQ(state, CWorkerProcess::EState::TooLarge);
    EXPECT_TRUE(worker.Answer().empty());
    EXPECT_FALSE(worker.Running());
}

TEST(WorkerProcessTest, AKilledWorkerIsGoneAndAWorkerThatNeverReadsDoesNotBlockTheSender)
{
    CWorkerProcess worker;
    std::string reason;
    ASSERT_TRUE(worker.Start([](int, int) -> int { for (;;) ::pause(); }, 100, reason));
    // More than a pipe holds, to a worker that never reads: the send gives
    // up at its deadline instead of waiting for ever.
    EXPECT_FALSE(worker.Send(std::string(1 << 20, 'p'), CDeadline::In(std::chrono::milliseconds(300))));
    worker.Kill();
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(worker.ExitStatus(), 128 + SIGKILL);
}

TEST(WorkerProcessTest, ADestroyedWorkerObjectLeavesNoProcess)
{
    {
        CWorkerProcess worker;
        std::string reason;
        ASSERT_TRUE(worker.Start([](int, int) -> int { for (;;) ::pause(); }, 100, reason));
    }
    // Every child of this test process is reaped: none is left to wait for.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

class WorkerRecordTest : public ::testing::Test {
protected:
    CRootNode root;
    CGroupNode group{&root};
};

TEST_F(WorkerRecordTest, TheHostTravelsWithItsSettingsLoginAndPassword)
{
    CHostNode host(&group);
    host.SetName(u"db1");
    host.m_bstrHost = u"db1";
    host.m_nPort = 2222;
    host.m_bstrLogin = u"admin";
    host.m_bstrPassword = u"s\u00e9cret";
    host.m_bSudo = true;
    host.m_bstrXml = u"<list/>";
    const std::string record = EncodeWorkerRecord(host);
    EXPECT_EQ(host.m_bstrXml, u"<list/>") << "the host keeps its picture";
    CHostNode copy(nullptr);
    ASSERT_TRUE(DecodeWorkerRecord(record, copy));
    EXPECT_EQ(copy.m_bstrHost, u"db1");
    EXPECT_EQ(copy.m_nPort, 2222);
    EXPECT_EQ(copy.m_bstrLogin, u"admin");
    EXPECT_EQ(copy.m_bstrPassword, u"s\u00e9cret");
    EXPECT_TRUE(copy.m_bSudo);
    EXPECT_TRUE(copy.m_bstrXml.empty()) << "the worker fetches a new picture";

    // Every cut of the record, and one byte more, is refused.
    for (std::size_t cut = 0; cut < record.size(); ++cut) {
        CHostNode partial(nullptr);
        EXPECT_FALSE(DecodeWorkerRecord(std::string_view(record).substr(0, cut), partial)) << cut;
    }
    CHostNode longer(nullptr);
    EXPECT_FALSE(DecodeWorkerRecord(record + "x", longer));
}

TEST_F(WorkerRecordTest, ALoginOrPasswordNotWrittenByTheEncoderIsRefused)
{
    CHostNode host(&group);
    host.m_bstrHost = u"db1";
    host.m_bstrLogin = u"admin";
    host.m_bstrPassword = u"pw";
    const std::string record = EncodeWorkerRecord(host);
    const std::size_t tail = 4 + 5 + 4 + 2;  // the login and password texts
    const std::string head = record.substr(0, record.size() - tail);
    auto withTexts = [&](const std::string& login, const std::string& password) {
        std::string bytes = head;
        for (const std::string* text : {&login, &password}) {
            const auto n = static_cast<std::uint32_t>(text->size());
            bytes += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                      static_cast<char>(n)};
            bytes += *text;
        }
        return bytes;
    };
    CHostNode same(nullptr);
    ASSERT_TRUE(DecodeWorkerRecord(withTexts("admin", "pw"), same));
    // Bytes that are not UTF-8 would widen into a login longer than a host
    // can save, and so into a record the encoder cannot write again.
    for (const auto& [login, password] : {std::pair<std::string, std::string>{std::string(300, '\xff'), "pw"},
                                          {"admin", "\xe1w"},
                                          {std::string(513, 'a'), "pw"}}) {
        CHostNode bad(nullptr);
        EXPECT_FALSE(DecodeWorkerRecord(withTexts(login, password), bad)) << login.size();
    }
}

TEST_F(WorkerRecordTest, AnAnswerIsDecodedWhole)
{
    const std::string answer = EncodeWorkerAnswer(1, u"lshw did not finish", u"<node/>");
    int code = 0;
    std::u16string failure, xml;
    ASSERT_TRUE(DecodeWorkerAnswer(answer, code, failure, xml));
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failure, u"lshw did not finish");
    EXPECT_EQ(xml, u"<node/>");
    for (std::size_t cut = 0; cut < answer.size(); ++cut)
        EXPECT_FALSE(DecodeWorkerAnswer(std::string_view(answer).substr(0, cut), code, failure, xml)) << cut;
    // A length that claims more than is there, or more than a scan may send.
    std::string giant = answer.substr(0, 4) + std::string("\xff\xff\xff\xff", 4);
    EXPECT_FALSE(DecodeWorkerAnswer(giant, code, failure, xml));
}

}  // namespace

namespace {

TEST(WorkerProcessTest, AWorkerThatClosesItsOutputButLingersIsEndedWithinABound)
{
    CWorkerProcess worker;
    std::string reason;
    ASSERT_TRUE(worker.Start(
        [](int, int out) -> int {
            ::close(out);
            for (;;) ::pause();
        },
        100, reason));
    CWorkerProcess::EState state;
    PumpUntilDone(worker, 10000, state);
    EXPECT_NE(state, CWorkerProcess::EState::Running);
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(worker.ExitStatus(), 128 + SIGKILL);
}

}  // namespace
