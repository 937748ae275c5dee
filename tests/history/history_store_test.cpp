// The scan history against real SQLite files: what is kept, folded and
// dropped, an older file migrated, and a locked or damaged file refused
// without harm.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "console/history_recorder.h"
#include "history/history_store.h"
#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

ScanRecord Scan(const std::string& host, const std::string& xml, std::int64_t when)
{
    return ScanRecord{host, "127.0.0.1", 2222, "admin", xml, when, {}};
}

// A second connection to the same file, as another process would hold it.
class CRawDb {
public:
    explicit CRawDb(const std::string& path) { sqlite3_open(path.c_str(), &m_db); }
    ~CRawDb() { sqlite3_close(m_db); }
    CRawDb(const CRawDb&) = delete;
    CRawDb& operator=(const CRawDb&) = delete;
    bool Exec(const std::string& sql)
    {
        return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    // The first column of the first row as text; empty without one.
    std::string Text(const std::string& sql)
    {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
        std::string value;
        if (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW)
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        return value;
    }
    std::int64_t Integer(const std::string& sql)
    {
        const std::string text = Text(sql);
        return text.empty() ? -1 : std::stoll(text);
    }

private:
    sqlite3* m_db = nullptr;
};

class HistoryStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<CHistoryStore> Open()
    {
        std::string error;
        auto store = CHistoryStore::Open(path, true, error);
        EXPECT_TRUE(store) << error;
        return store;
    }
    // The store, with a scan of Lab/a recorded.
    std::unique_ptr<CHistoryStore> OpenWithAScan()
    {
        auto store = Open();
        std::string error;
        EXPECT_TRUE(store && store->Record(Scan("Lab/a", "<x>1</x>", 100), 50, error)) << error;
        return store;
    }
    TempDir dir;
    std::string path = dir.file("lab.history.db");
};

TEST_F(HistoryStoreTest, KeepsScansFoldsIdenticalConsecutiveOnesAndDropsTheOldestBeyondKeep)
{
    auto store = Open();
    ASSERT_TRUE(store);
    std::string error;
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>1</x>", 100), 3, error)) << error;
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>1</x>", 200), 3, error)) << error;
    ASSERT_TRUE(store->Record(Scan("Lab/b", "<x>1</x>", 250), 3, error)) << error;
    std::vector<ScanEntry> a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].firstSeen, 100);
    EXPECT_EQ(a[0].lastSeen, 200);
    EXPECT_EQ(a[0].login, "admin");
    EXPECT_EQ(a[0].port, 2222);

    // The same XML again after a different one is a new entry: the host
    // went back, which is a change too.
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>2</x>", 300), 3, error));
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>1</x>", 400), 3, error));
    a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[1].firstSeen, 300);
    EXPECT_EQ(a[2].firstSeen, 400);

    // A fourth distinct picture drops the oldest of this host only.
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>3</x>", 500), 3, error));
    a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].firstSeen, 300);
    const std::optional<ScanEntry> last = store->Get("Lab/a", a[2].id, error);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->xml, "<x>3</x>");
    EXPECT_FALSE(store->Get("Lab/b", a[2].id, error)) << "an id of another host";
    EXPECT_EQ(store->List("Lab/b", error).size(), 1u);

    // Prune: one host, then all.
    std::int64_t removed = 0;
    ASSERT_TRUE(store->Prune(1, "Lab/b", removed, error));
    EXPECT_EQ(removed, 0);
    ASSERT_TRUE(store->Prune(1, "", removed, error));
    EXPECT_EQ(removed, 2);
    a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].firstSeen, 500);

    // Logins are in it: owner-only, WAL, the current schema.
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((path + "-wal").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the log holds the same data";
    CRawDb raw(path);
    EXPECT_EQ(raw.Integer("PRAGMA user_version"), CHistoryStore::kSchemaVersion);
    EXPECT_EQ(raw.Text("PRAGMA journal_mode"), "wal");
}

// Two commands at once record out of order: the later command's older scan
// goes before the newer one, which stays the host's last entry, folds the
// next identical scan and survives a prune.
TEST_F(HistoryStoreTest, AScanRecordedAfterANewerOneTakesItsPlaceBeforeIt)
{
    auto store = Open();
    ASSERT_TRUE(store);
    std::string error;
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>new</x>", 500), 5, error)) << error;
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>old</x>", 400), 5, error)) << error;
    std::vector<ScanEntry> a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].lastSeen, 400);
    EXPECT_EQ(a[1].lastSeen, 500);
    EXPECT_EQ(store->LastSeenOther("Lab/a", ContentHash("<x>old</x>"), error), std::optional<std::int64_t>(500));
    EXPECT_EQ(store->LastSeenOther("Lab/a", ContentHash("<x>new</x>"), error), std::optional<std::int64_t>(400));
    EXPECT_FALSE(store->LastSeenOther("Lab/b", ContentHash("<x>new</x>"), error));

    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>new</x>", 600), 5, error)) << error;
    a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 2u) << "folded into the newest entry";
    EXPECT_EQ(a[1].firstSeen, 500);
    EXPECT_EQ(a[1].lastSeen, 600);
    std::int64_t removed = 0;
    ASSERT_TRUE(store->Prune(1, "Lab/a", removed, error));
    a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(store->Get("Lab/a", a[0].id, error)->xml, "<x>new</x>");
}

