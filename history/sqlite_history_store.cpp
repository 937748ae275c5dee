// The scan history in an SQLite file beside the console file.
#include "history/history_store.h"
#include "history/sqlite_handle.h"
#include "platform/paths.h"

namespace {

class CSqliteHistoryStore final : public CHistoryStore {
public:
    explicit CSqliteHistoryStore(SqlitePtr db) : m_db(std::move(db)) {}
    bool Migrate(std::string& error);

    bool Record(const ScanRecord& scan, int keep, std::string& error) override;
    std::vector<ScanEntry> ListOf(const HistoryHost& host, std::string& error) override;
    std::optional<std::int64_t> LastSeenOther(const std::string& host, const std::string& hash,
                                              std::string& error) override;
    std::optional<ScanEntry> GetOf(const HistoryHost& host, std::int64_t id, std::string& error) override;
    bool Prune(int keep, const std::string& host, std::int64_t& removed, std::string& error) override;
    bool Adopt(const std::string& path, const std::string& key, std::string& error) override;
    bool HoldsPathKeys(std::string& error) override;
    std::vector<std::string> Keys(std::string& error) override;
    bool Merge(const std::string& key, const ScanEntry& entry, bool& added, std::string& error) override;

private:
    bool Exec(const char* sql, std::string& error);
    bool PruneHost(const std::string& host, int keep, std::int64_t& removed);
    bool AdoptRows(const std::string& path, const std::string& key);
    std::string LastError() const;

