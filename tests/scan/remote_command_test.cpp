// Commands for a host's shell, run here by a real /bin/sh.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "scan/scan_error.h"
#include "scan/remote_command.h"
#include "scan/scan_job.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

struct ShellRun {
    int status = -1;
    std::string output;  // standard output and standard error, in one pipe
};

// Runs `command` as a host's shell would, with `environment` (plain values)
// added; the command goes through a file, not through another quoting.
ShellRun RunShell(const std::string& command, const std::vector<std::pair<std::string, std::string>>& environment = {})
{
    TempDir dir;
    std::ofstream(dir.file("command")) << command;
    std::string assignments;
    for (const auto& [name, value] : environment) assignments += name + "=" + value + " ";
    ShellRun run;
    run.output = ShellOutput(assignments + "/bin/sh " + dir.file("command") + " 2>&1", &run.status);
    return run;
}

class HostileValues : public ::testing::Test {
protected:
    // Each would run `touch` on the marker if the shell read it as program
    // text.
    std::vector<std::string> Values() const
    {
        const std::string touch = "touch " + marker;
        return {"plain",
                "",
                "two words",
                "it's",
                "'",
                "''",
                "x; " + touch + "; #",
                "x' ; " + touch + " ; '",
                "$(" + touch + ")",
                "`" + touch + "`",
                "${HOME}$PATH",
                "a\n" + touch,
                "\\'\\\"",
                " leading and trailing ",
                "*",
                "-rf",
                "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xff\xfe",
                "a\tb\rc\x01" "d",
                "|& > < ( ) { } ! ~"};
    }
    TempDir dir;
    const std::string marker = dir.file("injected");
};

