// Scans through a real sudo (Debian's) behind a real sshd, driven through
// `ferrodex`: each case installs its own sudoers drop-in for the test login
// and removes it again, also when the case fails.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

namespace {

constexpr const char* kDropIn = "/etc/sudoers.d/ferrodex-test-scan";
constexpr const char* kNotice =
    "Scanned without root rights: memory modules, serial numbers and firmware details may be missing.";

using Result = RunResult;


// The drop-in for as long as the object lives; checked by visudo first.
class CSudoersDropIn {
public:
    CSudoersDropIn(const TempDir& dir, const std::string& rules)
    {
        if (rules.empty()) return;
        const std::string draft = dir.file("sudoers-draft");
        std::ofstream(draft) << rules;
        m_bValid = std::system(("visudo -cqf " + draft + " >/dev/null").c_str()) == 0 &&
                   std::system(("install -m 0440 -o root -g root " + draft + " " + kDropIn).c_str()) == 0;
    }
    ~CSudoersDropIn() { std::remove(kDropIn); }
    CSudoersDropIn(const CSudoersDropIn&) = delete;
    CSudoersDropIn& operator=(const CSudoersDropIn&) = delete;
    bool valid() const { return m_bValid; }

private:
    bool m_bValid = true;
};

// Every regular file below `folder` that holds `secret`.
std::string FilesHolding(const std::string& folder, const std::string& secret)
{
    std::string found;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (!entry.is_regular_file()) continue;
        if (ReadWholeFile(entry.path().string()).find(secret) != std::string::npos) found += entry.path().string() + " ";
    }
    return found;
}

class SudoPeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        if (::geteuid() != 0) GTEST_SKIP() << "installing sudoers rules needs root";
        for (const char* program : {"/usr/bin/sudo", "/usr/sbin/visudo", "/usr/bin/lshw"})
            if (::access(program, X_OK) != 0) FDX_PEER_MISSING() << program << " is missing (scripts/setup-peers.sh)";
        console = "--console " + dir.file("inventory.fdx");
        ::mkdir(dir.file("state").c_str(), 0700);
    }

    // Adds the host with sudo on, refreshes it in a second process (the
    // setting comes from the console file) with `password` as the host's,
    // and prints its tree.
    void Scan(const SshdPeer& peer, const std::string& password)
    {
        ASSERT_TRUE(AddPeerHost(console, "Lab", "127.0.0.1", peer.port(), " --sudo"));
        refresh = RunFerrodexLine(console + " host refresh Lab/127.0.0.1" + TestLogin(), password + "\n");
        tree = RunFerrodexLine(console + " tree Lab/127.0.0.1 --json --login root");
        ASSERT_EQ(tree.status, 0) << tree.err;
    }

    // No copy of the password in the packet log (kept at its full level),
    // the server's log and files, or any file of the test.
    void ExpectPasswordNowhere(const SshdPeer& peer, const std::string& password)
    {
        const std::string log = ReadWholeFile(dir.file("state") + "/ferrodex/ssh2.log");
        EXPECT_NE(log.find("SSH2_MSG_CHANNEL_DATA"), std::string::npos) << "no full packet log was written";
        EXPECT_EQ(FilesHolding(dir.path(), password), "");
        EXPECT_EQ(FilesHolding(peer.folder(), password), "");
        EXPECT_EQ(peer.logText().find(password), std::string::npos);
    }

    TempRegistry registry;
    TempDir dir;
    CScopedEnv state{"XDG_STATE_HOME", dir.file("state")};
    CScopedEnv packetLog{"FERRODEX_PACKET_LOG", "full"};
    std::string console;
    Result refresh;
    Result tree;
};

