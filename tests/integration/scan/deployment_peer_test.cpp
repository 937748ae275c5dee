// Deploying the engine package to a host without lshw, end to end.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "scan/remote_command.h"
#include "scp/scp.h"
#include "ssh2/ssh2.h"
#include "tests/scan/scan_fixture.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/test_server.h"

namespace {

class DeploymentPeerTest : public ::testing::Test, public ScanFixture {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        if (::getpwnam(kDeployUser) == nullptr) FDX_PEER_MISSING() << "no user " << kDeployUser << " (scripts/setup-peers.sh)";
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"InfoOkChb", 1);
    }
    void TearDown() override
    {
        EXPECT_EQ(CSSH2::Current(), nullptr);
        ResetDeployUser();
    }

    // A server on which `which lshw` finds nothing until the deployment
    // puts one into the user's ~/.local/bin.
    std::unique_ptr<CTestServer> BareHost(EServerKind kind = EServerKind::OlderSshd, bool sftp = true)
    {
        ResetDeployUser();
        auto server = StartServer({kind, sftp, {{"/dev/null", "/usr/bin/lshw"}}, {}});
        SetHost("127.0.0.1", server->port(), kDeployUser, SshdPeer::Password());
        return server;
    }
    // The package's own install script, a VERSION and a data file, beside
    // `extra` files.
    std::string Package(const std::string& version, std::map<std::string, std::string> extra)
    {
        extra["install"] = ReadWholeFile(SourceDir() + "/tools/engine/install");
        extra["VERSION"] = version + "\n";
        extra["src/pci.ids"] = "ids of " + version + "\n";
        const std::string package = dir.file("lshw-" + version + ".tar.gz");
        MakePackage(package, version, extra);
        return package;
    }

    // The first message shown, for a failure's text.
    std::string FirstMessage() const { return Messages().empty() ? "" : WideToAnsi(Messages()[0]); }
    bool SawProgress(const std::u16string& text) const
    {
        for (const auto& p : ui.ProgressTexts())
            if (p.text == text) return true;
        return false;
    }
    std::string Installed(const char16_t* value) const
    {
        std::u16string text;
        RegReadString(HKEY_LOCAL_MACHINE, kProductKey, value, text);
        return WideToAnsi(text);
    }
    // The product the scanned lshw reported, which the test's stand-ins use
    // to say where they ran.
    std::string Product() const
    {
        const std::string xml = WideToAnsi(host->m_picture.Text());
        const std::size_t at = xml.find("<product>");
        return at == std::string::npos ? xml : xml.substr(at + 9, xml.find("</product>") - at - 9);
    }
    TempDir dir;
    const std::string home = std::string("/home/") + kDeployUser;
};

// An install script that says where it runs and how that folder is set.
constexpr const char* kReportFolder = "cd .. && echo \"folder $(pwd) $(stat -c '%a %U' .)\" >&2 && cd - >/dev/null\n";

// The folder an install script reported in `message`, and its mode and owner.
std::string ReportedFolder(const std::u16string& message, std::string* modeAndOwner = nullptr)
{
    const std::string text = WideToAnsi(message);
    const std::size_t at = text.find("folder ");
    if (at == std::string::npos) return {};
    const std::size_t end = text.find(' ', at + 7);
    const std::size_t lineEnd = text.find('\n', at);
    if (modeAndOwner != nullptr) *modeAndOwner = text.substr(end + 1, lineEnd - end - 1);
    return text.substr(at + 7, end - at - 7);
}


TEST_F(DeploymentPeerTest, AFailingInstallShowsItsOutputAndItsPrivateFolderIsRemoved)
{
    const std::string package = dir.file("lshw-9.9.tar.gz");
    MakeScriptPackage(package, "9.9",
                      std::string("#!/bin/sh\n") + kReportFolder + "echo 'Vorbex install: no compiler here' >&2\nexit 1\n");
    // Over SFTP, and over the scp sink, whose command carries the folder.
    for (const bool sftp : {true, false}) {
        ResetEnginePackage();
        ui.Clear();
        auto peer = BareHost(EServerKind::OlderSshd, sftp);
        ASSERT_TRUE(peer->running()) << peer->logText();
        DescribeEnginePackage(package, "9.9");
        TempDir localTmp;
        {
            CScopedEnv tmp("TMPDIR", localTmp.path());
            EXPECT_EQ(Expand(), S_FALSE);
        }
        ASSERT_EQ(Messages().size(), 1u);
        const std::string message = WideToAnsi(Messages()[0]);
        std::string modeAndOwner;
        const std::string folder = ReportedFolder(Messages()[0], &modeAndOwner);
        EXPECT_TRUE(message.ends_with("\nVorbex install: no compiler here\n")) << message;
        ASSERT_FALSE(folder.empty()) << message;
        EXPECT_NE(folder, "/tmp") << "the package is unpacked in a folder of its own";
        EXPECT_EQ(modeAndOwner, std::string("700 ") + kDeployUser);
        EXPECT_FALSE(std::filesystem::exists(folder)) << "the folder goes after a failed build too";
        EXPECT_FALSE(std::filesystem::exists("/tmp/lshw-9.9"));
        EXPECT_TRUE(std::filesystem::is_empty(localTmp.path())) << "the upload's private copy is removed";
    }
}

