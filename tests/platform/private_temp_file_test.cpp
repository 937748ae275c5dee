#include "platform/private_temp_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {


mode_t ModeOf(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(PrivateTempFile, HoldsTheBytesOwnerOnlyAndGoesWithTheObject)
{
    TempDir dir;
    CScopedEnv tmp("TMPDIR", dir.path());
    const std::vector<std::uint8_t> bytes{'a', 0, 'b', 0xff};
    std::string path;
    {
        CPrivateTempFile file;
        std::string error;
        ASSERT_TRUE(file.Create("lshw-1.tar.gz", bytes, error)) << error;
        path = file.Path();
        EXPECT_EQ(std::filesystem::path(path).filename(), "lshw-1.tar.gz");
        EXPECT_EQ(std::filesystem::path(path).parent_path().parent_path(), dir.path());
        EXPECT_EQ(ModeOf(path), 0600u);
        EXPECT_EQ(ModeOf(std::filesystem::path(path).parent_path()), 0700u);
        EXPECT_EQ(ReadWholeFile(path), std::string("a\0b\xff", 4));
        // A second copy gets a folder of its own.
        CPrivateTempFile other;
        ASSERT_TRUE(other.Create("lshw-1.tar.gz", bytes, error)) << error;
        EXPECT_NE(other.Path(), path);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "both folders are removed";
}

TEST(PrivateTempFile, RefusesNamesThatAreNotOneComponentAndLeavesNothing)
{
    TempDir dir;
    CScopedEnv tmp("TMPDIR", dir.path());
    for (const std::string& name : std::vector<std::string>{"", ".", "..", "a/b", "../x", std::string("a\0b", 3)}) {
        CPrivateTempFile file;
        std::string error;
        EXPECT_FALSE(file.Create(name, {}, error)) << name;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(file.Path().empty());
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(PrivateTempFile, ReportsAFolderThatCannotBeMade)
{
    CScopedEnv tmp("TMPDIR", "/nonexistent-ferrodex-folder");
    CPrivateTempFile file;
    std::string error;
    EXPECT_FALSE(file.Create("x", {}, error));
    EXPECT_NE(error.find("private temporary folder"), std::string::npos) << error;
}

}  // namespace

// A copy a killed process left is removed by a later one once it is old;
// a young one, another program's folder and a folder holding more than
// files stay.
TEST(PrivateTempFile, FoldersLeftByAKilledProcessGoWhenOld)
{
    TempDir dir;
    CScopedEnv tmp("TMPDIR", dir.path());
    const auto make = [&](const std::string& name, bool old) {
        const std::filesystem::path folder = std::filesystem::path(dir.path()) / name;
        std::filesystem::create_directory(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        std::ofstream((folder / "lshw-1.tar.gz").string()) << "x";
        if (old) {
            const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(3);
            std::filesystem::last_write_time(folder, past);
        }
        return folder;
    };
    const auto left = make("ferrodex-a1B2c3", true);
    const auto young = make("ferrodex-d4E5f6", false);
    const auto other = make("otherprog-g7H8i9", true);
    const auto nested = make("ferrodex-j0K1l2", true);
    std::filesystem::create_directory(nested / "inner");
    std::filesystem::last_write_time(nested, std::filesystem::file_time_type::clock::now() - std::chrono::hours(3));
    CPrivateTempFile file;
    std::string error;
    ASSERT_TRUE(file.Create("lshw-1.tar.gz", std::vector<std::uint8_t>{1}, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(left));
    EXPECT_TRUE(std::filesystem::exists(young));
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_TRUE(std::filesystem::exists(nested / "inner"));
    EXPECT_TRUE(std::filesystem::exists(file.Path()));
}
