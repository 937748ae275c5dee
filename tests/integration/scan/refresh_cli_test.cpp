// A whole refresh through `ferrodex host refresh` against a real sshd, seen
// from outside: what the console file then holds, and what a reload shows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/scan/scan_fixture.h"
#include "tests/console/run_ferrodex.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"
#include "tests/support/test_server.h"

// After the project's headers: the system's define some WinSock names as macros.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Result = RunResult;

RunResult Ferrodex(const std::string& args, const std::string& input = "") { return RunFerrodexLine(args, input); }

class RefreshCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        console = "--console " + dir.file("inventory.fdx");
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
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    std::string expectedTree;
    std::u16string keyName;
    {
        // The host's lshw prints one of the tests' outputs.
        const std::string xml = ReadWholeFile(SourceDir() + "/tests/data/lshw/user.xml");
        ASSERT_FALSE(xml.empty());
        WriteFakeLshw(dir.file("lshw"), xml);
        const auto server = StartServer({GetParam(), true, {{dir.file("lshw"), "/usr/bin/lshw"}}});
        ASSERT_TRUE(server->running()) << server->logText();
        keyName = AnsiToWide(server->cacheValueName());
        ASSERT_EQ(Ferrodex(console + " group add Lab").status, 0);
        const Result add = Ferrodex(console + " host add Lab 127.0.0.1 --port " + std::to_string(server->port()) +
                                    " --login " + SshdPeer::User() + " --password-stdin", password);
        ASSERT_EQ(add.status, 0) << add.err;
        const Result refresh = Ferrodex(console + " host refresh Lab/127.0.0.1 --login " +
                                            std::string(SshdPeer::User()) + " --password-stdin",
                                        password);
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
    const Result failed = Ferrodex(console + " host refresh Lab/127.0.0.1 --login " + std::string(SshdPeer::User()) +
                                       " --password-stdin",
                                   password);
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

TEST_F(RefreshCliTest, AChangedHostKeyIsRefusedUnlessAccepted)
{
    SshdPeer peer;
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::u16string keyName = u"rsa2@" + IntToDecimal(peer.port()) + u":127.0.0.1";
    RegWriteString(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel\\SshHostKeys", keyName, u"0x23,0x99");
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    ASSERT_EQ(Ferrodex(console + " group add Lab").status, 0);
    ASSERT_EQ(Ferrodex(console + " host add Lab 127.0.0.1 --port " + std::to_string(peer.port()) + " --login " +
                           SshdPeer::User() + " --password-stdin",
                       password)
                  .status,
              0);
    const std::string refresh =
        console + " host refresh Lab/127.0.0.1 --login " + std::string(SshdPeer::User()) + " --password-stdin";
    const Result asked = Ferrodex(refresh, password);
    EXPECT_NE(asked.err.find("host key has CHANGED"), std::string::npos) << asked.err;
    EXPECT_NE(asked.status, 0);
    std::u16string key;
    RegReadString(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel\\SshHostKeys", keyName, key);
    EXPECT_EQ(key, u"0x23,0x99");

    // The yes stores the key; the password waits for the next run.
    const Result accepted = Ferrodex(refresh + " --accept-changed-host-key", password);
    EXPECT_NE(accepted.status, 0);
    EXPECT_NE(accepted.err.find("The password was not sent"), std::string::npos) << accepted.err;
    RegReadString(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel\\SshHostKeys", keyName, key);
    EXPECT_NE(key, u"0x23,0x99");
    const Result next = Ferrodex(refresh, password);
    EXPECT_EQ(next.status, 0) << next.err;
}

TEST_F(RefreshCliTest, AHostWithoutLshwNeedsYesToDeploy)
{
    SshdOptions options;
    options.bindMounts = {{"/dev/null", "/usr/bin/lshw"}};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string password = std::string(SshdPeer::Password()) + "\n";
    ASSERT_EQ(Ferrodex(console + " group add Lab").status, 0);
    ASSERT_EQ(Ferrodex(console + " host add Lab 127.0.0.1 --port " + std::to_string(peer.port()) + " --login " +
                           SshdPeer::User() + " --password-stdin",
                       password)
                  .status,
              0);
    const Result refused = Ferrodex(
        console + " host refresh Lab/127.0.0.1 --login " + std::string(SshdPeer::User()) + " --password-stdin", password);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
}

// A host whose lshw is a script of the test's, laid over the real one.
class RefreshLimitsTest : public RefreshCliTest {
protected:
    // Adds the host (lshw replaced by `script` when given) and returns the
    // refresh command line.
    std::string AddHost(int port)
    {
        EXPECT_EQ(Ferrodex(console + " group add Lab").status, 0);
        EXPECT_EQ(Ferrodex(console + " host add Lab 127.0.0.1 --port " + std::to_string(port) + " --login " +
                               SshdPeer::User() + " --password-stdin",
                           Password())
                      .status,
                  0);
        return console + " host refresh Lab/127.0.0.1 --login " + std::string(SshdPeer::User()) + " --password-stdin";
    }
    std::string Lshw(const std::string& body)
    {
        const std::string path = dir.file("lshw");
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
        return path;
    }
    static std::string Password() { return std::string(SshdPeer::Password()) + "\n"; }
    // What the console file keeps of the host's last refresh: no picture,
    // and the failure the refresh told.
    void ExpectOnlyTheFailureKept(const std::string& told)
    {
        const Result report = Ferrodex(console + " export --format json");
        ASSERT_EQ(report.status, 0) << report.err;
        EXPECT_NE(report.out.find("\"scanned\":false"), std::string::npos) << report.out;
        EXPECT_NE(report.out.find("\"message\":\"" + told), std::string::npos) << report.out;
    }
};

TEST_F(RefreshLimitsTest, AnLshwThatNeverEndsStopsAtTheTimeoutAndOnlyTheFailureIsKept)
{
    SshdOptions options;
    options.bindMounts = {{Lshw("sleep 60"), "/usr/bin/lshw"}};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string refresh = AddHost(peer.port());
    const Result result = Ferrodex(refresh + " --timeout 3", Password());
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("lshw did not finish within 3 seconds"), std::string::npos) << result.err;
    ExpectOnlyTheFailureKept("lshw did not finish within 3 seconds");
    // The option holds for that run only: nothing of it was stored.
    DWORD stored = 0;
    EXPECT_FALSE(RegReadDword(HKEY_CURRENT_USER, u"Software\\Quillon\\Ferrodex", u"CommandTimeoutSeconds", stored));
}

TEST_F(RefreshLimitsTest, AnLshwEndedByASignalIsAFailureThatNamesIt)
{
    SshdOptions options;
    options.bindMounts = {{Lshw("kill -KILL $$"), "/usr/bin/lshw"}};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    const std::string refresh = AddHost(peer.port());
    const Result result = Ferrodex(refresh + " --yes", Password());
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("lshw was ended by signal KILL"), std::string::npos) << result.err;
}

TEST_F(RefreshLimitsTest, AServerThatNeverSpeaksStopsAtTheConnectionSetting)
{
    // A listener that the kernel accepts for, and that never says a word.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    RegWriteDword(HKEY_CURRENT_USER, u"Software\\Quillon\\Ferrodex", u"ConnectTimeoutSeconds", 2);
    const std::string refresh = AddHost(port);
    const Result result = Ferrodex(refresh, Password());
    ::close(listener);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("host 127.0.0.1 port " + std::to_string(port) + " sent no version line within 2 seconds"),
              std::string::npos)
        << result.err;
    ExpectOnlyTheFailureKept("Connection Timeout: host 127.0.0.1 port " + std::to_string(port) + " sent no version line");
}

TEST_F(RefreshLimitsTest, AnLshwThatPrintsNoXmlIsAFailureThatSaysSo)
{
    SshdOptions options;
    options.bindMounts = {{Lshw("echo 'lshw: not today'"), "/usr/bin/lshw"}};
    SshdPeer peer(options);
    ASSERT_TRUE(peer.running()) << peer.logText();
    const Result result = Ferrodex(AddHost(peer.port()), Password());
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("lshw printed no hardware list: 16 bytes of other output (\"lshw: not today\")"),
              std::string::npos)
        << result.err;
    ExpectOnlyTheFailureKept("lshw printed no hardware list");
}