// The upload library's scp sink gets its target path as one word.
TEST_F(DeploymentPeerTest, TheScpSinkTakesAHostilePathAsOneWord)
{
    SshdPeer peer({.sftpSubsystem = false});
    ASSERT_TRUE(peer.running()) << peer.logText();
    const passwd* user = ::getpwnam(SshdPeer::User());
    ASSERT_NE(user, nullptr);
    char pattern[] = "/tmp/fdx-sink-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    ASSERT_EQ(::chown(folder.c_str(), user->pw_uid, user->pw_gid), 0);
    // Run in the login's home, these would leave the marker there.
    const std::string marker = std::string(user->pw_dir) + "/fdx-sink-injected";
    const std::string target = folder + "/a b; touch fdx-sink-injected; #it's $(id) `id`.bin";
    std::ofstream(dir.file("payload")) << "payload bytes";
    ScpJobOptions options;
    options.use_scp = 1;
    options.timeout_seconds = 30;
    const int result = ScpUploadFile("127.0.0.1", peer.port(), SshdPeer::User(), SshdPeer::Password(),
                                     dir.file("payload").c_str(), target.c_str(), nullptr, &options);
    EXPECT_EQ(result, 0) << peer.logText();
    EXPECT_EQ(ReadWholeFile(target), "payload bytes");
    EXPECT_FALSE(std::filesystem::exists(marker));
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TEST_F(DeploymentPeerTest, ABuiltEngineIsScannedAndNothingButItsInstallStaysOnTheHost)
{
    auto peer = BareHost();
    ASSERT_TRUE(peer->running()) << peer->logText();
    const std::set<std::string> before = FilesBelow(home);
    // Installs an lshw whose output names the folder it was built in.
    const std::string install = R"(#!/bin/sh
folder=$(cd .. && pwd)
mkdir -p "$HOME/.local/bin" || exit 1
cat > "$HOME/.local/bin/lshw" <<EOF
#!/bin/sh
echo '<?xml version="1.0"?><node id="box"><node id="cpu"><product>$folder</product></node></node>'
EOF
chmod 755 "$HOME/.local/bin/lshw"
{ echo 'PATH="$HOME/.local/bin:$PATH"'; cat "$HOME/.bashrc"; } > "$HOME/.bashrc.new" && mv "$HOME/.bashrc.new" "$HOME/.bashrc"
)";
    const std::string package = dir.file("lshw-1.2.tar.gz");
    MakeScriptPackage(package, "1.2", install);
    DescribeEnginePackage(package, "1.2");
    // Folders an earlier deployment left when it was killed: this login's
    // old one goes; a recent one (a deployment under way) and another
    // user's stay.
    const std::string tag = std::to_string(::getpid());
    const std::string stale = "/tmp/ferrodex-deploy.stale" + tag, recent = "/tmp/ferrodex-deploy.recent" + tag,
                      foreign = "/tmp/ferrodex-deploy.foreign" + tag;
    for (const std::string& made : {stale, recent, foreign}) std::filesystem::create_directories(made + "/lshw-1.1");
    ASSERT_EQ(std::system(("chown -R " + std::string(kDeployUser) + ": " + stale + " " + recent).c_str()), 0);
    ASSERT_EQ(std::system(("touch -d '3 hours ago' " + stale + " " + foreign).c_str()), 0);
    ASSERT_EQ(Expand(), S_OK) << FirstMessage() << peer->logText();
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(recent));
    EXPECT_TRUE(std::filesystem::exists(foreign));
    std::filesystem::remove_all(recent);
    std::filesystem::remove_all(foreign);
    const std::string folder = Product();
    EXPECT_TRUE(folder.starts_with("/tmp/ferrodex-deploy.")) << folder;
    EXPECT_FALSE(std::filesystem::exists(folder));

    // Only what the install puts there is new in the home; a later scan adds
    // nothing.
    std::set<std::string> expected = before;
    expected.insert({home + "/.local", home + "/.local/bin", home + "/.local/bin/lshw"});
    EXPECT_EQ(FilesBelow(home), expected);
    ASSERT_EQ(Refresh(), S_OK);
    EXPECT_EQ(FilesBelow(home), expected);
}

