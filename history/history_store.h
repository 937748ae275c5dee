// The scan history: every successful scan of a host, kept in an SQLite file
// beside the console file. Identical consecutive scans of a host are one
// entry with the times it was first and last seen.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/sqlite_handle.h"

// One scan as it is recorded. Times are seconds since 1970 (UTC).
struct ScanRecord {
    std::string host;  // the node path, GROUP/HOST
    std::string address;
    int port = 22;
    std::string login;
    std::string xml;  // the exact lshw output, UTF-8
    std::int64_t when = 0;
    std::string key;  // what the host's scans are kept under; empty: `host`
};

// One stored scan; `xml` is filled only when asked for.
struct ScanEntry {
    std::int64_t id = 0;
    std::string host;
    std::string address;
    int port = 0;
    std::string login;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    std::int64_t size = 0;  // bytes of XML
    std::string xml;
};

class CHistoryStore {
public:
    // The schema this code writes; older files are migrated on open.
    static constexpr int kSchemaVersion = 3;
    static constexpr int kDefaultKeep = 50;
    // How long a write waits for another connection's lock.
    static constexpr int kBusyTimeoutMs = 2000;

    // Opens (and creates, owner-only, when missing and `create`) the file.
    // Null with a reason when it is damaged, of a newer schema, or cannot be
    // opened.
    static std::unique_ptr<CHistoryStore> Open(const std::string& path, bool create, std::string& error);

    // Records a scan in one transaction: folded into the host's last entry
    // when the XML is the same, then the host's entries beyond `keep` (the
    // oldest) are dropped. False with a reason when nothing was written.
    // Entries are in the order their pictures were last seen: a scan recorded
    // after a newer one (two commands at once) takes its place before it.
    bool Record(const ScanRecord& scan, int keep, std::string& error);
    // A host's entries are kept under a key (HistoryKey in
    // console/history_recorder.h): its identity, or for rows of older
    // versions and hosts without one, its path GROUP/HOST. The functions
    // below take that key; an entry's `host` is the path it was scanned at.
    //
    // The host's entries, oldest (last seen earliest) first, without their XML.
    std::vector<ScanEntry> List(const std::string& host, std::string& error);
    // The latest time a picture of the host other than the one whose XML
    // has `hash` was last seen; nothing when there is none.
    std::optional<std::int64_t> LastSeenOther(const std::string& host, const std::string& hash, std::string& error);
    // One entry of the host with its XML.
    std::optional<ScanEntry> Get(const std::string& host, std::int64_t id, std::string& error);
    // Keeps the `keep` newest entries of every host (or of `host` when not
    // empty); `removed` counts what went.
    bool Prune(int keep, const std::string& host, std::int64_t& removed, std::string& error);
    // The entries kept under the path `path` go to `key` (a host with an
    // identity adopts the rows of older versions). Recording under a key
    // adopts its path's rows as well.
    bool Adopt(const std::string& path, const std::string& key, std::string& error);
    // Some entries are still kept under a path.
    bool HoldsPathKeys(std::string& error);

private:
    explicit CHistoryStore(SqlitePtr db) : m_db(std::move(db)) {}
    bool Exec(const char* sql, std::string& error);
    bool Migrate(std::string& error);
    bool PruneHost(const std::string& host, int keep, std::int64_t& removed);
    bool AdoptRows(const std::string& path, const std::string& key);
    std::string LastError() const;

    SqlitePtr m_db;
};

// The SHA-256 of the bytes, in hex.
std::string ContentHash(std::string_view bytes);
