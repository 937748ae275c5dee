// Local state in private places only: the home folder without $HOME, folders
// that are not private refused, hive files never written through a link,
// and a damaged hive kept aside without losing what could be read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/screen_guard.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

const char16_t* const kKey = u"Software\\Quillon\\State";

unsigned Mode(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFFu;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Runs `body` in a child process as `uid` (when not -1) and returns what it
// wrote, through a file opened before the child gave up root.
template <typename Body>
std::string RunInChild(uid_t uid, gid_t gid, Body body)
{
    TempDir dir;
    const int out = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (out < 0) return "cannot open " + dir.file("out");
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (uid != static_cast<uid_t>(-1) && (::setgid(gid) != 0 || ::setuid(uid) != 0)) ::_exit(2);
        const std::string text = body();
        ::_exit(::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 3);
    }
    ::close(out);
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    return ReadWholeFile(dir.file("out"));
}

TEST(LocalState, WithoutHomeTheFoldersComeFromThePasswordDatabase)
{
    // Each put back as it was at the end; unset meanwhile.
    CScopedEnv home("HOME", ""), data("XDG_DATA_HOME", ""), state("XDG_STATE_HOME", ""),
        registry("FERRODEX_REGISTRY", "");
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "FERRODEX_REGISTRY"}) ::unsetenv(name);
    const passwd* me = ::getpwuid(::geteuid());
    ASSERT_NE(me, nullptr);
    const std::string myHome = me->pw_dir;
    EXPECT_EQ(UserHomeFolder(), myHome);
    EXPECT_EQ(RegistryFolder(), myHome + "/.local/share/ferrodex/registry");
    {
        CScopedEnv relative("HOME", "tmp");  // not a path: ignored as well
        EXPECT_EQ(UserHomeFolder(), myHome);
    }
    {
        CScopedEnv empty("HOME", "");
        EXPECT_EQ(UserHomeFolder(), myHome);
    }

    // The folders themselves, made by another user without $HOME: in that
    // user's home from the password database, owner-only.
    if (::geteuid() != 0) GTEST_SKIP() << "making the folders of another user needs root";
    const passwd* test = ::getpwnam("fdxtest");
    if (test == nullptr) GTEST_SKIP() << "no user fdxtest (scripts/setup-peers.sh makes it)";
    const std::string testHome = test->pw_dir;
    std::vector<std::string> made;  // removed afterwards when they were not there before
    for (const char* folder : {"/.local", "/.local/state", "/.local/share", "/.local/state/ferrodex",
                               "/.local/share/ferrodex"})
        if (!std::filesystem::exists(testHome + folder)) made.push_back(testHome + folder);
    const std::string out = RunInChild(test->pw_uid, test->pw_gid, [] {
        return UserHomeFolder() + "\n" + RegistryFolder() + "\n" + UserStateFolder() + "\n" + UserDataFolder() + "\n";
    });
    EXPECT_EQ(out, testHome + "\n" + testHome + "/.local/share/ferrodex/registry\n" + testHome +
                       "/.local/state/ferrodex\n" + testHome + "/.local/share/ferrodex\n");
    EXPECT_EQ(out.find("/tmp"), std::string::npos);
    for (const char* folder : {"/.local/state/ferrodex", "/.local/share/ferrodex"}) {
        struct stat info {};
        ASSERT_EQ(::stat((testHome + folder).c_str(), &info), 0) << folder;
        EXPECT_EQ(info.st_uid, test->pw_uid) << folder;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it) ::rmdir(it->c_str());
}

TEST(LocalState, FoldersAreMadeOwnerOnly)
{
    TempDir base;
    CScopedEnv state("XDG_STATE_HOME", base.path() + "/a/b");
    ::umask(022);
    ASSERT_EQ(UserStateFolder(), base.path() + "/a/b/ferrodex");
    for (const char* folder : {"/a", "/a/b", "/a/b/ferrodex"}) EXPECT_EQ(Mode(base.path() + folder), 0700u) << folder;
    // An existing folder of this user that others could read is narrowed.
    ::chmod((base.path() + "/a/b/ferrodex").c_str(), 0755);
    EXPECT_FALSE(UserStateFolder().empty());
    EXPECT_EQ(Mode(base.path() + "/a/b/ferrodex"), 0700u);
}

