// The console file container and the atomic writes that save it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "console/console_file.h"
#include "platform/atomic_file.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<ConsoleFileInstance> TwoInstances()
{
    return {ConsoleFileInstance{MakeGuid("D89C902C-BBEF-4E6D-BD92-E71764806F79"), {4, 0, 0, 0, '1', 0, 0, 0}},
            ConsoleFileInstance{MakeGuid("01234567-89AB-CDEF-0123-456789ABCDEF"), {}}};
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Recomputes the trailing checksum after a test edited the body, so that
// the edit itself is what the parser meets.
std::vector<std::uint8_t> Reseal(std::vector<std::uint8_t> bytes)
{
    bytes.resize(bytes.size() - 4);
    // CRC-32 (the zlib polynomial), bit by bit.
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    return bytes;
}

// Format 2 carries the console's identity and where it was saved beside
// the instances' classes and streams; format 1 (no identity) is still read
// and still written for images.
TEST(ConsoleFile, InstancesAndTheIdentityRoundTripAndAreCheckedLikeTheRest)
{
    const ConsoleFileIdentity identity{"0123456789abcdef0123456789abcdef", "/home/u/lab.fdx"};
    const std::vector<std::uint8_t> bytes = FormatConsoleFile(TwoInstances(), identity);
    EXPECT_EQ(bytes[8], kConsoleFileVersion);
    EXPECT_EQ(Reseal(bytes), bytes);  // the test's checksum matches the file's
    std::vector<ConsoleFileInstance> read;
    ConsoleFileIdentity back{"x", "y"};
    ASSERT_EQ(ParseConsoleFile(bytes, read, &back).error, ConsoleFileError::None);
    EXPECT_EQ(back.id, identity.id);
    EXPECT_EQ(back.savedAt, identity.savedAt);
    ASSERT_EQ(read.size(), 2u);
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].clsid, TwoInstances()[i].clsid);
        EXPECT_EQ(read[i].stream, TwoInstances()[i].stream);
    }
    for (std::size_t length = 0; length < bytes.size(); ++length)
        EXPECT_NE(ParseConsoleFile(std::span(bytes).first(length), read).error, ConsoleFileError::None) << length;

    const std::vector<std::uint8_t> older = FormatConsoleFile(TwoInstances());
    EXPECT_EQ(older[8], 1u);
    ASSERT_EQ(ParseConsoleFile(older, read, &back).error, ConsoleFileError::None);
    EXPECT_TRUE(back.id.empty());
    // An identity that is no identity, or a path past its bound, is damage.
    std::vector<std::uint8_t> forged = bytes;
    forged[12] = 'G';
    EXPECT_EQ(ParseConsoleFile(Reseal(forged), read).error, ConsoleFileError::Damaged);
    std::vector<std::uint8_t> longPath = bytes;
    PutU32(longPath, 44, static_cast<std::uint32_t>(kMaxSavedPath + 1));
    EXPECT_EQ(ParseConsoleFile(Reseal(longPath), read).error, ConsoleFileError::Damaged);
}

TEST(ConsoleFile, EveryTruncationAndEveryFlippedByteIsRefused)
{
    const std::vector<std::uint8_t> bytes = FormatConsoleFile(TwoInstances());
    std::vector<ConsoleFileInstance> read;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const ConsoleFileParse parse = ParseConsoleFile(std::span(bytes).first(length), read);
        EXPECT_NE(parse.error, ConsoleFileError::None) << "length " << length;
        EXPECT_TRUE(read.empty());
    }
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::vector<std::uint8_t> flipped = bytes;
        flipped[at] ^= 0x10;
        EXPECT_NE(ParseConsoleFile(flipped, read).error, ConsoleFileError::None) << "byte " << at;
    }
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(ParseConsoleFile(longer, read).error, ConsoleFileError::Damaged);
}

TEST(ConsoleFile, ForeignNewerAndOversizedFilesAreToldApart)
{
    std::vector<ConsoleFileInstance> read;
    const std::string text = "Windows Registry Editor Version 5.00\r\n";
    EXPECT_EQ(ParseConsoleFile(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), read).error,
              ConsoleFileError::Foreign);

    std::vector<std::uint8_t> bytes = FormatConsoleFile(TwoInstances());
    std::vector<std::uint8_t> newer = bytes;
    PutU32(newer, 8, kConsoleFileVersion + 1);
    EXPECT_EQ(ParseConsoleFile(Reseal(newer), read).error, ConsoleFileError::Newer);

    // Counts and lengths past the limits are refused before anything is
    // allocated for them, even with a matching checksum.
    std::vector<std::uint8_t> many = bytes;
    PutU32(many, 12, static_cast<std::uint32_t>(kMaxInstances + 1));
    EXPECT_EQ(ParseConsoleFile(Reseal(many), read).error, ConsoleFileError::Damaged);
    std::vector<std::uint8_t> huge = bytes;
    PutU32(huge, 32, 0xFFFFFFF0u);  // first record's stream length
    EXPECT_EQ(ParseConsoleFile(Reseal(huge), read).error, ConsoleFileError::Damaged);
    std::vector<std::uint8_t> beyond = bytes;
    PutU32(beyond, 32, 9);  // one byte more than the record holds
    EXPECT_EQ(ParseConsoleFile(Reseal(beyond), read).error, ConsoleFileError::Damaged);
}

