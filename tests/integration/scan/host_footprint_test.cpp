// A scan that Ferrodex gives up on leaves the host as it found it: `ferrodex
// host refresh` against a real sshd and a real Dropbear whose lshw is a
// stand-in that never ends, ignores SIGTERM or floods its output. Once the
// refresh has given up (its time limit, its output limit, or the refresh
// killed with SIGKILL: to the host, as a connection cut under the scan), no
// process of the scan and no file of it may stay on the host.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/registry.h"
#include "scan/engine_deployment.h"
#include "scan/scan_limits.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"
#include "tests/support/test_server.h"

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

uid_t UserId(const char* user)
{
    const passwd* entry = ::getpwnam(user);
    return entry != nullptr ? entry->pw_uid : static_cast<uid_t>(-1);
}

// A process can end while its /proc files are read: the read then fails
// (ESRCH) and gives what came before it.
std::string ReadText(const std::string& path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}

struct SHostProcess {
    pid_t pid = 0;
    std::string command;  // the arguments, separated by spaces
    std::string mounts;   // the mount namespace
};

// The user's processes, as /proc shows them now.
std::vector<SHostProcess> UserProcesses(const char* user)
{
    std::vector<SHostProcess> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0 || info.st_uid != UserId(user)) continue;
        SHostProcess process;
        process.pid = static_cast<pid_t>(std::stol(name));
        process.command = ReadText(entry.path().string() + "/cmdline");
        for (char& c : process.command)
            if (c == '\0') c = ' ';
        process.mounts = std::filesystem::read_symlink(entry.path() / "ns" / "mnt", error).string();
        // A zombie is gone but for its parent's wait.
        const std::string stat = ReadText(entry.path().string() + "/stat");
        if (const std::size_t end = stat.rfind(") "); end != std::string::npos && stat.compare(end + 2, 1, "Z") == 0)
            continue;
        found.push_back(process);
    }
    return found;
}

// What runs in the server's mount namespace as the user, as a list for
// a failure's message; empty when nothing does.
std::string ScanProcesses(const std::string& mounts, const char* user = SshdPeer::User())
{
    std::string list;
    for (const SHostProcess& process : UserProcesses(user))
        if (process.mounts == mounts) list += std::to_string(process.pid) + " " + process.command + "\n";
    return list;
}