TEST(LocalState, FoldersOthersCouldChangeAreRefusedWithAReason)
{
    TempDir base;
    // Group- or world-writable: the state folder and the registry folder.
    CScopedEnv state("XDG_STATE_HOME", base.path());
    const std::string stateFolder = base.path() + "/ferrodex";
    ASSERT_EQ(::mkdir(stateFolder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(stateFolder.c_str(), 0777), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(UserStateFolder(), "");
    EXPECT_EQ(UserStateFolder(), "");
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(CountOccurrences(said, stateFolder), 1u) << said;
    EXPECT_NE(said.find("group or others may write"), std::string::npos) << said;
    EXPECT_EQ(Mode(stateFolder), 0777u);  // refused, not quietly repaired

    TempRegistry registry;
    ASSERT_EQ(RegWriteDword(HKEY_CURRENT_USER, kKey, u"Before", 1), ERROR_SUCCESS);
    ASSERT_EQ(::chmod(registry.path().c_str(), 0770), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegWriteDword(HKEY_CURRENT_USER, kKey, u"After", 2), ERROR_ACCESS_DENIED);
    DWORD value = 0;
    EXPECT_FALSE(RegReadDword(HKEY_CURRENT_USER, kKey, u"Before", value));
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(registry.path()), std::string::npos) << said;
    EXPECT_NE(said.find("group or others may write"), std::string::npos) << said;
    ASSERT_EQ(::chmod(registry.path().c_str(), 0700), 0);
    EXPECT_TRUE(RegReadDword(HKEY_CURRENT_USER, kKey, u"Before", value));

    // Owned by another user.
    if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    const passwd* test = ::getpwnam("fdxtest");
    if (test == nullptr) GTEST_SKIP() << "no user fdxtest";
    TempRegistry foreign;
    ASSERT_EQ(::chown(foreign.path().c_str(), test->pw_uid, test->pw_gid), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, kKey, u"Planted", 1), ERROR_ACCESS_DENIED);
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(foreign.path()), std::string::npos) << said;
    EXPECT_NE(said.find("belongs to user id " + std::to_string(test->pw_uid)), std::string::npos) << said;
    EXPECT_EQ(foreign.hiveText("HKEY_LOCAL_MACHINE"), "");
}

TEST(LocalState, HiveWritesNeverFollowALink)
{
    TempRegistry registry;
    TempDir elsewhere;
    const std::string victim = elsewhere.file("victim");
    const std::string planted =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Quillon\\State]\n\"Planted\"=dword:00000001\n";
    WriteFile(victim, planted);
    ASSERT_EQ(RegWriteDword(HKEY_CURRENT_USER, kKey, u"First", 1), ERROR_SUCCESS);

    // Where the temporary file would go: the write still happens, in a file
    // of its own, and the link and what it leads to stay as they were.
    const std::string temp = registry.path() + "/.planted.tmp";
    ASSERT_EQ(::symlink(victim.c_str(), temp.c_str()), 0);
    RegTryTemporaryNameOnce(".planted.tmp");
    EXPECT_EQ(RegWriteDword(HKEY_CURRENT_USER, kKey, u"Second", 2), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(victim), planted);
    EXPECT_TRUE(std::filesystem::is_symlink(temp));
    DWORD value = 0;
    EXPECT_TRUE(RegReadDword(HKEY_CURRENT_USER, kKey, u"Second", value));
    EXPECT_EQ(Mode((registry.path() + "/HKEY_CURRENT_USER.reg")), 0600u);

    // The hive file itself a link: neither read nor written through.
    const std::string hive = (registry.path() + "/HKEY_LOCAL_MACHINE.reg");
    ASSERT_EQ(::symlink(victim.c_str(), hive.c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_NE(RegWriteDword(HKEY_LOCAL_MACHINE, kKey, u"Third", 3), ERROR_SUCCESS);
    EXPECT_FALSE(RegReadDword(HKEY_LOCAL_MACHINE, kKey, u"Planted", value));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("symbolic link"), std::string::npos) << said;
    EXPECT_EQ(ReadWholeFile(victim), planted);
    EXPECT_TRUE(std::filesystem::is_symlink(hive));

    // Nor the lock file.
    const std::string lock = registry.path() + "/.lock";
    ::unlink(lock.c_str());
    ASSERT_EQ(::symlink(victim.c_str(), lock.c_str()), 0);
    EXPECT_NE(RegWriteDword(HKEY_CURRENT_USER, kKey, u"Fourth", 4), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(victim), planted);
}

