// Scans against a real OpenSSH server on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "hardware/general_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/module_state.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "scan/scan_job.h"
#include "ssh2/ssh2.h"
#include "tests/integration/ssh2/scripted_peer.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"

namespace {

constexpr const char16_t* kHostKeys = u"Software\\Quillon\\Corvel\\SshHostKeys";

std::u16string HostKeyName(int port) { return u"rsa2@" + IntToDecimal(port) + u":127.0.0.1"; }

class ScanPeerTest : public ::testing::Test, public ScanFixture {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
    }
    void TearDown() override { EXPECT_EQ(CSSH2::Current(), nullptr) << "a scan must never leave a session open"; }
};

TEST_F(ScanPeerTest, ScanFetchesTheHostsXmlAndCachesItsKeyWithoutAsking)
{
    SshdPeer peer;
    ASSERT_TRUE(peer.running()) << peer.logText();
    SetHost("127.0.0.1", peer.port(), SshdPeer::User(), SshdPeer::Password());
    const std::string home = "/home/" + std::string(SshdPeer::User());
    const std::set<std::string> before = FilesBelow(home);
    ASSERT_EQ(Expand(), S_OK) << (Messages().empty() ? "" : WideToAnsi(Messages()[0]));
    EXPECT_EQ(FilesBelow(home), before) << "a scan leaves nothing in the login's home";
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(g_bDirty);
    EXPECT_EQ(ui.ProgressOpen(), 0u);
    ASSERT_GE(ui.ProgressTexts().size(), 3u);
    EXPECT_EQ(ui.ProgressTexts().front().text, u"Connecting and logining to the remote host...");
    EXPECT_EQ(ui.ProgressTexts().back().text, u" Receiving information from the remote host...");

    EXPECT_TRUE(host->m_picture.Text().starts_with(u"<?xml")) << WideToAnsi(host->m_picture.Text().substr(0, 200));
    EXPECT_FALSE(host->GetChildren().empty());
    ASSERT_NE(host->m_pGeneral, nullptr);
    EXPECT_EQ(console->ScopeChildren(host->GetScopeItem()).size(), host->GetChildren().size() + 1);

    std::u16string key;
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, HostKeyName(peer.port()), key));
    EXPECT_FALSE(key.empty());
}

// The server goes away between two scans: the refresh fails with the
// connection's message and the host keeps showing what the first scan found.
TEST_F(ScanPeerTest, ARefreshWhileTheServerIsDownKeepsTheLastGoodPicture)
{
    std::u16string xml;
    {
        SshdPeer peer;
        ASSERT_TRUE(peer.running()) << peer.logText();
        SetHost("127.0.0.1", peer.port(), SshdPeer::User(), SshdPeer::Password());
        ASSERT_EQ(Expand(), S_OK) << (Messages().empty() ? "" : WideToAnsi(Messages()[0]));
        xml = host->m_picture.Text();
    }  // the server stops here
    ASSERT_FALSE(xml.empty());
    const std::size_t children = host->GetChildren().size();
    const CConsoleNode* first = host->GetChildren().front().get();
    const std::size_t items = console->ScopeChildren(host->GetScopeItem()).size();
    g_bDirty = false;

    EXPECT_EQ(Refresh(), S_FALSE);
    ASSERT_EQ(Messages().size(), 1u) << "the failed connection says so";
    EXPECT_EQ(host->m_picture.Text(), xml);
    EXPECT_EQ(host->GetChildren().size(), children);
    EXPECT_EQ(host->GetChildren().front().get(), first);
    EXPECT_EQ(console->ScopeChildren(host->GetScopeItem()).size(), items);
    EXPECT_TRUE(g_bDirty) << "the failure is kept with the host";
    EXPECT_NE(host->m_bstrLastResult.find(u"Connection refused"), std::u16string::npos)
        << WideToAnsi(host->m_bstrLastResult);
    ASSERT_NE(host->m_pGeneral, nullptr);
    const RowList& names = host->m_pGeneral->m_names;
    const auto failed = std::find(names.begin(), names.end(), u"last refresh");
    ASSERT_NE(failed, names.end());
    EXPECT_TRUE(host->m_pGeneral->m_values[static_cast<std::size_t>(failed - names.begin())].starts_with(u"failed at "));
}