// The entries owned by the user in /tmp (its top level) and below its home.
std::set<std::string> UserFiles(const char* user = SshdPeer::User())
{
    std::set<std::string> files;
    const auto add = [&files, user](const std::filesystem::path& path) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && info.st_uid == UserId(user)) files.insert(path.string());
    };
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp", error)) add(entry.path());
    const auto options = std::filesystem::directory_options::skip_permission_denied;
    for (auto it = std::filesystem::recursive_directory_iterator("/home/" + std::string(user), options, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        add(it->path());
    return files;
}

// `ferrodex host refresh` run in the background, its output in files.
class CRefresh {
public:
    CRefresh(const TempDir& dir, const std::string& console) : m_err(dir.file("refresh.err"))
    {
        const std::string input = dir.file("refresh.in");
        std::ofstream(input) << SshdPeer::Password() << "\n";
        const std::vector<std::string> args = {FerrodexBinary(), "--console", console, "host", "refresh",
                                               "Lab/127.0.0.1", "--login", SshdPeer::User(), "--password-stdin"};
        m_pid = ::fork();
        if (m_pid == 0) {
            const int in = ::open(input.c_str(), O_RDONLY);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int out = ::open("/dev/null", O_WRONLY);
            if (in < 0 || err < 0 || out < 0) ::_exit(126);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            std::vector<char*> argv;
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~CRefresh()
    {
        if (m_pid <= 0 || Ended()) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &m_nStatus, 0);
    }
    CRefresh(const CRefresh&) = delete;
    CRefresh& operator=(const CRefresh&) = delete;

    bool Ended()
    {
        if (m_bEnded) return true;
        m_bEnded = ::waitpid(m_pid, &m_nStatus, WNOHANG) == m_pid;
        return m_bEnded;
    }
    void Kill() { ::kill(m_pid, SIGKILL); }
    int Status() const { return WIFEXITED(m_nStatus) ? WEXITSTATUS(m_nStatus) : 128 + WTERMSIG(m_nStatus); }
    std::string Err() const { return ReadText(m_err); }

private:
    std::string m_err;
    pid_t m_pid = -1;
    int m_nStatus = 0;
    bool m_bEnded = false;
};

enum class EGiveUp { TimeLimit, OutputLimit, Killed };

struct SFootprintCase {
    const char* name;
    // The stand-in's body after it started its marked child.
    const char* lshw;
    EGiveUp giveUp;
    const char* message;  // what the refresh says, for the limits
};

class HostFootprintTest : public ::testing::TestWithParam<EServerKind> {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        if (const std::string missing = ServerUnavailable(GetParam()); !missing.empty()) FDX_PEER_MISSING() << missing;
        if (::geteuid() != 0) GTEST_SKIP() << "reading the login's processes needs root";
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, kCommandTimeoutSetting, 3);
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, kMaxOutputSetting, 1);
    }

    // Runs one case to its end and checks what stays on the host.
    void Run(const SFootprintCase& c)
    {
        SCOPED_TRACE(c.name);
        // Every stand-in first starts a child that is this case's own, so
        // that the scan's processes can be found among the login's.
        const std::string token = "9" + std::to_string(::getpid()) + std::to_string(++m_nCase);
        const std::string lshw = dir.file(std::string("lshw-") + std::to_string(m_nCase));
        std::ofstream(lshw) << "#!/bin/sh\nsleep " << token << " &\n" << c.lshw << "\n";
        ::chmod(lshw.c_str(), 0755);
        const auto server = StartServer({GetParam(), true, {{lshw, "/usr/bin/lshw"}}, {}});
        ASSERT_TRUE(server->running()) << server->logText();
        const int port = server->port();
        const std::string console = dir.file(std::string("inventory-") + std::to_string(m_nCase) + ".fdx");
        ASSERT_TRUE(AddPeerHost("--console " + console, "Lab", "127.0.0.1", port));
        const std::set<std::string> filesBefore = UserFiles();

        CRefresh refresh(dir, console);
        std::string mounts;
        const auto scanRunning = [&] {
            for (const SHostProcess& process : UserProcesses(SshdPeer::User()))
                if (process.command.find("sleep " + token) != std::string::npos) mounts = process.mounts;
            return !mounts.empty() || refresh.Ended();
        };
        ASSERT_TRUE(WaitUntil(scanRunning, std::chrono::seconds(30))) << "the stand-in lshw never ran";
        ASSERT_FALSE(mounts.empty()) << "the refresh ended before lshw ran: " << refresh.Err() << server->logText();
        if (c.giveUp == EGiveUp::Killed) refresh.Kill();
        ASSERT_TRUE(WaitUntil([&] { return refresh.Ended(); }, std::chrono::seconds(30)))
            << "the refresh never gave up";
        const auto gaveUp = Clock::now();
        if (c.giveUp == EGiveUp::Killed) {
            EXPECT_EQ(refresh.Status(), 128 + SIGKILL);
        } else {
            EXPECT_NE(refresh.Status(), 0) << refresh.Err();
            if (c.message != nullptr) {
                EXPECT_NE(refresh.Err().find(c.message), std::string::npos) << refresh.Err();
            }
        }

        // Within a few seconds nothing of the scan is left on the host.
        EXPECT_TRUE(WaitUntil([&] { return ScanProcesses(mounts).empty(); }, std::chrono::seconds(15)))
            << "still running on the host:\n" << ScanProcesses(mounts);
        // Only new files count: the login's others may come and go meanwhile.
        const auto left = [&filesBefore] {
            std::string names;
            for (const std::string& file : UserFiles())
                if (filesBefore.count(file) == 0) names += file + " ";
            return names;
        };
        EXPECT_TRUE(WaitUntil([&] { return left().empty(); }, std::chrono::seconds(10)))
            << "files of the scan stayed on the host: " << left();
        const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - gaveUp).count();
        RecordProperty(std::string(c.name) + "_cleanup_ms", static_cast<int>(seconds));
    }

    TempRegistry registry;
    TempDir dir;
    int m_nCase = 0;
};

