// The host node's side of a scan: the request made from a host of the
// inventory, and what the scan told coming back to the host the same way
// from the snap-in's own scan and from a fleet worker.
#include <gtest/gtest.h>

#include "platform/settings.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "inventory/fleet_refresh.h"
#include "inventory/scan_host.h"
#include "scan/scan_run.h"
#include "tests/scan/scan_fixture.h"

namespace {

const char kSmallXml[] =
    "<?xml version=\"1.0\"?><node id=\"box\"><description>Computer</description>"
    "<node id=\"core\"><node id=\"cpu:0\"><product>Chip</product></node></node></node>";

// An inventory with db1 behind two jump hosts: "bastion", a host of the
// inventory with a record of its own, and a relay outside it.
class HostScanTest : public ::testing::Test, public ScanFixture {
protected:
    void SetUp() override
    {
        CHostNode& bastion = SetHost("bastion", 2200, "ops", "bastion-pw");
        bastion.m_bstrKeyFile = u"/keys/bastion";
        bastion.m_bstrPassphrase = u"bastion-phrase";
        db1 = &SetHost("db1", 22, "admin", "db1-pw");
        db1->m_bstrKeyFile = u"/keys/db1";
        db1->m_bstrPassphrase = u"db1-phrase";
        db1->m_bstrJump = u"bastion:2200,relay@10.0.0.9";
    }
    void TearDown() override { SetScanRun(m_previousRun); }

    void FakeScan(ScanRunFunction run) { m_previousRun = SetScanRun(std::move(run)); }

