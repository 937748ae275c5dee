// Deploying the engine package to a host without lshw, end to end.
#include <gtest/gtest.h>

#include <pwd.h>

#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "ssh2/ssh2.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/test_server.h"

namespace {

constexpr const char* kDeployUser = "fdxdeploy";

class DeploymentPeerTest : public ::testing::Test, public ScanFixture {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) GTEST_SKIP() << why;
        if (::getpwnam(kDeployUser) == nullptr) GTEST_SKIP() << "no user " << kDeployUser << " (scripts/setup-peers.sh)";
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"InfoOkChb", 1);
    }
    void TearDown() override { EXPECT_EQ(CSSH2::Current(), nullptr); }

    // A server on which `which lshw` finds nothing until the deployment
    // puts one into the user's ~/.local/bin.
    std::unique_ptr<CTestServer> BareHost(EServerKind kind = EServerKind::OlderSshd, bool sftp = true)
    {
        const std::string home = std::string("/home/") + kDeployUser;
        std::error_code ignored;
        std::filesystem::remove(home + "/.local/bin/lshw", ignored);
        std::filesystem::copy_file("/etc/skel/.bashrc", home + "/.bashrc",
                                   std::filesystem::copy_options::overwrite_existing, ignored);
        auto server = StartServer({kind, sftp, {{"/dev/null", "/usr/bin/lshw"}}});
        SetHost("127.0.0.1", server->port(), kDeployUser, SshdPeer::Password());
        return server;
    }
    TempDir dir;
};

TEST_F(DeploymentPeerTest, AFailingInstallShowsItsOutputAndKeepsTheFolder)
{
    auto peer = BareHost();
    ASSERT_TRUE(peer->running()) << peer->logText();
    const std::string package = dir.file("broken.tar.gz");
    MakeScriptPackage(package, "9.9", "#!/bin/sh\necho 'Vorbex install: no compiler here' >&2\nexit 1\n");
    DescribeEnginePackage(package, "9.9");
    EXPECT_EQ(Expand(), S_FALSE);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{u"Vorbex install: no compiler here\n"});
    EXPECT_TRUE(std::filesystem::exists("/tmp/lshw-9.9/install"));
    EXPECT_TRUE(std::filesystem::exists("/tmp/broken.tar.gz"));
    std::error_code ignored;
    std::filesystem::remove_all("/tmp/lshw-9.9", ignored);
    std::filesystem::remove("/tmp/broken.tar.gz", ignored);
}

// The real package, built from Debian's lshw source by tools/engine-package.sh;
// its path comes from $FDX_ENGINE_PACKAGE (the test script makes it). An
// older installation's sshd over SFTP and, with the subsystem removed, over
// the scp sink; today's stock sshd and Dropbear as they come.
using Deployment = std::tuple<EServerKind, bool>;
class RealPackageTest : public DeploymentPeerTest, public ::testing::WithParamInterface<Deployment> {};

TEST_P(RealPackageTest, IsUploadedBuiltAndScanned)
{
    const char* package = std::getenv("FDX_ENGINE_PACKAGE");
    if (package == nullptr || !std::filesystem::exists(package)) GTEST_SKIP() << "FDX_ENGINE_PACKAGE is not set";
    const char* version = std::getenv("FDX_ENGINE_VERSION");
    ASSERT_NE(version, nullptr);
    const auto [kind, sftp] = GetParam();
    if (const std::string why = ServerUnavailable(kind); !why.empty()) GTEST_SKIP() << why;
    auto server = BareHost(kind, sftp);
    ASSERT_TRUE(server->running()) << server->logText();
    DescribeEnginePackage(package, version);
    ASSERT_EQ(Expand(), S_OK) << (Messages().empty() ? "" : WideToAnsi(Messages()[0])) << server->logText();
    EXPECT_FALSE(host->GetChildren().empty());
    bool sawInstall = false;
    for (const auto& p : ui.ProgressTexts()) sawInstall |= p.text == u"Installing Vorbex...";
    EXPECT_TRUE(sawInstall);
    std::error_code ignored;
    std::filesystem::remove("/tmp/" + std::filesystem::path(package).filename().string(), ignored);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealPackageTest,
                         ::testing::Values(Deployment{EServerKind::OlderSshd, true},
                                           Deployment{EServerKind::OlderSshd, false},
                                           Deployment{EServerKind::StockSshd, true},
                                           Deployment{EServerKind::StockDropbear, true}),
                         [](const ::testing::TestParamInfo<Deployment>& param) {
                             return std::string(ServerKindName(std::get<0>(param.param))) +
                                    (std::get<1>(param.param) ? "Sftp" : "ScpSink");
                         });

}  // namespace