TEST_P(HostFootprintTest, AScanThatIsGivenUpLeavesNoProcessAndNoFile)
{
    constexpr const char* kNotFinished = "lshw did not finish within 3 seconds";
    constexpr const char* kTooLarge = "the host's lshw output is larger than 1 MiB";
    const SFootprintCase cases[] = {
        {"never ends, time limit", "wait", EGiveUp::TimeLimit, kNotFinished},
        // Its children inherit the ignored signals: only SIGKILL ends them.
        {"ignores SIGTERM, time limit", "trap '' TERM HUP INT PIPE\nwhile :; do sleep 1; done", EGiveUp::TimeLimit,
         kNotFinished},
        // The floods start after a second, as a real lshw first probes the
        // hardware: a flood from the first instant can end the scan before
        // the test has seen the marked child among the login's processes.
        {"floods its XML, output limit", "sleep 1\nexec yes '<node/>'", EGiveUp::OutputLimit, kTooLarge},
        {"floods its messages, output limit", "trap '' PIPE\nsleep 1\nexec yes 'lshw: warning' >&2",
         EGiveUp::OutputLimit, kTooLarge},
        {"ignores SIGTERM, refresh killed", "trap '' TERM HUP INT PIPE\nwhile :; do sleep 1; done", EGiveUp::Killed,
         nullptr},
    };
    for (const SFootprintCase& c : cases) {
        Run(c);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, HostFootprintTest,
                         ::testing::Values(EServerKind::StockSshd, EServerKind::StockDropbear),
                         [](const ::testing::TestParamInfo<EServerKind>& param) { return ServerKindName(param.param); });

// The deployment's install step (a build may take minutes) is given up on
// as a scan is: the install and what it started end, and the deployment's
// folder goes although the session that made it is gone.
class DeploymentFootprintTest : public ::testing::Test, public ScanFixture {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        if (::getpwnam(kDeployUser) == nullptr) FDX_PEER_MISSING() << "no user " << kDeployUser;
        if (::geteuid() != 0) GTEST_SKIP() << "reading the user's processes needs root";
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"InfoOkChb", 1);
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, kCommandTimeoutSetting, 3);
    }
    TempDir dir;
};

TEST_F(DeploymentFootprintTest, AnInstallThatIsGivenUpEndsAndItsFolderGoes)
{
    const std::string token = "8" + std::to_string(::getpid());
    const std::string package = dir.file("lshw-9.9.tar.gz");
    MakeScriptPackage(package, "9.9",
                      "#!/bin/sh\nsleep " + token + " &\ntrap '' TERM HUP INT PIPE\nwhile :; do sleep 1; done\n");
    const auto server = StartServer({EServerKind::StockSshd, true, {{"/dev/null", "/usr/bin/lshw"}}, {}});
    ASSERT_TRUE(server->running()) << server->logText();
    SetHost("127.0.0.1", server->port(), kDeployUser, SshdPeer::Password());
    DescribeEnginePackage(package, "9.9");
    const std::set<std::string> filesBefore = UserFiles(kDeployUser);

    HRESULT result = S_OK;
    std::thread scan([&] { result = Expand(); });
    std::string mounts;
    WaitUntil(
        [&] {
            for (const SHostProcess& process : UserProcesses(kDeployUser))
                if (process.command.find("sleep " + token) != std::string::npos) mounts = process.mounts;
            return !mounts.empty();
        },
        std::chrono::seconds(30));
    scan.join();
    ASSERT_FALSE(mounts.empty()) << "the install never ran";
    EXPECT_EQ(result, S_FALSE);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], u"Connection Timeout: the command did not finish within 3 seconds");
    EXPECT_TRUE(WaitUntil([&] { return ScanProcesses(mounts, kDeployUser).empty(); }, std::chrono::seconds(15)))
        << "still running on the host:\n" << ScanProcesses(mounts, kDeployUser);
    EXPECT_TRUE(WaitUntil([&] { return UserFiles(kDeployUser) == filesBefore; }, std::chrono::seconds(5)))
        << "files of the deployment stayed on the host";
}

}  // namespace
