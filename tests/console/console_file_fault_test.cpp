// The console file under faults, through the real program: write
// protection, ownership, read-only storage, missing folders, temporary files
// left by killed saves, and a refresh that hangs on the network while other
// commands work on the same file.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "tests/console/command_fixture.h"

namespace {

namespace fs = std::filesystem;

class ConsoleFileFaultTest : public CCommandFixture {
protected:
    // The group names of the console file, as `tree --json` lists them.
    std::vector<std::string> Groups(const std::string& console) { return Names(JsonOn(console, {"tree", "--json"})); }
    std::vector<std::string> Groups() { return Groups(m_console); }
    static struct stat StatOf(const std::string& path)
    {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info;
    }
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ConsoleFileFaultTest, ReadOnlyFileIsReadButNeverReplaced)
{
    Ok({"group", "add", "Lab"});
    ASSERT_EQ(::chmod(m_console.c_str(), 0444), 0);
    const std::string before = ReadWholeFile(m_console);
    const ino_t original = StatOf(m_console).st_ino;
    // Refused even for root, who could write it.
    const RunResult changed = Run({"group", "add", "Prod"});
    EXPECT_EQ(changed.status, 1);
    EXPECT_TRUE(Contains(changed.err, "is read-only")) << changed.err;
    EXPECT_EQ(StatOf(m_console).st_ino, original) << "the file was replaced";
    EXPECT_EQ(StatOf(m_console).st_mode & 07777, 0444u);
    EXPECT_EQ(ReadWholeFile(m_console), before);
    EXPECT_EQ(Groups(), (std::vector<std::string>{"Lab"}));
}

TEST_F(ConsoleFileFaultTest, SavingKeepsOwnerGroupAndMode)
{
    Ok({"group", "add", "Lab"});
    ASSERT_EQ(::chmod(m_console.c_str(), 0640), 0);
    Ok({"group", "add", "Prod"});
    EXPECT_EQ(StatOf(m_console).st_mode & 07777, 0640u);

    const passwd* user = ::getpwnam("fdxtest");
    if (::geteuid() != 0 || user == nullptr) GTEST_SKIP() << "needs root and the user fdxtest";
    ASSERT_EQ(::chown(m_console.c_str(), user->pw_uid, user->pw_gid), 0);
    Ok({"group", "add", "Test"});
    const struct stat info = StatOf(m_console);
    EXPECT_EQ(info.st_uid, user->pw_uid) << "root's save took the user's file";
    EXPECT_EQ(info.st_gid, user->pw_gid);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Groups(), (std::vector<std::string>{"Lab", "Prod", "Test"}));
}

