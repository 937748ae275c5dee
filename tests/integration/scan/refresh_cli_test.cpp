// A whole refresh through `ferrodex host refresh` against a real sshd, seen
// from outside: what the console file then holds, and what a reload shows.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/scan/scan_fixture.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"
#include "tests/support/test_server.h"

namespace {

RunResult Ferrodex(const std::string& args, const std::string& input = "") { return RunFerrodexLine(args, input); }

using Result = RunResult;

class RefreshCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        console = "--console " + dir.file("inventory.fdx");
    }
    static std::string Password() { return PasswordLines(); }
    // Adds Lab/127.0.0.1 on `port`; the refresh command line.
    std::string AddHost(int port)
    {
        EXPECT_TRUE(AddPeerHost(console, "Lab", "127.0.0.1", port));
        return console + " host refresh Lab/127.0.0.1" + TestLogin();
    }
    TempRegistry registry;
    TempDir dir;
    std::string console;
};

// An older installation's sshd, and today's stock sshd and Dropbear, each
// with its packaged defaults.
class RefreshServersTest : public RefreshCliTest, public ::testing::WithParamInterface<EServerKind> {};

TEST_P(RefreshServersTest, RefreshStoresTheXmlAndAReloadShowsItWithoutTheServer)
{
    if (const std::string why = ServerUnavailable(GetParam()); !why.empty()) FDX_PEER_MISSING() << why;
    std::string refreshLine;
    std::string expectedTree;
    std::u16string keyName;
    {
        // The host's lshw prints one of the tests' outputs.
        const std::string xml = ReadWholeFile(SourceDir() + "/tests/data/lshw/user.xml");
        ASSERT_FALSE(xml.empty());
        WriteFakeLshw(dir.file("lshw"), xml);
        const auto server = StartServer({GetParam(), true, {{dir.file("lshw"), "/usr/bin/lshw"}}, {}});
        ASSERT_TRUE(server->running()) << server->logText();
        keyName = AnsiToWide(server->cacheValueName());
        refreshLine = AddHost(server->port());
        const Result refresh = Ferrodex(refreshLine, Password());
        ASSERT_EQ(refresh.status, 0) << refresh.err << server->logText();
        EXPECT_EQ(refresh.err.find("Warning"), std::string::npos) << "a first key is stored without a question";

        // The same text, shown on its own, gives the same tree and rows.
        std::ofstream(dir.file("fetched.xml")) << xml;
        const Result view = Ferrodex("view-xml " + dir.file("fetched.xml") + " --json");
        ASSERT_EQ(view.status, 0) << view.err;
        expectedTree = view.out;
    }
    std::u16string key;
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel\\SshHostKeys", keyName, key))
        << WideToAnsi(keyName);

    // No server now: a refresh fails and keeps the hardware in the console
    // file, so the host still shows it.
    const Result failed = Ferrodex(refreshLine, Password());
    EXPECT_NE(failed.status, 0);
    EXPECT_NE(failed.err.find("Error: "), std::string::npos) << failed.err;
    const Result tree = Ferrodex(console + " tree Lab/127.0.0.1 --json --login root", "");
    ASSERT_EQ(tree.status, 0) << tree.err;
    // The host's children are what view-xml prints for the same text.
    const std::size_t children = tree.out.find("\"children\"");
    ASSERT_NE(children, std::string::npos) << tree.out;
    std::string hostChildren = tree.out.substr(tree.out.find('[', children));
    hostChildren = hostChildren.substr(0, hostChildren.rfind(']') + 1);
    // The host's own rows tell when it was scanned and that this refresh
    // failed; the rest is the picture as it was.
    for (const char* row : {"\"last scan\"", "\"last refresh\""})
        EXPECT_NE(hostChildren.find(row), std::string::npos) << row;
    hostChildren = std::regex_replace(hostChildren, std::regex(R"re(\[\s*"last (scan|refresh)",\s*"[^"]*"\s*\],?)re"), "");
    auto strip = [](std::string text) {
        std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
        return text;
    };
    EXPECT_EQ(strip(hostChildren), strip(expectedTree));
}

INSTANTIATE_TEST_SUITE_P(Servers, RefreshServersTest,
                         ::testing::Values(EServerKind::OlderSshd, EServerKind::StockSshd, EServerKind::StockDropbear),
                         [](const ::testing::TestParamInfo<EServerKind>& param) { return ServerKindName(param.param); });

TEST_F(RefreshCliTest, AHostWithoutLshwNeedsYesToDeploy)
{
    SshdPeer peer({.bindMounts = {{"/dev/null", "/usr/bin/lshw"}}});
    ASSERT_TRUE(peer.running()) << peer.logText();
    const Result refused = Ferrodex(AddHost(peer.port()), Password());
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
}

// A host whose lshw fails its own way: the refresh says how, and the
// console file keeps no picture, only the failure told.
TEST_F(RefreshCliTest, AFailingLshwIsAFailureThatSaysHowAndOnlyTheFailureIsKept)
{
    const struct {
        const char* body;
        const char* told;
    } cases[] = {
        {"kill -KILL $$", "lshw was ended by signal KILL"},
        {"echo 'lshw: not today'", "lshw printed no hardware list: 16 bytes of other output (\"lshw: not today\")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        std::filesystem::remove(dir.file("inventory.fdx"));
        const std::string lshw = dir.file("lshw");
        std::ofstream(lshw) << "#!/bin/sh\n" << c.body << "\n";
        ::chmod(lshw.c_str(), 0755);
        SshdPeer peer({.bindMounts = {{lshw, "/usr/bin/lshw"}}});
        ASSERT_TRUE(peer.running()) << peer.logText();
        const Result result = Ferrodex(AddHost(peer.port()) + " --yes", Password());
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.err.find(c.told), std::string::npos) << result.err;
        const Result report = Ferrodex(console + " export --format json");
        ASSERT_EQ(report.status, 0) << report.err;
        EXPECT_NE(report.out.find("\"scanned\":false"), std::string::npos) << report.out;
        const std::string told = c.told;  // up to its first quote, which JSON escapes
        EXPECT_NE(report.out.find("\"message\":\"" + told.substr(0, told.find('"'))), std::string::npos)
            << report.out;
    }
}

// A stock sshd (PAM, its own delay after a failure): a wrong password is
// sent once, named as such, and costs one failed attempt in the server's log.
TEST_F(RefreshCliTest, AWrongPasswordIsTriedOnceAndSaidToBeWrong)
{
    SshdPeer server({.legacyAlgorithms = false, .packagedConfig = true});
    ASSERT_TRUE(server.running()) << server.logText();
    const std::string refreshLine = AddHost(server.port());
    const auto start = std::chrono::steady_clock::now();
    const Result refresh = Ferrodex(refreshLine, "not-the-password\n");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NE(refresh.status, 0);
    EXPECT_NE(refresh.err.find("The login or the password is wrong."), std::string::npos) << refresh.err;
    // Six or so attempts took the server about sixteen seconds.
    EXPECT_LT(seconds, 6.0);
    const std::string log = server.logText();
    EXPECT_EQ(CountOccurrences(log, "Failed password"), 1u) << log;
    EXPECT_EQ(log.find("not-the-password"), std::string::npos);
}

}  // namespace