    CHostNode* db1 = nullptr;

private:
    ScanRunFunction m_previousRun;
};

// The route's hops as a note, so that a fake scan in a worker can show the
// parent what it was given.
std::u16string HopsSeen(const SScanRequest& request)
{
    std::string seen;
    for (const SJumpLogin& jump : request.jumps)
        seen += jump.hop.host + ":" + jump.login + ":" + jump.password + ":" + jump.keys.passphrase + ":" +
                (jump.inventory ? "inventory" : "outside") + ";";
    return AnsiToWide(seen);
}

TEST_F(HostScanTest, TheRequestCarriesTheInventoryHopsOwnRecordAndNoPasswordToAnOutsideHop)
{
    OverrideSettingDword(kProductKey, u"StrictHostKeys", 1);
    const SScanRequest request = MakeScanRequest(*db1);
    EXPECT_EQ(request.address, "db1");
    EXPECT_EQ(request.displayName, u"Lab/db1");
    EXPECT_EQ(request.login, "admin");
    EXPECT_EQ(request.password, "db1-pw");
    EXPECT_EQ(request.keyFile, "/keys/db1");
    EXPECT_EQ(request.newHostKeyPolicy, static_cast<std::uint32_t>(HKP_ASK)) << "strict host keys ask first";
    EXPECT_EQ(request.changedHostKeyPolicy, static_cast<std::uint32_t>(HKP_ASK));
    ASSERT_EQ(request.jumps.size(), 2u);
    EXPECT_EQ(HopsSeen(request), u"bastion:ops:bastion-pw:bastion-phrase:inventory;10.0.0.9:relay::db1-phrase:outside;");

    // A route that does not read is the scan's error, before any network.
    db1->m_bstrJump = u"a,b,c";
    EXPECT_THROW(MakeScanRequest(*db1), CScanError);
}

TEST_F(HostScanTest, TheSnapInShowsNotesAsToldAndKeepsWhatTheScanSaidOnTheHost)
{
    FakeScan([](const SScanRequest& request, IScanQuestions& questions) {
        SScanResult result;
        questions.Progress(u"scanning");
        questions.Note(HopsSeen(request), u"sudo");
        questions.Note(u"second note", u"sudo");
        result.status = SCAN_OK;
        result.xml = kSmallXml;
        result.notes = {HopsSeen(request), u"second note"};
        result.rootReason = u"second note";
        return result;
    });
    EXPECT_EQ(Refresh(), S_OK);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(ui.Messages()[0].caption, u"sudo");
    EXPECT_EQ(ui.Messages()[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(ui.Messages()[1].text, u"second note");
    EXPECT_EQ(ui.ProgressOpen(), 0u) << "the scan's progress window is gone when it ends";
    EXPECT_EQ(db1->m_picture.Text(), AnsiToWide(kSmallXml));
    EXPECT_TRUE(db1->GetChildren().empty()) << "a host not expanded builds its tree when it is";
    EXPECT_FALSE(db1->m_bScannedAsRoot);
    EXPECT_EQ(db1->m_bstrRootReason, u"second note");
    EXPECT_EQ(db1->m_scanNotes.size(), 2u);
}

TEST_F(HostScanTest, AnErrorClosesTheProgressFirstAndIsShownOnce)
{
    std::size_t openWhenTold = 99;
    FakeScan([&](const SScanRequest&, IScanQuestions& questions) {
        SScanResult result;
        questions.Error(u"lshw did not finish within 20 seconds");
        openWhenTold = ui.ProgressOpen();
        result.failure = u"lshw did not finish within 20 seconds";
        result.step = STEP_SCAN;
        result.lshwMissing = true;
        return result;
    });
    EXPECT_EQ(Refresh(), S_FALSE);
    EXPECT_EQ(openWhenTold, 0u);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].caption, u"Error");
    EXPECT_TRUE(db1->m_bLshwMissing);

    // A route that does not read is told the same way, and nothing runs.
    bool ran = false;
    FakeScan([&](const SScanRequest&, IScanQuestions&) {
        ran = true;
        return SScanResult();
    });
    db1->m_bstrJump = u"a,b,c";
    EXPECT_EQ(Refresh(), S_FALSE);
    EXPECT_FALSE(ran);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(ui.Messages()[1].caption, u"Error");
    EXPECT_FALSE(ui.Messages()[1].text.empty());
}

TEST_F(HostScanTest, AFleetWorkerGetsTheResolvedRouteAndBringsBackWhatTheScanTold)
{
    // The fake runs in the worker process: what it was given comes back
    // only through the answer.
    FakeScan([](const SScanRequest& request, IScanQuestions& questions) {
        SScanResult result;
        if (request.address == "bastion") {
            result.failure = u"Unable to authenticate";
            result.step = STEP_LOGIN;
            result.status = SCAN_WRONG_PASSWORD;
            return result;
        }
        // The worker's questions say no and show nothing.
        SHostKeyQuestion question;
        question.event = HKE_CHANGED;
        result.notes.push_back(questions.AcceptHostKey(question) ? u"accepted" : u"refused");
        result.notes.push_back(questions.ConfirmDeployment(DQ_ENGINE_ABSENT, 0) ? u"deploy" : u"no deploy");
        result.notes.push_back(HopsSeen(request));
        result.rootReason = u"sudo refused";
        result.status = SCAN_OK;
        result.xml = kSmallXml;
        return result;
    });
    CHostNode& bastion = *static_cast<CHostNode*>(group->GetChildren().front().get());
    const SFleetCount count = RefreshHosts({db1, &bastion}, console.get());
    EXPECT_EQ(count.total, 2u);
    EXPECT_EQ(count.done, 2u);
    EXPECT_EQ(count.failed, 1u);
    ASSERT_EQ(db1->m_scanNotes.size(), 3u);
    EXPECT_EQ(db1->m_scanNotes[0], u"refused");
    EXPECT_EQ(db1->m_scanNotes[1], u"no deploy");
    EXPECT_EQ(db1->m_scanNotes[2], HopsSeen(MakeScanRequest(*db1))) << "the route as the parent resolved it";
    EXPECT_EQ(db1->m_bstrRootReason, u"sudo refused");
    EXPECT_FALSE(db1->m_bScannedAsRoot);
    EXPECT_TRUE(db1->m_bstrLastResult.empty());
    EXPECT_EQ(db1->m_picture.Text(), AnsiToWide(kSmallXml)) << "the worker's packed picture arrived whole";
    EXPECT_TRUE(db1->GetChildren().empty()) << "the fleet holds packed pictures, no hardware nodes";
    EXPECT_EQ(bastion.m_bstrLastResult, u"Unable to authenticate");
    EXPECT_TRUE(ui.Messages().empty()) << "a worker shows nothing";
}

}  // namespace