// A tmpfs mounted for the test and unmounted at its end, whatever happens.
class CScratchMount {
public:
    explicit CScratchMount(std::string path) : m_path(std::move(path))
    {
        fs::create_directory(m_path);
        m_mounted = ::mount("fdx-test", m_path.c_str(), "tmpfs", 0, "size=4m,mode=0700") == 0;
    }
    ~CScratchMount()
    {
        if (m_mounted) ::umount2(m_path.c_str(), MNT_DETACH);
    }
    CScratchMount(const CScratchMount&) = delete;
    CScratchMount& operator=(const CScratchMount&) = delete;
    bool Mounted() const { return m_mounted; }
    bool MakeReadOnly()
    {
        return ::mount(nullptr, m_path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::string m_path;
    bool m_mounted = false;
};

TEST_F(ConsoleFileFaultTest, ReadOnlyStorageIsReadAndChangesSayWhy)
{
    CScratchMount mount(m_dir.file("mnt"));
    if (!mount.Mounted()) GTEST_SKIP() << "mounting is not permitted here";
    const std::string console = m_dir.file("mnt/inventory.fdx");
    OkOn(console, {"group", "add", "Lab"});
    fs::remove(console + ".lock");  // read-only storage has no lock file either
    ASSERT_TRUE(mount.MakeReadOnly());

    EXPECT_EQ(Groups(console), (std::vector<std::string>{"Lab"}));
    const RunResult shown = RunOn(console, {"show", "Lab"});
    EXPECT_EQ(shown.status, 0) << shown.err;
    const RunResult changed = RunOn(console, {"group", "add", "Prod"});
    EXPECT_EQ(changed.status, 1);
    EXPECT_TRUE(Contains(changed.err, "Read-only file system")) << changed.err;
    EXPECT_FALSE(Contains(changed.err, "in use")) << changed.err;
}

TEST_F(ConsoleFileFaultTest, MissingFolderOrFileIsNamed)
{
    const std::string console = m_dir.file("no-such-folder/inventory.fdx");
    const RunResult listed = RunOn(console, {"tree"});
    EXPECT_EQ(listed.status, 1);
    EXPECT_TRUE(Contains(listed.err, "does not exist")) << listed.err;
    EXPECT_TRUE(listed.out.empty()) << listed.out;
    const RunResult shown = RunOn(m_dir.file("typo.fdx"), {"show", "Lab"});
    EXPECT_EQ(shown.status, 1);
    EXPECT_TRUE(Contains(shown.err, "typo.fdx does not exist")) << shown.err;
    EXPECT_FALSE(fs::exists(m_dir.file("typo.fdx")));

    const RunResult changed = RunOn(console, {"group", "add", "Lab"});
    EXPECT_EQ(changed.status, 1);
    EXPECT_TRUE(Contains(changed.err, "folder " + m_dir.file("no-such-folder") + " does not exist")) << changed.err;
    EXPECT_FALSE(Contains(changed.err, "in use")) << changed.err;
}

TEST_F(ConsoleFileFaultTest, SaveRemovesOnlyItsOwnStaleTemporaryFiles)
{
    Ok({"group", "add", "Lab"});
    const auto write = [&](const std::string& name, bool old) {
        const std::string path = m_dir.file(name);
        std::ofstream(path) << "partial";
        if (old) fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(2));
        return path;
    };
    const std::string stale = write("inventory.fdx.tmp-Ab3xQ9", true);
    const std::string fresh = write("inventory.fdx.tmp-Cd4yR0", false);
    const std::string busy = write("inventory.fdx.tmp-Ef5zS1", true);
    const std::string foreign = write("other.fdx.tmp-Gh6aT2", true);
    const std::string unlike = write("inventory.fdx.tmp-Ij7bU3x", true);
    // A save still writing its file holds it locked.
    const int held = ::open(busy.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::string otherUsers;
    if (const passwd* user = ::getpwnam("fdxtest"); user != nullptr && ::geteuid() == 0) {
        otherUsers = write("inventory.fdx.tmp-Kl8cV4", true);
        ASSERT_EQ(::chown(otherUsers.c_str(), user->pw_uid, user->pw_gid), 0);
    }

    Ok({"group", "add", "Prod"});
    ::close(held);
    EXPECT_FALSE(fs::exists(stale));
    for (const std::string& kept : {fresh, busy, foreign, unlike, otherUsers})
        EXPECT_TRUE(kept.empty() || fs::exists(kept)) << kept;
    EXPECT_EQ(Groups(), (std::vector<std::string>{"Lab", "Prod"}));
}

// A TCP listener that never accepts, so that a client connected to it waits
// for a server's first words until the listener hangs up.
class CSilentListener {
public:
    CSilentListener()
    {
        m_listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listening >= 0 && ::bind(m_listening, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(m_listening, 8) == 0 &&
            ::getsockname(m_listening, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~CSilentListener() { HangUp(); }
    CSilentListener(const CSilentListener&) = delete;
    CSilentListener& operator=(const CSilentListener&) = delete;
    int Port() const { return m_port; }
    // Waits up to `seconds` for a client to connect.
    bool Connected(int seconds)
    {
        pollfd ready{m_listening, POLLIN, 0};
        return ::poll(&ready, 1, seconds * 1000) == 1;
    }
    // Closing the listener resets the connection it holds unaccepted.
    void HangUp()
    {
        if (m_listening >= 0) ::close(m_listening);
        m_listening = -1;
    }

private:
    int m_listening = -1;
    int m_port = 0;
};

TEST_F(ConsoleFileFaultTest, HangingRefreshLetsOthersWorkAndKeepsTheirSaves)
{
    CSilentListener listener;
    ASSERT_NE(listener.Port(), 0);
    Ok({"group", "add", "Lab"});
    Ok({"host", "add", "Lab", "127.0.0.1", "--port", std::to_string(listener.Port()), "--login", "root",
        "--password-stdin"}, "pw\n");

    std::future<RunResult> refresh = std::async(std::launch::async, [&] {
        return Run({"host", "refresh", "Lab/127.0.0.1", "--login", "root", "--password-stdin"}, "pw\n");
    });
    // Once connected, the refresh waits on the network for the server's
    // first words. The other commands neither wait for it nor fail.
    ASSERT_TRUE(listener.Connected(60)) << "the refresh never connected";
    EXPECT_EQ(Groups(), (std::vector<std::string>{"Lab"}));
    Ok({"group", "add", "Prod"});
    EXPECT_EQ(refresh.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "the refresh ended before the others ran; nothing was tested";
    listener.HangUp();

    const RunResult refreshed = refresh.get();
    EXPECT_NE(refreshed.status, 0);
    EXPECT_FALSE(Contains(refreshed.err, "in use")) << refreshed.err;
    EXPECT_EQ(Groups(), (std::vector<std::string>{"Lab", "Prod"}));
}

}  // namespace