// A file of the test in the login's home for as long as the object lives,
// with the folders it needed.
class CLoginFile {
public:
    CLoginFile(const std::string& home, const std::string& relative, const std::string& text)
    {
        std::filesystem::path path = home;
        for (const auto& part : std::filesystem::path(relative).parent_path()) {
            path /= part;
            if (!std::filesystem::exists(path)) {
                std::filesystem::create_directory(path);
                m_made.insert(m_made.begin(), path);
            }
        }
        m_path = home + "/" + relative;
        std::ofstream(m_path) << text;
        ::chmod(m_path.c_str(), 0755);
        const std::string owner = std::string(SshdPeer::User()) + ": ";
        std::string chown = "chown " + owner;
        for (const auto& made : m_made) chown += made.string() + " ";
        std::system((chown + m_path).c_str());
    }
    ~CLoginFile()
    {
        std::remove(m_path.c_str());
        for (const auto& made : m_made) std::filesystem::remove(made);
    }
    CLoginFile(const CLoginFile&) = delete;
    CLoginFile& operator=(const CLoginFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::vector<std::filesystem::path> m_made;
};

std::string Rules(const TempDir& dir, const std::string& extra)
{
    return "Defaults:" + std::string(SshdPeer::User()) + " logfile=" + dir.file("sudo.log") + "\n" + extra;
}

// How a case's lshw ran: as root through sudo, without root rights after
// sudo answered, or without root rights and sudo never asked to run it.
enum class ERan { AsRoot, Refused, SudoNotAsked };

struct SSudoCase {
    const char* name;
    std::string rules;  // the drop-in; none when empty
    std::string sudo;   // a forged sudo over /usr/bin/sudo, when not empty
    std::string lshw;   // laid over /usr/bin/lshw, when not empty
    ERan ran;
    std::vector<std::string> told;  // in what the refresh says
};

// A forged sudo: it says a password is required, then runs `shows` where the
// real sudo would prompt, and keeps what it is given in `caught`.
std::string ForgedSudo(const std::string& shows, const std::string& caught)
{
    return "#!/bin/sh\ncase \" $* \" in *' -n '*) echo 'sudo: a password is required' >&2; exit 1;; esac\n" + shows +
           "\nIFS= read -r got; printf '%s\\n' \"$got\" >>" + caught +
           "\necho 'sudo: 1 incorrect password attempt' >&2; exit 1\n";
}

// Each case installs its own sudoers drop-in (or none), starts its own sshd
// and scans through `ferrodex`:
//  - allowed sudo, with or without a password asked, scans as root;
//  - sudo refusing (not in sudoers; targetpw, so the login's password is
//    wrong; requiretty) tells the cause and scans without root rights;
//  - a forged sudo whose key checks out shows a prompt of its own (a classic
//    one, sudo's message again, this run's prompt behind other text) and
//    gets no password;
//  - sudo may run the login's own lshw as root (the rule names it), yet only
//    root's own lshw runs through sudo: an lshw first on the login's PATH, or
//    one on root's folders that the login owns, runs without root.
TEST_F(SudoPeerTest, ScansThroughSudoAsRootOnlyWhereSudoAndLshwAreRootsOwn)
{
    const std::string user = SshdPeer::User();
    const std::string home = "/home/" + user;
    const std::string caught = "/tmp/fdx-sudo-caught-" + std::to_string(::getpid());
    struct SRemove {
        std::string path;
        ~SRemove() { std::remove(path.c_str()); }
    } removeCaught{caught};
    // A stand-in lshw that leaves a marker when it runs as root; the login's
    // copy first on its PATH, and a copy the login owns for root's folders.
    const std::string marker = dir.file("ran-as-root");
    const std::string standIn = "#!/bin/sh\n[ \"$(id -u)\" != 0 ] || : >" + marker +
                                "\necho '<?xml version=\"1.0\"?><node id=\"box\"><node id=\"cpu\"/></node>'\n";
    CLoginFile own(home, ".local/bin/lshw", standIn);
    const std::string owned = dir.file("lshw-owned");
    std::ofstream(owned) << standIn;
    ::chmod(owned.c_str(), 0755);
    ASSERT_EQ(::chown(owned.c_str(), ::getpwnam(user.c_str())->pw_uid, 0), 0);
    const std::string ownRule = Rules(dir, user + " ALL=(root) NOPASSWD: /usr/bin/lshw, " + own.path() + "\n");
    const std::string forged = "did not show sudo's prompt for this scan";

    const SSudoCase cases[] = {
        {"no password asked", Rules(dir, user + " ALL=(root) NOPASSWD: /usr/bin/lshw\n"), "", "", ERan::AsRoot, {}},
        {"password asked", Rules(dir, user + " ALL=(root) /usr/bin/lshw\n"), "", "", ERan::AsRoot, {}},
        {"not in sudoers", "", "", "", ERan::Refused, {"may not run lshw through sudo"}},
        {"wrong password", Rules(dir, "Defaults:" + user + " targetpw\n" + user + " ALL=(root) /usr/bin/lshw\n"), "",
         "", ERan::Refused, {"did not accept the host's password"}},
        {"requiretty",
         Rules(dir, "Defaults:" + user + " requiretty\n" + user + " ALL=(root) NOPASSWD: /usr/bin/lshw\n"), "", "",
         ERan::Refused, {"only from a terminal"}},
        {"forged: a classic prompt", "", "printf '[sudo] password for %s: ' \"$(id -un)\" >&2", "", ERan::Refused,
         {forged}},
        {"forged: sudo's own message", "",
         "echo 'sudo: a password is required'; echo 'sudo: a password is required' >&2", "", ERan::Refused, {forged}},
        {"forged: this run's prompt after other text", "", "printf 'Password: %s' \"$3\" >&2", "", ERan::Refused,
         {forged}},
        {"the login's lshw first on its PATH", ownRule, "", "/dev/null", ERan::SudoNotAsked,
         {"lshw is not root's own", ": " + own.path() + ". "}},
        {"the login owns the lshw on root's folders", ownRule, "", owned, ERan::SudoNotAsked,
         {"lshw is not root's own", ": /usr/bin/lshw. "}},
    };
    for (const SSudoCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.file("inventory.fdx").c_str());
        std::remove(dir.file("sudo.log").c_str());
        std::ofstream(caught, std::ios::trunc).close();
        ::chmod(caught.c_str(), 0666);
        CSudoersDropIn rules(dir, c.rules);
        ASSERT_TRUE(rules.valid());
        SshdOptions options;
        if (!c.sudo.empty()) {
            std::ofstream(dir.file("fake-sudo"), std::ios::trunc) << ForgedSudo(c.sudo, caught);
            ::chmod(dir.file("fake-sudo").c_str(), 0755);
            options.bindMounts.push_back({dir.file("fake-sudo"), "/usr/bin/sudo"});
        }
        if (!c.lshw.empty()) {
            options.extraConfig = {"SetEnv PATH=" + home + "/.local/bin:/usr/local/bin:/usr/bin:/bin"};
            options.bindMounts.push_back({c.lshw, "/usr/bin/lshw"});
        }
        SshdPeer peer(options);
        ASSERT_TRUE(peer.running()) << peer.logText();
        Scan(peer, SshdPeer::Password());
        ASSERT_EQ(refresh.status, 0) << refresh.err << peer.logText();
        EXPECT_NE(tree.out.find("\"children\""), std::string::npos) << tree.out;
        const std::string sudoLog = ReadWholeFile(dir.file("sudo.log"));
        if (c.ran == ERan::AsRoot) {
            EXPECT_EQ(refresh.err.find("sudo"), std::string::npos) << refresh.err;
            EXPECT_EQ(tree.out.find(kNotice), std::string::npos) << tree.out;
            EXPECT_NE(tree.out.find("[\"root rights\",\"scans through sudo\"]"), std::string::npos) << tree.out;
            // sudo's own log names the command it ran as root.
            EXPECT_NE(sudoLog.find("COMMAND=/usr/bin/lshw -xml"), std::string::npos) << sudoLog;
        } else {
            for (const std::string& told : c.told) EXPECT_NE(refresh.err.find(told), std::string::npos) << refresh.err;
            EXPECT_NE(refresh.err.find("without root rights"), std::string::npos) << refresh.err;
        }
        if (c.ran == ERan::Refused) {
            EXPECT_NE(tree.out.find(kNotice), std::string::npos) << tree.out;
        } else if (c.ran == ERan::SudoNotAsked) {
            // The stand-in ran, as the login only.
            EXPECT_FALSE(std::filesystem::exists(marker)) << "the login's lshw ran as root";
            EXPECT_EQ(sudoLog.find("COMMAND="), std::string::npos) << "sudo was asked to run " << sudoLog;
        }
        EXPECT_EQ(ReadWholeFile(caught).find(SshdPeer::Password()), std::string::npos) << ReadWholeFile(caught);
        ExpectPasswordNowhere(peer, SshdPeer::Password());
    }
}

}  // namespace
