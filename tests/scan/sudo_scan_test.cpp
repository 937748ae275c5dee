// The sudo scan's command run by a local shell against stand-in sudo and
// lshw programs, how sudo's messages are read, and the notice's marker.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "inventory/host_node.h"
#include "platform/text.h"
#include "scan/scan_job.h"
#include "scan/sudo_scan.h"
#include "tests/support/temp_dir.h"

namespace {

void WriteProgram(const std::string& path, const std::string& body)
{
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
}

// What sudo is asked to run comes back as the XML; this machine's lshw
// (root's, in /usr/bin) is never run by the test.
constexpr const char* kRunsProgram =
    "while [ \"$1\" != -- ]; do shift; done; shift; echo 'sudo: running' >&2; echo \"<node program='$1' args='$2'/>\"\n";

constexpr const char* kPrompt = "fdx-sudo-0123456789abcdef0123456789abcdef";

struct LocalRun {
    int status = -1;
    std::string output;
};

// Runs `command` with only `bin` on PATH: the stand-ins and the basic tools.
LocalRun RunLocally(const TempDir& dir, const std::string& command, const std::string& input = "")
{
    std::ofstream(dir.file("command")) << command;
    std::ofstream(dir.file("input")) << input;
    const std::string shell = "cd " + dir.path() + " && PATH=" + dir.file("bin") + " /bin/sh ./command <input >output 2>&1";
    const int status = std::system(shell.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(dir.file("output"))};
}

class SudoCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::mkdir(dir.file("bin").c_str(), 0755);
        for (const char* tool : {"sh", "mktemp", "rm", "cat", "ls", "readlink", "head", "wc", "sleep", "mkfifo"})
            ::symlink((std::string("/bin/") + tool).c_str(), (dir.file("bin") + "/" + tool).c_str());
        // The login's own lshw, first on its PATH: never the one sudo runs.
        WriteProgram(dir.file("bin") + "/lshw", "echo 'the login's lshw ran' >&2\n");
    }
    // The stand-in sudo, as a shell script of `body`.
    void Sudo(const std::string& body) { WriteProgram(dir.file("bin") + "/sudo", body); }
    TempDir dir;
};

TEST_F(SudoCommandTest, ExitStatusesTellSudoRefusalsFromLshw)
{
    // No sudo at all.
    EXPECT_EQ(RunLocally(dir, SudoScanCommand()).status, static_cast<int>(kSudoMissingStatus));
    // sudo that runs the program: the XML with sudo's messages before it.
    // The program is root's lshw, found on root's folders.
    Sudo(kRunsProgram);
    LocalRun ran = RunLocally(dir, SudoScanCommand());
    EXPECT_EQ(ran.status, 0);
    EXPECT_NE(ran.output.find("<node program='/usr/bin/lshw' args='-xml'/>"), std::string::npos) << ran.output;
    // sudo that refuses: its message and the refusal status.
    Sudo("echo 'sudo: a password is required' >&2; exit 1\n");
    ran = RunLocally(dir, SudoScanCommand());
    EXPECT_EQ(ran.status, static_cast<int>(kSudoRefusedStatus));
    EXPECT_EQ(ClassifySudoRefusal(ran.output), SUDO_PASSWORD_REQUIRED);
    // lshw failing under sudo after printing part of its XML is lshw's
    // failure, not a refusal.
    Sudo("echo '<node'; exit 3\n");
    EXPECT_EQ(RunLocally(dir, SudoScanCommand()).status, 3);
    // -S reads the password from standard input; -n gets none.
    Sudo("read -r pw; [ \"$1 $pw\" = \"-S sesame\" ] || { echo 'Sorry, try again.' >&2; exit 1; }\n"
         "echo '<ok/>'\n");
    ran = RunLocally(dir, SudoScanCommand(kPrompt), "sesame\n");
    EXPECT_EQ(ran.status, 0) << ran.output;
    ran = RunLocally(dir, SudoScanCommand(), "sesame\n");
    EXPECT_EQ(ran.status, static_cast<int>(kSudoRefusedStatus));
}

// The XML is capped on the host at the output limit plus one byte, and the
// private folder goes in every case.
TEST_F(SudoCommandTest, TheXmlIsCappedAndNothingStays)
{
    ::mkdir(dir.file("tmp").c_str(), 0700);
    Sudo("while [ \"$1\" != -- ]; do shift; done; exec yes '<node/>'\n");
    ::symlink("/usr/bin/yes", (dir.file("bin") + "/yes").c_str());
    SHostBounds bounds;
    bounds.maxOutputBytes = 1000;
    const std::string command = "TMPDIR=" + dir.file("tmp") + "; export TMPDIR; " + SudoScanCommand("", bounds);
    LocalRun ran = RunLocally(dir, command);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.output.size(), 1001u) << ran.output.substr(0, 200);
    Sudo(kRunsProgram);
    ran = RunLocally(dir, command);
    EXPECT_EQ(ran.status, 0) << ran.output;
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
}