TEST_F(RefreshLimitsTest, ConnectionErrorsNameHostPortAndCause)
{
    const CHeldPort held;
    const int port = held.port();
    const Result refused = Ferrodex(AddHost(port), Password());
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("connect to host 127.0.0.1 port " + std::to_string(port) + ": Connection refused"),
              std::string::npos)
        << refused.err;

    ASSERT_EQ(Ferrodex(console + " host add Lab no-such-host.invalid --login " + SshdPeer::User() + " --password-stdin",
                       Password())
                  .status,
              0);
    const Result unknown = Ferrodex(console + " host refresh Lab/no-such-host.invalid --login " +
                                        std::string(SshdPeer::User()) + " --password-stdin",
                                    Password());
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.err.find("Could not resolve hostname no-such-host.invalid: "), std::string::npos) << unknown.err;
}

// A stock sshd (PAM, its own delay after a failure): a wrong password is
// sent once, named as such, and costs one failed attempt in the server's log.
TEST_F(RefreshCliTest, AWrongPasswordIsTriedOnceAndSaidToBeWrong)
{
    SshdOptions options;
    options.packagedConfig = true;
    options.legacyAlgorithms = false;
    SshdPeer server(options);
    ASSERT_TRUE(server.running()) << server.logText();
    ASSERT_EQ(Ferrodex(console + " group add Lab").status, 0);
    const std::string target = " Lab/127.0.0.1";
    const Result add = Ferrodex(console + " host add Lab 127.0.0.1 --port " + std::to_string(server.port()) +
                                " --login " + SshdPeer::User() + " --password-stdin",
                                "not-the-password\n");
    ASSERT_EQ(add.status, 0) << add.err;
    const auto start = std::chrono::steady_clock::now();
    const Result refresh = Ferrodex(console + " host refresh" + target + " --login " + SshdPeer::User() +
                                        " --password-stdin",
                                    "not-the-password\n");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NE(refresh.status, 0);
    EXPECT_NE(refresh.err.find("The login or the password is wrong."), std::string::npos) << refresh.err;
    // Six or so attempts took the server about sixteen seconds.
    EXPECT_LT(seconds, 6.0);
    const std::string log = server.logText();
    std::size_t failures = 0;
    for (std::size_t at = log.find("Failed password"); at != std::string::npos; at = log.find("Failed password", at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u) << log;
    EXPECT_EQ(log.find("not-the-password"), std::string::npos);
}

}  // namespace