    SqlitePtr m_db;
};

constexpr char kCreateSchema[] =
    "CREATE TABLE scans("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " host TEXT NOT NULL,"
    " address TEXT NOT NULL,"
    " port INTEGER NOT NULL,"
    " login TEXT NOT NULL,"
    " first_seen INTEGER NOT NULL,"
    " last_seen INTEGER NOT NULL,"
    " hash TEXT NOT NULL,"
    " xml BLOB NOT NULL);"
    "CREATE INDEX scans_by_host ON scans(host, id);";

// Version 3 keys a host's scans by the identities of its console and of the
// host (`scan_key`), so that a renamed host keeps its history and a copied
// console file does not share it; rows of older versions are keyed by their
// path (which holds a "/", as no identity does) until a host adopts them.
constexpr char kSchemaV3[] =
    "ALTER TABLE scans ADD COLUMN scan_key TEXT NOT NULL DEFAULT '';"
    "UPDATE scans SET scan_key = host;"
    "CREATE INDEX scans_by_key ON scans(scan_key, last_seen, id);";

// Rolls back unless committed.
class CTransaction {
public:
    explicit CTransaction(sqlite3* db) : m_db(db)
    {
        m_begun = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~CTransaction()
    {
        if (m_begun) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    CTransaction(const CTransaction&) = delete;
    CTransaction& operator=(const CTransaction&) = delete;
    bool Begun() const { return m_begun; }
    bool Commit()
    {
        if (!m_begun) return false;
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
        m_begun = false;
        return true;
    }

private:
    sqlite3* m_db;
    bool m_begun;
};

// False with a reason when `path` is no file of this user's own; a missing
// file passes unless it is `required`.
bool CheckTrusted(const std::string& path, bool required, SFileIdentity& identity, std::string& error)
{
    std::string why;
    switch (CheckOwnFile(path, identity, why)) {
    case EOwnFileCheck::Ok:
        return true;
    case EOwnFileCheck::Missing:
        if (!required) return true;
        error = path + " does not exist";
        return false;
    case EOwnFileCheck::Refused:
        break;
    }
    error = path + " " + why;
    return false;
}

}  // namespace

std::unique_ptr<CHistoryStore> CHistoryStore::Open(const std::string& path, bool create, std::string& error)
{
    // Read under the rules it is written by: the file, and the journal files
    // SQLite would take changes from, must be this user's own regular files.
    // One that is missing is made owner-only when asked; one that exists is
    // checked as it is, before anything narrows it.
    SFileIdentity checked;
    if (!CheckTrusted(path, !create, checked, error)) return nullptr;
    if (create && !CreateOwnerOnlyFile(path)) {
        error = "cannot create " + path;
        return nullptr;
    }
    if (create && !CheckTrusted(path, true, checked, error)) return nullptr;
    for (const char* journal : {"-wal", "-shm", "-journal"}) {
        SFileIdentity ignored;
        if (!CheckTrusted(path + journal, false, ignored, error)) return nullptr;
    }
    sqlite3* raw = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW;
    const int opened = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    SqlitePtr db(raw);
    if (opened != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db.get()) : "out of memory";
        return nullptr;
    }
    // SQLite holds the file the path names now (it has not moved), and that
    // is the file that was checked.
    int moved = 1;
    SFileIdentity now;
    if (sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || moved != 0 ||
        !IdentityOfPath(path, now) || now != checked) {
        error = path + " was replaced while it was being opened";
        return nullptr;
    }
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    // WAL needs a moment without other writers; a store that cannot switch
    // keeps its journal mode and still works.
    sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    auto store = std::make_unique<CSqliteHistoryStore>(std::move(db));
    if (!store->Migrate(error)) return nullptr;
    return store;
}

std::string CSqliteHistoryStore::LastError() const { return sqlite3_errmsg(m_db.get()); }

bool CSqliteHistoryStore::Exec(const char* sql, std::string& error)
{
    if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    error = LastError();
    return false;
}

// Version 0 is an empty file. Version 1 kept every scan as its own row:
// scans(id, host, address, port, login, scanned_at, xml); version 2 folded
// them and keyed them by the host's path.
bool CSqliteHistoryStore::Migrate(std::string& error)
{
    std::int64_t version = 0;
    {
        CSqlStatement read(m_db.get(), "PRAGMA user_version");
        if (!read.Step()) {
            error = LastError();
            return false;
        }
        version = read.Integer(0);
    }
    if (version == kSchemaVersion) return true;
    if (version > kSchemaVersion || version < 0) {
        error = "the history was written by a newer Ferrodex (schema " + std::to_string(version) + ")";
        return false;
    }
    CTransaction transaction(m_db.get());
    if (!transaction.Begun()) {
        error = LastError();
        return false;
    }
    if (version == 0) {
        if (!Exec(kCreateSchema, error)) return false;
    } else if (version == 1) {
        if (!Exec("ALTER TABLE scans RENAME TO scans_v1", error) || !Exec(kCreateSchema, error)) return false;
        {
            CSqlStatement rows(m_db.get(),
                               "SELECT host, address, port, login, scanned_at, xml FROM scans_v1 ORDER BY id");
            bool copied = true;
            while (copied && rows.Step()) {
                const std::string xml = rows.Text(5);
                CSqlStatement fold(m_db.get(),
                                   "UPDATE scans SET last_seen = ?2 WHERE id = (SELECT max(id) FROM scans WHERE host = "
                                   "?1) AND hash = ?3");
                fold.Bind(1, rows.Text(0)).Bind(2, rows.Integer(4)).Bind(3, ContentHash(xml));
                copied = fold.Run();
                if (!copied || sqlite3_changes(m_db.get()) > 0) continue;
                CSqlStatement add(m_db.get(),
                                  "INSERT INTO scans(host, address, port, login, first_seen, last_seen, hash, xml) "
                                  "VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?6, ?7)");
                add.Bind(1, rows.Text(0)).Bind(2, rows.Text(1)).Bind(3, rows.Integer(2)).Bind(4, rows.Text(3));
                add.Bind(5, rows.Integer(4)).Bind(6, ContentHash(xml)).BindBlob(7, xml);
                copied = add.Run();
            }
            if (!copied || rows.Failed()) {
                error = LastError();
                return false;
            }
        }  // the reading statement ends before the table goes
        if (!Exec("DROP TABLE scans_v1", error)) return false;
    }
    if (!Exec(kSchemaV3, error)) return false;
    if (!Exec("PRAGMA user_version = 3", error)) return false;
    if (!transaction.Commit()) {
        error = LastError();
        return false;
    }
    return true;
}

bool CSqliteHistoryStore::Record(const ScanRecord& scan, int keep, std::string& error)
{
    CTransaction transaction(m_db.get());
    if (!transaction.Begun()) {
        error = LastError();
        return false;
    }
    const std::string hash = ContentHash(scan.xml);
    const std::string& key = scan.key.empty() ? scan.host : scan.key;
    if (key != scan.host && !AdoptRows(scan.host, key)) {
        error = LastError();
        return false;
    }
    CSqlStatement fold(m_db.get(),
                       "UPDATE scans SET last_seen = max(last_seen, ?2), address = ?4, port = ?5, login = ?6, "
                       "host = ?7 "
                       "WHERE id = (SELECT id FROM scans WHERE scan_key = ?1 ORDER BY last_seen DESC, id DESC "
                       "LIMIT 1) AND hash = ?3");
    fold.Bind(1, key).Bind(2, scan.when).Bind(3, hash);
    fold.Bind(4, scan.address).Bind(5, std::int64_t{scan.port}).Bind(6, scan.login).Bind(7, scan.host);
    if (!fold.Run()) {
        error = LastError();
        return false;
    }
    if (sqlite3_changes(m_db.get()) == 0) {
        CSqlStatement add(m_db.get(),
                          "INSERT INTO scans(host, address, port, login, first_seen, last_seen, hash, xml, scan_key) "
                          "VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?6, ?7, ?8)");
        add.Bind(1, scan.host).Bind(2, scan.address).Bind(3, std::int64_t{scan.port}).Bind(4, scan.login);
        add.Bind(5, scan.when).Bind(6, hash).BindBlob(7, scan.xml).Bind(8, key);
        if (!add.Run()) {
            error = LastError();
            return false;
        }
    }
    std::int64_t removed = 0;
    if (!PruneHost(key, keep, removed) || !transaction.Commit()) {
        error = LastError();
        return false;
    }
    return true;
}

bool CSqliteHistoryStore::PruneHost(const std::string& host, int keep, std::int64_t& removed)
{
    CSqlStatement drop(m_db.get(),
                       "DELETE FROM scans WHERE scan_key = ?1 AND id NOT IN "
                       "(SELECT id FROM scans WHERE scan_key = ?1 ORDER BY last_seen DESC, id DESC LIMIT ?2)");
    drop.Bind(1, host).Bind(2, std::int64_t{keep < 1 ? 1 : keep});
    if (!drop.Run()) return false;
    removed += sqlite3_changes(m_db.get());
    return true;
}

bool CSqliteHistoryStore::Prune(int keep, const std::string& host, std::int64_t& removed, std::string& error)
{
    removed = 0;
    CTransaction transaction(m_db.get());
    if (!transaction.Begun()) {
        error = LastError();
        return false;
    }
    std::vector<std::string> hosts;
    if (host.empty()) {
        CSqlStatement all(m_db.get(), "SELECT DISTINCT scan_key FROM scans");
        while (all.Step()) hosts.push_back(all.Text(0));
        if (all.Failed()) {
            error = LastError();
            return false;
        }
    } else {
        hosts.push_back(host);
    }
    for (const std::string& name : hosts) {
        if (!PruneHost(name, keep, removed)) {
            error = LastError();
            return false;
        }
    }
    if (!transaction.Commit()) {
        error = LastError();
        return false;
    }
    return true;
}

std::vector<ScanEntry> CSqliteHistoryStore::ListOf(const HistoryHost& asked, std::string& error)
{
    // One console's file: its own key answers.
    const std::string& host = asked.key;
    std::vector<ScanEntry> entries;
    CSqlStatement rows(m_db.get(),
                       "SELECT id, address, port, login, first_seen, last_seen, length(xml), host FROM scans "
                       "WHERE scan_key = ?1 ORDER BY last_seen, id");
    rows.Bind(1, host);
    while (rows.Step()) {
        ScanEntry entry;
        entry.id = rows.Integer(0);
        entry.host = host;
        entry.address = rows.Text(1);
        entry.port = static_cast<int>(rows.Integer(2));
        entry.login = rows.Text(3);
        entry.firstSeen = rows.Integer(4);
        entry.lastSeen = rows.Integer(5);
        entry.size = rows.Integer(6);
        entry.host = rows.Text(7);
        entries.push_back(std::move(entry));
    }
    if (rows.Failed()) error = LastError();
    return entries;
}

std::optional<std::int64_t> CSqliteHistoryStore::LastSeenOther(const std::string& host, const std::string& hash,
                                                         std::string& error)
{
    CSqlStatement row(m_db.get(), "SELECT count(*), max(last_seen) FROM scans WHERE scan_key = ?1 AND hash <> ?2");
    row.Bind(1, host).Bind(2, hash);
    if (!row.Step()) {
        if (row.Failed()) error = LastError();
        return std::nullopt;
    }
    if (row.Integer(0) == 0) return std::nullopt;
    return row.Integer(1);
}

std::optional<ScanEntry> CSqliteHistoryStore::GetOf(const HistoryHost& asked, std::int64_t id, std::string& error)
{
    const std::string& host = asked.key;
    CSqlStatement row(m_db.get(),
                      "SELECT address, port, login, first_seen, last_seen, xml, host FROM scans WHERE scan_key = ?1 AND id = ?2");
    row.Bind(1, host).Bind(2, id);
    if (!row.Step()) {
        if (row.Failed()) error = LastError();
        return std::nullopt;
    }
    ScanEntry entry;
    entry.id = id;
    entry.host = host;
    entry.address = row.Text(0);
    entry.port = static_cast<int>(row.Integer(1));
    entry.login = row.Text(2);
    entry.firstSeen = row.Integer(3);
    entry.lastSeen = row.Integer(4);
    entry.xml = row.Text(5);
    entry.host = row.Text(6);
    entry.size = static_cast<std::int64_t>(entry.xml.size());
    return entry;
}

bool CSqliteHistoryStore::AdoptRows(const std::string& path, const std::string& key)
{
    CSqlStatement adopt(m_db.get(), "UPDATE scans SET scan_key = ?2 WHERE scan_key = ?1");
    adopt.Bind(1, path).Bind(2, key);
    return adopt.Run();
}

bool CSqliteHistoryStore::Adopt(const std::string& path, const std::string& key, std::string& error)
{
    if (key == path || AdoptRows(path, key)) return true;
    error = LastError();
    return false;
}

bool CSqliteHistoryStore::HoldsPathKeys(std::string& error)
{
    CSqlStatement row(m_db.get(), "SELECT count(*) FROM (SELECT 1 FROM scans WHERE instr(scan_key, '/') > 0 LIMIT 1)");
    if (row.Step()) return row.Integer(0) != 0;
    error = LastError();
    return false;
}

std::vector<std::string> CSqliteHistoryStore::Keys(std::string& error)
{
    std::vector<std::string> keys;
    CSqlStatement rows(m_db.get(), "SELECT DISTINCT scan_key FROM scans ORDER BY scan_key");
    while (rows.Step()) keys.push_back(rows.Text(0));
    if (rows.Failed()) error = LastError();
    return keys;
}

bool CSqliteHistoryStore::Merge(const std::string& key, const ScanEntry& entry, bool& added, std::string& error)
{
    added = false;
    CTransaction transaction(m_db.get());
    if (!transaction.Begun()) {
        error = LastError();
        return false;
    }
    const std::string hash = ContentHash(entry.xml);
    CSqlStatement widen(m_db.get(),
                        "UPDATE scans SET first_seen = min(first_seen, ?3), last_seen = max(last_seen, ?4) "
                        "WHERE id = (SELECT id FROM scans WHERE scan_key = ?1 AND hash = ?2 AND first_seen <= ?4 "
                        "AND last_seen >= ?3 ORDER BY last_seen DESC, id DESC LIMIT 1)");
    widen.Bind(1, key).Bind(2, hash).Bind(3, entry.firstSeen).Bind(4, entry.lastSeen);
    if (!widen.Run()) {
        error = LastError();
        return false;
    }
    if (sqlite3_changes(m_db.get()) == 0) {
        CSqlStatement add(m_db.get(),
                          "INSERT INTO scans(host, address, port, login, first_seen, last_seen, hash, xml, scan_key) "
                          "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
        add.Bind(1, entry.host).Bind(2, entry.address).Bind(3, std::int64_t{entry.port}).Bind(4, entry.login);
        add.Bind(5, entry.firstSeen).Bind(6, entry.lastSeen).Bind(7, hash).BindBlob(8, entry.xml).Bind(9, key);
        if (!add.Run()) {
            error = LastError();
            return false;
        }
        added = true;
    }
    if (!transaction.Commit()) {
        error = LastError();
        return false;
    }
    return true;
}
