// The scan history follows a host and a console file by their identities,
// not by their names: a renamed host keeps its scans, a copy of the console
// file starts a history of its own, a console file moved with its history
// keeps it, and files of older versions open and are upgraded.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "console/history_recorder.h"
#include "history/history_store.h"
#include "tests/console/command_fixture.h"

namespace {

class IdentityTest : public CCommandFixture {
protected:
    // How many scans `history PATH` lists for the console file.
    std::size_t Scans(const std::string& console, const std::string& path)
    {
        return JsonOn(console, {"history", path, "--json"}).items.size();
    }
    // Two different scans of `path`, as a release that kept them under the
    // host's path wrote them.
    void RecordByPath(const std::string& console, const std::string& path)
    {
        std::string error;
        auto store = CHistoryStore::Open(HistoryFileFor(console), true, error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->Record({path, "srv", 22, "root", "<node id=\"a\"/>", 1000, {}}, 10, error)) << error;
        ASSERT_TRUE(store->Record({path, "srv", 22, "root", "<node id=\"b\"/>", 2000, {}}, 10, error)) << error;
    }
    static std::uint32_t FormatOf(const std::string& console)
    {
        std::ifstream in(console, std::ios::binary);
        unsigned char bytes[12] = {};
        in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
        return bytes[8] | bytes[9] << 8 | bytes[10] << 16 | static_cast<std::uint32_t>(bytes[11]) << 24;
    }
};

TEST_F(IdentityTest, ARenamedHostKeepsItsHistoryAndACopyOfTheConsoleGetsItsOwn)
{
    const std::string console = m_dir.file("lab.fdx");
    OkOn(console, {"group", "add", "Lab"});
    OkOn(console, {"host", "add", "Lab", "srv", "--login", "root"});
    EXPECT_EQ(FormatOf(console), 2u);
    RecordByPath(console, "Lab/srv");
    EXPECT_EQ(Scans(console, "Lab/srv"), 2u);

    OkOn(console, {"host", "rename", "Lab/srv", "web"});
    EXPECT_EQ(Scans(console, "Lab/web"), 2u) << "the host keeps its scans under its new name";
    EXPECT_EQ(Scans(console, "Lab/srv"), 0u);
    OkOn(console, {"host", "add", "Lab", "srv", "--login", "root"});
    EXPECT_EQ(Scans(console, "Lab/srv"), 0u) << "a new host of the old name starts empty";

    // lab.bak shares lab.history.db with lab.fdx: the copy is told apart at
    // its first save, once.
    const std::string copy = m_dir.file("lab.bak");
    std::filesystem::copy_file(console, copy);
    EXPECT_EQ(Scans(copy, "Lab/web"), 0u) << "the copy is told apart before its first save too";
    const RunResult first = OkOn(copy, {"group", "add", "Copy"});
    EXPECT_NE(first.err.find("lab.bak is a copy of " + console + "; it gets a history of its own"), std::string::npos)
        << first.err;
    EXPECT_EQ(OkOn(copy, {"group", "add", "Again"}).err.find("is a copy of"), std::string::npos);
    EXPECT_EQ(Scans(copy, "Lab/web"), 0u);
    EXPECT_EQ(Scans(console, "Lab/web"), 2u) << "the original keeps its history";

    // Moved with its history, the console file is no copy: the original
    // place no longer holds it.
    const std::string moved = m_dir.file("moved.fdx");
    std::filesystem::rename(console, moved);
    for (const char* part : {"", "-wal", "-shm"})
        if (std::filesystem::exists(HistoryFileFor(console) + part))
            std::filesystem::rename(HistoryFileFor(console) + part, HistoryFileFor(moved) + part);
    EXPECT_EQ(OkOn(moved, {"group", "add", "Moved"}).err.find("is a copy of"), std::string::npos);
    EXPECT_EQ(Scans(moved, "Lab/web"), 2u);
}

TEST_F(IdentityTest, AnOlderConsoleFileAndHistoryOpenAndAreUpgraded)
{
    // A console file of format 1 (its host has no identity) and a history of
    // schema 2, where the host's scans are kept under its path.
    const std::string console = m_dir.file("old.fdx");
    std::filesystem::copy_file(SourceDir() + "/tests/data/console/slash_group.fdx", console);
    ASSERT_EQ(FormatOf(console), 1u);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(HistoryFileFor(console).c_str(), &db), SQLITE_OK);
        const char* schema =
            "CREATE TABLE scans(id INTEGER PRIMARY KEY AUTOINCREMENT, host TEXT NOT NULL, address TEXT NOT NULL,"
            " port INTEGER NOT NULL, login TEXT NOT NULL, first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL,"
            " hash TEXT NOT NULL, xml BLOB NOT NULL);"
            "CREATE INDEX scans_by_host ON scans(host, id);"
            "INSERT INTO scans(host, address, port, login, first_seen, last_seen, hash, xml) VALUES"
            " ('a\\/b/srv', 'srv', 22, 'root', 100, 100, 'x', '<node id=\"a\"/>'),"
            " ('a\\/b/srv', 'srv', 22, 'root', 200, 300, 'y', '<node id=\"b\"/>');"
            "PRAGMA user_version = 2;";
        EXPECT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    // Read before any save: found under the path.
    EXPECT_EQ(Scans(console, "a\\/b/srv"), 2u);
    EXPECT_EQ(FormatOf(console), 1u) << "reading writes nothing";
    // The next save gives the console and the host their identities; the
    // next open lets the host adopt its scans, which then follow a rename of
    // its group.
    OkOn(console, {"group", "add", "New"});
    EXPECT_EQ(FormatOf(console), 2u);
    EXPECT_EQ(Scans(console, "a\\/b/srv"), 2u);
    OkOn(console, {"group", "rename", "a/b", "ab"});
    EXPECT_EQ(Scans(console, "ab/srv"), 2u);
    std::string error;
    auto store = CHistoryStore::Open(HistoryFileFor(console), false, error);
    ASSERT_TRUE(store) << error;
    EXPECT_FALSE(store->HoldsPathKeys(error)) << "every entry was adopted";
    EXPECT_TRUE(store->List("a\\/b/srv", error).empty());
}

}  // namespace
