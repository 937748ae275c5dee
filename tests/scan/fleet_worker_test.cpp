// The worker processes of a fleet refresh and what travels between them
// and their parent: bounded in both directions, and nothing left behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/worker_process.h"
#include "scan/worker_record.h"

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

// A worker that never reads nor answers, for as long as it is not killed.
bool StartIdle(CWorkerProcess& worker)
{
    std::string reason;
    return worker.Start([](int, int) -> int { for (;;) ::pause(); }, 100, reason);
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
    ASSERT_TRUE(StartIdle(worker));
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
        ASSERT_TRUE(StartIdle(worker));
    }
    // Every child of this test process is reaped: none is left to wait for.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

// A request as the parent makes it for a host behind two jump hosts: one
// of the inventory (with its own record), one outside it (no password).
SScanRequest MakeRequest()
{
    SScanRequest request;
    request.address = "db1.lab";
    request.port = 2222;
    request.displayName = u"Data/db1 \u00e9t\u00e9";
    request.login = "admin";
    request.password = "s\xc3\xa9" "cret";
    request.keyFile = "/home/me/.ssh/id_ed25519";
    request.passphrase = "phrase";
    request.useAgent = true;
    request.sudo = true;
    request.limits.commandSeconds = 90;
    request.limits.maxOutputMiB = 4;
    request.newHostKeyPolicy = HKP_ASK;
    SJumpLogin known;
    known.hop = SJumpHop{"", "bastion", 2200};
    known.login = "ops";
    known.password = "bastion-pw";
    known.keys.identityFile = "/home/me/.ssh/bastion";
    known.keys.passphrase = "bp";
    known.keys.useAgent = false;
    known.inventory = true;
    request.jumps.push_back(std::move(known));
    SJumpLogin outside;
    outside.hop = SJumpHop{"relay", "10.0.0.9", 22};
    outside.login = "relay";
    request.jumps.push_back(std::move(outside));
    return request;
}