TEST_F(ScanPeerTest, AChangedHostKeyIsAskedAboutAndNoStopsAndKeepsTheOldOne)
{
    SshdPeer peer;
    ASSERT_TRUE(peer.running()) << peer.logText();
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, HostKeyName(peer.port()), u"0x23,0x1234");
    SetHost("127.0.0.1", peer.port(), SshdPeer::User(), SshdPeer::Password());
    ui.AnswerMessage(IDNO);
    Expand();
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(ui.Messages()[0].caption, u"Host key warning");
    EXPECT_NE(ui.Messages()[0].text.find(u"\nHost: 127.0.0.1\n"), std::u16string::npos);
    EXPECT_EQ(ui.Messages()[1].text,
              u"the server's host key was not trusted: the connection was stopped before logging in");
    EXPECT_EQ(peer.logText().find("Accepted"), std::string::npos);
    EXPECT_TRUE(host->GetChildren().empty());
    std::u16string key;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kHostKeys, HostKeyName(peer.port()), key));
    EXPECT_EQ(key, u"0x23,0x1234");
}

TEST_F(ScanPeerTest, ConnectionFailuresShowTheirTextAndLeaveTheFailurePage)
{
    struct Case {
        std::string address;
        bool closedPort;
        std::string password;
        std::u16string message;
    };
    SshdPeer peer;
    ASSERT_TRUE(peer.running()) << peer.logText();
    int closedPort = 0;
    {
        SshdPeer gone;  // a port that was free a moment ago and is closed now
        closedPort = gone.port();
    }
    // A wrong password is tried once and named.
    for (const Case& c : {Case{"127.0.0.1", false, "wrong password", u"The login or the password is wrong."},
                          // The code's text, then what failed: host, port and cause.
                          Case{"127.0.0.1", true, SshdPeer::Password(),
                               u"Socket error: connect to host 127.0.0.1 port " + IntToDecimal(closedPort) +
                                   u": Connection refused"},
                          Case{"no-such-host.invalid", false, SshdPeer::Password(),
                               u"Socket error: Could not resolve hostname no-such-host.invalid: "}}) {
        ui.Clear();
        // A wrong password brings the login dialog back: cancelled here.
        const bool wrongPassword = c.password != SshdPeer::Password();
        if (wrongPassword) ui.AnswerDialog(IDCANCEL);
        SetHost(c.address, c.closedPort ? closedPort : peer.port(), SshdPeer::User(), c.password);
        EXPECT_EQ(Expand(), S_FALSE) << c.address;
        EXPECT_EQ(ui.PendingDialogAnswers(), 0u) << c.address;
        const std::vector<std::u16string> messages = Messages();
        ASSERT_EQ(messages.size(), 1u) << c.address;
        // The resolver's own words end the last one.
        EXPECT_EQ(messages[0].substr(0, c.message.size()), c.message) << c.address;
        EXPECT_GE(messages[0].size(), c.message.size() + (c.message.ends_with(u": ") ? 1 : 0)) << c.address;
        EXPECT_TRUE(host->GetChildren().empty());
        EXPECT_EQ(ui.ProgressOpen(), 0u);
        LPOLESTR view = nullptr;
        long options = 0;
        host->GetResultViewType(&view, &options, false);
        ASSERT_NE(view, nullptr);
        EXPECT_TRUE(std::u16string(view).ends_with(u"/ci.html"));
        CoTaskMemFree(view);
    }
}

TEST_F(ScanPeerTest, AServerThatDisconnectsDuringACommandShowsItsDescription)
{
    if (!ScriptedPeer::Available()) FDX_PEER_MISSING() << "no python3 with paramiko";
    ScriptedPeer peer({"paramiko", "--disconnect-on-exec", "--reason", "11", "--text", "going down for maintenance"});
    ASSERT_NE(peer.port(), 0);
    SetHost("127.0.0.1", peer.port(), "tester", "secret-pw");
    EXPECT_EQ(Expand(), S_FALSE);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{u"Received disconnect message:\nType: SSH_DISCONNECT_DISCONNECT_BY_APPLICATION\n"
                                                      u"Message text: going down for maintenance\n"});
    EXPECT_EQ(ui.ProgressOpen(), 0u);
}

