// The scan history: every successful scan of a host. Identical consecutive
// scans of a host are one entry with the times it was first and last seen.
// It lives in an SQLite file beside the console file, or in a PostgreSQL
// database that the consoles of a team share (see history/pg_history_store.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A host as one console asks the history about it: the key its own scans
// are kept under, and what makes it the same host in another console's
// file (its path GROUP/HOST, address, port and login). A shared history
// answers with the scans of every console that agree; a file of one console
// reads `key` alone. An empty `address` asks for `key` alone everywhere.
struct HistoryHost {
    std::string key;
    std::string path;
    std::string address;
    int port = 0;
    std::string login;  // empty: the login this console's scans were taken with

    static HistoryHost OfKey(const std::string& key)
    {
        HistoryHost host;
        host.key = key;
        return host;
    }
};

class CHistoryStore {
public:
    // The schema the SQLite file is written in; older files are migrated.
    static constexpr int kSchemaVersion = 3;
    static constexpr int kDefaultKeep = 50;
    // How long a write to the SQLite file waits for another connection's lock.
    static constexpr int kBusyTimeoutMs = 2000;

    virtual ~CHistoryStore() = default;

    // Opens (and creates, owner-only, when missing and `create`) the SQLite
    // file. Null with a reason when it is damaged, of a newer schema, or
    // cannot be opened.
    static std::unique_ptr<CHistoryStore> Open(const std::string& path, bool create, std::string& error);

    // Records a scan in one transaction: folded into the host's last entry
    // when the XML is the same, then the host's entries beyond `keep` (the
    // oldest) are dropped. False with a reason when nothing was written.
    // Entries are in the order their pictures were last seen: a scan recorded
    // after a newer one (two commands at once) takes its place before it.
    virtual bool Record(const ScanRecord& scan, int keep, std::string& error) = 0;
    // A host's entries are kept under a key (HistoryKey in
    // console/history_recorder.h): its identity, or for rows of older
    // versions and hosts without one, its path GROUP/HOST. The functions
    // below take that key; an entry's `host` is the path it was scanned at.
    //
    // The host's entries, oldest (last seen earliest) first, without their XML.
    std::vector<ScanEntry> List(const std::string& key, std::string& error) { return ListOf(HistoryHost::OfKey(key), error); }
    virtual std::vector<ScanEntry> ListOf(const HistoryHost& host, std::string& error) = 0;
    // The latest time a picture of the host other than the one whose XML
    // has `hash` was last seen; nothing when there is none.
    virtual std::optional<std::int64_t> LastSeenOther(const std::string& key, const std::string& hash,
                                                      std::string& error) = 0;
    // One entry of the host (one ListOf gave) with its XML.
    std::optional<ScanEntry> Get(const std::string& key, std::int64_t id, std::string& error)
    {
        return GetOf(HistoryHost::OfKey(key), id, error);
    }
    virtual std::optional<ScanEntry> GetOf(const HistoryHost& host, std::int64_t id, std::string& error) = 0;
    // Keeps the `keep` newest entries of every host (or of `key` when not
    // empty); `removed` counts what went.
    virtual bool Prune(int keep, const std::string& key, std::int64_t& removed, std::string& error) = 0;
    // The entries kept under the path `path` go to `key` (a host with an
    // identity adopts the rows of older versions). Recording under a key
    // adopts its path's rows as well.
    virtual bool Adopt(const std::string& path, const std::string& key, std::string& error) = 0;
    // Some entries are still kept under a path.
    virtual bool HoldsPathKeys(std::string& error) = 0;
    // Every key the history keeps entries under.
    virtual std::vector<std::string> Keys(std::string& error) = 0;
    // Takes an entry of another history (with its XML) under `key`: an entry
    // of the key with the same picture whose time span meets the entry's
    // widens to cover it, else the entry is added. Taking the same entry
    // again changes nothing. `added` tells which happened.
    virtual bool Merge(const std::string& key, const ScanEntry& entry, bool& added, std::string& error) = 0;
};

// The SHA-256 of the bytes, in hex.
std::string ContentHash(std::string_view bytes);

// Opens the history at `location`: a PostgreSQL URL (postgresql://,
// postgres://) or connection string (key=value ...) opens the shared
// database (`connectTimeout` seconds at most, unless the location sets its
// own); anything else is the path of an SQLite file (made when missing and
// `create`). Null with a reason that never shows a secret of the location.
std::unique_ptr<CHistoryStore> OpenHistoryStore(const std::string& location, bool create, int connectTimeout,
                                                std::string& error);