TEST(ConsoleFile, ReadingTellsAMissingFileFromAnUnusableOne)
{
    TempDir dir;
    std::vector<ConsoleFileInstance> read;
    bool missing = false;
    std::string error;
    EXPECT_FALSE(ReadConsoleFile(dir.file("none.fdx"), read, missing, error));
    EXPECT_TRUE(missing);
    EXPECT_FALSE(ReadConsoleFile(dir.path(), read, missing, error));  // a folder
    EXPECT_FALSE(missing);

    ASSERT_TRUE(WriteConsoleFile(dir.file("c.fdx"), TwoInstances(), error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("c.fdx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(ReadConsoleFile(dir.file("c.fdx"), read, missing, error)) << error;
    EXPECT_EQ(read.size(), 2u);
}

// Kills the writing process between the write and the rename.
void KillNow(const std::string&) { ::kill(::getpid(), SIGKILL); }

TEST(AtomicFile, AKillBeforeTheRenameLeavesThePreviousFile)
{
    TempDir dir;
    const std::string path = dir.file("c.fdx");
    std::string error;
    ASSERT_TRUE(WriteConsoleFile(path, TwoInstances(), error));
    const std::string before = ReadWholeFile(path);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetAtomicWriteHook(&KillNow);
        std::string childError;
        WriteConsoleFile(path, {}, childError);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadWholeFile(path), before);
    std::vector<ConsoleFileInstance> read;
    bool missing = false;
    EXPECT_TRUE(ReadConsoleFile(path, read, missing, error)) << error;

    // The orphaned temporary file does not stand in the way of later saves.
    ASSERT_TRUE(WriteConsoleFile(path, {}, error)) << error;
    EXPECT_TRUE(ReadConsoleFile(path, read, missing, error));
    EXPECT_TRUE(read.empty());
}

TEST(AtomicFile, LinksAreFollowedToTheFileTheyNameAndStay)
{
    TempDir dir;
    std::string error;
    std::filesystem::create_directory(dir.file("deep"));
    // A chain: an absolute link to a relative one to a file not made yet.
    std::filesystem::create_symlink("target", dir.file("deep/middle"));
    std::filesystem::create_symlink(dir.file("deep/middle"), dir.file("first"));
    EXPECT_EQ(ResolveFileLinks(dir.file("first")), dir.file("deep/target"));
    const std::vector<std::uint8_t> bytes{7, 8};
    ASSERT_TRUE(WriteFileAtomically(dir.file("first"), bytes, error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("first")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("deep/middle")));
    EXPECT_EQ(ReadWholeFile(dir.file("deep/target")), std::string("\7\10"));
    // A new file is owner-only.
    EXPECT_EQ(std::filesystem::status(dir.file("deep/target")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // A loop is no file: it is replaced rather than followed for ever.
    std::filesystem::create_symlink("loop-b", dir.file("loop-a"));
    std::filesystem::create_symlink("loop-a", dir.file("loop-b"));
    EXPECT_TRUE(WriteFileAtomically(dir.file("loop-a"), bytes, error)) << error;
}

TEST(AtomicFile, FailuresLeaveNoTemporaryFileAndKeepTheOldOne)
{
    TempDir dir;
    std::string error;
    const std::vector<std::uint8_t> first{1, 2, 3};
    ASSERT_TRUE(WriteFileAtomically(dir.file("f"), first, error));
    // The rename fails: a folder stands where the file would go.
    std::filesystem::create_directory(dir.file("taken"));
    std::filesystem::create_directory(dir.file("taken/inner"));
    EXPECT_FALSE(WriteFileAtomically(dir.file("taken"), first, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(WriteFileAtomically(dir.file("no/such/folder/f"), first, error));
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos);
    }
    EXPECT_EQ(entries, 2u);
    EXPECT_EQ(ReadWholeFile(dir.file("f")), std::string("\1\2\3"));

    std::vector<std::uint8_t> read;
    EXPECT_EQ(ReadFileLimited(dir.file("f"), 2, read, error), FileReadResult::TooLarge);
    EXPECT_EQ(ReadFileLimited(dir.file("f"), 3, read, error), FileReadResult::Ok);
    EXPECT_EQ(read, first);
}

}  // namespace
