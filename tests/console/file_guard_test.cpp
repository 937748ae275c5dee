// The guard both faces save through: another process's save is seen even
// when it wrote the same bytes, this process's own save is not, and the
// lock is the one beside the file a link names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "console/console_file.h"
#include "console/file_guard.h"
#include "console/recovery_file.h"
#include "platform/file_lock.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<ConsoleFileInstance> OneInstance()
{
    return {ConsoleFileInstance{MakeGuid("D89C902C-BBEF-4E6D-BD92-E71764806F79"), {4, 0, 0, 0, '1', 0, 0, 0}}};
}

void Save(const std::string& path)
{
    std::string error;
    ASSERT_TRUE(WriteConsoleFile(path, OneInstance(), error)) << error;
}

}  // namespace

TEST(ConsoleFileGuard, SavesByOthersAreSeenAndOwnSavesAreNot)
{
    TempDir dir;
    const std::string path = dir.file("c.fdx");
    Save(path);
    CConsoleFileGuard guard;
    guard.NoteRead(path);
    EXPECT_TRUE(guard.Existed());
    EXPECT_FALSE(guard.ChangedSinceRead());
    // The same bytes saved again at once: same size, perhaps the same
    // modification time, yet another file.
    Save(path);
    EXPECT_TRUE(guard.ChangedSinceRead());
    guard.NoteSaved();
    EXPECT_FALSE(guard.ChangedSinceRead());
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_TRUE(guard.ChangedSinceRead()) << "a removed file counts as a change";

    // Missing when read, made by someone else afterwards.
    CConsoleFileGuard fresh;
    fresh.NoteRead(dir.file("new.fdx"));
    EXPECT_FALSE(fresh.Existed());
    EXPECT_FALSE(fresh.ChangedSinceRead());
    Save(dir.file("new.fdx"));
    EXPECT_TRUE(fresh.ChangedSinceRead());
}

TEST(ConsoleFileGuard, LockIsSharedThroughLinksAndRefusesWhileHeld)
{
    TempDir dir;
    const std::string path = dir.file("c.fdx");
    Save(path);
    ASSERT_EQ(::symlink(path.c_str(), dir.file("link.fdx").c_str()), 0);

    CConsoleFileGuard direct;
    direct.NoteRead(path);
    std::string message;
    ASSERT_TRUE(direct.Lock(0, message)) << message;
    EXPECT_TRUE(direct.Held());

    CConsoleFileGuard linked;
    linked.NoteRead(dir.file("link.fdx"));
    EXPECT_FALSE(linked.Lock(0, message));
    EXPECT_NE(message.find("in use by another ferrodex"), std::string::npos) << message;
    EXPECT_NE(message.find("link.fdx"), std::string::npos) << "the message names the file the user gave";
    direct.Release();
    EXPECT_TRUE(linked.Lock(0, message)) << message;

    // A plain holder of the lock file (another process's lock) counts too.
    linked.Release();
    CFileLock other;
    std::string reason;
    ASSERT_EQ(other.Acquire(path, 0, reason), ELockResult::Held) << reason;
    EXPECT_FALSE(direct.Lock(0, message));

    CConsoleFileGuard nowhere;
    nowhere.NoteRead(dir.file("missing-folder/c.fdx"));
    EXPECT_FALSE(nowhere.Lock(0, message));
    EXPECT_NE(message.find("cannot be locked"), std::string::npos) << message;
}

// A recovery file's first line names the version its changes were made on;
// a line that is not whole and well-formed leaves the bytes as they are (a
// recovery file of an older release), and the guard of a recovered console
// compares with the version named.
TEST(RecoveryBase, TheVersionRoundTripsAndAnythingElseIsLeftAlone)
{
    TempDir dir;
    const std::string path = dir.file("c.fdx");
    Save(path);
    const FileStamp made = StampOfFile(path);
    const std::string line = RecoveryBaseLine(made);
    const std::vector<std::uint8_t> image = {0xD0, 0xCF, '\n', 0x11};
    for (const std::string& head : {line, line.substr(0, line.size() - 1), line.substr(0, 30) + "\n", "x" + line,
                                    line.substr(0, line.size() - 2) + "z\n", line.substr(0, line.size() - 1) + " 7\n",
                                    std::string(4096, '1') + "\n"}) {
        std::vector<std::uint8_t> bytes(head.begin(), head.end());
        bytes.insert(bytes.end(), image.begin(), image.end());
        const std::vector<std::uint8_t> before = bytes;
        FileStamp read;
        EXPECT_EQ(TakeRecoveryBaseLine(bytes, read), head == line) << head;
        EXPECT_EQ(bytes, head == line ? image : before);
        if (head == line) {
            EXPECT_EQ(read, made);
        }
    }
    Save(path);  // another ferrodex saves; the recovered console reads it
    CConsoleFileGuard guard;
    guard.NoteRead(path);
    EXPECT_FALSE(guard.ChangedSinceRead());
    guard.NoteBase(made);
    EXPECT_TRUE(guard.ChangedSinceRead());
}
