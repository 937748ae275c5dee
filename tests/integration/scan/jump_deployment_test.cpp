// The engine's deployment to a host behind a bastion: the package goes
// through the bastion like the scan, in an upload session of its own, and
// the host sees no connection but those the bastion forwards. The bastion,
// outside the inventory, lets in the host's key file; the host's password
// goes to the host only.
#include <gtest/gtest.h>

#include <pwd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "scan/engine_deployment.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "ssh2/ssh2.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/test_helpers.h"

namespace {

class JumpDeploymentTest : public ::testing::Test, public ScanFixture {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        if (::getpwnam(kDeployUser) == nullptr) FDX_PEER_MISSING() << "no user " << kDeployUser << " (scripts/setup-peers.sh)";
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"InfoOkChb", 1);
        ResetDeployUser();
    }
    void TearDown() override
    {
        EXPECT_EQ(CSSH2::Current(), nullptr);
        ResetDeployUser();
    }
    TempDir dir;
};

TEST_F(JumpDeploymentTest, ThePackageGoesThroughTheBastion)
{
    // A host without lshw until the package installs one.
    SshdOptions bare;
    bare.bindMounts = {{"/dev/null", "/usr/bin/lshw"}};
    SshdPeer target(bare);
    ASSERT_TRUE(target.running()) << target.logText();
    SshdOptions forwarding;
    forwarding.logLevel = "DEBUG";
    forwarding.extraConfig = {"AllowTcpForwarding yes"};
    SshdPeer bastion(forwarding);
    ASSERT_TRUE(bastion.running()) << bastion.logText();

    const std::string install = R"(#!/bin/sh
mkdir -p "$HOME/.local/bin" || exit 1
printf '#!/bin/sh\necho "<node id=\\"box\\"><node id=\\"cpu\\"><product>behind</product></node></node>"\n' > "$HOME/.local/bin/lshw"
chmod 755 "$HOME/.local/bin/lshw"
{ echo 'PATH="$HOME/.local/bin:$PATH"'; cat "$HOME/.bashrc"; } > "$HOME/.bashrc.new" && mv "$HOME/.bashrc.new" "$HOME/.bashrc"
)";
    const std::string package = dir.file("lshw-1.2.tar.gz");
    MakeScriptPackage(package, "1.2", install);
    DescribeEnginePackage(package, "1.2");
    const std::string key = dir.file("host_key");
    ASSERT_TRUE(peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-C", "", "-N", "", "-t", "ed25519", "-f", key}));
    std::ofstream(bastion.folder() + "/authorized_keys") << peer::ReadWholeFile(key + ".pub");
    CHostNode& node = SetHost("127.0.0.1", target.port(), kDeployUser, SshdPeer::Password());
    node.m_bstrKeyFile = AnsiToWide(key);
    node.m_bstrJump = AnsiToWide("fdxdeploy@127.0.0.1:" + std::to_string(bastion.port()));

    ASSERT_EQ(Expand(), S_OK) << (Messages().empty() ? "" : WideToAnsi(Messages()[0])) << target.logText();
    EXPECT_NE(WideToAnsi(node.m_picture.Text()).find("behind"), std::string::npos) << WideToAnsi(node.m_picture.Text());
    // Every login the host saw came through the bastion: the scan's session
    // with its install, and the upload's.
    const std::string port = std::to_string(target.port());
    EXPECT_EQ(CountOccurrences(target.logText(), "Accepted password"), 2u) << target.logText();
    EXPECT_EQ(CountOccurrences(bastion.logText(), "target 127.0.0.1 port " + port), 2u) << bastion.logText();
    EXPECT_EQ(CountOccurrences(bastion.logText(), "Accepted publickey for fdxdeploy"), 2u) << bastion.logText();
    EXPECT_EQ(CountOccurrences(bastion.logText(), "Failed password") +
                  CountOccurrences(bastion.logText(), "Accepted password"),
              0u)
        << bastion.logText();
}

}  // namespace