TEST(LocalState, TheStandardErrorLogIsOwnerOnlyAndNeverALink)
{
    TempDir folder;
    const std::string log = folder.file("ferrodex.log");
    WriteFile(log, "before\n");
    ASSERT_EQ(::chmod(log.c_str(), 0644), 0);
    {
        CStderrToFile redirect(log);
        ASSERT_TRUE(redirect.Active());
        std::fputs("logged\n", stderr);
    }
    EXPECT_EQ(ReadWholeFile(log), "before\nlogged\n");
    EXPECT_EQ(Mode(log), 0600u);

    const std::string victim = folder.file("victim");
    WriteFile(victim, "keep me");
    ASSERT_EQ(::symlink(victim.c_str(), folder.file("link.log").c_str()), 0);
    CStderrToFile redirect(folder.file("link.log"));
    EXPECT_FALSE(redirect.Active());
    EXPECT_EQ(ReadWholeFile(victim), "keep me");
}

// A hive with values in two keys and one line that cannot be read between
// them.
const std::string kDamagedHive =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Quillon\\State]\n"
    "\"One\"=dword:00000001\n"
    "\"Broken\"=dword:0000zz01\n"
    "\"Two\"=\"second\"\n"
    "\n[HKEY_CURRENT_USER\\Software\\Quillon\\State\\Keys]\n"
    "\"rsa2@22:srv1\"=\"0x10001,0xabcdef\"\n";

void ExpectReadableValues()
{
    DWORD one = 0;
    std::u16string text;
    EXPECT_TRUE(RegReadDword(HKEY_CURRENT_USER, kKey, u"One", one));
    EXPECT_EQ(one, 1u);
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, kKey, u"Two", text));
    EXPECT_EQ(text, u"second");
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, u"Software\\Quillon\\State\\Keys", u"rsa2@22:srv1", text));
    EXPECT_EQ(text, u"0x10001,0xabcdef");
}

TEST(LocalState, DamagedHiveIsKeptAsideAndNothingReadableIsLost)
{
    TempRegistry registry;
    const std::string hive = (registry.path() + "/HKEY_CURRENT_USER.reg");
    WriteFile(hive, kDamagedHive);
    EXPECT_EQ(RegDamagedHiveCopy(HKEY_CURRENT_USER), "");

    testing::internal::CaptureStderr();
    ASSERT_EQ(RegWriteDword(HKEY_CURRENT_USER, kKey, u"Three", 3), ERROR_SUCCESS);
    ExpectReadableValues();
    DWORD three = 0;
    EXPECT_TRUE(RegReadDword(HKEY_CURRENT_USER, kKey, u"Three", three));
    ASSERT_EQ(RegWriteDword(HKEY_CURRENT_USER, kKey, u"Four", 4), ERROR_SUCCESS);
    const std::string said = testing::internal::GetCapturedStderr();

    const std::string copy = hive + ".damaged";
    EXPECT_EQ(RegDamagedHiveCopy(HKEY_CURRENT_USER), copy);
    EXPECT_EQ(ReadWholeFile(copy), kDamagedHive);  // the damaged bytes, as they were
    EXPECT_EQ(CountOccurrences(said, "\n"), 1u) << said;
    EXPECT_EQ(CountOccurrences(said, copy), 1u) << said;
    EXPECT_EQ(registry.hiveText("HKEY_CURRENT_USER").find("Broken"), std::string::npos);
    EXPECT_EQ(RegDamagedHiveCopy(HKEY_LOCAL_MACHINE), "");

    // Damaged again, found by a read this time: the newer copy gets the next
    // number, the first one stays, and the values are there.
    const std::string again = kDamagedHive + "[HKEY_CURRENT_USER\\Software\\Quillon\\Cut\n";
    WriteFile(hive, again);
    testing::internal::CaptureStderr();
    ExpectReadableValues();
    const std::string saidAgain = testing::internal::GetCapturedStderr();
    EXPECT_EQ(RegDamagedHiveCopy(HKEY_CURRENT_USER), copy + ".2");
    EXPECT_EQ(ReadWholeFile(copy + ".2"), again);
    EXPECT_EQ(ReadWholeFile(copy), kDamagedHive);
    EXPECT_EQ(CountOccurrences(saidAgain, copy + ".2"), 1u) << saidAgain;
    // A later copy number wins even when the first copy is gone.
    ::unlink(copy.c_str());
    EXPECT_EQ(RegDamagedHiveCopy(HKEY_CURRENT_USER), copy + ".2");
    WriteFile(hive, kDamagedHive);
    DWORD one = 0;
    EXPECT_TRUE(RegReadDword(HKEY_CURRENT_USER, kKey, u"One", one));
    EXPECT_EQ(RegDamagedHiveCopy(HKEY_CURRENT_USER), copy + ".3");
}