// With sudo on, the install runs as root and goes system-wide (here into a
// folder laid over /usr/local/sbin for the server's sessions only); when
// sudo refuses, it goes into the login's home, and a note says why.
TEST_F(DeploymentPeerTest, WithSudoTheEngineIsInstalledSystemWideOrElseInTheHome)
{
    if (::geteuid() != 0 || ::access("/usr/bin/sudo", X_OK) != 0 || ::access("/usr/sbin/visudo", X_OK) != 0)
        GTEST_SKIP() << "needs root and sudo (scripts/setup-peers.sh)";
    const std::string sbin = dir.file("sbin");
    std::filesystem::create_directory(sbin);
    // The lshw installed says who installed it, and runs as whom.
    const std::string install = R"SH(#!/bin/sh
if [ "$(id -u)" = 0 ]; then bin=/usr/local/sbin; else bin=$HOME/.local/bin; mkdir -p "$bin"; fi
printf '#!/bin/sh\necho "<node id=\\"box\\"><node id=\\"cpu\\"><product>by %s as $(id -u)</product></node></node>"\n' "$(id -u)" >"$bin/lshw"
chmod 755 "$bin/lshw"
{ echo 'PATH="$HOME/.local/bin:$PATH"'; cat "$HOME/.bashrc"; } > "$HOME/.bashrc.new" && mv "$HOME/.bashrc.new" "$HOME/.bashrc"
)SH";
    const std::string package = dir.file("lshw-1.3.tar.gz");
    MakeScriptPackage(package, "1.3", install);
    DescribeEnginePackage(package, "1.3");
    const char* dropIn = "/etc/sudoers.d/ferrodex-test-deploy";
    struct SRemove {
        const char* path;
        ~SRemove() { std::remove(path); }
    } removeDropIn{dropIn};
    for (const bool allowed : {true, false}) {
        SCOPED_TRACE(allowed ? "sudo allowed" : "sudo refused");
        std::filesystem::remove(sbin + "/lshw");
        std::remove(dropIn);
        if (allowed) {
            std::ofstream(dir.file("rules")) << kDeployUser << " ALL=(root) ALL\n";
            ASSERT_EQ(std::system(("visudo -cqf " + dir.file("rules") + " && install -m 0440 " + dir.file("rules") +
                                   " " + dropIn)
                                      .c_str()),
                      0);
        }
        ResetDeployUser();
        auto server = StartServer(
            {EServerKind::StockSshd, true, {{"/dev/null", "/usr/bin/lshw"}, {sbin, "/usr/local/sbin"}}, {}});
        ASSERT_TRUE(server->running()) << server->logText();
        SetHost("127.0.0.1", server->port(), kDeployUser, SshdPeer::Password());
        host->m_bSudo = true;
        const std::size_t messagesBefore = Messages().size();
        ASSERT_EQ(Expand(), S_OK) << FirstMessage() << server->logText();
        if (allowed) {
            EXPECT_TRUE(std::filesystem::exists(sbin + "/lshw"));
            EXPECT_EQ(Product(), "by 0 as 0");
            EXPECT_EQ(Messages().size(), messagesBefore);
        } else {
            EXPECT_FALSE(std::filesystem::exists(sbin + "/lshw"));
            EXPECT_EQ(Product().find("by 0"), std::string::npos) << Product();
            ASSERT_GT(Messages().size(), messagesBefore);
            EXPECT_NE(WideToAnsi(Messages()[messagesBefore]).find("installed into the login's home"), std::string::npos)
                << WideToAnsi(Messages()[messagesBefore]);
        }
    }
}

// The machine name of this host, as `uname -m` prints it.
std::string ThisMachine()
{
    utsname name{};
    ::uname(&name);
    return EngineArchitecture(name.machine);
}

// A folder holding only the basic tools the scan and the deployment use, as
// links to the system's: no compiler, no make, no lshw.
class CBasicTools {
public:
    CBasicTools()
    {
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms(0755));
        for (const char* tool : {"cat", "mktemp", "rm", "uname", "tar", "gzip", "id", "mkdir", "cp", "chmod", "mv",
                                 "grep", "getconf", "tail", "ls", "head", "wc", "sleep", "readlink", "timeout"}) {
            for (const char* bin : {"/usr/bin/", "/bin/"}) {
                if (std::filesystem::exists(std::string(bin) + tool)) {
                    std::filesystem::create_symlink(std::string(bin) + tool, m_dir.file(tool));
                    break;
                }
            }
        }
    }
    const std::string& path() const { return m_dir.path(); }