TEST_F(HistoryStoreTest, AnOlderFileIsMigratedAndANewerOneIsLeftAlone)
{
    {
        CRawDb raw(path);
        ASSERT_TRUE(raw.Exec("CREATE TABLE scans(id INTEGER PRIMARY KEY, host TEXT, address TEXT, port INTEGER, "
                             "login TEXT, scanned_at INTEGER, xml TEXT);"
                             "INSERT INTO scans(host, address, port, login, scanned_at, xml) VALUES"
                             "('Lab/a', 'h', 22, 'root', 10, '<a/>'), ('Lab/a', 'h', 22, 'root', 20, '<a/>'),"
                             "('Lab/b', 'g', 2200, 'ops', 15, '<b/>'), ('Lab/a', 'h', 22, 'root', 30, '<c/>');"
                             "PRAGMA user_version = 1;"));
    }
    auto store = Open();
    ASSERT_TRUE(store);
    std::string error;
    const std::vector<ScanEntry> a = store->List("Lab/a", error);
    ASSERT_EQ(a.size(), 2u) << error;
    EXPECT_EQ(a[0].firstSeen, 10);
    EXPECT_EQ(a[0].lastSeen, 20);
    EXPECT_EQ(a[1].firstSeen, 30);
    EXPECT_EQ(store->Get("Lab/a", a[1].id, error)->xml, "<c/>");
    // Folding goes on against the migrated entries.
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<c/>", 40), 50, error)) << error;
    EXPECT_EQ(store->List("Lab/a", error).back().lastSeen, 40);
    ASSERT_EQ(store->List("Lab/b", error).size(), 1u);
    EXPECT_EQ(store->List("Lab/b", error)[0].port, 2200);
    store.reset();

    CRawDb(path).Exec("PRAGMA user_version = 9");
    std::string refusal;
    EXPECT_FALSE(CHistoryStore::Open(path, true, refusal));
    EXPECT_NE(refusal.find("newer"), std::string::npos) << refusal;
    EXPECT_EQ(CRawDb(path).Integer("SELECT count(*) FROM scans"), 3) << "a newer file is not touched";
}

TEST_F(HistoryStoreTest, ALockedOrDamagedFileFailsTheRecordWithAReasonAndKeepsItsBytes)
{
    auto store = OpenWithAScan();
    ASSERT_TRUE(store);
    std::string error;
    {
        CRawDb other(path);
        ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE; INSERT INTO scans(host, address, port, login, first_seen, "
                               "last_seen, hash, xml) VALUES('Lab/z', '', 22, '', 1, 1, '', '')"));
        EXPECT_FALSE(store->Record(Scan("Lab/a", "<x>2</x>", 200), 50, error));
        EXPECT_NE(error.find("locked"), std::string::npos) << error;
        other.Exec("ROLLBACK");
    }
    error.clear();
    ASSERT_TRUE(store->Record(Scan("Lab/a", "<x>2</x>", 200), 50, error)) << "usable again once released: " << error;
    EXPECT_EQ(store->List("Lab/a", error).size(), 2u);
    store.reset();

    const std::string damaged = dir.file("damaged.history.db");
    const std::string garbage = "SQLite format 3\0 but not really, a damaged page of a file" + std::string(4000, 'x');
    std::ofstream(damaged, std::ios::binary) << garbage;
    std::string reason;
    auto broken = CHistoryStore::Open(damaged, true, reason);
    if (broken) {
        EXPECT_FALSE(broken->Record(Scan("Lab/a", "<x/>", 1), 50, reason));
    }
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(ReadWholeFile(damaged), garbage);
}

// Opens the store on another thread and gives up after a few seconds: a
// store that blocks on what it opens fails the test instead of hanging it.
std::unique_ptr<CHistoryStore> OpenWithin(const std::string& path, bool create, std::string& error)
{
    auto opening = std::async(std::launch::async, [path, create] {
        std::string reason;
        auto store = CHistoryStore::Open(path, create, reason);
        return std::make_pair(std::move(store), reason);
    });
    if (opening.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "opening " << path << " still blocks after 5 seconds";
        std::fflush(stdout);
        std::_Exit(1);  // the blocked thread cannot be ended
    }
    auto [store, reason] = opening.get();
    error = reason;
    return std::move(store);
}

