#include "history/history_store.h"

#include "platform/paths.h"
#include "platform/text.h"
#include "sshcore/product_crypto.h"

namespace {

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

std::string ContentHash(std::string_view bytes)
{
    const std::vector<std::uint8_t> digest = sshcore::DigestOf("SHA256", bytes);
    return HexLower(digest.data(), digest.size());
}

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
    std::unique_ptr<CHistoryStore> store(new CHistoryStore(std::move(db)));
    // WAL needs a moment without other writers; a store that cannot switch
    // keeps its journal mode and still works.
    sqlite3_exec(store->m_db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (!store->Migrate(error)) return nullptr;
    return store;
}

std::string CHistoryStore::LastError() const { return sqlite3_errmsg(m_db.get()); }

bool CHistoryStore::Exec(const char* sql, std::string& error)
{
    if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    error = LastError();
    return false;
}

// Version 0 is an empty file. Version 1 kept every scan as its own row:
// scans(id, host, address, port, login, scanned_at, xml); version 2 folded
// them and keyed them by the host's path.
bool CHistoryStore::Migrate(std::string& error)
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

bool CHistoryStore::Record(const ScanRecord& scan, int keep, std::string& error)
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

bool CHistoryStore::PruneHost(const std::string& host, int keep, std::int64_t& removed)
{
    CSqlStatement drop(m_db.get(),
                       "DELETE FROM scans WHERE scan_key = ?1 AND id NOT IN "
                       "(SELECT id FROM scans WHERE scan_key = ?1 ORDER BY last_seen DESC, id DESC LIMIT ?2)");
    drop.Bind(1, host).Bind(2, std::int64_t{keep < 1 ? 1 : keep});
    if (!drop.Run()) return false;
    removed += sqlite3_changes(m_db.get());
    return true;
}

bool CHistoryStore::Prune(int keep, const std::string& host, std::int64_t& removed, std::string& error)
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

std::vector<ScanEntry> CHistoryStore::List(const std::string& host, std::string& error)
{
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

std::optional<std::int64_t> CHistoryStore::LastSeenOther(const std::string& host, const std::string& hash,
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

std::optional<ScanEntry> CHistoryStore::Get(const std::string& host, std::int64_t id, std::string& error)
{
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

bool CHistoryStore::AdoptRows(const std::string& path, const std::string& key)
{
    CSqlStatement adopt(m_db.get(), "UPDATE scans SET scan_key = ?2 WHERE scan_key = ?1");
    adopt.Bind(1, path).Bind(2, key);
    return adopt.Run();
}

bool CHistoryStore::Adopt(const std::string& path, const std::string& key, std::string& error)
{
    if (key == path || AdoptRows(path, key)) return true;
    error = LastError();
    return false;
}

bool CHistoryStore::HoldsPathKeys(std::string& error)
{
    CSqlStatement row(m_db.get(), "SELECT count(*) FROM (SELECT 1 FROM scans WHERE instr(scan_key, '/') > 0 LIMIT 1)");
    if (row.Step()) return row.Integer(0) != 0;
    error = LastError();
    return false;
}