private:
    TempDir m_dir;
};

// A host whose commands run with PATH holding only the basic tools, and no
// lshw in the deployment user's home.
class NoCompilerHostTest : public DeploymentPeerTest {
protected:
    void SetUp() override
    {
        DeploymentPeerTest::SetUp();
        if (IsSkipped()) return;
        ResetDeployUser();
        peer = std::make_unique<SshdPeer>(SshdOptions{.extraConfig = {"SetEnv PATH=" + tools.path()}});
        ASSERT_TRUE(peer->running()) << peer->logText();
        SetHost("127.0.0.1", peer->port(), kDeployUser, SshdPeer::Password());
    }

    CBasicTools tools;
    std::unique_ptr<SshdPeer> peer;
};

// Stands in for a prebuilt lshw: it tells the folder it runs in and the data
// file it finds there.
constexpr const char* kFakePrebuilt = R"(#!/bin/sh
[ "$1" = -help ] && exit 0
echo "<?xml version='1.0'?><node id='box'><node id='cpu'><product>$(pwd) $(cat pci.ids)</product></node></node>"
)";

TEST_F(NoCompilerHostTest, GetsThePrebuiltEngineWhichRunsFromItsDataFolder)
{
    const std::string arch = ThisMachine();
    DescribeEnginePackage(Package("3.0", {{"prebuilt/" + arch + "/lshw", kFakePrebuilt}}), "3.0", "riscv64 " + arch);
    ASSERT_EQ(Expand(), S_OK) << FirstMessage() << peer->logText();
    EXPECT_EQ(Product(), home + "/.local/share/lshw ids of 3.0");
    EXPECT_TRUE(SawProgress(u"Installing Vorbex: prebuilt lshw for " + AnsiToWide(arch) + u"..."));
    EXPECT_TRUE(SawProgress(u"Vorbex installed: prebuilt lshw for " + AnsiToWide(arch)));
    EXPECT_EQ(Installed(u"LSHWInstalledArch"), arch);
    EXPECT_EQ(Installed(u"LSHWInstalledFrom"), "prebuilt");
}

// No prebuilt binary for the host, or one that does not run there: the
// install says which compiler is missing, and nothing is left installed.
TEST_F(NoCompilerHostTest, WithoutAFittingPrebuiltEngineNamesTheMissingCompiler)
{
    const std::string arch = ThisMachine();
    struct Case {
        std::string version;
        std::map<std::string, std::string> files;
        std::string architectures;
        std::string why;
    };
    const Case cases[] = {
        {"4.0", {}, "", "this package has no prebuilt lshw for " + arch},
        {"4.1", {{"prebuilt/not-" + arch + "/lshw", kFakePrebuilt}}, "not-" + arch,
         "this package has no prebuilt lshw for " + arch},
        {"4.2", {{"prebuilt/" + arch + "/lshw", "#!/bin/sh\nexit 126\n"}}, arch,
         "the prebuilt lshw for " + arch + " does not run on this host"},
    };
    for (const Case& c : cases) {
        ResetEnginePackage();
        ui.Clear();
        DescribeEnginePackage(Package(c.version, c.files), c.version, c.architectures);
        EXPECT_EQ(Expand(), S_FALSE) << c.version;
        ASSERT_EQ(Messages().size(), 1u) << c.version;
        const std::string message = WideToAnsi(Messages()[0]);
        EXPECT_NE(message.find("Vorbex install: " + c.why + ", and there is no C++ compiler (g++) on this host"),
                  std::string::npos)
            << message;
        EXPECT_FALSE(std::filesystem::exists(home + "/.local/bin/lshw")) << c.version;
        EXPECT_FALSE(std::filesystem::exists(home + "/.local/lib/lshw/lshw")) << c.version;
    }
}