TEST(RegistryText, ReadingGoesOnAfterALineThatCannotBeRead)
{
    std::vector<RegistryKeyRecord> keys;
    std::string error;
    const std::string longLine = "\"Long\"=\"" + std::string(kRegMaxLineLength, 'x') + "\"\n";
    const std::string text = "Windows Registry Editor Version 5.00\n[K\\A]\n\"a\"=dword:00000001\n\"bad\"=dword:zz\n" +
                             longLine + "\"b\"=hex:01,\\\n  02\n[K\\Broken\n\"lost\"=dword:00000003\n[K\\C]\n\"c\"=\"z\"\n";
    EXPECT_FALSE(ParseRegistryText(text, keys, &error));
    EXPECT_EQ(error.rfind("line 4:", 0), 0u) << error;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].path, u"K\\A");
    ASSERT_EQ(keys[0].values.size(), 2u);
    EXPECT_EQ(keys[0].values[1].data, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(keys[1].path, u"K\\C");  // the values under the broken key line are not filed elsewhere
    EXPECT_EQ(keys[1].values.size(), 1u);

    // A missing header spoils nothing after it.
    keys.clear();
    EXPECT_FALSE(ParseRegistryText("[K]\n\"v\"=dword:00000002\n", keys));
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].values.size(), 1u);

    // Larger than a hive may be: only the first part is read.
    keys.clear();
    std::string huge = "Windows Registry Editor Version 5.00\n[K]\n\"v\"=dword:00000002\n";
    huge.resize(kRegMaxHiveSize + 10, ';');
    EXPECT_FALSE(ParseRegistryText(huge, keys, &error));
    EXPECT_NE(error.find("larger"), std::string::npos);
    ASSERT_EQ(keys.size(), 1u);

    // A value longer than a value may be.
    keys.clear();
    std::string bigHex = "Windows Registry Editor Version 5.00\n[K]\n\"v\"=hex:";
    for (std::size_t i = 0; i <= kRegMaxValueSize; ++i) bigHex += "00";
    EXPECT_FALSE(ParseRegistryText(bigHex + "\n", keys));
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_TRUE(keys[0].values.empty());
}

TEST(Registry, TheLargestValuesThatCanBeWrittenReadBack)
{
    TempRegistry registry;
    std::vector<std::uint8_t> blob(kRegMaxValueSize, 0xA5);
    EXPECT_EQ(RegWriteBinary(HKEY_CURRENT_USER, kKey, u"Blob", blob.data(), blob.size()), ERROR_SUCCESS);
    const std::u16string name(kRegMaxNameLength, u'"');
    const std::u16string text(kRegMaxValueSize / 2 - 1, u'\u20AC');
    EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, name, text), ERROR_SUCCESS);
    blob.push_back(0);
    EXPECT_EQ(RegWriteBinary(HKEY_CURRENT_USER, kKey, u"TooBig", blob.data(), blob.size()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, name + u"x", u""), ERROR_INVALID_PARAMETER);

    std::vector<RegistryKeyRecord> keys;
    EXPECT_TRUE(ParseRegistryText(registry.hiveText("HKEY_CURRENT_USER"), keys));
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(RegReadBinary(HKEY_CURRENT_USER, kKey, u"Blob", back));
    EXPECT_EQ(back.size(), kRegMaxValueSize);
    std::u16string textBack;
    ASSERT_TRUE(RegReadString(HKEY_CURRENT_USER, kKey, name, textBack));
    EXPECT_EQ(textBack, text);
    EXPECT_EQ(RegDamagedHiveCopy(HKEY_CURRENT_USER), "");
}

}  // namespace
