// What a jump host gets to see of the fleet's secrets. A jump host that
// writes down every password, keyboard-interactive answer and public key
// offered to it stands between the console and a real sshd: a scan and the
// deployment's upload behind it must offer it only what is its own. A hop
// outside the inventory that refuses the host's key is offered no password
// of the fleet: it is asked for its own by name where someone can answer,
// else named; a hop of the inventory is offered its own password only. (A
// hop outside the inventory that takes the host's key: jump_cli_test.cpp.)
#include <gtest/gtest.h>

#include <pwd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "inventory/group_node.h"
#include "platform/registry.h"
#include "scan/engine_deployment.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "ssh2/ssh2.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/logging_jump.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"

namespace {

constexpr const char* kHopPassword = "hop-own-pw";
std::string MakeKey(const std::string& path)
{
    return peer::RunQuietly({"/usr/bin/ssh-keygen", "-q", "-C", "", "-N", "", "-t", "ed25519", "-f", path}) ? path
                                                                                                           : "";
}

// Nothing the hop recorded holds `secret`, and it was offered no password
// and no keyboard-interactive answer but `allowed` ones ("" for none).
::testing::AssertionResult OfferedOnly(const CLoggingJump& jump, const std::string& secret, const std::string& allowed)
{
    for (const std::string& line : jump.Lines()) {
        if (line.find(secret) != std::string::npos) return ::testing::AssertionFailure() << "the hop saw: " << line;
        const bool password = line.rfind("password ", 0) == 0 || line.rfind("kbdint ", 0) == 0;
        if (password && (allowed.empty() || line.substr(line.rfind(' ') + 1) != allowed))
            return ::testing::AssertionFailure() << "the hop was offered: " << line;
    }
    return ::testing::AssertionSuccess();
}

std::size_t Forwards(const CLoggingJump& jump, int port)
{
    std::size_t count = 0;
    for (const std::string& line : jump.Lines("forward"))
        if (line == "forward 127.0.0.1 " + std::to_string(port)) ++count;
    return count;
}

// A host without lshw behind the recording hop: the scan's session and the
// upload of the engine's package both pass it.
class JumpSecretsDeploymentTest : public ::testing::Test, public ScanFixture {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        if (!CLoggingJump::Available(&why)) FDX_PEER_MISSING() << why;
        if (::getpwnam(kDeployUser) == nullptr) FDX_PEER_MISSING() << "no user " << kDeployUser << " (scripts/setup-peers.sh)";
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"InfoOkChb", 1);
        ResetDeployUser();
        target = std::make_unique<SshdPeer>(SshdOptions{.bindMounts = {{"/dev/null", "/usr/bin/lshw"}}});
        ASSERT_TRUE(target->running()) << target->logText();
        key = MakeKey(dir.file("target_key"));
        ASSERT_FALSE(key.empty());
        const std::string install = R"(#!/bin/sh
mkdir -p "$HOME/.local/bin" || exit 1
printf '#!/bin/sh\necho "<node id=\\"box\\"><node id=\\"cpu\\"><product>behind</product></node></node>"\n' > "$HOME/.local/bin/lshw"
chmod 755 "$HOME/.local/bin/lshw"
{ echo 'PATH="$HOME/.local/bin:$PATH"'; cat "$HOME/.bashrc"; } > "$HOME/.bashrc.new" && mv "$HOME/.bashrc.new" "$HOME/.bashrc"
)";
        const std::string package = dir.file("lshw-1.2.tar.gz");
        MakeScriptPackage(package, "1.2", install);
        DescribeEnginePackage(package, "1.2");
    }
    void TearDown() override
    {
        EXPECT_EQ(CSSH2::Current(), nullptr);
        ResetDeployUser();
    }
    // The scanned host behind `jump`, with its password and key file.
    CHostNode& Target(const CLoggingJump& jump)
    {
        CHostNode& node = SetHost("127.0.0.1", target->port(), kDeployUser, SshdPeer::Password());
        node.m_bstrKeyFile = AnsiToWide(key);
        node.m_bstrJump = AnsiToWide("127.0.0.1:" + std::to_string(jump.port()));
        return node;
    }
    // The hop as a host of the inventory: "hopper" with `password`.
    void AddInventoryHop(const CLoggingJump& jump, const std::string& password)
    {
        auto hop = std::make_unique<CHostNode>(group);
        hop->SetName(u"bastion");
        hop->m_bstrHost = u"127.0.0.1";
        hop->m_nPort = jump.port();
        hop->m_bstrLogin = u"hopper";
        hop->m_bstrPassword = AnsiToWide(password);
        group->AppendChild(std::move(hop));
    }
    // Scans, deploys and scans again; the picture came from the target.
    void Deploy(CHostNode& node, const CLoggingJump& jump)
    {
        ASSERT_EQ(Expand(), S_OK) << (Messages().empty() ? "" : WideToAnsi(Messages()[0])) << jump.errorText();
        EXPECT_NE(WideToAnsi(node.m_picture.Text()).find("behind"), std::string::npos) << WideToAnsi(node.m_picture.Text());
        // The scan's session and the upload's came through the hop.
        EXPECT_EQ(Forwards(jump, target->port()), 2u);
    }

    TempDir dir;
    std::string key;
    std::unique_ptr<SshdPeer> target;
};