// A prebuilt binary that does not run is replaced by one built from the
// source on a host that has the tools.
TEST_F(DeploymentPeerTest, APrebuiltEngineThatDoesNotRunIsBuiltFromTheSource)
{
    auto server = BareHost();
    ASSERT_TRUE(server->running()) << server->logText();
    const std::string arch = ThisMachine();
    // The "build" writes the data folder it was given into the program.
    const std::string makefile = "lshw:\n\tsed 's|@DATADIR@|$(DATADIR)|' lshw.in >lshw\n";
    const std::string program =
        "#!/bin/sh\necho \"<?xml version='1.0'?><node id='box'><node id='cpu'><product>@DATADIR@</product></node></node>\"\n";
    DescribeEnginePackage(Package("5.0", {{"src/Makefile", makefile},
                                          {"src/lshw.in", program},
                                          {"prebuilt/" + arch + "/lshw", "#!/bin/sh\nexit 1\n"}}),
                          "5.0", arch);
    ASSERT_EQ(Expand(), S_OK) << FirstMessage() << server->logText();
    EXPECT_EQ(Product(), home + "/.local/share/lshw");
    EXPECT_TRUE(SawProgress(u"Installing Vorbex: prebuilt lshw for " + AnsiToWide(arch) + u"..."));
    EXPECT_TRUE(SawProgress(u"Vorbex installed: lshw built from source for " + AnsiToWide(arch)));
    EXPECT_EQ(Installed(u"LSHWInstalledFrom"), "source");
    EXPECT_FALSE(std::filesystem::exists(home + "/.local/lib/lshw/lshw"));
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
    if (const std::string why = ServerUnavailable(kind); !why.empty()) FDX_PEER_MISSING() << why;
    auto server = BareHost(kind, sftp);
    ASSERT_TRUE(server->running()) << server->logText();
    DescribeEnginePackage(package, version);
    ASSERT_EQ(Expand(), S_OK) << FirstMessage() << server->logText();
    EXPECT_FALSE(host->GetChildren().empty());
    EXPECT_TRUE(SawProgress(u"Installing Vorbex..."));
}

// The real package without its prebuilt binaries: lshw is built from the
// source on the host, and finds its data files where the build put them.
TEST_F(DeploymentPeerTest, TheRealPackageWithoutPrebuiltEnginesIsBuiltFromTheSource)
{
    const char* package = std::getenv("FDX_ENGINE_PACKAGE");
    if (package == nullptr || !std::filesystem::exists(package)) GTEST_SKIP() << "FDX_ENGINE_PACKAGE is not set";
    const std::string version = std::getenv("FDX_ENGINE_VERSION");
    TempDir stage;
    const std::string sourceOnly = dir.file("lshw-" + version + ".tar.gz");
    ASSERT_EQ(std::system(("tar -C '" + stage.path() + "' -xzf '" + package + "' && rm -r '" + stage.path() + "/lshw-" +
                           version + "/prebuilt' && tar -C '" + stage.path() + "' -czf '" + sourceOnly + "' 'lshw-" +
                           version + "'")
                              .c_str()),
              0);
    auto server = BareHost();
    ASSERT_TRUE(server->running()) << server->logText();
    DescribeEnginePackage(sourceOnly, version);
    ASSERT_EQ(Expand(), S_OK) << FirstMessage() << server->logText();
    EXPECT_FALSE(host->GetChildren().empty());
    EXPECT_TRUE(SawProgress(u"Vorbex installed: lshw built from source for " + AnsiToWide(ThisMachine())));
    EXPECT_TRUE(std::filesystem::exists(home + "/.local/share/lshw/pci.ids"));
    EXPECT_FALSE(std::filesystem::exists(home + "/.local/lib/lshw/lshw"));
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

// A server whose SFTP never answers: the upload stalls. It stops at the
// scan's command limit (as --timeout sets it), not at a limit of its own,
// and the message says that the upload stopped.
TEST_F(DeploymentPeerTest, AStalledUploadStopsAtTheCommandLimitAndSaysSo)
{
    const std::string package = dir.file("lshw-9.9.tar.gz");
    MakeScriptPackage(package, "9.9", "#!/bin/sh\nexit 1\n");
    ResetEnginePackage();
    ResetDeployUser();
    SshdPeer peer({.extraConfig = {"Subsystem sftp /bin/sleep 60"},
                   .sftpSubsystem = false,
                   .bindMounts = {{"/dev/null", "/usr/bin/lshw"}}});
    ASSERT_TRUE(peer.running()) << peer.logText();
    SetHost("127.0.0.1", peer.port(), kDeployUser, SshdPeer::Password());
    DescribeEnginePackage(package, "9.9");
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"CommandTimeoutSeconds", 3);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Expand(), S_FALSE);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::seconds(30)) << "the upload kept a limit of its own";
    ASSERT_FALSE(Messages().empty());
    EXPECT_NE(WideToAnsi(Messages().back()).find("upload"), std::string::npos) << WideToAnsi(Messages().back());
}

}  // namespace