std::string U32Bytes(std::uint32_t n)
{
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

TEST(WorkerRecordTest, TheRequestTravelsWholeWithEachHopsOwnLogin)
{
    const SScanRequest request = MakeRequest();
    const std::string record = EncodeWorkerRecord(request);
    ASSERT_FALSE(record.empty());
    SScanRequest copy;
    ASSERT_TRUE(DecodeWorkerRecord(record, copy));
    // A field the decoder dropped or read into another would encode back
    // to other bytes; a few are checked by name for a field both skip.
    EXPECT_EQ(EncodeWorkerRecord(copy), record) << "what decodes encodes back to the same bytes";
    EXPECT_EQ(copy.displayName, request.displayName);
    EXPECT_EQ(copy.password, request.password);
    EXPECT_EQ(copy.limits.maxOutputMiB, 4u);
    EXPECT_EQ(copy.newHostKeyPolicy, static_cast<std::uint32_t>(HKP_ASK));
    ASSERT_EQ(copy.jumps.size(), 2u);
    EXPECT_EQ(copy.jumps[0].keys.passphrase, "bp");
    EXPECT_TRUE(copy.jumps[0].inventory);
    EXPECT_EQ(copy.jumps[1].hop.user, "relay");

    // Every cut of the record, and one byte more, is refused, and the
    // request given to a failed decode is left as it was.
    for (std::size_t cut = 0; cut < record.size(); ++cut) {
        SScanRequest partial;
        partial.address = "kept";
        EXPECT_FALSE(DecodeWorkerRecord(std::string_view(record).substr(0, cut), partial)) << cut;
        EXPECT_EQ(partial.address, "kept");
        EXPECT_TRUE(partial.jumps.empty());
    }
    SScanRequest longer;
    EXPECT_FALSE(DecodeWorkerRecord(record + "x", longer));
}

TEST(WorkerRecordTest, ValuesTheEncoderNeverWritesAreRefused)
{
    const SScanRequest request = MakeRequest();
    const std::string record = EncodeWorkerRecord(request);
    // The address comes first: its length, then its bytes; the port follows.
    const std::size_t port = 4 + request.address.size();
    const auto withPort = [&](std::uint32_t value) { return record.substr(0, port) + U32Bytes(value) + record.substr(port + 4); };
    SScanRequest copy;
    EXPECT_TRUE(DecodeWorkerRecord(withPort(65535), copy));
    EXPECT_FALSE(DecodeWorkerRecord(withPort(0), copy));
    EXPECT_FALSE(DecodeWorkerRecord(withPort(65536), copy));
    // An address that is not UTF-8 would not read back to the same bytes.
    const std::string notUtf8 = U32Bytes(7) + "db1.\xff\xfe\xe1" + record.substr(port);
    EXPECT_FALSE(DecodeWorkerRecord(notUtf8, copy));
    // A length beyond any text's bound, and one beyond the input.
    EXPECT_FALSE(DecodeWorkerRecord(U32Bytes(kMaxWorkerText + 1) + std::string(kMaxWorkerText + 1, 'a') + record.substr(port), copy));
    EXPECT_FALSE(DecodeWorkerRecord(U32Bytes(0xFFFFFFFFu) + record.substr(4), copy));

    // A request the record cannot carry is not written at all.
    SScanRequest tooMany = MakeRequest();
    for (std::size_t i = 0; i < kMaxWorkerJumps; ++i) tooMany.jumps.emplace_back();
    EXPECT_TRUE(EncodeWorkerRecord(tooMany).empty());
    SScanRequest tooLong = MakeRequest();
    tooLong.password.assign(kMaxWorkerText + 1, 'p');
    EXPECT_TRUE(EncodeWorkerRecord(tooLong).empty());
}

SScanResult MakeResult()
{
    SScanResult result;
    result.status = SCAN_OK;
    result.step = STEP_NONE;
    result.notes = {u"sudo: a password is required \u2014 the scan goes on without root rights", u"second"};
    result.root = false;
    result.rootReason = result.notes[0];
    result.lshwMissing = false;
    result.enginePackageMissing = true;
    result.replacedHostKey = "ssh-ed25519 SHA256:old";
    result.acceptedHostKey = "ssh-ed25519 SHA256:new";
    result.xml = "<?xml version=\"1.0\"?><node><product>R\xc3\xa9seau</product></node>";
    return result;
}

TEST(WorkerAnswerTest, TheResultTravelsWholeWithItsNotesAndRootState)
{
    const SScanResult result = MakeResult();
    const std::string answer = EncodeWorkerAnswer(result);
    SScanResult copy;
    ASSERT_TRUE(DecodeWorkerAnswer(answer, copy));
    EXPECT_EQ(EncodeWorkerAnswer(copy), answer);
    EXPECT_EQ(copy.notes, result.notes);
    EXPECT_TRUE(copy.enginePackageMissing);
    EXPECT_EQ(copy.acceptedHostKey, result.acceptedHostKey);
    EXPECT_EQ(copy.xml, result.xml);

    SScanResult failed;
    failed.status = SCAN_WRONG_PASSWORD;
    failed.step = STEP_LOGIN;
    failed.failure = u"Wrong password (jump host: bastion)";
    failed.lshwMissing = true;
    ASSERT_TRUE(DecodeWorkerAnswer(EncodeWorkerAnswer(failed), copy));
    EXPECT_EQ(copy.status, SCAN_WRONG_PASSWORD);
    EXPECT_EQ(copy.step, STEP_LOGIN);
    EXPECT_EQ(copy.failure, failed.failure);
    EXPECT_TRUE(copy.notes.empty()) << "a decode replaces what the result held";
    EXPECT_TRUE(copy.xml.empty());

    for (std::size_t cut = 0; cut < answer.size(); ++cut)
        EXPECT_FALSE(DecodeWorkerAnswer(std::string_view(answer).substr(0, cut), copy)) << cut;
    EXPECT_FALSE(DecodeWorkerAnswer(answer + "x", copy));
    // A status or a step the scan never gives, and a failure length that
    // claims more than is there.
    EXPECT_FALSE(DecodeWorkerAnswer(U32Bytes(3) + answer.substr(4), copy));
    EXPECT_FALSE(DecodeWorkerAnswer(answer.substr(0, 4) + U32Bytes(STEP_COUNT) + answer.substr(8), copy));
    EXPECT_FALSE(DecodeWorkerAnswer(answer.substr(0, 8) + U32Bytes(0xFFFFFFFFu) + answer.substr(12), copy));
}

TEST(WorkerAnswerTest, LongTextsAndManyNotesAreCutToWhatTheParentTakes)
{
    SScanResult result = MakeResult();
    // A cut that would fall inside a surrogate pair drops the pair.
    result.failure = std::u16string(kMaxFailureText - 1, u'a') + u"\U0001F600tail";
    result.notes.assign(kMaxWorkerNotes + 3, u"note");
    SScanResult copy;
    ASSERT_TRUE(DecodeWorkerAnswer(EncodeWorkerAnswer(result), copy));
    EXPECT_EQ(copy.failure, std::u16string(kMaxFailureText - 1, u'a'));
    EXPECT_EQ(copy.notes.size(), kMaxWorkerNotes);
    // An XML larger than any scan may fetch is not an answer.
    result = MakeResult();
    result.xml.assign((SScanLimits::kMaxOutputMiB << 20) + 1, 'x');
    EXPECT_TRUE(EncodeWorkerAnswer(result).empty());
}

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