TEST_F(SudoCommandTest, ASudoThatDoesNotAnswerIsToldApartWithinItsOwnLimit)
{
    for (const char* tool : {"timeout", "sleep"})
        ::symlink((std::string("/usr/bin/") + tool).c_str(), (dir.file("bin") + "/" + tool).c_str());
    // Asked whether lshw may run, this sudo hangs as on a prompt nobody sees;
    // running lshw itself would work.
    Sudo(std::string("case \" $* \" in *' -l '*) exec sleep 60;; esac\n") + kRunsProgram);
    EXPECT_EQ(RunLocally(dir, SudoScanCommand("", 1)).status, static_cast<int>(kSudoSilentStatus));
    EXPECT_EQ(RunLocally(dir, SudoScanCommand(kPrompt, 1), "sesame\n").status, static_cast<int>(kSudoSilentStatus));

    // A sudo that answers is asked twice, and both get the password; lshw
    // runs and its XML comes back.
    Sudo(std::string("read -r pw; [ \"$1 $pw\" = \"-S sesame\" ] || { echo 'Sorry, try again.' >&2; exit 1; }\n") +
         kRunsProgram);
    LocalRun ran = RunLocally(dir, SudoScanCommand(kPrompt, 5), "sesame\n");
    EXPECT_EQ(ran.status, 0) << ran.output;
    EXPECT_NE(ran.output.find("<node program='/usr/bin/lshw' args='-xml'/>"), std::string::npos) << ran.output;
    // A refusal from the question is not a silence: the run tells its cause.
    ran = RunLocally(dir, SudoScanCommand(kPrompt, 5), "wrong\n");
    EXPECT_EQ(ran.status, static_cast<int>(kSudoRefusedStatus));
    EXPECT_EQ(ClassifySudoRefusal(ran.output), SUDO_WRONG_PASSWORD);

    const std::string text = WideToAnsi(SudoSilentText(7));
    EXPECT_NE(text.find("within 7 seconds"), std::string::npos) << text;
}

TEST(SudoRefusalTest, SudosMessagesNameTheirCause)
{
    EXPECT_EQ(ClassifySudoRefusal("sudo: a password is required\n"), SUDO_PASSWORD_REQUIRED);
    EXPECT_EQ(ClassifySudoRefusal("fdxtest is not in the sudoers file.\n"), SUDO_NOT_ALLOWED);
    EXPECT_EQ(ClassifySudoRefusal("Sorry, user fdxtest is not allowed to execute '/usr/bin/lshw -xml' as root on h.\n"),
              SUDO_NOT_ALLOWED);
    // A wrong password is followed by the attempt that finds no more input.
    EXPECT_EQ(ClassifySudoRefusal("Sorry, try again.\nsudo: no password was provided\n"
                                  "sudo: 1 incorrect password attempt\n"),
              SUDO_WRONG_PASSWORD);
    EXPECT_EQ(ClassifySudoRefusal("sudo: sorry, you must have a tty to run sudo\n"), SUDO_TTY_REQUIRED);
    EXPECT_EQ(ClassifySudoRefusal("sudo: unable to resolve host x\n"), SUDO_OTHER);
}

TEST(SudoRefusalTest, AnUnknownCauseShowsSudosFirstLineCleaned)
{
    const std::string hostile = "sudo: \x1b[2Jboom\x07 " + std::string(500, 'x') + "\nsecond line\n";
    const std::string text = WideToAnsi(SudoRefusalText(SUDO_OTHER, hostile));
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    EXPECT_EQ(text.find("second line"), std::string::npos);
    EXPECT_NE(text.find("sudo: ?[2Jboom?"), std::string::npos) << text;
    EXPECT_LT(text.size(), 400u);
    EXPECT_NE(text.find("without root rights"), std::string::npos);
}

// Read both ways a picture arrives: as a text, and packed (a fleet worker's
// answer, the console file).
bool PictureWithoutRoot(std::u16string_view xml)
{
    CStoredPicture fromText;
    fromText.SetText(xml);
    CStoredPicture fromPacked;
    fromPacked.SetPacked(fromText.Packed());
    EXPECT_EQ(fromText.WithoutRoot(), fromPacked.WithoutRoot());
    return fromText.WithoutRoot();
}

TEST(NoRootNoticeTest, LshwsOwnMarkerDecides)
{
    const std::string user = ReadWholeFile(SourceDir() + "/tests/data/lshw/user.xml");
    const std::string root = ReadWholeFile(SourceDir() + "/tests/data/lshw/root.xml");
    ASSERT_FALSE(user.empty());
    ASSERT_FALSE(root.empty());
    EXPECT_TRUE(PictureWithoutRoot(AnsiToWide(user)));
    EXPECT_FALSE(PictureWithoutRoot(AnsiToWide(root)));
    // The words in a value (escaped by lshw) are not the marker.
    EXPECT_FALSE(PictureWithoutRoot(u"<node><product>&lt;!-- WARNING: not running as root --&gt;</product></node>"));
    EXPECT_FALSE(PictureWithoutRoot(u"<node><product>WARNING: not running as root</product></node>"));
}

}  // namespace