// The owner of a planted file: the test user, or none when this process
// cannot give files away.
bool GiveToAnotherUser(const std::string& path)
{
    const passwd* other = ::getpwnam("fdxtest");
    return other != nullptr && other->pw_uid != ::geteuid() && ::lchown(path.c_str(), other->pw_uid, other->pw_gid) == 0;
}

// What a history may be is what it is written as: a regular file of this
// user that nobody else may write. Anything else is refused before SQLite
// reads a byte of it, and its bytes stay as they were.
TEST_F(HistoryStoreTest, OnlyThisUsersOwnRegularFileIsRead)
{
    ASSERT_TRUE(OpenWithAScan());
    std::string error;
    ASSERT_TRUE(OpenWithin(path, false, error)) << error;

    ASSERT_EQ(::chmod(path.c_str(), 0620), 0);
    EXPECT_FALSE(OpenWithin(path, false, error));
    EXPECT_NE(error.find(path + " may be written by others"), std::string::npos) << error;
    EXPECT_FALSE(OpenWithin(path, true, error)) << "the writer narrows only a file it may trust";
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);

    const std::string link = dir.file("link.history.db");
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    EXPECT_FALSE(OpenWithin(link, false, error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;

    const std::string fifo = dir.file("fifo.history.db");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(OpenWithin(fifo, false, error));
    EXPECT_NE(error.find("FIFO"), std::string::npos) << error;
    EXPECT_FALSE(OpenWithin(fifo, true, error));

    EXPECT_FALSE(OpenWithin(dir.file("missing.history.db"), false, error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_FALSE(std::ifstream(dir.file("missing.history.db")).good()) << "reading creates nothing";
}

// Another user may have planted the file, or a journal SQLite would take
// changes from, in a folder others may write to.
TEST_F(HistoryStoreTest, AFileOrJournalOfAnotherUserIsRefused)
{
    ASSERT_TRUE(OpenWithAScan());
    const std::string planted = dir.file("planted.history.db");
    std::filesystem::copy_file(path, planted);
    if (!GiveToAnotherUser(planted)) FDX_PEER_MISSING() << "no user fdxtest to own a planted file, or not root";
    const std::string before = ReadWholeFile(planted);
    std::string error;
    EXPECT_FALSE(OpenWithin(planted, false, error));
    EXPECT_NE(error.find(planted + " belongs to another user"), std::string::npos) << error;
    EXPECT_FALSE(OpenWithin(planted, true, error));
    EXPECT_EQ(ReadWholeFile(planted), before);

    // The file is this user's, the write-ahead log beside it is not.
    for (const char* journal : {"-wal", "-journal"}) {
        const std::string log = path + journal;
        std::ofstream(log, std::ios::binary) << "forged";
        ASSERT_EQ(::chmod(log.c_str(), 0600), 0);
        ASSERT_TRUE(GiveToAnotherUser(log));
        EXPECT_FALSE(OpenWithin(path, false, error)) << journal;
        EXPECT_NE(error.find(log + " belongs to another user"), std::string::npos) << error;
        EXPECT_EQ(ReadWholeFile(log), "forged");
        ASSERT_EQ(::unlink(log.c_str()), 0);
    }
    EXPECT_TRUE(OpenWithin(path, false, error)) << error;
}

TEST(HistoryHashTest, ContentHashIsSha256InHex)
{
    EXPECT_EQ(ContentHash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_NE(ContentHash("<a/>"), ContentHash("<a/> "));
}

TEST(HistoryFileTest, IsNamedAfterTheConsoleFileInItsFolder)
{
    EXPECT_EQ(HistoryFileFor("/srv/lab.fdx"), "/srv/lab.history.db");
    EXPECT_EQ(HistoryFileFor("lab.fdx"), "lab.history.db");
    EXPECT_EQ(HistoryFileFor("/srv/v1.2/lab"), "/srv/v1.2/lab.history.db") << "a dot in a folder is no extension";
    EXPECT_EQ(HistoryFileFor("/srv/.lab"), "/srv/.lab.history.db");
    EXPECT_EQ(HistoryFileFor("/srv/a.b.fdx"), "/srv/a.b.history.db");
    TempDir home;
    CScopedEnv data("XDG_DATA_HOME", home.path());
    const std::string fallback = HistoryFileFor("");
    EXPECT_TRUE(fallback.ends_with("/ferrodex/history.db")) << fallback;
}

}  // namespace
