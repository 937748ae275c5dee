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
    std::unique_ptr<SshdPeer> BareHost(bool sftp = true)
    {
        const std::string home = std::string("/home/") + kDeployUser;
        std::error_code ignored;
        std::filesystem::remove(home + "/.local/bin/lshw", ignored);
        std::filesystem::copy_file("/etc/skel/.bashrc", home + "/.bashrc",
                                   std::filesystem::copy_options::overwrite_existing, ignored);
        SshdOptions options;
        options.sftpSubsystem = sftp;
        options.bindMounts = {{"/dev/null", "/usr/bin/lshw"}};
        auto peer = std::make_unique<SshdPeer>(options);
        SetHost("127.0.0.1", peer->port(), kDeployUser, SshdPeer::Password());
        return peer;
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
// its path comes from $FDX_ENGINE_PACKAGE (the test script makes it).
TEST_F(DeploymentPeerTest, TheRealPackageIsUploadedBuiltAndScanned)
{
    const char* package = std::getenv("FDX_ENGINE_PACKAGE");
    if (package == nullptr || !std::filesystem::exists(package)) GTEST_SKIP() << "FDX_ENGINE_PACKAGE is not set";
    const char* version = std::getenv("FDX_ENGINE_VERSION");
    ASSERT_NE(version, nullptr);
    // Over SFTP first, then with the subsystem removed (the scp fallback).
    for (bool sftp : {true, false}) {
        ui.Clear();
        ResetEnginePackage();
        auto peer = BareHost(sftp);
        ASSERT_TRUE(peer->running()) << peer->logText();
        DescribeEnginePackage(package, version);
        ASSERT_EQ(Expand(), S_OK) << (Messages().empty() ? "" : WideToAnsi(Messages()[0]));
        EXPECT_FALSE(host->GetChildren().empty());
        bool sawInstall = false;
        for (const auto& p : ui.ProgressTexts()) sawInstall |= p.text == u"Installing Vorbex...";
        EXPECT_TRUE(sawInstall);
        std::error_code ignored;
        std::filesystem::remove("/tmp/" + std::filesystem::path(package).filename().string(), ignored);
    }
}

}  // namespace