// A host whose lshw prints something of our choosing.
class FakeLshwTest : public ScanPeerTest {
protected:
    std::unique_ptr<SshdPeer> StartWithLshw(const std::string& script)
    {
        const std::string path = dir.file("lshw");
        std::ofstream(path) << "#!/bin/sh\n" << script;
        std::filesystem::permissions(path, std::filesystem::perms(0755));
        SshdOptions options;
        options.bindMounts = {{path, "/usr/bin/lshw"}};
        auto peer = std::make_unique<SshdPeer>(options);
        SetHost("127.0.0.1", peer->port(), SshdPeer::User(), SshdPeer::Password());
        return peer;
    }
    TempDir dir;
};

TEST_F(FakeLshwTest, OutputWithoutAnyTagSaysWhatCameInstead)
{
    auto peer = StartWithLshw("echo 'lshw is not allowed here'\n");
    ASSERT_TRUE(peer->running()) << peer->logText();
    EXPECT_EQ(Expand(), S_FALSE);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{
                              u"lshw printed no hardware list: 25 bytes of other output (\"lshw is not allowed here\")"});
    EXPECT_TRUE(host->m_picture.Empty());
}

TEST_F(FakeLshwTest, ABannerBeforeTheXmlIsCut)
{
    auto peer = StartWithLshw(
        "echo 'Welcome to the lab!'\necho '<?xml version=\"1.0\"?><node id=\"box\"><node id=\"cpu\"><vendor>V</vendor>"
        "</node></node>'\n");
    ASSERT_TRUE(peer->running()) << peer->logText();
    ASSERT_EQ(Expand(), S_OK);
    EXPECT_TRUE(host->m_picture.Text().starts_with(u"<?xml"));
    ASSERT_EQ(host->GetChildren().size(), 1u);
    EXPECT_EQ(host->GetChildren()[0]->GetDisplayText(0), u"cpu");
}

TEST_F(FakeLshwTest, TheXmlIsLshwsOutputWholeAfterItsWarningsAndNothingStays)
{
    const std::string xml = ReadWholeFile(SourceDir() + "/tests/data/lshw/user.xml");
    ASSERT_FALSE(xml.empty());
    const std::string path = dir.file("lshw");
    WriteFakeLshw(path, xml, "WARNING: you should run this program as super-user.");
    SshdOptions options;
    options.bindMounts = {{path, "/usr/bin/lshw"}};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    SetHost("127.0.0.1", peer.port(), SshdPeer::User(), SshdPeer::Password());
    const std::string home = "/home/" + std::string(SshdPeer::User());
    const std::set<std::string> before = FilesBelow(home);
    ASSERT_EQ(Expand(), S_OK) << (Messages().empty() ? "" : WideToAnsi(Messages()[0]));
    EXPECT_EQ(host->m_picture.Text(), AnsiToWide(xml));
    EXPECT_EQ(FilesBelow(home), before);
}

TEST_F(FakeLshwTest, AFailingLshwShowsItsMessageAndOffersNoDeployment)
{
    auto peer = StartWithLshw("echo '<partial'\necho 'lshw: cannot read /proc/cpuinfo' >&2\nexit 2\n");
    ASSERT_TRUE(peer->running()) << peer->logText();
    EXPECT_EQ(Expand(), S_FALSE);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{u"lshw: cannot read /proc/cpuinfo\n"});
    EXPECT_TRUE(ui.Dialogs().empty()) << "lshw that fails is not a missing lshw";
    EXPECT_TRUE(host->m_picture.Empty());
}

TEST_F(FakeLshwTest, ADeclinedDeploymentFailsSilently)
{
    SshdOptions options;
    options.bindMounts = {{"/dev/null", "/usr/bin/lshw"}};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    SetHost("127.0.0.1", peer.port(), SshdPeer::User(), SshdPeer::Password());
    ui.AnswerDialog(IDCANCEL);
    EXPECT_EQ(Expand(), S_FALSE);
    EXPECT_TRUE(Messages().empty());
    ASSERT_EQ(ui.Dialogs().size(), 1u);
    EXPECT_EQ(ui.Dialogs()[0].templateId, 140);

    // The stored answer 2 stops it without a question.
    ui.Clear();
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 2);
    EXPECT_EQ(Refresh(), S_FALSE);
    EXPECT_TRUE(ui.Dialogs().empty());
    EXPECT_TRUE(Messages().empty());
}

}  // namespace