TEST_F(JumpSecretsDeploymentTest, AnUploadThatAHopOutsideTheInventoryRefusesOffersItNoPasswordAndNamesIt)
{
    // The hop lets the scan's session in, and refuses the upload's.
    CLoggingJump jump({.authorizedKeys = {key + ".pub"}, .keyLogins = 1});
    ASSERT_TRUE(jump.running()) << jump.errorText();
    Target(jump);
    EXPECT_NE(Expand(), S_OK);
    const std::vector<std::u16string> messages = Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(WideToAnsi(messages.back()), std::string("The jump host ") + kDeployUser + "@127.0.0.1:" +
                                               std::to_string(jump.port()) +
                                               " refused the login; add it to the inventory with its own login.");
    EXPECT_EQ(Forwards(jump, target->port()), 1u);
    EXPECT_TRUE(OfferedOnly(jump, SshdPeer::Password(), ""));
}

TEST_F(JumpSecretsDeploymentTest, AHopOfTheInventoryIsOfferedItsOwnPasswordByTheScanAndTheUpload)
{
    CLoggingJump jump({.password = kHopPassword});
    ASSERT_TRUE(jump.running()) << jump.errorText();
    // The hop is a host of the inventory, with a login and password of its own.
    AddInventoryHop(jump, kHopPassword);
    CHostNode& node = Target(jump);
    ASSERT_NO_FATAL_FAILURE(Deploy(node, jump));
    EXPECT_EQ(jump.Lines("accepted"),
              (std::vector<std::string>{"accepted hopper password", "accepted hopper password"}));
    EXPECT_TRUE(jump.Lines("publickey").empty());
    EXPECT_TRUE(OfferedOnly(jump, SshdPeer::Password(), kHopPassword));
}

TEST_F(JumpSecretsDeploymentTest, AHopOutsideTheInventoryIsAskedForItsOwnPasswordByName)
{
    // The hop takes no key, only its own password.
    CLoggingJump jump({.password = kHopPassword});
    ASSERT_TRUE(jump.running()) << jump.errorText();
    CHostNode& node = Target(jump);
    // A wrong answer first: the hop is asked again, by the same name.
    ui.AnswerDialog({IDOK, {{IDC_HOP_PASSWORD, u"not-it"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_HOP_PASSWORD, AnsiToWide(kHopPassword)}}, {}});
    ASSERT_NO_FATAL_FAILURE(Deploy(node, jump));

    std::vector<std::u16string> asked;
    for (const auto& dialog : ui.Dialogs())
        if (dialog.templateId == IDD_HOP_PASSWORD) asked.push_back(dialog.texts.at(IDC_HOP_PASSWORD_TEXT));
    ASSERT_EQ(asked.size(), 2u);
    const std::string hop = std::string(kDeployUser) + "@127.0.0.1:" + std::to_string(jump.port());
    EXPECT_NE(WideToAnsi(asked[0]).find("Password for " + hop + ","), std::string::npos) << WideToAnsi(asked[0]);
    EXPECT_EQ(asked[0], asked[1]);
    // The typed password went to the hop for the scan and for the upload;
    // the target's never did.
    const std::string typed = std::string("password ") + kDeployUser + " " + kHopPassword;
    EXPECT_EQ(jump.Lines("password"),
              (std::vector<std::string>{std::string("password ") + kDeployUser + " not-it", typed, typed}));
    EXPECT_FALSE(jump.Saw(SshdPeer::Password()));
}

TEST_F(JumpSecretsDeploymentTest, AWrongPasswordAtAnInventoryHopDoesNotAskForTheTargetsLogin)
{
    CLoggingJump jump({.password = kHopPassword});
    ASSERT_TRUE(jump.running()) << jump.errorText();
    AddInventoryHop(jump, "stale");
    Target(jump);
    EXPECT_NE(Expand(), S_OK);
    // The target's record is right: its login dialog never came.
    for (const auto& dialog : ui.Dialogs()) EXPECT_NE(dialog.templateId, IDD_HOST);
    EXPECT_EQ(ui.UnansweredDialogs(), 0u);
    EXPECT_EQ(jump.Lines("password"), std::vector<std::string>{"password hopper stale"});
    EXPECT_FALSE(jump.Saw(SshdPeer::Password()));
}

TEST_F(JumpSecretsDeploymentTest, AHopPasswordLeftUnansweredNamesTheHop)
{
    CLoggingJump jump({.password = kHopPassword});
    ASSERT_TRUE(jump.running()) << jump.errorText();
    Target(jump);
    ui.AnswerDialog(IDCANCEL);
    EXPECT_NE(Expand(), S_OK);
    const std::vector<std::u16string> messages = Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(WideToAnsi(messages.back()).find("The jump host " + std::string(kDeployUser) + "@127.0.0.1:" +
                                               std::to_string(jump.port()) + " refused the login"),
              std::string::npos);
    EXPECT_TRUE(jump.Lines("password").empty());
    EXPECT_EQ(Forwards(jump, target->port()), 0u);
}

}  // namespace