TEST_F(HostileValues, EachArrivesAsOnePlainWord)
{
    const auto values = Values();
    // printf repeats its format for every word it gets.
    std::string expected;
    for (const auto& value : values) expected += "[" + value + "]\n";
    std::string command = BuildRemoteCommand({"printf '[%s]\\n'"});
    for (const auto& value : values) command += " " + BuildRemoteCommand({CShellWord::Value(value)});
    const ShellRun run = RunShell(command);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, expected);
    EXPECT_FALSE(std::filesystem::exists(marker));

    // One at a time, between program words, as a deployment step uses them.
    for (const auto& value : values) {
        const ShellRun one =
            RunShell(BuildRemoteCommand({"set --", CShellWord::Value(value), "&& echo $# && printf '%s' \"$1\""}));
        EXPECT_EQ(one.output, "1\n" + value) << value;
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(QuoteForShell, QuotesEveryValueAndRefusesNul)
{
    EXPECT_EQ(QuoteForShell(""), "''");
    EXPECT_EQ(QuoteForShell("a b"), "'a b'");
    EXPECT_EQ(QuoteForShell("it's"), "'it'\\''s'");
    EXPECT_THROW(QuoteForShell(std::string("a\0b", 3)), CScanError);
    EXPECT_THROW(BuildRemoteCommand({"echo", CShellWord::Value(std::string("a\0; id", 6))}), CScanError);
    EXPECT_EQ(BuildRemoteCommand({"cd", CShellWord::Value("/tmp/x y"), "&& ls"}), "cd '/tmp/x y' && ls");
}

TEST(EnginePackageValues, OnlyWhatThePackageToolsWriteIsTaken)
{
    for (const char16_t* version : {u"02.19.git.2021.06.19.996aaad9", u"B.02.20", u"1.0~rc1+dfsg-2", u"9", u"a_b"})
        EXPECT_TRUE(IsValidEnginePackageVersion(version)) << WideToAnsi(version);
    for (const char16_t* version : {u"", u".", u"..", u"-rf", u".hidden", u"1.0/..", u"1 0", u"1;id", u"$(id)",
                                    u"`id`", u"1'0", u"1\n0", u"1.0\u00e9", u"~1"})
        EXPECT_FALSE(IsValidEnginePackageVersion(version));
    EXPECT_TRUE(IsValidEnginePackageVersion(std::u16string(64, u'1')));
    EXPECT_FALSE(IsValidEnginePackageVersion(std::u16string(65, u'1')));

    for (const char16_t* name : {u"lshw-02.19.git.2021.06.19.996aaad9.tar.gz", u"lshw-9.9.tar.gz"})
        EXPECT_TRUE(IsValidEnginePackageName(name));
    for (const char16_t* name : {u"", u"lshw-.tar.gz", u"pkg.tar.gz", u"lshw-1.0.tar", u"lshw-1/../x.tar.gz",
                                 u"lshw-1 0.tar.gz", u"lshw-1;id;.tar.gz", u"lshw-$(id).tar.gz", u"lshw-1'.tar.gz",
                                 u"lshw-1\n.tar.gz", u"/tmp/lshw-1.tar.gz", u"lshw-1.tar.gz\n"})
        EXPECT_FALSE(IsValidEnginePackageName(name));
    EXPECT_TRUE(IsValidEnginePackageName(u"lshw-" + std::u16string(116, u'1') + u".tar.gz"));
    EXPECT_FALSE(IsValidEnginePackageName(u"lshw-" + std::u16string(117, u'1') + u".tar.gz"));
}

TEST(ParseHostFolder, TakesTheLastLineWhenItIsASafeAbsolutePath)
{
    std::string folder;
    EXPECT_TRUE(ParseHostFolder("/tmp/tmp.Ab12Cd34Ef\n", folder));
    EXPECT_EQ(folder, "/tmp/tmp.Ab12Cd34Ef");
    EXPECT_TRUE(ParseHostFolder("Welcome to srv1\r\nLast login: today\n/var/tmp/x y/tmp.1\r\n", folder));
    EXPECT_EQ(folder, "/var/tmp/x y/tmp.1");
    for (const std::string& bad : std::vector<std::string>{"", "\n", "/", "/\n", "tmp/x\n", "/tmp/../etc\n", "/tmp/./x", "/tmp//x", "/tmp/x/",
                                  "/tmp/\x01x\n", "/tmp/\xc3\xa9", "mktemp: failed\n", "/tmp/x\nrm: nope\n",
                                  "/" + std::string(1024, 'a')}) {
        EXPECT_FALSE(ParseHostFolder(bad, folder)) << bad;
        EXPECT_TRUE(folder.empty());
    }
    EXPECT_TRUE(ParseHostFolder("/" + std::string(1023, 'a'), folder));
}

// The scan command run by a real shell with a stand-in lshw on its PATH.
class ScanCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(bin);
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(tmp);
    }
    void FakeLshw(const std::string& script)
    {
        std::ofstream(bin + "/lshw") << "#!/bin/sh\n" << script;
        std::filesystem::permissions(bin + "/lshw", std::filesystem::perms(0755));
    }
    ShellRun Scan()
    {
        // Only the tools a host has, and no lshw unless the test put one.
        return RunShell("cd \"$HOME\" && " + ScanCommand(),
                        {{"PATH", bin + ":/usr/bin:/bin"}, {"HOME", home}, {"TMPDIR", tmp}});
    }
    TempDir dir;
    const std::string bin = dir.file("bin");
    const std::string home = dir.file("home");
    const std::string tmp = dir.file("tmp");
};

TEST_F(ScanCommandTest, MissingFailedAndSuccessfulLshwAreToldApartAndNoFileStays)
{
    // A PATH without any lshw (this machine has one in /usr/bin).
    const ShellRun missing = RunShell("cd \"$HOME\" && " + ScanCommand(),
                                      {{"PATH", bin}, {"HOME", home}, {"TMPDIR", tmp}});
    EXPECT_EQ(missing.status, static_cast<int>(kLshwMissingStatus));
    EXPECT_EQ(missing.output, "");

    FakeLshw("echo 'lshw: cannot open /proc' >&2\necho '<partial' \nexit 3\n");
    const ShellRun failed = Scan();
    EXPECT_EQ(failed.status, 3);
    EXPECT_EQ(failed.output, "lshw: cannot open /proc\n") << "a failed scan shows lshw's message, never its output";

    // lshw's warning comes first, the XML after it, whole.
    FakeLshw("echo 'WARNING: you should run this program as super-user.' >&2\n"
             "echo '<?xml version=\"1.0\"?>'\necho '<list><node id=\"a\"/></list>'\n");
    const ShellRun good = Scan();
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.output, "WARNING: you should run this program as super-user.\n<?xml version=\"1.0\"?>\n"
                           "<list><node id=\"a\"/></list>\n");
    EXPECT_TRUE(FilesBelow(home).empty()) << "the scan writes nothing into the login's home";
    EXPECT_TRUE(FilesBelow(tmp).empty()) << "the scan's temporary file is removed";
}

}  // namespace
